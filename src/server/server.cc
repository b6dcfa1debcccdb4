#include "server/server.h"

#include <vector>

#include "base/text.h"
#include "server/assets.h"
#include "server/replies.h"
#include "server/routes.h"
#include "server/url.h"

namespace wrenfield {

namespace {

void send_preflight(HttpResponse& response) {
    response.status = 204;
    response.headers = {{"Access-Control-Allow-Origin", "*"},
                        {"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
                        {"Access-Control-Allow-Headers", "Content-Type"}};
}

// The values of every field named `name` (compared without case), as the client sent them.
std::vector<std::string_view> field_values(const HeaderFields& fields, std::string_view name) {
    std::vector<std::string_view> values;
    for (const auto& [field, value] : fields) {
        if (ascii_lower(field) == name)
            values.push_back(value);
    }
    return values;
}

// Only the page served by this server may use the API: a request sent by another site (its
// Origin or Sec-Fetch-Site says so) or through another host name (a DNS-rebinding page) is
// refused before anything of it runs. The fields are read as the client sent them, so that an
// empty Origin, or a percent-encoded one, counts as the foreign origin it is; a request with no
// Origin at all (the page's own GETs, curl) passes.
bool is_same_origin_request(const HeaderFields& fields, uint16_t port) {
    const std::string port_text = std::to_string(port);
    for (std::string_view origin : field_values(fields, "origin")) {
        if (origin != "http://127.0.0.1:" + port_text &&
            origin != "http://localhost:" + port_text) {
            return false;
        }
    }
    const auto hosts = field_values(fields, "host");
    if (hosts.size() != 1)
        return false;
    const std::string host = ascii_lower(hosts.front());
    if (host != "127.0.0.1:" + port_text && host != "localhost:" + port_text &&
        host != "[::1]:" + port_text) {
        return false;
    }
    for (std::string_view site : field_values(fields, "sec-fetch-site")) {
        if (site != "same-origin" && site != "none")
            return false;
    }
    return true;
}

}  // namespace

void handle_request(const RequestLine& request, HttpResponse& response, const ClientRequest& client,
                    const ServerContext& context) {
    auto url = parse_request_url(request.target);
    if (!url) {
        send_reply(response, error_reply("Invalid URL", 400));
        return;
    }
    if (request.method == "OPTIONS") {
        send_preflight(response);
        return;
    }
    const std::string& path = url->path;
    if (const StaticAsset* asset = find_static_asset(path)) {
        Reply reply = asset_response(asset->bytes, asset->content_type);
        if (asset->content_type == html_asset_type)
            reply.headers.emplace_back("Content-Security-Policy",
                                       page_security_policy(context.port));
        send_reply(response, std::move(reply));
        return;
    }
    if (!path.starts_with("/api/")) {
        send_reply(response, error_reply("Not Found", 404));
        return;
    }
    if (!is_same_origin_request(client.fields, context.port)) {
        send_reply(response, error_reply("Forbidden: cross-origin request", 403));
        return;
    }
    std::optional<std::string_view> query;
    if (url->query)
        query = *url->query;
    RouteAnswer answer = handle_api_request(
        ApiRequest{request.method, path, query, client.body, client.body_length,
                   ClientWatch{client.socket, client.still_listening}, client.body_into_pipe},
        context);
    send_reply(response, std::move(answer.reply), std::move(answer.body_pieces));
}

std::expected<BoundServer, std::string> bind_server(uint16_t port, const ServerLimits& limits) {
    auto server = std::make_unique<LoopbackServer>(limits);
    auto bound = server->bind_loopback(port);
    if (!bound)
        return std::unexpected(bound.error());
    return BoundServer{std::move(server), *bound};
}

void serve_requests(BoundServer bound, SharedConnection connection, UpdateCheck check_for_updates) {
    auto context = std::make_shared<const ServerContext>(
        ServerContext{std::move(connection), std::move(check_for_updates), bound.port});
    LoopbackServer& server = *bound.server;
    server.set_request_handler(
        [context](const RequestLine& request, HttpResponse& response, const ClientRequest& client) {
            handle_request(request, response, client, *context);
        });
    server.listen_after_bind();
}

}  // namespace wrenfield
