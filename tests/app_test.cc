// The shell: the argument scan as a function, and start-up as a whole process.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/arguments.h"
#include "support/held_port.h"
#include "support/local_system.h"
#include "support/program_launcher.h"
#include "support/sshd_fixture.h"
#include "support/temp_home.h"
#include "support/wait_until.h"

namespace wrenfield {
namespace {

CommandLine scan(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "wrenfield");
    return scan_arguments(arguments);
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

// The help a user reads is true to the scan: every option it lists is understood, and takes
// the next argument exactly when the help names one ("--port <port>").
TEST(UsageText, EveryListedOptionIsUnderstoodAsListed) {
    const std::string header = "Wrenfield\n\nUSAGE:\n  wrenfield [OPTIONS]\n\nOPTIONS:\n";
    const std::string text(usage_text);
    ASSERT_TRUE(text.starts_with(header));
    const auto understood = [](const CommandLine& settings) {
        return settings.show_usage || settings.browser || settings.host || settings.port;
    };
    std::istringstream lines(text.substr(header.size()));
    std::vector<std::string> listed;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_TRUE(line.starts_with("  -")) << line;
        // "  --host <target>    Auto-connect ...": the names, then two or more spaces.
        std::istringstream names(line.substr(2, line.find("  ", 2) - 2));
        std::vector<std::string> words{std::istream_iterator<std::string>(names), {}};
        const bool takes_argument = words.size() == 2 && words[1].starts_with("<");
        for (std::string name : words) {
            if (name.starts_with("<"))
                continue;
            if (name.ends_with(","))
                name.pop_back();
            listed.push_back(name);
            EXPECT_TRUE(understood(scan({name, "7"}))) << name;
            // An option that takes an argument means nothing without one.
            EXPECT_EQ(understood(scan({name})), !takes_argument) << name;
        }
    }
    EXPECT_EQ(listed.size(), 5u);
}

using testing::LaunchedProgram;
using namespace std::chrono_literals;

const std::string started_line = "[Wrenfield] Sparkle updater initialized.\n";

using testing::HeldPort;

// A port that was free a moment ago.
uint16_t free_port() {
    return HeldPort(0).port();
}

// Starts the program in browser mode with a stand-in for xdg-open first on PATH, which writes
// the address it was given to a file; the real opener would start a browser.
class StartUpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testing::write_file(opener_directory_ / "xdg-open",
                                        "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$0.log\"\n"));
        ASSERT_EQ(::chmod((opener_directory_ / "xdg-open").c_str(), 0755), 0);
    }

    LaunchedProgram::Options browser_mode(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), "--browser");
        const char* path = std::getenv("PATH");
        return {std::move(arguments),
                {"PATH=" + opener_directory_.path() + ":" + (path != nullptr ? path : "")}};
    }

    // What the stand-in opener was given, one argument a line.
    std::string opened() const {
        return testing::read_file(opener_directory_ / "xdg-open.log").value_or("");
    }

    // Starts the program and returns the port of its start-up line (0 when there was none).
    static uint16_t start(LaunchedProgram& program) {
        auto address = program.wait_for_start();
        EXPECT_TRUE(address.has_value()) << (address ? std::string() : address.error());
        return address ? program.port() : 0;
    }

    static nlohmann::json status(uint16_t port) {
        testing::HttpReply reply = testing::http_get(port, "/api/status");
        EXPECT_EQ(reply.status, 200) << reply.error << reply.body;
        return nlohmann::json::parse(reply.body, nullptr, false);
    }

    testing::TemporaryDirectory opener_directory_{"wrenfield-opener"};
};

TEST_F(StartUpTest, HelpPrintsTheUsageAndExitsWithoutBinding) {
    for (auto arguments :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"-h"},
                                               {"--port", "8080", "--help"},
                                               {"--host", "x", "--port", "1", "-h"}}) {
        LaunchedProgram program(browser_mode(arguments));
        auto status = program.wait_exit();
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(status->exit_code, 0);
        EXPECT_EQ(program.output(), usage_text);
        // The updater was set up before the arguments were read.
        EXPECT_EQ(program.error_output(), started_line);
        EXPECT_EQ(opened(), "");
    }
}

TEST_F(StartUpTest, BrowserModeHandsTheAddressToTheOpener) {
    LaunchedProgram program(browser_mode({"--port", "0"}));
    uint16_t port = start(program);
    ASSERT_NE(port, 0);
    std::string address = "http://127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(program.wait_for_output("Opening in web browser: " + address + "\n"));
    EXPECT_EQ(program.output(),
              "Wrenfield started at: " + address + "\nOpening in web browser: " + address + "\n");
    testing::wait_until([&] { return !opened().empty(); }, 10s);
    EXPECT_EQ(opened(), address + "\n");
    EXPECT_EQ(status(port), nlohmann::json({{"connected", false}}));
}

TEST_F(StartUpTest, BrowserModeRunsQueuedUpdateChecks) {
    LaunchedProgram program(browser_mode({"--port", "0"}));
    uint16_t port = start(program);
    ASSERT_NE(port, 0);
    for (int check = 0; check < 2; ++check) {
        testing::HttpReply reply = testing::http_request(port, "POST", "/api/check-for-updates");
        EXPECT_EQ(reply.status, 200) << reply.error << reply.body;
    }
    const std::string not_initialized = "[Wrenfield] Sparkle updater not initialized.\n";
    EXPECT_TRUE(program.wait_for_error_output(started_line + not_initialized + not_initialized))
        << program.error_output();
}

TEST_F(StartUpTest, AMissingOrFailingOpenerIsIgnored) {
    // No xdg-open anywhere on PATH.
    LaunchedProgram without_opener(LaunchedProgram::Options{
        {"--browser", "--port", "0"}, {"PATH=" + opener_directory_ / "none"}});
    uint16_t port = start(without_opener);
    ASSERT_NE(port, 0);
    EXPECT_TRUE(without_opener.wait_for_output("Opening in web browser: "));
    EXPECT_EQ(status(port)["connected"], false);

    ASSERT_TRUE(testing::write_file(opener_directory_ / "xdg-open", "#!/bin/sh\nexit 3\n"));
    LaunchedProgram failing_opener(browser_mode({"--port", "0"}));
    port = start(failing_opener);
    ASSERT_NE(port, 0);
    EXPECT_TRUE(failing_opener.wait_for_output("Opening in web browser: "));
    EXPECT_EQ(status(port)["connected"], false);
}

TEST_F(StartUpTest, ExplicitPortValues) {
    uint16_t port = free_port();
    struct Case {
        std::vector<std::string> arguments;
        uint16_t expected;
    };
    for (const Case& value : std::vector<Case>{
             {{"--port", "+" + std::to_string(port)}, port},
             {{"--port", "abc", "--port", std::to_string(port)}, port},
             {{"--port", std::to_string(port), "--port"}, port},
         }) {
        LaunchedProgram program(browser_mode(value.arguments));
        EXPECT_EQ(start(program), value.expected) << value.arguments[1];
        EXPECT_EQ(status(port)["connected"], false);
    }

    // Port 0 asks for any free port, and the start-up line shows the one given.
    LaunchedProgram any_port(browser_mode({"--port", "0"}));
    uint16_t assigned = start(any_port);
    EXPECT_NE(assigned, 0);
    EXPECT_EQ(status(assigned)["connected"], false);
}

TEST_F(StartUpTest, ExplicitPortTakenIsAnError) {
    HeldPort taken(0);
    ASSERT_TRUE(taken.held());
    std::string port = std::to_string(taken.port());
    LaunchedProgram program(browser_mode({"--port", port}));
    auto status = program.wait_exit();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->exit_code, 1);
    EXPECT_EQ(program.output(), "");
    std::string error = program.error_output();
    std::string expected_start = started_line + "Error: \"Failed to bind to port " + port + ": ";
    EXPECT_TRUE(error.starts_with(expected_start)) << error;
    EXPECT_TRUE(error.ends_with("\"\n")) << error;
    EXPECT_GT(error.size(), expected_start.size() + 2) << "the system's message is missing";
}

// One test, run in order, so that no other test of this program holds 5050 meanwhile.
TEST_F(StartUpTest, WithoutAnExplicitPortFallsBackWhen5050IsTaken) {
    HeldPort held(5050);
    // Taken by somebody else on this machine is just as good, as long as it stays taken.
    bool taken = held.held() || !HeldPort(5050).held();
    ASSERT_TRUE(taken);
    for (auto arguments : std::vector<std::vector<std::string>>{
             {},
             {"--port", "65536"},
             {"--port", "-1"},
             {"--port", "80a"},
             {"--port", "8080", "--port", "abc"},
             {"--port=8080"},
             {"--PORT", "8080"},
         }) {
        LaunchedProgram program(browser_mode(arguments));
        uint16_t port = start(program);
        EXPECT_NE(port, 0);
        EXPECT_NE(port, 5050);
        EXPECT_NE(port, 8080);
        EXPECT_EQ(status(port)["connected"], false);
        // Only the start-up and browser lines: the fallback is silent. Standard error is a pipe
        // of its own, so its line may come after the one on standard output.
        EXPECT_TRUE(program.wait_for_output("Opening in web browser: "));
        EXPECT_TRUE(program.wait_for_error_output(started_line));
        EXPECT_EQ(program.error_output(), started_line);
    }

    if (held.held()) {
        held.release();
        LaunchedProgram program(browser_mode({}));
        EXPECT_EQ(start(program), 5050);
    }
}

TEST_F(StartUpTest, WindowModeWithoutADisplayEndsWithTheError) {
    LaunchedProgram program(
        LaunchedProgram::Options{{"--port", "0"}, {"DISPLAY", "WAYLAND_DISPLAY"}});
    auto status = program.wait_exit();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->exit_code, 1);
    EXPECT_TRUE(program.output().starts_with("Wrenfield started at: http://127.0.0.1:"));
    std::string error = program.error_output();
    EXPECT_TRUE(error.starts_with(started_line + "Error: \"")) << error;
    EXPECT_TRUE(error.ends_with("\"\n")) << error;
}

TEST_F(StartUpTest, FailedAutoConnectWarnsAndServesUnconnected) {
    // An alias for a port where nothing listens: ssh fails at once.
    testing::TemporaryHome home;
    home.write(".ssh/config", "Host unreachable-alias\n  HostName 127.0.0.1\n  Port " +
                                  std::to_string(free_port()) + "\n");
    LaunchedProgram program(browser_mode({"--port", "0", "--host", "unreachable-alias"}));
    uint16_t port = start(program);
    ASSERT_NE(port, 0);
    EXPECT_TRUE(program.wait_for_output("Opening in web browser: "));
    EXPECT_TRUE(program.output().find("\nAuto-connecting to SSH target: unreachable-alias\n") !=
                std::string::npos)
        << program.output();
    std::string error = program.error_output();
    EXPECT_TRUE(
        error.starts_with(started_line + "Warning: Failed to auto-connect to unreachable-alias: "))
        << error;
    EXPECT_EQ(status(port), nlohmann::json({{"connected", false}}));
}

TEST_F(StartUpTest, TrailingHostDoesNotConnect) {
    LaunchedProgram program(browser_mode({"--port", "0", "--host"}));
    ASSERT_NE(start(program), 0);
    EXPECT_TRUE(program.wait_for_output("Opening in web browser: "));
    EXPECT_EQ(program.output().find("Auto-connecting"), std::string::npos);
}

class AutoConnectTest : public testing::SshServerTest {};

TEST_F(AutoConnectTest, ConnectsBeforeServing) {
    LaunchedProgram program(LaunchedProgram::Options{
        {"--browser", "--port", "0", "--host", "nowhere", "--host", server().host_alias()},
        {"PATH=" + server().path()}});
    auto address = program.wait_for_start();
    ASSERT_TRUE(address.has_value()) << address.error();
    ASSERT_TRUE(program.wait_for_output("Opening in web browser: "));
    EXPECT_TRUE(program.output().find("\nAuto-connecting to SSH target: " + server().host_alias() +
                                      "\n") != std::string::npos)
        << program.output();
    EXPECT_EQ(program.error_output().find("Warning"), std::string::npos) << program.error_output();

    testing::HttpReply reply = testing::http_get(program.port(), "/api/status");
    ASSERT_EQ(reply.status, 200) << reply.error;
    nlohmann::json status = nlohmann::json::parse(reply.body, nullptr, false);
    EXPECT_EQ(status["connected"], true) << reply.body;
    EXPECT_EQ(status["user"], server().user()) << reply.body;
}

}  // namespace
}  // namespace wrenfield
