// The update checker. This platform has no updater framework, so the controller is never
// created: the checks only log that the updater is missing. Work runs on the main loop.
#pragma once

namespace wrenfield {

// The updater's controller; null for the whole run, since there is no framework to create it.
struct UpdaterController;
UpdaterController* updater_controller();

// Sets up the updater (logging the start-up line) and queues the building of the menu bar on
// the main loop. Called first thing at start-up, on the main thread.
void init_sparkle();

// Queues one update check on the main loop and returns at once; callable from any thread.
void check_for_updates();

// Runs one update check; on the main thread.
void run_update_check();

}  // namespace wrenfield
