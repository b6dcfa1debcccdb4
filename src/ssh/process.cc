#include "ssh/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

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

std::unexpected<ProcessFailure> failure(ProcessStage stage, int error_number) {
    return std::unexpected(ProcessFailure{stage, error_number});
}

// Reads what is there; false once the stream has ended or failed (`error` says which).
bool read_available(FileDescriptor& fd, std::string& buffer,
                    const std::function<void(std::string_view)>& sink, int& error) {
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer.data(), buffer.size());
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

std::string os_error_text(int error_number) {
    char buffer[256];
    // The GNU form returns a pointer that may or may not be the buffer.
    const char* text = ::strerror_r(error_number, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(error_number) + ")";
}

std::string ProcessFailure::description() const {
    return os_error_text(error_number);
}

void ignore_broken_pipe() {
    ::signal(SIGPIPE, SIG_IGN);
}

std::expected<ExitStatus, ProcessFailure> run_process(const std::vector<std::string>& arguments,
                                                      const ProcessStreams& streams) {
    if (arguments.empty())
        return failure(ProcessStage::Start, EINVAL);

    std::optional<Pipe> input_pipe;
    if (streams.next_input) {
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

    // The program ignores SIGPIPE and ignored signals survive exec, so the child gets the
    // default action back, and an empty signal mask whatever thread starts it.
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

    pid_t pid = 0;
    const int spawn_error =
        ::posix_spawnp(&pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ);
    if (spawn_error != 0)
        return failure(ProcessStage::Start, spawn_error);
    ChildProcess child(pid);

    // Only the child keeps these ends; holding them here would hide the end of its streams.
    output_pipe->write_end.reset();
    error_pipe->write_end.reset();
    FileDescriptor input;
    if (input_pipe) {
        input_pipe->read_end.reset();
        input = std::move(input_pipe->write_end);
        // Writes must never block: the child may be waiting for us to read its output.
        ::fcntl(input.get(), F_SETFL, ::fcntl(input.get(), F_GETFL) | O_NONBLOCK);
    }
    FileDescriptor output = std::move(output_pipe->read_end);
    FileDescriptor error_output = std::move(error_pipe->read_end);

    std::string buffer(64 * 1024, '\0');
    std::string_view pending;
    int write_error = 0;
    int read_error = 0;
    while (output.is_open() || error_output.is_open() || input.is_open()) {
        pollfd fds[3];
        nfds_t count = 0;
        int output_index = -1, error_index = -1, input_index = -1;
        if (output.is_open()) {
            output_index = static_cast<int>(count);
            fds[count++] = {output.get(), POLLIN, 0};
        }
        if (error_output.is_open()) {
            error_index = static_cast<int>(count);
            fds[count++] = {error_output.get(), POLLIN, 0};
        }
        if (input.is_open()) {
            input_index = static_cast<int>(count);
            fds[count++] = {input.get(), POLLOUT, 0};
        }
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            return failure(ProcessStage::Wait, errno);
        }

        if (input_index >= 0 && fds[input_index].revents != 0) {
            if (pending.empty())
                pending = streams.next_input();
            if (pending.empty()) {
                input.reset();  // end of input: the child sees end of file
            } else {
                const ssize_t written = ::write(input.get(), pending.data(), pending.size());
                if (written >= 0) {
                    pending.remove_prefix(static_cast<size_t>(written));
                } else if (errno != EINTR && errno != EAGAIN) {
                    // Stop feeding, but go on draining and reap the child below.
                    write_error = errno;
                    input.reset();
                }
            }
        }
        const auto readable = [&](int index) {
            return index >= 0 && (fds[index].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        };
        if (readable(output_index))
            read_available(output, buffer, streams.on_output, read_error);
        if (readable(error_index))
            read_available(error_output, buffer, streams.on_error_output, read_error);
        if (read_error != 0)
            return failure(ProcessStage::Wait, read_error);
    }

    auto status = child.wait();
    if (write_error != 0)
        return failure(ProcessStage::WriteInput, write_error);
    if (!status)
        return failure(ProcessStage::Wait, status.error());
    return *status;
}

std::expected<CapturedOutput, ProcessFailure> run_captured(
    const std::vector<std::string>& arguments, std::optional<std::string_view> input) {
    CapturedOutput captured;
    ProcessStreams streams;
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
