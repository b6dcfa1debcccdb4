#include "app/opener.h"

#include <cstdio>
#include <system_error>
#include <thread>

#include "ssh/process.h"

namespace wrenfield {

void open_in_browser(const std::string& address) {
    (void)run_attached({"xdg-open", address});
}

void start_open_in_browser(const std::string& address) {
    try {
        std::thread([address] { open_in_browser(address); }).detach();
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "Failed to open %s: %s\n", address.c_str(), error.what());
        std::fflush(stderr);
    }
}

}  // namespace wrenfield
