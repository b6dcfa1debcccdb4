// The reply builders, the JSON text they write, the download file name, and the handing of a
// reply made piece by piece to the connection loop.
#include "server/replies.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/routes.h"
#include "support/in_process_server.h"
#include "support/wait_until.h"

namespace wrenfield {
namespace {

using testing::HandlerServer;

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

// The remote records in the API's form: keys in the order of their declaration, a probe's
// result with its fixed "success" and "error", and an absent key file as null.
TEST(RepliesTest, RemoteRecordsKeepTheirKeyOrder) {
    ConnectResult probe{"deploy@box", "deploy",    "/home/deploy", "Welcome!\nLinux 6.1.0 x86_64",
                        true,         std::nullopt};
    EXPECT_EQ(to_json(probe).dump(),
              "{\"success\":true,\"host\":\"deploy@box\",\"user\":\"deploy\",\"home_dir\":"
              "\"/home/deploy\",\"remote_os\":\"Welcome!\\nLinux 6.1.0 x86_64\",\"has_python\":"
              "true,\"error\":null,\"identity_file\":null}");
    probe.identity_file = "~/.ssh/id";
    EXPECT_TRUE(to_json(probe).dump().ends_with(
        ",\"has_python\":true,\"error\":null,\"identity_file\":\"~/.ssh/id\"}"));

    FileItem item{"a", "/r/a", false, false, 5, 1700000000, "-rw-r-----", false};
    EXPECT_EQ(to_json(item).dump(),
              "{\"name\":\"a\",\"path\":\"/r/a\",\"is_dir\":false,\"is_symlink\":false,"
              "\"size\":5,\"modified\":1700000000,\"permissions\":\"-rw-r-----\",\"is_hidden\":"
              "false,\"link_to_dir\":false}");
    item.is_symlink = item.link_to_dir = true;
    EXPECT_TRUE(to_json(item).dump().ends_with(",\"is_hidden\":false,\"link_to_dir\":true}"));
    EXPECT_EQ(to_json(FileContent{"/r/latin1", "Y2Fm6Q==", true, 4}).dump(),
              "{\"path\":\"/r/latin1\",\"content\":\"Y2Fm6Q==\",\"is_binary\":true,\"size\":4}");
}

// A listing entry is written straight to text, one at a time, exactly as the JSON tree of the
// entry is written: names with quotes, control characters, text outside ASCII and bytes that
// are not UTF-8, and the numbers at their ends.
TEST(RepliesTest, ListingEntriesAreWrittenAsTheirJsonTree) {
    const FileItem items[] = {
        {"a", "/r/a", false, false, 5, 1700000000, "-rw-r-----", false},
        {"\"q\\\n\x01\x7f\xc3\xa9\xf0\x9f\x98\x80", "/\xe9/x\xff\xc3", true, true, UINT64_MAX,
         INT64_MIN, "lrwxrwxrwx", true},
        {"", "", false, false, 0, -1, "", false},
    };
    for (const FileItem& item : items) {
        std::string written = "prefix";
        append_json(written, item);
        EXPECT_EQ(written, "prefix" + write_json(to_json(item)));
    }
}

// The viewer's refusal names the file's size and the bound as the page writes sizes, the unit
// first, then the value to the nearer tenth; without a known size, only the bound. Other
// failures keep the run's own message.
TEST(RepliesTest, ReadFailuresInTheUsersWords) {
    const auto too_large = [](uint64_t limit, std::optional<uint64_t> size) {
        ReadError error;
        error.code = ReadError::Code::TooLarge;
        error.limit = limit;
        error.size = size;
        return read_error_message(error);
    };
    EXPECT_EQ(too_large(64ull << 20, 1288490189),
              "File is too large to view (1.2 GB; the limit is 64 MB); use Download");
    EXPECT_EQ(too_large(64 << 10, (64 << 10) + 1),
              "File is too large to view (64 KB; the limit is 64 KB); use Download");
    EXPECT_EQ(too_large(64ull << 20, std::nullopt),
              "File is too large to view (more than 64 MB); use Download");
    EXPECT_EQ(too_large(64ull << 20, 1023),
              "File is too large to view (1023 B; the limit is 64 MB); use Download");
    ReadError failed;
    failed.message = "Not a regular file: /dev/zero";
    EXPECT_EQ(read_error_message(failed), "Not a regular file: /dev/zero");
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

// A reply made piece by piece goes out chunked and ends, also when it has no piece at all; what
// makes the pieces (a running child, in a download) is let go once the reply has been sent.
TEST(SendReplyTest, PieceByPieceRepliesEndAndLetTheirMakerGo) {
    std::mutex guard;
    std::weak_ptr<int> maker_alive;
    HandlerServer server([&](const RequestLine& request, HttpResponse& response,
                             const ClientRequest&) {
        std::vector<std::string> pieces;
        if (request.target != "/empty")
            pieces = {"{\"ok\"", ":true}"};
        auto maker = std::make_shared<int>(0);
        {
            std::lock_guard lock(guard);
            maker_alive = maker;
        }
        send_reply(response, Reply{200, {{"Content-Type", "application/json"}}, {}},
                   [maker, pieces, at = size_t{0}]() mutable {
                       if (at == pieces.size())
                           return std::expected<std::string_view, std::string>(std::string_view{});
                       return std::expected<std::string_view, std::string>(pieces[at++]);
                   });
    });

    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(5, 0);
    for (std::string path : {"/empty", "/full", "/empty"}) {
        SCOPED_TRACE(path);
        auto result = client.Get(path);
        ASSERT_TRUE(result) << httplib::to_string(result.error());
        EXPECT_EQ(result->status, 200);
        EXPECT_EQ(result->body, path == "/empty" ? "" : "{\"ok\":true}");
        EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
        // The releaser runs on the server's thread just after the last byte went out.
        EXPECT_TRUE(testing::wait_until(
            [&] {
                std::lock_guard lock(guard);
                return maker_alive.expired();
            },
            std::chrono::seconds(10)));
    }
}

}  // namespace
}  // namespace wrenfield
