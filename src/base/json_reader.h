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

// Where a piece of a text begins within the whole: the bytes and the line feeds before it, and
// where the line it begins in started.
struct TextOrigin {
    size_t offset = 0;
    size_t lines = 0;
    size_t line_start = 0;

    // Where the text that follows `text` (which begins here) begins.
    TextOrigin after(std::string_view text) const;
};

// Where reading an array of records stands.
enum class ArrayPlace { before, first, next, after, done };

// Reads one JSON array of records from a text that comes piece by piece, handing each record's
// values to `take` as soon as the record is complete. What it accepts, and its messages with
// their positions, are those of read_record_array over the whole text; a fault is reported as
// soon as the text up to it settles it. Holds only the text of the step under way.
class RecordArrayReader {
  public:
    using Take = std::function<void(std::vector<FieldValue>&)>;

    explicit RecordArrayReader(const RecordDescription& record) : record_(record) {}

    // The next piece of the text. After an error nothing more is to be fed.
    std::expected<void, std::string> feed(std::string_view piece, const Take& take);
    // The text has ended: reads what is left and checks that the array was whole.
    std::expected<void, std::string> finish(const Take& take);

  private:
    std::expected<void, std::string> read(bool complete, const Take& take);

    RecordDescription record_;
    ArrayPlace place_ = ArrayPlace::before;
    // The text not read yet, and where it begins in the whole.
    std::string pending_;
    TextOrigin origin_;
    // The unread text's size when a step last ran out of text.
    size_t waiting_for_ = 0;
};

}  // namespace wrenfield::json_reader
