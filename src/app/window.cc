#include "app/window.h"

#include <unistd.h>

#include <cstdio>

#include "app/opener.h"

namespace wrenfield {

namespace {

// Sizes of the web view, which shows the page; the window is taller by its menu bar.
constexpr int page_width = 1150;
constexpr int page_height = 750;
constexpr int minimum_page_width = 850;
constexpr int minimum_page_height = 520;

// Marks the main window among GTK's toplevels, so the menu builder can find it later without a
// global of our own.
constexpr const char* main_window_key = "wrenfield-main-window";

std::string download_directory() {
    const char* directory = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    if (directory != nullptr)
        return directory;
    gchar* fallback = g_build_filename(g_get_home_dir(), "Downloads", nullptr);
    std::string result = fallback;
    g_free(fallback);
    return result;
}

// A file name for the download inside the directory that does not exist yet: "name.ext", then
// "name (1).ext" and so on, so that a download never replaces a file already there.
std::string unused_download_path(const std::string& directory, const char* suggested_name) {
    gchar* base = g_path_get_basename(suggested_name != nullptr ? suggested_name : "");
    std::string name = base;
    g_free(base);
    if (name.empty() || name == "." || name == ".." || name == G_DIR_SEPARATOR_S)
        name = "download";
    size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string::npos) {
        dot = name.size();
    }
    std::string stem = name.substr(0, dot);
    std::string extension = name.substr(dot);
    std::string candidate = directory + G_DIR_SEPARATOR_S + name;
    for (int number = 1; g_file_test(candidate.c_str(), G_FILE_TEST_EXISTS); ++number) {
        candidate =
            directory + G_DIR_SEPARATOR_S + stem + " (" + std::to_string(number) + ")" + extension;
    }
    return candidate;
}

// Saves every download the page starts into the download directory, without asking.
gboolean on_decide_destination(WebKitDownload* download, gchar* suggested_filename, gpointer) {
    std::string directory = download_directory();
    g_mkdir_with_parents(directory.c_str(), 0755);
    std::string path = unused_download_path(directory, suggested_filename);
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri == nullptr)
        return FALSE;
    webkit_download_set_destination(download, uri);
    g_free(uri);
    return TRUE;
}

void on_download_started(WebKitWebContext*, WebKitDownload* download, gpointer) {
    g_signal_connect(download, "decide-destination", G_CALLBACK(on_decide_destination), nullptr);
}

// The origin of `uri` as text ("http://127.0.0.1:5050"); empty when it has none (mailto:).
std::string origin_of(const char* uri) {
    WebKitSecurityOrigin* origin = webkit_security_origin_new_for_uri(uri);
    gchar* text = webkit_security_origin_to_string(origin);
    std::string result = text != nullptr ? text : "";
    g_free(text);
    webkit_security_origin_unref(origin);
    return result;
}

bool on_page_origin(const MainWindow& main_window, const char* uri) {
    return !main_window.page_origin.empty() && origin_of(uri) == main_window.page_origin;
}

// Hands a link's address to the system's browser (or mail program). Only web and mail
// addresses go there: any other scheme could make the desktop open a local file or start a
// program. The page's own addresses are not opened a second time.
void open_outside(const MainWindow& main_window, const char* uri) {
    const char* scheme = g_uri_peek_scheme(uri);
    if (scheme == nullptr || on_page_origin(main_window, uri))
        return;
    if (g_strcmp0(scheme, "http") == 0 || g_strcmp0(scheme, "https") == 0 ||
        g_strcmp0(scheme, "mailto") == 0) {
        start_open_in_browser(uri);
    }
}

// The web view shows the program's page and nothing else: a navigation within the page's
// origin goes ahead as usual (a download among them); one anywhere else never happens in the
// window. A followed link and a request for a new window open in the system's browser
// instead; anything else (a redirect, a script) is dropped.
gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision,
                          WebKitPolicyDecisionType type, gpointer data) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        return FALSE;
    }
    const auto& main_window = *static_cast<const MainWindow*>(data);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (uri == nullptr)
        uri = "";
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && on_page_origin(main_window, uri)) {
        return FALSE;
    }
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION ||
        webkit_navigation_action_get_navigation_type(action) ==
            WEBKIT_NAVIGATION_TYPE_LINK_CLICKED) {
        open_outside(main_window, uri);
    }
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

// A new window the page asks for (window.open) is never made: its address goes to the
// system's browser.
GtkWidget* on_create(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (uri != nullptr)
        open_outside(*static_cast<const MainWindow*>(data), uri);
    return nullptr;
}

// How long the page has to say whether it holds unsaved edits before a close goes ahead anyway.
constexpr guint page_answer_timeout_ms = 5000;

// Whether a script's result is the boolean `wanted`; an error or any other value is not.
bool result_is(JSCValue* value, GError* error, bool wanted) {
    bool matches = value != nullptr && jsc_value_is_boolean(value) &&
                   static_cast<bool>(jsc_value_to_boolean(value)) == wanted;
    if (value != nullptr)
        g_object_unref(value);
    if (error != nullptr)
        g_error_free(error);
    return matches;
}

// The user's answer to the page's discard question: only Keep Editing (false) keeps the
// program running; a page that went away meanwhile holds nothing more to keep.
void on_discard_answer(GObject* web_view, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
        WEBKIT_WEB_VIEW(web_view), result, &error);
    if (!result_is(value, error, false))
        end_process();
}

void on_edits_answer(GObject* web_view, GAsyncResult* result, gpointer data) {
    auto& main_window = *static_cast<MainWindow*>(data);
    if (main_window.close_answer_timer != 0) {
        g_source_remove(main_window.close_answer_timer);
        main_window.close_answer_timer = 0;
    }
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(web_view), result, &error);
    if (!result_is(value, error, true))
        end_process();
    // The question stays up as long as the user needs: no time limit here.
    webkit_web_view_call_async_javascript_function(
        WEBKIT_WEB_VIEW(web_view), "return await window.confirmDiscardEdits();", -1, nullptr,
        nullptr, nullptr, nullptr, on_discard_answer, nullptr);
}

gboolean on_page_silent(gpointer) {
    end_process();
}

gboolean on_delete_event(GtkWidget*, GdkEvent*, gpointer data) {
    request_close(*static_cast<MainWindow*>(data));
    return TRUE;
}

}  // namespace

void request_close(MainWindow& main_window) {
    // A request already waiting for the page's answer covers this one.
    if (main_window.close_answer_timer != 0)
        return;
    main_window.close_answer_timer = g_timeout_add(page_answer_timeout_ms, on_page_silent, nullptr);
    webkit_web_view_evaluate_javascript(main_window.web_view, "window.hasUnsavedEdits?.() === true",
                                        -1, nullptr, nullptr, nullptr, on_edits_answer,
                                        &main_window);
}

void end_process() {
    std::fflush(nullptr);
    _exit(0);
}

MainWindow* find_main_window() {
    GList* toplevels = gtk_window_list_toplevels();
    MainWindow* found = nullptr;
    for (GList* node = toplevels; node != nullptr && found == nullptr; node = node->next)
        found = static_cast<MainWindow*>(g_object_get_data(G_OBJECT(node->data), main_window_key));
    g_list_free(toplevels);
    return found;
}

void attach_menu_bar(MainWindow& main_window, GtkWidget* bar) {
    gtk_box_pack_start(main_window.content, bar, FALSE, FALSE, 0);
    gtk_widget_show_all(bar);
    main_window.menu_bar = bar;
    // The window grows by the bar, so that the page keeps its size.
    int bar_height = 0;
    gtk_widget_get_preferred_height(bar, nullptr, &bar_height);
    int width = 0;
    int height = 0;
    gtk_window_get_size(main_window.window, &width, &height);
    gtk_window_resize(main_window.window, width, height + bar_height);
}

std::expected<void, std::string> run_window(const std::string& page_address) {
    if (!gtk_init_check(nullptr, nullptr)) {
        const char* display = g_getenv("DISPLAY");
        return std::unexpected(display != nullptr && *display != '\0'
                                   ? std::string("cannot open display: ") + display
                                   : std::string("cannot open display: no DISPLAY is set"));
    }

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Wrenfield");
    // Until the menu bar is attached, the web view is the whole window.
    gtk_window_set_default_size(GTK_WINDOW(window), page_width, page_height);

    GtkWidget* web_view = webkit_web_view_new();
    if (web_view == nullptr) {
        gtk_widget_destroy(window);
        return std::unexpected(std::string("Failed to create the web view"));
    }
    // The toolkit derives the window's minimum size from this and the menu bar's height.
    gtk_widget_set_size_request(web_view, minimum_page_width, minimum_page_height);
    g_signal_connect(webkit_web_view_get_context(WEBKIT_WEB_VIEW(web_view)), "download-started",
                     G_CALLBACK(on_download_started), nullptr);

    // The menu bar goes above the web view in this box once the main loop builds it
    // (attach_menu_bar).
    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_end(GTK_BOX(content), web_view, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), content);
    // Lives as long as the process, like the widgets it points to.
    auto* main_window =
        new MainWindow{GTK_WINDOW(window), GTK_BOX(content), WEBKIT_WEB_VIEW(web_view), {}};
    g_object_set_data(G_OBJECT(window), main_window_key, main_window);
    main_window->page_origin = origin_of(page_address.c_str());
    g_signal_connect(window, "delete-event", G_CALLBACK(on_delete_event), main_window);
    g_signal_connect(web_view, "decide-policy", G_CALLBACK(on_decide_policy), main_window);
    g_signal_connect(web_view, "create", G_CALLBACK(on_create), main_window);

    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(web_view), page_address.c_str());
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(web_view);
    gtk_main();
    // The loop only ends through end_process; reaching here would mean someone quit it.
    end_process();
}

}  // namespace wrenfield
