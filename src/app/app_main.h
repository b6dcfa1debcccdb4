// Start-up: the argument scan, the server's bind with its port fallback, the optional
// auto-connect, the server thread, then browser mode or the window.
#pragma once

#include <expected>
#include <string>

namespace wrenfield {

// The program's main routine, on the main thread. Returns when the usage text was printed or
// browser mode ended; in window mode it returns only when the window could not be opened.
std::expected<void, std::string> app_main(int argc, char** argv);

}  // namespace wrenfield
