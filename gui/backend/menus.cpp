// Menus of faces: a window's menu bar and the context menu of any face, built
// from the face's menu block. Choosing an item sends a menu event to the
// face whose menu it is, with the item's word (or -1 for an item without
// one) as the picked value.
#include "gui/backend/backend.hpp"
#include "gui/backend/draw.hpp"
#include "gui/backend/widgets.hpp"
#include "core/error.hpp"
#include "core/stack.hpp"
#include "gui/menu_tree.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"


namespace kel {

// Item data kept on each GtkMenuItem: the view id of the menu's face and the
// item's word.
static const char* const MENU_VIEW_KEY = "kel-menu-view";
static const char* const MENU_DATA_KEY = "kel-menu-data";

static void menu_item_activated(GtkMenuItem* item, gpointer) {
    ViewId id = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), MENU_VIEW_KEY));
    int32_t data = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), MENU_DATA_KEY));
    View* view = view_get(id);
    if (!view) return;  // the face went away while its menu was open
    // The hub keeps every error of the handlers inside.
    // An item without a word picks none.
    CellRoot picked;
    if (data != MENU_NO_WORD) word_make_global(&picked.cell, uint32_t(data));
    widget_event_send(view, EVT_MENU, &picked.cell);
}

std::string mnemonic_label(const std::string& text) {
    std::string label;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '_') {
            label += "__";
        } else if (text[i] == '&' && i + 1 < text.size()) {
            label += text[i + 1] == '&' ? '&' : '_';
            if (text[i + 1] == '&') i++;
        } else {
            label += text[i];
        }
    }
    return label;
}

// Appends the items to the menu shell, every item reporting to the view; an
// item's "&" marks the letter that chooses it with the keyboard.
static void menu_fill(GtkMenuShell* shell, const std::vector<MenuItem>& items, ViewId view) {
    for (const MenuItem& item : items) {
        GtkWidget* widget;
        if (item.kind == MenuItem::SEPARATOR) {
            widget = gtk_separator_menu_item_new();
        } else {
            widget = gtk_menu_item_new_with_mnemonic(mnemonic_label(item.title).c_str());
            if (item.kind == MenuItem::SUBMENU) {
                GtkWidget* submenu = gtk_menu_new();
                menu_fill(GTK_MENU_SHELL(submenu), item.children, view);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), submenu);
            } else {
                g_object_set_data(G_OBJECT(widget), MENU_VIEW_KEY, GUINT_TO_POINTER(view));
                g_object_set_data(G_OBJECT(widget), MENU_DATA_KEY, GINT_TO_POINTER(item.data));
                g_signal_connect(widget, "activate", G_CALLBACK(menu_item_activated), nullptr);
            }
        }
        gtk_menu_shell_append(shell, widget);
    }
}

GtkWidget* menu_bar_make(View* view) {
    Cell menu = face_field(&view->face, FACE_OBJ_MENU);
    if (!menu_bar_q(&menu, face_type_name(view->type))) return nullptr;
    std::vector<MenuItem> items = menu_tree_of(&menu);
    GtkWidget* bar = gtk_menu_bar_new();
    menu_fill(GTK_MENU_SHELL(bar), items, view->id);
    gtk_widget_show_all(bar);
    return bar;
}

bool menu_context_open(View* view, const GdkEvent* event) {
    Cell menu = face_field(&view->face, FACE_OBJ_MENU);
    if (cell_type(&menu) != T_BLOCK || menu_bar_q(&menu, face_type_name(view->type))) return false;
    // Called from a toolkit signal: a menu that cannot be read (one that
    // holds itself) is reported and opens nothing.
    std::vector<MenuItem> items;
    StackState saved = stack_save();
    try {
        items = menu_tree_of(&menu);
    } catch (const LanguageError&) {
        error_print_in_flight();
        stack_restore(saved);
        return false;
    }
    GtkWidget* popup = gtk_menu_new();
    menu_fill(GTK_MENU_SHELL(popup), items, view->id);
    gtk_widget_show_all(popup);
    // The menu frees itself once it has closed and its activation has run.
    g_signal_connect(popup, "deactivate", G_CALLBACK(+[](GtkMenuShell* shell, gpointer) {
                         g_idle_add(+[](gpointer menu) -> gboolean {
                             gtk_widget_destroy(GTK_WIDGET(menu));
                             return G_SOURCE_REMOVE;
                         }, shell);
                     }), nullptr);
    if (view->widget) gtk_menu_attach_to_widget(GTK_MENU(popup), view->widget, nullptr);
    gtk_menu_popup_at_pointer(GTK_MENU(popup), event);
    return true;
}

} // namespace kel
