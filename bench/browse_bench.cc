// Measures how long browsing waits while transfers run: the reply times of "/api/status",
// "/api/list" and a small "/api/read" while one client downloads a large file at about 5 MB/s
// and another sends an upload body that stalls (one byte every 2 s of a declared 1000); then the
// same while, besides, a folder of 1,000,000 entries (BROWSE_BENCH_ENTRIES) is listed over and
// over.
//
// Uses the local OpenSSH server of the tests; the server under test runs in this process on a
// free port.
#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "support/in_process_server.h"
#include "support/local_system.h"
#include "support/program_launcher.h"
#include "support/sshd_fixture.h"

namespace {

using namespace wrenfield;
using namespace wrenfield::testing;
using namespace wrenfield::bench;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double milliseconds_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string encode(const std::string& text) {
    return httplib::detail::encode_query_param(text);
}

// The reply time of one GET on a new connection, or -1 when none came within `limit`.
double reply_time(uint16_t port, const std::string& target, std::chrono::seconds limit) {
    const auto start = Clock::now();
    auto reply = std::async(std::launch::async, [port, target] { return http_get(port, target); });
    if (reply.wait_for(limit) != std::future_status::ready) {
        // The request is left to end by itself; the figure says it did not come in time.
        std::thread([reply = std::move(reply)]() mutable { reply.wait(); }).detach();
        return -1;
    }
    const double elapsed = milliseconds_since(start);
    return reply.get().status == 200 ? elapsed : -1;
}

// The median and the longest time; a request with no reply within `limit` counts as longer than
// any other.
std::string figure(const std::vector<double>& times, std::chrono::seconds limit) {
    std::vector<double> sorted = times;
    for (double& time : sorted) {
        if (time < 0)
            time = std::numeric_limits<double>::infinity();
    }
    std::ranges::sort(sorted);
    const auto text = [limit](double time) {
        if (std::isinf(time))
            return "no reply within " + std::to_string(limit.count()) + " s";
        char written[32];
        std::snprintf(written, sizeof written, "%.1f", time);
        return std::string(written);
    };
    return text(sorted[sorted.size() / 2]) + " / " + text(sorted.back());
}

}  // namespace

int main() {
    LocalSshServer* ssh_server = &use_shared_server();

    TemporaryDirectory directory("wrenfield-browse-bench", ssh_server->scratch_root());
    const std::string large = directory / "large.bin";
    const std::string small = directory / "small.txt";
    if (!write_file(small, "a small file\n"))
        fail("cannot write the small file");
    {
        int fd = ::open(large.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::ftruncate(fd, off_t{1} << 30) != 0)
            fail("cannot make the large file");
        ::close(fd);
    }

    long entries = 1000000;
    if (const char* given = std::getenv("BROWSE_BENCH_ENTRIES"))
        entries = std::strtol(given, nullptr, 10);
    const std::string big = directory / "big";
    {
        const auto started = Clock::now();
        const CommandResult made = run_command(
            {"python3", "-c",
             "import os, sys\nos.mkdir(sys.argv[1])\nos.chdir(sys.argv[1])\n"
             "for i in range(int(sys.argv[2])):\n    os.close(os.open('entry-%07d' % i, "
             "os.O_CREAT | os.O_WRONLY, 0o644))\n",
             big, std::to_string(entries)},
            {}, std::chrono::minutes(10));
        if (made.exit_code != 0) {
            fail("cannot make the big folder (exit " + std::to_string(made.exit_code) +
                 (made.timed_out ? ", timed out" : "") + "): " + made.error);
        }
        std::fprintf(stderr, "made %ld entries in %.1f s\n", entries,
                     milliseconds_since(started) / 1000);
    }

    InProcessServer web;
    HttpReply connected = http_post_json(web.port(), "/api/connect",
                                         R"({"host":")" + ssh_server->host_alias() + R"("})");
    if (connected.status != 200)
        fail("connect failed: " + connected.body + ssh_server->log());

    const std::vector<std::string> targets = {"/api/status",
                                              "/api/list?path=" + encode(directory.path()),
                                              "/api/read?path=" + encode(small)};
    constexpr int rounds = 10;
    constexpr auto limit = 25s;
    // The reply times of each target over `rounds` rounds, the targets taking turns.
    const auto measure = [&](int rounds) {
        std::vector<std::vector<double>> times(targets.size());
        for (int round = 0; round < rounds; ++round) {
            bool any = false;
            for (size_t i = 0; i < targets.size(); ++i) {
                times[i].push_back(reply_time(web.port(), targets[i], limit));
                any = any || times[i].back() >= 0;
            }
            if (!any)
                break;
        }
        return times;
    };
    // The same requests with nothing else running, for the machine's own cost of each.
    const auto idle = measure(rounds);

    const std::string head_end = "Host: " + web.host() + "\r\n";
    std::atomic<bool> stop = false;
    // The download: reads 64 KiB every 13 ms, about 5 MB/s.
    std::thread downloader([&] {
        RawConnection connection(web.port());
        connection.send("GET /api/download?path=" + encode(large) + " HTTP/1.1\r\n" + head_end +
                        "\r\n");
        while (!stop) {
            connection.read_some(64 * 1024, 1s);
            std::this_thread::sleep_for(13ms);
        }
    });
    // The upload: a body of 1000 bytes declared, one byte sent every 2 s.
    std::thread uploader([&] {
        RawConnection connection(web.port());
        connection.send("POST /api/upload?path=" + encode(directory / "upload.bin") +
                        " HTTP/1.1\r\n" + head_end + "Content-Length: 1000\r\n\r\n");
        for (int sent = 0; !stop && sent < 1000; ++sent) {
            connection.send("x");
            for (int slice = 0; !stop && slice < 20; ++slice)
                std::this_thread::sleep_for(100ms);
        }
    });
    std::this_thread::sleep_for(1s);  // both transfers are under way
    const auto busy = measure(rounds);

    // The big listing, asked for again as soon as it has come, so that one always runs.
    std::atomic<int> listings = 0;
    std::atomic<double> listing_time = 0;
    std::thread lister([&] {
        while (!stop) {
            const auto start = Clock::now();
            HttpReply reply = http_get(web.port(), "/api/list?path=" + encode(big));
            if (reply.status != 200)
                fail("the big listing failed: " + reply.body.substr(0, 200));
            listing_time = listing_time + milliseconds_since(start);
            ++listings;
        }
    });
    std::this_thread::sleep_for(2s);  // the listing is under way
    constexpr int big_rounds = 5;
    const auto beside_listing = measure(big_rounds);

    std::printf("Reply times, median / longest of %d rounds (%d beside the listing) (ms):\n\n",
                rounds, big_rounds);
    std::printf(
        "| request | nothing else running | beside a ~5 MB/s download and a stalled "
        "upload | and a listing of %ld entries |\n|---|---|---|---|\n",
        entries);
    const char* names[] = {"GET /api/status", "GET /api/list (small folder)",
                           "GET /api/read (13 bytes)"};
    for (size_t i = 0; i < targets.size(); ++i) {
        std::printf("| %s | %s | %s | %s |\n", names[i], figure(idle[i], limit).c_str(),
                    figure(busy[i], limit).c_str(), figure(beside_listing[i], limit).c_str());
    }
    stop = true;
    lister.join();
    if (listings > 0) {
        std::printf("\nThe big listing: %d done, %.1f s each on average\n", listings.load(),
                    listing_time / listings / 1000);
    }
    std::fflush(stdout);
    downloader.join();
    uploader.join();
    // The folder goes now: leaving below skips the destructors.
    run_command({"rm", "-rf", directory.path()}, {}, std::chrono::minutes(10));
    // Leave without waiting for requests still held up behind the transfers.
    std::_Exit(0);
}
