// Runs build/wrenfield (or a stand-in) as a child process for whole-program tests, and a small
// HTTP client to talk to it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/spawn.h"

namespace wrenfield::testing {

// The program under test, started at construction; killed (SIGTERM, then SIGKILL) and reaped on
// destruction. Its standard input is /dev/null; both output streams are collected in the
// background as they come.
class LaunchedProgram {
  public:
    struct Options {
        std::vector<std::string> arguments;
        // Applied to our own environment (which a SshServerTest has already pointed at the
        // server): "NAME=value" sets, a bare "NAME" removes.
        std::vector<std::string> environment;
        std::string binary = WRENFIELD_BIN;
    };

    explicit LaunchedProgram(Options options);
    explicit LaunchedProgram(std::vector<std::string> arguments)
        : LaunchedProgram(Options{std::move(arguments), {}, WRENFIELD_BIN}) {}
    ~LaunchedProgram();
    LaunchedProgram(const LaunchedProgram&) = delete;
    LaunchedProgram& operator=(const LaunchedProgram&) = delete;

    // Empty when the process started; otherwise the system's reason.
    const std::string& start_error() const { return start_error_; }
    pid_t pid() const { return pid_; }

    // Waits for "Wrenfield started at: http://127.0.0.1:PORT" on standard output and returns
    // the address. Fails when the program ends first or the time runs out; the error holds
    // what the program wrote.
    std::expected<std::string, std::string> wait_for_start(
        std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Known after wait_for_start succeeded.
    const std::string& url() const { return url_; }
    uint16_t port() const { return port_; }

    // Waits until `text` has appeared on standard output (or standard error).
    bool wait_for_output(const std::string& text,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool wait_for_error_output(const std::string& text,
                               std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // What the program has written so far.
    std::string output() const;
    std::string error_output() const;

    // Waits for the process to end and returns how it ended; nullopt when it is still
    // running after `timeout`. Once it has ended, the output streams have been read to their
    // end (or for at most a second longer, when a child of the program holds them open).
    std::optional<ChildExit> wait_exit(
        std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // Sends a signal to the program (only while it has not been reaped).
    void send_signal(int signal);

  private:
    void read_streams();
    bool wait_for(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    void finish_reading(std::chrono::milliseconds grace);

    std::string start_error_;
    pid_t pid_ = -1;
    std::optional<ChildExit> exit_status_;
    std::string url_;
    uint16_t port_ = 0;

    UniqueFd output_fd_;
    UniqueFd error_fd_;
    UniqueFd wake_read_;
    UniqueFd wake_write_;
    std::thread reader_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    std::string error_output_;
    bool streams_closed_ = false;
};

struct HttpReply {
    int status = 0;  // 0 when no reply came; then `error` says why.
    std::multimap<std::string, std::string> headers;
    std::string body;
    std::string error;

    // The first value of a header (names compared without regard to case), or "".
    std::string header(const std::string& name) const;
};

// One request to 127.0.0.1:port. `headers` are added to the client's own (Host and the like).
HttpReply http_request(uint16_t port, const std::string& method, const std::string& path,
                       const std::string& body = "", const std::string& content_type = "",
                       const std::multimap<std::string, std::string>& headers = {});
HttpReply http_get(uint16_t port, const std::string& path,
                   const std::multimap<std::string, std::string>& headers = {});
// Posts `json` as application/json.
HttpReply http_post_json(uint16_t port, const std::string& path, const std::string& json,
                         const std::multimap<std::string, std::string>& headers = {});

}  // namespace wrenfield::testing
