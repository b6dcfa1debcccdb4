#include "support/program_launcher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>

#include "support/local_system.h"

using namespace wrenfield::testing;

namespace {

// Stand-ins for the program, so that the launcher is proven on its own. Each receives its
// behaviour as the first argument.
constexpr const char* stand_in_script = R"(#!/bin/sh
case "$1" in
  serve)
    # A tiny HTTP server on a free port, announced the way the program announces itself.
    exec python3 -c '
import http.server, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = ("path=" + self.path + " x-test=" + str(self.headers.get("X-Test"))).encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("X-Reply", "yes")
        self.end_headers()
        self.wfile.write(body)
    do_POST = do_GET
    def log_message(self, *arguments):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print("Wrenfield started at: http://127.0.0.1:%d" % server.server_port, flush=True)
server.serve_forever()
' ;;
  exit)
    echo "arguments: $*" >&2
    echo "marker: $WRENFIELD_MARKER" >&2
    echo "Wrenfield started at: http://127.0.0.1:5050"
    exit 3 ;;
  silent)
    echo "nothing to see"
    exec sleep 60 ;;
  crash)
    echo "going" >&2
    kill -SEGV $$ ;;
esac
)";

class ProgramLauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        stand_in_ = directory_ / "stand-in";
        ASSERT_TRUE(write_file(stand_in_, stand_in_script));
        ASSERT_EQ(::chmod(stand_in_.c_str(), 0755), 0);
    }

    LaunchedProgram::Options options(std::vector<std::string> arguments) const {
        return {std::move(arguments), {}, stand_in_};
    }

    TemporaryDirectory directory_;
    std::string stand_in_;
};

TEST_F(ProgramLauncherTest, StartLineGivesAddressAndHttpHelpersReachIt) {
    LaunchedProgram program(options({"serve"}));
    auto url = program.wait_for_start();
    ASSERT_TRUE(url.has_value()) << url.error();
    EXPECT_EQ(*url, "http://127.0.0.1:" + std::to_string(program.port()));
    EXPECT_EQ(program.url(), *url);

    HttpReply reply = http_get(program.port(), "/api/status?x=1", {{"X-Test", "a b"}});
    EXPECT_EQ(reply.status, 200) << reply.error;
    EXPECT_EQ(reply.body, "path=/api/status?x=1 x-test=a b");
    EXPECT_EQ(reply.header("x-reply"), "yes");
    EXPECT_EQ(reply.header("Content-Type"), "text/plain");

    HttpReply posted = http_post_json(program.port(), "/api/connect", R"({"host":"h"})");
    EXPECT_EQ(posted.status, 200) << posted.error;
}

TEST_F(ProgramLauncherTest, ExitStatusArgumentsEnvironmentAndStandardError) {
    auto settings = options({"exit", "--port", "0"});
    settings.environment = {"WRENFIELD_MARKER=set by the test"};
    LaunchedProgram program(settings);
    auto url = program.wait_for_start();
    ASSERT_TRUE(url.has_value()) << url.error();
    EXPECT_EQ(program.port(), 5050);

    auto status = program.wait_exit();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->exit_code, 3);
    EXPECT_EQ(status->signal, 0);
    EXPECT_EQ(program.error_output(), "arguments: exit --port 0\nmarker: set by the test\n");
}

TEST_F(ProgramLauncherTest, EndingBeforeTheStartLineIsReportedWithTheOutput) {
    LaunchedProgram program(options({"crash"}));
    auto url = program.wait_for_start();
    ASSERT_FALSE(url.has_value());
    EXPECT_NE(url.error().find("ended"), std::string::npos) << url.error();
    EXPECT_NE(url.error().find("going"), std::string::npos) << url.error();
    auto status = program.wait_exit();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->exit_code, -1);
    EXPECT_EQ(status->signal, SIGSEGV);
}

TEST_F(ProgramLauncherTest, TimeOutsAreBoundedAndDestructionKillsTheProgram) {
    pid_t pid = -1;
    {
        LaunchedProgram program(options({"silent"}));
        pid = program.pid();
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(program.wait_for_output("nothing to see"));
        auto url = program.wait_for_start(std::chrono::milliseconds(300));
        ASSERT_FALSE(url.has_value());
        EXPECT_NE(url.error().find("time-out"), std::string::npos) << url.error();
        EXPECT_FALSE(program.wait_exit(std::chrono::milliseconds(100)).has_value());
    }
    // Killed and reaped: the pid no longer names a process of ours.
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(ProgramLauncherTest, MissingProgramAndClosedPortAreErrorsNotHangs) {
    LaunchedProgram program(LaunchedProgram::Options{{}, {}, directory_ / "no-such-program"});
    EXPECT_FALSE(program.start_error().empty());
    EXPECT_FALSE(program.wait_for_start().has_value());

    // Port 1 on the loopback has no listener here.
    HttpReply reply = http_get(1, "/");
    EXPECT_EQ(reply.status, 0);
    EXPECT_FALSE(reply.error.empty());
}

}  // namespace
