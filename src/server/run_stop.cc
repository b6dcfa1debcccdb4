#include "server/run_stop.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace wrenfield {

std::shared_ptr<ClosingSignal> ClosingSignal::make() {
    return std::shared_ptr<ClosingSignal>(new ClosingSignal(::eventfd(0, EFD_CLOEXEC)));
}

ClosingSignal::~ClosingSignal() {
    if (fd_ >= 0)
        ::close(fd_);
}

void ClosingSignal::raise() {
    const uint64_t one = 1;
    if (fd_ >= 0)
        (void)::write(fd_, &one, sizeof one);
}

RunStop::RunStop(std::shared_ptr<ClosingSignal> closing, ClientWatch client)
    : closing_(std::move(closing)),
      client_(std::move(client)),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (epoll_ < 0)
        return;
    if (closing_ && closing_->fd() >= 0) {
        epoll_event closed{};
        closed.events = EPOLLIN;
        closed.data.fd = closing_->fd();
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, closing_->fd(), &closed);
    }
    if (client_.socket >= 0) {
        // A reset or a hang-up of the whole connection shows as EPOLLERR or EPOLLHUP, which are
        // reported without being asked for.
        epoll_event gone{};
        gone.events = EPOLLRDHUP;
        gone.data.fd = client_.socket;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, client_.socket, &gone);
    }
}

RunStop::~RunStop() {
    if (epoll_ >= 0)
        ::close(epoll_);
}

short RunStop::events() const {
    return POLLIN;
}

bool RunStop::cancelled(short) {
    epoll_event seen[2];
    const int count = ::epoll_wait(epoll_, seen, 2, 0);
    for (int i = 0; i < count; ++i) {
        if (seen[i].data.fd != client_.socket)
            return true;  // the connection is closing
        if (seen[i].events & (EPOLLHUP | EPOLLERR))
            return true;
        if ((seen[i].events & EPOLLRDHUP) && !asked_) {
            asked_ = true;
            // From now on only a reset or a hang-up ends the run.
            epoll_event gone{};
            gone.data.fd = client_.socket;
            ::epoll_ctl(epoll_, EPOLL_CTL_MOD, client_.socket, &gone);
            if (!client_.still_listening || !client_.still_listening())
                return true;
        }
    }
    return false;
}

}  // namespace wrenfield
