// The reply builders, the JSON text they write, the download file name, and the handing of a
// reply that holds the connection lock to the HTTP library.
#include "server/replies.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <thread>

#include "server/routes.h"
#include "support/wait_until.h"

namespace wrenfield {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

const Headers json_headers = {{"Content-Type", "application/json; charset=utf-8"},
                              {"Access-Control-Allow-Origin", "*"}};

TEST(RepliesTest, EnvelopeKeepsItsKeyOrderAndLeavesOutAbsentKeys) {
    Reply error = error_reply("Not connected to SSH host", 401);
    EXPECT_EQ(error.status, 401);
    EXPECT_EQ(error.headers, json_headers);
    EXPECT_EQ(error.body, R"({"success":false,"error":"Not connected to SSH host"})");

    EXPECT_EQ(message_reply("Disconnected").body, R"({"success":true,"message":"Disconnected"})");
    EXPECT_EQ(json_response(ApiResponse{true, "e", "m"}, 200).body,
              R"({"success":true,"error":"e","message":"m"})");
    EXPECT_EQ(json_response(ApiResponse{false, std::nullopt, std::nullopt}, 500).body,
              R"({"success":false})");
}

TEST(RepliesTest, TextIsEscapedOnlyWhereJsonRequiresIt) {
    EXPECT_EQ(error_reply("\"\\\n\t\b\f\r\x01\x1f\x7f/ \xc3\xa9\xe2\x82\xac", 500).body,
              "{\"success\":false,\"error\":\"\\\"\\\\\\n\\t\\b\\f\\r\\u0001\\u001f\x7f/ "
              "\xc3\xa9\xe2\x82\xac\"}");
    // Bytes that are not UTF-8 cannot be written as such; each becomes the escape of a lone
    // surrogate, which the JSON reader takes back as the same byte.
    EXPECT_EQ(error_reply("a\xff"
                          "b\xe9\xc3",
                          500)
                  .body,
              "{\"success\":false,\"error\":\"a\\udcffb\\udce9\\udcc3\"}");
    // Keys, array elements and nesting are written alike; numbers and literals as the library
    // writes them.
    nlohmann::ordered_json nested = {{"k\xe9", {1, -2, 2.5, true, nullptr, "\x80"}},
                                     {"o", nlohmann::ordered_json::object()},
                                     {"a", nlohmann::ordered_json::array()}};
    EXPECT_EQ(write_json(nested),
              "{\"k\\udce9\":[1,-2,2.5,true,null,\"\\udc80\"],\"o\":{},\"a\":[]}");
}

TEST(RepliesTest, FileContentAndAssetReplies) {
    Reply read = json_response(FileContent{"/f", "text", false, 4});
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.headers, json_headers);
    EXPECT_EQ(read.body, R"({"path":"/f","content":"text","is_binary":false,"size":4})");

    const std::string bytes("a\0b\xff", 4);
    Reply asset = asset_response(bytes, "text/css; charset=utf-8");
    EXPECT_EQ(asset.status, 200);
    EXPECT_EQ(asset.headers, (Headers{{"Content-Type", "text/css; charset=utf-8"},
                                      {"Access-Control-Allow-Origin", "*"}}));
    EXPECT_EQ(asset.body, bytes);

    nlohmann::ordered_json data = {{"connected", true}, {"home_dir", "/home/\xc3\xa9"}};
    EXPECT_EQ(json_response(data).body, "{\"connected\":true,\"home_dir\":\"/home/\xc3\xa9\"}");
}

TEST(DownloadNameTest, LastPartOfThePathAndItsHeader) {
    EXPECT_EQ(download_file_name("/home/me/notes.txt"), "notes.txt");
    EXPECT_EQ(download_file_name("notes.txt"), "notes.txt");
    EXPECT_EQ(download_file_name("/home/me/"), "");

    EXPECT_EQ(attachment_disposition("notes v2.txt"), "attachment; filename=\"notes v2.txt\"");
    EXPECT_EQ(attachment_disposition("caf\xc3\xa9 \"1\".txt"),
              "attachment; filename=\"caf_ _1_.txt\"; "
              "filename*=UTF-8''caf%C3%A9%20%221%22.txt");
    EXPECT_EQ(attachment_disposition("a\\b\r\n.txt"),
              "attachment; filename=\"a_b__.txt\"; filename*=UTF-8''a%5Cb%0D%0A.txt");
}

// A reply that holds the lock goes out through a body provider; one with an empty body must
// still end, and let the lock go once it has been sent.
TEST(SendReplyTest, LockedRepliesEndAndLetTheLockGo) {
    std::mutex slot;
    httplib::Server server;
    server.Get("/(.*)", [&](const httplib::Request& request, httplib::Response& response) {
        std::string body = request.path == "/empty" ? "" : "{\"ok\":true}";
        send_reply(response, Reply{200, {{"Content-Type", "application/json"}}, body},
                   std::unique_lock(slot));
    });
    int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { server.listen_after_bind(); });
    struct StopServer {
        httplib::Server& server;
        std::thread& serving;
        ~StopServer() {
            server.stop();
            serving.join();
        }
    } stop{server, serving};

    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(5, 0);
    for (std::string path : {"/empty", "/full", "/empty"}) {
        SCOPED_TRACE(path);
        auto result = client.Get(path);
        ASSERT_TRUE(result) << httplib::to_string(result.error());
        EXPECT_EQ(result->status, 200);
        EXPECT_EQ(result->body, path == "/empty" ? "" : "{\"ok\":true}");
        EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
        // The releaser runs on the server's thread just after the last byte went out.
        ASSERT_TRUE(testing::wait_until([&] { return slot.try_lock(); }, std::chrono::seconds(10)));
        slot.unlock();
    }
}

}  // namespace
}  // namespace wrenfield
