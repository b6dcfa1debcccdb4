#include "server/http_connection.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <expected>
#include <limits>
#include <memory>
#include <mutex>

#include "base/os_error.h"
#include "base/text.h"
#include "server/peer_owner.h"

namespace wrenfield {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t connection_thread_stack_size = 2 * 1024 * 1024;
constexpr size_t read_size = 64 * 1024;
// The rest of a body nobody read is read and dropped after the reply, so that the next request
// on the connection starts where it should; a longer rest closes the connection instead.
constexpr uint64_t drain_limit = 4 << 20;
// How long a connection that is closed while its client may still be sending keeps reading
// and dropping, so that the client sees the reply rather than a reset.
constexpr auto linger_time = std::chrono::milliseconds(500);

// How a request's body is delimited (RFC 9112, section 6.3).
struct Framing {
    enum class Kind { None, Length, Chunked };
    Kind kind = Kind::None;
    uint64_t length = 0;
};

// A request refused before it reached the library: the status and the error text of the reply.
struct Refusal {
    int status = 400;
    std::string message;
};

struct RequestHead {
    // What the library parses: the request line and the fields it may see, in CRLF lines.
    std::string text;
    HeaderFields fields;
    Framing framing;
};

bool is_space_or_tab(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim_space_and_tab(std::string_view text) {
    while (!text.empty() && is_space_or_tab(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space_or_tab(text.back()))
        text.remove_suffix(1);
    return text;
}

// The comma-separated elements of the values of every field named `name` (RFC 9110, 5.6.1).
std::vector<std::string> list_elements(const HeaderFields& fields, std::string_view name) {
    std::vector<std::string> elements;
    for (const auto& [field, value] : fields) {
        if (ascii_lower(field) != name)
            continue;
        std::string_view rest = value;
        for (;;) {
            const size_t comma = rest.find(',');
            elements.emplace_back(trim_space_and_tab(rest.substr(0, comma)));
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    return elements;
}

bool has_field(const HeaderFields& fields, std::string_view name) {
    return std::ranges::any_of(
        fields, [name](const auto& field) { return ascii_lower(field.first) == name; });
}

// The body's framing from Transfer-Encoding and Content-Length.
std::expected<Framing, Refusal> body_framing(const HeaderFields& fields) {
    if (has_field(fields, "transfer-encoding")) {
        // Both framings in one request is the shape of request smuggling: refused outright.
        if (has_field(fields, "content-length"))
            return std::unexpected(Refusal{400, "Both Transfer-Encoding and Content-Length given"});
        std::vector<std::string> codings = list_elements(fields, "transfer-encoding");
        if (codings.size() != 1 || ascii_lower(codings.front()) != "chunked")
            return std::unexpected(Refusal{501, "Unsupported Transfer-Encoding"});
        return Framing{Framing::Kind::Chunked, 0};
    }
    std::optional<uint64_t> length;
    for (const std::string& element : list_elements(fields, "content-length")) {
        uint64_t value = 0;
        const auto [end, error] =
            std::from_chars(element.data(), element.data() + element.size(), value);
        if (element.empty() || element.front() == '+' || error != std::errc() ||
            end != element.data() + element.size()) {
            return std::unexpected(Refusal{400, "Invalid Content-Length"});
        }
        if (length && *length != value)
            return std::unexpected(Refusal{400, "Conflicting Content-Length values"});
        length = value;
    }
    if (!length)
        return Framing{};
    return Framing{Framing::Kind::Length, *length};
}

// The fields the library would act on by itself and that are left out of what it sees: a
// reply goes out whole and as built. With Accept-Encoding it would compress the page and the
// style sheets for every browser (at tens of milliseconds of Brotli per load); with Range it
// would answer with the requested bytes under status 200, which passes a fragment off as the
// whole, or refuse a range it cannot read before our handler is asked.
bool is_hidden_from_library(std::string_view name) {
    const std::string lower = ascii_lower(name);
    return lower == "accept-encoding" || lower == "range" || lower == "if-range";
}

// Reads the header section into its fields. A NUL or a lone CR is read as a space, as RFC 9110
// (section 5.5) allows, so that "Host: 127.0.0.1:P\0evil" is a foreign host and not, as a C
// string would have it, ours.
std::expected<RequestHead, Refusal> parse_head(std::string_view section) {
    RequestHead head;
    bool first = true;
    while (!section.empty()) {
        const size_t end = section.find('\n');
        std::string line(section.substr(0, end));
        section.remove_prefix(end == std::string_view::npos ? section.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::ranges::replace(line, '\0', ' ');
        std::ranges::replace(line, '\r', ' ');
        if (first) {
            head.text = line + "\r\n";
            first = false;
            continue;
        }
        if (line.empty())
            break;
        const size_t colon = line.find(':');
        if (is_space_or_tab(line.front()))
            return std::unexpected(Refusal{400, "Folded header field"});
        if (colon == std::string::npos || colon == 0 ||
            std::ranges::any_of(line.substr(0, colon), is_space_or_tab)) {
            return std::unexpected(Refusal{400, "Malformed header field"});
        }
        std::string name = line.substr(0, colon);
        std::string value(trim_space_and_tab(std::string_view(line).substr(colon + 1)));
        if (!is_hidden_from_library(name))
            head.text += name + ": " + value + "\r\n";
        head.fields.emplace_back(std::move(name), std::move(value));
    }
    head.text += "\r\n";
    auto framing = body_framing(head.fields);
    if (!framing)
        return std::unexpected(framing.error());
    head.framing = *framing;
    return head;
}

// Whether the request line names HTTP/1.1, whose clients take interim replies; an HTTP/1.0
// client must not be sent one.
bool takes_interim_replies(std::string_view head) {
    return head.substr(0, head.find("\r\n")).ends_with(" HTTP/1.1");
}

std::string_view reason_phrase(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Not Implemented";
    }
}

// One end of a socket (`peer` false: ours) in the library's numeric form.
void socket_end(int socket, bool peer, std::string& address, int& port) {
    sockaddr_storage end{};
    socklen_t length = sizeof end;
    auto* at = reinterpret_cast<sockaddr*>(&end);
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if ((peer ? ::getpeername(socket, at, &length) : ::getsockname(socket, at, &length)) != 0 ||
        ::getnameinfo(at, length, host, sizeof host, service, sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return;
    }
    address = host;
    port = std::atoi(service);
}

// One client connection: its socket, the bytes read from it and not yet used (the start of a
// pipelined request stays here for the next round), and the body of the current request.
class ClientConnection {
  public:
    ClientConnection(int socket, const ServerLimits& limits) : socket_(socket), limits_(limits) {}
    ~ClientConnection() { ::close(socket_); }
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    int socket() const { return socket_; }

    // Waits, up to the keep-alive time, for the first byte of the next request.
    bool wait_for_request() {
        return available() > 0 || fill(Clock::now() + limits_.keep_alive_timeout) == Fill::Data;
    }

    // The next header section, given the read timeout in all. An error without a refusal means
    // the client stopped or left: there is no one to answer.
    std::expected<RequestHead, std::optional<Refusal>> read_head() {
        const auto deadline = Clock::now() + limits_.read_timeout;
        for (;;) {
            // Empty lines before a request line are skipped (RFC 9112, section 2.2).
            while (available() > 0 && (pending().front() == '\r' || pending().front() == '\n'))
                consume(1);
            const std::string_view bytes = pending();
            size_t end = std::string_view::npos;
            for (size_t at = bytes.find('\n'); at != std::string_view::npos;
                 at = bytes.find('\n', at + 1)) {
                if (bytes.substr(at + 1).starts_with("\n")) {
                    end = at + 2;
                    break;
                }
                if (bytes.substr(at + 1).starts_with("\r\n")) {
                    end = at + 3;
                    break;
                }
            }
            if (end != std::string_view::npos && end <= limits_.header_section_limit) {
                auto head = parse_head(bytes.substr(0, end));
                consume(end);
                if (!head)
                    return std::unexpected(head.error());
                return std::move(*head);
            }
            if (bytes.size() > limits_.header_section_limit) {
                return std::unexpected(
                    Refusal{431, "The request's header section is larger than " +
                                     std::to_string(limits_.header_section_limit / 1024) + " KiB"});
            }
            if (fill(deadline) != Fill::Data)
                return std::unexpected(std::nullopt);
        }
    }

    void begin_body(Framing framing) {
        framing_ = framing;
        state_ = framing.kind == Framing::Kind::None ? BodyState::Done
                 : framing.kind == Framing::Kind::Length
                     ? (framing.length == 0 ? BodyState::Done : BodyState::Data)
                     : BodyState::Size;
        remaining_ = framing.length;
        received_ = 0;
        waited_ = Clock::duration::zero();
    }

    // Reads the current body on from where it stands, handing its bytes to `receive`; true once
    // the whole body has come.
    bool read_body(const std::function<bool(std::string_view)>& receive) {
        for (;;) {
            switch (state_) {
                case BodyState::Done:
                    return true;
                case BodyState::Failed:
                    return false;
                case BodyState::Data: {
                    if (available() == 0 && !fill_body())
                        return fail();
                    const size_t length =
                        static_cast<size_t>(std::min<uint64_t>(available(), remaining_));
                    const std::string_view piece = pending().substr(0, length);
                    remaining_ -= length;
                    received_ += length;
                    if (remaining_ == 0) {
                        state_ = framing_.kind == Framing::Kind::Chunked ? BodyState::DataEnd
                                                                         : BodyState::Done;
                    }
                    const bool taken = receive(piece);
                    consume(length);
                    if (!taken)
                        return false;
                    break;
                }
                case BodyState::Size: {
                    auto line = read_line();
                    if (!line)
                        return fail();
                    // The size, then perhaps extensions after ";", which mean nothing here.
                    const std::string_view size =
                        trim_space_and_tab(std::string_view(*line).substr(0, line->find(';')));
                    uint64_t value = 0;
                    const auto [end, error] =
                        std::from_chars(size.data(), size.data() + size.size(), value, 16);
                    if (size.empty() || error != std::errc() || end != size.data() + size.size())
                        return fail();
                    remaining_ = value;
                    state_ = value == 0 ? BodyState::Trailer : BodyState::Data;
                    break;
                }
                case BodyState::DataEnd: {
                    auto line = read_line();
                    if (!line || !line->empty())
                        return fail();
                    state_ = BodyState::Size;
                    break;
                }
                case BodyState::Trailer: {
                    // Trailer fields are read and dropped; an empty line ends the body.
                    auto line = read_line();
                    if (!line)
                        return fail();
                    if (line->empty())
                        state_ = BodyState::Done;
                    break;
                }
            }
        }
    }

    // After the reply: reads and drops what is left of the body. False when the connection
    // cannot carry another request (the body failed, or too much of it is left).
    bool finish_body() {
        if (state_ == BodyState::Data && framing_.kind == Framing::Kind::Length &&
            remaining_ > drain_limit) {
            return false;
        }
        uint64_t dropped = 0;
        read_body([&dropped](std::string_view piece) {
            dropped += piece.size();
            return dropped <= drain_limit;
        });
        return state_ == BodyState::Done;
    }

    // A new request is being answered; `interim_allowed` when its client takes interim replies.
    void begin_reply(bool interim_allowed) {
        reply_started_ = false;
        interim_allowed_ = interim_allowed;
        interim_sent_ = false;
    }

    // Writes all of `data` as part of the reply.
    bool write(std::string_view data) {
        reply_started_ = true;
        return send_all(data);
    }

    // See ClientRequest::still_listening. The interim reply never goes out once the reply has
    // begun, where it would land inside it.
    bool still_listening() {
        if (reply_started_ || interim_sent_)
            return true;
        if (!interim_allowed_)
            return false;
        interim_sent_ = true;
        if (send_all("HTTP/1.1 102 Processing\r\n\r\n"))
            return true;
        // A part of the message may have gone: nothing more may follow it.
        ::shutdown(socket_, SHUT_RDWR);
        return false;
    }

    bool writable() const { return wait(POLLOUT, Clock::now() + limits_.write_timeout); }

    // Answers a request refused before it reached the library, and says the connection closes.
    void refuse(const Refusal& refusal) {
        const std::string body = R"({"success":false,"error":")" + refusal.message + R"("})";
        write("HTTP/1.1 " + std::to_string(refusal.status) + " " +
              std::string(reason_phrase(refusal.status)) +
              "\r\nContent-Type: application/json; charset=utf-8\r\n"
              "Access-Control-Allow-Origin: *\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }

    // Ends our side; when the client may still be sending, what it sends is read and dropped for
    // a moment, so that its system does not answer our reply with a reset.
    void linger() {
        ::shutdown(socket_, SHUT_WR);
        const auto deadline = Clock::now() + linger_time;
        while (fill(deadline) == Fill::Data)
            consume(available());
    }

  private:
    enum class Fill { Data, End, Timeout };
    enum class BodyState { Size, Data, DataEnd, Trailer, Done, Failed };

    // Writes all of `data`, waiting at most the write timeout each time the client does not take
    // more.
    bool send_all(std::string_view data) {
        while (!data.empty()) {
            if (!wait(POLLOUT, Clock::now() + limits_.write_timeout))
                return false;
            const ssize_t sent = ::send(socket_, data.data(), data.size(), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return false;
            }
            data.remove_prefix(static_cast<size_t>(sent));
        }
        return true;
    }

    size_t available() const { return buffer_.size() - start_; }
    std::string_view pending() const { return std::string_view(buffer_).substr(start_); }
    void consume(size_t count) {
        start_ += count;
        if (start_ == buffer_.size()) {
            buffer_.clear();
            start_ = 0;
        }
    }

    bool wait(short events, Clock::time_point deadline) const {
        for (;;) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd entry{socket_, events, 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left, 60000)));
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
    }

    // Reads what the socket has, waiting until `deadline` for something.
    Fill fill(Clock::time_point deadline) {
        if (!wait(POLLIN, deadline))
            return Fill::Timeout;
        if (start_ > 0 && start_ >= buffer_.size() / 2) {
            buffer_.erase(0, start_);
            start_ = 0;
        }
        const size_t used = buffer_.size();
        buffer_.resize(used + read_size);
        const ssize_t count = ::recv(socket_, buffer_.data() + used, read_size, 0);
        buffer_.resize(used + static_cast<size_t>(std::max<ssize_t>(count, 0)));
        return count > 0 ? Fill::Data : Fill::End;
    }

    // Waits for more of the body. The time spent waiting counts against the body's allowance,
    // which grows only with the bytes that have come: a body whose bytes trickle in is given up
    // after a bounded time in all, whatever each single wait and whatever length it declares.
    bool fill_body() {
        const auto allowance =
            Clock::duration(limits_.body_wait) +
            limits_.body_wait_per_mebibyte * static_cast<int64_t>(received_ >> 20);
        if (waited_ >= allowance)
            return false;
        const auto started = Clock::now();
        const auto slice = std::min<Clock::duration>(limits_.read_timeout, allowance - waited_);
        const Fill result = fill(started + slice);
        waited_ += Clock::now() - started;
        return result == Fill::Data;
    }

    // The next line of a chunked body, without its line end.
    std::optional<std::string> read_line() {
        for (;;) {
            const size_t end = pending().find('\n');
            if (end != std::string_view::npos) {
                std::string line(pending().substr(0, end));
                consume(end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            if (available() > limits_.header_section_limit || !fill_body())
                return std::nullopt;
        }
    }

    bool fail() {
        state_ = BodyState::Failed;
        return false;
    }

    int socket_;
    const ServerLimits& limits_;
    std::string buffer_;
    size_t start_ = 0;

    Framing framing_;
    BodyState state_ = BodyState::Done;
    uint64_t remaining_ = 0;
    uint64_t received_ = 0;
    Clock::duration waited_{};

    // For the reply to the current request: whether a byte of it has been written, whether its
    // client takes interim replies, and whether it was sent one.
    bool reply_started_ = false;
    bool interim_allowed_ = false;
    bool interim_sent_ = false;
};

// What the library reads and writes for one request: the header section as parsed here, and
// writes that go straight to the client. The library never reads a body (every request is
// handled before it would), so it cannot take the next request's bytes for this one's.
class RequestStream final : public httplib::Stream {
  public:
    RequestStream(ClientConnection& client, const std::string& head)
        : client_(client), head_(head) {}

    bool is_readable() const override { return offset_ < head_.size(); }
    bool is_writable() const override { return client_.writable(); }
    ssize_t read(char* data, size_t size) override {
        const size_t count = std::min(size, head_.size() - offset_);
        std::copy_n(head_.data() + offset_, count, data);
        offset_ += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(const char* data, size_t size) override {
        return client_.write(std::string_view(data, size)) ? static_cast<ssize_t>(size) : -1;
    }
    void get_remote_ip_and_port(std::string& address, int& port) const override {
        socket_end(client_.socket(), true, address, port);
    }
    void get_local_ip_and_port(std::string& address, int& port) const override {
        socket_end(client_.socket(), false, address, port);
    }
    socket_t socket() const override { return client_.socket(); }

  private:
    ClientConnection& client_;
    const std::string& head_;
    size_t offset_ = 0;
};

// Set on the accept loop's thread while it closes a connection for which no thread could be
// started.
thread_local bool closing_unserved = false;

// The request being answered on this thread. The library hands its handlers neither the
// stream nor the socket, but runs them on the thread that called it, inside our loop.
thread_local const ClientRequest* current_request = nullptr;

// The library's task queue, replaced: each accepted connection gets a detached thread of its
// own instead of a place in a fixed pool, so that a request that waits for the remote machine
// never holds up another one. At most `connection_limit` are served at once; the accept loop
// waits for one to end beyond that (an idle one ends after the keep-alive time), and the new
// connections wait in the listen queue.
class ConnectionThreads final : public httplib::TaskQueue {
  public:
    explicit ConnectionThreads(size_t limit) : limit_(limit) {}

    void enqueue(std::function<void()> task) override {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return running_ < limit_; });
            ++running_;
        }
        int error = 0;
        try {
            auto job = std::make_unique<Job>(Job{std::move(task), this});
            pthread_attr_t attributes;
            pthread_attr_init(&attributes);
            pthread_attr_setstacksize(&attributes, connection_thread_stack_size);
            pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
            pthread_t thread;
            error = pthread_create(&thread, &attributes, &ConnectionThreads::run, job.get());
            pthread_attr_destroy(&attributes);
            if (error == 0) {
                job.release();
                return;
            }
            task = std::move(job->task);
        } catch (const std::bad_alloc&) {
            error = ENOMEM;
        }
        finished();
        // Without a thread of its own the connection is closed unserved, here; the accept loop
        // goes on, and later connections are served as threads can be started again.
        std::fprintf(stderr, "failed to spawn thread: %s\n", os_error_text(error).c_str());
        closing_unserved = true;
        try {
            if (task)
                task();
        } catch (...) {
        }
        closing_unserved = false;
    }

    // Called when the accept loop has ended: waits for the connection threads still running,
    // since they use the server object.
    void shutdown() override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return running_ == 0; });
    }

  private:
    struct Job {
        std::function<void()> task;
        ConnectionThreads* queue;
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
        ConnectionThreads* queue = job->queue;
        job.reset();
        queue->finished();
        return nullptr;
    }

    void finished() {
        std::lock_guard lock(mutex_);
        --running_;
        changed_.notify_all();
    }

    const size_t limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t running_ = 0;
};

}  // namespace

LoopbackServer::LoopbackServer(ServerLimits limits) : limits_(limits) {
    set_tcp_nodelay(limits_.tcp_nodelay);
    new_task_queue = [this] { return new ConnectionThreads(limits_.connection_limit); };
    // Every request is answered here, before the library's own routing (which matches paths
    // with regular expressions that recurse once per character, and would read bodies itself).
    set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (current_request == nullptr || !handler_)
            return HandlerResponse::Unhandled;
        handler_(request, response, *current_request);
        return HandlerResponse::Handled;
    });
}

void LoopbackServer::set_request_handler(RequestHandler handler) {
    handler_ = std::move(handler);
}

int LoopbackServer::bind_loopback(uint16_t port) {
    // Only SO_REUSEADDR: a second program must not be able to share our port.
    set_socket_options([this](int socket) {
        int on = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        listening_socket_ = socket;
    });
    const int bound =
        port == 0 ? bind_to_any_port("127.0.0.1") : (bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound > 0) {
        // The library listens with a queue of 5 pending connections, so a burst of connects
        // (a page loading its files, a script) has some dropped and retried a second later.
        // Listening again only sets the queue length; the system caps a length beyond its own
        // maximum (net.core.somaxconn) at that maximum.
        ::listen(listening_socket_, std::numeric_limits<int>::max());
    }
    return bound;
}

// The library's own loop over a connection reads each request through a fresh buffer, so the
// start of a pipelined request is lost with the last one, and it leaves a body it was not asked
// to read (a GET's) to be parsed as the next request. Here each header section and body is read
// by its framing, and the library only parses the header section and writes the reply.
bool LoopbackServer::process_and_close_socket(socket_t socket) {
    ClientConnection client(socket, limits_);
    if (closing_unserved)
        return false;
    // Other accounts on this machine reach the loopback port too; only the user's own
    // processes are served.
    if (!is_own_users_connection(socket))
        return false;
    while (client.wait_for_request()) {
        auto head = client.read_head();
        if (!head) {
            if (head.error()) {
                client.refuse(*head.error());
                client.linger();
            }
            return false;
        }
        client.begin_body(head->framing);
        const ClientRequest request{
            head->fields, [&client](const auto& receive) { return client.read_body(receive); },
            head->framing.kind == Framing::Kind::Chunked ? std::nullopt
                                                         : std::optional(head->framing.length),
            socket, [&client] { return client.still_listening(); }};
        client.begin_reply(takes_interim_replies(head->text));
        RequestStream stream(client, head->text);
        bool connection_closed = false;
        current_request = &request;
        const bool answered = process_request(stream, false, connection_closed, nullptr);
        current_request = nullptr;
        if (!answered || !client.finish_body()) {
            client.linger();
            return false;
        }
        if (connection_closed)
            break;
    }
    ::shutdown(socket, SHUT_WR);
    return true;
}

}  // namespace wrenfield
