// Program entry: runs the application shell and turns its result into the exit status.
#include <cstdio>
#include <cstdlib>

#include "app/app_main.h"
#include "base/text.h"

int main(int argc, char** argv) {
    auto result = wrenfield::app_main(argc, argv);
    int status = 0;
    if (!result) {
        // One line, `Error: "..."` with the message in its debug_quote form (see base/text.h).
        std::fprintf(stderr, "Error: %s\n", wrenfield::debug_quote(result.error()).c_str());
        status = 1;
    }
    // The server thread may still be running: leave without running static destructors under
    // it, as a process exit would.
    std::fflush(nullptr);
    std::_Exit(status);
}
