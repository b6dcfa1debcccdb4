#include "base/json_text.h"

#include "base/text.h"

namespace wrenfield {

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    size_t start = 0;  // the first byte not yet copied
    size_t pos = 0;
    while (pos < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
            ++pos;
            continue;
        }
        if (c >= 0x80) {
            if (const size_t length = utf8_sequence_length(text, pos); length > 0) {
                pos += length;
                continue;
            }
        }
        out.append(text.substr(start, pos - start));
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                // A control character (\u00XX) or a byte that is not UTF-8 (\udcXX).
                out += c < 0x20 ? "\\u00" : "\\udc";
                out += hex[c >> 4];
                out += hex[c & 0xF];
        }
        start = ++pos;
    }
    out.append(text.substr(start));
    out += '"';
}

}  // namespace wrenfield
