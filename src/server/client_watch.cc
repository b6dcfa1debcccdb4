#include "server/client_watch.h"

#include <poll.h>

namespace wrenfield {

short ClientGone::events() const {
    // A reset or a hang-up of the whole connection shows as POLLERR or POLLHUP, which are
    // reported without being asked for.
    return asked_ ? 0 : POLLRDHUP;
}

bool ClientGone::cancelled(short seen) {
    if (seen & (POLLHUP | POLLERR))
        return true;
    if ((seen & POLLRDHUP) && !asked_) {
        asked_ = true;
        return !client_.still_listening || !client_.still_listening();
    }
    return false;
}

}  // namespace wrenfield
