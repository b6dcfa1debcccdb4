// The reader's rules are part of its message format (see json_reader.h): what is accepted,
// which error wins when several apply, and the line and column (counted in bytes from 1;
// column 0 for an empty line) at which each is reported. A syntax error is placed at the
// offending byte; a type or field error after the value, or for a missing field after the
// closing bracket.
#include "base/json_reader.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <system_error>

#include "base/text.h"

namespace wrenfield::json_reader {
namespace {

// An error without a position (line 0) gets one when it travels out of the record it concerns.
struct JsonError {
    std::string message;
    size_t line = 0;
    size_t column = 0;

    std::string text() const {
        if (line == 0)
            return message;
        return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
    }
};

template <typename T>
using Result = std::expected<T, JsonError>;

JsonError custom_error(std::string message) {
    return JsonError{std::move(message)};
}

// A number as the reader first sees it: kept as an integer while it fits 64 bits.
struct ParsedNumber {
    enum class Kind { unsigned_integer, signed_integer, floating } kind;
    uint64_t unsigned_value = 0;
    int64_t signed_value = 0;
    double floating_value = 0;
};

// A float as "invalid type: floating point `...`" shows it: the shortest digits that read back
// as the same value, as plain decimals with at least one fractional digit up to 16 digits,
// small fractions as 0.000ddd, else "1e30" or "1.5e-7".
std::string format_float(double value) {
    if (!std::isfinite(value))
        return value != value ? "NaN" : (value < 0 ? "-inf" : "inf");
    std::string out = std::signbit(value) ? "-" : "";
    if (value == 0)
        return out + "0.0";
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    if (error != std::errc())
        return out + "0.0";
    // buffer holds "d.ddde±XX" (or "de±XX" for a single digit).
    const std::string_view scientific(buffer, end - buffer);
    const size_t e = scientific.find('e');
    std::string digits;
    for (char c : scientific.substr(0, e)) {
        if (c != '.')
            digits += c;
    }
    const int exponent = std::atoi(std::string(scientific.substr(e + 1)).c_str());
    const int length = static_cast<int>(digits.size());
    const int scale = exponent - (length - 1);  // value = digits * 10^scale
    const int point = length + scale;           // 10^(point-1) <= value < 10^point
    if (scale >= 0 && point <= 16)
        return out + digits + std::string(static_cast<size_t>(scale), '0') + ".0";
    if (point > 0 && point <= 16)
        return out + digits.substr(0, point) + "." + digits.substr(point);
    if (point > -5 && point <= 0)
        return out + "0." + std::string(static_cast<size_t>(-point), '0') + digits;
    if (length == 1)
        return out + digits + "e" + std::to_string(point - 1);
    return out + digits.substr(0, 1) + "." + digits.substr(1) + "e" + std::to_string(point - 1);
}

std::string describe_number(const ParsedNumber& number) {
    switch (number.kind) {
        case ParsedNumber::Kind::unsigned_integer:
            return "integer `" + std::to_string(number.unsigned_value) + "`";
        case ParsedNumber::Kind::signed_integer:
            return "integer `" + std::to_string(number.signed_value) + "`";
        case ParsedNumber::Kind::floating:
            break;
    }
    return "floating point `" + format_float(number.floating_value) + "`";
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

// Whether the field takes null.
bool is_optional(FieldKind kind) {
    return kind == FieldKind::optional_string || kind == FieldKind::optional_u16;
}

// Whether the field may be left out of a record.
bool may_be_absent(FieldKind kind) {
    return is_optional(kind) || kind == FieldKind::defaulted_boolean;
}

}  // namespace

TextOrigin TextOrigin::after(std::string_view text) const {
    TextOrigin next = *this;
    for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
        ++next.lines;
        next.line_start = offset + at + 1;
    }
    next.offset += text.size();
    return next;
}

namespace {

class Reader {
  public:
    explicit Reader(std::string_view input, TextOrigin origin = {})
        : input_(input), origin_(origin) {}

    size_t index() const { return index_; }
    // Whether reading has looked past the end of the input since the last clear_ran_out(): only
    // then can more text change what it found.
    bool ran_out() const { return ran_out_; }
    void clear_ran_out() { ran_out_ = false; }

    Result<std::vector<FieldValue>> read_record(const RecordDescription& record) {
        auto values = deserialize_record(record);
        if (!values)
            return values;
        if (auto end = expect_end(); !end)
            return std::unexpected(end.error());
        return values;
    }

    Result<void> read_record_array(const RecordDescription& record,
                                   const std::function<void(std::vector<FieldValue>&)>& take) {
        ArrayPlace place = ArrayPlace::before;
        while (place != ArrayPlace::done) {
            auto step = array_step(record, place);
            if (!step)
                return std::unexpected(step.error());
            if (*step)
                take(**step);
        }
        return {};
    }

    // One step through an array of records from `place`, which it moves on: the opening
    // bracket, one record (returned) or the closing bracket, or the white space after it.
    Result<std::optional<std::vector<FieldValue>>> array_step(const RecordDescription& record,
                                                              ArrayPlace& place) {
        switch (place) {
            case ArrayPlace::before: {
                const int c = parse_whitespace();
                if (c == -1)
                    return std::unexpected(peek_error("EOF while parsing a value"));
                if (c != '[')
                    return std::unexpected(peek_invalid_type("a sequence"));
                eat_char();
                place = ArrayPlace::first;
                return std::nullopt;
            }
            case ArrayPlace::first:
            case ArrayPlace::next: {
                bool first = place == ArrayPlace::first;
                auto next = has_next_element(first);
                if (!next)
                    return std::unexpected(next.error());
                if (!*next) {
                    eat_char();  // the closing bracket
                    place = ArrayPlace::after;
                    return std::nullopt;
                }
                auto values = deserialize_record(record);
                if (!values)
                    return std::unexpected(values.error());
                place = ArrayPlace::next;
                return std::optional(std::move(*values));
            }
            case ArrayPlace::after:
                if (auto end = expect_end(); !end)
                    return std::unexpected(end.error());
                place = ArrayPlace::done;
                return std::nullopt;
            case ArrayPlace::done:
                break;
        }
        return std::nullopt;
    }

  private:
    // -1 stands for the end of the input.
    int peek() const {
        if (index_ < input_.size())
            return static_cast<unsigned char>(input_[index_]);
        ran_out_ = true;
        return -1;
    }
    int peek_or_null() const { return index_ < input_.size() ? peek() : 0; }
    void eat_char() { ++index_; }
    int next_char() {
        if (index_ < input_.size())
            return static_cast<unsigned char>(input_[index_++]);
        ran_out_ = true;
        return -1;
    }
    int next_char_or_null() {
        const int c = next_char();
        return c == -1 ? 0 : c;
    }

    JsonError error_at(std::string message, size_t index) const {
        const TextOrigin at = origin_.after(input_.substr(0, index));
        return JsonError{std::move(message), at.lines + 1, at.offset - at.line_start};
    }
    // An error caused by a byte already consumed.
    JsonError error(std::string message) const { return error_at(std::move(message), index_); }
    // An error caused by the byte about to be consumed.
    JsonError peek_error(std::string message) const {
        return error_at(std::move(message), std::min(input_.size(), index_ + 1));
    }
    JsonError fix_position(JsonError error) const {
        if (error.line == 0)
            return this->error(std::move(error.message));
        return error;
    }

    int parse_whitespace() {
        while (true) {
            const int c = peek();
            if (c != ' ' && c != '\n' && c != '\t' && c != '\r')
                return c;
            eat_char();
        }
    }

    // Only white space may follow the value.
    Result<void> expect_end() {
        if (parse_whitespace() != -1)
            return std::unexpected(peek_error("trailing characters"));
        return {};
    }

    Result<void> parse_ident(std::string_view rest) {
        for (char expected : rest) {
            const int c = next_char();
            if (c == -1)
                return std::unexpected(error("EOF while parsing a value"));
            if (c != static_cast<unsigned char>(expected))
                return std::unexpected(error("expected ident"));
        }
        return {};
    }

    // ---- strings ----

    // All four digits are taken before any is looked at, so a bad digit is reported after the
    // fourth.
    Result<uint16_t> decode_hex_escape() {
        if (input_.size() - index_ < 4) {
            index_ = input_.size();
            ran_out_ = true;
            return std::unexpected(error("EOF while parsing a string"));
        }
        int value = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int digit = hex_digit_value(input_[index_ + i]);
            if (digit < 0) {
                index_ += 4;
                return std::unexpected(error("invalid escape"));
            }
            value = value * 16 + digit;
        }
        index_ += 4;
        return static_cast<uint16_t>(value);
    }

    Result<void> parse_unicode_escape(std::string& out) {
        auto first = decode_hex_escape();
        if (!first)
            return std::unexpected(first.error());
        const uint32_t high = *first;
        // \udc80 to \udcff alone stand for the bytes 0x80 to 0xFF that are not UTF-8, as the
        // writer (json_text.h) and the remote programs' Python write them.
        if (high >= 0xDC80 && high <= 0xDCFF) {
            out += static_cast<char>(high & 0xFF);
            return {};
        }
        if (high >= 0xDC00 && high <= 0xDFFF)
            return std::unexpected(error("lone leading surrogate in hex escape"));
        if (high < 0xD800 || high > 0xDBFF) {
            append_utf8(out, high);
            return {};
        }
        // A leading surrogate must be followed by an escaped trailing one.
        for (char expected : std::string_view("\\u")) {
            const int c = next_char();
            if (c == -1)
                return std::unexpected(error("EOF while parsing a string"));
            if (c != expected)
                return std::unexpected(error("unexpected end of hex escape"));
        }
        auto second = decode_hex_escape();
        if (!second)
            return std::unexpected(second.error());
        const uint32_t low = *second;
        if (low < 0xDC00 || low > 0xDFFF)
            return std::unexpected(error("lone leading surrogate in hex escape"));
        append_utf8(out, (((high - 0xD800) << 10) | (low - 0xDC00)) + 0x10000);
        return {};
    }

    // The escapes other than \u, and what each stands for.
    static constexpr std::string_view kEscapes = "\"\\/bfnrt";
    static constexpr std::string_view kEscaped = "\"\\/\b\f\n\r\t";

    Result<void> parse_escape(std::string& out) {
        const int c = next_char();
        if (c == -1)
            return std::unexpected(error("EOF while parsing a string"));
        if (c == 'u')
            return parse_unicode_escape(out);
        const size_t escape = kEscapes.find(static_cast<char>(c));
        if (escape == std::string_view::npos)
            return std::unexpected(error("invalid escape"));
        out += kEscaped[escape];
        return {};
    }

    void skip_to_escape() {
        while (index_ < input_.size()) {
            const unsigned char c = input_[index_];
            if (c == '"' || c == '\\' || c < 0x20)
                return;
            ++index_;
        }
        ran_out_ = true;
    }

    // Reads a string whose opening quote has been consumed.
    Result<std::string> parse_str() {
        std::string out;
        size_t start = index_;
        while (true) {
            skip_to_escape();
            if (index_ == input_.size())
                return std::unexpected(error("EOF while parsing a string"));
            const char c = input_[index_];
            out.append(input_.substr(start, index_ - start));
            ++index_;
            if (c == '"')
                return out;
            if (c != '\\') {
                return std::unexpected(
                    error("control character (\\u0000-\\u001F) found while parsing a string"));
            }
            if (auto escaped = parse_escape(out); !escaped)
                return std::unexpected(escaped.error());
            start = index_;
        }
    }

    // Skips a string whose opening quote has been consumed; escapes are checked for form only.
    Result<void> ignore_str() {
        while (true) {
            skip_to_escape();
            if (index_ == input_.size())
                return std::unexpected(error("EOF while parsing a string"));
            const char c = input_[index_];
            if (c == '"') {
                ++index_;
                return {};
            }
            if (c != '\\') {
                return std::unexpected(
                    error("control character (\\u0000-\\u001F) found while parsing a string"));
            }
            ++index_;
            const int escaped = next_char();
            if (escaped == -1)
                return std::unexpected(error("EOF while parsing a string"));
            if (escaped == 'u') {
                if (auto hex = decode_hex_escape(); !hex)
                    return std::unexpected(hex.error());
            } else if (kEscapes.find(static_cast<char>(escaped)) == std::string_view::npos) {
                return std::unexpected(error("invalid escape"));
            }
        }
    }

    // ---- numbers ----

    // `start` is where the number began, its minus sign included.
    ParsedNumber finish_float(size_t start) const {
        const std::string text(input_.substr(start, index_ - start));
        ParsedNumber number{ParsedNumber::Kind::floating};
        number.floating_value = std::strtod(text.c_str(), nullptr);
        return number;
    }

    Result<ParsedNumber> parse_exponent(size_t start) {
        eat_char();
        if (peek_or_null() == '+' || peek_or_null() == '-')
            eat_char();
        const int c = next_char();
        if (c == -1)
            return std::unexpected(error("EOF while parsing a value"));
        if (!is_digit(c))
            return std::unexpected(error("invalid number"));
        while (is_digit(peek_or_null()))
            eat_char();
        return finish_float(start);
    }

    Result<ParsedNumber> parse_decimal(size_t start) {
        eat_char();
        bool any_digit = false;
        while (is_digit(peek_or_null())) {
            eat_char();
            any_digit = true;
        }
        if (!any_digit) {
            return std::unexpected(
                peek_error(peek() == -1 ? "EOF while parsing a value" : "invalid number"));
        }
        if (peek_or_null() == 'e' || peek_or_null() == 'E')
            return parse_exponent(start);
        return finish_float(start);
    }

    Result<ParsedNumber> parse_number_tail(size_t start, bool positive, uint64_t significand) {
        const int c = peek_or_null();
        if (c == '.')
            return parse_decimal(start);
        if (c == 'e' || c == 'E')
            return parse_exponent(start);
        if (positive) {
            ParsedNumber number{ParsedNumber::Kind::unsigned_integer};
            number.unsigned_value = significand;
            return number;
        }
        // Minus zero and numbers below the signed range are read as floating point.
        if (significand == 0 || significand > uint64_t{1} << 63) {
            ParsedNumber number{ParsedNumber::Kind::floating};
            number.floating_value = -static_cast<double>(significand);
            return number;
        }
        ParsedNumber number{ParsedNumber::Kind::signed_integer};
        number.signed_value = static_cast<int64_t>(0 - significand);
        return number;
    }

    // Reads the number at the current position ("-" or a digit), its fraction and exponent
    // included. A float too large to represent is returned as infinite.
    Result<ParsedNumber> parse_number() {
        const size_t start = index_;
        const bool positive = peek() != '-';
        if (!positive)
            eat_char();
        const int c = next_char();
        if (c == -1)
            return std::unexpected(error("EOF while parsing a value"));
        if (c == '0') {
            if (is_digit(peek_or_null()))
                return std::unexpected(peek_error("invalid number"));
            return parse_number_tail(start, positive, 0);
        }
        if (!is_digit(c))
            return std::unexpected(error("invalid number"));
        uint64_t significand = c - '0';
        while (is_digit(peek_or_null())) {
            const uint64_t digit = peek_or_null() - '0';
            if (significand > (UINT64_MAX - digit) / 10) {
                // Too long for an integer: the rest is read as floating point.
                while (is_digit(peek_or_null()))
                    eat_char();
                const int next = peek_or_null();
                if (next == '.')
                    return parse_decimal(start);
                if (next == 'e' || next == 'E')
                    return parse_exponent(start);
                return finish_float(start);
            }
            eat_char();
            significand = significand * 10 + digit;
        }
        return parse_number_tail(start, positive, significand);
    }

    // A number that is looked at must be representable.
    Result<ParsedNumber> parse_number_in_range() {
        auto number = parse_number();
        if (number && number->kind == ParsedNumber::Kind::floating &&
            std::isinf(number->floating_value)) {
            return std::unexpected(error("number out of range"));
        }
        return number;
    }

    // Skips a number whose minus sign, if any, has been consumed; checks its form only.
    Result<void> ignore_integer() {
        const int c = next_char_or_null();
        if (c == '0') {
            if (is_digit(peek_or_null()))
                return std::unexpected(peek_error("invalid number"));
        } else if (c >= '1' && c <= '9') {
            while (is_digit(peek_or_null()))
                eat_char();
        } else {
            return std::unexpected(error("invalid number"));
        }
        if (peek_or_null() == '.') {
            eat_char();
            bool any_digit = false;
            while (is_digit(peek_or_null())) {
                eat_char();
                any_digit = true;
            }
            if (!any_digit)
                return std::unexpected(peek_error("invalid number"));
        }
        if (peek_or_null() == 'e' || peek_or_null() == 'E') {
            eat_char();
            if (peek_or_null() == '+' || peek_or_null() == '-')
                eat_char();
            if (!is_digit(next_char_or_null()))
                return std::unexpected(error("invalid number"));
            while (is_digit(peek_or_null()))
                eat_char();
        }
        return {};
    }

    // ---- values of the wrong type, and values that are skipped ----

    // Reads the value ahead far enough to describe it, for an "invalid type" message.
    JsonError peek_invalid_type(std::string_view expected) {
        std::string found;
        const int c = peek_or_null();
        switch (c) {
            case 'n':
            case 't':
            case 'f': {
                eat_char();
                if (auto ident = parse_ident(c == 'n' ? "ull" : c == 't' ? "rue" : "alse"); !ident)
                    return ident.error();
                found = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
                break;
            }
            case '"': {
                eat_char();
                auto text = parse_str();
                if (!text)
                    return text.error();
                found = "string " + debug_quote(*text);
                break;
            }
            case '[':
                found = "sequence";
                break;
            case '{':
                found = "map";
                break;
            default: {
                if (c != '-' && !is_digit(c))
                    return peek_error("expected value");
                auto number = parse_number_in_range();
                if (!number)
                    return number.error();
                found = describe_number(*number);
            }
        }
        return error("invalid type: " + found + ", expected " + std::string(expected));
    }

    // Skips one scalar that starts at the current position.
    Result<void> skip_scalar(int c) {
        if (c == 'n' || c == 't' || c == 'f') {
            eat_char();
            return parse_ident(c == 'n' ? "ull" : c == 't' ? "rue" : "alse");
        }
        if (c == '"') {
            eat_char();
            return ignore_str();
        }
        if (c != '-' && !is_digit(c))
            return std::unexpected(peek_error("expected value"));
        if (c == '-')
            eat_char();
        return ignore_integer();
    }

    // Skips one well-formed value of any depth. Nesting is kept on a stack of its own rather
    // than by recursion, so no depth of nesting can exhaust the thread's stack.
    Result<void> ignore_value() {
        std::vector<char> open;  // the containers being skipped, innermost last
        while (true) {
            // A value starts here.
            const int c = parse_whitespace();
            if (c == -1)
                return std::unexpected(peek_error("EOF while parsing a value"));
            bool just_opened = false;
            if (c == '[' || c == '{') {
                eat_char();
                open.push_back(static_cast<char>(c));
                just_opened = true;
            } else if (auto scalar = skip_scalar(c); !scalar) {
                return scalar;
            } else if (open.empty()) {
                return {};
            }

            // Close as many containers as end here, then stop before the next element.
            while (true) {
                const bool in_list = open.back() == '[';
                const int closer = in_list ? ']' : '}';
                const int next = parse_whitespace();
                if (next == ',' && !just_opened) {
                    eat_char();
                    break;
                }
                if (next == closer) {
                    eat_char();
                    open.pop_back();
                    if (open.empty())
                        return {};
                    just_opened = false;
                    continue;
                }
                if (next == -1) {
                    return std::unexpected(peek_error(in_list ? "EOF while parsing a list"
                                                              : "EOF while parsing an object"));
                }
                if (!just_opened) {
                    return std::unexpected(
                        peek_error(in_list ? "expected `,` or `]`" : "expected `,` or `}`"));
                }
                break;
            }

            if (open.back() == '{') {
                const int quote = parse_whitespace();
                if (quote == -1)
                    return std::unexpected(peek_error("EOF while parsing an object"));
                if (quote != '"')
                    return std::unexpected(peek_error("key must be a string"));
                if (auto key = skip_scalar(quote); !key)
                    return key;
                if (auto colon = parse_object_colon(); !colon)
                    return colon;
            }
        }
    }

    // ---- the field kinds ----

    Result<FieldValue> deserialize_string() {
        const int c = parse_whitespace();
        if (c == -1)
            return std::unexpected(peek_error("EOF while parsing a value"));
        if (c != '"')
            return std::unexpected(peek_invalid_type("a string"));
        eat_char();
        auto text = parse_str();
        if (!text)
            return std::unexpected(text.error());
        return FieldValue(std::move(*text));
    }

    Result<FieldValue> deserialize_boolean() {
        const int c = parse_whitespace();
        if (c == -1)
            return std::unexpected(peek_error("EOF while parsing a value"));
        if (c != 't' && c != 'f')
            return std::unexpected(peek_invalid_type("a boolean"));
        eat_char();
        if (auto ident = parse_ident(c == 't' ? "rue" : "alse"); !ident)
            return std::unexpected(ident.error());
        return FieldValue(c == 't');
    }

    // An integer field: a JSON number outside the field's range is an "invalid value", one
    // with a fraction or an exponent an "invalid type".
    Result<FieldValue> deserialize_integer(FieldKind kind) {
        const std::string_view expected = kind == FieldKind::i64   ? "i64"
                                          : kind == FieldKind::u64 ? "u64"
                                                                   : "u16";
        const int c = parse_whitespace();
        if (c == -1)
            return std::unexpected(peek_error("EOF while parsing a value"));
        if (c != '-' && !is_digit(c))
            return std::unexpected(peek_invalid_type(expected));
        auto number = parse_number_in_range();
        if (!number)
            return std::unexpected(number.error());
        switch (number->kind) {
            case ParsedNumber::Kind::unsigned_integer: {
                const uint64_t value = number->unsigned_value;
                if (kind == FieldKind::i64 && value <= static_cast<uint64_t>(INT64_MAX))
                    return FieldValue(static_cast<int64_t>(value));
                if (kind == FieldKind::u64 || (kind == FieldKind::optional_u16 && value <= 65535))
                    return FieldValue(value);
                break;
            }
            case ParsedNumber::Kind::signed_integer:
                if (kind == FieldKind::i64)
                    return FieldValue(number->signed_value);
                break;
            case ParsedNumber::Kind::floating:
                return std::unexpected(error("invalid type: " + describe_number(*number) +
                                             ", expected " + std::string(expected)));
        }
        return std::unexpected(error("invalid value: " + describe_number(*number) + ", expected " +
                                     std::string(expected)));
    }

    Result<FieldValue> deserialize_field(FieldKind kind) {
        if (is_optional(kind) && parse_whitespace() == 'n') {
            eat_char();
            if (auto ident = parse_ident("ull"); !ident)
                return std::unexpected(ident.error());
            return FieldValue();
        }
        switch (kind) {
            case FieldKind::string:
            case FieldKind::optional_string:
                return deserialize_string();
            case FieldKind::boolean:
            case FieldKind::defaulted_boolean:
                return deserialize_boolean();
            case FieldKind::optional_u16:
            case FieldKind::u64:
            case FieldKind::i64:
                break;
        }
        return deserialize_integer(kind);
    }

    // ---- records ----

    Result<void> parse_object_colon() {
        const int c = parse_whitespace();
        if (c == ':') {
            eat_char();
            return {};
        }
        return std::unexpected(
            peek_error(c == -1 ? "EOF while parsing an object" : "expected `:`"));
    }

    // Moves to the next key of an object, up to its opening quote; false at the closing brace.
    Result<bool> has_next_key(bool& first) {
        int c = parse_whitespace();
        if (c == '}')
            return false;
        if (c == -1)
            return std::unexpected(peek_error("EOF while parsing an object"));
        if (first) {
            first = false;
        } else {
            if (c != ',')
                return std::unexpected(peek_error("expected `,` or `}`"));
            eat_char();
            c = parse_whitespace();
            if (c == '}')
                return std::unexpected(peek_error("trailing comma"));
            if (c == -1)
                return std::unexpected(peek_error("EOF while parsing a value"));
        }
        if (c != '"')
            return std::unexpected(peek_error("key must be a string"));
        return true;
    }

    // Moves to the next element of an array; false at the closing bracket.
    Result<bool> has_next_element(bool& first) {
        int c = parse_whitespace();
        if (c == ']')
            return false;
        if (c == -1)
            return std::unexpected(peek_error("EOF while parsing a list"));
        if (first) {
            first = false;
            return true;
        }
        if (c != ',')
            return std::unexpected(peek_error("expected `,` or `]`"));
        eat_char();
        c = parse_whitespace();
        if (c == ']')
            return std::unexpected(peek_error("trailing comma"));
        if (c == -1)
            return std::unexpected(peek_error("EOF while parsing a value"));
        return true;
    }

    Result<std::vector<FieldValue>> visit_map(const RecordDescription& record) {
        const std::span<const FieldDescription> fields = record.fields;
        std::vector<FieldValue> values(fields.size());
        std::vector<bool> seen(fields.size(), false);
        bool first = true;
        while (true) {
            auto next = has_next_key(first);
            if (!next)
                return std::unexpected(next.error());
            if (!*next)
                break;
            eat_char();
            auto key = parse_str();
            if (!key)
                return std::unexpected(key.error());

            size_t field = 0;
            while (field < fields.size() && fields[field].name != *key)
                ++field;
            if (field < fields.size() && seen[field])
                return std::unexpected(custom_error("duplicate field `" + *key + "`"));
            if (auto colon = parse_object_colon(); !colon)
                return std::unexpected(colon.error());
            if (field == fields.size()) {
                if (auto skipped = ignore_value(); !skipped)
                    return std::unexpected(skipped.error());
                continue;
            }
            auto value = deserialize_field(fields[field].kind);
            if (!value)
                return std::unexpected(value.error());
            values[field] = std::move(*value);
            seen[field] = true;
        }
        for (size_t field = 0; field < fields.size(); ++field) {
            if (!seen[field] && !may_be_absent(fields[field].kind)) {
                return std::unexpected(
                    custom_error("missing field `" + std::string(fields[field].name) + "`"));
            }
        }
        return values;
    }

    Result<std::vector<FieldValue>> visit_seq(const RecordDescription& record) {
        std::vector<FieldValue> values;
        bool first = true;
        for (const FieldDescription& field : record.fields) {
            auto next = has_next_element(first);
            if (!next)
                return std::unexpected(next.error());
            if (!*next && field.kind == FieldKind::defaulted_boolean) {
                values.emplace_back();
                continue;
            }
            if (!*next) {
                const size_t count = record.fields.size();
                return std::unexpected(
                    custom_error("invalid length " + std::to_string(values.size()) + ", expected " +
                                 std::string(record.name) + " with " + std::to_string(count) +
                                 (count == 1 ? " element" : " elements")));
            }
            auto value = deserialize_field(field.kind);
            if (!value)
                return std::unexpected(value.error());
            values.push_back(std::move(*value));
        }
        return values;
    }

    Result<void> end_seq() {
        const int c = parse_whitespace();
        if (c == ']') {
            eat_char();
            return {};
        }
        if (c == ',') {
            eat_char();
            const bool closes = parse_whitespace() == ']';
            return std::unexpected(peek_error(closes ? "trailing comma" : "trailing characters"));
        }
        return std::unexpected(
            peek_error(c == -1 ? "EOF while parsing a list" : "trailing characters"));
    }

    Result<void> end_map() {
        const int c = parse_whitespace();
        if (c == '}') {
            eat_char();
            return {};
        }
        if (c == ',')
            return std::unexpected(peek_error("trailing comma"));
        return std::unexpected(
            peek_error(c == -1 ? "EOF while parsing an object" : "trailing characters"));
    }

    Result<std::vector<FieldValue>> deserialize_record(const RecordDescription& record) {
        const int c = parse_whitespace();
        if (c == -1)
            return std::unexpected(peek_error("EOF while parsing a value"));
        const bool array_form = c == '[' && record.forms == RecordForms::object_or_array;
        if (c != '{' && !array_form)
            return std::unexpected(peek_invalid_type(record.name));
        eat_char();
        // The closing bracket is looked for even when the contents failed: it moves the
        // position that a field error is reported at.
        auto values = array_form ? visit_seq(record) : visit_map(record);
        auto end = array_form ? end_seq() : end_map();
        if (!values)
            return std::unexpected(fix_position(values.error()));
        if (!end)
            return std::unexpected(end.error());
        return values;
    }

    std::string_view input_;
    // Where the input stands in the whole text, for the positions in messages.
    TextOrigin origin_;
    size_t index_ = 0;
    mutable bool ran_out_ = false;
};

}  // namespace

std::expected<std::vector<FieldValue>, std::string> read_record(std::string_view text,
                                                                const RecordDescription& record) {
    auto values = Reader(text).read_record(record);
    if (!values)
        return std::unexpected(values.error().text());
    return std::move(*values);
}

std::expected<void, std::string> read_record_array(
    std::string_view text, const RecordDescription& record,
    const std::function<void(std::vector<FieldValue>&)>& take) {
    auto read = Reader(text).read_record_array(record, take);
    if (!read)
        return std::unexpected(read.error().text());
    return {};
}

std::expected<void, std::string> RecordArrayReader::feed(std::string_view piece, const Take& take) {
    pending_.append(piece);
    // A step cut off by the end of the text is read again from its start once more has come;
    // waiting until the unread text has doubled keeps that linear for a value of any length.
    if (pending_.size() < 2 * waiting_for_)
        return {};
    return read(false, take);
}

std::expected<void, std::string> RecordArrayReader::finish(const Take& take) {
    return read(true, take);
}

std::expected<void, std::string> RecordArrayReader::read(bool complete, const Take& take) {
    Reader reader(pending_, origin_);
    size_t read_up_to = 0;
    while (place_ != ArrayPlace::done) {
        const ArrayPlace before = place_;
        reader.clear_ran_out();
        auto step = reader.array_step(record_, place_);
        if (!complete && reader.ran_out()) {
            place_ = before;
            break;
        }
        if (!step)
            return std::unexpected(step.error().text());
        read_up_to = reader.index();
        if (*step)
            take(**step);
    }
    origin_ = origin_.after(std::string_view(pending_).substr(0, read_up_to));
    pending_.erase(0, read_up_to);
    waiting_for_ = pending_.size();
    return {};
}

}  // namespace wrenfield::json_reader
