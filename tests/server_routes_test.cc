// The API routes that use the remote machine, at the HTTP level against the local OpenSSH
// server. The scratch directory is local and remote at once, so results are checked straight
// on the file system.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/base64.h"
#include "support/in_process_server.h"
#include "support/local_system.h"
#include "support/program_launcher.h"
#include "support/remote_fixture.h"
#include "support/sshd_fixture.h"
#include "support/wait_until.h"

namespace wrenfield::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

std::string encode(const std::string& text) {
    return httplib::detail::encode_query_param(text);
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class RoutesTest : public SshServerTest {
  protected:
    HttpReply get(const std::string& path) { return http_get(web.port(), path); }
    HttpReply post(const std::string& path, const Json& body) {
        return http_post_json(web.port(), path, body.dump());
    }
    Json connect(const Json& payload) {
        HttpReply reply = post("/api/connect", payload);
        EXPECT_EQ(reply.status, 200) << reply.body << server().log();
        return Json::parse(reply.body, nullptr, false);
    }
    Json status() { return Json::parse(get("/api/status").body, nullptr, false); }

    std::vector<std::string> listed_names(const std::string& query) {
        HttpReply reply = get("/api/list" + query);
        EXPECT_EQ(reply.status, 200) << reply.body;
        std::vector<std::string> names;
        for (const auto& item : Json::parse(reply.body, nullptr, false))
            names.push_back(item.value("name", ""));
        return names;
    }

    // The Content-Disposition of a download, read raw: the test client would decode the
    // percent-escapes of header values.
    std::string download_disposition(const std::string& file) {
        const std::string reply = raw_http_exchange(
            web.port(), "GET /api/download?path=" + encode(file) +
                            " HTTP/1.1\r\nHost: " + web.host() + "\r\nConnection: close\r\n\r\n");
        const std::string_view header = "\r\nContent-Disposition: ";
        const size_t start = reply.find(header);
        if (start == std::string::npos)
            return reply;
        const size_t value = start + header.size();
        return reply.substr(value, reply.find("\r\n", value) - value);
    }

    InProcessServer web;
};

TEST_F(RoutesTest, ConnectInstallsTheConnectionAndStatusDescribesIt) {
    Json result = connect({{"host", server().host_alias()}});
    std::vector<std::string> keys;
    for (const auto& [key, value] : result.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"success", "host", "user", "home_dir", "remote_os",
                                              "has_python", "error", "identity_file"}));
    EXPECT_EQ(result["success"], true);
    EXPECT_EQ(result["host"], server().user() + "@" + server().host_alias());

    HttpReply reply = get("/api/status");
    EXPECT_EQ(reply.header("Content-Type"), "application/json; charset=utf-8");
    Json state = Json::parse(reply.body);
    keys.clear();
    for (const auto& [key, value] : state.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"connected", "host", "user", "home_dir", "remote_os",
                                              "identity_file"}));
    EXPECT_EQ(state["connected"], true);
    EXPECT_EQ(state["host"], result["host"]);
    EXPECT_EQ(state["user"], result["user"]);
    EXPECT_EQ(state["home_dir"], result["home_dir"]);
    EXPECT_EQ(state["identity_file"], server().home() + "/.ssh/id_ed25519");

    // A failed connect answers with the plain error envelope and leaves the connection.
    HttpReply failed =
        post("/api/connect", {{"host", "127.0.0.1"}, {"port", 1}, {"user", "nobody"}});
    EXPECT_EQ(failed.status, 500);
    Json failure = Json::parse(failed.body);
    EXPECT_EQ(failure.size(), 2u);
    EXPECT_EQ(failure["success"], false);
    EXPECT_FALSE(failure["error"].get<std::string>().empty());
    EXPECT_EQ(status(), state);
    EXPECT_EQ(get("/api/list?path=" + encode(scratch())).status, 200);

    HttpReply disconnected = post("/api/disconnect", Json::object());
    EXPECT_EQ(disconnected.body, R"({"success":true,"message":"Disconnected"})");
    EXPECT_EQ(get("/api/status").body, R"({"connected":false})");
    EXPECT_EQ(get("/api/list").status, 401);
}

TEST_F(RoutesTest, TheKeyFileComesFromIdentityFileElseKeyPathUnlessBlank) {
    const std::string copy = scratch_path("copied_key");
    ASSERT_TRUE(write_file(copy, read_file(server().key_path()).value_or("")));
    ::chmod(copy.c_str(), 0600);
    const std::string configured = server().home() + "/.ssh/id_ed25519";
    const std::string alias = server().host_alias();

    connect({{"host", alias}, {"key_path", copy}});
    EXPECT_EQ(status()["identity_file"], copy);
    connect({{"host", alias}, {"identity_file", copy}, {"key_path", "/no/such/key"}});
    EXPECT_EQ(status()["identity_file"], copy);
    // A blank choice means no key from the request; key_path is not tried in its place.
    connect({{"host", alias}, {"identity_file", "  "}, {"key_path", copy}});
    EXPECT_EQ(status()["identity_file"], configured);
}

TEST_F(RoutesTest, ConnectingAnotherHostReplacesTheConnection) {
    connect({{"host", server().host_alias()}});
    Json second = connect({{"host", server().second_host_alias()}, {"user", server().user()}});
    EXPECT_EQ(second["host"], server().user() + "@" + server().second_host_alias());
    EXPECT_EQ(status()["host"], second["host"]);
    EXPECT_EQ(get("/api/list?path=" + encode(scratch())).status, 200);
}

TEST_F(RoutesTest, ListingTakesThePathParameter) {
    connect({{"host", server().host_alias()}});
    ASSERT_TRUE(write_file(scratch_path("one/a.txt"), "a"));
    ASSERT_TRUE(write_file(scratch_path("two/b.txt"), "b"));
    EXPECT_EQ(listed_names("?path=" + encode(scratch_path("one"))),
              std::vector<std::string>{"a.txt"});
    // The last of repeated parameters wins.
    EXPECT_EQ(listed_names("?path=" + encode(scratch_path("one")) +
                           "&path=" + encode(scratch_path("two"))),
              std::vector<std::string>{"b.txt"});
    // Absent or empty: the home directory.
    auto home = listed_names("");
    EXPECT_EQ(listed_names("?path="), home);
    EXPECT_EQ(listed_names("?path=~"), home);

    HttpReply missing = get("/api/list?path=" + encode(scratch_path("none")));
    EXPECT_EQ(missing.status, 500);
    EXPECT_EQ(Json::parse(missing.body)["success"], false);
}

TEST_F(RoutesTest, ReadWriteAndTheFileChanges) {
    connect({{"host", server().host_alias()}});
    const std::string file = scratch_path("notes.txt");

    HttpReply saved = post("/api/write", {{"path", file}, {"content", "caf\xc3\xa9\n"}});
    EXPECT_EQ(saved.body, R"({"success":true,"message":"File saved successfully"})");
    EXPECT_EQ(read_file(file), "caf\xc3\xa9\n");

    HttpReply read = get("/api/read?path=" + encode(file));
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.body,
              R"({"path":")" + file + R"(","content":"café\n","is_binary":false,"size":6})");

    EXPECT_EQ(post("/api/mkdir", {{"path", scratch_path("folder")}}).body,
              R"({"success":true,"message":"Directory created successfully"})");
    EXPECT_TRUE(std::filesystem::is_directory(scratch_path("folder")));
    // With no_replace, a name that is taken is refused, whether a folder or a file holds it.
    for (const std::string taken : {scratch_path("folder"), file}) {
        HttpReply refused = post("/api/mkdir", {{"path", taken}, {"no_replace", true}});
        EXPECT_EQ(refused.status, 500);
        EXPECT_EQ(Json::parse(refused.body)["error"], "[Errno 17] File exists: '" + taken + "'");
    }
    EXPECT_EQ(read_file(file), "caf\xc3\xa9\n");

    EXPECT_EQ(post("/api/rename", {{"from", file}, {"to", scratch_path("folder/moved.txt")}}).body,
              R"({"success":true,"message":"Renamed successfully"})");
    EXPECT_EQ(read_file(scratch_path("folder/moved.txt")), "caf\xc3\xa9\n");

    EXPECT_EQ(post("/api/delete", {{"path", scratch_path("folder")}, {"is_dir", true}}).body,
              R"({"success":true,"message":"Deleted successfully"})");
    EXPECT_FALSE(std::filesystem::exists(scratch_path("folder")));

    HttpReply failed = get("/api/read?path=" + encode(scratch_path("gone")));
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(Json::parse(failed.body).size(), 2u);
    // The connection stays after a failed operation.
    EXPECT_EQ(status()["connected"], true);
}

TEST_F(RoutesTest, UploadAndDownloadCarryRawBytes) {
    connect({{"host", server().host_alias()}});
    std::string bytes;
    for (int i = 0; i < 70000; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    const std::string file = scratch_path("data.bin");
    HttpReply uploaded = http_request(web.port(), "POST", "/api/upload?path=" + encode(file), bytes,
                                      "application/octet-stream");
    EXPECT_EQ(uploaded.body, R"({"success":true,"message":"File uploaded successfully"})");
    EXPECT_EQ(read_file(file), bytes);

    HttpReply downloaded = get("/api/download?path=" + encode(file));
    EXPECT_EQ(downloaded.status, 200);
    EXPECT_EQ(downloaded.body, bytes);
    EXPECT_EQ(downloaded.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(downloaded.header("Content-Disposition"), "attachment; filename=\"data.bin\"");
    EXPECT_EQ(downloaded.header("Access-Control-Allow-Origin"), "*");

    const std::string awkward = scratch_path("r\xc3\xa9sum\xc3\xa9 \"v2\".txt");
    ASSERT_TRUE(write_file(awkward, "x"));
    EXPECT_EQ(download_disposition(awkward),
              "attachment; filename=\"r_sum_ _v2_.txt\"; "
              "filename*=UTF-8''r%C3%A9sum%C3%A9%20%22v2%22.txt");

    EXPECT_EQ(get("/api/download?path=" + encode(scratch() + "/")).status, 500);
}

// A name that is not UTF-8 (Latin-1 "café", the byte 0xE9) is listed with the rest of its
// folder, the byte written as the escape \udce9; that escape in a JSON body, or %E9 in a query,
// reaches exactly that file, never its UTF-8 spelling beside it. (The test client's JSON
// library refuses lone surrogates, so these bodies are written and read as text.)
TEST_F(RoutesTest, ANameThatIsNotUtf8ReachesExactlyItsFile) {
    connect({{"host", server().host_alias()}});
    const std::string folder = scratch_path("d\xe9");
    const std::string odd = folder + "/caf\xe9.txt", utf8 = folder + "/caf\xc3\xa9.txt";
    ASSERT_TRUE(write_file(odd, "latin-1 name"));
    ASSERT_TRUE(write_file(utf8, "utf-8 name"));
    // The folder and the file as JSON writes them.
    const std::string folder_json = scratch() + "/d\\udce9";
    const std::string odd_json = folder_json + "/caf\\udce9.txt";

    HttpReply listing = get("/api/list?path=" + encode(folder));
    EXPECT_EQ(listing.status, 200) << listing.body;
    EXPECT_NE(listing.body.find("{\"name\":\"caf\xc3\xa9.txt\",\"path\":\"" + folder_json +
                                "/caf\xc3\xa9.txt\",\"is_dir\":false"),
              std::string::npos)
        << listing.body;
    EXPECT_NE(listing.body.find("{\"name\":\"caf\\udce9.txt\",\"path\":\"" + odd_json +
                                "\",\"is_dir\":false"),
              std::string::npos)
        << listing.body;
    EXPECT_NE(get("/api/list?path=" + encode(scratch())).body.find("\"name\":\"d\\udce9\""),
              std::string::npos);

    HttpReply read = get("/api/read?path=" + encode(odd));
    EXPECT_EQ(read.body, "{\"path\":\"" + odd_json +
                             "\",\"content\":\"latin-1 name\",\"is_binary\":false,\"size\":12}");

    // The saved file's name is readable: U+FFFD for the byte.
    EXPECT_EQ(download_disposition(odd),
              "attachment; filename=\"caf_.txt\"; filename*=UTF-8''caf%EF%BF%BD.txt");
    EXPECT_EQ(get("/api/download?path=" + encode(odd)).body, "latin-1 name");

    HttpReply saved = http_post_json(web.port(), "/api/write",
                                     "{\"path\":\"" + odd_json + "\",\"content\":\"saved\"}");
    EXPECT_EQ(saved.status, 200) << saved.body;
    HttpReply uploaded =
        http_request(web.port(), "POST", "/api/upload?path=" + encode(odd + "\xff"), "uploaded",
                     "application/octet-stream");
    EXPECT_EQ(uploaded.status, 200) << uploaded.body;
    HttpReply made =
        http_post_json(web.port(), "/api/mkdir", "{\"path\":\"" + folder_json + "/sub\\udcff\"}");
    EXPECT_EQ(made.status, 200) << made.body;
    EXPECT_EQ(read_file(odd), "saved");
    EXPECT_EQ(read_file(odd + "\xff"), "uploaded");
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/sub\xff"));

    HttpReply renamed = http_post_json(web.port(), "/api/rename",
                                       "{\"from\":\"" + odd_json + "\",\"to\":\"" + folder_json +
                                           "/\\udcc0\\udcff\",\"no_replace\":true}");
    EXPECT_EQ(renamed.status, 200) << renamed.body;
    EXPECT_EQ(read_file(folder + "/\xc0\xff"), "saved");
    EXPECT_FALSE(std::filesystem::exists(odd));

    HttpReply deleted =
        http_post_json(web.port(), "/api/delete",
                       "{\"path\":\"" + folder_json + "/\\udcc0\\udcff\",\"is_dir\":false}");
    EXPECT_EQ(deleted.status, 200) << deleted.body;
    EXPECT_FALSE(std::filesystem::exists(folder + "/\xc0\xff"));
    // The UTF-8 spelling was never touched.
    EXPECT_EQ(read_file(utf8), "utf-8 name");

    // A failure that names such a path is still a JSON reply.
    HttpReply missing = get("/api/read?path=" + encode(folder + "/gone\xe9"));
    EXPECT_EQ(missing.status, 500);
    Json failure = Json::parse(missing.body, nullptr, false);
    ASSERT_FALSE(failure.is_discarded()) << missing.body;
    EXPECT_NE(failure["error"].get<std::string>().find("gone"), std::string::npos);

    HttpReply removed = http_post_json(web.port(), "/api/delete",
                                       "{\"path\":\"" + folder_json + "\",\"is_dir\":true}");
    EXPECT_EQ(removed.status, 200) << removed.body;
    EXPECT_FALSE(std::filesystem::exists(folder));
}

// Three changes written in one send are all made, in order, and all answered.
TEST_F(RoutesTest, PipelinedChangesAllRun) {
    connect({{"host", server().host_alias()}});
    std::string requests;
    for (const char* name : {"one", "one/two", "one/two/three"}) {
        const std::string body = Json{{"path", scratch_path(name)}}.dump();
        requests +=
            "POST /api/mkdir HTTP/1.1\r\nHost: " + web.host() +
            "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n\r\n" + body;
    }
    RawConnection connection(web.port());
    ASSERT_TRUE(connection.send(requests));
    std::string replies;
    while (count_of(replies, "HTTP/1.1 ") < 3) {
        const std::string more = connection.read_some(65536, 30s);
        if (more.empty())
            break;
        replies += more;
    }
    EXPECT_EQ(count_of(replies, "HTTP/1.1 200"), 3u) << replies;
    EXPECT_TRUE(std::filesystem::is_directory(scratch_path("one/two/three")));
}

// ---- transfers beside browsing ----

// A download whose client reads nothing (the server's writes stall on the full socket buffers)
// and an upload whose body stops after its first byte, both under way.
struct StalledTransfers {
    StalledTransfers(const InProcessServer& web, const std::string& source,
                     const std::string& target)
        : download(web.port()), upload(web.port()) {
        const std::string host = "Host: " + web.host() + "\r\n";
        EXPECT_TRUE(download.send("GET /api/download?path=" + encode(source) + " HTTP/1.1\r\n" +
                                  host + "\r\n"));
        EXPECT_TRUE(download.wait_readable(60s));
        EXPECT_TRUE(upload.send("POST /api/upload?path=" + encode(target) + " HTTP/1.1\r\n" + host +
                                "Content-Length: 1000\r\n\r\nx"));
    }
    RawConnection download;
    RawConnection upload;
};

class TransfersTest : public RoutesTest {
  protected:
    void SetUp() override {
        RoutesTest::SetUp();
        large = scratch_path("large.bin");
        target = scratch_path("target.txt");
        ASSERT_TRUE(write_file(large, std::string(48 << 20, 'z')));
        ASSERT_TRUE(write_file(target, "old content"));
    }
    void connect_server(const InProcessServer& other) {
        HttpReply reply = http_post_json(other.port(), "/api/connect",
                                         Json{{"host", server().host_alias()}}.dump());
        ASSERT_EQ(reply.status, 200) << reply.body;
    }
    std::string large;
    std::string target;
};

// Neither transfer holds up the requests of the page, and the stalled body is given up after
// its allowance in all, not reset by each byte that comes.
TEST_F(TransfersTest, TransfersNeverBlockBrowsing) {
    InProcessServer patient(ServerLimits{.body_wait = 3s, .body_wait_per_mebibyte = 0s});
    connect_server(patient);
    const std::string small = scratch_path("small.txt");
    ASSERT_TRUE(write_file(small, "small"));
    StalledTransfers transfers(patient, large, target);
    const std::vector<std::string> browsing = {"/api/status", "/api/list?path=" + encode(scratch()),
                                               "/api/read?path=" + encode(small)};
    const auto started = std::chrono::steady_clock::now();
    std::string upload_reply;
    // One byte a second.
    for (int sent = 0; sent < 10 && upload_reply.empty(); ++sent) {
        transfers.upload.send("x");
        for (const std::string& path : browsing) {
            SCOPED_TRACE(path);
            auto reply =
                std::async(std::launch::async, [&] { return http_get(patient.port(), path); });
            ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
            EXPECT_EQ(reply.get().status, 200);
        }
        if (transfers.upload.wait_readable(1s))
            upload_reply = transfers.upload.read_to_end(10s);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
    EXPECT_TRUE(upload_reply.starts_with("HTTP/1.1 400")) << upload_reply;
    EXPECT_NE(upload_reply.find("Failed to read upload payload"), std::string::npos)
        << upload_reply;
    EXPECT_EQ(read_file(target), "old content");
}

// Disconnecting ends the running transfers with an error for their clients: the stalled upload
// gets its reply at once and leaves the file as it was, the download's body is cut.
TEST_F(TransfersTest, DisconnectingEndsTheTransfers) {
    connect({{"host", server().host_alias()}});
    StalledTransfers transfers(web, large, target);
    // The upload's remote program is running.
    ASSERT_TRUE(
        wait_until([&] { return !remote_interpreters(base64_encode(target)).empty(); }, 30s));

    EXPECT_EQ(post("/api/disconnect", Json::object()).status, 200);
    ASSERT_TRUE(transfers.upload.wait_readable(10s));
    // The server closes the connection after the reply: the body did not all come.
    const std::string upload_reply = transfers.upload.read_to_end(10s);
    EXPECT_TRUE(upload_reply.starts_with("HTTP/1.1 500")) << upload_reply;
    EXPECT_NE(upload_reply.find("Upload stopped: the SSH connection was closed during the "
                                "transfer"),
              std::string::npos)
        << upload_reply;
    const std::string downloaded = transfers.download.read_to_end(30s);
    EXPECT_LT(downloaded.size(), size_t{48 << 20});
    EXPECT_FALSE(downloaded.ends_with("\r\n0\r\n\r\n"));
    EXPECT_EQ(read_file(target), "old content");
}

// Past the slots for transfers through one master, a transfer waits for one to end; it never
// fails for want of a session, and other runs still find theirs.
TEST_F(TransfersTest, TransfersPastTheSlotsWaitTheirTurn) {
    // Downloads whose clients read nothing are kept, not cut for a slow client.
    InProcessServer patient(ServerLimits{.write_timeout = 60s});
    connect_server(patient);
    const std::string request = "GET /api/download?path=" + encode(large) +
                                " HTTP/1.1\r\nHost: " + patient.host() + "\r\n\r\n";
    std::vector<std::unique_ptr<RawConnection>> running;
    for (size_t i = 0; i < transfer_slots; ++i) {
        running.push_back(std::make_unique<RawConnection>(patient.port()));
        ASSERT_TRUE(running.back()->send(request));
    }
    for (auto& download : running)
        ASSERT_TRUE(download->wait_readable(60s));
    RawConnection waiting(patient.port());
    ASSERT_TRUE(waiting.send(request));
    EXPECT_FALSE(waiting.wait_readable(1s));
    EXPECT_EQ(http_get(patient.port(), "/api/status").status, 200);
    // The sessions kept for other runs are free: a listing does not wait for a transfer.
    EXPECT_EQ(http_get(patient.port(), "/api/list?path=" + encode(scratch())).status, 200);
    running.front().reset();
    ASSERT_TRUE(waiting.wait_readable(20s));
    EXPECT_TRUE(waiting.read_some(64, 1s).starts_with("HTTP/1.1 200"));
}

}  // namespace
}  // namespace wrenfield::testing
