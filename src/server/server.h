// The loopback HTTP server: binding, the request loop, and the dispatch of each request.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "server/http_connection.h"
#include "server/shared_connection.h"

namespace wrenfield {

// Starts an update check; the shell hands in its updater, tests a stand-in.
using UpdateCheck = std::function<void()>;

// A server bound and listening on 127.0.0.1, not yet serving.
struct BoundServer {
    std::unique_ptr<LoopbackServer> server;
    uint16_t port = 0;  // the port actually bound (read back from the socket)
};

// Binds 127.0.0.1:port (0 asks for any free port). The error is the system's message text,
// such as "Address already in use (os error 98)".
std::expected<BoundServer, std::string> bind_server(uint16_t port, const ServerLimits& limits = {});

// Serves requests, one detached thread per connection (up to the server's connection limit),
// until the server is stopped; returns once every connection thread has ended. A connection
// whose client socket belongs to another account of this machine is closed unserved.
void serve_requests(BoundServer server, SharedConnection connection, UpdateCheck check_for_updates);

// The bytes of JSON bodies that the routes hold at one time, in all. Uploads are streamed and
// take none of it.
inline constexpr uint64_t json_body_budget = 256 << 20;

// What every request thread is handed: the connection slot, the update check, the port the
// server listens on and the budget for the JSON bodies held at once.
struct ServerContext {
    SharedConnection connection;
    UpdateCheck check_for_updates;
    uint16_t port = 0;
    std::shared_ptr<BodyBudget> json_bodies = std::make_shared<BodyBudget>(json_body_budget);
};

// Why a body read failed: the client stopped sending, took too long or went away.
inline constexpr std::string_view body_cut_short =
    "the connection ended before the whole body arrived";

// Answers one request: the URL check, the CORS preflight, the static assets, the same-origin
// guard and the router for "/api/", else 404.
void handle_request(const RequestLine& request, HttpResponse& response, const ClientRequest& client,
                    const ServerContext& context);

}  // namespace wrenfield
