// Test helpers around the local system: running a command for a check, temporary directories,
// whole-file reads and writes, and environment variables set for a scope.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wrenfield::testing {

struct CommandResult {
    // The exit code, or -1 when the command could not start, was killed by a signal or ran
    // out of time.
    int exit_code = -1;
    int signal = 0;
    bool timed_out = false;
    std::string output;
    std::string error;
};

// Runs the argument vector (no shell; a name without "/" is looked up on PATH), feeding
// `input` to its standard input and collecting both output streams. A command still running
// after `timeout` is killed. `environment_overrides` as for environment_with: "NAME=value"
// sets, a bare "NAME" removes.
CommandResult run_command(const std::vector<std::string>& arguments, std::string_view input = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(120),
                          const std::vector<std::string>& environment_overrides = {});

// A fresh directory under `parent` (by default $TMPDIR or /tmp), removed with everything in
// it on destruction. path() is empty when it could not be made.
class TemporaryDirectory {
  public:
    explicit TemporaryDirectory(std::string_view prefix = "wrenfield-test",
                                std::string_view parent = {});
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative.
    std::string operator/(std::string_view relative) const;

  private:
    std::string path_;
};

// A listening Unix socket at `path`, as an ssh master makes one; closed and removed again on
// destruction.
class ListeningSocket {
  public:
    explicit ListeningSocket(const std::string& path);
    ~ListeningSocket();
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;

    bool bound() const { return bound_; }
    // Whether a client has connected since (its connection waits to be accepted).
    bool was_connected_to() const;

  private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

// The file's status, not following a final symbolic link (all zero when it is missing).
struct stat status_of(const std::string& path);
// The value of one extended attribute of the file, or nothing.
std::optional<std::string> attribute(const std::string& path, const std::string& name);
// `length` bytes of a pattern that differs with `seed` and does not repeat within a page.
std::string pattern(size_t length, char seed);

// Writes the bytes, creating missing parent directories. False on any failure.
bool write_file(const std::string& path, std::string_view content);
std::optional<std::string> read_file(const std::string& path);

// Sets or (with nullopt) removes an environment variable and puts the old value back on
// destruction.
class ScopedEnvironmentVariable {
  public:
    ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace wrenfield::testing
