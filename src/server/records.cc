// The payload readers follow the rules and messages of the JSON reader that the page was first
// written against: what is accepted, which error wins when several apply, and the line and
// column (counted in bytes from 1; column 0 for an empty line) at which each error is reported.
// The position of a syntax error is taken where the offending byte was seen; the position of a
// type or field error is taken after the reader has moved past the value or the closing bracket.
#include "server/records.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <span>
#include <system_error>
#include <variant>
#include <vector>

#include "config/text.h"

namespace wrenfield {

namespace {

enum class FieldKind { text, optional_text, optional_port, boolean };

struct FieldSpec {
    std::string_view name;
    FieldKind kind;
};

struct StructSpec {
    std::string_view name;        // "struct MkdirPayload"
    std::string_view positional;  // "struct MkdirPayload with 1 element"
    std::span<const FieldSpec> fields;
};

// A field's value once read; monostate stands for absent or null.
using FieldValue = std::variant<std::monostate, std::string, uint16_t, bool>;

// An error without a position (line 0) gets one when it travels out of the value it concerns.
struct JsonError {
    std::string message;
    size_t line = 0;
    size_t column = 0;

    std::string text() const {
        if (line == 0) {
            return message;
        }
        return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
    }
};

template <typename T>
using Result = std::expected<T, JsonError>;

JsonError custom_error(std::string message) {
    return JsonError{std::move(message)};
}

// A number as the reader first sees it: kept as an integer while it fits.
struct ParsedNumber {
    enum class Kind { unsigned_integer, signed_integer, floating } kind;
    uint64_t unsigned_value = 0;
    int64_t signed_value = 0;
    double floating_value = 0;
};

// Shortest round-trip digits laid out the way the reader's float printer does: plain decimals
// with at least one fractional digit for moderate exponents, else "1e30" or "1.5e-7".
std::string format_float(double value) {
    if (!std::isfinite(value)) {
        return value != value ? "NaN" : (value < 0 ? "-inf" : "inf");
    }
    std::string out = std::signbit(value) ? "-" : "";
    if (value == 0) {
        return out + "0.0";
    }
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    if (error != std::errc()) {
        return out + "0.0";
    }
    std::string_view scientific(buffer, end - buffer);
    size_t e = scientific.find('e');
    std::string digits;
    for (char c : scientific.substr(0, e)) {
        if (c != '.') {
            digits += c;
        }
    }
    int exponent = std::atoi(std::string(scientific.substr(e + 1)).c_str());
    int length = static_cast<int>(digits.size());
    int k = exponent - (length - 1);  // value = digits * 10^k
    int kk = length + k;              // position of the decimal point
    if (k >= 0 && kk <= 16) {
        out += digits;
        out.append(k, '0');
        out += ".0";
    } else if (kk > 0 && kk <= 16) {
        out += digits.substr(0, kk);
        out += '.';
        out += digits.substr(kk);
    } else if (kk > -5 && kk <= 0) {
        out += "0.";
        out.append(-kk, '0');
        out += digits;
    } else if (length == 1) {
        out += digits;
        out += 'e';
        out += std::to_string(kk - 1);
    } else {
        out += digits.substr(0, 1);
        out += '.';
        out += digits.substr(1);
        out += 'e';
        out += std::to_string(kk - 1);
    }
    return out;
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

JsonError invalid_type(std::string_view found, std::string_view expected) {
    return custom_error("invalid type: " + std::string(found) + ", expected " +
                        std::string(expected));
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

class Reader {
  public:
    explicit Reader(std::string_view input) : input_(input) {}

    Result<std::vector<FieldValue>> read_struct(const StructSpec& spec) {
        auto values = deserialize_struct(spec);
        if (!values) {
            return values;
        }
        // Only white space may follow the value.
        if (parse_whitespace() != -1) {
            return std::unexpected(peek_error("trailing characters"));
        }
        return values;
    }

  private:
    // -1 stands for the end of the input.
    int peek() const {
        return index_ < input_.size() ? static_cast<unsigned char>(input_[index_]) : -1;
    }
    int peek_or_null() const { return index_ < input_.size() ? peek() : 0; }
    void eat_char() { ++index_; }
    int next_char() {
        return index_ < input_.size() ? static_cast<unsigned char>(input_[index_++]) : -1;
    }
    int next_char_or_null() {
        int c = next_char();
        return c == -1 ? 0 : c;
    }

    JsonError error_at(std::string message, size_t index) const {
        size_t line = 1;
        size_t start_of_line = 0;
        for (size_t i = 0; i < index; ++i) {
            if (input_[i] == '\n') {
                ++line;
                start_of_line = i + 1;
            }
        }
        return JsonError{std::move(message), line, index - start_of_line};
    }
    // An error caused by a byte already consumed.
    JsonError error(std::string message) const { return error_at(std::move(message), index_); }
    // An error caused by the byte about to be consumed.
    JsonError peek_error(std::string message) const {
        return error_at(std::move(message), std::min(input_.size(), index_ + 1));
    }
    JsonError fix_position(JsonError error) const {
        if (error.line == 0) {
            return this->error(std::move(error.message));
        }
        return error;
    }

    int parse_whitespace() {
        while (true) {
            int c = peek();
            if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
                eat_char();
                continue;
            }
            return c;
        }
    }

    Result<void> parse_ident(std::string_view rest) {
        for (char expected : rest) {
            int c = next_char();
            if (c == -1) {
                return std::unexpected(error("EOF while parsing a value"));
            }
            if (c != static_cast<unsigned char>(expected)) {
                return std::unexpected(error("expected ident"));
            }
        }
        return {};
    }

    // ---- strings ----

    Result<uint16_t> decode_hex_escape() {
        if (input_.size() - index_ < 4) {
            index_ = input_.size();
            return std::unexpected(error("EOF while parsing a string"));
        }
        int value = 0;
        bool valid = true;
        for (size_t i = 0; i < 4; ++i) {
            int digit = hex_value(input_[index_ + i]);
            valid = valid && digit >= 0;
            value = value * 16 + (digit < 0 ? 0 : digit);
        }
        index_ += 4;
        if (!valid) {
            return std::unexpected(error("invalid escape"));
        }
        return static_cast<uint16_t>(value);
    }

    Result<void> parse_unicode_escape(std::string& out) {
        auto first = decode_hex_escape();
        if (!first) {
            return std::unexpected(first.error());
        }
        uint32_t n = *first;
        if (n >= 0xDC00 && n <= 0xDFFF) {
            return std::unexpected(error("lone leading surrogate in hex escape"));
        }
        if (n < 0xD800 || n > 0xDBFF) {
            append_utf8(out, n);
            return {};
        }
        // A leading surrogate must be followed by an escaped trailing one.
        for (char expected : std::string_view("\\u")) {
            int c = peek();
            if (c == -1) {
                return std::unexpected(error("EOF while parsing a string"));
            }
            eat_char();
            if (c != expected) {
                return std::unexpected(error("unexpected end of hex escape"));
            }
        }
        auto second = decode_hex_escape();
        if (!second) {
            return std::unexpected(second.error());
        }
        uint32_t n2 = *second;
        if (n2 < 0xDC00 || n2 > 0xDFFF) {
            return std::unexpected(error("lone leading surrogate in hex escape"));
        }
        append_utf8(out, (((n - 0xD800) << 10) | (n2 - 0xDC00)) + 0x10000);
        return {};
    }

    Result<void> parse_escape(std::string& out) {
        int c = next_char();
        switch (c) {
            case -1:
                return std::unexpected(error("EOF while parsing a string"));
            case '"':
                out += '"';
                return {};
            case '\\':
                out += '\\';
                return {};
            case '/':
                out += '/';
                return {};
            case 'b':
                out += '\b';
                return {};
            case 'f':
                out += '\f';
                return {};
            case 'n':
                out += '\n';
                return {};
            case 'r':
                out += '\r';
                return {};
            case 't':
                out += '\t';
                return {};
            case 'u':
                return parse_unicode_escape(out);
            default:
                return std::unexpected(error("invalid escape"));
        }
    }

    void skip_to_escape() {
        while (index_ < input_.size()) {
            unsigned char c = input_[index_];
            if (c == '"' || c == '\\' || c < 0x20) {
                return;
            }
            ++index_;
        }
    }

    // Reads a string whose opening quote has been consumed.
    Result<std::string> parse_str() {
        std::string out;
        size_t start = index_;
        while (true) {
            skip_to_escape();
            if (index_ == input_.size()) {
                return std::unexpected(error("EOF while parsing a string"));
            }
            char c = input_[index_];
            if (c == '"') {
                out.append(input_.substr(start, index_ - start));
                ++index_;
                return out;
            }
            if (c == '\\') {
                out.append(input_.substr(start, index_ - start));
                ++index_;
                if (auto escaped = parse_escape(out); !escaped) {
                    return std::unexpected(escaped.error());
                }
                start = index_;
                continue;
            }
            ++index_;
            return std::unexpected(
                error("control character (\\u0000-\\u001F) found while parsing a string"));
        }
    }

    // Skips a string whose opening quote has been consumed; escapes are checked for form only.
    Result<void> ignore_str() {
        while (true) {
            skip_to_escape();
            if (index_ == input_.size()) {
                return std::unexpected(error("EOF while parsing a string"));
            }
            char c = input_[index_];
            if (c == '"') {
                ++index_;
                return {};
            }
            if (c != '\\') {
                return std::unexpected(
                    error("control character (\\u0000-\\u001F) found while parsing a string"));
            }
            ++index_;
            int escaped = next_char();
            if (escaped == -1) {
                return std::unexpected(error("EOF while parsing a string"));
            }
            if (escaped == 'u') {
                if (auto hex = decode_hex_escape(); !hex) {
                    return std::unexpected(hex.error());
                }
            } else if (std::string_view("\"\\/bfnrt").find(static_cast<char>(escaped)) ==
                       std::string_view::npos) {
                return std::unexpected(error("invalid escape"));
            }
        }
    }

    // ---- numbers ----

    Result<ParsedNumber> finish_float(size_t start) {
        std::string text(input_.substr(start, index_ - start));
        double value = std::strtod(text.c_str(), nullptr);
        if (std::isinf(value)) {
            return std::unexpected(error("number out of range"));
        }
        ParsedNumber number{ParsedNumber::Kind::floating};
        number.floating_value = value;
        return number;
    }

    Result<ParsedNumber> parse_exponent(size_t start) {
        eat_char();
        if (peek_or_null() == '+' || peek_or_null() == '-') {
            eat_char();
        }
        int c = next_char();
        if (c == -1) {
            return std::unexpected(error("EOF while parsing a value"));
        }
        if (!is_digit(c)) {
            return std::unexpected(error("invalid number"));
        }
        while (is_digit(peek_or_null())) {
            eat_char();
        }
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
        if (peek_or_null() == 'e' || peek_or_null() == 'E') {
            return parse_exponent(start);
        }
        return finish_float(start);
    }

    Result<ParsedNumber> parse_number_tail(size_t start, bool positive, uint64_t significand) {
        int c = peek_or_null();
        if (c == '.') {
            return parse_decimal(start);
        }
        if (c == 'e' || c == 'E') {
            return parse_exponent(start);
        }
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

    // Reads an integer, fraction and exponent; `start` is where the number began (its minus
    // sign included), and the sign, if any, has been consumed.
    Result<ParsedNumber> parse_integer(size_t start, bool positive) {
        int c = next_char();
        if (c == -1) {
            return std::unexpected(error("EOF while parsing a value"));
        }
        if (c == '0') {
            if (is_digit(peek_or_null())) {
                return std::unexpected(peek_error("invalid number"));
            }
            return parse_number_tail(start, positive, 0);
        }
        if (!is_digit(c)) {
            return std::unexpected(error("invalid number"));
        }
        uint64_t significand = c - '0';
        while (is_digit(peek_or_null())) {
            uint64_t digit = peek_or_null() - '0';
            if (significand > (UINT64_MAX - digit) / 10) {
                // Too long for an integer: the rest is read as floating point.
                while (is_digit(peek_or_null())) {
                    eat_char();
                }
                int next = peek_or_null();
                if (next == '.') {
                    return parse_decimal(start);
                }
                if (next == 'e' || next == 'E') {
                    return parse_exponent(start);
                }
                return finish_float(start);
            }
            eat_char();
            significand = significand * 10 + digit;
        }
        return parse_number_tail(start, positive, significand);
    }

    Result<void> ignore_integer() {
        int c = next_char_or_null();
        if (c == '0') {
            if (is_digit(peek_or_null())) {
                return std::unexpected(peek_error("invalid number"));
            }
        } else if (c >= '1' && c <= '9') {
            while (is_digit(peek_or_null())) {
                eat_char();
            }
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
            if (!any_digit) {
                return std::unexpected(peek_error("invalid number"));
            }
        }
        if (peek_or_null() == 'e' || peek_or_null() == 'E') {
            eat_char();
            if (peek_or_null() == '+' || peek_or_null() == '-') {
                eat_char();
            }
            if (!is_digit(next_char_or_null())) {
                return std::unexpected(error("invalid number"));
            }
            while (is_digit(peek_or_null())) {
                eat_char();
            }
        }
        return {};
    }

    // ---- values of the wrong type, and values that are skipped ----

    // Reads the value ahead far enough to describe it, for an "invalid type" message.
    JsonError peek_invalid_type(std::string_view expected) {
        JsonError result;
        switch (peek_or_null()) {
            case 'n':
                eat_char();
                if (auto ident = parse_ident("ull"); !ident) {
                    return ident.error();
                }
                result = invalid_type("null", expected);
                break;
            case 't':
                eat_char();
                if (auto ident = parse_ident("rue"); !ident) {
                    return ident.error();
                }
                result = invalid_type("boolean `true`", expected);
                break;
            case 'f':
                eat_char();
                if (auto ident = parse_ident("alse"); !ident) {
                    return ident.error();
                }
                result = invalid_type("boolean `false`", expected);
                break;
            case '-':
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7':
            case '8':
            case '9': {
                size_t start = index_;
                bool positive = peek() != '-';
                if (!positive) {
                    eat_char();
                }
                auto number = parse_integer(start, positive);
                if (!number) {
                    return number.error();
                }
                result = invalid_type(describe_number(*number), expected);
                break;
            }
            case '"': {
                eat_char();
                auto text = parse_str();
                if (!text) {
                    return text.error();
                }
                result = invalid_type("string " + debug_quote(*text), expected);
                break;
            }
            case '[':
                result = invalid_type("sequence", expected);
                break;
            case '{':
                result = invalid_type("map", expected);
                break;
            default:
                return peek_error("expected value");
        }
        return fix_position(std::move(result));
    }

    // Skips one well-formed value of any depth without recursion.
    Result<void> ignore_value() {
        std::vector<char> enclosing_frames;
        std::optional<char> enclosing;
        while (true) {
            int c = parse_whitespace();
            if (c == -1) {
                return std::unexpected(peek_error("EOF while parsing a value"));
            }
            std::optional<char> frame;
            Result<void> scalar;
            switch (c) {
                case 'n':
                    eat_char();
                    scalar = parse_ident("ull");
                    break;
                case 't':
                    eat_char();
                    scalar = parse_ident("rue");
                    break;
                case 'f':
                    eat_char();
                    scalar = parse_ident("alse");
                    break;
                case '-':
                    eat_char();
                    scalar = ignore_integer();
                    break;
                case '"':
                    eat_char();
                    scalar = ignore_str();
                    break;
                case '[':
                case '{':
                    if (enclosing) {
                        enclosing_frames.push_back(*enclosing);
                        enclosing.reset();
                    }
                    eat_char();
                    frame = static_cast<char>(c);
                    break;
                default:
                    if (!is_digit(c)) {
                        return std::unexpected(peek_error("expected value"));
                    }
                    scalar = ignore_integer();
            }
            if (!scalar) {
                return scalar;
            }

            bool accept_comma;
            char current;
            if (frame) {
                accept_comma = false;
                current = *frame;
            } else if (enclosing) {
                accept_comma = true;
                current = *enclosing;
                enclosing.reset();
            } else if (!enclosing_frames.empty()) {
                accept_comma = true;
                current = enclosing_frames.back();
                enclosing_frames.pop_back();
            } else {
                return {};
            }

            // Close as many containers as end here, then stop before the next element.
            while (true) {
                int next = parse_whitespace();
                if (next == ',' && accept_comma) {
                    eat_char();
                    break;
                }
                bool closes = (next == ']' && current == '[') || (next == '}' && current == '{');
                if (!closes) {
                    if (next == -1) {
                        return std::unexpected(peek_error(current == '['
                                                              ? "EOF while parsing a list"
                                                              : "EOF while parsing an object"));
                    }
                    if (accept_comma) {
                        return std::unexpected(peek_error(current == '[' ? "expected `,` or `]`"
                                                                         : "expected `,` or `}`"));
                    }
                    break;
                }
                eat_char();
                if (enclosing_frames.empty()) {
                    return {};
                }
                current = enclosing_frames.back();
                enclosing_frames.pop_back();
                accept_comma = true;
            }

            if (current == '{') {
                int quote = parse_whitespace();
                if (quote == -1) {
                    return std::unexpected(peek_error("EOF while parsing an object"));
                }
                if (quote != '"') {
                    return std::unexpected(peek_error("key must be a string"));
                }
                eat_char();
                if (auto key = ignore_str(); !key) {
                    return key;
                }
                int colon = parse_whitespace();
                if (colon == -1) {
                    return std::unexpected(peek_error("EOF while parsing an object"));
                }
                if (colon != ':') {
                    return std::unexpected(peek_error("expected `:`"));
                }
                eat_char();
            }
            enclosing = current;
        }
    }

    // ---- the field types ----

    Result<FieldValue> deserialize_text() {
        int c = parse_whitespace();
        if (c == -1) {
            return std::unexpected(peek_error("EOF while parsing a value"));
        }
        if (c != '"') {
            return std::unexpected(peek_invalid_type("a string"));
        }
        eat_char();
        auto text = parse_str();
        if (!text) {
            return std::unexpected(fix_position(text.error()));
        }
        return FieldValue(std::move(*text));
    }

    Result<FieldValue> deserialize_port() {
        int c = parse_whitespace();
        if (c == -1) {
            return std::unexpected(peek_error("EOF while parsing a value"));
        }
        if (c != '-' && !is_digit(c)) {
            return std::unexpected(peek_invalid_type("u16"));
        }
        size_t start = index_;
        if (c == '-') {
            eat_char();
        }
        auto number = parse_integer(start, c != '-');
        if (!number) {
            return std::unexpected(number.error());
        }
        switch (number->kind) {
            case ParsedNumber::Kind::unsigned_integer:
                if (number->unsigned_value <= UINT16_MAX) {
                    return FieldValue(static_cast<uint16_t>(number->unsigned_value));
                }
                [[fallthrough]];
            case ParsedNumber::Kind::signed_integer:
                return std::unexpected(fix_position(
                    custom_error("invalid value: " + describe_number(*number) + ", expected u16")));
            case ParsedNumber::Kind::floating:
                break;
        }
        return std::unexpected(fix_position(invalid_type(describe_number(*number), "u16")));
    }

    Result<FieldValue> deserialize_boolean() {
        int c = parse_whitespace();
        if (c == -1) {
            return std::unexpected(peek_error("EOF while parsing a value"));
        }
        if (c != 't' && c != 'f') {
            return std::unexpected(peek_invalid_type("a boolean"));
        }
        eat_char();
        if (auto ident = parse_ident(c == 't' ? "rue" : "alse"); !ident) {
            return std::unexpected(fix_position(ident.error()));
        }
        return FieldValue(c == 't');
    }

    Result<FieldValue> deserialize_field(FieldKind kind) {
        if (kind == FieldKind::optional_text || kind == FieldKind::optional_port) {
            if (parse_whitespace() == 'n') {
                eat_char();
                if (auto ident = parse_ident("ull"); !ident) {
                    return std::unexpected(ident.error());
                }
                return FieldValue();
            }
        }
        switch (kind) {
            case FieldKind::text:
            case FieldKind::optional_text:
                return deserialize_text();
            case FieldKind::optional_port:
                return deserialize_port();
            case FieldKind::boolean:
                break;
        }
        return deserialize_boolean();
    }

    // ---- the record ----

    Result<void> parse_object_colon() {
        int c = parse_whitespace();
        if (c == ':') {
            eat_char();
            return {};
        }
        return std::unexpected(
            peek_error(c == -1 ? "EOF while parsing an object" : "expected `:`"));
    }

    Result<std::vector<FieldValue>> visit_map(const StructSpec& spec) {
        std::vector<FieldValue> values(spec.fields.size());
        std::vector<bool> seen(spec.fields.size(), false);
        bool first = true;
        while (true) {
            int c = parse_whitespace();
            if (c == '}') {
                break;
            }
            if (c == ',' && !first) {
                eat_char();
                c = parse_whitespace();
            } else if (c == -1) {
                return std::unexpected(peek_error("EOF while parsing an object"));
            } else if (first) {
                first = false;
            } else {
                return std::unexpected(peek_error("expected `,` or `}`"));
            }
            if (c == '}') {
                return std::unexpected(peek_error("trailing comma"));
            }
            if (c == -1) {
                return std::unexpected(peek_error("EOF while parsing a value"));
            }
            if (c != '"') {
                return std::unexpected(peek_error("key must be a string"));
            }
            eat_char();
            auto key = parse_str();
            if (!key) {
                return std::unexpected(key.error());
            }

            size_t field = 0;
            while (field < spec.fields.size() && spec.fields[field].name != *key) {
                ++field;
            }
            if (field < spec.fields.size() && seen[field]) {
                return std::unexpected(custom_error("duplicate field `" + *key + "`"));
            }
            if (auto colon = parse_object_colon(); !colon) {
                return std::unexpected(colon.error());
            }
            if (field == spec.fields.size()) {
                if (auto skipped = ignore_value(); !skipped) {
                    return std::unexpected(skipped.error());
                }
                continue;
            }
            auto value = deserialize_field(spec.fields[field].kind);
            if (!value) {
                return std::unexpected(value.error());
            }
            values[field] = std::move(*value);
            seen[field] = true;
        }
        for (size_t field = 0; field < spec.fields.size(); ++field) {
            FieldKind kind = spec.fields[field].kind;
            bool required = kind == FieldKind::text || kind == FieldKind::boolean;
            if (required && !seen[field]) {
                return std::unexpected(
                    custom_error("missing field `" + std::string(spec.fields[field].name) + "`"));
            }
        }
        return values;
    }

    Result<std::vector<FieldValue>> visit_seq(const StructSpec& spec) {
        std::vector<FieldValue> values;
        bool first = true;
        for (const FieldSpec& field : spec.fields) {
            int c = parse_whitespace();
            bool ended = c == ']';
            if (!ended) {
                if (c == ',' && !first) {
                    eat_char();
                    c = parse_whitespace();
                } else if (c == -1) {
                    return std::unexpected(peek_error("EOF while parsing a list"));
                } else if (first) {
                    first = false;
                } else {
                    return std::unexpected(peek_error("expected `,` or `]`"));
                }
                if (c == ']') {
                    return std::unexpected(peek_error("trailing comma"));
                }
                if (c == -1) {
                    return std::unexpected(peek_error("EOF while parsing a value"));
                }
            }
            if (ended) {
                return std::unexpected(custom_error("invalid length " +
                                                    std::to_string(values.size()) + ", expected " +
                                                    std::string(spec.positional)));
            }
            auto value = deserialize_field(field.kind);
            if (!value) {
                return std::unexpected(value.error());
            }
            values.push_back(std::move(*value));
        }
        return values;
    }

    Result<void> end_seq() {
        int c = parse_whitespace();
        if (c == ']') {
            eat_char();
            return {};
        }
        if (c == ',') {
            eat_char();
            bool closes = parse_whitespace() == ']';
            return std::unexpected(peek_error(closes ? "trailing comma" : "trailing characters"));
        }
        return std::unexpected(
            peek_error(c == -1 ? "EOF while parsing a list" : "trailing characters"));
    }

    Result<void> end_map() {
        int c = parse_whitespace();
        if (c == '}') {
            eat_char();
            return {};
        }
        if (c == ',') {
            return std::unexpected(peek_error("trailing comma"));
        }
        return std::unexpected(
            peek_error(c == -1 ? "EOF while parsing an object" : "trailing characters"));
    }

    Result<std::vector<FieldValue>> deserialize_struct(const StructSpec& spec) {
        int c = parse_whitespace();
        if (c == -1) {
            return std::unexpected(peek_error("EOF while parsing a value"));
        }
        if (c != '[' && c != '{') {
            return std::unexpected(peek_invalid_type(spec.name));
        }
        eat_char();
        // The closing bracket is looked for even when the contents failed: it moves the
        // position that a field error is reported at.
        auto values = c == '[' ? visit_seq(spec) : visit_map(spec);
        auto end = c == '[' ? end_seq() : end_map();
        if (!values) {
            return std::unexpected(fix_position(values.error()));
        }
        if (!end) {
            return std::unexpected(end.error());
        }
        return values;
    }

    std::string_view input_;
    size_t index_ = 0;
};

Result<std::vector<FieldValue>> read_fields(std::string_view body, const StructSpec& spec) {
    return Reader(body).read_struct(spec);
}

std::string take_text(FieldValue& value) {
    return std::holds_alternative<std::string>(value) ? std::move(std::get<std::string>(value))
                                                      : std::string();
}

std::optional<std::string> take_optional_text(FieldValue& value) {
    if (std::holds_alternative<std::string>(value)) {
        return std::move(std::get<std::string>(value));
    }
    return std::nullopt;
}

constexpr FieldSpec connect_fields[] = {{"host", FieldKind::text},
                                        {"port", FieldKind::optional_port},
                                        {"user", FieldKind::optional_text},
                                        {"identity_file", FieldKind::optional_text},
                                        {"key_path", FieldKind::optional_text}};
constexpr FieldSpec mkdir_fields[] = {{"path", FieldKind::text}};
constexpr FieldSpec rename_fields[] = {{"from", FieldKind::text}, {"to", FieldKind::text}};
constexpr FieldSpec delete_fields[] = {{"path", FieldKind::text}, {"is_dir", FieldKind::boolean}};
constexpr FieldSpec write_fields[] = {{"path", FieldKind::text}, {"content", FieldKind::text}};

}  // namespace

std::expected<ConnectPayload, std::string> read_connect_payload(std::string_view body) {
    auto fields = read_fields(
        body, {"struct ConnectPayload", "struct ConnectPayload with 5 elements", connect_fields});
    if (!fields) {
        return std::unexpected(fields.error().text());
    }
    ConnectPayload payload;
    payload.host = take_text((*fields)[0]);
    if (std::holds_alternative<uint16_t>((*fields)[1])) {
        payload.port = std::get<uint16_t>((*fields)[1]);
    }
    payload.user = take_optional_text((*fields)[2]);
    payload.identity_file = take_optional_text((*fields)[3]);
    payload.key_path = take_optional_text((*fields)[4]);
    return payload;
}

std::expected<MkdirPayload, std::string> read_mkdir_payload(std::string_view body) {
    auto fields = read_fields(
        body, {"struct MkdirPayload", "struct MkdirPayload with 1 element", mkdir_fields});
    if (!fields) {
        return std::unexpected(fields.error().text());
    }
    return MkdirPayload{take_text((*fields)[0])};
}

std::expected<RenamePayload, std::string> read_rename_payload(std::string_view body) {
    auto fields = read_fields(
        body, {"struct RenamePayload", "struct RenamePayload with 2 elements", rename_fields});
    if (!fields) {
        return std::unexpected(fields.error().text());
    }
    return RenamePayload{take_text((*fields)[0]), take_text((*fields)[1])};
}

std::expected<DeletePayload, std::string> read_delete_payload(std::string_view body) {
    auto fields = read_fields(
        body, {"struct DeletePayload", "struct DeletePayload with 2 elements", delete_fields});
    if (!fields) {
        return std::unexpected(fields.error().text());
    }
    return DeletePayload{take_text((*fields)[0]), std::get<bool>((*fields)[1])};
}

std::expected<WritePayload, std::string> read_write_payload(std::string_view body) {
    auto fields = read_fields(
        body, {"struct WritePayload", "struct WritePayload with 2 elements", write_fields});
    if (!fields) {
        return std::unexpected(fields.error().text());
    }
    return WritePayload{take_text((*fields)[0]), take_text((*fields)[1])};
}

}  // namespace wrenfield
