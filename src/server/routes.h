// The JSON API router: the route table under "/api/", the checks in front of each route, and
// the discipline by which routes lock the shared connection.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "server/replies.h"
#include "server/server.h"
#include "server/shared_connection.h"

namespace wrenfield {

struct ApiRequest {
    std::string_view method;
    std::string_view path;  // the URL path, still percent-encoded
    std::optional<std::string_view> query;
    BodyReader read_body;
    // The body piece by piece, for a route that passes it on as it arrives.
    BodyStream stream_body;
    // The length the request declares for its body; none when the body comes chunked.
    std::optional<uint64_t> body_length;
    // Finds the socket of the client's connection (-1 when it cannot be found), so that a
    // remote read can stop once its client has gone away.
    std::function<int()> client_socket;
};

// A route's answer. When the route holds the connection lock, the lock travels with the reply
// and is released only once the reply has been written. With `body_pieces` the reply's body
// is sent chunked as the pieces come, after the status and headers of `reply`.
struct RouteAnswer {
    Reply reply;
    std::unique_lock<std::mutex> lock;
    BodyPieces body_pieces;
};

RouteAnswer handle_api_request(const ApiRequest& request, const ServerContext& context);

// The Content-Disposition value for a download: the name as it is when it is plain printable
// ASCII without quote or backslash; otherwise an ASCII stand-in plus the UTF-8 name
// percent-encoded in filename*.
std::string attachment_disposition(std::string_view file_name);

// The text after the last "/" of a path parameter, or all of it.
std::string_view download_file_name(std::string_view path);

}  // namespace wrenfield
