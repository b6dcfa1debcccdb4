#include "base/text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace wrenfield {
namespace {

// Decodes one well-formed UTF-8 sequence at `pos`. Returns its length, or 0 when the bytes
// there do not start a well-formed sequence; `valid_prefix` receives the length of the
// longest prefix that could still have become one (the "maximal subpart").
size_t decode_one(std::string_view s, size_t pos, char32_t& out, size_t& valid_prefix) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    valid_prefix = 1;
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    size_t need;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;
        if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (pos + k >= s.size())
            return 0;
        const unsigned char b = byte(pos + k);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
        valid_prefix = k + 1;
    }
    out = cp;
    return need + 1;
}

// Decodes the code point that ends just before `end`, if the bytes there are well formed.
size_t decode_last(std::string_view s, size_t end, char32_t& out) {
    for (size_t len = 1; len <= 4 && len <= end; ++len) {
        const unsigned char b = static_cast<unsigned char>(s[end - len]);
        if ((b & 0xC0) == 0x80)
            continue;
        size_t prefix;
        return decode_one(s, end - len, out, prefix) == len ? len : 0;
    }
    return 0;
}

// The length of the run of ASCII bytes at `pos`, found eight bytes at a time: whole files
// and listings pass through these checks, and most of their bytes are ASCII.
size_t ascii_run(std::string_view s, size_t pos) {
    const size_t start = pos;
    while (pos + 8 <= s.size()) {
        uint64_t word;
        std::memcpy(&word, s.data() + pos, 8);
        if ((word & 0x8080808080808080ULL) != 0)
            break;
        pos += 8;
    }
    while (pos < s.size() && static_cast<unsigned char>(s[pos]) < 0x80)
        ++pos;
    return pos - start;
}

bool is_invisible(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        return true;
    if (c >= 0x0300 && c <= 0x036F)
        return true;  // combining diacritical marks
    if (c == 0x00AD || c == 0x034F || c == 0x061C || c == 0x180E)
        return true;
    if (c >= 0x200B && c <= 0x200F)
        return true;
    if (c >= 0x2028 && c <= 0x202E)
        return true;
    if (c >= 0x2060 && c <= 0x206F)
        return true;
    if (c >= 0xFE00 && c <= 0xFE0F)
        return true;  // variation selectors
    if (c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB))
        return true;
    if (c >= 0xE0000 && c <= 0xE0FFF)
        return true;
    return false;
}

}  // namespace

bool is_unicode_whitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

std::string_view trim_whitespace(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        char32_t c;
        size_t prefix;
        const size_t len = decode_one(text, begin, c, prefix);
        if (len == 0 || !is_unicode_whitespace(c))
            break;
        begin += len;
    }
    size_t end = text.size();
    while (end > begin) {
        char32_t c;
        const size_t len = decode_last(text, end, c);
        if (len == 0 || !is_unicode_whitespace(c))
            break;
        end -= len;
    }
    return text.substr(begin, end - begin);
}

bool is_valid_utf8(std::string_view bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        pos += ascii_run(bytes, pos);
        if (pos == bytes.size())
            break;
        char32_t c;
        size_t prefix;
        const size_t len = decode_one(bytes, pos, c, prefix);
        if (len == 0)
            return false;
        pos += len;
    }
    return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t ascii = ascii_run(bytes, pos);
        out.append(bytes.substr(pos, ascii));
        pos += ascii;
        if (pos == bytes.size())
            break;
        char32_t c;
        size_t prefix;
        const size_t len = decode_one(bytes, pos, c, prefix);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            pos += prefix;
        } else {
            out.append(bytes.substr(pos, len));
            pos += len;
        }
    }
    return out;
}

size_t utf8_sequence_length(std::string_view text, size_t pos) {
    char32_t c;
    size_t prefix;
    return decode_one(text, pos, c, prefix);
}

size_t incomplete_utf8_tail(std::string_view bytes) {
    for (size_t length = 1; length <= 3 && length <= bytes.size(); ++length) {
        const unsigned char b = static_cast<unsigned char>(bytes[bytes.size() - length]);
        if ((b & 0xC0) == 0x80)
            continue;
        if (b < 0xC2 || b > 0xF4)
            return 0;
        char32_t c;
        size_t prefix;
        const size_t complete = decode_one(bytes, bytes.size() - length, c, prefix);
        return complete == 0 && prefix == length ? length : 0;
    }
    return 0;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    }
    return true;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& ch : out)
        ch = ascii_lower(ch);
    return out;
}

int hex_digit_value(char32_t c) {
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

std::expected<uint16_t, PortError> parse_port_digits(std::string_view digits) {
    if (digits.empty())
        return std::unexpected(PortError::not_a_number);
    uint32_t value = 0;
    for (const char ch : digits) {
        if (ch < '0' || ch > '9')
            return std::unexpected(PortError::not_a_number);
        value = value * 10 + static_cast<uint32_t>(ch - '0');
        if (value > UINT16_MAX)
            return std::unexpected(PortError::out_of_range);
    }
    return static_cast<uint16_t>(value);
}

std::optional<uint16_t> parse_port(std::string_view text) {
    if (text.starts_with('+'))
        text.remove_prefix(1);
    const auto port = parse_port_digits(text);
    return port ? std::optional<uint16_t>(*port) : std::nullopt;
}

char32_t next_code_point(std::string_view text, size_t& pos) {
    char32_t c;
    size_t prefix;
    const size_t len = decode_one(text, pos, c, prefix);
    if (len == 0) {
        pos += prefix;
        return 0xFFFD;
    }
    pos += len;
    return c;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string debug_quote(std::string_view text) {
    const std::string decoded = decode_utf8_lossy(text);
    std::string out = "\"";
    size_t pos = 0;
    while (pos < decoded.size()) {
        char32_t c;
        size_t prefix;
        const size_t len = decode_one(decoded, pos, c, prefix);
        pos += len;
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case 0:
                out += "\\0";
                break;
            default:
                if (is_invisible(c)) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
                    out += buf;
                } else {
                    append_utf8(out, c);
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace wrenfield
