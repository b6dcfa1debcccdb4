// Waiting in tests: a condition polled until it holds or a deadline passes, so that a busy
// machine makes a test slower, never wrong.
#pragma once

#include <chrono>
#include <thread>

namespace wrenfield::testing {

// Calls `condition` every `interval` until it returns true (then returns true) or `timeout`
// has passed (then returns false). The condition is called at least once.
template <typename Condition>
bool wait_until(Condition&& condition, std::chrono::milliseconds timeout,
                std::chrono::milliseconds interval = std::chrono::milliseconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace wrenfield::testing
