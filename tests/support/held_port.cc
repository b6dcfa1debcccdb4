#include "support/held_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace wrenfield::testing {

HeldPort::HeldPort(uint16_t port, Listening listening) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // A listening holder takes the port as the program would, past connections of an earlier
    // user still in TIME-WAIT; listening, it still keeps everybody else out.
    if (fd_ >= 0 && listening == Listening::Yes) {
        int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (listening == Listening::Yes && ::listen(fd_, 1) != 0) ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        release();
        return;
    }
    port_ = ntohs(address.sin_port);
}

HeldPort::~HeldPort() {
    release();
}

void HeldPort::release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}  // namespace wrenfield::testing
