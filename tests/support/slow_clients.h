// Many keep-alive clients on 127.0.0.1 that each send one small request now and then, as a
// page left open or a polling script does, driven by one thread of the test.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace wrenfield::testing {

// A socket connected to 127.0.0.1:port, or -1.
int connect_loopback(uint16_t port);

class SlowClients {
  public:
    // `count` clients, each sending `request` (the whole text on the wire) once every `period`,
    // their first requests spread over one period. A client whose connection the server closes
    // between requests connects again when its next request is due.
    SlowClients(uint16_t port, std::string request, size_t count, std::chrono::milliseconds period);
    // Stops the clients and closes their connections.
    ~SlowClients();
    SlowClients(const SlowClients&) = delete;
    SlowClients& operator=(const SlowClients&) = delete;

    // Complete replies read so far.
    size_t replies() const { return replies_; }
    // Connections the server closed between requests.
    size_t closed_idle() const { return closed_idle_; }
    // Requests whose connection closed before their reply was complete.
    size_t lost() const { return lost_; }

  private:
    void run(uint16_t port, std::string request, size_t count, std::chrono::milliseconds period);

    std::atomic<bool> stopping_ = false;
    std::atomic<size_t> replies_ = 0;
    std::atomic<size_t> closed_idle_ = 0;
    std::atomic<size_t> lost_ = 0;
    std::thread thread_;
};

}  // namespace wrenfield::testing
