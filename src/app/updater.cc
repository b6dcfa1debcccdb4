#include "app/updater.h"

#include <cstdio>

#include <glib.h>

#include "app/menu.h"

namespace wrenfield {

UpdaterController* updater_controller() {
    // No updater framework is available to create a controller from.
    return nullptr;
}

// Writes one line of the updater's log to standard error, where a program started from a
// terminal keeps its log.
static void log_line(const char* line) {
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
}

// Queues a function on the default main context, which the main loop services. g_idle_add is
// safe from any thread and always queues, even on the main thread before the loop runs.
static void queue_on_main_loop(void (*function)()) {
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            reinterpret_cast<void (*)()>(data)();
            return G_SOURCE_REMOVE;
        },
        reinterpret_cast<gpointer>(function), nullptr);
}

void init_sparkle() {
    if (updater_controller() != nullptr)
        return;
    log_line("[Wrenfield] Sparkle updater initialized.");
    queue_on_main_loop(build_main_menu);
}

void check_for_updates() {
    queue_on_main_loop(run_update_check);
}

void run_update_check() {
    if (updater_controller() == nullptr) {
        log_line("[Wrenfield] Sparkle updater not initialized.");
        return;
    }
}

}  // namespace wrenfield
