// The HTTP server of the program started inside the test process on a free port, with a
// connection slot the test can look at and lock, and an update check that only counts.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "server/server.h"
#include "server/shared_connection.h"

namespace wrenfield::testing {

class InProcessServer {
  public:
    // The program's limits unless a test asks for others (a short read timeout, TCP_NODELAY
    // off for the benchmark's comparison).
    explicit InProcessServer(const ServerLimits& limits = {});
    // Stops the server and waits for its request loop and every connection thread to end.
    ~InProcessServer();
    InProcessServer(const InProcessServer&) = delete;
    InProcessServer& operator=(const InProcessServer&) = delete;

    uint16_t port() const { return port_; }
    // "127.0.0.1:PORT", the Host header a same-origin request carries.
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    // "http://127.0.0.1:PORT", the page's own origin.
    std::string origin() const { return "http://" + host(); }

    const SharedConnection& connection() const { return connection_; }
    int update_checks() const { return update_checks_->load(); }

  private:
    SharedConnection connection_;
    std::shared_ptr<std::atomic<int>> update_checks_;
    LoopbackServer* server_ = nullptr;
    uint16_t port_ = 0;
    std::thread thread_;
};

// The bare connection loop around a handler of the test's own, serving on a free port until it
// is destroyed.
class HandlerServer {
  public:
    explicit HandlerServer(RequestHandler handler, const ServerLimits& limits = {});
    ~HandlerServer();
    HandlerServer(const HandlerServer&) = delete;
    HandlerServer& operator=(const HandlerServer&) = delete;

    uint16_t port() const { return port_; }

  private:
    LoopbackServer server_;
    uint16_t port_ = 0;
    std::thread thread_;
};

// A client connection on which the test decides when to read.
class RawConnection {
  public:
    explicit RawConnection(uint16_t port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool send(const std::string& bytes);
    // True once something can be read, without reading it.
    bool wait_readable(std::chrono::milliseconds timeout);
    // Everything until the server closes the connection or the time is up.
    std::string read_to_end(std::chrono::milliseconds timeout);
    // At most `limit` bytes, as soon as some have come; empty at the end or when the time is up.
    std::string read_some(size_t limit, std::chrono::milliseconds timeout);
    // The socket, for a test that sets an option on it.
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

// Sends `request` (the whole text, as written on the wire) on a new connection and returns
// everything the server wrote back until it closed the connection or `timeout_ms` passed.
std::string raw_http_exchange(uint16_t port, const std::string& request, int timeout_ms = 5000);

}  // namespace wrenfield::testing
