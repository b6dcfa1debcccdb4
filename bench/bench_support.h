// What the benchmarks that log into the local sshd as an account of their own share: failing
// with clean-up, commands that must succeed, the account and its key, the bare ssh run and the
// median.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/sshd_fixture.h"

namespace wrenfield::bench {

// What a failure must undo before the program ends (the account, the server, the data).
extern std::function<void()> undo_on_failure;

// Prints the message, runs undo_on_failure once and ends the program with status 1.
[[noreturn]] void fail(const std::string& message);

// Runs the command (no shell) and returns its standard output; any failure ends the program.
std::string checked_output(const std::vector<std::string>& arguments, std::string_view input = {});

// The account's home, made with useradd (shell /bin/sh, which reads no start-up file for a
// command) when missing. Sets `created` when this run made it.
std::string prepare_account(const std::string& account, bool& created);

// The shared local sshd of the tests, logged into as the current account, with HOME and PATH
// pointed at it and no SSH agent; a server that cannot start ends the program.
testing::LocalSshServer& use_shared_server();

// The local sshd of the tests, logged into as an account of the benchmark's own.
struct AccountServer {
    std::string home;              // the account's home
    bool created_account = false;  // made by this run, so to be removed at the end
    std::unique_ptr<testing::LocalSshServer> server;
};

// Checks that the program runs as root, prepares the account and starts the server for it.
AccountServer start_account_server(const std::string& account);

// The account's own authorized_keys, holding the key of the test server's HOME after
// `key_options` (such as a forced command; empty for none).
void authorize_key(const std::string& account, const std::string& home,
                   const testing::LocalSshServer& server, const std::string& key_options = "");

// Runs an ssh argument vector the way a shell would with its output to /dev/null: standard
// output and error read and dropped, `input_size` bytes written to standard input, taken from
// `input_block` over and over. A failed run ends the program.
void run_bare(const std::vector<std::string>& arguments, std::string_view input_block,
              size_t input_size);

double median(std::vector<double> values);

// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM"), or -1.
long status_kib(pid_t pid, const char* field);
// Starts a new peak: VmHWM goes back to the present resident size.
void reset_peak(pid_t pid);

// A TCP connection to the program on 127.0.0.1; failing ends the benchmark.
int connect_to(uint16_t port);
bool send_all(int fd, const char* data, size_t length);

}  // namespace wrenfield::bench
