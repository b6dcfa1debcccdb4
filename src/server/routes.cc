#include "server/routes.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "base/text.h"
#include "config/keys.h"
#include "config/ssh_config.h"
#include "server/records.h"
#include "ssh/connection.h"
#include "ssh/remote.h"

namespace wrenfield {

namespace {

constexpr std::string_view not_connected = "Not connected to SSH host";

RouteAnswer answer(Reply reply) {
    return RouteAnswer{std::move(reply), nullptr};
}

// A reply whose body is sent as it is made.
struct StreamedReply {
    Reply reply;
    BodyPieces body_pieces;
};

RouteAnswer answer(StreamedReply streamed) {
    return RouteAnswer{std::move(streamed.reply), std::move(streamed.body_pieces)};
}

Reply body_too_large() {
    return error_reply("Request body is too large (the limit is " +
                           std::to_string(json_body_limit >> 20) + " MiB)",
                       413);
}

// How long a JSON body waits for room in the budget before the request is refused.
constexpr auto json_body_budget_wait = std::chrono::seconds(10);

Reply server_busy() {
    return error_reply("The server is busy with other large requests; try again in a moment", 503);
}

// The whole body of a JSON route, up to json_body_limit, held once: its room is taken from the
// server's budget for JSON bodies first (in full when the request declares its length, else as
// the pieces come), and `held` keeps it for as long as the caller holds the body or what is
// read from it.
std::expected<std::string, Reply> read_json_body(const ApiRequest& request,
                                                 BodyBudget::Share& held) {
    if (request.body_length && *request.body_length > json_body_limit)
        return std::unexpected(body_too_large());
    std::string body;
    if (request.body_length) {
        if (!held.grow(*request.body_length, json_body_budget_wait))
            return std::unexpected(server_busy());
        body.reserve(*request.body_length);
    }
    bool too_large = false;
    bool busy = false;
    const bool complete = request.stream_body([&](std::string_view piece) {
        too_large = body.size() + piece.size() > json_body_limit;
        if (too_large)
            return false;
        if (body.size() + piece.size() > held.bytes()) {
            // A chunked body: room for this piece and for the next MiB or so, taken a step at a
            // time rather than a piece at a time.
            const uint64_t step =
                std::max<uint64_t>(body.size() + piece.size() - held.bytes(), uint64_t{1} << 20);
            busy =
                !held.grow(std::min(step, json_body_limit - held.bytes()), json_body_budget_wait);
            if (busy)
                return false;
        }
        body.append(piece);
        return true;
    });
    if (too_large)
        return std::unexpected(body_too_large());
    if (busy)
        return std::unexpected(server_busy());
    if (!complete)
        return std::unexpected(
            error_reply("Failed to read body: " + std::string(body_cut_short), 400));
    return body;
}

// A body for a JSON route: the bytes must be UTF-8, then the record is read from the text. The
// body itself is let go once its record has been read; `held` keeps its room in the budget for
// the record, which the caller holds while the route runs.
template <typename Payload>
std::expected<Payload, Reply> read_payload(
    const ApiRequest& request, BodyBudget::Share& held,
    std::expected<Payload, std::string> (*reader)(std::string_view body)) {
    auto body = read_json_body(request, held);
    if (!body)
        return std::unexpected(std::move(body.error()));
    if (!is_valid_utf8(*body)) {
        return std::unexpected(
            error_reply("Failed to read body: stream did not contain valid UTF-8", 400));
    }
    auto payload = reader(*body);
    if (!payload)
        return std::unexpected(error_reply("Invalid JSON: " + payload.error(), 400));
    return std::move(*payload);
}

// Ends the runs going through the connection, which is being replaced or removed: their waits
// for ssh stop at once, and so do the bodies of their uploads (a shut reading side reads as
// their end). Called with the lock held.
void end_runs(ConnectionCell& cell) {
    ++cell.generation;
    cell.closing->raise();
    cell.closing = ClosingSignal::make();
    for (int socket : cell.transfer_sockets)
        ::shutdown(socket, SHUT_RD);
    cell.run_ended.notify_all();
}

// How long a disconnect or a host switch waits for the changes under way.
constexpr auto change_wait = std::chrono::seconds(60);

// Takes the record out of the slot, for a disconnect or a host switch: every run through it is
// ended, but the changes (write, mkdir, rename, delete) are let finish first, up to change_wait,
// so that none is cut part way when the master closes. The slot is empty meanwhile: new runs
// get 401. Called with the lock held, which the wait lets go of for its time.
std::optional<SshConnection> take_record_out(std::unique_lock<std::mutex>& lock,
                                             ConnectionCell& cell) {
    end_runs(cell);
    std::optional<SshConnection> record = std::exchange(cell.connection, std::nullopt);
    cell.run_ended.wait_for(lock, change_wait, [&] { return cell.changes_running == 0; });
    // A connect that came meanwhile may have installed its record; the last one wins.
    if (cell.connection) {
        end_runs(cell);
        cell.connection.reset();
    }
    return record;
}

// What a run is, for the sessions it may take and for what stops it: a change is never
// stopped part way, the others are when the connection goes.
enum class RunKind { Transfer, Change, Other };

constexpr auto session_wait = std::chrono::seconds(30);
constexpr std::string_view transfer_ended_by_disconnect =
    "the SSH connection was closed during the transfer";
constexpr std::string_view run_ended_by_disconnect =
    "The SSH connection was closed before the request was done";

// A run's place beside the others: one of the master's sessions, and a borrowed copy of the
// record to run ssh with, taken under the lock and used without it.
class RunClaim {
  public:
    // Waits a while for a free session; the error is the reply for the client. A transfer names
    // its client's socket, whose reading side is shut when the record goes.
    static std::expected<std::unique_ptr<RunClaim>, Reply> take(const ServerContext& context,
                                                                RunKind kind,
                                                                int client_socket = -1) {
        ConnectionCell& cell = *context.connection;
        std::unique_lock lock(cell.mutex);
        const uint64_t generation = cell.generation;
        const bool transfer = kind == RunKind::Transfer;
        const auto session_free = [&] {
            return cell.runs_running < run_sessions &&
                   (!transfer || cell.transfers_running < transfer_slots);
        };
        if (cell.connection) {
            cell.run_ended.wait_for(lock, session_wait, [&] {
                return session_free() || cell.generation != generation;
            });
        }
        if (!cell.connection || cell.generation != generation)
            return std::unexpected(error_reply(not_connected, 401));
        if (!session_free()) {
            const bool transfers_full = transfer && cell.transfers_running >= transfer_slots;
            const size_t running = transfers_full ? cell.transfers_running : cell.runs_running;
            return std::unexpected(error_reply(
                std::string(transfers_full ? "Too many transfers" : "Too many remote requests") +
                    " at once (" + std::to_string(running) +
                    " are running); try again when one has finished",
                503));
        }
        ++cell.runs_running;
        if (transfer)
            ++cell.transfers_running;
        if (kind == RunKind::Change)
            ++cell.changes_running;
        if (client_socket >= 0)
            cell.transfer_sockets.push_back(client_socket);
        return std::unique_ptr<RunClaim>(new RunClaim(cell, cell.connection->borrow(), generation,
                                                      cell.closing, kind, client_socket));
    }

    ~RunClaim() {
        bool close_master = false;
        {
            std::lock_guard lock(cell_.mutex);
            --cell_.runs_running;
            if (kind_ == RunKind::Transfer)
                --cell_.transfers_running;
            if (kind_ == RunKind::Change)
                --cell_.changes_running;
            auto at = std::ranges::find(cell_.transfer_sockets, client_socket_);
            if (client_socket_ >= 0 && at != cell_.transfer_sockets.end())
                cell_.transfer_sockets.erase(at);
            cell_.run_ended.notify_all();
            // A run that began after its record closed the master may have started a new one;
            // it is closed unless the record now installed uses it.
            close_master =
                cell_.generation != generation_ &&
                (!cell_.connection || cell_.connection->control_path != connection_.control_path);
        }
        if (close_master)
            connection_.close_master();
    }
    RunClaim(const RunClaim&) = delete;
    RunClaim& operator=(const RunClaim&) = delete;

    const SshConnection& connection() const { return connection_; }

    // What stops the run: the connection closing (but for a change), or `client` going.
    std::unique_ptr<RunStop> stop(ClientWatch client = {}) const {
        return std::make_unique<RunStop>(kind_ == RunKind::Change ? nullptr : closing_,
                                         std::move(client));
    }

    // Whether the connection was replaced or removed since the run began.
    bool connection_went() const {
        std::lock_guard lock(cell_.mutex);
        return cell_.generation != generation_;
    }

  private:
    RunClaim(ConnectionCell& cell, SshConnection connection, uint64_t generation,
             std::shared_ptr<ClosingSignal> closing, RunKind kind, int client_socket)
        : cell_(cell),
          connection_(std::move(connection)),
          generation_(generation),
          closing_(std::move(closing)),
          kind_(kind),
          client_socket_(client_socket) {}

    ConnectionCell& cell_;
    SshConnection connection_;
    uint64_t generation_;
    std::shared_ptr<ClosingSignal> closing_;
    RunKind kind_;
    int client_socket_;
};

// Runs a remote operation beside the others, stopped by `stop` (given the claim, it makes the
// run's RunStop): 401 with an empty slot, 500 with the operation's own message (or, when the
// connection was closed under it, run_ended_by_disconnect), else the success reply that
// `on_success` builds from the result. A run that succeeded is answered as such even when the
// connection went meanwhile: what it did stands.
template <typename Operation, typename OnSuccess>
RouteAnswer run_beside(const ServerContext& context, RunKind kind, Operation operation,
                       OnSuccess on_success, ClientWatch client = {}) {
    auto claim = RunClaim::take(context, kind);
    if (!claim)
        return answer(std::move(claim.error()));
    auto stop = (*claim)->stop(std::move(client));
    auto result = operation((*claim)->connection(), stop.get());
    if (!result) {
        const bool went = (*claim)->connection_went();
        return answer(error_reply(went ? run_ended_by_disconnect : result.error(), 500));
    }
    // The session is free again before the reply is made.
    claim->reset();
    if constexpr (std::is_void_v<typename decltype(result)::value_type>)
        return answer(on_success());
    else
        return answer(on_success(*result));
}

// The routes that change remote files from a JSON body (write, mkdir, rename, delete): the
// body is read into its record first, then the change runs, and its success is answered with
// `message`.
template <typename Payload, typename Change>
RouteAnswer change_route(const ApiRequest& request, const ServerContext& context,
                         std::expected<Payload, std::string> (*reader)(std::string_view body),
                         std::string_view message, Change change) {
    BodyBudget::Share held(*context.json_bodies);
    auto payload = read_payload(request, held, reader);
    if (!payload)
        return answer(std::move(payload.error()));
    return run_beside(
        context, RunKind::Change,
        [&](const SshConnection& connection, CancelToken* stop) {
            return change(connection, *payload, stop);
        },
        [message] { return message_reply(message); });
}

nlohmann::ordered_json json_array_of(const auto& items) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto& item : items) {
        if constexpr (std::is_convertible_v<decltype(item), std::string_view>)
            array.push_back(item);
        else
            array.push_back(to_json(item));
    }
    return array;
}

// The "path" parameter of the request's query, or nothing.
std::optional<std::string> path_parameter(const ApiRequest& request) {
    return query_path_param(parse_query(request.query));
}

// Every route below takes the request and the context, so that the table can name them alike.

RouteAnswer check_for_updates_route(const ApiRequest&, const ServerContext& context) {
    if (context.check_for_updates)
        context.check_for_updates();
    return answer(message_reply("Checking for updates..."));
}

RouteAnswer status_route(const ApiRequest&, const ServerContext& context) {
    std::unique_lock lock(context.connection->mutex);
    nlohmann::ordered_json status = {{"connected", context.connection->connection.has_value()}};
    if (const auto& connection = context.connection->connection) {
        status["host"] = connection->destination;
        status["user"] = connection->remote_user;
        status["home_dir"] = connection->home_dir;
        status["remote_os"] = connection->remote_os;
        status["identity_file"] = connection->identity_file
                                      ? nlohmann::ordered_json(*connection->identity_file)
                                      : nlohmann::ordered_json(nullptr);
    }
    lock.unlock();
    return answer(json_response(status));
}

RouteAnswer connect_route(const ApiRequest& request, const ServerContext& context) {
    BodyBudget::Share held(*context.json_bodies);
    auto payload = read_payload(request, held, read_connect_payload);
    if (!payload)
        return answer(std::move(payload.error()));
    // identity_file wins over key_path; a blank choice means no key file from the request, and
    // the other field is not tried in its place.
    std::optional<std::string> chosen =
        payload->identity_file ? payload->identity_file : payload->key_path;
    if (chosen && trim_whitespace(*chosen).empty())
        chosen.reset();
    // The probe runs without the lock: other requests keep using the installed connection.
    SshConnection connection = SshConnection::create(std::move(payload->host), payload->port,
                                                     std::move(payload->user), std::move(chosen));
    auto result = connect_probe(connection);
    if (!result) {
        // The new connection is released here, which closes its master.
        return answer(error_reply(result.error(), 500));
    }
    std::unique_lock lock(context.connection->mutex);
    // Destroying the old connection closes its master under the lock, so that no run of the new
    // one goes through a master that is closing.
    take_record_out(lock, *context.connection).reset();
    context.connection->connection.emplace(std::move(connection));
    lock.unlock();
    return answer(json_response(to_json(*result)));
}

RouteAnswer ssh_keys_route(const ApiRequest&, const ServerContext&) {
    return answer(json_response(json_array_of(list_private_keys())));
}

RouteAnswer disconnect_route(const ApiRequest&, const ServerContext& context) {
    std::unique_lock lock(context.connection->mutex);
    // Destroying the record closes its master connection and removes the socket.
    take_record_out(lock, *context.connection).reset();
    lock.unlock();
    return answer(message_reply("Disconnected"));
}

RouteAnswer config_hosts_route(const ApiRequest&, const ServerContext&) {
    return answer(json_response(json_array_of(load_ssh_config())));
}

RouteAnswer list_route(const ApiRequest& request, const ServerContext& context) {
    std::string directory = path_parameter(request).value_or("~");
    auto claim = RunClaim::take(context, RunKind::Other);
    if (!claim)
        return answer(std::move(claim.error()));
    // The entries go out as they are checked: a failure before the first one still gets the
    // error reply; after it, the headers have gone out and only a cut body can tell the client.
    auto stop = (*claim)->stop(request.client);
    auto listing = RemoteListing::start((*claim)->connection(), directory, stop.get());
    if (!listing) {
        const bool went = (*claim)->connection_went();
        return answer(error_reply(went ? run_ended_by_disconnect : listing.error(), 500));
    }
    // The run, with its session and its token, lasts as long as the body is being sent.
    struct Running {
        std::unique_ptr<RunClaim> claim;
        std::unique_ptr<RunStop> stop;
        RemoteListing listing;
        // The piece being sent: the entries of one batch as the JSON array's text.
        std::string text;
        bool opened = false;
        bool closed = false;
    };
    auto running =
        std::make_shared<Running>(std::move(*claim), std::move(stop), std::move(*listing));
    // The headers of a JSON reply; the body is the pieces.
    return answer(StreamedReply{json_response(nlohmann::ordered_json::array()),
                                [running]() -> std::expected<std::string_view, std::string> {
                                    Running& run = *running;
                                    if (run.closed)
                                        return std::string_view();
                                    auto entries = run.listing.next_entries();
                                    if (!entries)
                                        return std::unexpected(std::move(entries.error()));
                                    run.text.clear();
                                    if (entries->empty()) {
                                        // The run has ended well: its session is free again before
                                        // the last bytes go.
                                        run.claim.reset();
                                        run.text = run.opened ? "]" : "[]";
                                        run.closed = true;
                                        return run.text;
                                    }
                                    for (const FileItem& item : *entries) {
                                        run.text += std::exchange(run.opened, true) ? ',' : '[';
                                        append_json(run.text, item);
                                    }
                                    return run.text;
                                }});
}

RouteAnswer read_route(const ApiRequest& request, const ServerContext& context) {
    auto file = path_parameter(request);
    if (!file)
        return answer(error_reply("Missing path parameter", 400));
    return run_beside(
        context, RunKind::Other,
        [&](const SshConnection& connection,
            CancelToken* stop) -> std::expected<FileContent, Error> {
            auto content = read_remote_file(connection, *file, stop);
            if (!content)
                return std::unexpected(read_error_message(content.error()));
            return std::move(*content);
        },
        [](const FileContent& content) { return json_response(content); }, request.client);
}

// What a change does to an entry already at its name, from the payload's `no_replace`.
Existing existing_for(bool no_replace) {
    return no_replace ? Existing::Refuse : Existing::Replace;
}

RouteAnswer write_route(const ApiRequest& request, const ServerContext& context) {
    return change_route(
        request, context, read_write_payload, "File saved successfully",
        [](const SshConnection& connection, const WritePayload& payload, CancelToken* stop) {
            return remote_write_file(connection, payload.path, payload.content,
                                     existing_for(payload.no_replace), stop);
        });
}

RouteAnswer mkdir_route(const ApiRequest& request, const ServerContext& context) {
    return change_route(
        request, context, read_mkdir_payload, "Directory created successfully",
        [](const SshConnection& connection, const MkdirPayload& payload, CancelToken* stop) {
            return remote_mkdir(connection, payload.path, existing_for(payload.no_replace), stop);
        });
}

RouteAnswer rename_route(const ApiRequest& request, const ServerContext& context) {
    return change_route(
        request, context, read_rename_payload, "Renamed successfully",
        [](const SshConnection& connection, const RenamePayload& payload, CancelToken* stop) {
            return remote_rename(connection, payload.from, payload.to,
                                 existing_for(payload.no_replace), stop);
        });
}

RouteAnswer delete_route(const ApiRequest& request, const ServerContext& context) {
    return change_route(
        request, context, read_delete_payload, "Deleted successfully",
        [](const SshConnection& connection, const DeletePayload& payload, CancelToken* stop) {
            auto entry = payload.is_dir ? RemoteEntry::Directory : RemoteEntry::File;
            return remote_delete(connection, payload.path, entry, stop);
        });
}

RouteAnswer upload_route(const ApiRequest& request, const ServerContext& context) {
    auto file = path_parameter(request);
    if (!file)
        return answer(error_reply("Missing path query parameter", 400));
    // The body goes to the remote side as it arrives, and the remote program checks its length
    // before it replaces the file; a chunked body has no length to check against.
    if (!request.body_length) {
        return answer(error_reply(
            "Failed to read upload payload: the request must give its Content-Length", 411));
    }
    auto claim = RunClaim::take(context, RunKind::Transfer, request.client.socket);
    if (!claim)
        return answer(std::move(claim.error()));
    bool body_complete = true;
    auto stop = (*claim)->stop();
    // The body goes from the client's socket into the ssh pipe by the kernel where it can.
    PipeFeed feed;
    if (request.body_into_pipe) {
        feed = [&](int pipe, uint64_t most) {
            auto moved = request.body_into_pipe(pipe, most);
            if (!moved && moved.error() == 0)
                body_complete = false;
            return moved;
        };
    }
    auto written = remote_write_stream((*claim)->connection(), *file, *request.body_length,
                                       [&](const auto& receive) {
                                           body_complete =
                                               request.stream_body(receive) && body_complete;
                                           return body_complete;
                                       },
                                       Existing::Replace, stop.get(), feed);
    if ((*claim)->connection_went()) {
        return answer(
            error_reply("Upload stopped: " + std::string(transfer_ended_by_disconnect), 500));
    }
    if (!body_complete) {
        return answer(
            error_reply("Failed to read upload payload: " + std::string(body_cut_short), 400));
    }
    if (!written)
        return answer(error_reply(written.error(), 500));
    return answer(message_reply("File uploaded successfully"));
}

RouteAnswer download_route(const ApiRequest& request, const ServerContext& context) {
    auto file = path_parameter(request);
    if (!file)
        return answer(error_reply("Missing path parameter", 400));
    // The saved file's name is for the user to read: bytes that are not UTF-8 show as U+FFFD.
    std::string disposition = attachment_disposition(decode_utf8_lossy(download_file_name(*file)));
    auto claim = RunClaim::take(context, RunKind::Transfer, request.client.socket);
    if (!claim)
        return answer(std::move(claim.error()));
    // A failure before the first byte still gets the error reply; after it, the headers have
    // gone out and only a cut body can tell the client.
    // The token goes with the run, which outlives this call while the body is sent.
    auto stop = (*claim)->stop(request.client);
    auto download = RemoteFileStream::start((*claim)->connection(), *file, stop.get());
    if (!download) {
        if ((*claim)->connection_went()) {
            return answer(
                error_reply("Download stopped: " + std::string(transfer_ended_by_disconnect), 500));
        }
        return answer(error_reply(download.error(), 500));
    }
    // The claim lasts as long as the body is being sent.
    struct Running {
        std::unique_ptr<RunClaim> claim;
        std::unique_ptr<RunStop> stop;
        RemoteFileStream download;
    };
    auto running =
        std::make_shared<Running>(std::move(*claim), std::move(stop), std::move(*download));
    return answer(StreamedReply{Reply{200,
                                      {{"Content-Type", "application/octet-stream"},
                                       {"Content-Disposition", std::move(disposition)},
                                       {"Access-Control-Allow-Origin", "*"}},
                                      {}},
                                [running] { return running->download.next_piece(); }});
}

enum class Method { Any, Get, Post };

struct Route {
    Method method;
    std::string_view path;
    RouteAnswer (*handler)(const ApiRequest& request, const ServerContext& context);
};

// Every API route, one line each. A request goes to the first line whose path and method it
// matches; the path is compared byte for byte, and HEAD is not GET. The page asks for an
// update check with POST, but any method starts one: the check touches nothing remote, and the
// same-origin guard in front of the router keeps other sites out.
constexpr Route routes[] = {
    {Method::Any, "/api/check-for-updates", check_for_updates_route},
    {Method::Get, "/api/status", status_route},
    {Method::Post, "/api/connect", connect_route},
    {Method::Get, "/api/ssh-keys", ssh_keys_route},
    {Method::Post, "/api/disconnect", disconnect_route},
    {Method::Get, "/api/config-hosts", config_hosts_route},
    {Method::Get, "/api/list", list_route},
    {Method::Get, "/api/read", read_route},
    {Method::Post, "/api/write", write_route},
    {Method::Post, "/api/mkdir", mkdir_route},
    {Method::Post, "/api/rename", rename_route},
    {Method::Post, "/api/delete", delete_route},
    {Method::Post, "/api/upload", upload_route},
    {Method::Get, "/api/download", download_route},
};

bool method_matches(Method method, std::string_view requested) {
    switch (method) {
        case Method::Any:
            return true;
        case Method::Get:
            return requested == "GET";
        case Method::Post:
            return requested == "POST";
    }
    return false;
}

bool is_attribute_character(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string_view download_file_name(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string attachment_disposition(std::string_view file_name) {
    bool plain = true;
    for (unsigned char c : file_name)
        plain = plain && c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    if (plain)
        return "attachment; filename=\"" + std::string(file_name) + "\"";
    // One "_" for each character that cannot stand in a quoted ASCII header value; a UTF-8
    // sequence counts as one character.
    std::string fallback;
    for (unsigned char c : file_name) {
        if ((c & 0xC0) == 0x80)
            continue;
        bool keep = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
        fallback += keep ? static_cast<char>(c) : '_';
    }
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : file_name) {
        if (is_attribute_character(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0xF];
        }
    }
    return "attachment; filename=\"" + fallback + "\"; filename*=UTF-8''" + encoded;
}

RouteAnswer handle_api_request(const ApiRequest& request, const ServerContext& context) {
    for (const Route& route : routes) {
        if (route.path == request.path && method_matches(route.method, request.method))
            return route.handler(request, context);
    }
    return answer(error_reply("Endpoint Not Found", 404));
}

}  // namespace wrenfield
