#include "support/in_process_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <vector>

#include "support/slow_clients.h"
#include "support/wait_until.h"

namespace wrenfield::testing {

InProcessServer::InProcessServer(const ServerLimits& limits)
    : connection_(std::make_shared<ConnectionCell>()),
      update_checks_(std::make_shared<std::atomic<int>>(0)) {
    // As in the program: a write to a socket the client has closed must not end the process.
    signal(SIGPIPE, SIG_IGN);
    auto bound = bind_server(0, limits);
    if (!bound)
        throw std::runtime_error("cannot bind the test server: " + bound.error());
    server_ = bound->server.get();
    port_ = bound->port;
    auto counter = update_checks_;
    thread_ = std::thread([bound = std::move(*bound), connection = connection_, counter]() mutable {
        serve_requests(std::move(bound), connection, [counter] { ++*counter; });
    });
    wait_until([&] { return server_->is_running(); }, std::chrono::seconds(30),
               std::chrono::milliseconds(1));
}

InProcessServer::~InProcessServer() {
    // Wait until the loop has really started, so that stop() is not lost.
    wait_until([&] { return server_->is_running(); }, std::chrono::minutes(5),
               std::chrono::milliseconds(1));
    server_->stop();
    thread_.join();
}

HandlerServer::HandlerServer(RequestHandler handler, const ServerLimits& limits) : server_(limits) {
    signal(SIGPIPE, SIG_IGN);
    server_.set_request_handler(std::move(handler));
    auto bound = server_.bind_loopback(0);
    if (!bound)
        throw std::runtime_error("cannot bind the test server: " + bound.error());
    port_ = *bound;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
}

HandlerServer::~HandlerServer() {
    server_.stop();
    thread_.join();
}

RawConnection::RawConnection(uint16_t port) : fd_(connect_loopback(port)) {}

RawConnection::~RawConnection() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool RawConnection::send(const std::string& bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(bytes.size());
}

bool RawConnection::wait_readable(std::chrono::milliseconds timeout) {
    pollfd entry{fd_, POLLIN, 0};
    return fd_ >= 0 && ::poll(&entry, 1, static_cast<int>(timeout.count())) == 1;
}

std::string RawConnection::read_to_end(std::chrono::milliseconds timeout) {
    std::string response;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<char> buffer(1 << 16);
    while (fd_ >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0)
            continue;
        ssize_t count = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (count <= 0)
            break;
        response.append(buffer.data(), count);
    }
    return response;
}

std::string RawConnection::read_some(size_t limit, std::chrono::milliseconds timeout) {
    if (!wait_readable(timeout))
        return {};
    std::string bytes(limit, '\0');
    const ssize_t count = ::recv(fd_, bytes.data(), bytes.size(), 0);
    bytes.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return bytes;
}

std::string raw_http_exchange(uint16_t port, const std::string& request, int timeout_ms) {
    RawConnection connection(port);
    if (!connection.send(request))
        return {};
    return connection.read_to_end(std::chrono::milliseconds(timeout_ms));
}

}  // namespace wrenfield::testing
