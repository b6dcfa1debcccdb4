#include "server/url.h"

#include <array>
#include <cstdio>
#include <vector>

#include "base/text.h"

namespace wrenfield {
namespace {

using Failure = std::unexpected<std::string>;

// The sets of characters that are percent-encoded in each part of a special URL. Every set
// holds the C0 controls and everything above "~"; these are the printable additions.
constexpr std::string_view path_set = " \"#<>?`{}";
constexpr std::string_view query_set = " \"#<>'";
constexpr std::string_view fragment_set = " \"<>`";

// Characters that may never appear in a host name, after percent-decoding.
constexpr std::string_view forbidden_domain_characters = " #%/:<>?@[\\]^|";

bool is_ascii_digit(char32_t c) {
    return c >= '0' && c <= '9';
}

bool is_ascii_hex_digit(char32_t c) {
    return hex_digit_value(c) >= 0;
}

bool is_c0_control_or_space(char32_t c) {
    return c <= 0x20;
}

void percent_encode_into(std::string& out, char32_t c, std::string_view set) {
    if (c > 0x1F && c < 0x7F && set.find(static_cast<char>(c)) == std::string_view::npos) {
        out += static_cast<char>(c);
        return;
    }
    std::string bytes;
    append_utf8(bytes, c);
    for (const unsigned char byte : bytes) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", byte);
        out += escape;
    }
}

std::string percent_encode(std::u32string_view text, std::string_view set) {
    std::string out;
    for (const char32_t c : text)
        percent_encode_into(out, c, set);
    return out;
}

// The target as code points, with trailing controls and spaces cut off and every tab and
// line break removed, as the URL Standard does before parsing.
std::expected<std::u32string, std::string> prepared_input(std::string_view target) {
    if (!is_valid_utf8(target))
        return Failure("request target is not valid UTF-8");
    std::u32string text = U"localhost";
    size_t position = 0;
    while (position < target.size()) {
        const char32_t c = next_code_point(target, position);
        if (c != '\t' && c != '\n' && c != '\r')
            text += c;
    }
    while (!text.empty() && is_c0_control_or_space(text.back()))
        text.pop_back();
    return text;
}

// One IPv4 part: decimal, "0x" hexadecimal or "0" octal. Values beyond 32 bits are clamped,
// which keeps them out of range without overflowing.
std::optional<uint64_t> parse_ipv4_number(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    unsigned radix = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        radix = 16;
    } else if (text.size() >= 2 && text[0] == '0') {
        text.remove_prefix(1);
        radix = 8;
    }
    uint64_t value = 0;
    for (const char ch : text) {
        const bool valid =
            radix == 16 ? is_ascii_hex_digit(ch) : ch >= '0' && ch < static_cast<char>('0' + radix);
        if (!valid)
            return std::nullopt;
        value = std::min<uint64_t>(value * radix + hex_digit_value(ch), uint64_t{1} << 40);
    }
    return value;
}

std::vector<std::string_view> split_on_dots(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
        if (dot == std::string_view::npos)
            return parts;
        start = dot + 1;
    }
}

// A host name whose last label is a number is read as an IPv4 address, and must be one.
bool ends_in_a_number(std::string_view domain) {
    std::vector<std::string_view> parts = split_on_dots(domain);
    if (parts.back().empty()) {
        if (parts.size() == 1)
            return false;
        parts.pop_back();
    }
    const std::string_view last = parts.back();
    if (!last.empty() && last.find_first_not_of("0123456789") == std::string_view::npos)
        return true;
    return parse_ipv4_number(last).has_value();
}

std::expected<std::string, std::string> parse_ipv4(std::string_view domain) {
    std::vector<std::string_view> parts = split_on_dots(domain);
    if (parts.back().empty() && parts.size() > 1)
        parts.pop_back();
    if (parts.size() > 4)
        return Failure("invalid IPv4 address");
    std::vector<uint64_t> numbers;
    for (const std::string_view part : parts) {
        const std::optional<uint64_t> number = parse_ipv4_number(part);
        if (!number)
            return Failure("invalid IPv4 address");
        numbers.push_back(*number);
    }
    for (size_t i = 0; i + 1 < numbers.size(); ++i) {
        if (numbers[i] > 255)
            return Failure("invalid IPv4 address");
    }
    if (numbers.back() >= uint64_t{1} << (8 * (5 - numbers.size())))
        return Failure("invalid IPv4 address");
    uint64_t address = numbers.back();
    for (size_t i = 0; i + 1 < numbers.size(); ++i)
        address += numbers[i] << (8 * (3 - i));

    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(address >> 24),
                  static_cast<unsigned>((address >> 16) & 0xFF),
                  static_cast<unsigned>((address >> 8) & 0xFF),
                  static_cast<unsigned>(address & 0xFF));
    return text;
}

std::expected<std::array<uint16_t, 8>, std::string> parse_ipv6_pieces(std::u32string_view input) {
    const Failure failure("invalid IPv6 address");
    std::array<uint16_t, 8> address{};
    size_t piece_index = 0;
    std::optional<size_t> compress;
    size_t pointer = 0;
    auto at = [&](size_t i) -> char32_t { return i < input.size() ? input[i] : 0xFFFFFFFF; };
    const char32_t end = 0xFFFFFFFF;

    if (at(pointer) == ':') {
        if (at(pointer + 1) != ':')
            return failure;
        pointer += 2;
        compress = ++piece_index;
    }
    while (at(pointer) != end) {
        if (piece_index == 8)
            return failure;
        if (at(pointer) == ':') {
            if (compress)
                return failure;
            ++pointer;
            compress = ++piece_index;
            continue;
        }
        unsigned value = 0;
        size_t length = 0;
        while (length < 4 && is_ascii_hex_digit(at(pointer))) {
            value = value * 16 + hex_digit_value(at(pointer));
            ++pointer;
            ++length;
        }
        if (at(pointer) == '.') {
            // An IPv4 address in the last two pieces.
            if (length == 0 || piece_index > 6)
                return failure;
            pointer -= length;
            int numbers_seen = 0;
            while (at(pointer) != end) {
                if (numbers_seen > 0) {
                    if (at(pointer) != '.' || numbers_seen >= 4)
                        return failure;
                    ++pointer;
                }
                if (!is_ascii_digit(at(pointer)))
                    return failure;
                std::optional<unsigned> ipv4_piece;
                while (is_ascii_digit(at(pointer))) {
                    const unsigned number = at(pointer) - '0';
                    if (!ipv4_piece)
                        ipv4_piece = number;
                    else if (*ipv4_piece == 0)
                        return failure;
                    else
                        ipv4_piece = *ipv4_piece * 10 + number;
                    if (*ipv4_piece > 255)
                        return failure;
                    ++pointer;
                }
                address[piece_index] =
                    static_cast<uint16_t>(address[piece_index] * 0x100 + *ipv4_piece);
                ++numbers_seen;
                if (numbers_seen == 2 || numbers_seen == 4)
                    ++piece_index;
            }
            if (numbers_seen != 4)
                return failure;
            break;
        }
        if (at(pointer) == ':') {
            ++pointer;
            if (at(pointer) == end)
                return failure;
        } else if (at(pointer) != end) {
            return failure;
        }
        address[piece_index++] = static_cast<uint16_t>(value);
    }
    if (compress) {
        size_t swaps = piece_index - *compress;
        piece_index = 7;
        while (piece_index != 0 && swaps > 0) {
            std::swap(address[piece_index], address[*compress + swaps - 1]);
            --piece_index;
            --swaps;
        }
    } else if (piece_index != 8) {
        return failure;
    }
    return address;
}

// The bracketed text form: lower-case hexadecimal, the first longest run of two or more
// zero pieces written as "::".
std::string serialize_ipv6(const std::array<uint16_t, 8>& address) {
    size_t best_start = 8, best_length = 1;
    for (size_t i = 0; i < 8;) {
        size_t length = 0;
        while (i + length < 8 && address[i + length] == 0)
            ++length;
        if (length > best_length) {
            best_start = i;
            best_length = length;
        }
        i += length == 0 ? 1 : length;
    }
    std::string out = "[";
    for (size_t i = 0; i < 8; ++i) {
        if (i == best_start) {
            out += i == 0 ? "::" : ":";
            i += best_length - 1;
            continue;
        }
        char piece[8];
        std::snprintf(piece, sizeof piece, "%x", address[i]);
        out += piece;
        if (i != 7)
            out += ':';
    }
    return out + "]";
}

std::expected<std::string, std::string> parse_host(std::u32string_view input) {
    if (input.front() == '[') {
        if (input.back() != ']')
            return Failure("invalid IPv6 address");
        const auto address = parse_ipv6_pieces(input.substr(1, input.size() - 2));
        if (!address)
            return Failure(address.error());
        return serialize_ipv6(*address);
    }

    // Percent-decode to bytes; anything that is not ASCII then would need international
    // domain name processing, which this parser does not do.
    std::string domain;
    for (size_t i = 0; i < input.size(); ++i) {
        const char32_t c = input[i];
        if (c == '%' && i + 2 < input.size() && is_ascii_hex_digit(input[i + 1]) &&
            is_ascii_hex_digit(input[i + 2])) {
            domain += static_cast<char>(hex_digit_value(input[i + 1]) * 16 +
                                        hex_digit_value(input[i + 2]));
            i += 2;
        } else if (c < 0x80) {
            domain += static_cast<char>(c);
        } else {
            return Failure("host needs international domain name processing");
        }
    }
    domain = ascii_lower(domain);
    for (const std::string_view label : split_on_dots(domain)) {
        if (label.starts_with("xn--"))
            return Failure("host needs international domain name processing");
    }
    for (const char ch : domain) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x80)
            return Failure("host needs international domain name processing");
        if (byte < 0x20 || byte == 0x7F ||
            forbidden_domain_characters.find(ch) != std::string_view::npos) {
            return Failure("forbidden character in host");
        }
    }
    if (ends_in_a_number(domain))
        return parse_ipv4(domain);
    return domain;
}

std::expected<std::optional<uint16_t>, std::string> parse_port(std::u32string_view digits) {
    if (digits.empty())
        return std::nullopt;
    // Read as bytes with every non-ASCII code point standing as a non-digit in its place, so
    // that the first fault from the left still decides the message.
    std::string ascii;
    for (const char32_t c : digits)
        ascii += c < 0x80 ? static_cast<char>(c) : '\x7f';
    const auto port = parse_port_digits(ascii);
    if (!port) {
        return Failure(port.error() == PortError::out_of_range ? "port out of range"
                                                               : "invalid port");
    }
    if (*port == 80)
        return std::nullopt;
    return *port;
}

bool is_single_dot_segment(std::string_view segment) {
    return segment == "." || ascii_iequals(segment, "%2e");
}

bool is_double_dot_segment(std::string_view segment) {
    return segment == ".." || ascii_iequals(segment, ".%2e") || ascii_iequals(segment, "%2e.") ||
           ascii_iequals(segment, "%2e%2e");
}

// The path state: segments split at "/" or "\", dot segments resolved. A dot segment at the
// end still leaves the path ending in "/".
std::string parse_path(std::u32string_view text) {
    std::vector<std::string> segments;
    size_t start = 0;
    while (true) {
        const size_t separator = text.find_first_of(U"/\\", start);
        const bool last = separator == std::u32string_view::npos;
        const std::string segment = percent_encode(
            text.substr(start, last ? std::u32string_view::npos : separator - start), path_set);
        if (is_double_dot_segment(segment)) {
            if (!segments.empty())
                segments.pop_back();
            if (last)
                segments.emplace_back();
        } else if (is_single_dot_segment(segment)) {
            if (last)
                segments.emplace_back();
        } else {
            segments.push_back(segment);
        }
        if (last)
            break;
        start = separator + 1;
    }
    std::string path;
    for (const std::string& segment : segments)
        path += "/" + segment;
    return path;
}

}  // namespace

std::expected<ParsedUrl, std::string> parse_request_url(std::string_view request_target) {
    const auto input = prepared_input(request_target);
    if (!input)
        return Failure(input.error());
    const std::u32string_view text = *input;

    // The authority runs to the first "/", "\", "?" or "#"; the host and port follow the
    // last "@" in it, and the user information before that is not kept.
    const size_t authority_end = std::min(text.find_first_of(U"/\\?#"), text.size());
    std::u32string_view host_and_port = text.substr(0, authority_end);
    if (const size_t at_sign = host_and_port.rfind('@'); at_sign != std::u32string_view::npos) {
        host_and_port.remove_prefix(at_sign + 1);
        if (host_and_port.empty())
            return Failure("missing host");
    }

    // The first ":" outside brackets starts the port.
    size_t colon = host_and_port.size();
    bool inside_brackets = false;
    for (size_t i = 0; i < host_and_port.size(); ++i) {
        if (host_and_port[i] == '[')
            inside_brackets = true;
        else if (host_and_port[i] == ']')
            inside_brackets = false;
        else if (host_and_port[i] == ':' && !inside_brackets) {
            colon = i;
            break;
        }
    }
    if (colon == 0)
        return Failure("missing host");

    ParsedUrl url;
    const std::u32string_view port_text =
        colon < host_and_port.size() ? host_and_port.substr(colon + 1) : std::u32string_view();
    auto port = parse_port(port_text);
    if (!port)
        return Failure(port.error());
    url.port = *port;
    auto host = parse_host(host_and_port.substr(0, colon));
    if (!host)
        return Failure(host.error());
    url.host = std::move(*host);

    std::u32string_view rest = text.substr(authority_end);
    if (!rest.empty() && (rest.front() == '/' || rest.front() == '\\'))
        rest.remove_prefix(1);
    const size_t path_end = std::min(rest.find_first_of(U"?#"), rest.size());
    url.path = parse_path(rest.substr(0, path_end));
    rest.remove_prefix(path_end);

    if (!rest.empty() && rest.front() == '?') {
        const size_t query_end = std::min(rest.find('#'), rest.size());
        url.query = percent_encode(rest.substr(1, query_end - 1), query_set);
        rest.remove_prefix(query_end);
    }
    if (!rest.empty() && rest.front() == '#')
        url.fragment = percent_encode(rest.substr(1), fragment_set);
    return url;
}

}  // namespace wrenfield
