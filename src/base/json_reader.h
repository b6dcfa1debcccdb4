// The strict JSON reader of records described by a table of fields. Its error texts are a
// fixed format: a message from a fixed set ("missing field `host`", "invalid type: integer `5`,
// expected a string", "trailing characters", ...) then " at line L column C". Users read them
// in the API's 400 replies after "Invalid JSON: " and in a failed listing after "Failed to
// parse directory listing: ". Pinned by tests/json_reader_test.cc, tests/server_records_test.cc
// and the ListingReader tests in tests/remote_format_test.cc.
//
// A string's value is bytes: the escape of a lone surrogate \udc80 to \udcff reads as the one
// byte 0x80 to 0xFF it stands for (json_text.h), so a value need not be UTF-8. Other lone
// surrogates are refused.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace wrenfield::json_reader {

// What a field takes. An optional field also takes null, and may be left out of an object.
// A `defaulted_boolean` may be left out of the object form, and off the end of the array form
// (it is then absent from the values); unlike the optional kinds, it is never null.
enum class FieldKind {
    string,
    optional_string,
    boolean,
    defaulted_boolean,
    optional_u16,
    u64,
    i64
};

struct FieldDescription {
    std::string_view name;
    FieldKind kind;
};

// Which JSON values may hold a record: only an object, or also an array that lists the field
// values in declared order.
enum class RecordForms { object, object_or_array };

struct RecordDescription {
    std::string_view name;  // "struct FileItem", used in "invalid type" messages
    std::span<const FieldDescription> fields;
    RecordForms forms = RecordForms::object;
};

// A field's value once read: monostate for an optional field that was absent or null, the
// string, the boolean, or the number (`optional_u16` and `u64` as uint64_t).
using FieldValue = std::variant<std::monostate, std::string, bool, uint64_t, int64_t>;

// Reads `text` as one record with nothing but white space around it. The error is the
// message followed by " at line L column C".
std::expected<std::vector<FieldValue>, std::string> read_record(std::string_view text,
                                                                const RecordDescription& record);

// Reads `text` as one JSON array of records, handing each record's values to `take` in order.
std::expected<void, std::string> read_record_array(
    std::string_view text, const RecordDescription& record,
    const std::function<void(std::vector<FieldValue>&)>& take);

}  // namespace wrenfield::json_reader
