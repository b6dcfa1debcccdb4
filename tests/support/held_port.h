// A TCP port on 127.0.0.1 kept taken by a socket of the test for as long as the object lives.
#pragma once

#include <cstdint>

namespace wrenfield::testing {

class HeldPort {
  public:
    // Listening::Yes accepts connections (a port in use); Listening::No only binds, so that
    // connections are refused while no other process can take the port.
    enum class Listening { Yes, No };

    // Port 0 takes any free port.
    explicit HeldPort(uint16_t port, Listening listening = Listening::Yes);
    ~HeldPort();
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;

    bool held() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }
    void release();

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace wrenfield::testing
