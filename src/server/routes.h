// The JSON API router: the route table under "/api/", the checks in front of each route, and
// how routes share the connection: the lock for its record, a session of its master for each
// remote run.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "server/replies.h"
#include "server/run_stop.h"
#include "server/server.h"
#include "server/shared_connection.h"
#include "ssh/remote.h"

namespace wrenfield {

struct ApiRequest {
    std::string_view method;
    std::string_view path;  // the URL path, still percent-encoded
    std::optional<std::string_view> query;
    // The body piece by piece as it arrives.
    BodyStream stream_body;
    // The length the request declares for its body; none when the body comes chunked.
    std::optional<uint64_t> body_length;
    // The client's connection (socket -1: none), so that a remote run can stop once its client
    // has gone away, and a transfer be ended when its connection goes.
    ClientWatch client;
    // The body moved into a pipe by the kernel, going on from where `stream_body` stopped; none
    // for a chunked body.
    BodyIntoPipe body_into_pipe;
};

// The largest JSON body taken: what the viewer can save (a file of up to read_size_limit bytes)
// with its quotes and backslashes escaped, plus room for the path and the keys. Past it the
// request gets 413 before its body is held.
inline constexpr uint64_t json_body_limit = 2 * read_size_limit + (1 << 20);

// A route's answer. The connection lock is never held while it is sent: the lock guards the
// connection record only, and every remote run goes on a borrowed copy beside the others. With
// `body_pieces` the reply's body is sent chunked as the pieces come, after the status and headers
// of `reply`.
struct RouteAnswer {
    Reply reply;
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
