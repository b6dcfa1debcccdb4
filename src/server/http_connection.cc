#include "server/http_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "base/os_error.h"
#include "base/text.h"
#include "server/peer_owner.h"

namespace wrenfield {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t connection_thread_stack_size = 2 * 1024 * 1024;
constexpr size_t read_size = 64 * 1024;
// A body's bytes are read in steps of up to this much, straight into a buffer of their own: a
// large upload then costs few reads and reaches its handler in large pieces.
constexpr size_t body_read_size = 1024 * 1024;
// The rest of a body nobody read is read and dropped after the reply, so that the next request
// on the connection starts where it should; a longer rest closes the connection instead.
constexpr uint64_t drain_limit = 4 << 20;
// How long a connection that is closed while its client may still be sending keeps reading
// and dropping, so that the client sees the reply rather than a reset.
constexpr auto linger_time = std::chrono::milliseconds(500);
// The longest request line and the longest header field line, each with its line end: past it
// the request gets 414 or 400.
constexpr size_t line_length_limit = 8192;
// How long a request whose client has ended its sending side runs before the client is sent
// the interim reply that tells whether it still listens.
constexpr auto interim_delay = std::chrono::seconds(1);

// How a request's body is delimited (RFC 9112, section 6.3).
struct Framing {
    enum class Kind { None, Length, Chunked };
    Kind kind = Kind::None;
    uint64_t length = 0;
};

// A request refused before it reached the handler: the status and the error text of the reply
// (none: a reply without a body).
struct Refusal {
    int status = 400;
    std::string message;
};

struct RequestHead {
    RequestLine line;
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

// The request line: a method of HTTP/1.1, a target and the version, apart by spaces (any number
// of them).
std::optional<RequestLine> parse_request_line(std::string_view line) {
    std::vector<std::string> parts;
    for (;;) {
        while (line.starts_with(' '))
            line.remove_prefix(1);
        if (line.empty())
            break;
        const size_t end = std::min(line.find(' '), line.size());
        parts.emplace_back(line.substr(0, end));
        line.remove_prefix(end);
    }
    static constexpr std::string_view methods[] = {"GET",     "HEAD",    "POST",  "PUT",   "DELETE",
                                                   "CONNECT", "OPTIONS", "TRACE", "PATCH", "PRI"};
    if (parts.size() != 3 || std::ranges::find(methods, parts[0]) == std::end(methods) ||
        (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0")) {
        return std::nullopt;
    }
    return RequestLine{std::move(parts[0]), std::move(parts[1]), std::move(parts[2])};
}

// Reads the header section into its fields. A NUL or a lone CR is read as a space, as RFC 9110
// (section 5.5) allows, so that "Host: 127.0.0.1:P\0evil" is a foreign host and not, as a C
// string would have it, ours.
std::expected<RequestHead, Refusal> parse_head(std::string_view section) {
    RequestHead head;
    std::string request_line;
    size_t longest_field = 0;
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
            request_line = std::move(line);
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
        longest_field = std::max(longest_field, name.size() + 2 + value.size());
        head.fields.emplace_back(std::move(name), std::move(value));
    }
    auto framing = body_framing(head.fields);
    if (!framing)
        return std::unexpected(framing.error());
    head.framing = *framing;
    if (request_line.size() + 2 > line_length_limit)
        return std::unexpected(Refusal{414, {}});
    auto parsed = parse_request_line(request_line);
    if (!parsed || longest_field + 2 > line_length_limit)
        return std::unexpected(Refusal{400, {}});
    // HTTP/1.0 has no chunked framing: such a message may have passed a 1.0 intermediary that
    // framed it otherwise.
    if (parsed->version == "HTTP/1.0" && head.framing.kind == Framing::Kind::Chunked)
        return std::unexpected(Refusal{400, "Transfer-Encoding is not allowed in HTTP/1.0"});
    head.line = std::move(*parsed);
    return head;
}

std::string_view reason_phrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 102:
            return "Processing";
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 409:
            return "Conflict";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 414:
            return "URI Too Long";
        case 415:
            return "Unsupported Media Type";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        case 507:
            return "Insufficient Storage";
        default:
            return "";
    }
}

std::string status_line(int status) {
    return "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason_phrase(status)) + "\r\n";
}

// The first value of the field named `name`, if the request has one.
std::optional<std::string_view> first_value(const HeaderFields& fields, std::string_view name) {
    for (const auto& [field, value] : fields) {
        if (ascii_lower(field) == name)
            return value;
    }
    return std::nullopt;
}

// The interim reply "102 Processing" of one request, sent by a thread of its own once the
// request has run a while, unless the request's reply has begun or the request has ended by
// then. The connection sets `ended` (under the mutex) before the reply's first byte and before
// it closes the socket, so that nothing is ever written inside a reply or to a socket that has
// been closed.
struct InterimReply {
    std::mutex mutex;
    std::condition_variable changed;
    int socket = -1;
    bool ended = false;
};

// Waits until `when`, then sends the interim reply unless it has been ended. A client that has
// gone answers it with a reset, which the run watching its socket sees; a message that could
// not go out whole leaves the connection unusable, and it is shut.
void send_interim_reply(std::shared_ptr<InterimReply> interim, Clock::time_point when) {
    std::unique_lock lock(interim->mutex);
    if (interim->changed.wait_until(lock, when, [&] { return interim->ended; }))
        return;
    interim->ended = true;
    constexpr std::string_view message = "HTTP/1.1 102 Processing\r\n\r\n";
    if (::send(interim->socket, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(message.size())) {
        ::shutdown(interim->socket, SHUT_RDWR);
    }
}

// One client connection: its socket, the bytes read from it and not yet used (the start of a
// pipelined request stays here for the next round), and the body of the current request.
class ClientConnection {
  public:
    ClientConnection(int socket, const ServerLimits& limits) : socket_(socket), limits_(limits) {}
    ~ClientConnection() {
        end_interim();
        ::close(socket_);
    }
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    int socket() const { return socket_; }

    // Whether bytes of the next request have been read already (it came pipelined).
    bool has_pending() const { return available() > 0; }

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
                    // Bytes read with the header section (or a chunk's size line) come first;
                    // after them the body is read on its own, never past its end.
                    const bool direct = available() == 0;
                    std::string_view piece;
                    if (!direct) {
                        piece = pending().substr(
                            0, static_cast<size_t>(std::min<uint64_t>(available(), remaining_)));
                    } else if (auto read = read_body_bytes()) {
                        piece = *read;
                    } else {
                        return fail();
                    }
                    const size_t length = piece.size();
                    body_taken(length);
                    const bool taken = receive(piece);
                    if (!direct)
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

    // See BodyIntoPipe. Bytes read with the header section come first, written from where they
    // lie; after them the socket's bytes are spliced into the pipe, never past the body's end.
    // Where the kernel cannot splice from the socket, they are read and written instead.
    std::expected<uint64_t, int> move_body_into(int pipe, uint64_t most) {
        if (state_ != BodyState::Data || framing_.kind != Framing::Kind::Length)
            return std::unexpected(0);
        const size_t wanted = static_cast<size_t>(std::min({most, remaining_, body_read_size}));
        if (available() == 0 && splicing_) {
            ssize_t moved = 0;
            int error = 0;
            const bool came = wait_for_body([&](Clock::time_point deadline) {
                if (!wait(POLLIN, deadline))
                    return Fill::Timeout;
                moved = ::splice(socket_, nullptr, pipe, nullptr, wanted,
                                 SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
                if (moved < 0) {
                    error = errno;
                    moved = 0;
                    return error == EINTR || error == EAGAIN || error == EINVAL ? Fill::Data
                                                                                : Fill::End;
                }
                return moved > 0 ? Fill::Data : Fill::End;
            });
            if (error == EINVAL) {
                splicing_ = false;
            } else if (error == EPIPE) {
                return std::unexpected(EPIPE);
            } else if (!came) {
                fail();
                return std::unexpected(0);
            } else {
                body_taken(static_cast<size_t>(moved));
                return static_cast<uint64_t>(moved);
            }
        }
        if (available() == 0 && !fill_body()) {
            fail();
            return std::unexpected(0);
        }
        const ssize_t written = ::write(pipe, pending().data(), std::min(available(), wanted));
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                return 0;
            return std::unexpected(errno);
        }
        consume(static_cast<size_t>(written));
        body_taken(static_cast<size_t>(written));
        return static_cast<uint64_t>(written);
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
        end_interim();
        interim_ = std::make_shared<InterimReply>();
        interim_->socket = socket_;
        request_started_ = Clock::now();
        reply_started_ = false;
        interim_allowed_ = interim_allowed;
        interim_armed_ = false;
    }

    // Writes all of `data` as part of the reply.
    bool write(std::string_view data) { return write_parts({data}); }

    // Writes the parts one after the other as part of the reply, without joining them first.
    bool write_parts(std::initializer_list<std::string_view> parts) {
        if (!reply_started_)
            end_interim();
        reply_started_ = true;
        return send_all(parts);
    }

    // See ClientRequest::still_listening. The interim reply goes out only once the request has
    // run for `interim_delay` without its reply having begun, where it would land inside it: a
    // reply that is ready by then goes out alone.
    bool still_listening() {
        if (reply_started_ || interim_armed_)
            return true;
        if (!interim_allowed_)
            return false;
        interim_armed_ = true;
        try {
            std::thread(send_interim_reply, interim_, request_started_ + interim_delay).detach();
        } catch (const std::system_error&) {
            // No thread to wait with: asked at once instead.
            send_interim_reply(interim_, Clock::now());
        }
        return true;
    }

    // Answers a request refused before it reached the handler; the connection closes after it.
    void refuse(const Refusal& refusal) {
        if (refusal.message.empty()) {
            write(status_line(refusal.status) + "Connection: close\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        const std::string body = R"({"success":false,"error":")" + refusal.message + R"("})";
        write(status_line(refusal.status) +
              "Content-Type: application/json; charset=utf-8\r\n"
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

    // Writes all of the parts, in order, waiting at most the write timeout each time the client
    // does not take more.
    bool send_all(std::initializer_list<std::string_view> parts) {
        constexpr size_t max_parts = 4;
        if (parts.size() > max_parts) {
            return std::ranges::all_of(parts,
                                       [this](std::string_view part) { return send_all({part}); });
        }
        iovec vectors[max_parts];
        size_t count = 0;
        for (std::string_view part : parts) {
            if (!part.empty())
                vectors[count++] = {const_cast<char*>(part.data()), part.size()};
        }
        iovec* next = vectors;
        while (count > 0) {
            if (!wait(POLLOUT, Clock::now() + limits_.write_timeout))
                return false;
            msghdr message{};
            message.msg_iov = next;
            message.msg_iovlen = count;
            const ssize_t sent = ::sendmsg(socket_, &message, MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return false;
            }
            // Past the parts that went whole, then into the one that went in part.
            for (size_t left = static_cast<size_t>(sent); left > 0;) {
                const size_t taken = std::min(left, next->iov_len);
                next->iov_base = static_cast<char*>(next->iov_base) + taken;
                next->iov_len -= taken;
                left -= taken;
                if (next->iov_len == 0) {
                    ++next;
                    --count;
                }
            }
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

    // Reads what the socket has into `into`, up to `size` bytes, waiting until `deadline` for
    // something; `count` is what came.
    Fill receive_into(char* into, size_t size, Clock::time_point deadline, size_t& count) {
        count = 0;
        if (!wait(POLLIN, deadline))
            return Fill::Timeout;
        const ssize_t received = ::recv(socket_, into, size, 0);
        if (received <= 0)
            return Fill::End;
        count = static_cast<size_t>(received);
        return Fill::Data;
    }

    // Reads what the socket has, waiting until `deadline` for something.
    Fill fill(Clock::time_point deadline) {
        if (start_ > 0 && start_ >= buffer_.size() / 2) {
            buffer_.erase(0, start_);
            start_ = 0;
        }
        const size_t used = buffer_.size();
        buffer_.resize(used + read_size);
        size_t count = 0;
        const Fill result = receive_into(buffer_.data() + used, read_size, deadline, count);
        buffer_.resize(used + count);
        return result;
    }

    // Waits for more of the body into the pending bytes (for a chunk's lines).
    bool fill_body() {
        return wait_for_body([this](Clock::time_point deadline) { return fill(deadline); });
    }

    // The next bytes of the body's data, read into the body buffer: at most what is left of
    // the current chunk or length. Nothing when the client stopped sending or took too long.
    std::optional<std::string_view> read_body_bytes() {
        if (!body_buffer_)
            body_buffer_ = std::make_unique_for_overwrite<char[]>(body_read_size);
        const size_t size = static_cast<size_t>(std::min<uint64_t>(remaining_, body_read_size));
        size_t count = 0;
        if (!wait_for_body([&](Clock::time_point deadline) {
                return receive_into(body_buffer_.get(), size, deadline, count);
            })) {
            return std::nullopt;
        }
        return std::string_view(body_buffer_.get(), count);
    }

    // Runs `read` (given its deadline) for more of the body. The time spent waiting counts
    // against the body's allowance, which grows only with the bytes that have come: a body whose
    // bytes trickle in is given up after a bounded time in all, whatever each single wait and
    // whatever length it declares.
    template <typename Read>
    bool wait_for_body(const Read& read) {
        const auto allowance =
            Clock::duration(limits_.body_wait) +
            limits_.body_wait_per_mebibyte * static_cast<int64_t>(received_ >> 20);
        if (waited_ >= allowance)
            return false;
        const auto started = Clock::now();
        const auto slice = std::min<Clock::duration>(limits_.read_timeout, allowance - waited_);
        const Fill result = read(started + slice);
        waited_ += Clock::now() - started;
        return result == Fill::Data;
    }

    // The next line of a chunked body, without its line end; none when it ends in a bare LF,
    // which a chunked body may not hold (a recipient that took it as a line end would see other
    // chunks than one that does not).
    std::optional<std::string> read_line() {
        for (;;) {
            const size_t end = pending().find('\n');
            if (end != std::string_view::npos) {
                if (end == 0 || pending()[end - 1] != '\r')
                    return std::nullopt;
                std::string line(pending().substr(0, end - 1));
                consume(end + 1);
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

    // `count` bytes of the current chunk or length have been handed on.
    void body_taken(size_t count) {
        remaining_ -= count;
        received_ += count;
        if (remaining_ == 0) {
            state_ = framing_.kind == Framing::Kind::Chunked ? BodyState::DataEnd : BodyState::Done;
        }
    }

    int socket_;
    const ServerLimits& limits_;
    std::string buffer_;
    size_t start_ = 0;
    // Where body bytes are read when none are pending; made at the first such read.
    std::unique_ptr<char[]> body_buffer_;
    // Whether the kernel splices from this socket; cleared at its first refusal.
    bool splicing_ = true;

    Framing framing_;
    BodyState state_ = BodyState::Done;
    uint64_t remaining_ = 0;
    uint64_t received_ = 0;
    Clock::duration waited_{};

    // Ends the interim reply of the current request: from here on it is never sent.
    void end_interim() {
        if (!interim_)
            return;
        std::lock_guard lock(interim_->mutex);
        interim_->ended = true;
        interim_->changed.notify_all();
    }

    // For the reply to the current request: when the request came, whether a byte of the reply
    // has been written, whether its client takes interim replies, and whether one is on its way.
    Clock::time_point request_started_;
    bool reply_started_ = false;
    bool interim_allowed_ = false;
    bool interim_armed_ = false;
    std::shared_ptr<InterimReply> interim_;
};

// The header fields of a reply in the order they go out: by name, without regard to case, and
// in the order given among fields of one name. A field whose name or value holds a line end is
// left out, so that nothing can add a field of its own or end the header section early.
std::string header_lines(std::vector<std::pair<std::string, std::string>> headers) {
    std::erase_if(headers, [](const auto& field) {
        return field.first.find_first_of("\r\n") != std::string::npos ||
               field.second.find_first_of("\r\n") != std::string::npos;
    });
    std::ranges::stable_sort(headers, [](const auto& a, const auto& b) {
        return ascii_lower(a.first) < ascii_lower(b.first);
    });
    std::string lines;
    for (const auto& [name, value] : headers)
        lines += name + ": " + value + "\r\n";
    return lines;
}

// Writes the reply to `request`; `closing` when the connection closes after it. False when the
// connection cannot carry another request: the client did not take the reply, or its body failed
// part way.
bool send_response(ClientConnection& client, const RequestLine& request, HttpResponse& response,
                   bool closing) {
    auto headers = std::move(response.headers);
    if (response.pieces)
        headers.emplace_back("Transfer-Encoding", "chunked");
    else
        headers.emplace_back("Content-Length", std::to_string(response.body.size()));
    // An HTTP/1.1 connection stays open unless said otherwise; an HTTP/1.0 one closes.
    if (closing)
        headers.emplace_back("Connection", "close");
    else if (request.version == "HTTP/1.0")
        headers.emplace_back("Connection", "keep-alive");
    const std::string head =
        status_line(response.status) + header_lines(std::move(headers)) + "\r\n";

    bool sent = false;
    if (request.method == "HEAD") {
        sent = client.write(head);
    } else if (!response.pieces) {
        // A short body goes out with the header section, in one write.
        if (response.body.size() <= read_size) {
            sent = client.write(head + response.body);
        } else {
            sent = client.write(head) && client.write(response.body);
        }
    } else if (client.write(head)) {
        for (;;) {
            auto piece = response.pieces();
            if (!piece) {
                std::fprintf(stderr, "Reply cut short: %s\n", piece.error().c_str());
                break;
            }
            if (piece->empty()) {
                sent = client.write("0\r\n\r\n");
                break;
            }
            // The chunk goes out as its size line, the piece where it lies and the line end.
            char size[32];
            const int length = std::snprintf(size, sizeof size, "%zx\r\n", piece->size());
            if (!client.write_parts(
                    {std::string_view(size, static_cast<size_t>(length)), *piece, "\r\n"}))
                break;
        }
    }
    // Whatever makes the pieces (a running child) goes as soon as the reply is done.
    response.pieces = nullptr;
    return sent;
}

// Whether the connection is to close after the reply, as the client asks: an HTTP/1.1 client by
// "Connection: close", an HTTP/1.0 one unless it says "Connection: Keep-Alive".
bool client_closes(const RequestLine& request, const HeaderFields& fields) {
    const auto connection = first_value(fields, "connection");
    if (request.version == "HTTP/1.0")
        return connection != "Keep-Alive";
    return connection == "close";
}

// The reply to a request whose handler failed with an exception.
HttpResponse internal_error() {
    HttpResponse response;
    response.status = 500;
    return response;
}

// Runs the connection's work on its own thread.
void* run_connection(void* argument) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(argument));
    (*job)();
    return nullptr;
}

}  // namespace

BodyBudget::Share::~Share() {
    if (bytes_ == 0)
        return;
    std::lock_guard lock(budget_->mutex_);
    budget_->used_ -= bytes_;
    budget_->given_back_.notify_all();
}

bool BodyBudget::Share::grow(uint64_t bytes, std::chrono::milliseconds wait) {
    std::unique_lock lock(budget_->mutex_);
    if (bytes > budget_->limit_)
        return false;
    if (!budget_->given_back_.wait_for(lock, wait,
                                       [&] { return budget_->used_ <= budget_->limit_ - bytes; })) {
        return false;
    }
    budget_->used_ += bytes;
    bytes_ += bytes;
    return true;
}

LoopbackServer::LoopbackServer(ServerLimits limits) : limits_(limits) {
    if (::pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        wake_pipe_[0] = wake_pipe_[1] = -1;
}

LoopbackServer::~LoopbackServer() {
    for (int fd : {listening_socket_, wake_pipe_[0], wake_pipe_[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void LoopbackServer::set_request_handler(RequestHandler handler) {
    handler_ = std::move(handler);
}

std::expected<uint16_t, std::string> LoopbackServer::bind_loopback(uint16_t port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return std::unexpected(os_error_text(errno));
    // Only SO_REUSEADDR: a second program must not be able to share our port.
    int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // The longest listen queue the system allows (net.core.somaxconn caps it), so that a burst
    // of connects (a page loading its files, a script) is not partly dropped and retried.
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket, std::numeric_limits<int>::max()) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(socket);
        return std::unexpected(os_error_text(error));
    }
    if (listening_socket_ >= 0)
        ::close(listening_socket_);
    listening_socket_ = socket;
    return ntohs(address.sin_port);
}

void LoopbackServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (wake_pipe_[1] >= 0) [[maybe_unused]]
        const ssize_t written = ::write(wake_pipe_[1], "x", 1);
}

// Each accepted connection gets a detached thread of its own, so that a request that waits for
// the remote machine never holds up another one. At most `connection_limit` are served at once:
// a client that connects beyond that takes the place of the connection that has been idle the
// longest (never one in the middle of a request), so that clients that keep their connections
// open between requests cannot keep a new one out. When every connection is busy the new one
// waits in the listen queue.
void LoopbackServer::listen_after_bind() {
    if (listening_socket_ < 0 || wake_pipe_[0] < 0)
        return;
    running_ = true;
    while (!stopping_) {
        pollfd entries[2] = {{listening_socket_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0 && errno != EINTR)
            break;
        if (entries[0].revents == 0)
            continue;
        {
            std::unique_lock lock(mutex_);
            while (!stopping_ && slots_.size() - closing_ >= limits_.connection_limit) {
                if (!close_longest_idle())
                    changed_.wait(lock);
            }
            if (stopping_)
                break;
        }
        const int socket = ::accept4(listening_socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) {
            // Out of descriptors or memory: give the connections that end a moment to free
            // some, rather than spin on the same failure.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (limits_.tcp_nodelay) {
            int on = 1;
            ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
        Slots::iterator slot;
        {
            std::lock_guard lock(mutex_);
            slot = slots_.emplace(slots_.end());
            slot->socket = socket;
        }
        int error = 0;
        try {
            auto job = std::make_unique<std::function<void()>>([this, slot] {
                // A failure in one connection (memory that ran out) ends that one only.
                try {
                    serve_connection(slot);
                } catch (const std::exception& failure) {
                    std::fprintf(stderr, "Connection thread failed: %s\n", failure.what());
                } catch (...) {
                    std::fprintf(stderr, "Connection thread failed\n");
                }
                connection_ended(slot);
            });
            pthread_attr_t attributes;
            pthread_attr_init(&attributes);
            pthread_attr_setstacksize(&attributes, connection_thread_stack_size);
            pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
            pthread_t thread;
            error = pthread_create(&thread, &attributes, run_connection, job.get());
            pthread_attr_destroy(&attributes);
            if (error == 0)
                job.release();
        } catch (const std::bad_alloc&) {
            error = ENOMEM;
        }
        if (error != 0) {
            // Without a thread of its own the connection is closed unserved; the accept loop
            // goes on, and later connections are served as threads can be started again.
            std::fprintf(stderr, "failed to spawn thread: %s (os error %d)\n", std::strerror(error),
                         error);
            ::close(socket);
            connection_ended(slot);
        }
    }
    // New connections are refused from here on; the ones being served end on their own.
    ::close(listening_socket_);
    listening_socket_ = -1;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return slots_.empty(); });
    running_ = false;
}

bool LoopbackServer::set_idle(Slots::iterator slot, bool idle) {
    std::lock_guard lock(mutex_);
    slot->idle = idle && !slot->closing;
    if (slot->idle) {
        slot->idle_since = Clock::now();
        changed_.notify_all();
    }
    return !slot->closing;
}

// A connection marked idle whose socket already holds bytes has a request on its way: its
// thread has not woken to read them yet (a busy machine), and it is not idle any more.
static bool has_unread_bytes(int socket) {
    int unread = 0;
    return ::ioctl(socket, FIONREAD, &unread) == 0 && unread > 0;
}

bool LoopbackServer::close_longest_idle() {
    auto longest = slots_.end();
    for (auto slot = slots_.begin(); slot != slots_.end(); ++slot) {
        if (slot->idle && (longest == slots_.end() || slot->idle_since < longest->idle_since) &&
            !has_unread_bytes(slot->socket))
            longest = slot;
    }
    if (longest == slots_.end())
        return false;
    // Its thread, waiting for the next request, reads the end at once and closes the socket;
    // the socket stays open until then, as it is marked idle no longer.
    longest->idle = false;
    longest->closing = true;
    ++closing_;
    ::shutdown(longest->socket, SHUT_RDWR);
    return true;
}

void LoopbackServer::connection_ended(Slots::iterator slot) {
    std::lock_guard lock(mutex_);
    if (slot->closing)
        --closing_;
    slots_.erase(slot);
    changed_.notify_all();
}

// Each header section and body is read by its framing, so that the start of a pipelined request
// stays for the next round, and a body nobody read (a GET's) is dropped rather than parsed as
// the next request.
void LoopbackServer::serve_connection(Slots::iterator slot) {
    const int socket = slot->socket;
    ClientConnection client(socket, limits_);
    // Other accounts on this machine reach the loopback port too; only the user's own
    // processes are served.
    if (!is_own_users_connection(socket))
        return;
    for (;;) {
        // Between requests the connection may be closed to make room for another; from the
        // first byte of a request until its reply has gone it may not.
        if (!client.has_pending() && !set_idle(slot, true))
            return;
        const bool request_came = client.wait_for_request();
        if (!set_idle(slot, false) || !request_came)
            return;
        auto head = client.read_head();
        if (!head) {
            if (head.error()) {
                client.refuse(*head.error());
                client.linger();
            }
            return;
        }
        client.begin_body(head->framing);
        const ClientRequest request{
            head->fields,
            [&client](const auto& receive) { return client.read_body(receive); },
            head->framing.kind == Framing::Kind::Chunked ? std::nullopt
                                                         : std::optional(head->framing.length),
            socket,
            [&client] { return client.still_listening(); },
            head->framing.kind == Framing::Kind::Length
                ? BodyIntoPipe([&client](int pipe, uint64_t most) {
                      return client.move_body_into(pipe, most);
                  })
                : BodyIntoPipe()};
        client.begin_reply(head->line.version == "HTTP/1.1");
        if (first_value(head->fields, "expect") == "100-continue" &&
            !client.write("HTTP/1.1 100 Continue\r\n\r\n")) {
            return;
        }
        HttpResponse response;
        try {
            if (handler_)
                handler_(head->line, response, request);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Request failed: %s\n", error.what());
            response = internal_error();
        } catch (...) {
            std::fprintf(stderr, "Request failed\n");
            response = internal_error();
        }
        const bool closing = client_closes(head->line, head->fields);
        if (!send_response(client, head->line, response, closing) || !client.finish_body()) {
            client.linger();
            return;
        }
        if (closing) {
            ::shutdown(socket, SHUT_WR);
            return;
        }
    }
}

}  // namespace wrenfield
