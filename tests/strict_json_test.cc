// The shared strict reader on its own: where its two sets of conventions part, and the forms a
// record may take. The messages of each user are tested with that user.
#include "ssh/strict_json.h"

#include <gtest/gtest.h>

namespace wrenfield::strict_json {
namespace {

constexpr FieldDescription kOneString[] = {{"a", FieldKind::string}};

std::string outcome(std::string_view text, const RecordDescription& record,
                    Conventions conventions) {
    auto values = read_record(text, record, conventions);
    return values ? "(read)" : values.error();
}

// Each difference is a message or position one of the two users gives today; a change to the
// shared code must not carry one convention over into the other.
TEST(StrictJsonTest, ConventionsPartOnlyWhereEachIsKnown) {
    struct Case {
        std::string_view text;
        std::string_view library;
        std::string_view listing;
    };
    const Case cases[] = {
        {R"({"x":[1,]})", "expected value at line 1 column 9", "trailing comma at line 1 column 9"},
        {R"({"x":{"b":1,}})", "key must be a string at line 1 column 13",
         "trailing comma at line 1 column 13"},
        {R"({"x":[)", "EOF while parsing a list at line 1 column 6",
         "EOF while parsing a value at line 1 column 6"},
        {R"({"x":"\udc00"})", "missing field `a` at line 1 column 14",
         "lone leading surrogate in hex escape at line 1 column 12"},
        {"{\"x\":\"\t\"}",
         "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 6",
         "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 7"},
        {R"({"x":1.)", "invalid number at line 1 column 7",
         "EOF while parsing a value at line 1 column 7"},
        {R"({"x":-)", "invalid number at line 1 column 6",
         "EOF while parsing a value at line 1 column 6"},
        {R"({"x":1e)", "invalid number at line 1 column 7",
         "EOF while parsing a value at line 1 column 7"},
        {R"({"a":"\uZ000"})", "invalid escape at line 1 column 12",
         "invalid escape at line 1 column 9"},
        {R"({"a":"v","a"})", "duplicate field `a` at line 1 column 13",
         "duplicate field `a` at line 1 column 12"},
        // Agreed: a skipped number is not checked for range.
        {R"({"x":1e999,"a":"v"})", "(read)", "(read)"},
    };
    const RecordDescription record{"struct R", kOneString};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(outcome(c.text, record, Conventions::library), c.library);
        EXPECT_EQ(outcome(c.text, record, Conventions::listing), c.listing);
    }
}

TEST(StrictJsonTest, RecordFormsAndArraysOfRecords) {
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
    auto read = read_record_array(R"([{"a":"x"}, ["y", 7], {"n":null,"a":"z"}])", either,
                                  Conventions::library, take);
    ASSERT_TRUE(read) << read.error();
    EXPECT_EQ(seen, (std::vector<std::string>{"x:-", "y:7", "z:-"}));

    // A record that takes only the object form names an array by its kind.
    EXPECT_EQ(read_record_array(R"([["y", 7]])", object_only, Conventions::listing, take).error(),
              "invalid type: sequence, expected struct R at line 1 column 1");
    EXPECT_EQ(outcome(R"(["y"])", either, Conventions::library),
              "invalid length 1, expected struct R with 2 elements at line 1 column 5");
    EXPECT_EQ(outcome(R"(["y", null])", either, Conventions::library), "(read)");
    EXPECT_EQ(read_record_array("[] ,", either, Conventions::library, take).error(),
              "trailing characters at line 1 column 4");
}

}  // namespace
}  // namespace wrenfield::strict_json
