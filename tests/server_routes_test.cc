// The API routes that use the remote machine, at the HTTP level against the local OpenSSH
// server. The scratch directory is local and remote at once, so results are checked straight
// on the file system.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>

#include <nlohmann/json.hpp>

#include "support/in_process_server.h"
#include "support/local_system.h"
#include "support/program_launcher.h"
#include "support/sshd_fixture.h"

namespace wrenfield::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

std::string encode(const std::string& text) {
    return httplib::detail::encode_query_param(text);
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
    // Read raw: the test client would decode the percent-escapes of header values.
    std::string named = raw_http_exchange(web.port(), "GET /api/download?path=" + encode(awkward) +
                                                          " HTTP/1.1\r\nHost: " + web.host() +
                                                          "\r\nConnection: close\r\n\r\n");
    EXPECT_NE(named.find("\r\nContent-Disposition: attachment; filename=\"r_sum_ _v2_.txt\"; "
                         "filename*=UTF-8''r%C3%A9sum%C3%A9%20%22v2%22.txt\r\n"),
              std::string::npos)
        << named;

    EXPECT_EQ(get("/api/download?path=" + encode(scratch() + "/")).status, 500);
}

TEST_F(RoutesTest, TheLockIsHeldUntilTheReplyHasBeenWritten) {
    connect({{"host", server().host_alias()}});
    const std::string file = scratch_path("large.bin");
    ASSERT_TRUE(write_file(file, std::string(48 << 20, 'z')));

    // A download whose client reads nothing yet: once the reply has begun, the server's write
    // stalls on the full socket buffers, with the lock still held.
    RawConnection download(web.port());
    ASSERT_TRUE(download.send("GET /api/download?path=" + encode(file) + " HTTP/1.1\r\nHost: " +
                              web.host() + "\r\nConnection: close\r\n\r\n"));
    ASSERT_TRUE(download.wait_readable(60s));

    auto state = std::async(std::launch::async, [&] { return get("/api/status"); });
    EXPECT_EQ(state.wait_for(700ms), std::future_status::timeout);
    std::string response = download.read_to_end(60s);
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200")) << response.substr(0, 200);
    EXPECT_GT(response.size(), size_t{48 << 20});
    EXPECT_EQ(Json::parse(state.get().body)["connected"], true);
}

}  // namespace
}  // namespace wrenfield::testing
