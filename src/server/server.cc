#include "server/server.h"

#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>

#include "base/os_error.h"
#include "base/text.h"
#include "server/assets.h"
#include "server/replies.h"
#include "server/routes.h"
#include "server/url.h"

namespace wrenfield {

namespace {

constexpr size_t connection_thread_stack_size = 2 * 1024 * 1024;
constexpr size_t keep_alive_requests = 100000;

// The HTTP library's task queue, replaced: each accepted connection gets a detached thread of
// its own instead of a place in a fixed pool, so a request that waits for the remote machine
// never holds up another one.
class ThreadPerConnection final : public httplib::TaskQueue {
  public:
    explicit ThreadPerConnection(httplib::Server& server) : server_(server) {}

    void enqueue(std::function<void()> task) override {
        auto job = std::make_unique<Job>(Job{std::move(task), this});
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, connection_thread_stack_size);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        {
            std::lock_guard lock(mutex_);
            ++running_;
        }
        pthread_t thread;
        int error = pthread_create(&thread, &attributes, &ThreadPerConnection::run, job.get());
        pthread_attr_destroy(&attributes);
        if (error == 0) {
            job.release();
            return;
        }
        finished();
        // Without a thread the loop cannot go on: stop listening, and answer the connection in
        // hand here so that its socket is closed.
        std::fprintf(stderr, "failed to spawn thread: %s\n", os_error_text(error).c_str());
        server_.stop();
        job->task();
    }

    // Called when the accept loop has ended: waits for the connection threads still running,
    // since they use the server object.
    void shutdown() override {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return running_ == 0; });
    }

  private:
    struct Job {
        std::function<void()> task;
        ThreadPerConnection* queue;
    };

    static void* run(void* argument) {
        std::unique_ptr<Job> job(static_cast<Job*>(argument));
        try {
            job->task();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Connection thread failed: %s\n", error.what());
        } catch (...) {
            std::fprintf(stderr, "Connection thread failed\n");
        }
        ThreadPerConnection* queue = job->queue;
        job.reset();
        queue->finished();
        return nullptr;
    }

    void finished() {
        std::lock_guard lock(mutex_);
        --running_;
        idle_.notify_all();
    }

    httplib::Server& server_;
    std::mutex mutex_;
    std::condition_variable idle_;
    size_t running_ = 0;
};

void send_preflight(httplib::Response& response) {
    response.status = 204;
    response.set_header("Access-Control-Allow-Origin", "*");
    response.set_header("Access-Control-Allow-Methods", "GET, POST, OPTIONS");
    response.set_header("Access-Control-Allow-Headers", "Content-Type");
}

// Only the page served by this server may use the API: a request sent by another site (its
// Origin or Sec-Fetch-Site says so) or through another host name (a DNS-rebinding page) is
// refused before anything of it runs.
bool is_same_origin_request(const httplib::Request& request, uint16_t port) {
    const std::string port_text = std::to_string(port);
    for (size_t i = 0; i < request.get_header_value_count("Origin"); ++i) {
        std::string origin = request.get_header_value("Origin", i);
        if (origin != "http://127.0.0.1:" + port_text &&
            origin != "http://localhost:" + port_text) {
            return false;
        }
    }
    if (request.get_header_value_count("Host") != 1)
        return false;
    std::string host = ascii_lower(request.get_header_value("Host"));
    if (host != "127.0.0.1:" + port_text && host != "localhost:" + port_text &&
        host != "[::1]:" + port_text) {
        return false;
    }
    for (size_t i = 0; i < request.get_header_value_count("Sec-Fetch-Site"); ++i) {
        std::string site = request.get_header_value("Sec-Fetch-Site", i);
        if (site != "same-origin" && site != "none")
            return false;
    }
    return true;
}

// The methods whose body the library reads only through a content reader.
bool carries_body(const std::string& method) {
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

// The length a request declares for its body: its Content-Length, 0 without one; none when the
// body comes chunked.
std::optional<uint64_t> declared_body_length(const httplib::Request& request) {
    if (ascii_lower(request.get_header_value("Transfer-Encoding")).find("chunked") !=
        std::string::npos) {
        return std::nullopt;
    }
    const std::string text = request.get_header_value("Content-Length");
    uint64_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return 0;
    return length;
}

// Whether one end of a socket (`peer` false: ours, true: the other side's) has the address
// and port the library wrote into a request, in the library's own numeric form.
bool socket_end_is(int socket, bool peer, const std::string& address, int port) {
    sockaddr_storage end{};
    socklen_t length = sizeof end;
    auto* at = reinterpret_cast<sockaddr*>(&end);
    if ((peer ? ::getpeername(socket, at, &length) : ::getsockname(socket, at, &length)) != 0)
        return false;
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(at, length, host, sizeof host, service, sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return false;
    }
    return address == host && std::to_string(port) == service;
}

// The socket of the connection a request came on: the one whose two ends have the request's
// addresses. The library does not hand its sockets to the handlers, but the socket stays open
// while its request is being answered.
int find_client_socket(const httplib::Request& request) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string name = entry.path().filename();
        int socket = -1;
        const auto [end, failed] = std::from_chars(name.data(), name.data() + name.size(), socket);
        struct stat info {};
        if (failed != std::errc() || end != name.data() + name.size() ||
            ::fstat(socket, &info) != 0 || !S_ISSOCK(info.st_mode)) {
            continue;
        }
        if (socket_end_is(socket, false, request.local_addr, request.local_port) &&
            socket_end_is(socket, true, request.remote_addr, request.remote_port)) {
            return socket;
        }
    }
    return -1;
}

}  // namespace

void handle_request(const httplib::Request& request, httplib::Response& response,
                    const BodyStream& body, const ServerContext& context) {
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
    if (!is_same_origin_request(request, context.port)) {
        send_reply(response, error_reply("Forbidden: cross-origin request", 403));
        return;
    }
    std::optional<std::string_view> query;
    if (url->query)
        query = *url->query;
    BodyReader read_body = [&body]() -> std::expected<std::string, std::string> {
        std::string whole;
        if (!body([&whole](std::string_view piece) {
                whole.append(piece);
                return true;
            })) {
            return std::unexpected(std::string(body_cut_short));
        }
        return whole;
    };
    RouteAnswer answer = handle_api_request(
        ApiRequest{request.method, path, query, read_body, body, declared_body_length(request),
                   [&request] { return find_client_socket(request); }},
        context);
    send_reply(response, std::move(answer.reply), std::move(answer.lock),
               std::move(answer.body_pieces));
}

std::expected<BoundServer, std::string> bind_server(uint16_t port) {
    auto server = std::make_unique<httplib::Server>();
    // A reply whose headers and body leave in two writes must not wait for the client's
    // delayed acknowledgement.
    server->set_tcp_nodelay(true);
    // The library closes a keep-alive connection after five requests by default; the page's
    // connections are kept open for as long as the page uses them.
    server->set_keep_alive_max_count(keep_alive_requests);
    // Only SO_REUSEADDR: a second program must not be able to share our port.
    auto listening = std::make_shared<int>(-1);
    server->set_socket_options([listening](int socket) {
        int on = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        *listening = socket;
    });
    int bound = port == 0 ? server->bind_to_any_port("127.0.0.1")
                          : (server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound > 0) {
        // The library listens with a queue of 5 pending connections, so a burst of connects
        // (a page loading its files, a script) has some dropped and retried a second later.
        // Listening again only sets the queue length; the system caps a length beyond its own
        // maximum (net.core.somaxconn) at that maximum.
        ::listen(*listening, std::numeric_limits<int>::max());
        return BoundServer{std::move(server), static_cast<uint16_t>(bound)};
    }
    // The library does not say why binding failed; the same bind on a socket of our own does.
    int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return std::unexpected(os_error_text(errno));
    int on = 1;
    setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int error = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                    ? EADDRINUSE
                    : errno;
    ::close(probe);
    return std::unexpected(os_error_text(error));
}

void serve_requests(BoundServer bound, SharedConnection connection, UpdateCheck check_for_updates) {
    auto context = std::make_shared<const ServerContext>(
        ServerContext{std::move(connection), std::move(check_for_updates), bound.port});
    httplib::Server& server = *bound.server;
    server.new_task_queue = [&server] { return new ThreadPerConnection(server); };

    // Every request without a body is answered here, before the library's own routing, which
    // matches paths with regular expressions that recurse once per character.
    server.set_pre_routing_handler(
        [context](const httplib::Request& request, httplib::Response& response) {
            // Replies go out whole and as they are built. The library would otherwise compress
            // the page and the style sheets for every browser (they all offer gzip and br), at
            // tens of milliseconds of Brotli per load, and answer a Range request with the
            // requested bytes under status 200, which passes a fragment off as the whole.
            auto& asked = const_cast<httplib::Request&>(request);
            asked.headers.erase("Accept-Encoding");
            asked.ranges.clear();
            if (carries_body(request.method)) {
                // Let the library route it to the one content-reader handler below; its path is
                // set to "/" so that the match stays trivial. Dispatch reads the raw target.
                asked.path = "/";
                // A body is the bytes that came: the library would take a multipart/form-data
                // body apart itself (and fails without a receiver for its parts), and undo a
                // Content-Encoding. Nothing here looks at either header.
                asked.headers.erase("Content-Type");
                asked.headers.erase("Content-Encoding");
                return httplib::Server::HandlerResponse::Unhandled;
            }
            BodyStream no_body = [](const auto&) { return true; };
            handle_request(request, response, no_body, *context);
            return httplib::Server::HandlerResponse::Handled;
        });

    auto with_body = [context](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& content_reader) {
        // A request with neither Content-Length nor Transfer-Encoding has no body (the library
        // would wait for one until the connection's read timeout).
        const bool framed =
            request.has_header("Content-Length") || request.has_header("Transfer-Encoding");
        bool consumed = !framed;
        BodyStream body = [&](const std::function<bool(std::string_view)>& receive) {
            if (!framed)
                return true;
            consumed = true;
            return content_reader([&receive](const char* data, size_t length) {
                return receive(std::string_view(data, length));
            });
        };
        handle_request(request, response, body, *context);
        // A body that nobody read is drained so that the next request on this connection
        // starts where it should. When that fails the library marks the reply 400, but the
        // route has already acted: its reply keeps the status that says what was done.
        if (!consumed) {
            const int status = response.status;
            content_reader([](const char*, size_t) { return true; });
            response.status = status;
        }
    };
    server.Post("/", with_body);
    server.Put("/", with_body);
    server.Patch("/", with_body);
    server.Delete("/", with_body);

    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& error) {
                std::fprintf(stderr, "Request failed: %s\n", error.what());
            } catch (...) {
                std::fprintf(stderr, "Request failed\n");
            }
            response = httplib::Response();
            response.status = 500;
        });

    server.listen_after_bind();
}

}  // namespace wrenfield
