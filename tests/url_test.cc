#include "server/url.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "support/local_system.h"

using namespace wrenfield;

namespace {

ParsedUrl parse_ok(std::string_view target) {
    const auto url = parse_request_url(target);
    EXPECT_TRUE(url.has_value()) << "target " << target << ": " << url.error();
    return url.value_or(ParsedUrl{});
}

std::string path_of(std::string_view target) {
    return parse_ok(target).path;
}

TEST(RequestUrl, PlainTargetsKeepTheirEscapes) {
    const ParsedUrl url = parse_ok("/api/list?path=%2Fhome#top");
    EXPECT_EQ(url.host, "localhost");
    EXPECT_EQ(url.port, std::nullopt);
    EXPECT_EQ(url.path, "/api/list");
    EXPECT_EQ(url.query, "path=%2Fhome");
    EXPECT_EQ(url.fragment, "top");
    EXPECT_EQ(path_of("/%69ndex.html"), "/%69ndex.html");
    EXPECT_EQ(parse_ok("/index.html?v=2").path, "/index.html");
    EXPECT_EQ(parse_ok("/index.html?v=2").query, "v=2");
}

TEST(RequestUrl, EmptyQueryAndFragmentDifferFromAbsentOnes) {
    EXPECT_EQ(parse_ok("/").query, std::nullopt);
    EXPECT_EQ(parse_ok("/?").query, "");
    EXPECT_EQ(parse_ok("/#").fragment, "");
    EXPECT_EQ(parse_ok("/#").query, std::nullopt);
    EXPECT_EQ(parse_ok("").path, "/");
}

TEST(RequestUrl, DotSegmentsResolveIncludingEncodedDots) {
    EXPECT_EQ(path_of("/css/../index.html"), "/index.html");
    EXPECT_EQ(path_of("/a/%2e%2E/b"), "/b");
    EXPECT_EQ(path_of("/a/.%2e/b"), "/b");
    EXPECT_EQ(path_of("/a/./b/."), "/a/b/");
    EXPECT_EQ(path_of("/a/b/.."), "/a/");
    EXPECT_EQ(path_of("/../../x"), "/x");
    EXPECT_EQ(path_of("/a/..%2f"), "/a/..%2f");
    EXPECT_EQ(path_of("/a/.../b"), "/a/.../b");
}

TEST(RequestUrl, BackslashesReadAsSlashes) {
    EXPECT_EQ(path_of("\\a\\b"), "/a/b");
    EXPECT_EQ(path_of("/a\\..\\b"), "/b");
}

TEST(RequestUrl, PortRangeAndDefault) {
    EXPECT_FALSE(parse_request_url(":99999").has_value());
    EXPECT_FALSE(parse_request_url(":65536/").has_value());
    EXPECT_FALSE(parse_request_url(":8a/").has_value());
    EXPECT_EQ(parse_ok(":65535").port, 65535);
    EXPECT_EQ(parse_ok(":0").port, 0);
    EXPECT_EQ(parse_ok(":080/x").port, std::nullopt);
    EXPECT_EQ(parse_ok(":/x").port, std::nullopt);
    EXPECT_EQ(parse_ok(":8080/x").path, "/x");
}

TEST(RequestUrl, TargetsThatContinueTheAuthority) {
    const ParsedUrl other = parse_ok("@x/y");
    EXPECT_EQ(other.host, "x");
    EXPECT_EQ(other.path, "/y");
    EXPECT_EQ(parse_ok(".evil/").host, "localhost.evil");
    EXPECT_EQ(parse_ok("?q").path, "/");
    EXPECT_EQ(parse_ok("?q").query, "q");
    EXPECT_EQ(parse_ok("#f").path, "/");
    EXPECT_EQ(parse_ok("@EVIL:81@%41b").host, "ab");
    EXPECT_EQ(parse_ok("@0x7f.1").host, "127.0.0.1");
    EXPECT_EQ(parse_ok("@10.0.0.1.").host, "10.0.0.1");
    EXPECT_EQ(parse_ok("@[0:0::FFFF:1.2.3.4]:81").host, "[::ffff:102:304]");
    EXPECT_EQ(parse_ok("@[1:0:0:2:0:0:0:3]").host, "[1:0:0:2::3]");
    EXPECT_EQ(parse_ok("@1.2.3.4%2e").host, "1.2.3.4");
    for (const char* bad : {"@", "@:80", ".1", "@1.256.1.1", "@4294967296", "@09", "@[::1", "@[:1]",
                            "@a%25b", "@a b", "@a^b", "@a|b", "@a<b", "@%00", " x", "@[1::2::3]"}) {
        EXPECT_FALSE(parse_request_url(bad).has_value()) << bad;
    }
}

TEST(RequestUrl, HostsNeedingInternationalProcessingAreRefused) {
    EXPECT_FALSE(parse_request_url("@\u00e9/").has_value());
    EXPECT_FALSE(parse_request_url("@%C3%A9/").has_value());
    EXPECT_FALSE(parse_request_url("@xn--nxasmq6b/").has_value());
}

TEST(RequestUrl, CharactersOutsideEachSetArePercentEncoded) {
    EXPECT_EQ(path_of("/a b/\u00e9/\"<>`{}|^'"), "/a%20b/%C3%A9/%22%3C%3E%60%7B%7D|^'");
    EXPECT_EQ(parse_ok("/?a b'\"<>`\u00e9").query, "a%20b%27%22%3C%3E`%C3%A9");
    EXPECT_EQ(parse_ok("/#a b'\"<>`#\u00e9").fragment, "a%20b'%22%3C%3E%60#%C3%A9");
    EXPECT_EQ(path_of("/a\x01\x7f"), "/a%01%7F");
}

TEST(RequestUrl, TabsAndNewlinesVanishAndTrailingSpaceIsCut) {
    EXPECT_EQ(path_of("/a\tb\nc\rd"), "/abcd");
    EXPECT_EQ(path_of("/x  \x01"), "/x");
    EXPECT_EQ(parse_ok(":8\t0\n80").port, 8080);
    EXPECT_FALSE(parse_request_url("/\xff").has_value());
}

// Pieces that make URLs interesting: dots in all spellings, separators, authority
// characters, ports, escapes good and bad, and characters from every percent-encode set.
const std::vector<std::string> corpus_pieces = {"",
                                                "/",
                                                "/",
                                                "/",
                                                "..",
                                                ".",
                                                "%2e",
                                                "%2E.",
                                                "%2e%2E",
                                                ".%2e",
                                                "\\",
                                                "?",
                                                "#",
                                                "@",
                                                ":",
                                                ":80",
                                                ":0",
                                                ":65536",
                                                ":8080",
                                                "[::1]",
                                                "[::",
                                                "]",
                                                "%41",
                                                " ",
                                                "\t",
                                                "\n",
                                                "\u00e9",
                                                "%zz",
                                                "%",
                                                "|",
                                                "^",
                                                "`",
                                                "{",
                                                "}",
                                                "<",
                                                ">",
                                                "\"",
                                                "'",
                                                "a",
                                                "B",
                                                "index",
                                                "api",
                                                ".com",
                                                "0x7f",
                                                ".1",
                                                "1.2",
                                                "256",
                                                "09",
                                                "0",
                                                "%00",
                                                "%2f",
                                                "%5c",
                                                "..%2f",
                                                "x y",
                                                "=",
                                                "&",
                                                "+",
                                                "~",
                                                "!",
                                                "$",
                                                "\x01",
                                                "\x7f",
                                                "[",
                                                "%25",
                                                "@[::ffff:1.2.3.4]",
                                                "@127.1",
                                                "@0X7F.0.0.1",
                                                "@[1:2]",
                                                "@a",
                                                "%3F",
                                                "0x",
                                                "1.2.3.4.5",
                                                "%31",
                                                "[1:2:3:4:5:6:7:8]",
                                                "[::1.2.3.4]",
                                                "[0::0:1]",
                                                "xn--a",
                                                "%2E",
                                                "%23",
                                                "\u3000",
                                                "\U0001F600",
                                                ";",
                                                ",",
                                                "*"};

std::vector<std::string> generate_corpus() {
    std::vector<std::string> targets = {
        ":99999",      "/css/../index.html", "/%69ndex.html", "/index.html?v=2",
        "/a/%2e%2E/b", "\\a\\..\\b",         "@x/y",          ".evil/",
        "?q",          "/a b/\u00e9"};
    std::mt19937 random(20240611);
    for (int i = 0; i < 800; ++i) {
        std::string target;
        // Most real targets begin with "/"; a third here do not, to reach the authority.
        if (random() % 3 != 0)
            target = "/";
        const unsigned count = 1 + random() % 6;
        for (unsigned piece = 0; piece < count; ++piece)
            target += corpus_pieces[random() % corpus_pieces.size()];
        targets.push_back(target);
    }
    return targets;
}

nlohmann::json optional_json(const auto& value) {
    if (value)
        return *value;
    return nullptr;
}

TEST(RequestUrl, AgreesWithNodeOnAGeneratedCorpus) {
    const std::vector<std::string> targets = generate_corpus();
    const wrenfield::testing::TemporaryDirectory scratch;
    std::string corpus;
    for (const std::string& target : targets)
        corpus += nlohmann::json(target).dump() + "\n";
    ASSERT_TRUE(wrenfield::testing::write_file(scratch / "corpus.jsonl", corpus));

    const wrenfield::testing::CommandResult node = wrenfield::testing::run_command(
        {"node", WRENFIELD_SOURCE_DIR "/tests/url_reference.mjs", scratch / "corpus.jsonl"});
    ASSERT_EQ(node.exit_code, 0) << node.error;
    std::istringstream lines(node.output);
    size_t index = 0, accepted = 0, refused_for_international_host = 0;
    for (std::string line; std::getline(lines, line); ++index) {
        ASSERT_LT(index, targets.size());
        const std::string& target = targets[index];
        const nlohmann::json expected = nlohmann::json::parse(line);
        const auto url = parse_request_url(target);
        SCOPED_TRACE("target " + nlohmann::json(target).dump());
        if (!url && url.error().find("international") != std::string::npos) {
            // Refused by design; Node then either fails too or had to write punycode.
            ++refused_for_international_host;
            if (expected["ok"]) {
                EXPECT_NE(expected["host"].get<std::string>().find("xn--"), std::string::npos);
            }
            continue;
        }
        ASSERT_EQ(url.has_value(), expected["ok"].get<bool>())
            << (url ? std::string("we accept") : "we refuse: " + url.error());
        if (!url)
            continue;
        ++accepted;
        EXPECT_EQ(url->host, expected["host"]);
        EXPECT_EQ(optional_json(url->port), expected["port"]);
        EXPECT_EQ(url->path, expected["path"]);
        EXPECT_EQ(optional_json(url->query), expected["query"]);
        EXPECT_EQ(optional_json(url->fragment), expected["fragment"]);
    }
    EXPECT_EQ(index, targets.size());
    // The corpus must exercise both outcomes, not only failures.
    EXPECT_GT(accepted, targets.size() / 2);
    std::printf("corpus: %zu targets, %zu accepted, %zu refused for an international host\n",
                targets.size(), accepted, refused_for_international_host);
}

}  // namespace
