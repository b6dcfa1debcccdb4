#include "app/menu.h"

#include <cstdio>
#include <string>

#include <gtk/gtk.h>

#include "app/updater.h"
#include "app/window.h"

namespace wrenfield {

namespace {

enum class MenuAction {
    Separator,
    About,
    CheckForUpdates,
    Hide,
    HideOthers,
    ShowAll,
    Quit,
    EditingCommand,
    Minimize,
    Zoom,
    BringAllToFront,
};

struct MenuRow {
    const char* title;
    MenuAction action;
    guint key = 0;
    GdkModifierType modifiers = GDK_CONTROL_MASK;
    // For MenuAction::EditingCommand: the web view's command, which acts on the focused field.
    const char* editing_command = nullptr;
};

struct Menu {
    const char* title;
    std::initializer_list<MenuRow> rows;
};

constexpr MenuRow separator{nullptr, MenuAction::Separator};

// The application menu carries the product name, as the menu under the program's name does.
const Menu menus[] = {
    {"Wrenfield",
     {
         {"About Wrenfield", MenuAction::About},
         {"Check for Updates\u2026", MenuAction::CheckForUpdates},
         separator,
         {"Hide Wrenfield", MenuAction::Hide, GDK_KEY_h},
         {"Hide Others", MenuAction::HideOthers, GDK_KEY_h,
          GdkModifierType(GDK_CONTROL_MASK | GDK_MOD1_MASK)},
         {"Show All", MenuAction::ShowAll},
         separator,
         {"Quit Wrenfield", MenuAction::Quit, GDK_KEY_q},
     }},
    {"Edit",
     {
         {"Undo", MenuAction::EditingCommand, GDK_KEY_z, GDK_CONTROL_MASK,
          WEBKIT_EDITING_COMMAND_UNDO},
         {"Redo", MenuAction::EditingCommand, GDK_KEY_z,
          GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK), WEBKIT_EDITING_COMMAND_REDO},
         separator,
         {"Cut", MenuAction::EditingCommand, GDK_KEY_x, GDK_CONTROL_MASK,
          WEBKIT_EDITING_COMMAND_CUT},
         {"Copy", MenuAction::EditingCommand, GDK_KEY_c, GDK_CONTROL_MASK,
          WEBKIT_EDITING_COMMAND_COPY},
         {"Paste", MenuAction::EditingCommand, GDK_KEY_v, GDK_CONTROL_MASK,
          WEBKIT_EDITING_COMMAND_PASTE},
         {"Select All", MenuAction::EditingCommand, GDK_KEY_a, GDK_CONTROL_MASK,
          WEBKIT_EDITING_COMMAND_SELECT_ALL},
     }},
    {"Window",
     {
         {"Minimize", MenuAction::Minimize, GDK_KEY_m},
         {"Zoom", MenuAction::Zoom},
         separator,
         {"Bring All to Front", MenuAction::BringAllToFront},
     }},
};

void on_activate(GtkMenuItem*, gpointer data) {
    MainWindow* main_window = find_main_window();
    if (main_window == nullptr)
        return;
    GtkWindow* window = main_window->window;
    const MenuRow& row = *static_cast<const MenuRow*>(data);
    switch (row.action) {
        case MenuAction::Separator:
            break;
        case MenuAction::About:
            // The program ships no icon of its own; the theme's remote-folder icon stands in,
            // so the dialog never shows a missing-image placeholder.
            gtk_show_about_dialog(window, "program-name", "Wrenfield", "title", "About Wrenfield",
                                  "logo-icon-name", "folder-remote", nullptr);
            break;
        case MenuAction::CheckForUpdates:
            check_for_updates();
            break;
        case MenuAction::Hide:
        case MenuAction::Minimize:
            gtk_window_iconify(window);
            break;
        case MenuAction::HideOthers:
            // Other programs' windows are not ours to hide here.
            break;
        case MenuAction::ShowAll:
            // Brings back the one window this program may have hidden.
            gtk_window_deiconify(window);
            break;
        case MenuAction::Quit:
            request_close(*main_window);
            break;
        case MenuAction::EditingCommand:
            webkit_web_view_execute_editing_command(main_window->web_view, row.editing_command);
            break;
        case MenuAction::Zoom:
            if (gtk_window_is_maximized(window))
                gtk_window_unmaximize(window);
            else
                gtk_window_maximize(window);
            break;
        case MenuAction::BringAllToFront:
            gtk_window_present(window);
            break;
    }
}

GtkWidget* make_item(const MenuRow& row, GtkAccelGroup* accelerators) {
    if (row.action == MenuAction::Separator)
        return gtk_separator_menu_item_new();
    GtkWidget* item = gtk_menu_item_new_with_label(row.title);
    // The rows are constant and live as long as the program.
    g_signal_connect(item, "activate", G_CALLBACK(on_activate), const_cast<MenuRow*>(&row));
    if (row.key != 0) {
        gtk_widget_add_accelerator(item, "activate", accelerators, row.key, row.modifiers,
                                   GTK_ACCEL_VISIBLE);
    }
    if (row.action == MenuAction::CheckForUpdates) {
        // Without an updater there is nobody to run the check the item stands for.
        gtk_widget_set_sensitive(item, updater_controller() != nullptr);
    }
    return item;
}

// The key equivalent that GTK holds for an item, read back from its accelerator group.
std::string accelerator_of(GtkWidget* item) {
    std::string text;
    GList* closures = gtk_widget_list_accel_closures(item);
    for (GList* node = closures; node != nullptr && text.empty(); node = node->next) {
        auto* closure = static_cast<GClosure*>(node->data);
        GtkAccelGroup* group = gtk_accel_group_from_accel_closure(closure);
        GtkAccelKey* key = gtk_accel_group_find(
            group,
            [](GtkAccelKey*, GClosure* candidate, gpointer wanted) -> gboolean {
                return candidate == wanted;
            },
            closure);
        if (key != nullptr) {
            gchar* name = gtk_accelerator_name(key->accel_key, key->accel_mods);
            text = name;
            g_free(name);
        }
    }
    g_list_free(closures);
    return text;
}

// Prints each menu with its items, their key equivalents and disabled state, one per line.
void print_menu_bar(GtkWidget* bar) {
    GList* tops = gtk_container_get_children(GTK_CONTAINER(bar));
    for (GList* top = tops; top != nullptr; top = top->next) {
        GtkMenuItem* top_item = GTK_MENU_ITEM(top->data);
        std::fprintf(stderr, "menu \"%s\"\n", gtk_menu_item_get_label(top_item));
        GList* items =
            gtk_container_get_children(GTK_CONTAINER(gtk_menu_item_get_submenu(top_item)));
        for (GList* node = items; node != nullptr; node = node->next) {
            GtkWidget* item = GTK_WIDGET(node->data);
            if (GTK_IS_SEPARATOR_MENU_ITEM(item)) {
                std::fprintf(stderr, "  ---\n");
                continue;
            }
            std::string line =
                std::string("  \"") + gtk_menu_item_get_label(GTK_MENU_ITEM(item)) + "\"";
            std::string accelerator = accelerator_of(item);
            if (!accelerator.empty())
                line += " " + accelerator;
            if (!gtk_widget_get_sensitive(item))
                line += " disabled";
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        g_list_free(items);
    }
    g_list_free(tops);
    std::fflush(stderr);
}

}  // namespace

void build_main_menu() {
    MainWindow* main_window = find_main_window();
    if (main_window == nullptr || main_window->menu_bar != nullptr)
        return;
    GtkAccelGroup* accelerators = gtk_accel_group_new();
    gtk_window_add_accel_group(main_window->window, accelerators);

    GtkWidget* bar = gtk_menu_bar_new();
    for (const Menu& menu : menus) {
        GtkWidget* submenu = gtk_menu_new();
        gtk_menu_set_accel_group(GTK_MENU(submenu), accelerators);
        for (const MenuRow& row : menu.rows)
            gtk_menu_shell_append(GTK_MENU_SHELL(submenu), make_item(row, accelerators));
        GtkWidget* top_item = gtk_menu_item_new_with_label(menu.title);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(top_item), submenu);
        gtk_menu_shell_append(GTK_MENU_SHELL(bar), top_item);
    }
    attach_menu_bar(*main_window, bar);

    if (g_getenv("WRENFIELD_PRINT_MENU") != nullptr)
        print_menu_bar(bar);
}

}  // namespace wrenfield
