#include "ssh/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "base/os_error.h"

extern char** environ;

namespace wrenfield {
namespace {

// Owns one file descriptor and closes it when it goes away.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

struct Pipe {
    FileDescriptor read_end;
    FileDescriptor write_end;
};

// Both ends close on exec, so a child started by another thread meanwhile inherits neither.
std::expected<Pipe, int> make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return std::unexpected(errno);
    return Pipe{FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

// A started child. Unless it was waited for, going away kills and reaps it, so that no path
// out of a run leaves a zombie or a stray process behind.
class ChildProcess {
  public:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (reaped_)
            return;
        ::kill(pid_, SIGKILL);
        int status;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }

    std::expected<ExitStatus, int> wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0) {
            if (errno != EINTR) {
                // ECHILD: the child is gone already; nothing is left to reap.
                reaped_ = errno == ECHILD;
                return std::unexpected(errno);
            }
        }
        reaped_ = true;
        if (WIFSIGNALED(status))
            return ExitStatus{true, WTERMSIG(status)};
        return ExitStatus{false, WEXITSTATUS(status)};
    }

  private:
    pid_t pid_;
    bool reaped_ = false;
};

// Holds the spawn attributes and file actions and releases them on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;

    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// Starts the child with the file actions in `setup`. The program ignores SIGPIPE and ignored
// signals survive exec, so the child gets the default action back, and an empty signal mask
// whatever thread starts it. Returns 0 or the error number.
int spawn(const std::vector<std::string>& arguments, SpawnSetup& setup, pid_t* pid) {
    sigset_t default_signals;
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&setup.attributes, &default_signals);
    sigset_t empty_mask;
    sigemptyset(&empty_mask);
    posix_spawnattr_setsigmask(&setup.attributes, &empty_mask);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return ::posix_spawnp(pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ);
}

std::unexpected<ProcessFailure> failure(ProcessStage stage, int error_number) {
    return std::unexpected(ProcessFailure{stage, error_number});
}

// Reads what is there; false once the stream has ended or failed (`error` says which).
// A buffer for reads, left uninitialised: its pages are touched only as far as reads fill it.
struct ReadBuffer {
    explicit ReadBuffer(size_t size)
        : bytes(std::make_unique_for_overwrite<char[]>(size)), size(size) {}
    char* data() const { return bytes.get(); }
    std::unique_ptr<char[]> bytes;
    size_t size;
};

// Pipes to and from a child carry up to this much, so that a large transfer moves in large
// steps and the child is not held up by every pause of ours (the kernel may give less).
constexpr int large_pipe_size = 1024 * 1024;

void enlarge_pipe(const FileDescriptor& fd) {
    (void)::fcntl(fd.get(), F_SETPIPE_SZ, large_pipe_size);
}

bool read_available(FileDescriptor& fd, const ReadBuffer& buffer,
                    const std::function<void(std::string_view)>& sink, int& error) {
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer.data(), buffer.size);
        if (count > 0) {
            if (sink)
                sink(std::string_view(buffer.data(), static_cast<size_t>(count)));
            return true;
        }
        if (count == 0) {
            fd.reset();
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return true;
        error = errno;
        fd.reset();
        return false;
    }
}

}  // namespace

std::string ProcessFailure::description() const {
    return os_error_text(error_number);
}

void ignore_broken_pipe() {
    ::signal(SIGPIPE, SIG_IGN);
}

// The started child with our ends of its pipes, and one round of exchanging data with it.
struct RunningProcess::Child {
    explicit Child(pid_t pid) : process(pid) {}

    // Declared first, so destroyed last: the pipes are closed before the child is killed.
    ChildProcess process;
    FileDescriptor input;
    FileDescriptor output;
    FileDescriptor error_output;
    ReadBuffer output_buffer{static_cast<size_t>(large_pipe_size)};
    ReadBuffer error_buffer{64 * 1024};
    std::string kept_error_output;
    CancelToken* cancel = nullptr;

    bool outputs_open() const { return output.is_open() || error_output.is_open(); }

    // Waits until a stream is ready, then writes what the input pipe takes of `pending` (only
    // when there is some) and hands what has arrived on the outputs to the sinks. A failed
    // write closes the input and is reported with stage WriteInput; the outputs stay open.
    std::expected<void, ProcessFailure> step(
        std::string_view& pending, const std::function<void(std::string_view)>& on_output,
        const std::function<void(std::string_view)>& on_error) {
        auto ready = wait_round(input.is_open() && !pending.empty(), on_output, on_error);
        if (!ready)
            return std::unexpected(ready.error());
        if (*ready) {
            const ssize_t written = ::write(input.get(), pending.data(), pending.size());
            if (written >= 0) {
                pending.remove_prefix(static_cast<size_t>(written));
            } else if (errno != EINTR && errno != EAGAIN) {
                return std::unexpected(refuse_input(errno));
            }
        }
        return {};
    }

    ProcessFailure refuse_input(int error) {
        input.reset();
        return ProcessFailure{ProcessStage::WriteInput, error};
    }

    // Waits until a stream is ready (the input pipe only when `input_wanted`) and hands what has
    // arrived on the outputs to the sinks; true when the input pipe can take bytes (or has lost
    // its reader, which the write then finds).
    std::expected<bool, ProcessFailure> wait_round(
        bool input_wanted, const std::function<void(std::string_view)>& on_output,
        const std::function<void(std::string_view)>& on_error) {
        pollfd fds[4];
        nfds_t count = 0;
        int output_index = -1, error_index = -1, input_index = -1, cancel_index = -1;
        if (output.is_open()) {
            output_index = static_cast<int>(count);
            fds[count++] = {output.get(), POLLIN, 0};
        }
        if (error_output.is_open()) {
            error_index = static_cast<int>(count);
            fds[count++] = {error_output.get(), POLLIN, 0};
        }
        if (input_wanted) {
            input_index = static_cast<int>(count);
            fds[count++] = {input.get(), POLLOUT, 0};
        }
        if (count == 0)
            return false;
        if (cancel != nullptr && cancel->fd() >= 0) {
            cancel_index = static_cast<int>(count);
            fds[count++] = {cancel->fd(), cancel->events(), 0};
        }
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                return false;
            return failure(ProcessStage::Wait, errno);
        }
        if (cancel_index >= 0 && fds[cancel_index].revents != 0 &&
            cancel->cancelled(fds[cancel_index].revents))
            return failure(ProcessStage::Wait, ECONNABORTED);

        const auto readable = [&](int index) {
            return index >= 0 && (fds[index].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        };
        int read_error = 0;
        if (readable(output_index))
            read_available(output, output_buffer, on_output, read_error);
        if (readable(error_index))
            read_available(error_output, error_buffer, on_error, read_error);
        if (read_error != 0)
            return failure(ProcessStage::Wait, read_error);
        return input_index >= 0 && fds[input_index].revents != 0;
    }

    void keep_error_output(std::string_view piece) {
        const size_t room = error_output_limit - kept_error_output.size();
        kept_error_output.append(piece.substr(0, std::min(room, piece.size())));
    }
};

std::expected<RunningProcess, ProcessFailure> RunningProcess::start(
    const std::vector<std::string>& arguments, ChildInput input) {
    if (arguments.empty())
        return failure(ProcessStage::Start, EINVAL);

    std::optional<Pipe> input_pipe;
    if (input == ChildInput::Pipe) {
        auto made = make_pipe();
        if (!made)
            return failure(ProcessStage::Start, made.error());
        input_pipe = std::move(*made);
    }
    auto output_pipe = make_pipe();
    if (!output_pipe)
        return failure(ProcessStage::Start, output_pipe.error());
    auto error_pipe = make_pipe();
    if (!error_pipe)
        return failure(ProcessStage::Start, error_pipe.error());

    SpawnSetup setup;
    if (input_pipe)
        posix_spawn_file_actions_adddup2(&setup.actions, input_pipe->read_end.get(), 0);
    else
        posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, output_pipe->write_end.get(), 1);
    posix_spawn_file_actions_adddup2(&setup.actions, error_pipe->write_end.get(), 2);

    pid_t pid = 0;
    const int spawn_error = spawn(arguments, setup, &pid);
    if (spawn_error != 0)
        return failure(ProcessStage::Start, spawn_error);
    auto child = std::make_unique<Child>(pid);

    // Only the child keeps these ends; holding them here would hide the end of its streams.
    output_pipe->write_end.reset();
    error_pipe->write_end.reset();
    if (input_pipe) {
        input_pipe->read_end.reset();
        child->input = std::move(input_pipe->write_end);
        // Writes must never block: the child may be waiting for us to read its output.
        ::fcntl(child->input.get(), F_SETFL, ::fcntl(child->input.get(), F_GETFL) | O_NONBLOCK);
    }
    child->output = std::move(output_pipe->read_end);
    enlarge_pipe(child->output);
    if (child->input.is_open())
        enlarge_pipe(child->input);
    child->error_output = std::move(error_pipe->read_end);
    return RunningProcess(std::move(child));
}

RunningProcess::RunningProcess(std::unique_ptr<Child> child) : child_(std::move(child)) {}
RunningProcess::RunningProcess(RunningProcess&&) noexcept = default;
RunningProcess& RunningProcess::operator=(RunningProcess&&) noexcept = default;
RunningProcess::~RunningProcess() = default;

std::expected<void, ProcessFailure> RunningProcess::write_input(std::string_view data) {
    const auto keep_error = [this](std::string_view piece) { child_->keep_error_output(piece); };
    while (!data.empty()) {
        if (!child_->input.is_open())
            return failure(ProcessStage::WriteInput, EPIPE);
        auto stepped = child_->step(data, nullptr, keep_error);
        if (!stepped)
            return std::unexpected(stepped.error());
    }
    return {};
}

std::expected<int, ProcessFailure> RunningProcess::input_room() {
    const auto keep_error = [this](std::string_view piece) { child_->keep_error_output(piece); };
    for (;;) {
        if (!child_->input.is_open())
            return failure(ProcessStage::WriteInput, EPIPE);
        auto ready = child_->wait_round(true, nullptr, keep_error);
        if (!ready)
            return std::unexpected(ready.error());
        if (*ready)
            return child_->input.get();
    }
}

ProcessFailure RunningProcess::input_refused(int error) {
    return child_->refuse_input(error);
}

void RunningProcess::close_input() {
    child_->input.reset();
}

std::expected<std::string_view, ProcessFailure> RunningProcess::read_output() {
    const auto keep_error = [this](std::string_view piece) { child_->keep_error_output(piece); };
    std::string_view received;
    const auto take = [&received](std::string_view piece) { received = piece; };
    std::string_view nothing;
    while (received.empty() && child_->output.is_open()) {
        auto stepped = child_->step(nothing, take, keep_error);
        if (!stepped)
            return std::unexpected(stepped.error());
    }
    return received;
}

std::expected<ExitStatus, ProcessFailure> RunningProcess::finish() {
    close_input();
    const auto keep_error = [this](std::string_view piece) { child_->keep_error_output(piece); };
    std::string_view nothing;
    while (child_->outputs_open()) {
        auto stepped = child_->step(nothing, nullptr, keep_error);
        if (!stepped)
            return std::unexpected(stepped.error());
    }
    auto status = child_->process.wait();
    if (!status)
        return failure(ProcessStage::Wait, status.error());
    return *status;
}

const std::string& RunningProcess::error_output() const {
    return child_->kept_error_output;
}

void RunningProcess::cancel_with(CancelToken* token) {
    child_->cancel = token;
}

std::expected<ExitStatus, ProcessFailure> run_process(const std::vector<std::string>& arguments,
                                                      const ProcessStreams& streams) {
    auto started = RunningProcess::start(
        arguments, streams.next_input ? ChildInput::Pipe : ChildInput::NullDevice);
    if (!started)
        return std::unexpected(started.error());
    RunningProcess::Child& child = *started->child_;
    child.cancel = streams.cancel;

    std::string_view pending;
    int write_error = 0;
    while (child.outputs_open() || child.input.is_open()) {
        if (child.input.is_open() && pending.empty()) {
            pending = streams.next_input();
            if (pending.empty()) {
                child.input.reset();  // end of input: the child sees end of file
                continue;
            }
        }
        auto stepped = child.step(pending, streams.on_output, streams.on_error_output);
        if (stepped)
            continue;
        // After a failed write stop feeding, but go on draining and reap the child below.
        if (stepped.error().stage != ProcessStage::WriteInput)
            return std::unexpected(stepped.error());
        write_error = stepped.error().error_number;
    }

    auto status = child.process.wait();
    if (write_error != 0)
        return failure(ProcessStage::WriteInput, write_error);
    if (!status)
        return failure(ProcessStage::Wait, status.error());
    return *status;
}

std::expected<ExitStatus, ProcessFailure> run_attached(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return failure(ProcessStage::Start, EINVAL);
    SpawnSetup setup;
    pid_t pid = 0;
    const int spawn_error = spawn(arguments, setup, &pid);
    if (spawn_error != 0)
        return failure(ProcessStage::Start, spawn_error);
    ChildProcess child(pid);
    auto status = child.wait();
    if (!status)
        return failure(ProcessStage::Wait, status.error());
    return *status;
}

std::expected<CapturedOutput, ProcessFailure> run_captured(
    const std::vector<std::string>& arguments, std::optional<std::string_view> input,
    CancelToken* cancel) {
    CapturedOutput captured;
    ProcessStreams streams;
    streams.cancel = cancel;
    streams.on_output = [&](std::string_view chunk) { captured.output.append(chunk); };
    streams.on_error_output = [&](std::string_view chunk) { captured.error_output.append(chunk); };
    std::optional<std::string_view> remaining = input;
    if (input) {
        // Hands over all of the input at once; the runner writes it as the pipe takes it.
        streams.next_input = [&remaining]() {
            const std::string_view piece = remaining.value_or(std::string_view());
            remaining.reset();
            return piece;
        };
    }
    auto status = run_process(arguments, streams);
    if (!status)
        return std::unexpected(status.error());
    captured.status = *status;
    return captured;
}

}  // namespace wrenfield
