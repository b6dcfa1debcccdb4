// The strict reader of the remote listing: one JSON array of FileItem objects. Its messages
// and positions follow the conventions of the JSON library the listing format was defined
// with: "invalid type: {found}, expected {what} at line L column C", where the column is the
// 1-based byte column of the last byte read when the fault was found.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/text.h"
#include "ssh/remote.h"

namespace wrenfield {
namespace {

// A JSON number as the reader classifies it: an unsigned or a negative integer that fits
// 64 bits, or else a floating-point value.
struct Number {
    enum class Kind { Unsigned, Signed, Float } kind = Kind::Unsigned;
    uint64_t unsigned_value = 0;
    int64_t signed_value = 0;
    double float_value = 0;
};

// The shortest decimal digits that read back as `value`, laid out the way the listing
// format's library prints a float: plain decimals with ".0" for whole numbers up to 16
// digits, small fractions as 0.000ddd, and "de±x" exponents beyond that.
std::string format_float(double value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    std::string sign = std::signbit(value) ? "-" : "";
    if (value == 0)
        return sign + "0.0";
    char text[64];
    for (int precision = 0; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*e", precision, std::fabs(value));
        if (std::strtod(text, nullptr) == std::fabs(value))
            break;
    }
    // text is "d.ddde±XX" (or "de±XX" when the precision is 0).
    std::string digits;
    const char* cursor = text;
    for (; *cursor != 'e'; ++cursor) {
        if (*cursor != '.')
            digits += *cursor;
    }
    const int exponent = std::atoi(cursor + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int length = static_cast<int>(digits.size());
    const int scale = exponent - (length - 1);  // value = digits * 10^scale
    const int point = length + scale;           // 10^(point-1) <= value < 10^point
    std::string out = sign;
    if (scale >= 0 && point <= 16) {
        out += digits + std::string(static_cast<size_t>(scale), '0') + ".0";
    } else if (point > 0 && point <= 16) {
        out += digits.substr(0, static_cast<size_t>(point)) + "." +
               digits.substr(static_cast<size_t>(point));
    } else if (point > -5 && point <= 0) {
        out += "0." + std::string(static_cast<size_t>(-point), '0') + digits;
    } else if (length == 1) {
        out += digits + "e" + std::to_string(point - 1);
    } else {
        out += digits.substr(0, 1) + "." + digits.substr(1) + "e" + std::to_string(point - 1);
    }
    return out;
}

std::string describe_number(const Number& number) {
    switch (number.kind) {
        case Number::Kind::Unsigned:
            return "integer `" + std::to_string(number.unsigned_value) + "`";
        case Number::Kind::Signed:
            return "integer `" + std::to_string(number.signed_value) + "`";
        case Number::Kind::Float:
            break;
    }
    return "floating point `" + format_float(number.float_value) + "`";
}

using Result = std::expected<void, std::string>;

class ListingReader {
  public:
    explicit ListingReader(std::string_view text) : text_(text) {}

    std::expected<std::vector<FileItem>, std::string> read_listing() {
        std::vector<FileItem> items;
        skip_whitespace();
        if (at_end())
            return fail_at_peek("EOF while parsing a value");
        if (peek() != '[')
            return fail_invalid_type("a sequence");
        ++index_;
        bool first = true;
        for (;;) {
            skip_whitespace();
            if (at_end())
                return fail_at_peek("EOF while parsing a list");
            if (peek() == ']') {
                ++index_;
                break;
            }
            if (!first) {
                if (peek() != ',')
                    return fail_at_peek("expected `,` or `]`");
                ++index_;
                skip_whitespace();
                if (at_end())
                    return fail_at_peek("EOF while parsing a value");
                if (peek() == ']')
                    return fail_at_peek("trailing comma");
            }
            first = false;
            FileItem item;
            if (auto read = read_item(item); !read)
                return std::unexpected(read.error());
            items.push_back(std::move(item));
        }
        skip_whitespace();
        if (!at_end())
            return fail_at_peek("trailing characters");
        return items;
    }

  private:
    bool at_end() const { return index_ >= text_.size(); }
    char peek() const { return text_[index_]; }

    void skip_whitespace() {
        while (!at_end() && (peek() == ' ' || peek() == '\n' || peek() == '\t' || peek() == '\r'))
            ++index_;
    }

    // " at line L column C" for a byte offset: the column counts the bytes before the offset
    // on its line, so it names the last byte read.
    std::string position_of(size_t offset) const {
        size_t line = 1, line_start = 0;
        for (size_t i = 0; i < offset; ++i) {
            if (text_[i] == '\n') {
                ++line;
                line_start = i + 1;
            }
        }
        return " at line " + std::to_string(line) + " column " +
               std::to_string(offset - line_start);
    }

    // A fault found after reading up to the current position.
    std::unexpected<std::string> fail(const std::string& message) const {
        return std::unexpected(message + position_of(index_));
    }
    // A fault in the byte not yet read: the position names that byte.
    std::unexpected<std::string> fail_at_peek(const std::string& message) const {
        return std::unexpected(message + position_of(std::min(index_ + 1, text_.size())));
    }

    // The value at the current position is not what `expected` takes: reads scalars to name
    // them, names containers by their kind.
    std::unexpected<std::string> fail_invalid_type(const std::string& expected) {
        std::string found;
        switch (peek()) {
            case 'n':
                ++index_;
                if (auto read = read_literal("ull"); !read)
                    return std::unexpected(read.error());
                found = "null";
                break;
            case 't':
            case 'f': {
                const bool value = peek() == 't';
                ++index_;
                if (auto read = read_literal(value ? "rue" : "alse"); !read)
                    return std::unexpected(read.error());
                found = value ? "boolean `true`" : "boolean `false`";
                break;
            }
            case '"': {
                ++index_;
                std::string text;
                if (auto read = read_string_body(text); !read)
                    return std::unexpected(read.error());
                found = "string " + debug_quote(text);
                break;
            }
            case '[':
                found = "sequence";
                break;
            case '{':
                found = "map";
                break;
            default: {
                if (peek() != '-' && (peek() < '0' || peek() > '9'))
                    return fail_at_peek("expected value");
                auto number = read_number(true);
                if (!number)
                    return std::unexpected(number.error());
                found = describe_number(*number);
            }
        }
        return fail("invalid type: " + found + ", expected " + expected);
    }

    Result read_literal(std::string_view rest) {
        for (char expected : rest) {
            if (at_end())
                return fail("EOF while parsing a value");
            if (text_[index_++] != expected)
                return fail("expected ident");
        }
        return {};
    }

    static int hex_value(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    std::expected<char32_t, std::string> read_hex_escape() {
        if (text_.size() - index_ < 4) {
            index_ = text_.size();
            return fail("EOF while parsing a string");
        }
        char32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(text_[index_++]);
            if (digit < 0)
                return fail("invalid escape");
            value = value * 16 + static_cast<char32_t>(digit);
        }
        return value;
    }

    // Reads the rest of a string whose opening quote has been read. Lone surrogates are
    // refused: the text must be well-formed Unicode.
    Result read_string_body(std::string& out) {
        for (;;) {
            if (at_end())
                return fail("EOF while parsing a string");
            const char c = text_[index_++];
            if (c == '"')
                return {};
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("control character (\\u0000-\\u001F) found while parsing a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_end())
                return fail("EOF while parsing a string");
            const char escape = text_[index_++];
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    out += escape;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    auto first = read_hex_escape();
                    if (!first)
                        return std::unexpected(first.error());
                    char32_t code_point = *first;
                    if (code_point >= 0xDC00 && code_point <= 0xDFFF)
                        return fail("lone leading surrogate in hex escape");
                    if (code_point >= 0xD800 && code_point <= 0xDBFF) {
                        for (char expected : {'\\', 'u'}) {
                            if (at_end())
                                return fail("EOF while parsing a string");
                            if (text_[index_++] != expected)
                                return fail("unexpected end of hex escape");
                        }
                        auto second = read_hex_escape();
                        if (!second)
                            return std::unexpected(second.error());
                        if (*second < 0xDC00 || *second > 0xDFFF)
                            return fail("lone leading surrogate in hex escape");
                        code_point = 0x10000 + ((code_point - 0xD800) << 10) + (*second - 0xDC00);
                    }
                    append_utf8(out, code_point);
                    break;
                }
                default:
                    return fail("invalid escape");
            }
        }
    }

    // Reads a number at the current position ("-" or a digit). Integers that do not fit 64
    // bits become floats; `check_range` refuses a float too large to represent.
    std::expected<Number, std::string> read_number(bool check_range) {
        const size_t start = index_;
        const bool negative = peek() == '-';
        if (negative)
            ++index_;
        if (at_end())
            return fail("EOF while parsing a value");
        const char first = text_[index_++];
        if (first < '0' || first > '9')
            return fail("invalid number");
        uint64_t significand = static_cast<uint64_t>(first - '0');
        bool overflow = false;
        if (first == '0') {
            if (!at_end() && peek() >= '0' && peek() <= '9')
                return fail_at_peek("invalid number");
        } else {
            while (!at_end() && peek() >= '0' && peek() <= '9') {
                const uint64_t digit = static_cast<uint64_t>(peek() - '0');
                if (significand > (UINT64_MAX - digit) / 10)
                    overflow = true;
                else
                    significand = significand * 10 + digit;
                ++index_;
            }
        }
        bool is_float = overflow;
        if (!at_end() && peek() == '.') {
            ++index_;
            if (at_end())
                return fail_at_peek("EOF while parsing a value");
            if (peek() < '0' || peek() > '9')
                return fail_at_peek("invalid number");
            while (!at_end() && peek() >= '0' && peek() <= '9')
                ++index_;
            is_float = true;
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            ++index_;
            if (!at_end() && (peek() == '+' || peek() == '-'))
                ++index_;
            if (at_end())
                return fail("EOF while parsing a value");
            const char digit = text_[index_++];
            if (digit < '0' || digit > '9')
                return fail("invalid number");
            while (!at_end() && peek() >= '0' && peek() <= '9')
                ++index_;
            is_float = true;
        }

        Number number;
        if (!is_float && !negative) {
            number.kind = Number::Kind::Unsigned;
            number.unsigned_value = significand;
            return number;
        }
        // Negative zero and negatives below the 64-bit range are floats, as in the format's
        // library.
        if (!is_float && significand != 0 && significand <= (uint64_t{1} << 63)) {
            number.kind = Number::Kind::Signed;
            number.signed_value = static_cast<int64_t>(0 - significand);
            return number;
        }
        number.kind = Number::Kind::Float;
        const std::string literal(text_.substr(start, index_ - start));
        number.float_value = std::strtod(literal.c_str(), nullptr);
        if (check_range && std::isinf(number.float_value))
            return fail("number out of range");
        return number;
    }

    Result read_string_field(std::string& out) {
        skip_whitespace();
        if (at_end())
            return fail_at_peek("EOF while parsing a value");
        if (peek() != '"')
            return fail_invalid_type("a string");
        ++index_;
        return read_string_body(out);
    }

    Result read_bool_field(bool& out) {
        skip_whitespace();
        if (at_end())
            return fail_at_peek("EOF while parsing a value");
        if (peek() == 't' || peek() == 'f') {
            out = peek() == 't';
            ++index_;
            return read_literal(out ? "rue" : "alse");
        }
        return fail_invalid_type("a boolean");
    }

    std::expected<Number, std::string> read_number_field(const std::string& expected) {
        skip_whitespace();
        if (at_end())
            return fail_at_peek("EOF while parsing a value");
        if (peek() != '-' && (peek() < '0' || peek() > '9'))
            return fail_invalid_type(expected);
        return read_number(true);
    }

    Result read_unsigned_field(uint64_t& out) {
        auto number = read_number_field("u64");
        if (!number)
            return std::unexpected(number.error());
        switch (number->kind) {
            case Number::Kind::Unsigned:
                out = number->unsigned_value;
                return {};
            case Number::Kind::Signed:
                return fail("invalid value: " + describe_number(*number) + ", expected u64");
            case Number::Kind::Float:
                break;
        }
        return fail("invalid type: " + describe_number(*number) + ", expected u64");
    }

    Result read_signed_field(int64_t& out) {
        auto number = read_number_field("i64");
        if (!number)
            return std::unexpected(number.error());
        switch (number->kind) {
            case Number::Kind::Unsigned:
                if (number->unsigned_value > static_cast<uint64_t>(INT64_MAX))
                    return fail("invalid value: " + describe_number(*number) + ", expected i64");
                out = static_cast<int64_t>(number->unsigned_value);
                return {};
            case Number::Kind::Signed:
                out = number->signed_value;
                return {};
            case Number::Kind::Float:
                break;
        }
        return fail("invalid type: " + describe_number(*number) + ", expected i64");
    }

    // Reads the colon between a key and its value.
    Result read_colon() {
        skip_whitespace();
        if (at_end())
            return fail_at_peek("EOF while parsing an object");
        if (peek() != ':')
            return fail_at_peek("expected `:`");
        ++index_;
        return {};
    }

    // Skips one value of any shape. Nesting is tracked on a stack of its own rather than by
    // recursion, so no depth of nesting can exhaust the thread's stack.
    Result skip_value() {
        std::string open;  // '[' and '{' of the containers being skipped
        for (;;) {
            // A value is expected here.
            skip_whitespace();
            if (at_end())
                return fail_at_peek("EOF while parsing a value");
            const char c = peek();
            bool value_done = true;
            if (c == '[' || c == '{') {
                ++index_;
                open += c;
                skip_whitespace();
                if (!at_end() && peek() == (c == '[' ? ']' : '}')) {
                    ++index_;
                    open.pop_back();
                } else if (c == '{') {
                    if (auto key = skip_key_and_colon(); !key)
                        return key;
                    value_done = false;
                } else {
                    value_done = false;
                }
            } else if (c == 'n' || c == 't' || c == 'f') {
                ++index_;
                const std::string_view rest = c == 'n' ? "ull" : c == 't' ? "rue" : "alse";
                if (auto read = read_literal(rest); !read)
                    return read;
            } else if (c == '"') {
                ++index_;
                std::string ignored;
                if (auto read = read_string_body(ignored); !read)
                    return read;
            } else if (c == '-' || (c >= '0' && c <= '9')) {
                if (auto read = read_number(false); !read)
                    return std::unexpected(read.error());
            } else {
                return fail_at_peek("expected value");
            }
            if (!value_done)
                continue;
            // After a value: close containers or move on to the next element.
            for (;;) {
                if (open.empty())
                    return {};
                const bool in_list = open.back() == '[';
                skip_whitespace();
                if (at_end())
                    return fail_at_peek(in_list ? "EOF while parsing a list"
                                                : "EOF while parsing an object");
                if (peek() == (in_list ? ']' : '}')) {
                    ++index_;
                    open.pop_back();
                    continue;
                }
                if (peek() != ',')
                    return fail_at_peek(in_list ? "expected `,` or `]`" : "expected `,` or `}`");
                ++index_;
                skip_whitespace();
                if (!at_end() && peek() == (in_list ? ']' : '}'))
                    return fail_at_peek("trailing comma");
                if (!in_list) {
                    if (auto key = skip_key_and_colon(); !key)
                        return key;
                }
                break;
            }
        }
    }

    Result skip_key_and_colon() {
        skip_whitespace();
        if (at_end())
            return fail_at_peek("EOF while parsing an object");
        if (peek() != '"')
            return fail_at_peek("key must be a string");
        ++index_;
        std::string ignored;
        if (auto read = read_string_body(ignored); !read)
            return read;
        return read_colon();
    }

    Result read_item(FileItem& item) {
        static constexpr std::string_view kFields[] = {
            "name", "path", "is_dir", "is_symlink", "size", "modified", "permissions", "is_hidden"};
        skip_whitespace();
        if (at_end())
            return fail_at_peek("EOF while parsing a value");
        if (peek() != '{')
            return fail_invalid_type("struct FileItem");
        ++index_;

        bool seen[std::size(kFields)] = {};
        bool first = true;
        for (;;) {
            skip_whitespace();
            if (at_end())
                return fail_at_peek("EOF while parsing an object");
            if (peek() == '}')
                break;
            if (!first) {
                if (peek() != ',')
                    return fail_at_peek("expected `,` or `}`");
                ++index_;
                skip_whitespace();
                if (at_end())
                    return fail_at_peek("EOF while parsing a value");
                if (peek() == '}')
                    return fail_at_peek("trailing comma");
            }
            first = false;
            if (peek() != '"')
                return fail_at_peek("key must be a string");
            ++index_;
            std::string key;
            if (auto read = read_string_body(key); !read)
                return read;

            size_t field = std::size(kFields);
            for (size_t i = 0; i < std::size(kFields); ++i) {
                if (kFields[i] == key)
                    field = i;
            }
            if (field < std::size(kFields) && seen[field]) {
                // Reported where the reader stands after the key and any white space.
                skip_whitespace();
                return fail("duplicate field `" + key + "`");
            }
            if (auto colon = read_colon(); !colon)
                return colon;
            Result read;
            switch (field) {
                case 0:
                    read = read_string_field(item.name);
                    break;
                case 1:
                    read = read_string_field(item.path);
                    break;
                case 2:
                    read = read_bool_field(item.is_dir);
                    break;
                case 3:
                    read = read_bool_field(item.is_symlink);
                    break;
                case 4:
                    read = read_unsigned_field(item.size);
                    break;
                case 5:
                    read = read_signed_field(item.modified);
                    break;
                case 6:
                    read = read_string_field(item.permissions);
                    break;
                case 7:
                    read = read_bool_field(item.is_hidden);
                    break;
                default:
                    read = skip_value();
            }
            if (!read)
                return read;
            if (field < std::size(kFields))
                seen[field] = true;
        }
        ++index_;  // the closing brace
        for (size_t i = 0; i < std::size(kFields); ++i) {
            if (!seen[i])
                return fail("missing field `" + std::string(kFields[i]) + "`");
        }
        return {};
    }

    std::string_view text_;
    size_t index_ = 0;
};

}  // namespace

std::expected<std::vector<FileItem>, Error> parse_file_items(std::string_view json_text) {
    return ListingReader(json_text).read_listing();
}

}  // namespace wrenfield
