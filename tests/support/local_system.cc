#include "support/local_system.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/spawn.h"

namespace wrenfield::testing {

namespace {

using Clock = std::chrono::steady_clock;

// Reads what is there into `sink`; false once the stream has ended.
bool drain(int fd, std::string& sink) {
    char buffer[65536];
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
        sink.append(buffer, static_cast<size_t>(count));
        return true;
    }
    return count < 0 && (errno == EINTR || errno == EAGAIN);
}

}  // namespace

CommandResult run_command(const std::vector<std::string>& arguments, std::string_view input,
                          std::chrono::milliseconds timeout,
                          const std::vector<std::string>& environment_overrides) {
    // A command that stops reading early must not take the test program down with it.
    ::signal(SIGPIPE, SIG_IGN);

    CommandResult result;
    std::optional<std::vector<std::string>> environment;
    if (!environment_overrides.empty())
        environment = environment_with(environment_overrides);
    auto spawned = spawn_process(arguments, environment,
                                 input.empty() ? ChildInput::NullDevice : ChildInput::Pipe);
    if (!spawned) {
        result.error = spawned.error();
        return result;
    }
    SpawnedProcess& process = *spawned;
    if (process.input)
        ::fcntl(process.input.get(), F_SETFL, O_NONBLOCK);

    auto deadline = Clock::now() + timeout;
    size_t written = 0;
    while (process.output || process.error || process.input) {
        auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining.count() <= 0) {
            result.timed_out = true;
            ::kill(process.pid, SIGKILL);
            break;
        }
        pollfd watched[3];
        int count = 0;
        if (process.output)
            watched[count++] = {process.output.get(), POLLIN, 0};
        if (process.error)
            watched[count++] = {process.error.get(), POLLIN, 0};
        if (process.input)
            watched[count++] = {process.input.get(), POLLOUT, 0};
        int ready = ::poll(watched, count, static_cast<int>(remaining.count()));
        if (ready < 0 && errno != EINTR)
            break;
        for (int index = 0; index < count; ++index) {
            if (watched[index].revents == 0)
                continue;
            int fd = watched[index].fd;
            if (fd == process.output.get() && !drain(fd, result.output)) {
                process.output.reset();
            } else if (fd == process.error.get() && !drain(fd, result.error)) {
                process.error.reset();
            } else if (fd == process.input.get()) {
                ssize_t sent = ::write(fd, input.data() + written, input.size() - written);
                if (sent > 0)
                    written += static_cast<size_t>(sent);
                if ((sent < 0 && errno != EINTR && errno != EAGAIN) || written == input.size())
                    process.input.reset();
            }
        }
    }

    int status = 0;
    while (::waitpid(process.pid, &status, 0) < 0 && errno == EINTR) {
    }
    ChildExit exit = decode_wait_status(status);
    result.exit_code = result.timed_out ? -1 : exit.exit_code;
    result.signal = exit.signal;
    return result;
}

TemporaryDirectory::TemporaryDirectory(std::string_view prefix, std::string_view parent) {
    std::string base(parent);
    if (base.empty()) {
        const char* variable = std::getenv("TMPDIR");
        base = variable != nullptr && *variable != '\0' ? variable : "/tmp";
    }
    std::string pattern = base + "/" + std::string(prefix) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr)
        path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    if (path_.empty())
        return;
    std::error_code ignored;
    // Tests make read-only directories; give write access back so that everything goes.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string TemporaryDirectory::operator/(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

bool write_file(const std::string& path, std::string_view content) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(file.flush());
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str()))
        previous_ = old;
    if (value)
        ::setenv(name_.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
    if (previous_)
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

struct stat status_of(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status;
}

std::optional<std::string> attribute(const std::string& path, const std::string& name) {
    char value[4096];
    const ssize_t length = ::getxattr(path.c_str(), name.c_str(), value, sizeof value);
    if (length < 0)
        return std::nullopt;
    return std::string(value, static_cast<size_t>(length));
}

std::string pattern(size_t length, char seed) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(seed + i * 7 + (i >> 10));
    return bytes;
}

ListeningSocket::ListeningSocket(const std::string& path)
    : path_(path), fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd_ < 0 || path.size() >= sizeof address.sun_path)
        return;
    path.copy(address.sun_path, path.size());
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             ::listen(fd_, 8) == 0;
}

ListeningSocket::~ListeningSocket() {
    if (fd_ >= 0)
        ::close(fd_);
    if (bound_)
        ::unlink(path_.c_str());
}

bool ListeningSocket::was_connected_to() const {
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

}  // namespace wrenfield::testing
