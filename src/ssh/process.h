// The one runner for every child process: an argument vector started without a shell, its
// standard input fed from the caller or the null device, its two output streams read side by
// side, and the child always reaped.
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wrenfield {

// How a child ended: a normal exit with its status, or the signal that ended it.
struct ExitStatus {
    bool signaled = false;
    // The exit status, or the signal number when `signaled`.
    int code = 0;

    bool success() const { return !signaled && code == 0; }
};

// The step at which a run broke down before the child's outcome was known.
enum class ProcessStage {
    Start,       // the child could not be started
    WriteInput,  // writing its standard input failed (the child was still reaped)
    Wait,        // its output or its exit could not be collected
};

struct ProcessFailure {
    ProcessStage stage = ProcessStage::Start;
    int error_number = 0;

    // The operating system's text for the error, then " (os error N)".
    std::string description() const;
};

// Tells a run, while it waits for its child, that its result is no longer wanted. The run
// polls the token's descriptor for its events beside the child's streams (a hang-up or an error
// is reported whatever the events) and, when it shows any, asks the token on the waiting thread
// whether the run is to stop. What the descriptor stands for is its owner's business; a hang-up
// or an error keeps showing, so the token ends the run on one. The token stays its owner's and
// outlives the runs it is given to.
class CancelToken {
  public:
    virtual ~CancelToken() = default;
    // The descriptor to poll (-1: none) and the events to poll it for, asked before each wait.
    virtual int fd() const = 0;
    virtual short events() const = 0;
    // Whether the run is to stop, given the events the descriptor showed.
    virtual bool cancelled(short seen) = 0;
};

// The callbacks through which a run exchanges data with its child. Each is optional.
struct ProcessStreams {
    // Supplies the child's standard input one piece at a time; an empty piece ends it. The
    // returned view must stay valid until the next call. Without it the child reads the null
    // device.
    std::function<std::string_view()> next_input;
    // Receive the child's standard output and standard error as they arrive.
    std::function<void(std::string_view)> on_output;
    std::function<void(std::string_view)> on_error_output;
    // Stops the run (stage Wait, ECONNABORTED) once it says so; see CancelToken.
    CancelToken* cancel = nullptr;
};

// Starts `arguments[0]` (looked up on PATH) with the rest as its arguments, exchanges data
// through `streams` until both output streams end, and reaps the child.
std::expected<ExitStatus, ProcessFailure> run_process(const std::vector<std::string>& arguments,
                                                      const ProcessStreams& streams);

// Where a child's standard input comes from.
enum class ChildInput {
    NullDevice,  // it reads nothing
    Pipe,        // the caller feeds it
};

// A child whose streams its caller drives a step at a time: input handed over in pieces, output
// passed on as it arrives, so that no more than one buffer of either is held here whatever the
// amount of data. Standard error is kept, up to `error_output_limit` bytes, for the message of a
// failure. Going away before finish() kills the child, and it is always reaped.
class RunningProcess {
  public:
    static constexpr size_t error_output_limit = 64 * 1024;

    // Starts `arguments[0]` (looked up on PATH). With ChildInput::Pipe its standard input is
    // fed by write_input().
    static std::expected<RunningProcess, ProcessFailure> start(
        const std::vector<std::string>& arguments, ChildInput input);

    RunningProcess(RunningProcess&&) noexcept;
    RunningProcess& operator=(RunningProcess&&) noexcept;
    ~RunningProcess();

    // Writes all of `data` to standard input; standard output that arrives meanwhile is
    // dropped. Fails (stage WriteInput) when the child no longer reads; its input is closed
    // then.
    std::expected<void, ProcessFailure> write_input(std::string_view data);
    // Waits until standard input can take bytes (standard output that arrives meanwhile is
    // dropped) and returns its pipe, non-blocking, for the caller to put bytes into itself (by
    // splice, say). Fails (stage WriteInput) when the child no longer reads.
    std::expected<int, ProcessFailure> input_room();
    // The caller's own write into the input pipe failed with `error`: the input is closed, and
    // the failure (stage WriteInput) is returned.
    ProcessFailure input_refused(int error);
    // The child sees the end of its input.
    void close_input();
    // Waits for the next bytes of standard output and returns them, valid until the next call;
    // empty once standard output has ended.
    std::expected<std::string_view, ProcessFailure> read_output();
    // Closes standard input, reads both outputs to their end (standard output is dropped) and
    // reaps the child.
    std::expected<ExitStatus, ProcessFailure> finish();

    // Standard error so far, at most `error_output_limit` bytes of it.
    const std::string& error_output() const;

    // From now on read_output() and finish() give up (stage Wait, ECONNABORTED) as soon as
    // `token` says so: no one waits for this run any more. Null: nothing stops the run.
    void cancel_with(CancelToken* token);

  private:
    friend std::expected<ExitStatus, ProcessFailure> run_process(
        const std::vector<std::string>& arguments, const ProcessStreams& streams);
    struct Child;
    explicit RunningProcess(std::unique_ptr<Child> child);
    std::unique_ptr<Child> child_;
};

struct CapturedOutput {
    ExitStatus status;
    std::string output;
    std::string error_output;
};

// Runs a child to its end with both outputs collected whole. With `input` the child's
// standard input is a pipe holding exactly those bytes; without it the null device. With a
// `cancel` token the run stops once it says so.
std::expected<CapturedOutput, ProcessFailure> run_captured(
    const std::vector<std::string>& arguments, std::optional<std::string_view> input = std::nullopt,
    CancelToken* cancel = nullptr);

// Starts `arguments[0]` (looked up on PATH) on our own standard input, output and error, and
// waits for it to end. For a program whose output is the user's to see, and whose background
// children may keep those streams open long after it has returned.
std::expected<ExitStatus, ProcessFailure> run_attached(const std::vector<std::string>& arguments);

// Makes a write to a closed pipe or socket fail with an error instead of ending the program.
// Called once at start-up; children still start with the default action.
void ignore_broken_pipe();

}  // namespace wrenfield
