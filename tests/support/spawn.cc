#include "support/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace wrenfield::testing {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

namespace {

std::string system_message(const char* what, int error_number) {
    return std::string(what) + ": " + std::strerror(error_number);
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::expected<std::pair<UniqueFd, UniqueFd>, std::string> make_pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::unexpected(system_message("pipe", errno));
    return std::pair{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

// The spawn attributes and file actions, destroyed on every path.
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
};

}  // namespace

std::expected<SpawnedProcess, std::string> spawn_process(
    const std::vector<std::string>& arguments,
    const std::optional<std::vector<std::string>>& environment, ChildInput standard_input) {
    if (arguments.empty())
        return std::unexpected(std::string("no program to run"));
    auto output = make_pipe();
    auto error = make_pipe();
    if (!output || !error)
        return std::unexpected(!output ? output.error() : error.error());
    std::optional<std::pair<UniqueFd, UniqueFd>> input;
    if (standard_input == ChildInput::Pipe) {
        auto made = make_pipe();
        if (!made)
            return std::unexpected(made.error());
        input = std::move(*made);
    }

    SpawnSetup setup;
    if (input)
        posix_spawn_file_actions_adddup2(&setup.actions, input->first.get(), STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, output->second.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, error->second.get(), STDERR_FILENO);

    sigset_t default_signals;
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);
    sigset_t no_signals;
    sigemptyset(&no_signals);
    posix_spawnattr_setsigdefault(&setup.attributes, &default_signals);
    posix_spawnattr_setsigmask(&setup.attributes, &no_signals);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argument_copy = arguments;
    auto argument_pointers = pointers_to(argument_copy);
    std::vector<std::string> environment_copy;
    std::vector<char*> environment_pointers;
    if (environment) {
        environment_copy = *environment;
        environment_pointers = pointers_to(environment_copy);
    }

    pid_t pid = -1;
    int result =
        posix_spawnp(&pid, argument_pointers[0], &setup.actions, &setup.attributes,
                     argument_pointers.data(), environment ? environment_pointers.data() : environ);
    if (result != 0)
        return std::unexpected(system_message(arguments[0].c_str(), result));

    SpawnedProcess process;
    process.pid = pid;
    process.output = std::move(output->first);
    process.error = std::move(error->first);
    if (input)
        process.input = std::move(input->second);
    return process;
}

std::vector<std::string> environment_with(const std::vector<std::string>& overrides) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry)
        result.emplace_back(*entry);
    for (const auto& override_entry : overrides) {
        auto equals = override_entry.find('=');
        std::string name = override_entry.substr(0, equals);
        std::erase_if(result, [&](const std::string& existing) {
            return existing.size() > name.size() && existing.compare(0, name.size(), name) == 0 &&
                   existing[name.size()] == '=';
        });
        if (equals != std::string::npos)
            result.push_back(override_entry);
    }
    return result;
}

ChildExit decode_wait_status(int status) {
    if (WIFEXITED(status))
        return ChildExit{WEXITSTATUS(status), 0};
    if (WIFSIGNALED(status))
        return ChildExit{-1, WTERMSIG(status)};
    return ChildExit{};
}

}  // namespace wrenfield::testing
