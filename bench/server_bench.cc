// Measures the HTTP server: requests per second and latency of "/css/styles.css" and
// "/api/status" under loopback load from wrk (keep-alive and a new connection per request),
// the cost of reading the owner of each new connection's client socket, the keep-alive latency
// of a reply written in two pieces with TCP_NODELAY on and off, and the time the server adds to
// "/api/list" over the bare ssh run of the same listing program through the same master
// connection.
//
// Uses the local OpenSSH server of the tests for the listing; the server under test runs in
// this process on a free port.
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/base64.h"
#include "bench_support.h"
#include "server/peer_owner.h"
#include "ssh/connection.h"
#include "ssh/process.h"
#include "ssh/remote.h"
#include "ssh/remote_programs.h"
#include "support/in_process_server.h"
#include "support/local_system.h"
#include "support/spawn.h"
#include "support/sshd_fixture.h"

namespace {

using namespace wrenfield;
using namespace wrenfield::testing;
using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "server_bench: %s\n", message.c_str());
    std::exit(1);
}

struct WrkFigures {
    double requests_per_second = 0;
    std::string average, p50, p99, max;
    long errors = 0;
};

// The value after `label` on the line that begins with it (after leading spaces).
std::string field_after(const std::string& output, const std::string& label, int index) {
    size_t at = output.find(label);
    if (at == std::string::npos)
        return "?";
    size_t end = output.find('\n', at);
    std::string line = output.substr(at + label.size(), end - at - label.size());
    std::vector<std::string> words;
    size_t position = 0;
    while (position < line.size()) {
        size_t start = line.find_first_not_of(" \t", position);
        if (start == std::string::npos)
            break;
        size_t stop = line.find_first_of(" \t", start);
        words.push_back(line.substr(start, stop - start));
        position = stop == std::string::npos ? line.size() : stop;
    }
    return index < static_cast<int>(words.size()) ? words[index] : "?";
}

// Whether wrk keeps each connection for many requests or closes it after one.
enum class Connection { KeepAlive, Close };

WrkFigures run_wrk(uint16_t port, const std::string& path, int connections, int seconds,
                   Connection connection) {
    std::vector<std::string> arguments = {"wrk", "-t" + std::to_string(std::min(connections, 4)),
                                          "-c" + std::to_string(connections),
                                          "-d" + std::to_string(seconds) + "s", "--latency"};
    if (connection == Connection::Close)
        arguments.insert(arguments.end(), {"-H", "Connection: close"});
    arguments.push_back("http://127.0.0.1:" + std::to_string(port) + path);
    CommandResult result = run_command(arguments, {}, std::chrono::seconds(seconds + 60));
    if (result.exit_code != 0)
        fail("wrk failed: " + result.error + result.output);
    const std::string& out = result.output;
    WrkFigures figures;
    figures.requests_per_second = std::atof(field_after(out, "Requests/sec:", 0).c_str());
    figures.average = field_after(out, "Latency", 0);
    figures.max = field_after(out, "Latency", 2);
    figures.p50 = field_after(out, "50%", 0);
    figures.p99 = field_after(out, "99%", 0);
    size_t errors = out.find("Socket errors:");
    if (errors != std::string::npos || out.find("Non-2xx") != std::string::npos) {
        figures.errors = 1;
        std::fprintf(stderr, "wrk reported errors:\n%s\n", out.c_str());
    }
    return figures;
}

void print_row(const std::string& what, const WrkFigures& figures) {
    std::printf("| %-44s | %9.0f | %8s | %8s | %8s | %8s |\n", what.c_str(),
                figures.requests_per_second, figures.average.c_str(), figures.p50.c_str(),
                figures.p99.c_str(), figures.max.c_str());
    std::fflush(stdout);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double milliseconds_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// "/api/list" through the server against the bare ssh run of the same program and our own
// list_remote_dir call, alternating, medians of `rounds`.
void measure_listing(int rounds) {
    std::string error;
    LocalSshServer* ssh_server = &wrenfield::bench::use_shared_server();

    TemporaryDirectory directory("wrenfield-server-bench", ssh_server->scratch_root());
    for (int i = 0; i < 1000; ++i)
        write_file(directory / ("file-" + std::to_string(i) + ".txt"), "x");

    InProcessServer web;
    httplib::Client client("127.0.0.1", web.port());
    client.set_keep_alive(true);
    client.set_read_timeout(std::chrono::seconds(60));
    auto connected = client.Post(
        "/api/connect", R"({"host":")" + ssh_server->host_alias() + R"("})", "application/json");
    if (!connected || connected->status != 200) {
        fail("connect failed: " + (connected ? connected->body : std::string("no reply")) +
             ssh_server->log());
    }

    SshConnection connection = SshConnection::create(ssh_server->host_alias());
    if (auto probe = connect_probe(connection); !probe)
        fail("probe failed: " + probe.error());
    std::vector<std::string> bare_command = connection.ssh_command();
    bare_command.push_back(
        remote_programs::fill_program(remote_programs::kList, {base64_encode(directory.path())}));
    const std::string target =
        "/api/list?path=" + httplib::detail::encode_query_param(directory.path());

    std::vector<double> bare, direct, served, served_to_bare, served_to_direct;
    // The three runs take turns at going first, so that none always meets the warmest cache.
    for (int round = 0; round < rounds + 2; ++round) {
        double bare_ms = 0, direct_ms = 0, served_ms = 0;
        for (int turn = 0; turn < 3; ++turn) {
            auto start = Clock::now();
            switch ((round + turn) % 3) {
                case 0: {
                    auto bare_run = run_captured(bare_command);
                    bare_ms = milliseconds_since(start);
                    if (!bare_run || !bare_run->status.success())
                        fail("bare ssh run failed");
                    break;
                }
                case 1: {
                    auto items = list_remote_dir(connection, directory.path());
                    direct_ms = milliseconds_since(start);
                    if (!items || items->size() != 1000)
                        fail("list_remote_dir failed");
                    break;
                }
                default: {
                    auto reply = client.Get(target);
                    served_ms = milliseconds_since(start);
                    if (!reply || reply->status != 200)
                        fail("GET /api/list failed");
                }
            }
        }
        if (round >= 2) {  // the first two rounds warm the master and the caches
            bare.push_back(bare_ms);
            direct.push_back(direct_ms);
            served.push_back(served_ms);
            served_to_bare.push_back(served_ms / bare_ms);
            served_to_direct.push_back(served_ms / direct_ms);
        }
    }
    double bare_median = median(bare), direct_median = median(direct),
           served_median = median(served);
    std::printf("\n/api/list of a directory of 1,000 files, median of %d rounds:\n\n", rounds);
    std::printf("| run | median (ms) | ratio to the bare run |\n|---|---|---|\n");
    std::printf("| bare ssh run of the listing program | %.1f | 1.00 |\n", bare_median);
    std::printf("| list_remote_dir (run and parse) | %.1f | %.3f |\n", direct_median,
                direct_median / bare_median);
    std::printf("| GET /api/list through the server (keep-alive) | %.1f | %.3f |\n", served_median,
                served_median / bare_median);
    // The machine's other load drifts; the ratio within each round, where the three runs
    // follow one another closely, is steadier than the ratio of the medians.
    std::printf(
        "\nMedian of the per-round ratios: /api/list to the bare run %.3f, to "
        "list_remote_dir %.3f.\n",
        median(served_to_bare), median(served_to_direct));
}

// A loopback connection made and accepted in this process: the client's end and the server's.
struct ConnectedPair {
    UniqueFd client;
    UniqueFd server;
};

ConnectedPair connect_pair(int listener, const sockaddr_in& address) {
    ConnectedPair pair;
    pair.client.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(pair.client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        0) {
        fail("connect failed");
    }
    pair.server.reset(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!pair.server)
        fail("accept failed");
    return pair;
}

// The owner lookup that admits each new connection, each way, timed over `lookups` calls on one
// accepted connection: with the machine's socket table as it is, and with `extra` further
// loopback connections open (two table entries each), since the /proc way reads the whole
// table.
void measure_peer_lookup(int lookups, int extra) {
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener.get(), 4096) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fail("listening socket failed");
    }
    const ConnectedPair measured = connect_pair(listener.get(), address);
    using Lookup = std::expected<uid_t, std::string> (*)(int);
    // The /proc way reads the whole table each time: a twentieth of the lookups will do.
    const struct {
        const char* name;
        Lookup lookup;
        int count;
    } ways[] = {{"netlink (sock_diag, exact 4-tuple)", &peer_owner_by_netlink, lookups},
                {"/proc/net/tcp", &peer_owner_by_proc, std::max(lookups / 20, 1)}};

    std::printf("\nReading the owner of a connection's client socket:\n\n");
    std::printf(
        "| way | other connections open | lookups | per lookup (µs) |\n|---|---:|---:|---:|\n");
    std::vector<ConnectedPair> others;
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            for (int i = 0; i < extra; ++i)
                others.push_back(connect_pair(listener.get(), address));
        }
        for (const auto& way : ways) {
            if (!way.lookup(measured.server.get()))
                fail(std::string("lookup failed: ") + way.name);
            const auto start = Clock::now();
            for (int i = 0; i < way.count; ++i)
                (void)way.lookup(measured.server.get());
            std::printf("| %s | %s | %d | %.1f |\n", way.name,
                        round == 0 ? "the machine's own" : ("+" + std::to_string(extra)).c_str(),
                        way.count, milliseconds_since(start) * 1000 / way.count);
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string option = argc > 1 ? argv[1] : "";
    const bool quick = option == "--quick";
    const int seconds = quick ? 3 : 10;
    ignore_broken_pipe();
    if (option == "--listing") {
        measure_listing(80);
        return 0;
    }
    if (option == "--peer") {
        measure_peer_lookup(20000, 1000);
        return 0;
    }

    {
        InProcessServer web;
        std::printf(
            "Loopback load from wrk, %d s per row (16 connections, 4 threads; latency "
            "per request):\n\n",
            seconds);
        std::printf("| %-44s | %9s | %8s | %8s | %8s | %8s |\n", "path, connection use", "req/s",
                    "average", "p50", "p99", "max");
        std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(),
                    std::string(11, '-').c_str(), std::string(10, '-').c_str(),
                    std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                    std::string(10, '-').c_str());
        for (const char* path : {"/css/styles.css", "/api/status"}) {
            print_row(std::string(path) + ", keep-alive",
                      run_wrk(web.port(), path, 16, seconds, Connection::KeepAlive));
            print_row(std::string(path) + ", new connection each",
                      run_wrk(web.port(), path, 16, seconds, Connection::Close));
        }
    }

    std::printf(
        "\nOne keep-alive connection, \"/api/status\" (headers and body leave in two "
        "writes):\n\n");
    std::printf("| %-44s | %9s | %8s | %8s | %8s | %8s |\n", "TCP_NODELAY", "req/s", "average",
                "p50", "p99", "max");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(11, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str());
    for (bool nodelay : {true, false}) {
        InProcessServer web(ServerLimits{.tcp_nodelay = nodelay});
        print_row(nodelay ? "on (as the program runs)" : "off (for comparison)",
                  run_wrk(web.port(), "/api/status", 1, seconds, Connection::KeepAlive));
    }

    measure_peer_lookup(quick ? 2000 : 20000, 1000);
    measure_listing(quick ? 10 : 40);
    return 0;
}
