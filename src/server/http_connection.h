// The adapter around the HTTP library: our own loop over each client connection, which reads
// every request's header section and body by the HTTP/1.1 framing rules and hands the library
// only the parsing of the request line and the writing of the reply.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wrenfield {

// How long the server waits for a client, and how much it takes from one.
struct ServerLimits {
    // One wait for the next bytes of a request (its header section is given this long in all).
    std::chrono::milliseconds read_timeout{5000};
    // One wait for the client to take the next bytes of a reply.
    std::chrono::milliseconds write_timeout{5000};
    // How long an idle keep-alive connection is kept open.
    std::chrono::milliseconds keep_alive_timeout{5000};
    // The time a body may keep the server waiting for its bytes, in all: this much, plus
    // `body_wait_per_mebibyte` for each MiB of it that has come.
    std::chrono::milliseconds body_wait{20000};
    std::chrono::milliseconds body_wait_per_mebibyte{1000};
    // The header section (request line and fields); past it the request gets 431.
    size_t header_section_limit = 64 * 1024;
    // Connections served at once; the next one waits in the listen queue until one ends.
    size_t connection_limit = 256;
    // Replies leave without waiting for the client's delayed acknowledgement.
    bool tcp_nodelay = true;
};

// A request's header fields as the client sent them, in order: the name as written and the
// value without the white space around it. NUL and CR inside a value read as spaces.
using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// Hands the request body to `receive` piece by piece as it arrives; false when the body ended
// before all of it came, took too long, or `receive` refused a piece.
using BodyStream = std::function<bool(const std::function<bool(std::string_view)>& receive)>;

// What a handler gets besides the library's parsed request.
struct ClientRequest {
    const HeaderFields& fields;
    // The body; it reads nothing for a request without one.
    BodyStream body;
    // The length the request declares for its body: 0 without a body; none when it comes
    // chunked.
    std::optional<uint64_t> body_length;
    // The socket of the client's connection, open while the request is being answered.
    int socket = -1;
};

// Answers one request. The library's request has no Accept-Encoding and no Range (the reply
// goes out whole and as built).
using RequestHandler =
    std::function<void(const httplib::Request&, httplib::Response&, const ClientRequest&)>;

// The library's server, with each accepted connection served by our loop on a thread of its own.
class LoopbackServer final : public httplib::Server {
  public:
    explicit LoopbackServer(ServerLimits limits);

    // Every request goes to `handler`; set before listening.
    void set_request_handler(RequestHandler handler);

    // Binds 127.0.0.1:port (0: any free port) and listens with the system's longest queue.
    // Returns the port, or -1.
    int bind_loopback(uint16_t port);

  private:
    bool process_and_close_socket(socket_t socket) override;

    ServerLimits limits_;
    RequestHandler handler_;
    int listening_socket_ = -1;
};

}  // namespace wrenfield
