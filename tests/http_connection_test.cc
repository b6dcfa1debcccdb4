// The HTTP/1.1 framing of the server's own connection loop, with raw sockets: pipelined
// requests, conflicting lengths, bodies where none is expected, chunked trailers, bodies moved
// into a pipe, half-closed clients, the request line and the framing of replies, odd Host and
// Origin values, the bounds on what a client may send, and a server that keeps serving when no
// thread can be started for a connection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <expected>
#include <memory>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/in_process_server.h"
#include "support/local_system.h"
#include "support/program_launcher.h"
#include "support/slow_clients.h"
#include "support/wait_until.h"

namespace wrenfield::testing {
namespace {

using namespace std::chrono_literals;

// The status codes of every reply in a stream of responses, in order.
std::vector<int> statuses(const std::string& responses) {
    std::vector<int> codes;
    static const std::regex status_line("HTTP/1\\.1 (\\d{3}) ");
    for (auto it = std::sregex_iterator(responses.begin(), responses.end(), status_line);
         it != std::sregex_iterator(); ++it) {
        codes.push_back(std::stoi((*it)[1]));
    }
    return codes;
}

class HttpConnectionTest : public ::testing::Test {
  protected:
    // A request head for the API, as the page's own request would carry it.
    std::string head(const std::string& method, const std::string& target) const {
        return method + " " + target + " HTTP/1.1\r\nHost: " + server.host() + "\r\n";
    }
    std::string exchange(const std::string& bytes) {
        return raw_http_exchange(server.port(), bytes, 5000);
    }

    InProcessServer server;
};

TEST_F(HttpConnectionTest, PipelinedRequestsAreAllAnsweredInOrder) {
    RawConnection connection(server.port());
    ASSERT_TRUE(connection.send(head("POST", "/api/check-for-updates") +
                                "Content-Length: 2\r\n\r\n{}" + head("GET", "/api/nothing") +
                                "\r\n" + head("GET", "/api/status") + "Connection: close\r\n\r\n"));
    const auto started = std::chrono::steady_clock::now();
    const std::string responses = connection.read_to_end(10s);
    EXPECT_EQ(statuses(responses), (std::vector<int>{200, 404, 200})) << responses;
    EXPECT_TRUE(responses.ends_with(R"({"connected":false})")) << responses;
    EXPECT_EQ(server.update_checks(), 1);
    // Closed after the last reply, not after a wait for more.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST_F(HttpConnectionTest, ConflictingFramingIsRefusedAndNothingRuns) {
    for (const char* framing :
         {"Content-Length: 2\r\nContent-Length: 3\r\n", "Content-Length: 2, 3\r\n",
          "Content-Length: -2\r\n", "Content-Length: 0x2\r\n",
          "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n", "Transfer-Encoding: gzip\r\n"}) {
        SCOPED_TRACE(framing);
        const std::string response =
            exchange(head("POST", "/api/check-for-updates") + framing + "\r\n{}\r\n\r\n");
        ASSERT_FALSE(statuses(response).empty());
        EXPECT_GE(statuses(response).front(), 400) << response;
        EXPECT_EQ(statuses(response).size(), 1u) << response;
    }
    EXPECT_EQ(server.update_checks(), 0);
    // The same length twice is one length.
    EXPECT_EQ(statuses(exchange(head("POST", "/api/check-for-updates") +
                                "Content-Length: 2\r\nContent-Length: 2\r\nConnection: close"
                                "\r\n\r\n{}")),
              std::vector<int>{200});
}

TEST_F(HttpConnectionTest, ABodyWhereNoneIsReadIsDroppedNotTakenForARequest) {
    const std::string smuggled = head("POST", "/api/check-for-updates") + "\r\n";
    const std::string responses = exchange(
        head("GET", "/api/status") + "Content-Length: " + std::to_string(smuggled.size()) +
        "\r\n\r\n" + smuggled + head("GET", "/css/styles.css") + "Connection: close\r\n\r\n");
    EXPECT_EQ(statuses(responses), (std::vector<int>{200, 200})) << responses;
    EXPECT_EQ(server.update_checks(), 0);
}

TEST_F(HttpConnectionTest, ChunkedBodiesMayCarryTrailerFields) {
    // Without a connection a well-formed mkdir body gets 401; a body that failed to arrive
    // would get 400.
    const std::string body = R"({"path":"/tmp/x"})";
    char size[16];
    std::snprintf(size, sizeof size, "%zx", body.size());
    const std::string responses =
        exchange(head("POST", "/api/mkdir") + "Transfer-Encoding: chunked\r\n\r\n" + size +
                 ";note=1\r\n" + body + "\r\n0\r\nX-Checksum: 1234\r\nX-Other: b\r\n\r\n" +
                 head("GET", "/api/status") + "Connection: close\r\n\r\n");
    EXPECT_EQ(statuses(responses), (std::vector<int>{401, 200})) << responses;
    EXPECT_NE(responses.find("Not connected to SSH host"), std::string::npos) << responses;
}

// Chunk lines end in CRLF: one that ends in a bare LF fails the body, wherever it stands; and
// HTTP/1.0 knows no chunked framing at all.
TEST_F(HttpConnectionTest, BareLineFeedsInChunkLinesAndChunkedHttp10AreRefused) {
    const std::string body = R"({"path":"/tmp/x"})";
    char size[16];
    std::snprintf(size, sizeof size, "%zx", body.size());
    const std::string chunked = head("POST", "/api/mkdir") + "Transfer-Encoding: chunked\r\n\r\n";
    for (const std::string& chunks :
         {std::string(size) + "\n" + body + "\r\n0\r\n\r\n",
          std::string(size) + "\r\n" + body + "\n0\r\n\r\n",
          std::string(size) + "\r\n" + body + "\r\n0\n\r\n",
          std::string(size) + "\r\n" + body + "\r\n0\r\nX-Note: 1\n\r\n"}) {
        SCOPED_TRACE(chunks);
        const std::string response = exchange(chunked + chunks);
        EXPECT_EQ(statuses(response), std::vector<int>{400}) << response;
    }
    const std::string response =
        exchange("POST /api/check-for-updates HTTP/1.0\r\nHost: " + server.host() +
                 "\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n");
    EXPECT_EQ(statuses(response), std::vector<int>{400}) << response;
    EXPECT_EQ(server.update_checks(), 0);
}

TEST_F(HttpConnectionTest, AClientThatHalfClosesStillGetsItsReply) {
    for (const char* target : {"/api/status", "/css/styles.css"}) {
        SCOPED_TRACE(target);
        RawConnection connection(server.port());
        ASSERT_TRUE(connection.send(head("GET", target) + "\r\n"));
        ::shutdown(connection.fd(), SHUT_WR);
        EXPECT_EQ(statuses(connection.read_to_end(5s)), std::vector<int>{200});
    }
}

TEST_F(HttpConnectionTest, TheRequestLineIsCheckedBeforeAnythingRuns) {
    const std::string fields = "Host: " + server.host() + "\r\nContent-Length: 2\r\n\r\n{}";
    for (const std::string& line : std::vector<std::string>{
             "post /api/check-for-updates HTTP/1.1", "BREW /api/check-for-updates HTTP/1.1",
             "POST /api/check-for-updates HTTP/2.0", "POST /api/check-for-updates",
             "POST\t/api/check-for-updates\tHTTP/1.1", "POST /api/check-for-updates HTTP/1.1 x",
             "POST /api/check-for-updates?" + std::string(8200, 'q') + " HTTP/1.1"}) {
        SCOPED_TRACE(line.substr(0, 60));
        const std::string response = exchange(line + "\r\n" + fields);
        EXPECT_EQ(statuses(response), std::vector<int>{line.size() > 8000 ? 414 : 400}) << response;
    }
    EXPECT_EQ(server.update_checks(), 0);
    // Spaces around the parts are no fault.
    EXPECT_EQ(statuses(exchange(
                  " POST  /api/check-for-updates  HTTP/1.1 \r\nConnection: close\r\n" + fields)),
              std::vector<int>{200});
}

TEST_F(HttpConnectionTest, HeadExpectAndHttp10GetTheirOwnFraming) {
    // HEAD: the length of the body that GET would get, no body, and the connection goes on.
    const std::string head_then_get =
        exchange(head("HEAD", "/css/styles.css") + "\r\n" + head("GET", "/api/status") +
                 "Connection: close\r\n\r\n");
    EXPECT_EQ(statuses(head_then_get), (std::vector<int>{200, 200})) << head_then_get;
    // Neither ranges nor a keep-alive bound are offered: the server acts on neither.
    EXPECT_EQ(head_then_get.find("Accept-Ranges"), std::string::npos) << head_then_get;
    EXPECT_EQ(head_then_get.find("Keep-Alive"), std::string::npos) << head_then_get;
    EXPECT_TRUE(std::regex_search(head_then_get, std::regex("Content-Length: [1-9]\\d+\r\n")));
    EXPECT_EQ(head_then_get.find("{"), head_then_get.rfind(R"({"connected":false})"));
    // A client that waits for leave to send its body gets it, then the reply.
    const std::string continued =
        exchange(head("POST", "/api/check-for-updates") +
                 "Content-Length: 2\r\nExpect: 100-continue\r\nConnection: close\r\n\r\n{}");
    EXPECT_TRUE(continued.starts_with("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n"))
        << continued;
    // HTTP/1.0 closes after one reply unless the client asks to keep the connection.
    const std::string status10 = "GET /api/status HTTP/1.0\r\nHost: " + server.host() + "\r\n";
    const std::string closed = exchange(status10 + "\r\n" + status10 + "\r\n");
    EXPECT_EQ(statuses(closed), std::vector<int>{200});
    EXPECT_NE(closed.find("Connection: close\r\n"), std::string::npos) << closed;
    const std::string kept =
        exchange(status10 + "Connection: Keep-Alive\r\n\r\n" + status10 + "\r\n");
    EXPECT_EQ(statuses(kept), (std::vector<int>{200, 200}));
    EXPECT_NE(kept.find("Connection: keep-alive\r\n"), std::string::npos) << kept;
}

// The connection loop around a handler of the test's own: a failing handler, a reply made
// piece by piece that fails part way, and a field that would smuggle in a line of its own.
TEST(ConnectionLoopTest, FailuresInTheHandlerOrItsBodyNeverPassForAReply) {
    HandlerServer server([&](const RequestLine& request, HttpResponse& response,
                             const ClientRequest&) {
        if (request.target == "/throw")
            throw std::runtime_error("handler failed");
        response.headers = {{"X-Smuggled", "a\r\nSet-Cookie: b"}, {"X-Plain", "c"}};
        auto count = std::make_shared<int>(0);
        response.pieces = [count, cut = request.target ==
                                        "/cut"]() -> std::expected<std::string_view, std::string> {
            if (++*count <= 2)
                return std::string_view("piece");
            if (cut)
                return std::unexpected("the source failed");
            return std::string_view();
        };
    });

    const std::string failed = raw_http_exchange(
        server.port(),
        "GET /throw HTTP/1.1\r\n\r\nGET /whole HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(statuses(failed), (std::vector<int>{500, 200})) << failed;
    EXPECT_TRUE(failed.ends_with("5\r\npiece\r\n5\r\npiece\r\n0\r\n\r\n")) << failed;
    EXPECT_NE(failed.find("X-Plain: c\r\n"), std::string::npos) << failed;
    EXPECT_EQ(failed.find("Set-Cookie"), std::string::npos) << failed;
    // Cut: the connection closes without the closing chunk, and the next request is not read.
    const std::string cut =
        raw_http_exchange(server.port(), "GET /cut HTTP/1.1\r\n\r\nGET /whole HTTP/1.1\r\n\r\n");
    EXPECT_EQ(statuses(cut), std::vector<int>{200}) << cut;
    EXPECT_TRUE(cut.ends_with("5\r\npiece\r\n5\r\npiece\r\n")) << cut;
}

// The bodies of the replies in a stream of chunked responses, decoded, in order.
std::vector<std::string> chunked_bodies(std::string_view responses) {
    std::vector<std::string> bodies;
    for (;;) {
        const size_t head_end = responses.find("\r\n\r\n");
        if (head_end == std::string_view::npos)
            return bodies;
        responses.remove_prefix(head_end + 4);
        std::string body;
        for (;;) {
            const size_t line_end = responses.find("\r\n");
            if (line_end == std::string_view::npos)
                return bodies;
            const size_t size = std::stoul(std::string(responses.substr(0, line_end)), nullptr, 16);
            responses.remove_prefix(line_end + 2);
            if (size == 0) {
                responses.remove_prefix(std::min<size_t>(2, responses.size()));
                break;
            }
            body.append(responses.substr(0, size));
            responses.remove_prefix(std::min(responses.size(), size + 2));
        }
        bodies.push_back(std::move(body));
    }
}

// Bodies larger than one read, by length and in chunks larger than one read, come whole and end
// where their framing says, so that the request after each is read as one; and reply pieces
// larger than the socket takes at once go out whole, each as one chunk, while the client is
// still sending.
TEST(ConnectionLoopTest, LargeBodiesAndReplyPiecesGoThroughWholeAndInOrder) {
    HandlerServer server(
        [](const RequestLine&, HttpResponse& response, const ClientRequest& client) {
            auto body = std::make_shared<std::string>();
            client.body([&](std::string_view piece) {
                body->append(piece);
                return true;
            });
            // The body goes back in pieces of 1.5 MiB.
            auto sent = std::make_shared<size_t>(0);
            response.pieces = [body, sent]() -> std::expected<std::string_view, std::string> {
                const std::string_view piece = std::string_view(*body).substr(*sent, 1536 * 1024);
                *sent += piece.size();
                return piece;
            };
        });
    std::string data(3 * 1024 * 1024 + 7, '\0');
    for (size_t at = 0; at < data.size(); ++at)
        data[at] = static_cast<char>(at * 131 + at / 977);
    const size_t first_chunk = 1536 * 1024 + 3;
    const auto size_line = [](size_t size) {
        char line[32];
        std::snprintf(line, sizeof line, "%zx\r\n", size);
        return std::string(line);
    };
    const std::string by_length =
        "POST /length HTTP/1.1\r\nContent-Length: " + std::to_string(data.size()) + "\r\n\r\n" +
        data;
    std::string chunked = "POST /chunked HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    chunked += size_line(first_chunk) + data.substr(0, first_chunk) + "\r\n";
    chunked += size_line(5) + data.substr(first_chunk, 5) + "\r\n";
    chunked += size_line(data.size() - first_chunk - 5) + data.substr(first_chunk + 5) + "\r\n";
    chunked += "0\r\n\r\n";
    RawConnection connection(server.port());
    // Sent from another thread: the replies come back while the later requests still go out.
    std::thread sender([&] {
        connection.send(by_length + chunked + "GET /last HTTP/1.1\r\nConnection: close\r\n\r\n");
    });
    const std::string responses = connection.read_to_end(60s);
    sender.join();
    EXPECT_EQ(statuses(responses), (std::vector<int>{200, 200, 200}));
    const std::vector<std::string> bodies = chunked_bodies(responses);
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_TRUE(bodies[0] == data) << bodies[0].size();
    EXPECT_TRUE(bodies[1] == data) << bodies[1].size();
    EXPECT_EQ(bodies[2], "");
    // The first reply's pieces are 1.5 MiB, 1.5 MiB and the 7 bytes left.
    EXPECT_NE(responses.find("\r\n180000\r\n"), std::string::npos);
    EXPECT_NE(responses.find("\r\n7\r\n"), std::string::npos);
}

// What a handler got by moving its request's body into a pipe of its own: the bytes that came
// out of the pipe, and how the moving ended (0: every byte; else the failure it reported, with
// -1 standing for "the body failed").
struct MovedBody {
    std::string bytes;
    int failure = 0;
    bool over_asked = false;
};

// Moves the body into a pipe of 4 KiB (so that the pipe is full again and again), at most
// `step` bytes a call; with `reader_gone` the pipe's reading end is closed first.
MovedBody move_body(const ClientRequest& client, uint64_t length, uint64_t step,
                    bool reader_gone = false) {
    MovedBody result;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("no pipe");
    ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
    std::thread reader;
    if (reader_gone) {
        ::close(ends[0]);
    } else {
        reader = std::thread([&, in = ends[0]] {
            ::fcntl(in, F_SETFL, 0);
            char buffer[65536];
            for (ssize_t count; (count = ::read(in, buffer, sizeof buffer)) > 0;)
                result.bytes.append(buffer, static_cast<size_t>(count));
            ::close(in);
        });
    }
    for (uint64_t moved = 0; moved < length;) {
        pollfd room{ends[1], POLLOUT, 0};
        ::poll(&room, 1, 5000);
        auto step_moved = client.body_into_pipe(ends[1], std::min(step, length - moved));
        if (!step_moved) {
            result.failure = step_moved.error() == 0 ? -1 : step_moved.error();
            break;
        }
        result.over_asked = result.over_asked || *step_moved > step;
        moved += *step_moved;
    }
    ::close(ends[1]);
    if (reader.joinable())
        reader.join();
    return result;
}

// A body of a declared length is moved into a pipe exactly: the bytes read with the header
// section first, then the rest from the socket, never more than asked and never past the body's
// end (the request after it is read as one). A chunked body offers no such move and is read as
// pieces; a body that stops coming, and a pipe whose reader has gone, are told apart.
TEST(ConnectionLoopTest, BodiesMovedIntoAPipeAreExactlyTheirBytes) {
    std::mutex mutex;
    std::vector<MovedBody> moved;
    std::atomic<int> started = 0;
    HandlerServer server(
        [&](const RequestLine& request, HttpResponse& response, const ClientRequest& client) {
            ++started;
            if (!client.body_into_pipe) {
                std::string body;
                client.body([&](std::string_view piece) {
                    body.append(piece);
                    return true;
                });
                response.body = "copied " + body;
                return;
            }
            MovedBody result = move_body(client, client.body_length.value_or(0), 100000,
                                         request.target == "/reader-gone");
            response.body = result.bytes;
            std::lock_guard lock(mutex);
            moved.push_back(std::move(result));
        });
    std::string data(1024 * 1024 + 13, '\0');
    for (size_t at = 0; at < data.size(); ++at)
        data[at] = static_cast<char>(at * 131 + at / 977);

    // The head and the first bytes of the body in one piece, the rest later.
    RawConnection connection(server.port());
    ASSERT_TRUE(connection.send("POST /length HTTP/1.1\r\nContent-Length: " +
                                std::to_string(data.size()) + "\r\n\r\n" + data.substr(0, 1000)));
    ASSERT_TRUE(wait_until([&] { return started == 1; }, 10s));
    ASSERT_TRUE(
        connection.send(data.substr(1000) +
                        "POST /chunked HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                        "3\r\nabc\r\n0\r\n\r\nGET /last HTTP/1.1\r\nConnection: close\r\n\r\n"));
    const std::string responses = connection.read_to_end(30s);
    EXPECT_EQ(statuses(responses), (std::vector<int>{200, 200, 200}));
    EXPECT_TRUE(responses.find("\r\n\r\n" + data + "HTTP/1.1 200") != std::string::npos);
    EXPECT_NE(responses.find("\r\n\r\ncopied abcHTTP/1.1 200"), std::string::npos) << responses;
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(moved.size(), 1u);
        EXPECT_EQ(moved[0].failure, 0);
        EXPECT_FALSE(moved[0].over_asked);
    }

    // The client leaves part way through the body.
    {
        RawConnection leaving(server.port());
        ASSERT_TRUE(leaving.send("POST /leaving HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" +
                                 data.substr(0, 5000)));
        ASSERT_TRUE(wait_until([&] { return started == 4; }, 10s));
    }
    ASSERT_TRUE(wait_until(
        [&] {
            std::lock_guard lock(mutex);
            return moved.size() == 2;
        },
        20s));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(moved[1].failure, -1);
        EXPECT_TRUE(moved[1].bytes == data.substr(0, 5000)) << moved[1].bytes.size();
    }

    // Nobody reads the pipe.
    raw_http_exchange(server.port(),
                      "POST /reader-gone HTTP/1.1\r\nContent-Length: 3\r\n"
                      "Connection: close\r\n\r\nabc");
    std::lock_guard lock(mutex);
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved[2].failure, EPIPE);
}

// ---- Host and Origin ----

TEST_F(HttpConnectionTest, OddHostAndOriginValuesAreForeign) {
    const std::string ours = server.host();
    const std::string port = std::to_string(server.port());
    const std::string update = "POST /api/check-for-updates HTTP/1.1\r\n";
    const std::string end = "Content-Length: 0\r\nConnection: close\r\n\r\n";
    const std::vector<std::string> refused = {
        "Host: " + ours + "\r\nOrigin:\r\n",
        "Host: " + ours + "\r\nOrigin: \r\n",
        "Host: " + ours + std::string("\0evil", 5) + "\r\n",
        "Host: " + ours + "\r\nOrigin: http://" + ours + std::string("\0evil", 5) + "\r\n",
        "Host: " + ours + "\r\nOrigin: http://127.0.0.1%3a" + port + "\r\n",
        "Host: 127.0.0.1%3a" + port + "\r\n",
    };
    for (const std::string& fields : refused) {
        SCOPED_TRACE(fields);
        const std::string response = exchange(update + fields + end);
        EXPECT_EQ(statuses(response), std::vector<int>{403}) << response;
    }
    EXPECT_EQ(server.update_checks(), 0);
    // No Origin at all, as the page's own GETs and curl send, or the page's own.
    EXPECT_EQ(statuses(exchange(update + "Host: " + ours + "\r\n" + end)), std::vector<int>{200});
    EXPECT_EQ(
        statuses(exchange(update + "Host: " + ours + "\r\nOrigin: http://" + ours + "\r\n" + end)),
        std::vector<int>{200});
    EXPECT_EQ(server.update_checks(), 2);
}

// ---- bounds on what a client sends ----

TEST_F(HttpConnectionTest, AHeaderSectionPast64KiBGets431) {
    RawConnection connection(server.port());
    std::string fields = head("GET", "/api/status");
    const std::string line = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    while (fields.size() < 70 * 1024)
        fields += line;
    ASSERT_TRUE(connection.send(fields));
    // The rest never comes: the answer does not wait for it.
    const std::string response = connection.read_to_end(5s);
    EXPECT_EQ(statuses(response), std::vector<int>{431}) << response.substr(0, 300);
    EXPECT_NE(response.find(R"({"success":false,"error":"The request's header section is larger)"),
              std::string::npos)
        << response;
    // Under the bound the same fields are served.
    std::string fitting = head("GET", "/api/status");
    for (int i = 0; i < 60; ++i)
        fitting += line;
    EXPECT_EQ(statuses(exchange(fitting + "Connection: close\r\n\r\n")), std::vector<int>{200});
}

TEST_F(HttpConnectionTest, JsonBodiesPastTheLimitGet413) {
    // Said by its length: refused before a byte of the body is read.
    {
        RawConnection connection(server.port());
        ASSERT_TRUE(connection.send(head("POST", "/api/write") + "Content-Length: " +
                                    std::to_string(300 << 20) + "\r\n\r\n{\"path\":"));
        const std::string response = connection.read_to_end(5s);
        EXPECT_EQ(statuses(response), std::vector<int>{413}) << response;
        EXPECT_NE(response.find("Request body is too large (the limit is 129 MiB)"),
                  std::string::npos)
            << response;
    }
    // Chunked: refused once the limit has come, not held whole.
    RawConnection connection(server.port());
    ASSERT_TRUE(connection.send(head("POST", "/api/write") + "Transfer-Encoding: chunked\r\n\r\n"));
    const std::string chunk = "100000\r\n" + std::string(1 << 20, ' ') + "\r\n";
    bool refused = false;
    for (int sent = 0; sent < 200 && !refused; ++sent) {
        if (!connection.send(chunk))
            break;
        refused = connection.wait_readable(0ms);
    }
    const std::string response = connection.read_to_end(5s);
    EXPECT_EQ(statuses(response), std::vector<int>{413}) << response.substr(0, 300);
}

// The budget for bodies held at once: a share waits for room that another gives back, and is
// refused when the room does not come in time or could never be had.
TEST(BodyBudgetTest, SharesWaitForRoomAndGiveItBack) {
    BodyBudget budget(100);
    auto first = std::make_unique<BodyBudget::Share>(budget);
    ASSERT_TRUE(first->grow(60, 0ms));
    ASSERT_TRUE(first->grow(30, 0ms));
    BodyBudget::Share second(budget);
    EXPECT_FALSE(second.grow(20, 0ms));
    EXPECT_FALSE(second.grow(101, 10s));
    EXPECT_EQ(second.bytes(), 0u);
    ASSERT_TRUE(second.grow(10, 0ms));
    std::thread giving_back([&first] {
        std::this_thread::sleep_for(50ms);
        first.reset();
    });
    EXPECT_TRUE(second.grow(90, 10s));
    giving_back.join();
    EXPECT_EQ(second.bytes(), 100u);
}

// ---- the server keeps serving ----

TEST(ConnectionThreadsTest, AConnectionWithoutAThreadIsClosedAndTheServerGoesOn) {
    InProcessServer server(ServerLimits{.keep_alive_timeout = 300ms, .connection_limit = 1000});
    // Room for a few connection threads (2 MiB of stack each) and no more.
    const std::string status = read_file("/proc/self/status").value_or("");
    const std::smatch size = [&] {
        std::smatch match;
        std::regex_search(status, match, std::regex("VmSize:\\s+(\\d+) kB"));
        return match;
    }();
    ASSERT_FALSE(size.empty());
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &original), 0);
    rlimit limited = original;
    limited.rlim_cur = (std::stoull(size[1]) << 10) + (48 << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limited), 0);
    {
        std::vector<std::unique_ptr<RawConnection>> idle;
        for (int i = 0; i < 200; ++i) {
            idle.push_back(std::make_unique<RawConnection>(server.port()));
            idle.back()->send("G");
        }
        // The server has dealt with every one: closed it at once for want of a thread, or after
        // the keep-alive time from the thread that waited for the rest of its request.
        EXPECT_TRUE(wait_until(
            [&] {
                return std::ranges::all_of(
                    idle, [](const auto& connection) { return connection->wait_readable(0ms); });
            },
            60s));
    }
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &original), 0);
    // Still listening, and serving.
    HttpReply reply = http_get(server.port(), "/api/status");
    EXPECT_EQ(reply.status, 200) << reply.error;
}

TEST(ConnectionThreadsTest, ConnectionsPastTheBoundWaitTheirTurn) {
    InProcessServer server(ServerLimits{.keep_alive_timeout = 500ms, .connection_limit = 4});
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 20; ++i)
        idle.push_back(std::make_unique<RawConnection>(server.port()));
    // Served once idle connections have been let go: every one of them is, in turn.
    HttpReply reply = http_get(server.port(), "/api/status");
    EXPECT_EQ(reply.status, 200) << reply.error;
}

// With every connection taken, a new client takes the place of the one idle the longest between
// requests; one in the middle of a request keeps its place. The times are long enough that
// nothing else would free a place during the test.
TEST(ConnectionThreadsTest, ANewClientTakesThePlaceOfAnIdleOneNeverOfABusyOne) {
    InProcessServer server(
        ServerLimits{.read_timeout = 60s, .keep_alive_timeout = 60s, .connection_limit = 2});
    const std::string status = "GET /api/status HTTP/1.1\r\nHost: " + server.host() + "\r\n";
    RawConnection busy(server.port());
    ASSERT_TRUE(busy.send(status));
    RawConnection idle(server.port());
    ASSERT_TRUE(idle.send(status + "\r\n"));
    ASSERT_EQ(statuses(idle.read_some(4096, 10s)), std::vector<int>{200});

    EXPECT_EQ(
        statuses(raw_http_exchange(server.port(), status + "Connection: close\r\n\r\n", 20000)),
        std::vector<int>{200});
    // The idle one was closed; the busy one finishes its request on its own connection.
    EXPECT_EQ(idle.read_to_end(10s), "");
    ASSERT_TRUE(busy.send("Connection: close\r\n\r\n"));
    EXPECT_EQ(statuses(busy.read_to_end(10s)), std::vector<int>{200});
}

// More keep-alive clients than connections, each asking again before its connection would time
// out: a new client is still answered, rather than wait for as long as they go on.
TEST(ConnectionThreadsTest, SlowKeepAliveClientsDoNotKeepANewOneOut) {
    InProcessServer server;
    const std::string status = "GET /api/status HTTP/1.1\r\nHost: " + server.host() + "\r\n";
    SlowClients clients(server.port(), status + "\r\n", 300, 3500ms);
    // Every connection has been taken once the first 256 replies have come.
    ASSERT_TRUE(wait_until([&] { return clients.replies() >= 256; }, 30s)) << clients.replies();
    EXPECT_EQ(
        statuses(raw_http_exchange(server.port(), status + "Connection: close\r\n\r\n", 20000)),
        std::vector<int>{200});
}

}  // namespace
}  // namespace wrenfield::testing
