// Starting the backend (platform-init), the DPI state, screens and monitors,
// the dark-mode preference, the error box and the caret blink time.
#include "gui/backend/backend.hpp"
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "gui/text_style.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/interpreter.hpp"
#include "core/logic.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "datatypes/float.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "core/lexer.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <iterator>

namespace kel {

// ---- DPI -------------------------------------------------------------------------------

// GTK scales by itself: one logical unit is one GTK pixel.
static double scale = 1.0;
static int32_t dpi = 96;
static bool started = false;

int32_t dpi_scale(double x) { return int32_t(std::trunc(x * scale + 0.5)); }
double dpi_unscale(double x) { return x / scale; }
bool backend_started() { return started; }
void backend_require() { gui_display_require(); }

void backend_eval_text(const std::string& text) {
    CellRoot code;
    LexerOptions options;
    lexer_transcode(&code.cell, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()),
                    options, nullptr);
    Cell* top = data_stack.top;
    ExitCode x = eval_block(&code.cell, false);
    data_stack.top = top;
    if (x != EXIT_CODE_NONE) exit_clear();
}

// ---- monitors ----------------------------------------------------------------------------

// Monitors are named by handle! values of class 2 holding index + 1.
static GdkMonitor* monitor_at(int index) {
    GdkDisplay* display = gdk_display_get_default();
    return display ? gdk_display_get_monitor(display, index) : nullptr;
}

// The monitor under the pointer (the primary one when the pointer is unknown).
static int monitor_index_under_pointer() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return 0;
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    GdkMonitor* found = nullptr;
    if (pointer) {
        int x = 0, y = 0;
        gdk_device_get_position(pointer, nullptr, &x, &y);
        found = gdk_display_get_monitor_at_point(display, x, y);
    }
    if (!found) found = gdk_display_get_primary_monitor(display);
    int count = gdk_display_get_n_monitors(display);
    for (int i = 0; i < count; i++)
        if (gdk_display_get_monitor(display, i) == found) return i;
    return 0;
}

static void pair_append(Cell* block, int32_t x, int32_t y) {
    Cell value;
    pair_init(&value, x, y);
    block_ks_append(block, &value);
}

// platform-fetch-all-screens: one [offset size scale handle] block a monitor;
// offset and size in device pixels, scale the monitor's scale factor.
static void routine_fetch_all_screens() {
    // Without a display there is no monitor: the GUI still measures and draws.
    GdkDisplay* display = gui_display_open() ? gdk_display_get_default() : nullptr;
    int count = display ? gdk_display_get_n_monitors(display) : 0;
    Cell* result = stack_box_new(T_BLOCK);
    block_make_at(result, count > 2 ? count : 2);
    for (int i = 0; i < count; i++) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        GdkRectangle area;
        gdk_monitor_get_geometry(monitor, &area);
        int factor = gdk_monitor_get_scale_factor(monitor);
        CellRoot spec;
        block_make_at(&spec.cell, 4);
        pair_append(&spec.cell, area.x * factor, area.y * factor);
        pair_append(&spec.cell, area.width * factor, area.height * factor);
        Cell value;
        float_make_at(&value, double(factor));
        block_ks_append(&spec.cell, &value);
        handle_init(&value, uint32_t(i + 1), HANDLE_MONITOR);
        block_ks_append(&spec.cell, &value);
        block_ks_append(data_stack.args, &spec.cell);
    }
}

// platform-get-current-screen: the monitor under the pointer.
static void routine_get_current_screen() {
    backend_require();
    handle_push(uint32_t(monitor_index_under_pointer() + 1), HANDLE_MONITOR);
}

// platform-get-screen-size id: the primary monitor's size in logical units.
static void routine_get_screen_size() {
    backend_require();
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = monitor_at(0);
    GdkRectangle area{0, 0, 0, 0};
    if (monitor) gdk_monitor_get_geometry(monitor, &area);
    int factor = monitor ? gdk_monitor_get_scale_factor(monitor) : 1;
    int32_t current = dpi > 0 ? dpi : 96;
    pair_init(stack_box_new(T_PAIR), area.width * factor * 96 / current, area.height * factor * 96 / current);
}

// ---- theme -------------------------------------------------------------------------------

static bool dark_preferred = false;

// True when the theme is a high-contrast one, where dark mode is never offered.
static bool high_contrast_q() {
    GtkSettings* settings = gtk_settings_get_default();
    gchar* theme = nullptr;
    if (settings) g_object_get(settings, "gtk-theme-name", &theme, nullptr);
    bool high = theme && g_strrstr(theme, "HighContrast") != nullptr;
    g_free(theme);
    return high;
}

// The user's preference: the settings' dark-theme switch, or a theme whose
// name ends in "-dark".
static bool dark_preference_read() {
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings || high_contrast_q()) return false;
    gboolean prefer = FALSE;
    gchar* theme = nullptr;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &prefer, "gtk-theme-name", &theme, nullptr);
    bool dark = prefer || (theme && g_str_has_suffix(theme, "-dark"));
    g_free(theme);
    return dark;
}

// platform-support-dark-mode?
static void routine_support_dark_mode_q() {
    bool supported = gui_display_open() && !high_contrast_q();
    logic_make_at(stack_box_new(T_LOGIC), supported);
}

// platform-set-dark-mode face dark?: a window's theme variant follows dark?;
// other widgets take the window's.
static void routine_set_dark_mode() {
    View* view = face_view(data_stack.args);
    bool dark = cell_type(data_stack.args + 1) == T_LOGIC && logic_get(&data_stack.args[1]);
    if (view && view->type == FACE_TYPE_WINDOW) {
        GtkSettings* settings = gtk_settings_get_default();
        if (settings) g_object_set(settings, "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE, nullptr);
    }
    none_make_at(stack_box_new(T_NONE));
}

// platform-toggle-GPU: GTK chooses its own renderer; nothing to re-make.
static void routine_toggle_gpu() { none_make_at(stack_box_new(T_NONE)); }

// ---- start ---------------------------------------------------------------------------------

static std::string tuple_text(const GdkRGBA& c) {
    auto byte = [](double v) { return int(std::lround(std::fmax(0.0, std::fmin(1.0, v)) * 255.0)); };
    return std::to_string(byte(c.red)) + "." + std::to_string(byte(c.green)) + "." + std::to_string(byte(c.blue));
}

// A theme colour by name, or the fallback.
static GdkRGBA theme_color(GtkStyleContext* context, const char* name, GdkRGBA fallback) {
    GdkRGBA color;
    return gtk_style_context_lookup_color(context, name, &color) ? color : fallback;
}

// A Kel string literal of UTF-8 text.
static std::string string_literal(const char* text) {
    std::string out = "{";
    for (const char* p = text; *p; p++) {
        if (*p == '{' || *p == '}' || *p == '^') out += '^';
        out += *p;
    }
    return out + "}";
}

// The theme's colours, scroll-bar size and GUI font, read from a probe
// window on the display.
struct ThemeMetrics {
    GdkRGBA text{0, 0, 0, 1}, window{1, 1, 1, 1}, panel{0.94, 0.94, 0.94, 1};
    int bar_width = 16, bar_height = 16;  // a vertical bar's width, a horizontal bar's height
    int check_width = 16, radio_width = 16;  // a check box's and a radio button's mark with its spacing
    int calendar_width = 0, calendar_height = 0;  // a calendar's own size at the theme's font
    std::string family = FONT_DEFAULT_NAME;
    int size = FONT_DEFAULT_SIZE;
};

static void theme_metrics_read(ThemeMetrics* m) {
    GtkWidget* probe = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkStyleContext* context = gtk_widget_get_style_context(probe);
    m->text = theme_color(context, "theme_text_color", m->text);
    m->window = theme_color(context, "theme_base_color", m->window);
    m->panel = theme_color(context, "theme_bg_color", m->panel);
    // A bar measures its theme's size only when it is visible inside a
    // window (the probe itself is never shown); otherwise it measures 0.
    GtkWidget* bars = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(probe), bars);
    GtkWidget* vertical = gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, nullptr);
    GtkWidget* horizontal = gtk_scrollbar_new(GTK_ORIENTATION_HORIZONTAL, nullptr);
    gtk_container_add(GTK_CONTAINER(bars), vertical);
    gtk_container_add(GTK_CONTAINER(bars), horizontal);
    GtkWidget* calendar = gtk_calendar_new();
    gtk_container_add(GTK_CONTAINER(bars), calendar);
    gtk_widget_show_all(bars);
    gtk_widget_get_preferred_width(calendar, nullptr, &m->calendar_width);
    gtk_widget_get_preferred_height(calendar, nullptr, &m->calendar_height);
    int width = 0, height = 0;
    gtk_widget_get_preferred_width(vertical, nullptr, &width);
    gtk_widget_get_preferred_height(horizontal, nullptr, &height);
    if (width > 0) m->bar_width = width;
    if (height > 0) m->bar_height = height;
    // The width of a check box or radio button with an empty label is what
    // it takes beside its text.
    for (auto [button, width] : {std::pair{gtk_check_button_new_with_label(""), &m->check_width},
                                 std::pair{gtk_radio_button_new_with_label(nullptr, ""), &m->radio_width}}) {
        g_object_ref_sink(button);
        gtk_widget_show_all(button);
        gtk_widget_get_preferred_width(button, nullptr, width);
        g_object_unref(button);
    }
    gtk_widget_destroy(probe);
    GtkSettings* settings = gtk_settings_get_default();
    gchar* font_name = nullptr;
    if (settings) g_object_get(settings, "gtk-font-name", &font_name, nullptr);
    if (font_name) {
        PangoFontDescription* description = pango_font_description_from_string(font_name);
        if (const char* f = pango_font_description_get_family(description)) m->family = f;
        if (int s = pango_font_description_get_size(description) / PANGO_SCALE; s > 0) m->size = s;
        pango_font_description_free(description);
        g_free(font_name);
    }
}

// platform-init: starts GTK on the display when there is one, sets the DPI
// from the monitor under the pointer and fills the platform object's
// version, build and product, the metrics (dpi, scroll-bar size, theme
// colours), the default font and the dark-mode preference. Without a display
// the defaults are kept: text is measured and drawn all the same, and only
// windows fail.
static void routine_platform_init() {
    ThemeMetrics theme;
    if (gui_display_open()) {
        if (GdkMonitor* monitor = monitor_at(monitor_index_under_pointer()))
            dpi = 96 * gdk_monitor_get_scale_factor(monitor);
        theme_metrics_read(&theme);
        dark_preferred = dark_preference_read();
    }
    scale = 1.0;
    font_default_set(theme.family, theme.size);
    started = true;

    int build = int(gtk_get_major_version()) * 10000 + int(gtk_get_minor_version()) * 100 +
                int(gtk_get_micro_version());
    std::string script =
        "if all [object? system/view object? system/view/platform] [\n"
        "  system/view/platform/version: 10.0.0\n"
        "  system/view/platform/build: " + std::to_string(build) + "\n"
        "  system/view/platform/product: 1\n"
        "  system/view/metrics/dpi: " + std::to_string(dpi) + "\n"
        "  put system/view/metrics/misc 'scroller " + std::to_string(theme.bar_width) + "x" +
        std::to_string(theme.bar_height) + "\n"
        "  put system/view/metrics/paddings 'check [" + std::to_string(theme.check_width) + "x0 0x0]\n"
        "  put system/view/metrics/paddings 'radio [" + std::to_string(theme.radio_width) + "x0 0x0]\n"
        // A calendar of the style's size (139x148) with its padding and its
        // margin (1x0) takes the calendar's own size, with the spacing its
        // widget adds between the columns.
        "  put system/view/metrics/paddings 'calendar [" +
        std::to_string(std::max(theme.calendar_width + 7 * CALENDAR_COLUMN_SPACING - 140, 21)) +
        "x0 " + std::to_string(std::max(theme.calendar_height - 148, 1)) + "x0]\n"
        "  put system/view/metrics/colors 'text " + tuple_text(theme.text) + "\n"
        "  put system/view/metrics/colors 'window " + tuple_text(theme.window) + "\n"
        "  put system/view/metrics/colors 'panel " + tuple_text(theme.panel) + "\n"
        "  system/view/fonts/system: " + string_literal(theme.family.c_str()) + "\n"
        "  system/view/fonts/size: " + std::to_string(theme.size) + "\n"
        "]\n";
    backend_eval_text(script);
    none_make_at(stack_box_new(T_NONE));
}

// ---- error box and caret ----------------------------------------------------------------

// show-error-box text caption: a modal message box with the error icon;
// returns when the user closes it. Without a display the text goes to the
// standard error stream instead.
static void routine_show_error_box() {
    const Cell* args = data_stack.args;
    std::string text = string_family_q(cell_type(args)) ? string_utf8(args) : std::string();
    std::string caption = string_family_q(cell_type(args + 1)) ? string_utf8(args + 1) : std::string();
    if (!gui_display_open()) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    } else {
        GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                                   GTK_BUTTONS_OK, "%s", text.c_str());
        gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
        gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
        gtk_dialog_run(GTK_DIALOG(dialog));
        gtk_widget_destroy(dialog);
    }
    none_make_at(stack_box_new(T_NONE));
}

// The desktop's caret blink time in milliseconds: how long one phase (on or
// off) lasts, half of GTK's full cycle; -1 when the caret does not blink.
static int32_t caret_blink_time() {
    GtkSettings* settings = gui_display_open() ? gtk_settings_get_default() : nullptr;
    gint time = 1200;
    gboolean blinks = TRUE;
    if (settings) g_object_get(settings, "gtk-cursor-blink-time", &time, "gtk-cursor-blink", &blinks, nullptr);
    return blinks ? int32_t(time / 2) : -1;
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-fetch-all-screens", gui_fn(routine_fetch_all_screens)},
    {"platform-get-current-screen", gui_fn(routine_get_current_screen)},
    {"platform-get-screen-size", gui_fn(routine_get_screen_size)},
    {"platform-support-dark-mode?", gui_fn(routine_support_dark_mode_q)},
    {"platform-set-dark-mode", gui_fn(routine_set_dark_mode)},
    {"platform-toggle-GPU", gui_fn(routine_toggle_gpu)},
    {"platform-init", gui_fn(routine_platform_init)},
    {"show-error-box", gui_fn(routine_show_error_box)},
    {"caret-blink-time", gui_fn(caret_blink_time)},
};
const GuiExportTable BACKEND_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
