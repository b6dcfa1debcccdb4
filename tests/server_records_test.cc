// The query map, and the payload readers: what they accept, and the exact message and position
// of a rejection, which the page shows after "Invalid JSON: ".
#include "server/records.h"

#include <gtest/gtest.h>

namespace wrenfield {
namespace {

std::optional<std::string> path_of(std::optional<std::string_view> query) {
    return query_path_param(parse_query(query));
}

TEST(QueryTest, FormEncodedPairsAndThePathParameter) {
    EXPECT_EQ(path_of("path=a&path=b"), "b");
    EXPECT_EQ(path_of("path=a+b"), "a b");
    EXPECT_EQ(path_of("path=%2Fhome%2Fuser"), "/home/user");
    EXPECT_EQ(path_of("path"), "");
    EXPECT_EQ(path_of("path="), "");
    EXPECT_EQ(path_of("PATH=/x"), std::nullopt);
    EXPECT_EQ(path_of(std::nullopt), std::nullopt);
    EXPECT_EQ(path_of(""), std::nullopt);
    EXPECT_EQ(path_of("path=100%25"), "100%");
    EXPECT_EQ(path_of("path=%zz"), "%zz");
    EXPECT_EQ(path_of("path=%4"), "%4");
    EXPECT_EQ(path_of("path=a=b&&x=1"), "a=b");
    EXPECT_EQ(path_of("p%61th=%C3%A9%2B"), "\xc3\xa9+");
    // The decoded bytes are kept: a path names a remote file byte for byte, UTF-8 or not.
    EXPECT_EQ(path_of("path=%FF"), "\xff");
    EXPECT_EQ(path_of("path=caf%E9%C3%A9%ED%B3%A9"), "caf\xe9\xc3\xa9\xed\xb3\xa9");

    QueryMap map = parse_query("a=1&b&a=2&=v");
    EXPECT_EQ(map.at("a"), "2");
    EXPECT_EQ(map.at("b"), "");
    EXPECT_EQ(map.at(""), "v");
}

template <typename Payload>
std::string rejection(const std::expected<Payload, std::string>& result) {
    return result ? "(accepted)" : result.error();
}

TEST(ConnectPayloadTest, OptionalFieldsMayBeMissingOrNull) {
    auto only_host = read_connect_payload(R"({"host":"box"})");
    ASSERT_TRUE(only_host) << only_host.error();
    EXPECT_EQ(only_host->host, "box");
    EXPECT_FALSE(only_host->port);
    EXPECT_FALSE(only_host->user);
    EXPECT_FALSE(only_host->identity_file);
    EXPECT_FALSE(only_host->key_path);

    auto full = read_connect_payload(
        R"({"key_path":"/k","identity_file":" ","user":"me","port":2222,"host":"box","other":1})");
    ASSERT_TRUE(full) << full.error();
    EXPECT_EQ(full->port, 2222);
    EXPECT_EQ(full->user, "me");
    EXPECT_EQ(full->identity_file, " ");
    EXPECT_EQ(full->key_path, "/k");

    auto null_port = read_connect_payload(R"({"host":"box","port":null,"user":null})");
    ASSERT_TRUE(null_port) << null_port.error();
    EXPECT_FALSE(null_port->port);
    EXPECT_FALSE(null_port->user);
    EXPECT_EQ(read_connect_payload(R"({"host":"h","port":65535})")->port, 65535);
    EXPECT_EQ(read_connect_payload(R"({"host":"h","port":0})")->port, 0);
}

TEST(ConnectPayloadTest, PortMustBeAnIntegerInTheU16Range) {
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":"22"})")),
              R"(invalid type: string "22", expected u16 at line 1 column 23)");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":70000})")),
              "invalid value: integer `70000`, expected u16 at line 1 column 24");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":-1})")),
              "invalid value: integer `-1`, expected u16 at line 1 column 21");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":22.5})")),
              "invalid type: floating point `22.5`, expected u16 at line 1 column 23");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":1e5})")),
              "invalid type: floating point `100000.0`, expected u16 at line 1 column 22");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":100000000000000000000})")),
              "invalid type: floating point `1e20`, expected u16 at line 1 column 40");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":-0})")),
              "invalid type: floating point `-0.0`, expected u16 at line 1 column 21");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":true})")),
              "invalid type: boolean `true`, expected u16 at line 1 column 23");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":1e999})")),
              "number out of range at line 1 column 24");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":"h","port":022})")),
              "invalid number at line 1 column 21");
}

TEST(ConnectPayloadTest, HostIsRequiredAndMustBeAString) {
    EXPECT_EQ(rejection(read_connect_payload("{}")), "missing field `host` at line 1 column 2");
    EXPECT_EQ(rejection(read_connect_payload(R"({"port":22})")),
              "missing field `host` at line 1 column 11");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":null})")),
              "invalid type: null, expected a string at line 1 column 12");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":["a"]})")),
              "invalid type: sequence, expected a string at line 1 column 8");
    EXPECT_EQ(rejection(read_connect_payload(R"({"host":{}})")),
              "invalid type: map, expected a string at line 1 column 8");
}

TEST(ConnectPayloadTest, ArrayFormNeedsEveryPosition) {
    auto positional = read_connect_payload(R"(["h", 22, null, null, "/k"])");
    ASSERT_TRUE(positional) << positional.error();
    EXPECT_EQ(positional->host, "h");
    EXPECT_EQ(positional->port, 22);
    EXPECT_EQ(positional->key_path, "/k");
    EXPECT_EQ(
        rejection(read_connect_payload(R"(["h"])")),
        "invalid length 1, expected struct ConnectPayload with 5 elements at line 1 column 5");
}

TEST(PayloadTest, FieldsAndTheirTypes) {
    EXPECT_EQ(rejection(read_delete_payload(R"({"path":"/a"})")),
              "missing field `is_dir` at line 1 column 13");
    EXPECT_EQ(rejection(read_delete_payload(R"({"path":"/a","is_dir":"true"})")),
              R"(invalid type: string "true", expected a boolean at line 1 column 28)");
    auto deletion = read_delete_payload(R"({"is_dir":true,"path":"/a"})");
    ASSERT_TRUE(deletion);
    EXPECT_TRUE(deletion->is_dir);
    EXPECT_EQ(rejection(read_delete_payload("{}")), "missing field `path` at line 1 column 2");

    EXPECT_EQ(rejection(read_mkdir_payload(R"({"Path":"/a"})")),
              "missing field `path` at line 1 column 13");
    EXPECT_EQ(rejection(read_rename_payload(R"({"to":"/b"})")),
              "missing field `from` at line 1 column 11");

    auto ignored = read_mkdir_payload(
        R"({"extra":{"x":[1,-2.5e3,{"y":null,"z":[true,false,"s\"\u0041"]}],"w":{}},"path":"/a","more":[]})");
    ASSERT_TRUE(ignored) << ignored.error();
    EXPECT_EQ(ignored->path, "/a");
    EXPECT_FALSE(ignored->no_replace);
    auto refusing = read_mkdir_payload(R"({"no_replace":true,"path":"/a"})");
    ASSERT_TRUE(refusing) << refusing.error();
    EXPECT_TRUE(refusing->no_replace);

    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"/a","path":"/a"})")),
              "duplicate field `path` at line 1 column 19");

    auto empty_content = read_write_payload(R"({"content":"","path":"/f"})");
    ASSERT_TRUE(empty_content);
    EXPECT_EQ(empty_content->content, "");
    EXPECT_EQ(empty_content->path, "/f");

    auto rename = read_rename_payload(R"(["/a","/b"])");
    ASSERT_TRUE(rename);
    EXPECT_EQ(rename->from, "/a");
    EXPECT_EQ(rename->to, "/b");
    EXPECT_FALSE(rename->no_replace);
    EXPECT_EQ(rejection(read_rename_payload(R"(["/a","/b",true,"/c"])")),
              "trailing characters at line 1 column 17");

    // `no_replace` may be left out of either form (it is then false), but is never null.
    EXPECT_TRUE(read_rename_payload(R"(["/a","/b",true])")->no_replace);
    EXPECT_TRUE(read_write_payload(R"({"no_replace":true,"path":"/f","content":""})")->no_replace);
    EXPECT_FALSE(read_write_payload(R"(["/f",""])")->no_replace);
    EXPECT_FALSE(empty_content->no_replace);
    EXPECT_EQ(rejection(read_write_payload(R"({"path":"/f","content":"","no_replace":null})")),
              "invalid type: null, expected a boolean at line 1 column 43");
    EXPECT_EQ(rejection(read_mkdir_payload("[]")),
              "invalid length 0, expected struct MkdirPayload with 2 elements at line 1 column 2");
}

TEST(PayloadTest, StringsAreDecoded) {
    auto escaped =
        read_write_payload(R"({"p\u0061th":"/x","content":"a\u00e9\ud83d\ude00\n\t\"\\\/ é"})");
    ASSERT_TRUE(escaped) << escaped.error();
    EXPECT_EQ(escaped->path, "/x");
    EXPECT_EQ(escaped->content, "a\xc3\xa9\xf0\x9f\x98\x80\n\t\"\\/ \xc3\xa9");

    EXPECT_EQ(
        rejection(read_mkdir_payload("{\"path\":\"a\tb\"}")),
        "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 11");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"\q"})")),
              "invalid escape at line 1 column 11");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"\udc00"})")),
              "lone leading surrogate in hex escape at line 1 column 15");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"\ud800x"})")),
              "unexpected end of hex escape at line 1 column 16");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"/a)")),
              "EOF while parsing a string at line 1 column 11");
}

TEST(PayloadTest, WhiteSpaceTrailingDataAndMalformedBodies) {
    EXPECT_TRUE(read_mkdir_payload(" \n {\"path\" : \"/a\" } \t\r\n"));
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"/a"}{"path":"/b"})")),
              "trailing characters at line 1 column 14");
    EXPECT_EQ(rejection(read_mkdir_payload("")), "EOF while parsing a value at line 1 column 0");
    EXPECT_EQ(rejection(read_mkdir_payload("   ")), "EOF while parsing a value at line 1 column 3");
    EXPECT_EQ(rejection(read_mkdir_payload(R"("x")")),
              R"(invalid type: string "x", expected struct MkdirPayload at line 1 column 3)");
    EXPECT_EQ(rejection(read_mkdir_payload("null")),
              "invalid type: null, expected struct MkdirPayload at line 1 column 4");
    EXPECT_EQ(rejection(read_mkdir_payload("x")), "expected value at line 1 column 1");
    EXPECT_EQ(rejection(read_mkdir_payload("nul")), "EOF while parsing a value at line 1 column 3");
    EXPECT_EQ(rejection(read_mkdir_payload("{\n  \"path\": 5\n}")),
              "invalid type: integer `5`, expected a string at line 2 column 11");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"/a",})")),
              "trailing comma at line 1 column 14");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path" "/a"})")), "expected `:` at line 1 column 9");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"/a" "x":1})")),
              "expected `,` or `}` at line 1 column 14");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"path":"/a")")),
              "EOF while parsing an object at line 1 column 12");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"x":[1,]})")), "expected value at line 1 column 9");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"x":[1 2]})")),
              "expected `,` or `]` at line 1 column 9");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"x":{"a" 1}})")),
              "expected `:` at line 1 column 11");
    EXPECT_EQ(rejection(read_mkdir_payload(R"({"x":tru})")), "expected ident at line 1 column 9");
}

}  // namespace
}  // namespace wrenfield
