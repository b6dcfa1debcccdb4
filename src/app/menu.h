// The menu bar: the application, Edit and Window menus above the web view, with their key
// equivalents (Control where a Mac uses Command).
#pragma once

namespace wrenfield {

// Builds the menu bar into the main window, once; does nothing while there is no window (browser
// mode). Runs on the main loop. With WRENFIELD_PRINT_MENU set in the environment it also prints
// the built menus to standard error, so that tests can read what the bar holds.
void build_main_menu();

}  // namespace wrenfield
