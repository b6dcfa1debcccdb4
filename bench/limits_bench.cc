// Measures the server at its limits, in this process on a free port: how long a fresh request
// waits while 300 keep-alive clients each ask for "/api/status" every 3.5 s (more clients than
// the server's 256 connections), and the peak memory of the process while eight clients send a
// 128 MiB JSON body each at once.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/in_process_server.h"
#include "support/slow_clients.h"

namespace {

using namespace wrenfield;
using namespace wrenfield::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void measure_slow_clients() {
    InProcessServer server;
    const std::string status = "GET /api/status HTTP/1.1\r\nHost: " + server.host() + "\r\n\r\n";
    SlowClients clients(server.port(), status, 300, 3500ms);
    // Every slot taken: the first round of requests has been answered.
    const auto started = Clock::now();
    while (clients.replies() < 256 && Clock::now() - started < 20s)
        std::this_thread::sleep_for(10ms);
    std::printf("slow clients: %zu replies after %.1f s\n", clients.replies(),
                seconds_since(started));
    std::vector<double> waits;
    for (int probe = 0; probe < 5; ++probe) {
        const auto sent = Clock::now();
        const std::string reply = raw_http_exchange(
            server.port(),
            "GET /api/status HTTP/1.1\r\nHost: " + server.host() + "\r\nConnection: close\r\n\r\n",
            30000);
        const bool answered = reply.starts_with("HTTP/1.1 200 ");
        waits.push_back(seconds_since(sent));
        std::printf("fresh /api/status %d: %s after %.1f ms\n", probe + 1,
                    answered ? "answered" : "not answered", waits.back() * 1000);
        std::this_thread::sleep_for(1s);
    }
    std::printf(
        "slow clients over the run: %zu replies, %zu connections closed between "
        "requests, %zu requests lost\n",
        clients.replies(), clients.closed_idle(), clients.lost());
}

// A figure of /proc/self/status in MiB ("VmHWM", "VmRSS").
double status_mebibytes(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(name + ":"))
            return std::stod(line.substr(name.size() + 1)) / 1024;
    }
    return 0;
}

// Sends a write request whose JSON body carries `content_size` bytes of content, made a block at
// a time so that the client holds none of it, and returns the reply's status line.
std::string send_large_body(uint16_t port, const std::string& host, size_t content_size) {
    const std::string start = R"({"path":"/tmp/limits-bench","content":")";
    const std::string end = R"("})";
    RawConnection client(port);
    if (!client.send("POST /api/write HTTP/1.1\r\nHost: " + host +
                     "\r\nContent-Type: application/json\r\nConnection: close\r\n"
                     "Content-Length: " +
                     std::to_string(start.size() + content_size + end.size()) + "\r\n\r\n" +
                     start)) {
        return "not sent";
    }
    const std::string block(1 << 20, 'x');
    for (size_t sent = 0; sent < content_size; sent += block.size()) {
        if (!client.send(block.substr(0, std::min(block.size(), content_size - sent))))
            break;
    }
    client.send(end);
    const std::string reply = client.read_to_end(120s);
    return reply.substr(0, reply.find("\r\n"));
}

void measure_large_bodies() {
    InProcessServer server;
    constexpr int senders = 8;
    constexpr size_t content_size = size_t{128} << 20;
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";  // the peak resident size starts again from the present one
    }
    const double resident_before = status_mebibytes("VmRSS");
    const auto started = Clock::now();
    std::vector<std::string> replies(senders);
    std::vector<std::thread> threads;
    for (int i = 0; i < senders; ++i) {
        threads.emplace_back(
            [&, i] { replies[i] = send_large_body(server.port(), server.host(), content_size); });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::map<std::string, int> counts;
    for (const std::string& reply : replies)
        ++counts[reply];
    std::printf("%d JSON bodies of 128 MiB at once, done in %.1f s:\n", senders,
                seconds_since(started));
    for (const auto& [reply, count] : counts)
        std::printf("  %d x %s\n", count, reply.c_str());
    std::printf("resident before %.0f MiB, peak during %.0f MiB (%.0f MiB more)\n", resident_before,
                status_mebibytes("VmHWM"), status_mebibytes("VmHWM") - resident_before);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "--slow-clients")
        measure_slow_clients();
    if (only.empty() || only == "--bodies")
        measure_large_bodies();
    return 0;
}
