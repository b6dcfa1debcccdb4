// Handing an address to the desktop's opener (xdg-open), which shows it in the user's own
// browser or mail program.
#pragma once

#include <string>

namespace wrenfield {

// Starts the opener on the address and waits for it; whatever it does is ignored. The opener
// writes to our own standard streams.
void open_in_browser(const std::string& address);

// The same, but returns at once: a thread of its own waits for the opener, which may take as
// long as the browser it starts.
void start_open_in_browser(const std::string& address);

}  // namespace wrenfield
