// The request loop and dispatch at the HTTP level: URL check, preflight, assets, the 404s, the
// same-origin guard in front of the API, and one thread per connection. None of these needs a
// remote machine.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "server/assets.h"
#include "support/in_process_server.h"
#include "support/local_system.h"
#include "support/program_launcher.h"

namespace wrenfield::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* html = "text/html; charset=utf-8";
constexpr const char* css = "text/css; charset=utf-8";
constexpr const char* javascript = "application/javascript; charset=utf-8";

// A file of the source tree, or one the build made (an absolute path).
std::string source_file(const std::string& file) {
    const std::string path =
        file.starts_with('/') ? file : std::string(WRENFIELD_SOURCE_DIR) + "/" + file;
    return read_file(path).value_or("");
}

class DispatchTest : public ::testing::Test {
  protected:
    HttpReply get(const std::string& path,
                  const std::multimap<std::string, std::string>& headers = {}) {
        return http_get(server.port(), path, headers);
    }
    HttpReply send(const std::string& method, const std::string& path,
                   const std::multimap<std::string, std::string>& headers = {},
                   const std::string& body = "") {
        return http_request(server.port(), method, path, body, body.empty() ? "" : "text/plain",
                            headers);
    }

    // A short read timeout: a body that stops coming is given up quickly.
    InProcessServer server{ServerLimits{.read_timeout = 300ms, .body_wait = 600ms}};
};

TEST_F(DispatchTest, EveryAssetPathServesItsFileWithItsContentType) {
    struct Expected {
        std::string path, content_type, file;
    };
    const std::vector<Expected> assets = {
        {"/", html, "web/index.html"},
        {"/index.html", html, "web/index.html"},
        {"/css/styles.css", css, "web/css/styles.css"},
        {"/css/highlight-light.min.css", css,
         "node_modules/@highlightjs/cdn-assets/styles/github.min.css"},
        {"/css/highlight-dark.min.css", css,
         "node_modules/@highlightjs/cdn-assets/styles/github-dark.min.css"},
        // The page's scripts, as the build bundled them from their modules.
        {"/js/app.js", javascript, WRENFIELD_BUILD_DIR "/embedded_assets/app.js"},
        {"/js/markdown_viewer.js", javascript,
         WRENFIELD_BUILD_DIR "/embedded_assets/markdown_viewer.js"},
        {"/js/feedback.js", javascript, WRENFIELD_BUILD_DIR "/embedded_assets/feedback.js"},
        {"/vendor/marked.min.js", javascript, "node_modules/marked/marked.min.js"},
        {"/vendor/highlight.min.js", javascript,
         "node_modules/@highlightjs/cdn-assets/highlight.min.js"},
        {"/vendor/html2canvas.min.js", javascript,
         "node_modules/html2canvas/dist/html2canvas.min.js"},
        {"/vendor/purify.min.js", javascript, "node_modules/dompurify/dist/purify.min.js"},
    };
    for (const auto& asset : assets) {
        SCOPED_TRACE(asset.path);
        // Asked as a browser asks, offering compressed encodings: the file still goes out as
        // it is.
        HttpReply reply = get(asset.path, {{"Accept-Encoding", "gzip, deflate, br"}});
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.header("Content-Type"), asset.content_type);
        EXPECT_EQ(reply.header("Access-Control-Allow-Origin"), "*");
        EXPECT_EQ(reply.header("Cache-Control"), "");
        EXPECT_EQ(reply.header("Content-Encoding"), "");
        // Byte for byte the file of the source tree (or of the build).
        const std::string file = source_file(asset.file);
        EXPECT_EQ(reply.header("Content-Length"), std::to_string(file.size()));
        EXPECT_EQ(reply.body, file);
    }
    EXPECT_GT(get("/vendor/html2canvas.min.js").body.size(), 100000u);
}

// Each of the page's scripts is built from several modules: as served, it is one script that a
// JavaScript engine accepts, and it holds what it imported and what the page calls.
TEST_F(DispatchTest, ThePageScriptsAreServedAsOneValidScriptEach) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> scripts = {
        {"app.js", {"function uploadFiles(", "function escapeHtml("}},
        {"markdown_viewer.js",
         {"function srcsetUrls(", "function lineBreakOf(", "window.openMarkdownViewer ="}},
        {"feedback.js", {"function copyPngImageWithText(", "window.FeedbackStudio ="}},
        {"listing-worker.js",
         {"function createListingReader(", "function foldersFirstOrder(",
          "function createListing("}},
    };
    TemporaryDirectory directory("wrenfield-page-script");
    for (const auto& [name, markers] : scripts) {
        SCOPED_TRACE(name);
        HttpReply reply = get("/js/" + name, {{"Accept-Encoding", "gzip, deflate, br"}});
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.header("Content-Type"), javascript);
        EXPECT_EQ(reply.header("Content-Length"), std::to_string(reply.body.size()));
        const std::string script = directory / name;
        ASSERT_TRUE(write_file(script, reply.body));
        CommandResult check = run_command({"node", "--check", script});
        EXPECT_EQ(check.exit_code, 0) << check.error;
        for (const std::string& marker : markers) {
            EXPECT_NE(reply.body.find(marker), std::string::npos) << marker;
        }
    }
}

// The page's Content-Security-Policy, directive by directive: name -> its source list.
std::map<std::string, std::vector<std::string>> policy_directives(const std::string& policy) {
    std::map<std::string, std::vector<std::string>> directives;
    std::istringstream pieces(policy);
    for (std::string piece; std::getline(pieces, piece, ';');) {
        std::istringstream words(piece);
        std::string name;
        words >> name;
        auto& sources = directives[name];
        for (std::string word; words >> word;)
            sources.push_back(word);
    }
    return directives;
}

TEST_F(DispatchTest, ThePageIsServedWithAPolicyThatLoadsNothingElseFromThisServer) {
    const std::string port = std::to_string(server.port());
    const std::vector<std::string> origins = {"http://127.0.0.1:" + port,
                                              "http://localhost:" + port};
    for (const char* page : {"/", "/index.html"}) {
        SCOPED_TRACE(page);
        auto directives = policy_directives(get(page).header("Content-Security-Policy"));
        for (const char* closed :
             {"default-src", "frame-src", "object-src", "form-action", "base-uri"}) {
            EXPECT_EQ(directives[closed], std::vector<std::string>{"'none'"}) << closed;
        }
        EXPECT_EQ(directives["img-src"], (std::vector<std::string>{"https:", "data:"}));
        // Every source on this server is one exact asset of the directive's kind (both names
        // of the machine), or the API for requests: never the whole origin, which would admit
        // an image or a sheet from /api/.
        const std::map<std::string, std::string> kinds = {
            {"script-src", javascript}, {"style-src", css}, {"connect-src", ""}};
        for (const auto& [directive, content_type] : kinds) {
            SCOPED_TRACE(directive);
            std::set<std::string> named;
            for (const std::string& source : directives[directive]) {
                if (std::ranges::any_of(origins,
                                        [&](const auto& o) { return source.starts_with(o); }))
                    named.insert(source);
            }
            std::set<std::string> expected;
            for (const std::string& origin : origins) {
                if (content_type.empty())
                    expected.insert(origin + "/api/");
                for (const StaticAsset& asset : static_assets()) {
                    if (!content_type.empty() && asset.content_type == content_type)
                        expected.insert(origin + std::string(asset.path));
                }
            }
            EXPECT_EQ(named, expected);
        }
        // The page sends requests to the API and nowhere else.
        EXPECT_EQ(directives["connect-src"].size(), origins.size());
        // Nor a source that takes in this server by a wider name.
        for (const auto& [directive, sources] : directives) {
            for (const std::string_view wide : {"'self'", "*", "http:", "'unsafe-eval'"})
                EXPECT_EQ(std::ranges::count(sources, wide), 0) << directive << " " << wide;
        }
        EXPECT_EQ(std::ranges::count(directives["script-src"], "'unsafe-inline'"), 0);
        // Workers: the one worker script, by its exact path under both names, and nothing else.
        ASSERT_NE(find_static_asset(listing_worker_path), nullptr);
        EXPECT_EQ(find_static_asset(listing_worker_path)->content_type, javascript);
        EXPECT_EQ(directives["worker-src"],
                  (std::vector<std::string>{origins[0] + std::string(listing_worker_path),
                                            origins[1] + std::string(listing_worker_path)}));
    }
    // Only the page carries it; the sheets, scripts and replies are not documents.
    EXPECT_EQ(get("/css/styles.css").header("Content-Security-Policy"), "");
    EXPECT_EQ(get("/js/app.js").header("Content-Security-Policy"), "");
    EXPECT_EQ(get("/nothing").header("Content-Security-Policy"), "");
}

TEST_F(DispatchTest, AssetsIgnoreTheMethodAndTheQuery) {
    const std::string page = get("/").body;
    EXPECT_EQ(send("POST", "/js/app.js").header("Content-Type"), javascript);
    HttpReply deleted = send("DELETE", "/");
    EXPECT_EQ(deleted.status, 200);
    EXPECT_EQ(deleted.body, page);
    EXPECT_EQ(get("/index.html?v=2").body, page);
    EXPECT_EQ(get("/index.html#top").status, 200);
}

TEST_F(DispatchTest, RangeRequestsGetTheWholeReply) {
    // An asset, a plain JSON reply, and one made from the connection's record.
    for (const char* path : {"/index.html", "/api/check-for-updates", "/api/status"}) {
        SCOPED_TRACE(path);
        const std::string whole = get(path).body;
        HttpReply reply = get(path, {{"Range", "bytes=0-3"}});
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.header("Content-Range"), "");
        EXPECT_EQ(reply.body.size(), whole.size());
        EXPECT_TRUE(reply.body == whole);
    }
}

TEST_F(DispatchTest, PathsAreComparedAfterUrlNormalisationButNotDecoded) {
    EXPECT_TRUE(raw_http_exchange(server.port(),
                                  "GET /css/../index.html HTTP/1.1\r\nHost: " + server.host() +
                                      "\r\nConnection: close\r\n\r\n")
                    .starts_with("HTTP/1.1 200"));
    EXPECT_TRUE(raw_http_exchange(server.port(),
                                  "GET /css/%2e%2e/index.html HTTP/1.1\r\nHost: " + server.host() +
                                      "\r\nConnection: close\r\n\r\n")
                    .starts_with("HTTP/1.1 200"));
    for (const char* path : {"/Index.html", "/js/App.js", "/%69ndex.html", "/api", "/favicon.ico",
                             "/css/styles.css/", "/vendor/"}) {
        SCOPED_TRACE(path);
        HttpReply reply = get(path);
        EXPECT_EQ(reply.status, 404);
        EXPECT_EQ(reply.body, R"({"success":false,"error":"Not Found"})");
        EXPECT_EQ(reply.header("Content-Type"), "application/json; charset=utf-8");
        EXPECT_EQ(reply.header("Access-Control-Allow-Origin"), "*");
    }
    for (const char* path : {"/api/", "/api/nothing", "/api/Status", "/api/status/"}) {
        SCOPED_TRACE(path);
        HttpReply reply = get(path);
        EXPECT_EQ(reply.status, 404);
        EXPECT_EQ(reply.body, R"({"success":false,"error":"Endpoint Not Found"})");
    }
}

TEST_F(DispatchTest, PreflightAnswersEveryPathWithTheThreeHeaders) {
    for (const char* path : {"/api/connect", "/no/such/path", "/"}) {
        SCOPED_TRACE(path);
        HttpReply reply = send("OPTIONS", path, {{"Origin", "http://elsewhere.example"}});
        EXPECT_EQ(reply.status, 204);
        EXPECT_EQ(reply.body, "");
        EXPECT_EQ(reply.header("Access-Control-Allow-Origin"), "*");
        EXPECT_EQ(reply.header("Access-Control-Allow-Methods"), "GET, POST, OPTIONS");
        EXPECT_EQ(reply.header("Access-Control-Allow-Headers"), "Content-Type");
        EXPECT_EQ(reply.header("Content-Type"), "");
    }
}

TEST_F(DispatchTest, TargetsThatMakeNoUrlGet400AlsoForOptions) {
    // The target is glued after "http://localhost": ":99999" is a port out of range.
    for (const char* method : {"GET", "OPTIONS"}) {
        SCOPED_TRACE(method);
        std::string response = raw_http_exchange(
            server.port(), std::string(method) + " :99999 HTTP/1.1\r\nHost: " + server.host() +
                               "\r\nConnection: close\r\n\r\n");
        EXPECT_TRUE(response.starts_with("HTTP/1.1 400")) << response;
        EXPECT_TRUE(response.ends_with(R"({"success":false,"error":"Invalid URL"})")) << response;
    }
    // A target that does not begin with "/" but still makes a URL: ":5050/index.html" gives
    // http://localhost:5050/index.html, whose path is an asset.
    EXPECT_TRUE(
        raw_http_exchange(server.port(), "GET :5050/index.html HTTP/1.1\r\nHost: " + server.host() +
                                             "\r\nConnection: close\r\n\r\n")
            .starts_with("HTTP/1.1 200"));
}

TEST_F(DispatchTest, UpdateCheckRouteTakesEveryMethodButHeadIsNotGet) {
    for (const char* method : {"GET", "POST", "PUT", "DELETE", "PATCH"}) {
        SCOPED_TRACE(method);
        HttpReply reply = send(method, "/api/check-for-updates", {}, "ignored");
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, R"({"success":true,"message":"Checking for updates..."})");
    }
    EXPECT_EQ(server.update_checks(), 5);

    EXPECT_EQ(send("HEAD", "/api/status").status, 404);
    EXPECT_EQ(send("POST", "/api/status").status, 404);
    EXPECT_EQ(get("/api/connect").body, R"({"success":false,"error":"Endpoint Not Found"})");
    EXPECT_EQ(get("/api/upload").status, 404);
    EXPECT_EQ(send("PUT", "/api/write", {}, "{}").status, 404);
}

TEST_F(DispatchTest, InputIsCheckedBeforeTheConnectionAndWithoutItsLock) {
    // The test holds the connection lock: answers that need no connection still come.
    std::lock_guard hold(server.connection()->mutex);
    HttpReply missing = get("/api/read");
    EXPECT_EQ(missing.status, 400);
    EXPECT_EQ(missing.body, R"({"success":false,"error":"Missing path parameter"})");
    EXPECT_EQ(get("/api/download").body, R"({"success":false,"error":"Missing path parameter"})");
    EXPECT_EQ(send("POST", "/api/upload", {}, "data").body,
              R"({"success":false,"error":"Missing path query parameter"})");
    HttpReply invalid = http_post_json(server.port(), "/api/mkdir", "{not json");
    EXPECT_EQ(invalid.status, 400);
    EXPECT_EQ(
        invalid.body,
        R"({"success":false,"error":"Invalid JSON: key must be a string at line 1 column 2"})");
    HttpReply bad_bytes = http_post_json(server.port(), "/api/rename", "{\"from\":\"\xff\"}");
    EXPECT_EQ(
        bad_bytes.body,
        R"({"success":false,"error":"Failed to read body: stream did not contain valid UTF-8"})");
    EXPECT_EQ(
        http_post_json(server.port(), "/api/connect", R"({"port":22})").body,
        R"({"success":false,"error":"Invalid JSON: missing field `host` at line 1 column 11"})");
    EXPECT_EQ(get("/api/check-for-updates").status, 200);
    EXPECT_EQ(get("/css/styles.css").status, 200);
}

TEST_F(DispatchTest, WithoutConnectionWellFormedRequestsGet401) {
    HttpReply read = get("/api/read?path=/etc/hostname");
    EXPECT_EQ(read.status, 401);
    EXPECT_EQ(read.body, R"({"success":false,"error":"Not connected to SSH host"})");
    EXPECT_EQ(get("/api/list").status, 401);
    EXPECT_EQ(http_post_json(server.port(), "/api/mkdir", R"({"path":"/tmp/x"})").status, 401);
    EXPECT_EQ(http_request(server.port(), "POST", "/api/upload?path=/tmp/x", "bytes").status, 401);

    HttpReply disconnect = http_post_json(server.port(), "/api/disconnect", "");
    EXPECT_EQ(disconnect.status, 200);
    EXPECT_EQ(disconnect.body, R"({"success":true,"message":"Disconnected"})");
    EXPECT_EQ(get("/api/status").body, R"({"connected":false})");
}

TEST_F(DispatchTest, RepliesCarryEachHeaderOnce) {
    // The status reply, made from the connection's record, an API reply that needs no
    // connection, and an asset.
    for (const char* path : {"/api/status", "/api/check-for-updates", "/css/styles.css"}) {
        SCOPED_TRACE(path);
        std::string response = raw_http_exchange(
            server.port(), std::string("GET ") + path + " HTTP/1.1\r\nHost: " + server.host() +
                               "\r\nConnection: close\r\n\r\n");
        std::string headers = response.substr(0, response.find("\r\n\r\n"));
        for (const char* name :
             {"\r\nContent-Type: ", "\r\nAccess-Control-Allow-Origin: ", "\r\nContent-Length: "}) {
            size_t first = headers.find(name);
            EXPECT_NE(first, std::string::npos) << name;
            EXPECT_EQ(headers.find(name, first + 1), std::string::npos) << name;
        }
    }
}

TEST_F(DispatchTest, UnreadBodiesDoNotDisturbTheNextRequestOnTheConnection) {
    httplib::Client client("127.0.0.1", server.port());
    client.set_keep_alive(true);
    for (int round = 0; round < 3; ++round) {
        auto disconnect = client.Post("/api/disconnect", std::string(100000, 'x'), "text/plain");
        ASSERT_TRUE(disconnect);
        EXPECT_EQ(disconnect->status, 200);
        auto asset = client.Post("/css/styles.css", "some body", "text/plain");
        ASSERT_TRUE(asset);
        EXPECT_EQ(asset->status, 200);
        auto status = client.Get("/api/status");
        ASSERT_TRUE(status);
        EXPECT_EQ(status->body, R"({"connected":false})");
    }
}

// A body is what the request's framing says it is: none without Content-Length or
// Transfer-Encoding, and whatever bytes came, of any type. The reply's status is the route's.
TEST_F(DispatchTest, BodiesAreWhatTheFramingSays) {
    const std::string head = "POST /api/disconnect HTTP/1.1\r\nHost: " + server.host() + "\r\n";
    const std::string disconnected = R"({"success":true,"message":"Disconnected"})";
    // No length: answered at once, not after a wait for a body that never comes.
    const std::string reply =
        raw_http_exchange(server.port(), head + "Connection: close\r\n\r\n", 3000);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
    EXPECT_NE(reply.find(disconnected), std::string::npos) << reply;
    {
        // The body of a route that does not read it stops coming: when the server gives up
        // waiting for the rest, the route has acted, and its reply says so.
        RawConnection connection(server.port());
        ASSERT_TRUE(connection.send(head + "Connection: close\r\nContent-Length: 10\r\n\r\nabc"));
        const std::string cut = connection.read_to_end(5s);
        EXPECT_TRUE(cut.starts_with("HTTP/1.1 200")) << cut;
        EXPECT_NE(cut.find(disconnected), std::string::npos) << cut;
    }
    // A form upload is bytes like any other: the JSON route reads them as its text, the other
    // routes leave them, and the guard refuses them from another site.
    const std::string form =
        "--b\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nx\r\n--b--\r\n";
    const std::string form_type = "multipart/form-data; boundary=b";
    HttpReply connect = http_request(server.port(), "POST", "/api/connect", form, form_type);
    EXPECT_EQ(connect.status, 400);
    EXPECT_TRUE(connect.body.starts_with(R"({"success":false,"error":"Invalid JSON: )"))
        << connect.body;
    HttpReply unread = http_request(server.port(), "POST", "/api/disconnect", form, form_type);
    EXPECT_EQ(unread.status, 200);
    EXPECT_EQ(unread.body, disconnected);
    HttpReply refused = http_request(server.port(), "POST", "/api/upload?path=/tmp/x", form,
                                     form_type, {{"Origin", "http://evil.example"}});
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body, R"({"success":false,"error":"Forbidden: cross-origin request"})");
}

// The queue of connections not yet accepted is the longest the system allows (the Send-Q that
// ss shows for a listening socket), so a burst of connects is not dropped.
TEST_F(DispatchTest, ListensWithTheSystemsLongestQueue) {
    const std::string maximum = read_file("/proc/sys/net/core/somaxconn").value_or("");
    ASSERT_FALSE(maximum.empty());
    CommandResult listing =
        run_command({"ss", "-ltnH", "sport = :" + std::to_string(server.port())});
    ASSERT_EQ(listing.exit_code, 0) << listing.error;
    std::istringstream fields(listing.output);
    std::string state, received, queue;
    fields >> state >> received >> queue;
    EXPECT_EQ(state, "LISTEN") << listing.output;
    EXPECT_EQ(queue, std::string(trim_whitespace(maximum))) << listing.output;
}

// ---- the same-origin guard ----

TEST_F(DispatchTest, RequestsFromOtherSitesAreRefusedBeforeAnythingRuns) {
    const std::string port = std::to_string(server.port());
    const std::vector<std::multimap<std::string, std::string>> refused = {
        {{"Origin", "http://evil.example"}},
        {{"Origin", "null"}},
        {{"Origin", "http://127.0.0.1:" + std::to_string(server.port() + 1)}},
        {{"Origin", "https://127.0.0.1:" + port}},
        {{"Origin", "http://127.0.0.1:" + port + "/"}},
        {{"Host", "evil.example:" + port}},
        {{"Host", "127.0.0.1"}},
        {{"Host", "127.0.0.2:" + port}},
        {{"Sec-Fetch-Site", "cross-site"}},
        {{"Sec-Fetch-Site", "same-site"}},
        {{"Origin", server.origin()}, {"Sec-Fetch-Site", "cross-site"}},
    };
    for (const auto& headers : refused) {
        SCOPED_TRACE(headers.begin()->first + ": " + headers.begin()->second);
        for (const char* method : {"GET", "POST"}) {
            HttpReply reply = send(method, "/api/check-for-updates", headers, "{}");
            EXPECT_EQ(reply.status, 403);
            EXPECT_EQ(reply.body, R"({"success":false,"error":"Forbidden: cross-origin request"})");
            EXPECT_EQ(reply.header("Content-Type"), "application/json; charset=utf-8");
        }
        // Unknown API paths too: the guard stands in front of the whole router.
        EXPECT_EQ(send("GET", "/api/nothing", headers).status, 403);
    }
    EXPECT_EQ(server.update_checks(), 0);

    // A simple form-style POST from another site reaches nothing either.
    HttpReply form = http_request(server.port(), "POST", "/api/disconnect", "{}", "text/plain",
                                  {{"Origin", "http://evil.example"}});
    EXPECT_EQ(form.status, 403);
}

TEST_F(DispatchTest, ThePagesOwnRequestsPass) {
    const std::string port = std::to_string(server.port());
    const std::vector<std::multimap<std::string, std::string>> allowed = {
        {},
        {{"Origin", "http://127.0.0.1:" + port}},
        {{"Origin", "http://localhost:" + port}, {"Host", "localhost:" + port}},
        {{"Host", "LocalHost:" + port}},
        {{"Host", "[::1]:" + port}},
        {{"Sec-Fetch-Site", "same-origin"}},
        {{"Sec-Fetch-Site", "none"}},
    };
    for (const auto& headers : allowed) {
        SCOPED_TRACE(headers.empty() ? "no extra headers"
                                     : headers.begin()->first + ": " + headers.begin()->second);
        EXPECT_EQ(send("POST", "/api/check-for-updates", headers, "{}").status, 200);
    }
    EXPECT_EQ(server.update_checks(), static_cast<int>(allowed.size()));
}

TEST_F(DispatchTest, AssetsAndPreflightStayOpenToOtherOrigins) {
    const std::multimap<std::string, std::string> foreign = {{"Origin", "http://evil.example"},
                                                             {"Sec-Fetch-Site", "cross-site"}};
    EXPECT_EQ(send("GET", "/css/styles.css", foreign).status, 200);
    EXPECT_EQ(send("GET", "/nothing", foreign).status, 404);
    EXPECT_EQ(send("OPTIONS", "/api/status", foreign).status, 204);
}

TEST(DispatchHostTest, AHostHeaderIsRequiredForTheApi) {
    InProcessServer server;
    std::string response = raw_http_exchange(server.port(), "GET /api/status HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(response.starts_with("HTTP/1.1 403")) << response;
    EXPECT_TRUE(raw_http_exchange(server.port(), "GET /css/styles.css HTTP/1.0\r\n\r\n")
                    .starts_with("HTTP/1.1 200"));
}

// ---- one thread per connection ----

TEST_F(DispatchTest, ARequestWaitingForTheConnectionDoesNotHoldUpOthers) {
    // While the test holds the connection lock, every status request waits as it would behind
    // a long remote operation. More of them than any fixed pool of workers would have.
    constexpr int waiting = 24;
    std::vector<std::future<HttpReply>> status_replies;
    {
        std::unique_lock hold(server.connection()->mutex);
        for (int i = 0; i < waiting; ++i) {
            status_replies.push_back(
                std::async(std::launch::async, [this] { return get("/api/status"); }));
        }
        std::this_thread::sleep_for(200ms);
        for (auto& reply : status_replies) {
            EXPECT_EQ(reply.wait_for(0ms), std::future_status::timeout);
        }
        auto started = std::chrono::steady_clock::now();
        HttpReply styles = get("/css/styles.css");
        EXPECT_EQ(styles.status, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
        EXPECT_EQ(get("/api/check-for-updates").status, 200);
        EXPECT_EQ(status_replies.front().wait_for(0ms), std::future_status::timeout);
    }
    for (auto& reply : status_replies) {
        EXPECT_EQ(reply.get().body, R"({"connected":false})");
    }
}

TEST(BindTest, ABusyPortGivesTheSystemsMessage) {
    auto first = bind_server(0);
    ASSERT_TRUE(first) << first.error();
    auto second = bind_server(first->port);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error(), "Address already in use (os error 98)");
}

}  // namespace
}  // namespace wrenfield::testing
