// The window mode: one GTK window whose content is a web view showing the page, and the main
// loop, which runs until the window is closed and then ends the process.
#pragma once

#include <expected>
#include <string>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace wrenfield {

// Opens the window on the page address and runs the main loop. Returns only when the window
// or the web view could not be created, with the reason.
std::expected<void, std::string> run_window(const std::string& page_address);

// The window made by run_window, its content box (menu bar above the web view), the web view
// and the menu bar; null before the window exists and in browser mode.
struct MainWindow {
    GtkWindow* window;
    GtkBox* content;
    WebKitWebView* web_view;
    // The page's origin ("http://127.0.0.1:PORT"): the only one the web view may show.
    std::string page_origin;
    GtkWidget* menu_bar = nullptr;  // set once the menu bar is built
    // While a close request waits for the page to say whether it holds unsaved edits: the
    // timer that closes anyway should the page not answer.
    guint close_answer_timer = 0;
};
MainWindow* find_main_window();

// Closes the window and ends the process with status 0, unless the page holds unsaved edits:
// then the page asks the user, and only Discard ends the process. A page that does not answer
// within a few seconds (hung, or gone) cannot keep the program open.
void request_close(MainWindow& main_window);

// Puts the menu bar above the web view and makes the window taller by the bar's height.
void attach_menu_bar(MainWindow& main_window, GtkWidget* bar);

// Ends the process at once with status 0 after flushing the standard streams: no destructor
// runs, so an open master connection is left to its ControlPersist time.
[[noreturn]] void end_process();

}  // namespace wrenfield
