// The file and folder dialogs behind request-file and request-dir. The
// arguments are checked before any window opens, so a bad filter fails the
// same way with or without a display.
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "gui/dialog_args.hpp"
#include "core/logic.hpp"
#include "core/stack.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <string>
#include <vector>
#include <iterator>

namespace kel {

// Adds the filters to the chooser; a pattern list "a;b" gives one filter
// with both patterns.
static void chooser_filters_add(GtkFileChooser* chooser, const std::vector<FileFilter>& filters) {
    for (const FileFilter& f : filters) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, f.label.c_str());
        size_t start = 0;
        while (start <= f.pattern.size()) {
            size_t end = f.pattern.find(';', start);
            if (end == std::string::npos) end = f.pattern.size();
            std::string one = f.pattern.substr(start, end - start);
            // "*.*" means every file, with or without a dot in its name.
            if (!one.empty()) gtk_file_filter_add_pattern(filter, one == "*.*" ? "*" : one.c_str());
            start = end + 1;
        }
        gtk_file_chooser_add_filter(chooser, filter);
    }
}

// Opens the chooser in the folder, or in the current folder when none is
// given (the toolkit would otherwise show its recently used files).
static void chooser_folder_set(GtkFileChooser* chooser, const std::string& folder) {
    if (!folder.empty()) {
        gtk_file_chooser_set_current_folder(chooser, folder.c_str());
        return;
    }
    gchar* current = g_get_current_dir();
    gtk_file_chooser_set_current_folder(chooser, current);
    g_free(current);
}

// The window a dialog belongs to: the active window of a face, else the
// first shown one; null when none is shown.
static GtkWindow* dialog_parent() {
    GtkWindow* parent = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* l = windows; l; l = l->next) {
        GtkWindow* window = GTK_WINDOW(l->data);
        if (!gtk_widget_get_visible(GTK_WIDGET(window)) || !view_of_widget(GTK_WIDGET(window))) continue;
        if (gtk_window_is_active(window)) {
            parent = window;
            break;
        }
        if (!parent) parent = window;
    }
    g_list_free(windows);
    return parent;
}

// Before it shows, the dialog is shrunk to fit the work area of its
// monitor with room for the window frame (the toolkit sizes a file chooser
// from its font, which can exceed a small screen and hide the buttons), and
// placed on it.
static void chooser_fit(GtkWidget* dialog, gpointer) {
    GdkDisplay* display = gtk_widget_get_display(dialog);
    GtkWindow* parent = gtk_window_get_transient_for(GTK_WINDOW(dialog));
    GdkWindow* near = parent ? gtk_widget_get_window(GTK_WIDGET(parent)) : nullptr;
    GdkMonitor* monitor = near ? gdk_display_get_monitor_at_window(display, near) : gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    int width = 0, height = 0;
    gtk_window_get_size(GTK_WINDOW(dialog), &width, &height);
    width = std::min(width, area.width * 9 / 10);
    height = std::min(height, area.height * 85 / 100);
    gtk_window_resize(GTK_WINDOW(dialog), width, height);
    // Centred over its parent (else on the monitor), kept inside the work area.
    int x = area.x + (area.width - width) / 2, y = area.y + (area.height - height) / 2;
    if (parent) {
        int px = 0, py = 0, pw = 0, ph = 0;
        gtk_window_get_position(parent, &px, &py);
        gtk_window_get_size(parent, &pw, &ph);
        x = std::clamp(px + (pw - width) / 2, area.x, area.x + area.width - width);
        y = std::clamp(py + (ph - height) / 2, area.y, area.y + area.height - height);
    }
    gtk_window_move(GTK_WINDOW(dialog), x, y);
}

// Gives the dialog its parent window, over which it opens centred, and a
// size and place on the screen.
static void chooser_place(GtkWidget* dialog) {
    GtkWindow* parent = dialog_parent();
    if (parent) gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    g_signal_connect(dialog, "map", G_CALLBACK(chooser_fit), nullptr);
}

// Runs the dialog to its end; answers whether the user accepted.
static bool chooser_run(GtkWidget* dialog) {
    chooser_place(dialog);
    return gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
}

// Destroys the dialog and handles the pending events, so that it leaves the
// screen at once.
static void chooser_close(GtkWidget* dialog) {
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration();
}

// The local paths chosen, in the chooser's order.
static std::vector<std::string> chooser_paths(GtkFileChooser* chooser) {
    std::vector<std::string> paths;
    GSList* names = gtk_file_chooser_get_filenames(chooser);
    for (GSList* l = names; l; l = l->next) {
        paths.emplace_back(static_cast<const char*>(l->data));
        g_free(l->data);
    }
    g_slist_free(names);
    return paths;
}

// platform-request-file title name filter save? multi?
static void request_file() {
    Cell* args = data_stack.args;
    bool save = logic_get(args + 3);
    bool multi = logic_get(args + 4);
    FileDialogRequest request = file_dialog_request_of(args, args + 1, args + 2);
    gui_display_require();
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        request.has_title ? request.title.c_str() : nullptr, nullptr,
        save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_select_multiple(chooser, multi && !save);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    chooser_filters_add(chooser, request.filters);
    chooser_folder_set(chooser, request.folder);
    if (!request.name.empty()) {
        if (save) {
            // The proposed name is shown as text, which must be UTF-8.
            gchar* shown = g_filename_display_name(request.name.c_str());
            gtk_file_chooser_set_current_name(chooser, shown);
            g_free(shown);
        } else if (!request.folder.empty())
            gtk_file_chooser_select_filename(chooser, (request.folder + request.name).c_str());
    }
    std::vector<std::string> paths;
    if (chooser_run(dialog)) paths = chooser_paths(chooser);
    chooser_close(dialog);
    CellRoot result;
    file_dialog_answer(paths, multi, &result.cell);
    stack_set_last_reset(&result.cell);
}

// The folder chosen last with keep?, where the next such dialog opens.
static std::string kept_folder;

// platform-request-dir title dir filter keep? multi?: filter and multi? are
// not used.
static void request_dir() {
    Cell* args = data_stack.args;
    bool keep = logic_get(args + 3);
    FileDialogRequest request = file_dialog_request_of(args, &none_cell, &none_cell);
    std::string start = keep ? kept_folder : folder_dialog_start_of(args + 1);
    gui_display_require();
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        request.has_title ? request.title.c_str() : nullptr, nullptr,
        GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL, "_Select",
        GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_create_folders(chooser, TRUE);
    chooser_folder_set(chooser, start);
    std::vector<std::string> paths;
    if (chooser_run(dialog)) paths = chooser_paths(chooser);
    chooser_close(dialog);
    CellRoot result;
    if (paths.empty()) {
        folder_dialog_answer(nullptr, &result.cell);
    } else {
        if (keep) kept_folder = paths.front();
        folder_dialog_answer(&paths.front(), &result.cell);
    }
    stack_set_last_reset(&result.cell);
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-request-file", gui_fn(request_file)},
    {"platform-request-dir", gui_fn(request_dir)},
};
const GuiExportTable DIALOGS_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
