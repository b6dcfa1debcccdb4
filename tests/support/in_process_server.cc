#include "support/in_process_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace wrenfield::testing {

InProcessServer::InProcessServer()
    : connection_(std::make_shared<ConnectionCell>()),
      update_checks_(std::make_shared<std::atomic<int>>(0)) {
    // As in the program: a write to a socket the client has closed must not end the process.
    signal(SIGPIPE, SIG_IGN);
    auto bound = bind_server(0);
    if (!bound) {
        throw std::runtime_error("cannot bind the test server: " + bound.error());
    }
    server_ = bound->server.get();
    port_ = bound->port;
    auto counter = update_checks_;
    thread_ = std::thread([bound = std::move(*bound), connection = connection_, counter]() mutable {
        serve_requests(std::move(bound), connection, [counter] { ++*counter; });
    });
    for (int attempt = 0; attempt < 500 && !server_->is_running(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

InProcessServer::~InProcessServer() {
    // Wait until the loop has really started, so that stop() is not lost.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server_->stop();
    thread_.join();
}

std::string raw_http_exchange(uint16_t port, const std::string& request, int timeout_ms) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {};
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        char buffer[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0) {
                break;
            }
            response.append(buffer, count);
        }
    }
    ::close(fd);
    return response;
}

}  // namespace wrenfield::testing
