// The shared strict reader on its own: what it checks in a value it skips, where it reports
// malformed input, and the forms a record may take. The messages of each user are tested with
// that user.
#include "base/json_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "base/json_text.h"

namespace wrenfield::json_reader {
namespace {

constexpr FieldDescription kOneString[] = {{"a", FieldKind::string}};

std::string outcome(std::string_view text, const RecordDescription& record) {
    auto values = read_record(text, record);
    return values ? "(read)" : values.error();
}

// A value under an unknown key is checked for its form only (a lone surrogate escape or a number
// out of range passes), and a fault inside it is named after the container it is in.
TEST(JsonReaderTest, SkippedValuesAndMalformedInputGiveTheFixedMessages) {
    struct Case {
        std::string_view text;
        std::string_view expected;
    };
    const Case cases[] = {
        {R"({"x":{"b":1,}})", "key must be a string at line 1 column 13"},
        {R"({"x":[)", "EOF while parsing a list at line 1 column 6"},
        {R"({"x":"\udc00"})", "missing field `a` at line 1 column 14"},
        {"{\"x\":\"\t\"}",
         "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 6"},
        {R"({"x":1.)", "invalid number at line 1 column 7"},
        {R"({"x":-)", "invalid number at line 1 column 6"},
        {R"({"x":1e)", "invalid number at line 1 column 7"},
        {R"({"x":1e999,"a":"v"})", "(read)"},
        // A bad hex digit is reported after all four digits of the escape.
        {R"({"a":"\uZ000"})", "invalid escape at line 1 column 12"},
        // A duplicate field is reported once the record's closing brace has been looked for.
        {R"({"a":"v","a"})", "duplicate field `a` at line 1 column 13"},
    };
    const RecordDescription record{"struct R", kOneString};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(outcome(c.text, record), c.expected);
    }
}

TEST(JsonReaderTest, RecordFormsAndArraysOfRecords) {
    const FieldDescription fields[] = {{"a", FieldKind::string}, {"n", FieldKind::optional_u16}};
    const RecordDescription object_only{"struct R", fields};
    const RecordDescription either{"struct R", fields, RecordForms::object_or_array};

    std::vector<std::string> seen;
    auto take = [&](std::vector<FieldValue>& values) {
        ASSERT_EQ(values.size(), 2u);
        seen.push_back(std::get<std::string>(values[0]) + ":" +
                       (std::holds_alternative<uint64_t>(values[1])
                            ? std::to_string(std::get<uint64_t>(values[1]))
                            : "-"));
    };
    auto read = read_record_array(R"([{"a":"x"}, ["y", 7], {"n":null,"a":"z"}])", either, take);
    ASSERT_TRUE(read) << read.error();
    EXPECT_EQ(seen, (std::vector<std::string>{"x:-", "y:7", "z:-"}));

    // A record that takes only the object form names an array by its kind.
    EXPECT_EQ(read_record_array(R"([["y", 7]])", object_only, take).error(),
              "invalid type: sequence, expected struct R at line 1 column 1");
    EXPECT_EQ(outcome(R"(["y"])", either),
              "invalid length 1, expected struct R with 2 elements at line 1 column 5");
    EXPECT_EQ(outcome(R"(["y", null])", either), "(read)");
    EXPECT_EQ(read_record_array("[] ,", either, take).error(),
              "trailing characters at line 1 column 4");
}

// A string's value is bytes. The writer escapes each byte that is not part of well-formed
// UTF-8 as \udcXX (as Python's surrogateescape does); the reader takes that escape back as
// the byte, so any bytes make the trip, and UTF-8 text is written as it is.
TEST(JsonReaderTest, StringsCarryBytesThatAreNotUtf8BothWays) {
    const RecordDescription record{"struct R", kOneString};
    auto written = [](std::string_view text) {
        std::string out;
        append_json_string(out, text);
        return out;
    };
    auto read_back = [&](std::string_view text) -> std::string {
        auto values = read_record("{\"a\":" + written(text) + "}", record);
        return values ? std::get<std::string>((*values)[0]) : "(error) " + values.error();
    };

    EXPECT_EQ(written("caf\xe9.txt"), R"("caf\udce9.txt")");
    EXPECT_EQ(written("caf\xc3\xa9 \xe2\x82\xac/\x7f"), "\"caf\xc3\xa9 \xe2\x82\xac/\x7f\"");
    EXPECT_EQ(written("\"\\\b\f\n\r\t\x01\x1f"), R"("\"\\\b\f\n\r\t\u0001\u001f")");
    // A sequence cut short, an overlong form, an encoded surrogate and a code point past
    // U+10FFFF are escaped byte by byte.
    EXPECT_EQ(written("\xe2\x82x"), R"("\udce2\udc82x")");
    EXPECT_EQ(written("\xc0\xaf"), R"("\udcc0\udcaf")");
    EXPECT_EQ(written("\xed\xb3\xa9"), R"("\udced\udcb3\udca9")");
    EXPECT_EQ(written("\xf4\x90\x80\x80"), R"("\udcf4\udc90\udc80\udc80")");

    std::mt19937 random(28);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 24, '\0');
        for (char& byte : bytes)
            byte = static_cast<char>(random() % 4 == 0 ? 0xC0 + random() % 64 : random() % 256);
        EXPECT_EQ(read_back(bytes), bytes) << written(bytes);
    }

    // What Python writes reads as the bytes; pairs still read as one code point.
    EXPECT_EQ(
        std::get<std::string>((*read_record(R"({"a":"\udc80\udcff\ud83d\udcc1"})", record))[0]),
        "\x80\xff\xf0\x9f\x93\x81");
    // Only \udc80 to \udcff stand for a byte.
    EXPECT_EQ(outcome(R"({"a":"\udc7f"})", record),
              "lone leading surrogate in hex escape at line 1 column 12");
    EXPECT_EQ(outcome(R"({"a":"\udd80"})", record),
              "lone leading surrogate in hex escape at line 1 column 12");
}

}  // namespace
}  // namespace wrenfield::json_reader
