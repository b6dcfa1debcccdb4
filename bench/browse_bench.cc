// Measures how long browsing waits while transfers run: the reply times of "/api/status",
// "/api/list" and a small "/api/read" while one client downloads a large file at about 5 MB/s
// and another sends an upload body that stalls (one byte every 2 s of a declared 1000).
//
// Uses the local OpenSSH server of the tests; the server under test runs in this process on a
// free port.
#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
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

std::string figure(const std::vector<double>& times, std::chrono::seconds limit) {
    if (std::ranges::any_of(times, [](double time) { return time < 0; }))
        return "no reply within " + std::to_string(limit.count()) + " s";
    std::vector<double> sorted = times;
    std::ranges::sort(sorted);
    char text[64];
    std::snprintf(text, sizeof text, "%.1f / %.1f", sorted[sorted.size() / 2], sorted.back());
    return text;
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
    const auto measure = [&] {
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
    const auto idle = measure();

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
    const auto busy = measure();

    std::printf("Reply times, median / longest of %d rounds (ms):\n\n", rounds);
    std::printf(
        "| request | nothing else running | beside a ~5 MB/s download and a stalled "
        "upload |\n|---|---|---|\n");
    const char* names[] = {"GET /api/status", "GET /api/list (3 entries)",
                           "GET /api/read (13 bytes)"};
    for (size_t i = 0; i < targets.size(); ++i) {
        std::printf("| %s | %s | %s |\n", names[i], figure(idle[i], limit).c_str(),
                    figure(busy[i], limit).c_str());
    }
    std::fflush(stdout);
    stop = true;
    downloader.join();
    uploader.join();
    // Leave without waiting for requests still held up behind the transfers.
    std::_Exit(0);
}
