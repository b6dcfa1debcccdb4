// Starting child processes for the test helpers: owned descriptors and one spawn function.
#pragma once

#include <sys/types.h>

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "ssh/process.h"

namespace wrenfield::testing {

// Closes the descriptor it holds.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

struct SpawnedProcess {
    pid_t pid = -1;
    UniqueFd input;  // Only with ChildInput::Pipe; otherwise the child reads /dev/null.
    UniqueFd output;
    UniqueFd error;
};

// Starts the argument vector with posix_spawnp: standard output and error on pipes, the
// broken-pipe signal back to its default. `environment` holds "NAME=value" entries; without it
// the child inherits ours. The error is the system's message.
std::expected<SpawnedProcess, std::string> spawn_process(
    const std::vector<std::string>& arguments,
    const std::optional<std::vector<std::string>>& environment, ChildInput standard_input);

// Our environment with `overrides` applied: "NAME=value" replaces or adds, a bare "NAME"
// removes.
std::vector<std::string> environment_with(const std::vector<std::string>& overrides);

struct ChildExit {
    int exit_code = -1;  // -1 when a signal ended the process.
    int signal = 0;
};

ChildExit decode_wait_status(int status);

}  // namespace wrenfield::testing
