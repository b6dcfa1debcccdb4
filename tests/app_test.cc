// The shell: the argument scan as a function, and start-up as a whole process.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/arguments.h"

namespace wrenfield {
namespace {

CommandLine scan(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "wrenfield");
    return scan_arguments(arguments);
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

TEST(ScanArguments, NothingGivenMeansDefaults) {
    CommandLine settings = scan({});
    EXPECT_FALSE(settings.show_usage);
    EXPECT_FALSE(settings.browser);
    EXPECT_EQ(settings.host, std::nullopt);
    EXPECT_EQ(settings.port, std::nullopt);
}

TEST(ScanArguments, HelpAnywhereStopsTheScan) {
    EXPECT_TRUE(scan({"--help"}).show_usage);
    EXPECT_TRUE(scan({"-h"}).show_usage);
    EXPECT_TRUE(scan({"--port", "8080", "--help"}).show_usage);
    EXPECT_TRUE(scan({"--browser", "-h", "--port"}).show_usage);
    // The program path itself is never read as an option.
    EXPECT_FALSE(scan_arguments(std::vector<std::string>{"--help"}).show_usage);
}

TEST(ScanArguments, OptionsTakeTheNextArgumentWhateverItIs) {
    CommandLine settings = scan({"--host", "--browser"});
    EXPECT_EQ(settings.host, "--browser");
    EXPECT_FALSE(settings.browser);

    settings = scan({"--host", "-h"});
    EXPECT_EQ(settings.host, "-h");
    EXPECT_FALSE(settings.show_usage);

    // "--help" after "--port" is consumed as an invalid port value.
    settings = scan({"--port", "--help"});
    EXPECT_FALSE(settings.show_usage);
    EXPECT_EQ(settings.port, std::nullopt);
}

TEST(ScanArguments, LaterValuesReplaceEarlierOnes) {
    EXPECT_EQ(scan({"--host", "a", "--host", "b"}).host, "b");
    EXPECT_EQ(scan({"--port", "abc", "--port", "8080"}).port, 8080);
    // An invalid value clears an earlier valid port.
    EXPECT_EQ(scan({"--port", "8080", "--port", "abc"}).port, std::nullopt);
}

TEST(ScanArguments, TrailingOptionIsIgnored) {
    EXPECT_EQ(scan({"--port", "8080", "--port"}).port, 8080);
    EXPECT_EQ(scan({"--host", "a", "--host"}).host, "a");
    EXPECT_EQ(scan({"--host"}).host, std::nullopt);
}

TEST(ScanArguments, OnlyWholeCaseSensitiveNamesCount) {
    CommandLine settings =
        scan({"--port=8080", "--host=a", "--BROWSER", "--Help", "-H", "--brow", "x", "--browser"});
    EXPECT_FALSE(settings.show_usage);
    EXPECT_EQ(settings.port, std::nullopt);
    EXPECT_EQ(settings.host, std::nullopt);
    EXPECT_TRUE(settings.browser);
    EXPECT_TRUE(scan({"--browser", "--browser"}).browser);
}

TEST(UsageText, HasTenLines) {
    std::string text(usage_text);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10);
    EXPECT_TRUE(text.starts_with("Wrenfield\n\nUSAGE:\n  wrenfield [OPTIONS]\n\nOPTIONS:\n"));
}

}  // namespace
}  // namespace wrenfield
