// Lists folders of 100,000 and 1,000,000 entries through the real program (build/wrenfield in
// browser mode, or the binary given with --program): the time to the reply's first byte and to
// its end, and the program's peak memory, beside `ls -la` and the listing program run by hand
// through the same master connection.
//
// Runs as root: it logs into the tests' local sshd as an account of its own (whose shell reads
// no start-up file). The folders are made once, under --data, and kept for later runs.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "base/base64.h"
#include "bench_support.h"
#include "ssh/connection.h"
#include "ssh/remote_programs.h"
#include "support/local_system.h"
#include "support/program_launcher.h"
#include "support/sshd_fixture.h"

namespace {

using namespace wrenfield;
using namespace wrenfield::testing;
using namespace wrenfield::bench;
using Clock = std::chrono::steady_clock;

constexpr const char* account = "wrenfield-listing";

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Makes `folder` with `count` entries unless an earlier run made it: a tenth of them folders,
// one in fifty hidden, names in mixed case, some outside ASCII, in no sorted order.
void make_folder(const std::string& folder, long count) {
    if (std::filesystem::exists(folder + ".done"))
        return;
    std::filesystem::remove_all(folder);
    const auto started = Clock::now();
    checked_output({"python3", "-c",
                    "import os, sys\n"
                    "os.mkdir(sys.argv[1])\n"
                    "os.chdir(sys.argv[1])\n"
                    "words = ('entry', 'Entry', 'ENTRY', '\u00e9t\u00e9', 'Report', 'data')\n"
                    "for i in range(int(sys.argv[2])):\n"
                    "    name = '%s%s-%08x-%07d' % ('.' if i % 50 == 7 else '', words[i % 6],\n"
                    "                               (i * 2654435761) & 0xffffffff, i)\n"
                    "    if i % 10 == 0:\n"
                    "        os.mkdir(name)\n"
                    "    else:\n"
                    "        os.close(os.open(name, os.O_CREAT | os.O_WRONLY, 0o644))\n",
                    folder, std::to_string(count)});
    if (!write_file(folder + ".done", ""))
        fail("cannot mark " + folder + " as made");
    std::fprintf(stderr, "made %ld entries in %.1f s\n", count, seconds_since(started));
}

struct Listed {
    double first_byte = 0;  // seconds to the reply's first byte
    double total = 0;       // seconds to its end
    size_t body = 0;        // bytes of the body
};

// GET /api/list of `folder` on a new connection; the body (chunked, or whole with its length) is
// taken apart and counted, and must come whole and end with "]".
Listed our_listing(uint16_t port, const std::string& folder) {
    Listed listed;
    const auto start = Clock::now();
    const int fd = connect_to(port);
    const std::string request =
        "GET /api/list?path=" + httplib::detail::encode_query_param(folder) +
        " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n\r\n";
    if (!send_all(fd, request.data(), request.size()))
        fail("cannot send the request");
    std::string buffer(1 << 20, '\0');
    std::string pending;  // what has come and is not taken apart yet
    bool in_head = true;
    size_t chunk_left = 0;
    bool whole = false;  // sent with Content-Length rather than in chunks
    bool complete = false;
    char last = 0;
    while (!complete) {
        const ssize_t count = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (count <= 0)
            break;
        if (listed.first_byte == 0)
            listed.first_byte = seconds_since(start);
        pending.append(buffer.data(), static_cast<size_t>(count));
        size_t at = 0;
        for (;;) {
            if (in_head) {
                const size_t end = pending.find("\r\n\r\n");
                if (end == std::string::npos)
                    break;
                if (!pending.starts_with("HTTP/1.1 200"))
                    fail("the listing failed: " + pending.substr(0, 300));
                at = end + 4;
                in_head = false;
                // A reply sent whole gives its length; the body is then one chunk.
                const std::string head = pending.substr(0, end);
                if (const size_t length = head.find("Content-Length: ");
                    length != std::string::npos) {
                    chunk_left = std::strtoul(head.c_str() + length + 16, nullptr, 10);
                    whole = true;
                }
            } else if (chunk_left > 0) {
                const size_t take = std::min(chunk_left, pending.size() - at);
                if (take == 0)
                    break;
                listed.body += take;
                last = pending[at + take - 1];
                chunk_left -= take;
                at += take;
                complete = whole && chunk_left == 0;
            } else if (whole) {
                break;
            } else {
                // The line end of the chunk before, then the size line.
                const size_t line_end = pending.find("\r\n", at == 0 ? 0 : at);
                if (line_end == std::string::npos)
                    break;
                if (line_end == at) {
                    at += 2;
                    continue;
                }
                chunk_left = std::strtoul(pending.c_str() + at, nullptr, 16);
                at = line_end + 2;
                if (chunk_left == 0) {
                    complete = true;
                    break;
                }
            }
        }
        pending.erase(0, at);
    }
    ::close(fd);
    listed.total = seconds_since(start);
    if (!complete || last != ']')
        fail("the listing's reply was cut short");
    return listed;
}

double bare_run(std::vector<std::string> command, std::string remote_command) {
    command.push_back(std::move(remote_command));
    const auto start = Clock::now();
    run_bare(command, {}, 0);
    return seconds_since(start);
}

std::string fill(std::string_view program, const std::string& folder) {
    return remote_programs::fill_program(program, {base64_encode(folder)});
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    std::string binary = WRENFIELD_BIN;
    std::string data = "/var/tmp/wrenfield-listing-bench";
    std::optional<std::string> list_program;
    std::vector<long> sizes = {100000, 1000000};
    int rounds = 3;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--program" && index + 1 < argc) {
            binary = argv[++index];
        } else if (argument == "--list-program" && index + 1 < argc) {
            // The listing program run by hand, as the program measured embeds it.
            list_program = read_file(argv[++index]);
            if (!list_program)
                fail("cannot read the listing program");
            *list_program = "python3 -c \"\n" + *list_program + "\"";
        } else if (argument == "--data" && index + 1 < argc) {
            data = argv[++index];
        } else if (argument == "--rounds" && index + 1 < argc) {
            rounds = std::atoi(argv[++index]);
        } else if (argument == "--sizes" && index + 1 < argc) {
            sizes.clear();
            for (std::string_view list = argv[++index]; !list.empty();) {
                const size_t comma = std::min(list.find(','), list.size());
                sizes.push_back(
                    std::strtol(std::string(list.substr(0, comma)).c_str(), nullptr, 10));
                list.remove_prefix(std::min(comma + 1, list.size()));
            }
        } else {
            fail(
                "usage: listing_bench [--program BINARY] [--list-program LIST.PY] "
                "[--data DIR] [--rounds N] [--sizes N,N]");
        }
    }
    AccountServer started = start_account_server(account);
    auto& server = started.server;
    undo_on_failure = [&] {
        server->stop();
        if (started.created_account)
            run_command({"userdel", "--remove", account});
    };
    authorize_key(account, started.home, *server);
    std::filesystem::create_directories(data);
    ::chmod(data.c_str(), 0755);
    for (long size : sizes)
        make_folder(data + "/entries-" + std::to_string(size), size);

    ScopedEnvironmentVariable home("HOME", server->home());
    ScopedEnvironmentVariable path("PATH", server->path());
    ScopedEnvironmentVariable agent("SSH_AUTH_SOCK", std::nullopt);
    TemporaryDirectory opener("wrenfield-listing-opener");
    write_file(opener / "xdg-open", "#!/bin/sh\nexit 0\n");
    ::chmod((opener / "xdg-open").c_str(), 0755);

    LaunchedProgram program(LaunchedProgram::Options{
        {"--browser", "--port", "0"}, {"PATH=" + opener.path() + ":" + server->path()}, binary});
    if (auto address = program.wait_for_start(); !address)
        fail("the program did not start: " + address.error());
    const uint16_t port = program.port();
    HttpReply connected =
        http_post_json(port, "/api/connect", nlohmann::json{{"host", server->host_alias()}}.dump());
    if (connected.status != 200)
        fail("connect failed: " + connected.body);
    // The same record as the program's gives the same command line and control socket.
    const std::vector<std::string> command =
        SshConnection::create(server->host_alias()).ssh_command();
    const std::string_view listing = list_program ? *list_program : remote_programs::kList;

    std::printf(
        "| entries | ours: first byte (s) | ours: all (s) | program by hand (s) | ls -la (s) | "
        "all / by hand | by hand / ls | program peak (MiB) | growth (MiB) | reply (MB) |\n"
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (long size : sizes) {
        const std::string folder = data + "/entries-" + std::to_string(size);
        // One warm-up of each, then the rounds, the three taking turns to go first.
        our_listing(port, folder);
        bare_run(command, fill(listing, folder));
        bare_run(command, "ls -la '" + folder + "'");
        std::vector<double> first, all, by_hand, ls;
        long peak = 0, growth = 0;
        size_t body = 0;
        for (int round = 0; round < rounds; ++round) {
            for (int turn = 0; turn < 3; ++turn) {
                switch ((round + turn) % 3) {
                    case 0: {
                        reset_peak(program.pid());
                        const long before = status_kib(program.pid(), "VmRSS");
                        const Listed listed = our_listing(port, folder);
                        const long high = status_kib(program.pid(), "VmHWM");
                        peak = std::max(peak, high);
                        growth = std::max(growth, high - before);
                        first.push_back(listed.first_byte);
                        all.push_back(listed.total);
                        body = listed.body;
                        break;
                    }
                    case 1:
                        by_hand.push_back(bare_run(command, fill(listing, folder)));
                        break;
                    default:
                        ls.push_back(bare_run(command, "ls -la '" + folder + "'"));
                }
            }
        }
        std::printf("| %ld | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.1f | %.1f | %.1f |\n",
                    size, median(first), median(all), median(by_hand), median(ls),
                    median(all) / median(by_hand), median(by_hand) / median(ls), peak / 1024.0,
                    growth / 1024.0, body / 1e6);
        std::fflush(stdout);
    }
    std::printf("\nmedians of %d rounds; program: %s\n", rounds, binary.c_str());
    std::exchange(undo_on_failure, nullptr)();
    return 0;
}
