#include "base/text.h"

#include <gtest/gtest.h>

using namespace wrenfield;

TEST(Text, TrimRemovesUnicodeWhiteSpaceButNotByteOrderMark) {
    EXPECT_EQ(trim_whitespace(" \t\r\n\v\f x \r\n"), "x");
    EXPECT_EQ(trim_whitespace("\u00a0\u3000\u2028 x\u205f\u0085"), "x");
    EXPECT_EQ(trim_whitespace("\ufeffx"), "\ufeffx");
    EXPECT_EQ(trim_whitespace("  "), "");
    // Invalid bytes stop the trim instead of being mistaken for white space.
    EXPECT_EQ(trim_whitespace(" \xff "), "\xff");
}

TEST(Text, StrictUtf8RejectsOverlongSurrogatesAndTruncation) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("caf\xc3\xa9 \xf0\x9f\x98\x80"));
    EXPECT_TRUE(is_valid_utf8(std::string("a\0b", 3)));
    EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));          // overlong "/"
    EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // surrogate D800
    EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("\xe2\x82"));          // cut short
    EXPECT_FALSE(is_valid_utf8("caf\xe9"));           // Latin-1 byte
}

TEST(Text, LossyDecodingReplacesEachMaximalInvalidSubpart) {
    EXPECT_EQ(decode_utf8_lossy("ok"), "ok");
    EXPECT_EQ(decode_utf8_lossy("a\xffz"), "a\ufffdz");
    // A truncated three-byte sequence is one replacement, not two.
    EXPECT_EQ(decode_utf8_lossy("\xe2\x82z"), "\ufffdz");
    // Each byte of an overlong or surrogate form is its own replacement.
    EXPECT_EQ(decode_utf8_lossy("\xc0\xaf"), "\ufffd\ufffd");
    EXPECT_EQ(decode_utf8_lossy("\xed\xa0\x80"), "\ufffd\ufffd\ufffd");
}

// Bytes that come in pieces decode as the whole would when each piece keeps back the start of
// a sequence it cuts: valid sequences of every length, sequences cut short, bytes that never
// start one, wherever the cut falls.
TEST(Text, LossyDecodingInPiecesKeepsBackOnlyCutSequences) {
    EXPECT_EQ(incomplete_utf8_tail("ab\xe2\x82"), 2u);
    EXPECT_EQ(incomplete_utf8_tail("\xf0\x9f\x98"), 3u);
    EXPECT_EQ(incomplete_utf8_tail("\xc3"), 1u);
    EXPECT_EQ(incomplete_utf8_tail("\xe2\x82\xac"), 0u);  // complete
    EXPECT_EQ(incomplete_utf8_tail("\xe0\x80"), 0u);      // can never become one
    EXPECT_EQ(incomplete_utf8_tail("\xed\xa0"), 0u);      // a surrogate
    EXPECT_EQ(incomplete_utf8_tail("\xff"), 0u);
    EXPECT_EQ(incomplete_utf8_tail("\x80\x80"), 0u);
    const std::string bytes =
        "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xe2\x82x\xff\xc3\xf0\x9f\xe0\x80\xed\xa0\x80"
        "\xf4\x90\x80\x80z\xc3";
    const std::string whole = decode_utf8_lossy(bytes);
    for (size_t first = 0; first <= bytes.size(); ++first) {
        for (size_t second = first; second <= bytes.size(); ++second) {
            std::string decoded, held;
            for (auto [from, to] : {std::pair{size_t{0}, first}, {first, second}}) {
                const std::string piece = held + bytes.substr(from, to - from);
                const size_t keep = incomplete_utf8_tail(piece);
                decoded +=
                    decode_utf8_lossy(std::string_view(piece).substr(0, piece.size() - keep));
                held = piece.substr(piece.size() - keep);
            }
            decoded += decode_utf8_lossy(held + bytes.substr(second));
            ASSERT_EQ(decoded, whole) << "cut at " << first << " and " << second;
        }
    }
}

TEST(Text, AsciiCaseFoldingLeavesOtherBytesExact) {
    EXPECT_TRUE(ascii_iequals("WeB", "web"));
    EXPECT_FALSE(ascii_iequals("web", "webs"));
    EXPECT_FALSE(ascii_iequals("\xc3\x89", "\xc3\xa9"));  // É and é differ
    EXPECT_EQ(ascii_lower("HoSt\xc3\x89"), "host\xc3\x89");
}

TEST(ParsePort, AcceptsDecimalWithOptionalPlus) {
    EXPECT_EQ(parse_port("8080"), 8080);
    EXPECT_EQ(parse_port("+8080"), 8080);
    EXPECT_EQ(parse_port("0"), 0);
    EXPECT_EQ(parse_port("65535"), 65535);
    EXPECT_EQ(parse_port("000080"), 80);
}

TEST(ParsePort, RefusesEverythingElse) {
    for (const char* text : {"", "+", "-", "-1", "65536", "99999999999999999999", "80a", " 80",
                             "80 ", "++80", "0x50", "８０", "+-1"}) {
        EXPECT_EQ(parse_port(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(Text, DebugQuoteEscapesLikeTheControlPathKey) {
    EXPECT_EQ(debug_quote("plain 'x'"), "\"plain 'x'\"");
    EXPECT_EQ(debug_quote("a\"b\\c\td\n\r"), "\"a\\\"b\\\\c\\td\\n\\r\"");
    EXPECT_EQ(debug_quote(std::string("\0\x01", 2)), "\"\\0\\u{1}\"");
    EXPECT_EQ(debug_quote("\xc3\xa9\xe2\x80\x8b"), "\"\xc3\xa9\\u{200b}\"");
}

// Long ASCII runs are skipped a word at a time; what follows them must still be checked.
TEST(Text, Utf8ChecksAfterLongAsciiRuns) {
    const std::string ascii(21, 'a');
    EXPECT_TRUE(is_valid_utf8(ascii + "\xc3\xa9" + ascii));
    EXPECT_FALSE(is_valid_utf8(ascii + "\xe9" + ascii));
    EXPECT_FALSE(is_valid_utf8(std::string(16, 'a') + "\xe2\x82"));
    EXPECT_EQ(decode_utf8_lossy(ascii + "\xff" + ascii + "\xc3\xa9"),
              ascii + "\ufffd" + ascii + "\u00e9");
}
