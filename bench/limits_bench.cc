// Measures the server at its limits, in this process on a free port: how long a fresh request
// waits while 300 keep-alive clients each ask for "/api/status" every 3.5 s (more clients than
// the server's 256 connections).
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main() {
    measure_slow_clients();
    return 0;
}
