// Measures each remote operation beside the bare `ssh` run of the same remote program through
// the same master connection, and the peak memory of the 100 MiB download and write.
//
// Runs as root: it makes a test account with a plain shell start-up (so that no start-up file
// hides our own cost), starts the local sshd of the tests for it and removes both at the end.
// The exact ssh argument vector of each operation is recorded once through a wrapper on PATH
// and replayed for the bare run, so both sides run the same remote program the same way.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "ssh/connection.h"
#include "ssh/remote.h"
#include "support/local_system.h"
#include "support/spawn.h"
#include "support/sshd_fixture.h"

namespace {

using namespace wrenfield;
using namespace wrenfield::testing;
using namespace wrenfield::bench;
using Clock = std::chrono::steady_clock;

constexpr const char* account = "wrenfield-bench";
constexpr size_t big_file_size = 100u << 20;
constexpr const char* end_of_call = "--end-of-call--";

// Directories of 1,000 / 10,000 / 100,000 files and a 100 MiB text file, owned by the account.
void make_data(const std::string& root) {
    checked_output({"python3", "-c", R"(
import os, random, sys
root = sys.argv[1]
os.makedirs(root, exist_ok=True)
for count in (1000, 10000, 100000):
    directory = os.path.join(root, "list-%d" % count)
    os.mkdir(directory)
    for index in range(count):
        # A tenth are directories, some hidden, names of mixed case: a listing's usual work.
        name = ("." if index % 50 == 0 else "") + ("Entry" if index % 2 else "entry") + "-%06d" % index
        path = os.path.join(directory, name)
        if index % 10 == 0:
            os.mkdir(path)
        else:
            with open(path, "wb") as handle:
                handle.write(b"x" * (index % 100))
random.seed(1)
line = "".join(random.choice("abcdefghijklmnopqrstuvwxyz ") for _ in range(1023)) + "\n"
with open(os.path.join(root, "big.txt"), "w") as handle:
    for _ in range(100 * 1024):
        handle.write(line)
)",
                    root});
    checked_output({"chown", "-R", std::string(account) + ":", root});
}

// Reads back the argument vectors that the recording wrapper appended to `file`.
std::vector<std::vector<std::string>> recorded_calls(const std::string& file) {
    std::vector<std::vector<std::string>> calls(1);
    std::string text = read_file(file).value_or("");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\0', start);
        std::string argument = text.substr(start, end - start);
        start = end + 1;
        if (argument == end_of_call) {
            calls.emplace_back();
        } else {
            calls.back().push_back(argument);
        }
    }
    calls.pop_back();
    return calls;
}

struct Row {
    std::string name;
    double ours_ms = 0;
    double bare_ms = 0;
    int repetitions = 0;
};

double milliseconds_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class Bench {
  public:
    Bench(const LocalSshServer& server, std::string record_directory)
        : server_(server), record_directory_(std::move(record_directory)) {
        std::string wrapper = record_directory_ + "/ssh";
        write_file(wrapper, "#!/bin/sh\n{ printf '%s\\0' \"$@\"; printf '%s\\0' '" +
                                std::string(end_of_call) + "'; } >> \"" + record_directory_ +
                                "/calls\"\nexec '" + server.directory() + "/bin/ssh' \"$@\"\n");
        ::chmod(wrapper.c_str(), 0755);
    }

    // Records the operation's ssh calls once, then times it and the bare replay of those
    // calls in turn, `repetitions` times each.
    void measure(const std::string& name, int repetitions, const std::function<void()>& operation,
                 std::string_view input = {}) {
        std::string calls_file = record_directory_ + "/calls";
        std::filesystem::remove(calls_file);
        {
            ScopedEnvironmentVariable path("PATH", record_directory_ + ":" + server_.path());
            operation();
        }
        auto calls = recorded_calls(calls_file);
        if (calls.empty())
            fail(name + ": the operation ran no ssh");
        std::vector<double> ours;
        std::vector<double> bare;
        for (int round = 0; round < repetitions; ++round) {
            // Alternate which side goes first, so that neither always meets a warmer cache.
            for (int side = 0; side < 2; ++side) {
                bool run_ours = (round + side) % 2 == 0;
                auto start = Clock::now();
                if (run_ours) {
                    operation();
                    ours.push_back(milliseconds_since(start));
                } else {
                    for (auto call : calls) {
                        call.insert(call.begin(), "ssh");
                        run_bare(call, input, input.size());
                    }
                    bare.push_back(milliseconds_since(start));
                }
            }
        }
        Row row{name, median(ours), median(bare), repetitions};
        std::printf("| %s | %.1f | %.1f | %.3f |\n", row.name.c_str(), row.ours_ms, row.bare_ms,
                    row.ours_ms / row.bare_ms);
        std::fflush(stdout);
        rows_.push_back(row);
    }

  private:
    const LocalSshServer& server_;
    std::string record_directory_;
    std::vector<Row> rows_;
};

template <typename T>
T expect_value(std::expected<T, Error> result, const std::string& what) {
    if (!result)
        fail(what + ": " + result.error());
    return std::move(*result);
}

FileContent expect_value(std::expected<FileContent, ReadError> result, const std::string& what) {
    if (!result)
        fail(what + ": " +
             (result.error().code == ReadError::Code::TooLarge ? std::string("over the bound")
                                                               : result.error().message));
    return std::move(*result);
}

long peak_resident_kib() {
    auto status = read_file("/proc/self/status").value_or("");
    auto at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

long resident_kib() {
    auto status = read_file("/proc/self/status").value_or("");
    auto at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

// Child mode: one download or write of the big file in a fresh process, then its peak memory.
// Leaves with _exit so that the shared master connection stays for the parent.
int measure_memory(const std::string& operation, const std::string& host, const std::string& path) {
    SshConnection connection = SshConnection::create(host);
    std::string data;
    if (operation == "write")
        data.assign(big_file_size, 'w');
    long before = resident_kib();
    bool ok = false;
    if (operation == "download") {
        auto content = remote_download(connection, path);
        ok = content && content->size() == big_file_size;
    } else {
        ok = remote_write_file(connection, path, data).has_value();
    }
    std::printf("%s %ld %ld\n", ok ? "ok" : "failed", before, peak_resident_kib());
    std::fflush(stdout);
    ::_exit(ok ? 0 : 1);
}

void report_memory(const std::string& self, const std::string& operation, const std::string& host,
                   const std::string& path) {
    std::string output = checked_output({self, "--memory", operation, host, path});
    char verdict[16] = {};
    long before = 0;
    long peak = 0;
    if (std::sscanf(output.c_str(), "%15s %ld %ld", verdict, &before, &peak) != 3 ||
        std::strcmp(verdict, "ok") != 0) {
        fail("memory run of " + operation + " failed: " + output);
    }
    std::printf("| %s of 100 MiB | %.1f | %.1f | %.1f |\n", operation.c_str(), peak / 1024.0,
                before / 1024.0, (peak - before) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    if (argc == 5 && std::string(argv[1]) == "--memory")
        return measure_memory(argv[2], argv[3], argv[4]);
    bool quick = argc == 2 && std::string(argv[1]) == "--quick";
    AccountServer started = start_account_server(account);
    const std::string& account_home = started.home;
    const bool created_account = started.created_account;
    auto& server = started.server;
    std::string data = account_home + "/bench-data";
    undo_on_failure = [&] {
        std::filesystem::remove_all(data);
        server->stop();
        if (created_account)
            run_command({"userdel", "--remove", account});
    };
    authorize_key(account, account_home, *server);
    std::filesystem::remove_all(data);
    make_data(data);

    ScopedEnvironmentVariable home("HOME", server->home());
    ScopedEnvironmentVariable path("PATH", server->path());
    ScopedEnvironmentVariable agent("SSH_AUTH_SOCK", std::nullopt);
    TemporaryDirectory record_directory("wrenfield-bench-record");

    {
        SshConnection connection = SshConnection::create(server->host_alias());
        ConnectResult probe = expect_value(connect_probe(connection), "connect_probe");
        std::printf("Logged in as %s (home %s, %s, python3 %s)\n\n", probe.user.c_str(),
                    probe.home_dir.c_str(), probe.remote_os.c_str(),
                    probe.has_python ? "present" : "missing");
        std::printf("| operation | ours (ms) | bare ssh (ms) | ratio |\n|---|---:|---:|---:|\n");

        int scale = quick ? 1 : 3;
        Bench bench(*server, record_directory.path());
        bench.measure("probe", 10 * scale,
                      [&] { expect_value(connect_probe(connection), "connect_probe"); });
        for (int count : {1000, 10000, 100000}) {
            std::string directory = data + "/list-" + std::to_string(count);
            int repetitions = count == 100000 ? 2 * scale : count == 10000 ? 4 * scale : 10 * scale;
            bench.measure("listing of " + std::to_string(count) + " entries", repetitions, [&] {
                auto items = expect_value(list_remote_dir(connection, directory), "listing");
                if (items.size() != static_cast<size_t>(count))
                    fail("listing returned " + std::to_string(items.size()) + " entries");
            });
        }
        std::string big = data + "/big.txt";
        bench.measure("read of 100 MiB", 2 * scale, [&] {
            auto content = expect_value(read_remote_file(connection, big), "read");
            if (content.size != big_file_size || content.is_binary)
                fail("read returned the wrong content");
        });
        bench.measure("download of 100 MiB", 2 * scale, [&] {
            auto content = expect_value(remote_download(connection, big), "download");
            if (content.size() != big_file_size)
                fail("download returned " + std::to_string(content.size()) + " bytes");
        });
        std::string written = data + "/written.bin";
        std::string payload(big_file_size, 'w');
        bench.measure(
            "write of 100 MiB", 2 * scale,
            [&] {
                auto result = remote_write_file(connection, written, payload);
                if (!result)
                    fail("write: " + result.error());
            },
            payload);
        if (std::filesystem::file_size(written) != big_file_size)
            fail("the written file has the wrong size");

        std::printf("\n| peak memory | peak (MiB) | before the operation (MiB) | added (MiB) |\n");
        std::printf("|---|---:|---:|---:|\n");
        report_memory("/proc/self/exe", "download", server->host_alias(), big);
        report_memory("/proc/self/exe", "write", server->host_alias(), written);
    }

    std::exchange(undo_on_failure, nullptr)();
    return 0;
}
