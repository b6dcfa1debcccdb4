// The server's HTTP/1.1 side: the listening socket, a thread for each client connection, and
// our own loop over each connection, which reads every request's header section and body by the
// HTTP/1.1 framing rules and writes each reply.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <list>
#include <mutex>
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
    // How long a connection is kept open between requests, at the most.
    std::chrono::milliseconds keep_alive_timeout{5000};
    // The time a body may keep the server waiting for its bytes, in all: this much, plus
    // `body_wait_per_mebibyte` for each MiB of it that has come.
    std::chrono::milliseconds body_wait{20000};
    std::chrono::milliseconds body_wait_per_mebibyte{1000};
    // The header section (request line and fields); past it the request gets 431.
    size_t header_section_limit = 64 * 1024;
    // Connections served at once. When all are taken and another client connects, the one that
    // has waited longest between requests is closed to make room; while none waits, the new
    // one stays in the listen queue until one does or ends.
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

// Moves the next bytes of a request body into a pipe by the kernel, without passing them through
// our memory: up to `most` bytes into `pipe` (non-blocking, with room for some when called).
// Returns how many it moved, which may be 0 when the pipe took none this time; or, when it moved
// none, why: 0 when the body failed (it ended early or took too long), else the error number the
// pipe gave (EPIPE once its reader has gone). It is never asked for more than the body holds.
using BodyIntoPipe = std::function<std::expected<uint64_t, int>(int pipe, uint64_t most)>;

// The request line: the method, the target as sent, and the protocol version ("HTTP/1.1" or
// "HTTP/1.0").
struct RequestLine {
    std::string method;
    std::string target;
    std::string version;
};

// What a handler gets besides the request line.
struct ClientRequest {
    const HeaderFields& fields;
    // The body; it reads nothing for a request without one.
    BodyStream body;
    // The length the request declares for its body: 0 without a body; none when it comes
    // chunked.
    std::optional<uint64_t> body_length;
    // The socket of the client's connection, open while the request is being answered.
    int socket = -1;
    // Asks the client, once it has ended its sending side, whether it still waits for the reply:
    // the end may mean that it has gone or only that it has sent all it means to. An HTTP/1.1
    // client whose request is still running a second after it came, with no byte of the reply
    // written, is then sent the interim reply "102 Processing" (once per request), which a
    // client that still reads ignores, and to which the system of one that has closed its
    // socket answers with a reset that the caller's watch of the socket sees. A reply that is
    // ready by then goes out alone. True for an HTTP/1.1 client; false when the client cannot
    // be asked (HTTP/1.0 knows no interim replies).
    std::function<bool()> still_listening;
    // The body moved into a pipe instead of handed over (see BodyIntoPipe); it goes on from
    // where `body` stopped, and `body` goes on from where it stopped. Only for a body of a
    // declared length; none for a chunked one, whose chunk lines must pass through our hands.
    BodyIntoPipe body_into_pipe;
};

// The next piece of a body that is sent as it is made: empty at its end; an error when making
// it failed part way, which must end the reply so that it cannot pass for complete.
using BodyPieces = std::function<std::expected<std::string_view, std::string>()>;

// A reply as the handler leaves it. The header fields go out in the order of their names (with
// Content-Length or Transfer-Encoding and Connection added as needed); Range and
// Accept-Encoding are never acted on, so the body goes out whole and as built. With `pieces`
// the body is sent chunked as the pieces come, and a failure part way closes the connection
// without the closing chunk, so that the client sees a cut reply, never a complete one. The
// pieces (and whatever makes them, such as a running child) are let go as soon as the reply has
// been written or abandoned.
struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    BodyPieces pieces;
};

// A bound on the bytes of request bodies that handlers hold whole at one time, shared by the
// requests of one server, so that many large bodies at once cannot take the memory of the
// machine.
class BodyBudget {
  public:
    explicit BodyBudget(uint64_t limit) : limit_(limit) {}
    BodyBudget(const BodyBudget&) = delete;
    BodyBudget& operator=(const BodyBudget&) = delete;

    // A part of the budget held by one request, given back when it goes.
    class Share {
      public:
        explicit Share(BodyBudget& budget) : budget_(&budget) {}
        ~Share();
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;

        // Takes `bytes` more, waiting up to `wait` for them to be given back by other requests;
        // false when they were not in time (or the budget could never hold them).
        bool grow(uint64_t bytes, std::chrono::milliseconds wait);
        uint64_t bytes() const { return bytes_; }

      private:
        BodyBudget* budget_;
        uint64_t bytes_ = 0;
    };

  private:
    std::mutex mutex_;
    std::condition_variable given_back_;
    const uint64_t limit_;
    uint64_t used_ = 0;
};

// Answers one request.
using RequestHandler = std::function<void(const RequestLine&, HttpResponse&, const ClientRequest&)>;

// The listening socket on 127.0.0.1, with each accepted connection served by our loop on a
// thread of its own, so that a request that waits for the remote machine never holds up
// another one.
class LoopbackServer final {
  public:
    explicit LoopbackServer(ServerLimits limits);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Every request goes to `handler`; set before listening.
    void set_request_handler(RequestHandler handler);

    // Binds 127.0.0.1:port (0: any free port) and listens with the system's longest queue.
    // Returns the port bound, or the system's message text.
    std::expected<uint16_t, std::string> bind_loopback(uint16_t port);

    // Accepts connections until stop(); returns once every connection thread has ended.
    void listen_after_bind();
    bool is_running() const { return running_; }
    // Ends the accept loop; callable from any thread, before or while it runs.
    void stop();

  private:
    // A connection being served, as the accept loop sees it.
    struct Slot {
        int socket = -1;
        // Waiting for the next request, no byte of which has come yet, since `idle_since`.
        bool idle = false;
        std::chrono::steady_clock::time_point idle_since;
        // Closed by the accept loop to make room; its thread is ending.
        bool closing = false;
    };
    using Slots = std::list<Slot>;

    void serve_connection(Slots::iterator slot);
    // Marks the connection idle or busy; false once it has been closed to make room.
    bool set_idle(Slots::iterator slot, bool idle);
    // With `mutex_` held: closes the connection that has been idle the longest; false when none is.
    bool close_longest_idle();
    void connection_ended(Slots::iterator slot);

    ServerLimits limits_;
    RequestHandler handler_;
    int listening_socket_ = -1;
    // Written to by stop() to wake the accept loop.
    int wake_pipe_[2] = {-1, -1};
    std::atomic<bool> running_ = false;
    std::atomic<bool> stopping_ = false;

    // The connections being served; at most `connection_limit` at once, besides those closing.
    std::mutex mutex_;
    std::condition_variable changed_;
    Slots slots_;
    size_t closing_ = 0;
};

}  // namespace wrenfield
