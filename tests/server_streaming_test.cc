// Downloads and uploads that stream through the server without holding the file, against the
// local OpenSSH server: large files arrive byte for byte, failures before the first byte still
// get the JSON error reply, and a transfer cut part way never passes for a complete one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include <nlohmann/json.hpp>

#include "server/replies.h"

#include "support/fake_ssh.h"
#include "support/in_process_server.h"
#include "support/local_system.h"
#include "support/program_launcher.h"
#include "support/sshd_fixture.h"
#include "support/temp_home.h"
#include "support/wait_until.h"

namespace wrenfield::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr size_t block_size = 1 << 20;

std::string encode(const std::string& text) {
    return httplib::detail::encode_query_param(text);
}

// Block `index` of the test data: every block differs, so that a lost, repeated or misplaced
// block shows.
std::string data_block(size_t index) {
    std::string block(block_size, '\0');
    uint64_t state = index * 0x9E3779B97F4A7C15ull + 1;
    for (size_t at = 0; at < block.size(); at += 8) {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t word = state;
        word = (word ^ (word >> 30)) * 0xBF58476D1CE4E5B9ull;
        word = (word ^ (word >> 27)) * 0x94D049BB133111EBull;
        word ^= word >> 31;
        std::memcpy(block.data() + at, &word, 8);
    }
    return block;
}

bool write_data_file(const std::string& path, size_t blocks) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    for (size_t index = 0; ok && index < blocks; ++index) {
        const std::string block = data_block(index);
        ok = ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
    }
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// Compares a stream of pieces with the test data as they come, holding one block at a time.
class DataChecker {
  public:
    void take(std::string_view piece) {
        while (!piece.empty()) {
            if (offset_ == block_.size()) {
                block_ = data_block(index_++);
                offset_ = 0;
            }
            const size_t length = std::min(piece.size(), block_.size() - offset_);
            same_ = same_ &&
                    piece.substr(0, length) == std::string_view(block_).substr(offset_, length);
            offset_ += length;
            total_ += length;
            piece.remove_prefix(length);
        }
    }
    bool same() const { return same_; }
    size_t total() const { return total_; }

  private:
    std::string block_;
    size_t offset_ = 0;
    size_t index_ = 0;
    size_t total_ = 0;
    bool same_ = true;
};

bool file_matches_data(const std::string& path, size_t blocks) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DataChecker checker;
    std::string buffer(block_size, '\0');
    ssize_t count;
    while ((count = ::read(fd, buffer.data(), buffer.size())) > 0)
        checker.take(std::string_view(buffer.data(), static_cast<size_t>(count)));
    ::close(fd);
    return checker.same() && checker.total() == blocks * block_size;
}

// A reply read raw, with its chunked body taken apart: what the chunks held, and whether the
// closing zero-length chunk came.
struct ChunkedReply {
    std::string head;
    size_t body_bytes = 0;
    bool complete = false;
};

ChunkedReply decode_chunked(const std::string& response) {
    ChunkedReply reply;
    size_t at = response.find("\r\n\r\n");
    if (at == std::string::npos)
        return reply;
    reply.head = response.substr(0, at);
    at += 4;
    for (;;) {
        const size_t line_end = response.find("\r\n", at);
        if (line_end == std::string::npos)
            return reply;
        const size_t size = std::stoul(response.substr(at, line_end - at), nullptr, 16);
        if (line_end + 2 + size + 2 > response.size()) {
            reply.body_bytes += std::min(size, response.size() - line_end - 2);
            return reply;
        }
        if (size == 0) {
            reply.complete = true;
            return reply;
        }
        reply.body_bytes += size;
        at = line_end + 2 + size + 2;
    }
}

// Answered only once no route holds the connection lock.
bool status_answers_within(uint16_t port, std::chrono::milliseconds timeout) {
    auto state = std::async(std::launch::async, [&] { return http_get(port, "/api/status"); });
    return state.wait_for(timeout) == std::future_status::ready && state.get().status == 200;
}

// Waits, up to `timeout`, until this process has no child left, without reaping any.
bool children_ended_within(std::chrono::milliseconds timeout) {
    return testing::wait_until(
        [] {
            siginfo_t info{};
            return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0;
        },
        timeout);
}

void expect_no_children() {
    int status;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

class StreamingTest : public SshServerTest {
  protected:
    void connect() {
        HttpReply reply = http_post_json(web.port(), "/api/connect",
                                         Json{{"host", server().host_alias()}}.dump());
        ASSERT_EQ(reply.status, 200) << reply.body << server().log();
    }
    bool status_answers_within(std::chrono::milliseconds timeout) {
        return testing::status_answers_within(web.port(), timeout);
    }
    std::string control_path() {
        std::lock_guard lock(web.connection()->mutex);
        return web.connection()->connection->control_path;
    }
    std::string request_head(const std::string& method, const std::string& target) {
        return method + " " + target + " HTTP/1.1\r\nHost: " + web.host() + "\r\n";
    }
    InProcessServer web;
};

TEST_F(StreamingTest, LargeFilesGoBothWaysByteForByte) {
    connect();
    constexpr size_t blocks = 300;
    const std::string source = scratch_path("source.bin");
    ASSERT_TRUE(write_data_file(source, blocks));

    httplib::Client client("127.0.0.1", web.port());
    client.set_read_timeout(60s);
    client.set_write_timeout(60s);
    DataChecker downloaded;
    std::string content_type;
    auto got = client.Get(
        "/api/download?path=" + encode(source), httplib::Headers{},
        [&](const httplib::Response& response) {
            content_type = response.get_header_value("Content-Type");
            return true;
        },
        [&](const char* data, size_t length) {
            downloaded.take(std::string_view(data, length));
            return true;
        });
    ASSERT_TRUE(got) << httplib::to_string(got.error());
    EXPECT_EQ(got->status, 200);
    EXPECT_EQ(content_type, "application/octet-stream");
    EXPECT_EQ(got->get_header_value("Content-Disposition"), "attachment; filename=\"source.bin\"");
    EXPECT_EQ(downloaded.total(), blocks * block_size);
    EXPECT_TRUE(downloaded.same());

    const std::string target = scratch_path("target.bin");
    ASSERT_TRUE(write_file(target, "old content"));
    auto sent = client.Post(
        "/api/upload?path=" + encode(target), blocks * block_size,
        [](size_t offset, size_t, httplib::DataSink& sink) {
            const std::string block = data_block(offset / block_size);
            return sink.write(block.data() + offset % block_size, block_size - offset % block_size);
        },
        "application/octet-stream");
    ASSERT_TRUE(sent) << httplib::to_string(sent.error());
    EXPECT_EQ(sent->body, R"({"success":true,"message":"File uploaded successfully"})");
    EXPECT_TRUE(file_matches_data(target, blocks));
    expect_no_children();
}

TEST_F(StreamingTest, FailuresBeforeAnyByteGetTheJsonReply) {
    // Input checks come first, also without a connection; then the missing connection.
    const std::string file = scratch_path("file.txt");
    EXPECT_EQ(http_request(web.port(), "POST", "/api/upload", "x").status, 400);
    EXPECT_EQ(http_request(web.port(), "POST", "/api/upload?path=" + encode(file), "x").body,
              R"({"success":false,"error":"Not connected to SSH host"})");
    EXPECT_EQ(http_get(web.port(), "/api/download").status, 400);
    connect();

    const std::string missing = scratch_path("missing");
    HttpReply failed = http_get(web.port(), "/api/download?path=" + encode(missing));
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(failed.body, R"({"success":false,"error":"[Errno 2] No such file or directory: ')" +
                               missing + R"('"})");

    // An empty file is a complete, empty download.
    ASSERT_TRUE(write_file(file, ""));
    std::string empty =
        raw_http_exchange(web.port(), request_head("GET", "/api/download?path=" + encode(file)) +
                                          "Connection: close\r\n\r\n");
    ChunkedReply empty_reply = decode_chunked(empty);
    EXPECT_TRUE(empty_reply.head.starts_with("HTTP/1.1 200")) << empty;
    EXPECT_TRUE(empty_reply.complete);
    EXPECT_EQ(empty_reply.body_bytes, 0u);

    // A chunked upload has no length for the remote side to check: refused before any run.
    httplib::Client client("127.0.0.1", web.port());
    auto chunked = client.Post(
        "/api/upload?path=" + encode(file),
        [](size_t, httplib::DataSink& sink) {
            sink.write("data", 4);
            sink.done();
            return true;
        },
        "application/octet-stream");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 411);
    EXPECT_EQ(read_file(file), "");

    // An upload the remote side refuses at once: the body is still read to its end, so the
    // reply arrives and the connection serves the next request.
    const std::string nowhere = scratch_path("no/such/dir/file");
    auto refused = client.Post("/api/upload?path=" + encode(nowhere), std::string(8 << 20, 'x'),
                               "application/octet-stream");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 500);
    EXPECT_EQ(Json::parse(refused->body)["success"], false);
    EXPECT_EQ(Json::parse(refused->body)["error"],
              "[Errno 2] No such file or directory: '" + nowhere + "'");
    auto after = client.Get("/api/status");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);
    EXPECT_FALSE(std::filesystem::exists(scratch_path("no")));
}

TEST_F(StreamingTest, DownloadCutPartWayIsNotComplete) {
    connect();
    constexpr size_t blocks = 64;
    const std::string source = scratch_path("source.bin");
    ASSERT_TRUE(write_data_file(source, blocks));
    const std::string socket = control_path();

    RawConnection download(web.port());
    ASSERT_TRUE(download.send(request_head("GET", "/api/download?path=" + encode(source)) +
                              "Connection: close\r\n\r\n"));
    ASSERT_TRUE(download.wait_readable(30s));
    // The stream has begun and stalls on the unread socket: end the SSH connection under it.
    CommandResult closed = run_command({"/usr/bin/ssh", "-F", "/dev/null", "-o",
                                        "ControlPath=" + socket, "-O", "exit", "placeholder"});
    EXPECT_EQ(closed.exit_code, 0) << closed.error;

    ChunkedReply reply = decode_chunked(download.read_to_end(30s));
    EXPECT_TRUE(reply.head.starts_with("HTTP/1.1 200")) << reply.head;
    EXPECT_NE(reply.head.find("Transfer-Encoding: chunked"), std::string::npos);
    EXPECT_FALSE(reply.complete);
    EXPECT_LT(reply.body_bytes, blocks * block_size);

    // The lock is free again and the connection slot still works (with a new master).
    EXPECT_TRUE(status_answers_within(10s));
    EXPECT_EQ(http_get(web.port(), "/api/list?path=" + encode(scratch())).status, 200);
    expect_no_children();
}

TEST_F(StreamingTest, ClientLeavingEndsTheDownload) {
    connect();
    constexpr size_t blocks = 64;
    const std::string source = scratch_path("source.bin");
    ASSERT_TRUE(write_data_file(source, blocks));
    {
        RawConnection download(web.port());
        ASSERT_TRUE(
            download.send(request_head("GET", "/api/download?path=" + encode(source)) + "\r\n"));
        ASSERT_TRUE(download.wait_readable(30s));
    }
    // The server's next write fails; the child is ended and reaped, well before the file could
    // have been read to its end by anyone.
    EXPECT_TRUE(status_answers_within(5s));
    EXPECT_TRUE(children_ended_within(5s));
    expect_no_children();
    // The shared master survived the end of that run.
    EXPECT_EQ(http_get(web.port(), "/api/list?path=" + encode(scratch())).status, 200);
}

// The interim reply a client that has ended its sending side is sent, to learn whether it still
// listens.
constexpr std::string_view processing = "HTTP/1.1 102 Processing\r\n\r\n";

// The reply as a client reads it, without the interim 102 that goes before it when its run took
// over a second (a busy machine may make even a short read take that long).
std::string without_interim_reply(std::string reply) {
    if (reply.starts_with(processing))
        reply.erase(0, processing.size());
    return reply;
}

// A client that ends its sending side after its request (as a script may) still gets its whole
// reply, at most after an interim 102, which clients ignore. One that does so once the body is
// under way is sent nothing inside the body.
TEST_F(StreamingTest, AHalfClosedClientGetsItsWholeReply) {
    connect();
    const std::string note = scratch_path("note.txt");
    ASSERT_TRUE(write_file(note, "half-closed\n"));
    RawConnection read(web.port());
    ASSERT_TRUE(read.send(request_head("GET", "/api/read?path=" + encode(note)) + "\r\n"));
    ::shutdown(read.fd(), SHUT_WR);
    const std::string read_reply = without_interim_reply(read.read_to_end(30s));
    ASSERT_TRUE(read_reply.starts_with("HTTP/1.1 200")) << read_reply;
    const size_t body = read_reply.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(Json::parse(read_reply.substr(body + 4)).value("content", ""), "half-closed\n");

    // More than the socket buffers hold, so that the body is still being sent when the client
    // half-closes after its first bytes.
    constexpr size_t blocks = 32;
    const std::string source = scratch_path("source.bin");
    ASSERT_TRUE(write_data_file(source, blocks));
    for (bool during_body : {false, true}) {
        SCOPED_TRACE(during_body ? "half-closed during the body" : "half-closed after the request");
        RawConnection download(web.port());
        ASSERT_TRUE(
            download.send(request_head("GET", "/api/download?path=" + encode(source)) + "\r\n"));
        if (during_body) {
            ASSERT_TRUE(download.wait_readable(30s));
        }
        ::shutdown(download.fd(), SHUT_WR);
        const std::string reply = download.read_to_end(60s);
        const ChunkedReply chunked =
            decode_chunked(during_body ? reply : without_interim_reply(reply));
        EXPECT_TRUE(chunked.head.starts_with("HTTP/1.1 200")) << chunked.head;
        EXPECT_TRUE(chunked.complete);
        EXPECT_EQ(chunked.body_bytes, blocks * block_size);
    }
    expect_no_children();
}

// An upload's body is the bytes that came: none when the request gives no length (answered at
// once, not after a wait for a body that never comes), and a form's bytes as they are.
TEST_F(StreamingTest, UploadBodiesAreTheBytesThatCame) {
    connect();
    const std::string target = scratch_path("keep.txt");
    ASSERT_TRUE(write_file(target, "old content"));
    const std::string reply = raw_http_exchange(
        web.port(),
        request_head("POST", "/api/upload?path=" + encode(target)) + "Connection: close\r\n\r\n",
        3000);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
    EXPECT_NE(reply.find("File uploaded successfully"), std::string::npos) << reply;
    EXPECT_EQ(read_file(target), "");

    httplib::Client client("127.0.0.1", web.port());
    auto form =
        client.Post("/api/upload?path=" + encode(target),
                    httplib::MultipartFormDataItems{{"file", "x\ny", "x.txt", "text/plain"}});
    ASSERT_TRUE(form);
    EXPECT_EQ(form->status, 200) << form->body;
    const std::string stored = read_file(target).value_or("");
    EXPECT_TRUE(stored.starts_with("--")) << stored;
    EXPECT_NE(stored.find("filename=\"x.txt\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\r\n\r\nx\ny\r\n"), std::string::npos) << stored;
}

TEST_F(StreamingTest, UploadCutPartWayLeavesTheOldContent) {
    connect();
    const std::string target = scratch_path("kept.txt");
    ASSERT_TRUE(write_file(target, "old content"));
    const size_t length = 8 << 20;
    {
        RawConnection upload(web.port());
        ASSERT_TRUE(upload.send(request_head("POST", "/api/upload?path=" + encode(target)) +
                                "Content-Length: " + std::to_string(length) + "\r\n\r\n"));
        ASSERT_TRUE(upload.send(std::string(length / 2, 'n')));
    }
    EXPECT_TRUE(status_answers_within(5s));
    // The cut upload is dealt with beside other requests: wait for its run to end.
    EXPECT_TRUE(children_ended_within(30s));
    EXPECT_EQ(read_file(target), "old content");
    // Nothing is left beside it: the half-written replacement was removed.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch()))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"kept.txt"});
    expect_no_children();
}

// Connects the server to a stand-in host, which the test's FakeSsh answers for.
void connect_to_fake_host(uint16_t port) {
    const std::string host = "fake-host-" + std::to_string(::getpid());
    HttpReply connected = http_post_json(port, "/api/connect", Json{{"host", host}}.dump());
    ASSERT_EQ(connected.status, 200) << connected.body;
}

// Connected to a stand-in host whose remote programs send nothing for a minute (a slow disk, a
// stuck mount).
class ClientLeavingTest : public ::testing::Test {
  protected:
    void SetUp() override { connect_to_fake_host(web.port()); }
    std::string request(const std::string& route) const {
        return "GET " + route + "?path=slow HTTP/1.1\r\nHost: " + web.host() + "\r\n\r\n";
    }
    // Waits until the remote runs started so far number `calls`.
    bool remote_runs_reach(size_t calls) const {
        testing::wait_until([&] { return ssh.calls().size() >= calls; }, 30s);
        return ssh.calls().size() == calls;
    }

    TemporaryHome home;
    FakeSsh ssh{
        "case \"${@: -1}\" in\n"
        "uname*) printf 'Linux\\n---SEP---\\n/\\n---SEP---\\nu\\n---SEP---\\n/bin/python3\\n';;\n"
        // The path "fails-at-once", as the remote programs carry it (Base64).
        "*ZmFpbHMtYXQtb25jZQ==*) echo 'No such file' >&2; exit 1;;\n"
        "*os.makedirs*) sleep 1;;\n"
        "python3*) exec sleep 60;;\n"
        "esac"};
    InProcessServer web;
};

// A read or a download whose client goes away while the remote side sends nothing is stopped
// then, not when the remote side ends.
TEST_F(ClientLeavingTest, StopsTheRemoteRunAndFreesTheConnection) {
    for (const char* route : {"/api/read", "/api/download"}) {
        SCOPED_TRACE(route);
        const size_t calls = ssh.calls().size();
        {
            RawConnection client(web.port());
            ASSERT_TRUE(client.send(request(route)));
            ASSERT_TRUE(remote_runs_reach(calls + 1));
        }
        EXPECT_TRUE(status_answers_within(web.port(), 5s));
    }
    // A download runs beside the lock: its run ends by itself, well before the remote side would.
    EXPECT_TRUE(children_ended_within(5s));
    expect_no_children();
}

// A client that only ends its sending side keeps its run: it is sent the interim 102 and the
// run goes on. Should it then leave (a reset), the run is stopped at once all the same.
TEST_F(ClientLeavingTest, AHalfClosedClientKeepsItsRunUntilItLeaves) {
    for (const char* route : {"/api/read", "/api/download"}) {
        SCOPED_TRACE(route);
        const size_t calls = ssh.calls().size();
        {
            RawConnection client(web.port());
            ASSERT_TRUE(client.send(request(route)));
            ::shutdown(client.fd(), SHUT_WR);
            EXPECT_EQ(client.read_some(256, 5s), processing);
            ASSERT_TRUE(remote_runs_reach(calls + 1));
            EXPECT_FALSE(children_ended_within(300ms));
            const linger abort{1, 0};
            ASSERT_EQ(::setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
        }
        EXPECT_TRUE(status_answers_within(web.port(), 5s));
        EXPECT_TRUE(children_ended_within(5s));
    }
    expect_no_children();
}

// A request that fails at once is answered with its final reply alone, though its client has
// ended its sending side: the interim 102 is only for a run that is still going after a while,
// and a client that took it for the reply (as some do) would miss the real one.
TEST_F(ClientLeavingTest, AHalfClosedClientOfARequestThatFailsAtOnceGetsNoInterimReply) {
    for (const char* route : {"/api/read", "/api/download"}) {
        SCOPED_TRACE(route);
        RawConnection client(web.port());
        ASSERT_TRUE(client.send("GET " + std::string(route) +
                                "?path=fails-at-once HTTP/1.1\r\nHost: " + web.host() +
                                "\r\nConnection: close\r\n\r\n"));
        ::shutdown(client.fd(), SHUT_WR);
        const std::string reply = client.read_to_end(10s);
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 500")) << reply;
        EXPECT_EQ(reply.find("HTTP/1.1", 1), std::string::npos) << reply;
    }
    expect_no_children();
}

// An HTTP/1.0 client takes no interim reply: the end of its sending side ends its run, and it
// gets the error reply without a 102 before it.
TEST_F(ClientLeavingTest, AnHttp10ClientThatHalfClosesIsNotSentAnInterimReply) {
    RawConnection client(web.port());
    ASSERT_TRUE(
        client.send("GET /api/read?path=slow HTTP/1.0\r\nHost: " + web.host() + "\r\n\r\n"));
    ::shutdown(client.fd(), SHUT_WR);
    const std::string reply = client.read_to_end(5s);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 500")) << reply;
    EXPECT_TRUE(children_ended_within(5s));
    expect_no_children();
}

// A read whose client resets its connection (SO_LINGER 0) while another read runs is not run
// for no one: its socket reports the reset, and the run stops.
TEST_F(ClientLeavingTest, AReadWhoseClientResetWhileWaitingDoesNotRun) {
    const size_t calls = ssh.calls().size();
    auto holding = std::make_unique<RawConnection>(web.port());
    ASSERT_TRUE(holding->send(request("/api/read")));
    ASSERT_TRUE(remote_runs_reach(calls + 1));
    {
        RawConnection reset(web.port());
        ASSERT_TRUE(reset.send(request("/api/read")));
        std::this_thread::sleep_for(200ms);  // it is under way
        const linger abort{1, 0};
        ASSERT_EQ(::setsockopt(reset.fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    }
    holding.reset();
    // Both reads are over well before either remote run would have ended; the status answer
    // alone does not say that the second run has already been stopped.
    EXPECT_TRUE(status_answers_within(web.port(), 5s));
    EXPECT_TRUE(children_ended_within(5s));
    expect_no_children();
}

// Remote runs go beside one another: a listing that takes its time (as one of a million entries
// does) holds up neither the status nor another run, and the connection going (a disconnect, or
// a connect that switches hosts) ends every run with an error for its client. A change under
// way (here a mkdir that takes a second) is not cut: it finishes before the master is closed.
TEST_F(ClientLeavingTest, ALongListingHoldsUpNothingAndEndsWithTheConnection) {
    // The switch leaves a connection for the disconnect.
    for (const char* ending : {"/api/connect", "/api/disconnect"}) {
        SCOPED_TRACE(ending);
        const size_t calls = ssh.calls().size();
        // Each client says it closes after the reply, so that its end comes with the reply.
        const auto closing_request = [this](const std::string& route) {
            std::string head = request(route);
            return head.insert(head.size() - 2, "Connection: close\r\n");
        };
        RawConnection listing(web.port());
        ASSERT_TRUE(listing.send(closing_request("/api/list")));
        ASSERT_TRUE(remote_runs_reach(calls + 1));
        EXPECT_TRUE(status_answers_within(web.port(), 5s));
        RawConnection read(web.port());
        ASSERT_TRUE(read.send(closing_request("/api/read")));
        ASSERT_TRUE(remote_runs_reach(calls + 2));
        auto change = std::async(std::launch::async, [this] {
            return http_post_json(web.port(), "/api/mkdir", Json{{"path", "made"}}.dump());
        });
        ASSERT_TRUE(remote_runs_reach(calls + 3));

        const std::string host = "fake-host-" + std::to_string(::getpid());
        const HttpReply ended =
            http_post_json(web.port(), ending, Json{{"host", host + "-other"}}.dump());
        EXPECT_EQ(ended.status, 200) << ended.body;
        for (RawConnection* client : {&listing, &read}) {
            const std::string reply = client->read_to_end(10s);
            EXPECT_TRUE(reply.starts_with("HTTP/1.1 500")) << reply;
            EXPECT_NE(reply.find("The SSH connection was closed before the request was done"),
                      std::string::npos)
                << reply;
        }
        const HttpReply made = change.get();
        EXPECT_EQ(made.status, 200) << made.body;
        EXPECT_TRUE(children_ended_within(5s));
    }
    expect_no_children();
}

// The listing's reply as the whole listing written at once gives it: the entries read whole,
// written as one JSON tree.
std::string listing_written_whole(const std::vector<FileItem>& items) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const FileItem& item : items)
        array.push_back(to_json(item));
    return write_json(array);
}

// A listing goes out as its entries are checked, and its bytes are those of the listing written
// whole: an empty folder, names outside ASCII and not UTF-8, quotes and control characters,
// links, the root, and a folder of more entries than one piece of the output holds.
TEST_F(StreamingTest, ListingsStreamTheBytesOfTheWholeListing) {
    connect();
    const std::string edges = scratch_path("edges");
    std::filesystem::create_directories(edges + "/empty");
    std::filesystem::create_directories(edges + "/Sub");
    for (const char* name : {"b", "A", "D", ".hidden", "\xc3\xa9t\xc3\xa9", "\xe6\x97\xa5",
                             "caf\xe9", "\xff", "q\"b\\s", "ctl\x01", "%d"}) {
        ASSERT_TRUE(write_file(edges + "/" + name, name));
    }
    std::filesystem::create_directory_symlink("Sub", edges + "/link to Sub");
    std::filesystem::create_symlink("nowhere", edges + "/dangling");
    const std::string many = scratch_path("many");
    std::filesystem::create_directories(many);
    for (int index = 0; index < 30000; ++index)
        ASSERT_TRUE(write_file(many + "/Entry-" + std::to_string(index * 7919 % 30000), ""));

    SshConnection record = [this] {
        std::lock_guard lock(web.connection()->mutex);
        return web.connection()->connection->borrow();
    }();
    for (const std::string& folder :
         {edges, edges + "/", edges + "/empty", many, std::string("/")}) {
        SCOPED_TRACE(folder);
        // The root's entries may change between two listings (other programs write to /tmp):
        // the reply must equal the listing read whole just before or just after it.
        bool same = false;
        for (int attempt = 0; attempt < 5 && !same; ++attempt) {
            auto before = list_remote_dir(record, folder);
            ASSERT_TRUE(before) << before.error();
            HttpReply reply = http_get(web.port(), "/api/list?path=" + encode(folder));
            ASSERT_EQ(reply.status, 200) << reply.error << reply.body.substr(0, 300);
            EXPECT_EQ(reply.header("Content-Type"), "application/json; charset=utf-8");
            EXPECT_EQ(reply.header("Access-Control-Allow-Origin"), "*");
            auto after = list_remote_dir(record, folder);
            ASSERT_TRUE(after) << after.error();
            same = reply.body == listing_written_whole(*before) ||
                   reply.body == listing_written_whole(*after);
            if (folder != "/") {
                EXPECT_EQ(reply.body, listing_written_whole(*before));
            }
        }
        EXPECT_TRUE(same);
    }
    EXPECT_EQ(http_get(web.port(), "/api/list?path=" + encode(edges + "/empty")).body, "[]");
    expect_no_children();
}

// Connected to a stand-in host whose listing program sends its first entry, then waits: for
// the test to let it go on (it then sends a second entry and stray text) or to kill it.
class ListingCutTest : public ::testing::Test {
  protected:
    void SetUp() override { connect_to_fake_host(web.port()); }
    // The listing of `folder` asked for on `client`; true once its first bytes have come.
    bool start_listing(RawConnection& client, const std::string& folder) {
        return client.send("GET /api/list?path=" + folder + " HTTP/1.1\r\nHost: " + web.host() +
                           "\r\nConnection: close\r\n\r\n") &&
               client.wait_readable(10s);
    }
    // The listing program, as it waits after its first entry.
    pid_t waiting_program() const {
        std::optional<std::string> pid;
        const bool written =
            wait_until([&] { return (pid = read_file(files / "pid")) && !pid->empty(); }, 5s);
        return written ? std::stoi(*pid) : -1;
    }

    TemporaryHome home;
    TemporaryDirectory files{"wrenfield-listing-cut"};
    static constexpr std::string_view entry =
        R"({"name": "a", "path": "/a", "is_dir": false, "is_symlink": false, "size": 1, )"
        R"("modified": 2, "permissions": "-rw-r--r--", "is_hidden": false})";
    // "Y3V0" is the Base64 of "cut", "c3RyYXk=" of "stray".
    FakeSsh ssh{
        "case \"${@: -1}\" in\n"
        "uname*) printf 'Linux\\n---SEP---\\n/\\n---SEP---\\nu\\n---SEP---\\n/bin/python3\\n';;\n"
        "*Y3V0*|*c3RyYXk=*) printf '[%s, ' '" +
        std::string(entry) + "'\n  echo $$ > '" + (files / "pid") +
        "'\n"
        "  while [ ! -e '" +
        (files / "go") +
        "' ]; do sleep 0.05; done\n"
        "  printf '%s] x' '" +
        std::string(entry) +
        "';;\n"
        "*) printf 'Last login: today\\n[]\\n';;\n"
        "esac"};
    InProcessServer web;
};

// A listing whose ssh is killed once its first entries have gone out ends without the closing
// chunk: the client sees a cut reply, never a short list taken as whole. So does one whose
// output stops being a listing part way.
TEST_F(ListingCutTest, AListingFailingPartWayIsCut) {
    for (const bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "ssh killed" : "stray text");
        std::filesystem::remove(files / "pid");
        std::filesystem::remove(files / "go");
        RawConnection client(web.port());
        ASSERT_TRUE(start_listing(client, killed ? "cut" : "stray"));
        const pid_t program = waiting_program();
        ASSERT_GT(program, 0);
        if (killed)
            ASSERT_EQ(::kill(program, SIGKILL), 0);
        else
            ASSERT_TRUE(write_file(files / "go", ""));
        const std::string raw = client.read_to_end(10s);
        const ChunkedReply reply = decode_chunked(raw);
        EXPECT_TRUE(reply.head.starts_with("HTTP/1.1 200")) << raw;
        EXPECT_NE(reply.head.find("Transfer-Encoding: chunked"), std::string::npos);
        EXPECT_FALSE(reply.complete) << raw;
        EXPECT_NE(raw.find("[{\"name\":\"a\",\"path\":\"/a\""), std::string::npos) << raw;
        EXPECT_TRUE(status_answers_within(web.port(), 5s));
        EXPECT_TRUE(children_ended_within(5s));
    }
    expect_no_children();
}

// A listing that fails before its first entry gets the error reply, with the whole output.
TEST_F(ListingCutTest, AListingFailingBeforeItsFirstEntryGetsTheErrorReply) {
    HttpReply reply = http_get(web.port(), "/api/list?path=other");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body,
              R"({"success":false,"error":"Failed to parse directory listing: expected value at )"
              R"x(line 1 column 1 (output: Last login: today\n[]\n)"})x");
}

}  // namespace
}  // namespace wrenfield::testing
