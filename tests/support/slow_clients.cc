#include "support/slow_clients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace wrenfield::testing {

int connect_loopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

using Clock = std::chrono::steady_clock;

// The length of the first whole reply in `bytes` (header section and Content-Length body), or
// 0 while it is incomplete.
size_t whole_reply(const std::string& bytes) {
    const size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos)
        return 0;
    size_t length = 0;
    const size_t field = bytes.find("Content-Length: ");
    if (field != std::string::npos && field < end)
        length = std::stoul(bytes.substr(field + 16));
    return bytes.size() >= end + 4 + length ? end + 4 + length : 0;
}

struct Client {
    int fd = -1;
    Clock::time_point next_send;
    bool waiting = false;
    std::string received;
};

}  // namespace

SlowClients::SlowClients(uint16_t port, std::string request, size_t count,
                         std::chrono::milliseconds period)
    : thread_([this, port, request = std::move(request), count, period] {
          run(port, request, count, period);
      }) {}

SlowClients::~SlowClients() {
    stopping_ = true;
    thread_.join();
}

void SlowClients::run(uint16_t port, std::string request, size_t count,
                      std::chrono::milliseconds period) {
    std::vector<Client> clients(count);
    const auto start = Clock::now();
    for (size_t i = 0; i < count; ++i)
        clients[i].next_send = start + period * i / count;
    std::vector<pollfd> entries;
    std::vector<size_t> owners;
    char buffer[4096];
    while (!stopping_) {
        const auto now = Clock::now();
        for (Client& client : clients) {
            if (client.waiting || now < client.next_send)
                continue;
            if (client.fd < 0)
                client.fd = connect_loopback(port);
            if (client.fd >= 0 && ::send(client.fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                                      static_cast<ssize_t>(request.size())) {
                client.waiting = true;
            }
            client.next_send = now + period;
        }
        entries.clear();
        owners.clear();
        for (size_t i = 0; i < count; ++i) {
            if (clients[i].fd >= 0) {
                entries.push_back({clients[i].fd, POLLIN, 0});
                owners.push_back(i);
            }
        }
        if (::poll(entries.data(), entries.size(), 20) <= 0)
            continue;
        for (size_t at = 0; at < entries.size(); ++at) {
            if (entries[at].revents == 0)
                continue;
            Client& client = clients[owners[at]];
            const ssize_t got = ::recv(client.fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                ++(client.waiting ? lost_ : closed_idle_);
                ::close(client.fd);
                client.fd = -1;
                client.waiting = false;
                client.received.clear();
                continue;
            }
            client.received.append(buffer, static_cast<size_t>(got));
            if (const size_t length = whole_reply(client.received)) {
                client.received.erase(0, length);
                client.waiting = false;
                ++replies_;
            }
        }
    }
    for (Client& client : clients) {
        if (client.fd >= 0)
            ::close(client.fd);
    }
}

}  // namespace wrenfield::testing
