// Scroll bars: the bars a face shows at its own edges, driven by scroller!
// objects through update-scroller and reporting the user's scrolling as
// scroll events, and the scroller face, a stand-alone bar whose data is the
// position as a fraction of its travel.
#include "gui/backend/backend.hpp"
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "core/logic.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/percent.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace kel {

// Field positions (0-based slots) of a scroller! object.
enum ScrollerField : uint32_t {
    SCROLLER_POSITION = 0, SCROLLER_PAGE_SIZE, SCROLLER_MIN_SIZE, SCROLLER_MAX_SIZE,
    SCROLLER_VISIBLE_Q, SCROLLER_VERTICAL_Q, SCROLLER_PARENT,
};

constexpr int SCROLL_BAR_THICKNESS = 14;  // pixels across an edge bar

static const char* const VBAR_KEY = "kel-vertical-bar";
static const char* const HBAR_KEY = "kel-horizontal-bar";

// ---- the bars at a face's edges ---------------------------------------------------------------

void edge_bars_place(View* view) {
    if (!view->container) return;
    // The face's own size, not the allocation: the bars must never make
    // their face grow.
    int width = view->width, height = view->height;
    if (auto* bar = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(view->container), VBAR_KEY))) {
        gtk_fixed_move(GTK_FIXED(view->container), bar, std::max(0, width - SCROLL_BAR_THICKNESS), 0);
        gtk_widget_set_size_request(bar, SCROLL_BAR_THICKNESS, std::max(1, height));
    }
    if (auto* bar = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(view->container), HBAR_KEY))) {
        gtk_fixed_move(GTK_FIXED(view->container), bar, 0, std::max(0, height - SCROLL_BAR_THICKNESS));
        gtk_widget_set_size_request(bar, std::max(1, width - SCROLL_BAR_THICKNESS), SCROLL_BAR_THICKNESS);
    }
}

// The scroll word of a user's scrolling on a bar.
static const char* scroll_word(GtkScrollType scroll, bool vertical) {
    switch (scroll) {
    case GTK_SCROLL_STEP_BACKWARD: case GTK_SCROLL_STEP_UP: case GTK_SCROLL_STEP_LEFT:
        return vertical ? "up" : "left";
    case GTK_SCROLL_STEP_FORWARD: case GTK_SCROLL_STEP_DOWN: case GTK_SCROLL_STEP_RIGHT:
        return vertical ? "down" : "right";
    case GTK_SCROLL_PAGE_BACKWARD: case GTK_SCROLL_PAGE_UP: case GTK_SCROLL_PAGE_LEFT:
        return vertical ? "page-up" : "page-left";
    case GTK_SCROLL_PAGE_FORWARD: case GTK_SCROLL_PAGE_DOWN: case GTK_SCROLL_PAGE_RIGHT:
        return vertical ? "page-down" : "page-right";
    case GTK_SCROLL_JUMP: return "track";
    default: return "end";
    }
}

// A user's scrolling on an edge bar becomes a scroll event whose key says
// how, whose picked is the position asked for and whose orientation names
// the bar. The face's code moves the bar (update-scroller); the bar does not
// move by itself.
static gboolean edge_bar_scrolled(GtkRange* range, GtkScrollType scroll, gdouble value, gpointer data) {
    View* view = view_get(GPOINTER_TO_UINT(data));
    if (!view) return TRUE;
    bool vertical = gtk_orientable_get_orientation(GTK_ORIENTABLE(range)) == GTK_ORIENTATION_VERTICAL;
    GuiMessage* message = gui_message_new();
    word_make_global(&message->key, symbol_make(scroll_word(scroll, vertical)));
    word_make_global(&message->orientation, symbol_make(vertical ? "vertical" : "horizontal"));
    GtkAdjustment* adjustment = gtk_range_get_adjustment(range);
    double limit = gtk_adjustment_get_upper(adjustment) - gtk_adjustment_get_page_size(adjustment);
    integer_make_at(&message->picked, int32_t(std::lround(std::clamp(value, gtk_adjustment_get_lower(adjustment), limit))));
    make_event(view, message, EVT_SCROLL, 0);
    return TRUE;
}

// The face's edge bar of that direction, made on first use.
static GtkWidget* edge_bar(View* view, bool vertical) {
    if (!view->container) return nullptr;
    const char* key = vertical ? VBAR_KEY : HBAR_KEY;
    if (auto* bar = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(view->container), key))) return bar;
    GtkAdjustment* adjustment = gtk_adjustment_new(1, 1, 2, 1, 1, 1);
    GtkWidget* bar = gtk_scrollbar_new(vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, adjustment);
    gtk_fixed_put(GTK_FIXED(view->container), bar, 0, 0);
    g_object_set_data(G_OBJECT(view->container), key, bar);
    g_signal_connect(bar, "change-value", G_CALLBACK(edge_bar_scrolled), GUINT_TO_POINTER(view->id));
    gtk_widget_show(bar);
    edge_bars_place(view);
    return bar;
}

// A number field of the scroller: an integer or a float (truncated), else fallback.
static double scroller_number(const Cell* scroller, uint32_t field, double fallback) {
    Cell value = face_field(scroller, field);
    if (cell_type(&value) == T_INTEGER) return cell_int(&value);
    if (cell_type(&value) == T_FLOAT) return std::trunc(float_get(&value));
    return fallback;
}

// platform-update-scroller scroller field: applies one changed field of the
// scroller to its parent face's bar: position (0), page-size and max-size
// (1, 3: the range 1 .. max-size with that page), visible? (4); other fields
// do nothing.
static void update_scroller() {
    Cell* scroller = data_stack.args;
    int32_t field = cell_type(scroller + 1) == T_INTEGER ? cell_int(scroller + 1) : -1;
    Cell parent = face_field(scroller, SCROLLER_PARENT);
    View* view = face_view(&parent);
    Cell vertical = face_field(scroller, SCROLLER_VERTICAL_Q);
    GtkWidget* bar = view ? edge_bar(view, !logic_false(&vertical)) : nullptr;
    if (bar) {
        GtkAdjustment* adjustment = gtk_range_get_adjustment(GTK_RANGE(bar));
        switch (field) {
        case SCROLLER_POSITION:
            gtk_adjustment_set_value(adjustment, scroller_number(scroller, SCROLLER_POSITION, 1));
            break;
        case SCROLLER_PAGE_SIZE:
        case SCROLLER_MAX_SIZE: {
            double page = std::max(1.0, scroller_number(scroller, SCROLLER_PAGE_SIZE, 1));
            double max = std::max(1.0, scroller_number(scroller, SCROLLER_MAX_SIZE, 1));
            // The last position shows the last page: max - page + 1.
            gtk_adjustment_configure(adjustment, gtk_adjustment_get_value(adjustment), 1, max + 1, 1, page, page);
            break;
        }
        case SCROLLER_VISIBLE_Q: {
            Cell visible = face_field(scroller, SCROLLER_VISIBLE_Q);
            gtk_widget_set_visible(bar, !logic_false(&visible));
            break;
        }
        default: break;
        }
    }
    none_make_at(stack_box_new(T_NONE));
}

// ---- the scroller face --------------------------------------------------------------------------
// A bar over 0 .. 100 whose thumb is selected (a ratio, 10% when not a
// number) of the travel; data is the position as a fraction 0.0 .. 1.0.

static bool scroller_updating = false;

// The thumb's share of the bar from selected; an unusable one becomes 10%.
static double scroller_ratio(View* view) {
    Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
    double ratio = -1;
    if (cell_type(&selected) == T_INTEGER) ratio = cell_int(&selected);
    else if (cell_type(&selected) == T_FLOAT || cell_type(&selected) == T_PERCENT) ratio = float_get(&selected);
    if (ratio < 0) {
        Cell ten;
        percent_init(&ten, 0.1);
        face_field_set(&view->face, FACE_OBJ_SELECTED, &ten);
        return 0.1;
    }
    return std::min(ratio, 1.0);
}

static void scroller_apply(View* view) {
    double page = std::round(scroller_ratio(view) * 100);
    Cell data = face_field(&view->face, FACE_OBJ_DATA);
    double fraction = cell_type(&data) == T_FLOAT || cell_type(&data) == T_PERCENT
                          ? std::clamp(float_get(&data), 0.0, 1.0) : 0.0;
    scroller_updating = true;
    gtk_adjustment_configure(gtk_range_get_adjustment(GTK_RANGE(view->widget)), fraction * (100 - page), 0, 100,
                             1, std::max(1.0, page), page);
    scroller_updating = false;
}

static void scroller_moved(GtkRange* range, gpointer) {
    View* view = scroller_updating ? nullptr : view_of_widget(GTK_WIDGET(range));
    if (!view) return;
    GtkAdjustment* adjustment = gtk_range_get_adjustment(range);
    double travel = gtk_adjustment_get_upper(adjustment) - gtk_adjustment_get_page_size(adjustment);
    Cell data;
    float_make_at(&data, travel > 0 ? std::clamp(gtk_adjustment_get_value(adjustment) / travel, 0.0, 1.0) : 0.0);
    face_field_set(&view->face, FACE_OBJ_DATA, &data);
    Cell argument;
    integer_make_at(&argument, -1);
    widget_event_send(view, EVT_CHANGE, &argument);
}

static bool scroller_make(View* view, View*, int32_t width, int32_t height) {
    view->widget = gtk_scrollbar_new(height > width ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, nullptr);
    gtk_widget_set_size_request(view->widget, width, height);
    Cell zero;
    float_make_at(&zero, 0.0);
    face_field_set(&view->face, FACE_OBJ_DATA, &zero);
    scroller_apply(view);
    g_signal_connect(view->widget, "value-changed", G_CALLBACK(scroller_moved), nullptr);
    return true;
}

static void scroller_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_DATA) || bit == face_bit(FACE_OBJ_SELECTED)) scroller_apply(view);
}

static const FaceTypeHooks scroller_hooks = {scroller_make, scroller_update, nullptr, nullptr};
KEL_GUI_FACE_TYPE(FACE_TYPE_SCROLLER, scroller_hooks);

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-update-scroller", gui_fn(update_scroller)},
};
const GuiExportTable SCROLLERS_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
