// The loopback HTTP server: binding, the request loop, and the dispatch of each request.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>

#include "server/shared_connection.h"

namespace httplib {
class Server;
}

namespace wrenfield {

// Starts an update check; the shell hands in its updater, tests a stand-in.
using UpdateCheck = std::function<void()>;

// A server bound and listening on 127.0.0.1, not yet serving.
struct BoundServer {
    std::unique_ptr<httplib::Server> server;
    uint16_t port = 0;  // the port actually bound (read back from the socket)
};

// Binds 127.0.0.1:port (0 asks for any free port). The error is the system's message text.
std::expected<BoundServer, std::string> bind_server(uint16_t port);

// Serves requests, one detached thread per connection, until the server is stopped.
void serve_requests(BoundServer server, SharedConnection connection, UpdateCheck check_for_updates);

}  // namespace wrenfield
