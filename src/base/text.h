// Text helpers shared by every layer: Unicode White_Space trimming, UTF-8 checks and
// decoding, ASCII case folding, hexadecimal digits and port numbers, and the double-quoted
// debug form of a text.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace wrenfield {

// True for the characters Unicode marks as White_Space (tab to carriage return, space,
// U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
bool is_unicode_whitespace(char32_t c);

// Removes White_Space characters at both ends. Works on UTF-8; bytes that are not part of
// a well-formed sequence are never trimmed.
std::string_view trim_whitespace(std::string_view text);

// Strict UTF-8 check: no overlong forms, no surrogates, nothing above U+10FFFF, nothing cut short.
bool is_valid_utf8(std::string_view bytes);

// Decodes UTF-8, replacing each maximal invalid subsequence by U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);

// The length of the well-formed UTF-8 sequence (as is_valid_utf8 takes it) that starts at
// `pos`, or 0 when the byte there starts none.
size_t utf8_sequence_length(std::string_view text, size_t pos);

// The length of the end of `bytes` (0 to 3) that begins a well-formed UTF-8 sequence without
// completing it: what a decoder of bytes that come in pieces keeps for the next piece, so that
// decoding the pieces so gives what decode_utf8_lossy gives for all of them at once.
size_t incomplete_utf8_tail(std::string_view bytes);

// Equality with ASCII letters compared without regard to case; other bytes compare exactly.
bool ascii_iequals(std::string_view a, std::string_view b);

// Lower-cases ASCII letters only.
std::string ascii_lower(std::string_view text);
constexpr char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// The value of an ASCII hexadecimal digit of either case, or -1 for any other character.
int hex_digit_value(char32_t c);

// Why a text is not a port number.
enum class PortError { not_a_number, out_of_range };

// A port number written as one or more ASCII digits (leading zeros are fine), at most 65535.
// The digits are read from the left, so the first fault met decides the error.
std::expected<uint16_t, PortError> parse_port_digits(std::string_view digits);

// An optional "+", then a port number as parse_port_digits reads it; nullopt for anything else.
// The form ssh configuration files and the command line take.
std::optional<uint16_t> parse_port(std::string_view text);

// Decodes the code point at `pos` and moves `pos` past it. A byte that does not start a
// well-formed sequence reads as U+FFFD and moves `pos` by its maximal invalid subpart.
char32_t next_code_point(std::string_view text, size_t& pos);

// Appends one code point as UTF-8.
void append_utf8(std::string& out, char32_t c);

// The double-quoted debug form of a text: invalid UTF-8 first read as U+FFFD, then backslash
// and double quote escaped, \t \r \n \0 for those characters, \u{hex} (lower case, no
// leading zeros) for other control characters and for invisible format or combining
// characters, everything else as it is. The user sees it in the line `Error: "..."` that the
// program prints to standard error before it exits with status 1, and it is part of the
// control socket's key (control_path_for), so it decides the socket's name. Pinned by
// Text.DebugQuote* in tests/text_test.cc, the ControlPath tests in tests/connection_test.cc and
// the start-up error tests in tests/app_test.cc.
std::string debug_quote(std::string_view text);

}  // namespace wrenfield
