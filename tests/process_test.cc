#include "ssh/process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

using namespace wrenfield;
using Arguments = std::vector<std::string>;

namespace {

class ProcessTest : public ::testing::Test {
  protected:
    void SetUp() override { ignore_broken_pipe(); }

    // Every child a test started has been reaped: no zombie and no running child is left.
    static void expect_no_children() {
        int status;
        EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
};

// A signal mask line of /proc/PID/status ("SigIgn:\t0000000000001000") as a number.
unsigned long long mask_of(const std::string& status, const std::string& name) {
    const size_t at = status.find(name + ":\t");
    return at == std::string::npos
               ? ~0ULL
               : std::stoull(status.substr(at + name.size() + 2, 16), nullptr, 16);
}

}  // namespace

// Megabytes on both streams at once: reading one to its end before the other would leave
// the child blocked on a full pipe.
TEST_F(ProcessTest, LargeOutputOnBothStreamsIsReadSideBySide) {
    auto run = run_captured({"sh", "-c", "head -c 3000000 /dev/urandom | tee /dev/stderr"});
    ASSERT_TRUE(run.has_value()) << run.error().description();
    EXPECT_TRUE(run->status.success());
    EXPECT_EQ(run->output.size(), 3000000u);
    EXPECT_TRUE(run->output == run->error_output);
    expect_no_children();
}

// The child echoes while it is still being fed: input and output must move together.
TEST_F(ProcessTest, LargeInputIsFedWhileOutputIsRead) {
    std::string input(8 * 1024 * 1024, '\0');
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<char>(i * 7 + i / 4096);
    auto run = run_captured({"cat"}, input);
    ASSERT_TRUE(run.has_value()) << run.error().description();
    EXPECT_TRUE(run->status.success());
    EXPECT_TRUE(run->output == input);

    auto counted = run_captured({"wc", "-c"}, "abc");
    ASSERT_TRUE(counted.has_value());
    EXPECT_EQ(counted->output, "3\n");
}

TEST_F(ProcessTest, EmptyOrAbsentInputReadsAsEndOfFile) {
    auto empty = run_captured({"cat"}, "");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->output, "");
    auto absent = run_captured({"sh", "-c", "cat; readlink /proc/self/fd/0"});
    ASSERT_TRUE(absent.has_value());
    EXPECT_EQ(absent->output, "/dev/null\n");
}

TEST_F(ProcessTest, ExitStatusAndSignalAreToldApart) {
    auto three = run_captured({"sh", "-c", "echo out; echo err >&2; exit 3"});
    ASSERT_TRUE(three.has_value());
    EXPECT_FALSE(three->status.signaled);
    EXPECT_EQ(three->status.code, 3);
    EXPECT_FALSE(three->status.success());
    EXPECT_EQ(three->output, "out\n");
    EXPECT_EQ(three->error_output, "err\n");

    auto killed = run_captured({"sh", "-c", "kill -TERM $$"});
    ASSERT_TRUE(killed.has_value());
    EXPECT_TRUE(killed->status.signaled);
    EXPECT_EQ(killed->status.code, SIGTERM);
    EXPECT_FALSE(killed->status.success());
    expect_no_children();
}

TEST_F(ProcessTest, StartFailureCarriesTheSystemText) {
    for (const char* program : {"wrenfield-no-such-program", "/nonexistent/program"}) {
        auto run = run_captured({program});
        ASSERT_FALSE(run.has_value()) << program;
        EXPECT_EQ(run.error().stage, ProcessStage::Start);
        EXPECT_EQ(run.error().description(), "No such file or directory (os error 2)");
    }
    auto directory = run_captured({"/"});
    ASSERT_FALSE(directory.has_value());
    EXPECT_EQ(directory.error().description(), "Permission denied (os error 13)");
    expect_no_children();
}

// The program ignores SIGPIPE; its children must not inherit that, nor a blocked mask.
TEST_F(ProcessTest, ChildStartsWithDefaultBrokenPipeAndNoBlockedSignals) {
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    auto run = run_captured({"cat", "/proc/self/status"});
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(mask_of(run->output, "SigIgn") & (1ULL << (SIGPIPE - 1)), 0u);
    EXPECT_EQ(mask_of(run->output, "SigBlk"), 0u);
}

// An attached child writes straight to our standard output, starts with the default broken-pipe
// action, and is waited for only until it exits: a background process it leaves holding our
// output (as a desktop opener leaves a browser) does not hold up the caller.
TEST_F(ProcessTest, AttachedChildSharesOurOutputAndIsWaitedForUntilItExits) {
    char path[] = "/tmp/wrenfield-attached-XXXXXX";
    const int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stdout);
    const int saved_output = ::dup(STDOUT_FILENO);
    ::dup2(file, STDOUT_FILENO);
    auto run =
        run_attached({"sh", "-c", "grep SigIgn /proc/self/status; sleep 600 & echo $!; exit 4"});
    ::dup2(saved_output, STDOUT_FILENO);
    ::close(saved_output);

    std::string written(4096, '\0');
    written.resize(static_cast<size_t>(::pread(file, written.data(), written.size(), 0)));
    ::close(file);
    ::unlink(path);
    const pid_t left_running = static_cast<pid_t>(std::stol(written.substr(written.find('\n'))));
    EXPECT_EQ(::kill(left_running, 0), 0) << "the background process had ended";
    ::kill(left_running, SIGKILL);

    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->code, 4);
    EXPECT_EQ(mask_of(written, "SigIgn") & (1ULL << (SIGPIPE - 1)), 0u);
    EXPECT_EQ(run_attached({"wrenfield-no-such-program"}).error().stage, ProcessStage::Start);
}

// A child that stops reading makes the write fail with EPIPE instead of killing the program,
// and the child is still reaped.
TEST_F(ProcessTest, FailedInputWriteIsReportedAndTheChildReaped) {
    const std::string input(16 * 1024 * 1024, 'x');
    auto run = run_captured({"sh", "-c", "exit 0"}, input);
    ASSERT_FALSE(run.has_value());
    EXPECT_EQ(run.error().stage, ProcessStage::WriteInput);
    EXPECT_EQ(run.error().description(), "Broken pipe (os error 32)");
    expect_no_children();
}

TEST_F(ProcessTest, OutputArrivesInPiecesThroughTheCallbacks) {
    size_t pieces = 0, bytes = 0;
    ProcessStreams streams;
    streams.on_output = [&](std::string_view piece) {
        ++pieces;
        bytes += piece.size();
    };
    const std::string chunk(100000, 'y');
    int calls = 0;
    streams.next_input = [&]() -> std::string_view { return calls++ < 50 ? chunk : ""; };
    auto status = run_process({"cat"}, streams);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->success());
    EXPECT_EQ(bytes, 50 * chunk.size());
    EXPECT_GT(pieces, 1u);
}

// Driven a step at a time: input in pieces, output handed back as it comes, and the end of
// standard output told apart from the child's outcome.
TEST_F(ProcessTest, RunningProcessExchangesDataAStepAtATime) {
    auto started =
        RunningProcess::start({"sh", "-c", "cat; echo done >&2; exit 3"}, ChildInput::Pipe);
    ASSERT_TRUE(started.has_value());
    RunningProcess& process = *started;
    const std::string piece(300000, 'p');
    ASSERT_TRUE(process.write_input(piece).has_value());
    process.close_input();
    size_t received = 0;
    for (;;) {
        auto output = process.read_output();
        ASSERT_TRUE(output.has_value());
        if (output->empty())
            break;
        received += output->size();
    }
    EXPECT_EQ(received, piece.size());
    auto status = process.finish();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->code, 3);
    EXPECT_EQ(process.error_output(), "done\n");
    expect_no_children();
}

// The caller may put bytes into the child's input itself once it has room, while standard
// error is kept meanwhile; a write of its own that the pipe refuses closes the input, and later
// waits for room fail at once.
TEST_F(ProcessTest, CallersOwnWritesGoIntoTheInputPipeWhenItHasRoom) {
    auto started = RunningProcess::start(
        {"sh", "-c", "head -c 100000 /dev/zero >&2; head -c 300000 >/dev/null"}, ChildInput::Pipe);
    ASSERT_TRUE(started.has_value());
    RunningProcess& process = *started;
    // More than the pipe holds, so that the child's end comes while some are still to go.
    const std::string piece(3 << 20, 'p');
    std::string_view left = piece;
    std::optional<ProcessFailure> refused;
    while (!left.empty()) {
        auto pipe = process.input_room();
        if (!pipe) {
            refused = pipe.error();
            break;
        }
        const ssize_t written = ::write(*pipe, left.data(), left.size());
        if (written < 0) {
            ASSERT_NE(errno, EAGAIN);
            refused = process.input_refused(errno);
            break;
        }
        left.remove_prefix(static_cast<size_t>(written));
    }
    // The child read 300,000 bytes and stopped reading: the rest found no reader.
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->stage, ProcessStage::WriteInput);
    EXPECT_EQ(refused->error_number, EPIPE);
    auto again = process.input_room();
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error().stage, ProcessStage::WriteInput);
    auto status = process.finish();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->success());
    EXPECT_EQ(process.error_output().size(), 64u * 1024);
    expect_no_children();
}

// A run given up part way (its reader went away) ends the child at once and reaps it, and
// standard error kept for the message stays within its limit.
TEST_F(ProcessTest, RunningProcessGivenUpIsKilledAndReaped) {
    const auto begun = std::chrono::steady_clock::now();
    {
        auto started = RunningProcess::start(
            {"sh", "-c", "head -c 200000 /dev/zero >&2; echo first; exec sleep 60"},
            ChildInput::NullDevice);
        ASSERT_TRUE(started.has_value());
        auto output = started->read_output();
        ASSERT_TRUE(output.has_value());
        EXPECT_EQ(*output, "first\n");
        EXPECT_EQ(started->error_output().size(), RunningProcess::error_output_limit);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(30));
    expect_no_children();
}

// A token's descriptor is polled beside the child's streams: the token is asked on each event it
// shows and the run goes on while it says so; it ends at once, with ECONNABORTED, when it says
// stop. Here the descriptor is a socket whose peer first ends its sending side, then goes.
TEST_F(ProcessTest, ACancelTokenEndsTheRunWhenItSaysSo) {
    struct HalfCloseToken final : CancelToken {
        int socket = -1;
        bool listening = false;
        int asked = 0;
        int fd() const override { return socket; }
        short events() const override { return asked == 0 ? POLLRDHUP : 0; }
        bool cancelled(short seen) override {
            if (seen & (POLLHUP | POLLERR))
                return true;
            ++asked;
            return !listening;
        }
    };
    for (bool listening : {true, false}) {
        SCOPED_TRACE(listening ? "still listening" : "gone");
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        auto started = RunningProcess::start({"sh", "-c", "sleep 0.2; echo first; exec sleep 60"},
                                             ChildInput::NullDevice);
        ASSERT_TRUE(started.has_value());
        HalfCloseToken token;
        token.socket = ends[0];
        token.listening = listening;
        started->cancel_with(&token);
        const int& asked = token.asked;
        ::shutdown(ends[1], SHUT_WR);
        auto output = started->read_output();
        if (listening) {
            ASSERT_TRUE(output.has_value());
            EXPECT_EQ(*output, "first\n");
            ::close(ends[1]);
            ends[1] = -1;
            output = started->read_output();
        }
        ASSERT_FALSE(output.has_value());
        EXPECT_EQ(output.error().error_number, ECONNABORTED);
        EXPECT_EQ(asked, 1);
        ::close(ends[0]);
        if (ends[1] >= 0)
            ::close(ends[1]);
    }
    expect_no_children();
}
