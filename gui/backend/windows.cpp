// Native views of faces on GTK: making a view, applying a face's pending
// changes, in-place changes of its series, releasing it, showing windows,
// the rate timer, painting container faces, face captures, text measuring
// and the face lookups.
//
// Window, panel, base and rich-text faces are containers of faces
// (face_fixed.cpp), painted by paint_face (the face's colour, image, text and
// draw block) before their children; only a window's has a GdkWindow of its
// own, the others paint onto it. Other types get their widgets from the
// widget files' hooks; a type without hooks gets an empty container, so that
// a layout still shows.
#include "gui/backend/backend.hpp"
#include "gui/backend/draw.hpp"
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "gui/menu_tree.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/logic.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "datatypes/float.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/image.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/time.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/collector.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace kel {

// ---- face values -------------------------------------------------------------------------

struct FlagName {
    const char* name;
    uint32_t bit;
};
static const FlagName FLAG_NAMES[] = {
    {"all-over", FACE_FLAG_ALL_OVER},     {"focusable", FACE_FLAG_FOCUSABLE},
    {"tri-state", FACE_FLAG_TRI_STATE},   {"scrollable", FACE_FLAG_SCROLLABLE},
    {"password", FACE_FLAG_PASSWORD},     {"no-sync", FACE_FLAG_NO_SYNC},
    {"fullscreen", FACE_FLAG_FULLSCREEN}, {"popup", FACE_FLAG_POPUP},
    {"modal", FACE_FLAG_MODAL},           {"resize", FACE_FLAG_RESIZE},
    {"no-buttons", FACE_FLAG_NO_BUTTONS}, {"no-max", FACE_FLAG_NO_MAX},
    {"no-min", FACE_FLAG_NO_MIN},         {"no-title", FACE_FLAG_NO_TITLE},
    {"no-border", FACE_FLAG_NO_BORDER},
};

constexpr size_t FLAG_NAME_COUNT = sizeof FLAG_NAMES / sizeof FLAG_NAMES[0];

// The flag words' resolved symbols. Interning may allocate, so it is done
// before any block of flags is read.
static void flag_symbols(uint32_t* symbols) {
    for (size_t i = 0; i < FLAG_NAME_COUNT; i++) symbols[i] = symbol_resolve(symbol_make(FLAG_NAMES[i].name));
}

static uint32_t flag_bit(const Cell* word, const uint32_t* symbols) {
    uint32_t resolved = symbol_resolve(word_symbol(word));
    for (size_t i = 0; i < FLAG_NAME_COUNT; i++)
        if (symbols[i] == resolved) return FLAG_NAMES[i].bit;
    CellRoot held(*word);
    error_raise(ERR_INVALID_ARG, &held.cell);
}

uint32_t face_flags_bits(const Cell* flags) {
    CellRoot held(*flags);
    uint32_t symbols[FLAG_NAME_COUNT];
    flag_symbols(symbols);
    uint8_t t = cell_type(&held.cell);
    if (t == T_WORD || t == T_LIT_WORD) return flag_bit(&held.cell, symbols);
    if (t != T_BLOCK) return 0;
    uint32_t bits = 0;
    SeriesBuffer* buffer = series_buffer(series_node(&held.cell));
    const Cell* cells = block_cells(buffer);
    for (uint32_t i = uint32_t(std::max(series_index(&held.cell), 0)); i < buffer->length(); i++)
        if (cell_type(&cells[i]) == T_WORD || cell_type(&cells[i]) == T_LIT_WORD)
            bits |= flag_bit(&cells[i], symbols);
    return bits;
}

// Width and height of a pair! or point2D!; false for other values.
static bool planar_get(const Cell* value, double* x, double* y) {
    if (cell_type(value) == T_PAIR) {
        *x = pair_x(value);
        *y = pair_y(value);
        return true;
    }
    if (cell_type(value) == T_POINT2D) {
        *x = point_coord(value, 0);
        *y = point_coord(value, 1);
        return true;
    }
    return false;
}

// The offset of a face as a point2D!, converting a pair! in place.
static bool face_offset(View* view, double* x, double* y) {
    Cell offset = face_field(&view->face, FACE_OBJ_OFFSET);
    if (!planar_get(&offset, x, y)) return false;
    if (cell_type(&offset) == T_PAIR) {
        Cell point;
        cell_init(&point, T_NONE);
        point2d_init(&point, *x, *y);
        face_field_set(&view->face, FACE_OBJ_OFFSET, &point);
    }
    return true;
}

// The size of a face; notes in the view whether it is a pair!.
static void face_size(View* view, double* w, double* h) {
    Cell size = face_field(&view->face, FACE_OBJ_SIZE);
    if (!planar_get(&size, w, h)) *w = *h = 0;
    if (cell_type(&size) == T_PAIR) view->view_bits |= VIEW_BIT_INT_SIZE;
    else view->view_bits &= ~VIEW_BIT_INT_SIZE;
}

void view_size_logical(View* view, double* width, double* height) {
    GtkWidget* w = view->container ? view->container : view->widget;
    int pw = 0, ph = 0;
    if (w) {
        pw = gtk_widget_get_allocated_width(w);
        ph = gtk_widget_get_allocated_height(w);
    }
    *width = dpi_unscale(pw);
    *height = dpi_unscale(ph);
}

static bool logic_true(const Cell* value) { return cell_type(value) == T_LOGIC && logic_get(value); }
// Anything but false and none counts as true.
static bool truthy(const Cell* value) {
    return !logic_false(value);
}

// A base face whose options hold the word caret stands for a caret, which
// shows only while the face is enabled.
static bool caret_option_q(const Cell* face) {
    Cell options = face_field(face, FACE_OBJ_OPTIONS);
    if (cell_type(&options) != T_BLOCK) return false;
    SeriesBuffer* buffer = series_buffer(series_node(&options));
    const Cell* cells = block_cells(buffer);
    for (uint32_t i = uint32_t(std::max(series_index(&options), 0)); i < buffer->length(); i++)
        if (cell_type(&cells[i]) == T_WORD && word_named_q(&cells[i], "caret")) return true;
    return false;
}

// Whether a face's widget is shown: it is visible, and a caret enabled.
static bool view_shown_q(View* view) {
    Cell visible = face_field(&view->face, FACE_OBJ_VISIBLE_Q);
    if (!truthy(&visible)) return false;
    if (!(view->view_bits & VIEW_BIT_CARET)) return true;
    Cell enabled = face_field(&view->face, FACE_OBJ_ENABLED_Q);
    return truthy(&enabled);
}

// ---- painting ------------------------------------------------------------------------------

// The face being painted and its cairo context, for draw-face.
static ViewId painting_view = 0;
static cairo_t* painting_cr = nullptr;

// Faces that draw their own content: without a draw block, their paint ends
// with a drawing event, whose actor adds to it through draw-face.
static bool drawing_event_q(const View* view) {
    if (view->type != FACE_TYPE_BASE && view->type != FACE_TYPE_RICH_TEXT) return false;
    Cell draw = face_field(&view->face, FACE_OBJ_DRAW);
    return cell_type(&draw) != T_BLOCK;
}

static gboolean on_container_draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    View* view = view_get(ViewId(GPOINTER_TO_UINT(data)));
    if (!view) return FALSE;
    double w = dpi_unscale(gtk_widget_get_allocated_width(widget));
    double h = dpi_unscale(gtk_widget_get_allocated_height(widget));
    ViewId outer_view = painting_view;
    cairo_t* outer_cr = painting_cr;
    painting_view = view->id;
    painting_cr = cr;
    // The face paints into a group laid over what its parent painted, so a
    // face without a colour lets the parent show through.
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
    cairo_clip(cr);
    cairo_push_group(cr);
    try {
        CellRoot face(view->face);
        paint_face(cr, &face.cell, w, h, (view->view_bits & VIEW_BIT_LAYERED) != 0);
    } catch (...) {
        std::fputs("*** View Error: painting failed\n", stdout);
    }
    if (drawing_event_q(view)) make_event(view, nullptr, EVT_DRAWING, 0);
    cairo_pop_group_to_source(cr);
    cairo_paint(cr);
    cairo_restore(cr);
    painting_view = outer_view;
    painting_cr = outer_cr;
    return FALSE;  // the children are drawn after
}

GtkWidget* face_container_new(View* view, bool own_window) {
    GtkWidget* fixed = face_fixed_new(own_window);
    g_signal_connect(fixed, "draw", G_CALLBACK(on_container_draw), GUINT_TO_POINTER(view->id));
    return fixed;
}

// ---- cursors -------------------------------------------------------------------------------

// The cursor name of the face's options (cursor: word), or null.
static const char* cursor_name(View* view) {
    Cell options = face_field(&view->face, FACE_OBJ_OPTIONS);
    if (cell_type(&options) != T_BLOCK) return nullptr;
    SeriesBuffer* buffer = series_buffer(series_node(&options));
    uint32_t from = uint32_t(std::max(series_index(&options), 0));
    uint32_t length = buffer->length();
    if (from >= length || (length - from) % 2) return nullptr;
    const Cell* cells = block_cells(buffer);
    uint32_t cursor = symbol_resolve(symbol_make("cursor"));
    for (uint32_t i = from; i + 1 < length; i += 2) {
        if (cell_type(&cells[i]) != T_SET_WORD || symbol_resolve(word_symbol(&cells[i])) != cursor) continue;
        const Cell* value = &cells[i + 1];
        if (cell_type(value) != T_WORD && cell_type(value) != T_LIT_WORD) return nullptr;
        static const struct { const char* word; const char* css; } names[] = {
            {"I-beam", "text"}, {"hand", "pointer"}, {"cross", "crosshair"},
            {"resize-ns", "ns-resize"}, {"resize-ew", "ew-resize"}, {"resize-we", "ew-resize"},
        };
        uint32_t symbol = symbol_resolve(word_symbol(value));
        for (const auto& n : names)
            if (symbol_resolve(symbol_make(n.word)) == symbol) return n.css;
        return "default";
    }
    return nullptr;
}

static void cursor_apply(View* view) {
    if (!view->widget) return;
    GdkWindow* window = face_fixed_event_window(view->container ? view->container : view->widget);
    if (window) gdk_window_set_cursor(window, view->cursor);
}

static void on_realize_cursor(GtkWidget*, gpointer data) {
    if (View* view = view_get(ViewId(GPOINTER_TO_UINT(data)))) cursor_apply(view);
}

// Sets the view's cursor from the face's options.
static void cursor_set(View* view) {
    if (view->cursor) g_object_unref(view->cursor);
    view->cursor = nullptr;
    if (const char* name = cursor_name(view))
        view->cursor = gdk_cursor_new_from_name(gdk_display_get_default(), name);
    cursor_apply(view);
}

// ---- rate timer ------------------------------------------------------------------------------

static gboolean on_timer(gpointer data) {
    View* view = view_get(ViewId(GPOINTER_TO_UINT(data)));
    if (!view) return G_SOURCE_REMOVE;
    make_event(view, nullptr, EVT_TIME, 0);
    return G_SOURCE_CONTINUE;
}

// The timer period of a rate value in milliseconds, 0 for none; a bad
// value raises invalid-facet-type.
static uint32_t rate_period(const Cell* rate) {
    switch (cell_type(rate)) {
    case T_NONE: return 0;
    case T_INTEGER:
        if (integer_get(rate) >= 1) return uint32_t(1000 / integer_get(rate));
        break;
    case T_TIME: {
        double seconds = cell_double(rate);
        if (seconds > 0) {
            double ms = std::trunc(seconds * 1000.0);
            return ms < 1 ? 1 : ms > 4e9 ? 4000000000u : uint32_t(ms);
        }
        break;
    }
    default: break;
    }
    error_raise(ERR_INVALID_FACET_TYPE, rate);
}

static void rate_set(View* view) {
    Cell rate = face_field(&view->face, FACE_OBJ_RATE);
    uint32_t period = rate_period(&rate);
    if (view->timer) g_source_remove(view->timer);
    view->timer = 0;
    // A period of 0 ms (rate above 1000) still ticks as often as it can.
    // The source may recurse: a handler that runs a nested loop still gets ticks.
    if (cell_type(&rate) != T_NONE) {
        GSource* source = g_timeout_source_new(period);
        g_source_set_can_recurse(source, TRUE);
        g_source_set_callback(source, on_timer, GUINT_TO_POINTER(view->id), nullptr);
        view->timer = g_source_attach(source, nullptr);
        g_source_unref(source);
    }
}

// ---- making a view --------------------------------------------------------------------------

// The height of a window's menu bar in pixels, 0 without one: as laid out
// once the window is, else as the bar asks for.
static int32_t window_bar_height(View* view) {
    GtkWidget* box = gtk_bin_get_child(GTK_BIN(view->widget));
    if (!box) return 0;
    int32_t height = 0;
    GList* children = gtk_container_get_children(GTK_CONTAINER(box));
    for (GList* l = children; l; l = l->next) {
        GtkWidget* bar = GTK_WIDGET(l->data);
        if (!GTK_IS_MENU_BAR(bar) || !gtk_widget_get_visible(bar)) continue;
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height(bar, &minimum, &natural);
        height = std::max(natural, gtk_widget_get_allocated_height(bar));
    }
    g_list_free(children);
    return height;
}

// Gives a window's client area (below its menu bar) the face's size. A
// window the user may resize can be made smaller than that: the size is the
// window's, not a minimum of its client area.
static void window_size_set(View* view, int32_t width, int32_t height) {
    GtkWindow* window = GTK_WINDOW(view->widget);
    if (gtk_window_get_resizable(window)) {
        gtk_widget_set_size_request(view->container, -1, -1);
        height += window_bar_height(view);
    } else {
        gtk_widget_set_size_request(view->container, width, height);
    }
    gtk_window_resize(window, std::max(width, 1), std::max(height, 1));
}

static void window_make(View* view, int32_t width, int32_t height) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    view->widget = window;
    view->container = face_container_new(view, true);
    // The menu bar sits above the client area, which keeps the face's size.
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    if (GtkWidget* bar = menu_bar_make(view)) gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(box), view->container, TRUE, TRUE, 0);
    gtk_widget_show(box);
    uint32_t flags = view->face_flags;
    gtk_window_set_resizable(GTK_WINDOW(window), (flags & FACE_FLAG_RESIZE) != 0);
    if (flags & (FACE_FLAG_NO_TITLE | FACE_FLAG_NO_BORDER)) gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    if (flags & FACE_FLAG_POPUP) gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_UTILITY);
    if (flags & FACE_FLAG_NO_BUTTONS) gtk_window_set_deletable(GTK_WINDOW(window), FALSE);
    if (flags & FACE_FLAG_MODAL) {
        gtk_window_set_modal(GTK_WINDOW(window), TRUE);
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* l = toplevels; l; l = l->next)
            if (GTK_IS_WINDOW(l->data) && gtk_window_is_active(GTK_WINDOW(l->data)) && l->data != window)
                gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(l->data));
        g_list_free(toplevels);
    }
    if (flags & FACE_FLAG_FULLSCREEN) gtk_window_fullscreen(GTK_WINDOW(window));
    Cell text = face_field(&view->face, FACE_OBJ_TEXT);
    if (string_family_q(cell_type(&text))) gtk_window_set_title(GTK_WINDOW(window), string_utf8(&text).c_str());
    window_size_set(view, width, height);
    gtk_widget_set_can_focus(view->container, TRUE);
}

// Native widgets are drawn in their faces' rectangles, which follow the
// metrics of the layout dialect; the theme's paddings and minimum sizes are
// cut down to fit them.
static const char NATIVE_CSS[] =
    ".kel-face button, button.kel-face { min-height: 0; min-width: 0; padding: 1px 4px; }\n"
    ".kel-face entry, entry.kel-face { min-height: 0; padding: 0 4px; }\n"
    "scale.kel-face { min-height: 0; min-width: 0; padding: 3px; }\n"
    "scale.kel-face slider { min-height: 14px; min-width: 14px; margin: -5px; }\n"
    "progressbar.kel-face trough, progressbar.kel-face progress { min-width: 0; min-height: 0; }\n"
    "progressbar.kel-face trough { min-height: 4px; }\n";

static void native_style_apply(GtkWidget* widget) {
    static bool installed = false;
    if (!installed) {
        installed = true;
        GtkCssProvider* provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider, NATIVE_CSS, -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(provider);
    }
    gtk_style_context_add_class(gtk_widget_get_style_context(widget), "kel-face");
}

// Makes the widgets of the view by its type; false when they cannot be made.
static bool widgets_make(View* view, View* parent, int32_t width, int32_t height) {
    const FaceTypeHooks* hooks = face_type_hooks(view->type);
    if (hooks && hooks->make) return hooks->make(view, parent, width, height) && view->widget;
    switch (view->type) {
    case FACE_TYPE_WINDOW: window_make(view, width, height); return true;
    default:
        view->widget = view->container = face_container_new(view, false);
        if (view->type == FACE_TYPE_BASE || view->type == FACE_TYPE_RICH_TEXT) {
            Cell color = face_field(&view->face, FACE_OBJ_COLOR);
            bool opaque = cell_type(&color) == T_TUPLE && (tuple_count(&color) < 4 || tuple_byte(&color, 3) == 0);
            if (!opaque) view->view_bits |= VIEW_BIT_LAYERED;
        }
        if (view->face_flags & FACE_FLAG_FOCUSABLE) gtk_widget_set_can_focus(view->widget, TRUE);
        return true;
    }
}

// Places a child view's widget in its parent's container at the face's offset.
static void view_place(View* view, View* parent) {
    double x = 0, y = 0;
    face_offset(view, &x, &y);
    view->x = dpi_scale(x);
    view->y = dpi_scale(y);
    if (view->type == FACE_TYPE_WINDOW) {
        Cell offset = face_field(&view->face, FACE_OBJ_OFFSET);
        if (cell_type(&offset) != T_NONE) gtk_window_move(GTK_WINDOW(view->widget), view->x, view->y);
        return;
    }
    if (parent && parent->container) gtk_fixed_put(GTK_FIXED(parent->container), view->widget, view->x, view->y);
}

// OS-make-view: the new view's id, 0 when its widgets could not be made.
static ViewId view_make(const Cell* face, View* parent) {
    FaceType type = face_type_of(face);
    if (type == FACE_TYPE_UNKNOWN || type == FACE_TYPE_SCREEN) {
        Cell word = face_field(face, FACE_OBJ_TYPE);
        error_raise(ERR_FACE_TYPE, &word);
    }
    Cell flags = face_field(face, FACE_OBJ_FLAGS);
    uint32_t bits = face_flags_bits(&flags);
    Cell rate = face_field(face, FACE_OBJ_RATE);
    rate_period(&rate);  // a bad rate or menu fails before anything is made
    Cell menu = face_field(face, FACE_OBJ_MENU);
    menu_tree_of(&menu);

    View* view = view_new(face, type);
    view->face_flags = bits;
    view->parent = parent ? parent->id : 0;
    double w = 0, h = 0;
    face_size(view, &w, &h);
    if (type == FACE_TYPE_WINDOW) {
        if (w < 0) w = 200;
        if (h < 0) h = 200;
    }
    int32_t width = dpi_scale(w), height = dpi_scale(h);
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (!widgets_make(view, parent, width, height)) {
        std::fputs("*** View Error: CreateWindowEx failed!\n", stdout);
        view_free(view);
        return 0;
    }
    ViewId id = view->id;
    view_attach_widget(view, view->widget);
    view_attach_widget(view, view->container);
    if (type != FACE_TYPE_WINDOW && view->widget != view->container) native_style_apply(view->widget);
    if (type != FACE_TYPE_WINDOW) gtk_widget_set_size_request(view->widget, width, height);
    view->width = type == FACE_TYPE_WINDOW ? -1 : width;
    view->height = type == FACE_TYPE_WINDOW ? -1 : height;
    view_place(view, parent);
    view_input_connect(view, type == FACE_TYPE_WINDOW ? view->container : view->widget);
    if (type == FACE_TYPE_WINDOW) view_window_connect(view);
    Cell value = face_field(face, FACE_OBJ_ENABLED_Q);
    if (cell_type(&value) == T_LOGIC && !logic_get(&value)) gtk_widget_set_sensitive(view->widget, FALSE);
    if (type == FACE_TYPE_BASE && caret_option_q(face)) view->view_bits |= VIEW_BIT_CARET;
    if (type != FACE_TYPE_WINDOW && view_shown_q(view)) gtk_widget_show(view->widget);
    if (type != FACE_TYPE_WINDOW && type != FACE_TYPE_BASE && type != FACE_TYPE_RICH_TEXT &&
        type != FACE_TYPE_PANEL && view->widget != view->container)
        widget_font_apply(view->widget, face);
    font_state_mark(face);
    g_signal_connect(view->container ? view->container : view->widget, "realize", G_CALLBACK(on_realize_cursor),
                     GUINT_TO_POINTER(id));
    cursor_set(view);
    if ((view = view_get(id))) rate_set(view);
    return id;
}

// platform-make-view face parent
static void routine_make_view() {
    backend_require();
    const Cell* parent_handle = data_stack.args + 1;
    View* parent = handle_type_index(parent_handle) == HANDLE_WINDOW ? view_get(handle_value(parent_handle)) : nullptr;
    ViewId id = view_make(data_stack.args, parent);
    handle_push(id, HANDLE_WINDOW);
}

// ---- updating a view -------------------------------------------------------------------------

static void offset_apply(View* view) {
    double x = 0, y = 0;
    if (!face_offset(view, &x, &y)) return;
    if (view->type == FACE_TYPE_WINDOW) {
        // A shown window keeps its old position until the window system
        // reports the move, which then sends the move event.
        if (!gtk_widget_get_visible(view->widget)) {
            view->x = dpi_scale(x);
            view->y = dpi_scale(y);
        }
        gtk_window_move(GTK_WINDOW(view->widget), dpi_scale(x), dpi_scale(y));
        return;
    }
    view->x = dpi_scale(x);
    view->y = dpi_scale(y);
    View* parent = view_get(view->parent);
    if (parent && parent->container && gtk_widget_get_parent(view->widget) == parent->container)
        gtk_fixed_move(GTK_FIXED(parent->container), view->widget, view->x, view->y);
}

static void size_apply(View* view) {
    double w = 0, h = 0;
    face_size(view, &w, &h);
    int32_t width = std::max(dpi_scale(w), 0), height = std::max(dpi_scale(h), 0);
    if (view->type == FACE_TYPE_WINDOW) {
        window_size_set(view, width, height);
        return;
    }
    view->width = width;
    view->height = height;
    gtk_widget_set_size_request(view->widget, width, height);
}

static void visible_apply(View* view) {
    Cell visible = face_field(&view->face, FACE_OBJ_VISIBLE_Q);
    bool show = view->type == FACE_TYPE_WINDOW ? truthy(&visible) : view_shown_q(view);
    if (view->type == FACE_TYPE_WINDOW) {
        if (show && !gtk_widget_get_visible(view->widget)) view->show_pending = true;
        if (!show) gtk_widget_hide(view->widget);
        return;
    }
    if (show) gtk_widget_show(view->widget);
    else gtk_widget_hide(view->widget);
}

static void text_apply(View* view) {
    Cell text = face_field(&view->face, FACE_OBJ_TEXT);
    std::string utf8 = string_family_q(cell_type(&text)) ? string_utf8(&text) : std::string();
    if (view->type == FACE_TYPE_WINDOW) gtk_window_set_title(GTK_WINDOW(view->widget), utf8.c_str());
}

// Puts the children's widgets in pane order, so the last one is on top.
static void pane_order(View* view) {
    if (!view->container) return;
    Cell pane = face_field(&view->face, FACE_OBJ_PANE);
    if (cell_type(&pane) != T_BLOCK) return;
    CellRoot held(pane);
    for (uint32_t i = uint32_t(std::max(series_index(&held.cell), 0));; i++) {
        SeriesBuffer* buffer = series_buffer(series_node(&held.cell));
        if (i >= buffer->length()) break;
        View* child = face_view(block_cells(buffer) + i);
        if (!child || child->type == FACE_TYPE_WINDOW || !child->widget) continue;
        if (gtk_widget_get_parent(child->widget) != view->container) continue;
        g_object_ref(child->widget);
        gtk_container_remove(GTK_CONTAINER(view->container), child->widget);
        gtk_fixed_put(GTK_FIXED(view->container), child->widget, child->x, child->y);
        g_object_unref(child->widget);
    }
}

// A window's menu bar made again from its menu (removed when the menu is no
// menu bar any more); a bad menu raises its error before the old bar goes.
static void window_menu_set(View* window) {
    Cell menu = face_field(&window->face, FACE_OBJ_MENU);
    menu_tree_of(&menu);
    GtkWidget* box = gtk_bin_get_child(GTK_BIN(window->widget));
    GList* children = gtk_container_get_children(GTK_CONTAINER(box));
    for (GList* l = children; l; l = l->next)
        if (GTK_IS_MENU_BAR(l->data)) gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free(children);
    if (GtkWidget* bar = menu_bar_make(window)) {
        gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(box), bar, 0);
    }
}

// A window's `selected` face gets the keyboard focus (none: the window itself).
static void window_focus_selected(View* window) {
    Cell selected = face_field(&window->face, FACE_OBJ_SELECTED);
    View* target = cell_type(&selected) == T_OBJECT ? face_view(&selected) : nullptr;
    if (target && target != window && target->widget) {
        window->focused = target->id;
        GtkWidget* widget = widget_focus_target(target);
        // A face that holds faces takes the focus when it is given it.
        if (widget == target->container) gtk_widget_set_can_focus(widget, TRUE);
        gtk_widget_grab_focus(widget);
    } else {
        window->focused = 0;
        gtk_window_set_focus(GTK_WINDOW(window->widget), nullptr);
    }
}

// The pending change bits of a face, from its state block; false when it has none.
static bool changes_get(const Cell* face, uint32_t* bits) {
    Cell state = face_field(face, FACE_OBJ_STATE);
    if (cell_type(&state) != T_BLOCK) return false;
    SeriesBuffer* buffer = series_buffer(series_node(&state));
    uint32_t index = uint32_t(std::max(series_index(&state), 0)) + FACE_STATE_CHANGES;
    if (index >= buffer->length()) return false;
    const Cell* cell = block_cells(buffer) + index;
    if (cell_type(cell) != T_INTEGER) return false;
    *bits = uint32_t(integer_get(cell));
    return true;
}

static void changes_set(const Cell* face, uint32_t bits) {
    Cell state = face_field(face, FACE_OBJ_STATE);
    if (cell_type(&state) != T_BLOCK) return;
    SeriesBuffer* buffer = series_buffer(series_node(&state));
    uint32_t index = uint32_t(std::max(series_index(&state), 0)) + FACE_STATE_CHANGES;
    if (index >= buffer->length()) return;
    Cell* cell = block_cells(buffer) + index;
    cell_init(cell, T_INTEGER);
    integer_make_at(cell, int32_t(bits));
}

// The order pending changes are applied in.
static const FaceField UPDATE_ORDER[] = {
    FACE_OBJ_OFFSET, FACE_OBJ_SIZE, FACE_OBJ_TEXT, FACE_OBJ_DATA, FACE_OBJ_ENABLED_Q,
    FACE_OBJ_VISIBLE_Q, FACE_OBJ_SELECTED, FACE_OBJ_FLAGS, FACE_OBJ_DRAW, FACE_OBJ_COLOR,
    FACE_OBJ_PANE, FACE_OBJ_RATE, FACE_OBJ_FONT, FACE_OBJ_PARA, FACE_OBJ_MENU, FACE_OBJ_IMAGE,
    FACE_OBJ_OPTIONS,
};

// Applies the pending changes of a face but those of keep; the pending bits
// become those of keep only when everything was applied, so a change that
// raised an error stays pending.
static void view_update(View* view, uint32_t keep) {
    if (view->type == FACE_TYPE_RICH_TEXT) rich_box_mark_stale(&view->face);
    uint32_t pending = 0;
    if (!changes_get(&view->face, &pending)) return;
    ViewId id = view->id;
    CellRoot face(view->face);
    const FaceTypeHooks* hooks = face_type_hooks(view->type);
    uint32_t apply = pending & ~keep;
    for (FaceField field : UPDATE_ORDER) {
        uint32_t bit = face_bit(field);
        if (!(apply & bit)) continue;
        switch (field) {
        case FACE_OBJ_OFFSET: offset_apply(view); break;
        case FACE_OBJ_SIZE: size_apply(view); break;
        case FACE_OBJ_TEXT: text_apply(view); break;
        case FACE_OBJ_ENABLED_Q: {
            Cell enabled = face_field(&face.cell, FACE_OBJ_ENABLED_Q);
            gtk_widget_set_sensitive(view->widget, truthy(&enabled));
            if (view->view_bits & VIEW_BIT_CARET) visible_apply(view);
            break;
        }
        case FACE_OBJ_VISIBLE_Q: visible_apply(view); break;
        case FACE_OBJ_FLAGS: {
            Cell flags = face_field(&face.cell, FACE_OBJ_FLAGS);
            view->face_flags = face_flags_bits(&flags);
            break;
        }
        case FACE_OBJ_SELECTED:
            if (view->type == FACE_TYPE_WINDOW) window_focus_selected(view);
            break;
        case FACE_OBJ_PANE: pane_order(view); break;
        case FACE_OBJ_RATE: rate_set(view); break;
        case FACE_OBJ_FONT:
            font_state_mark(&face.cell);
            if (!(view = view_get(id))) return;
            if (view->widget != view->container) widget_font_apply(view->widget, &face.cell);
            break;
        case FACE_OBJ_OPTIONS: cursor_set(view); break;
        case FACE_OBJ_MENU:
            if (view->type == FACE_TYPE_WINDOW) window_menu_set(view);
            break;
        default: break;
        }
        if (hooks && hooks->update) hooks->update(view, bit);
        if (!(view = view_get(id))) return;
        if (field == FACE_OBJ_DRAW || field == FACE_OBJ_COLOR || field == FACE_OBJ_TEXT ||
            field == FACE_OBJ_IMAGE || field == FACE_OBJ_FONT || field == FACE_OBJ_PARA || field == FACE_OBJ_DATA)
            if (view->container) gtk_widget_queue_draw(view->container);
    }
    changes_set(&face.cell, pending & keep);
}

// The datatype of a value, raised as invalid-type.
[[noreturn]] static void invalid_type_raise(const Cell* value) {
    error_raise_type(ERR_INVALID_TYPE, cell_type(value));
}

// Applies a face's pending changes to its view; a rich-text face that is not
// shown has only its kept text layout, which a change puts out of date.
static void face_update(const Cell* face) {
    if (View* view = face_view(face))
        view_update(view, 0);
    else if (face_type_of(face) == FACE_TYPE_RICH_TEXT)
        rich_box_mark_stale(face);
}

// platform-update-view face: one face, or a block of faces.
static void routine_update_view() {
    const Cell* arg = data_stack.args;
    if (cell_type(arg) == T_BLOCK) {
        CellRoot faces(*arg);
        uint32_t from = uint32_t(std::max(series_index(arg), 0));
        SeriesBuffer* buffer = series_buffer(series_node(arg));
        for (uint32_t i = from; i < buffer->length(); i++) {
            const Cell* value = block_cells(buffer) + i;
            if (cell_type(value) != T_OBJECT) invalid_type_raise(value);
        }
        for (uint32_t i = from;; i++) {
            SeriesBuffer* b = series_buffer(series_node(&faces.cell));
            if (i >= b->length()) break;
            Cell face = block_cells(b)[i];
            face_update(&face);
        }
    } else if (cell_type(arg) == T_OBJECT) {
        if (face_type_of(arg) != FACE_TYPE_SCREEN) face_update(arg);
    } else {
        invalid_type_raise(arg);
    }
    none_make_at(stack_box_new(T_NONE));
}

// Puts the widgets of the face's pane children into its container (and
// takes out those of children that left), then orders them.
static void pane_sync(View* view) {
    if (!view->container) return;
    ViewId id = view->id;
    CellRoot pane(face_field(&view->face, FACE_OBJ_PANE));
    bool block = cell_type(&pane.cell) == T_BLOCK;
    // Taking widgets out may run event handlers: the pane is read afresh each time.
    auto in_pane = [&](View* child) {
        if (!block) return false;
        SeriesBuffer* buffer = series_buffer(series_node(&pane.cell));
        const Cell* cells = block_cells(buffer);
        for (uint32_t i = uint32_t(std::max(series_index(&pane.cell), 0)); i < buffer->length(); i++)
            if (face_view(&cells[i]) == child) return true;
        return false;
    };
    GList* children = gtk_container_get_children(GTK_CONTAINER(view->container));
    for (GList* l = children; l; l = l->next) {
        View* child = view_of_widget(GTK_WIDGET(l->data));
        if (!child || child->parent != id || in_pane(child)) continue;
        child->parent = 0;
        GtkWidget* widget = child->widget;
        g_object_ref(widget);
        gtk_widget_hide(widget);
        if (View* owner = view_get(id)) gtk_container_remove(GTK_CONTAINER(owner->container), widget);
        g_object_unref(widget);
    }
    g_list_free(children);
    if (!block) return;
    for (uint32_t i = uint32_t(std::max(series_index(&pane.cell), 0));; i++) {
        view = view_get(id);
        SeriesBuffer* buffer = series_buffer(series_node(&pane.cell));
        if (!view || i >= buffer->length()) break;
        View* child = face_view(block_cells(buffer) + i);
        if (!child || child->type == FACE_TYPE_WINDOW || !child->widget) continue;
        if (gtk_widget_get_parent(child->widget) == view->container) continue;
        g_object_ref(child->widget);
        if (GtkWidget* old = gtk_widget_get_parent(child->widget)) gtk_container_remove(GTK_CONTAINER(old), child->widget);
        gtk_fixed_put(GTK_FIXED(view->container), child->widget, child->x, child->y);
        g_object_unref(child->widget);
        child->parent = id;
        Cell visible = face_field(&child->face, FACE_OBJ_VISIBLE_Q);
        if (truthy(&visible)) gtk_widget_show(child->widget);
    }
    if ((view = view_get(id))) pane_order(view);
}

// platform-on-change-facet owner word value action new index part
static void routine_on_change_facet() {
    View* view = face_view(data_stack.args);
    if (view) {
        ViewId id = view->id;
        const Cell* word = data_stack.args + 1;
        uint32_t field_symbol = symbol_resolve(word_symbol(word));
        if (field_symbol == symbol_resolve(symbol_make("pane"))) {
            pane_sync(view);
        } else {
            const FaceTypeHooks* hooks = face_type_hooks(view->type);
            const Cell* action = data_stack.args + 3;
            const Cell* new_value = cell_type(data_stack.args + 4) == T_NONE ? nullptr : data_stack.args + 4;
            bool handled = hooks && hooks->update_facet &&
                           hooks->update_facet(view, word, data_stack.args + 2, symbol_resolve(word_symbol(action)),
                                               new_value, integer_get(data_stack.args + 5),
                                               integer_get(data_stack.args + 6));
            if (!handled && (view = view_get(id))) view_update(view, 0);
        }
    }
    none_make_at(stack_box_new(T_NONE));
}

// ---- releasing a view ---------------------------------------------------------------------

// Removes the face from the parent block of its font or para.
static void sub_unlink(const Cell* face, FaceField field, uint32_t parent_slot) {
    Cell sub = face_field(face, field);
    if (cell_type(&sub) != T_OBJECT) return;
    Cell parents = face_field(&sub, parent_slot);
    if (cell_type(&parents) != T_BLOCK) return;
    CellRoot held(parents);
    block_remove_value(&held.cell, face, true);
}

// Releases the face's view and those of its pane, recursively; the widgets
// are left to the caller, which destroys the top one.
static void view_release(const Cell* face_cell, int depth) {
    View* view = face_view(face_cell);
    if (!view || depth > 1000) return;
    CellRoot face(view->face);
    if (view->type == FACE_TYPE_WINDOW && view->widget) gtk_widget_hide(view->widget);
    if (view->timer) g_source_remove(view->timer);
    view->timer = 0;
    sub_unlink(&face.cell, FACE_OBJ_FONT, FONT_OBJ_PARENT);
    sub_unlink(&face.cell, FACE_OBJ_PARA, PARA_OBJ_PARENT);
    ViewId id = view->id;
    Cell pane = face_field(&face.cell, FACE_OBJ_PANE);
    if (cell_type(&pane) == T_BLOCK) {
        CellRoot held(pane);
        for (uint32_t i = uint32_t(std::max(series_index(&held.cell), 0));; i++) {
            SeriesBuffer* buffer = series_buffer(series_node(&held.cell));
            if (i >= buffer->length()) break;
            Cell child = block_cells(buffer)[i];
            CellRoot child_root(child);
            view_release(&child_root.cell, depth + 1);
        }
    }
    if (!(view = view_get(id))) return;
    const FaceTypeHooks* hooks = face_type_hooks(view->type);
    if (hooks && hooks->destroy) hooks->destroy(view);
    if (!(view = view_get(id))) return;
    if (view->render && view->render_free) view->render_free(view->render);
    view->render = nullptr;
    if (view->cursor) g_object_unref(view->cursor);
    view->cursor = nullptr;
    if (view->type == FACE_TYPE_WINDOW) {
        Cell none;
        cell_init(&none, T_NONE);
        face_field_set(&face.cell, FACE_OBJ_SELECTED, &none);
    }
    Cell none;
    cell_init(&none, T_NONE);
    face_field_set(&face.cell, FACE_OBJ_STATE, &none);
    view_free(view);
}

// platform-destroy-view face empty?
static void routine_destroy_view() {
    bool empty = logic_true(data_stack.args + 1);
    View* view = face_view(data_stack.args);
    if (view) {
        GtkWidget* widget = view->widget;
        if (widget) g_object_ref(widget);
        view_release(data_stack.args, 0);
        if (widget) {
            gtk_widget_destroy(widget);
            g_object_unref(widget);
        }
        if (empty) loop_exit_owed();
    }
    none_make_at(stack_box_new(T_NONE));
}

// ---- showing and redrawing ----------------------------------------------------------------

static View* handle_view(const Cell* handle) {
    return cell_type(handle) == T_HANDLE && handle_type_index(handle) == HANDLE_WINDOW ? view_get(handle_value(handle)) : nullptr;
}

// platform-show-window id
static void routine_show_window() {
    View* view = handle_view(data_stack.args);
    if (view && view->widget) {
        view->show_pending = false;
        if (view->container) gtk_widget_show(view->container);
        // A window being shown already (an actor run while it is mapped)
        // has no native window to present yet.
        bool mapping = gtk_widget_get_visible(view->widget) && !gtk_widget_get_realized(view->widget);
        gtk_widget_show(view->widget);
        if (view->type == FACE_TYPE_WINDOW && !mapping) {
            gtk_window_present(GTK_WINDOW(view->widget));
            // The face the window was given as its focused one (the layout's
            // focus option) takes the keyboard focus.
            Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
            if (cell_type(&selected) == T_OBJECT) window_focus_selected(view);
        }
    }
    none_make_at(stack_box_new(T_NONE));
}

// platform-refresh-window h: the window is painted at GTK's next frame.
static void routine_refresh_window() {
    View* view = handle_view(data_stack.args);
    if (view && view->widget) gtk_widget_queue_draw(view->widget);
    none_make_at(stack_box_new(T_NONE));
}

// platform-redraw face
static void routine_redraw() {
    View* view = face_view(data_stack.args);
    if (view && view->widget) gtk_widget_queue_draw(view->container ? view->container : view->widget);
    none_make_at(stack_box_new(T_NONE));
}

// platform-draw-face face cmds: draws on the face while it paints (from a
// drawing event); outside its paint there is nothing to draw on.
static void routine_draw_face() {
    View* view = face_view(data_stack.args);
    if (view && painting_view == view->id && painting_cr && cell_type(data_stack.args + 1) == T_BLOCK) {
        double w, h;
        view_size_logical(view, &w, &h);
        draw_face(painting_cr, data_stack.args, data_stack.args + 1, w, h);
    }
    none_make_at(stack_box_new(T_NONE));
}

// ---- face captures ------------------------------------------------------------------------

// Copies a cairo ARGB32 surface (premultiplied) into a new image in out.
static void image_from_surface(cairo_surface_t* surface, Cell* out) {
    cairo_surface_flush(surface);
    int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    image_make_at(out, uint32_t(w), uint32_t(h));
    const uint8_t* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    uint32_t* pixels = image_pixels(out);
    for (int y = 0; y < h && pixels; y++) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
        for (int x = 0; x < w; x++) {
            uint32_t p = row[x], a = p >> 24;
            if (a == 0) {
                pixels[size_t(y) * w + x] = 0;
                continue;
            }
            auto straight = [a](uint32_t c) { return (c * 255 + a / 2) / a; };
            pixels[size_t(y) * w + x] = (a << 24) | (straight((p >> 16) & 0xFF) << 16) |
                                        (straight((p >> 8) & 0xFF) << 8) | straight(p & 0xFF);
        }
    }
}

// face-to-image face: the picture of a shown face, or none.
static void routine_face_to_image() {
    const Cell* face = data_stack.args;
    FaceType type = face_type_of(face);
    if (type == FACE_TYPE_SCREEN) {
        double w = 0, h = 0;
        Cell size = face_field(face, FACE_OBJ_SIZE);
        planar_get(&size, &w, &h);
        GdkWindow* root = gui_display_open() ? gdk_get_default_root_window() : nullptr;
        GdkPixbuf* pixbuf = root && w > 0 && h > 0 ? gdk_pixbuf_get_from_window(root, 0, 0, dpi_scale(w), dpi_scale(h)) : nullptr;
        if (!pixbuf) {
            none_make_at(stack_box_new(T_NONE));
            return;
        }
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, gdk_pixbuf_get_width(pixbuf),
                                                              gdk_pixbuf_get_height(pixbuf));
        cairo_t* cr = cairo_create(surface);
        gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        g_object_unref(pixbuf);
        CellRoot image;
        image_from_surface(surface, &image.cell);
        cairo_surface_destroy(surface);
        cell_copy(&image.cell, stack_box_new(T_NONE));
        return;
    }
    View* view = face_view(face);
    if (!view || !view->widget) {
        none_make_at(stack_box_new(T_NONE));
        return;
    }
    GtkWidget* widget = view->container ? view->container : view->widget;
    // Sizes changed since GTK last laid the window out are applied first.
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    if (GTK_IS_WINDOW(toplevel) && gtk_widget_get_visible(toplevel))
        gtk_container_check_resize(GTK_CONTAINER(toplevel));
    int w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
    if (type != FACE_TYPE_BASE && (w <= 0 || h <= 0 || !gtk_widget_get_realized(widget))) {
        none_make_at(stack_box_new(T_NONE));
        return;
    }
    // At a scale above 1 the image holds the pixels the screen shows, not
    // the face's logical size.
    int factor = std::max(gtk_widget_get_scale_factor(widget), 1);
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(w, 0) * factor, std::max(h, 0) * factor);
    cairo_surface_set_device_scale(surface, factor, factor);
    cairo_t* cr = cairo_create(surface);
    if (type == FACE_TYPE_BASE) {
        // The face's own paint (colour, image, text, draw block), whatever
        // lies behind it on the screen.
        CellRoot held(*face);
        paint_face(cr, &held.cell, dpi_unscale(w), dpi_unscale(h), false);
    } else {
        // A window shows the theme's background where its face paints none.
        if (type == FACE_TYPE_WINDOW)
            gtk_render_background(gtk_widget_get_style_context(view->widget), cr, 0, 0, w, h);
        gtk_widget_draw(widget, cr);
    }
    cairo_destroy(cr);
    CellRoot image;
    image_from_surface(surface, &image.cell);
    cairo_surface_destroy(surface);
    cell_copy(&image.cell, stack_box_new(T_NONE));
}

// ---- text --------------------------------------------------------------------------------

// platform-size-text face value: the size of the value (or the face's text)
// in the face's font, as a point2D!; none when the text is not a string.
static void routine_size_text() {
    const Cell* face = data_stack.args;
    const Cell* value = data_stack.args + 1;
    uint8_t t = cell_type(value);
    if (t != T_NONE && !string_family_q(t)) invalid_type_raise(value);
    CellRoot text(t == T_NONE ? face_field(face, FACE_OBJ_TEXT) : *value);
    if (cell_type(&text.cell) != T_STRING) {
        none_make_at(stack_box_new(T_NONE));
        return;
    }
    CellRoot font(face_field(face, FACE_OBJ_FONT));
    double w = 0, h = 0;
    text_size(&font.cell, &text.cell, 0, &w, &h);
    Cell* out = stack_box_new(T_NONE);
    point2d_init(out, w, h);
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-make-view", gui_fn(routine_make_view)},
    {"platform-update-view", gui_fn(routine_update_view)},
    {"platform-on-change-facet", gui_fn(routine_on_change_facet)},
    {"platform-destroy-view", gui_fn(routine_destroy_view)},
    {"platform-show-window", gui_fn(routine_show_window)},
    {"platform-refresh-window", gui_fn(routine_refresh_window)},
    {"platform-redraw", gui_fn(routine_redraw)},
    {"platform-draw-face", gui_fn(routine_draw_face)},
    {"face-to-image", gui_fn(routine_face_to_image)},
    {"platform-size-text", gui_fn(routine_size_text)},
};
const GuiExportTable WINDOWS_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
