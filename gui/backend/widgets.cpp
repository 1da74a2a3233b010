// The native widgets of faces: buttons, toggles, check boxes and radio
// buttons, text labels, fields and areas, text lists, drop-lists and
// drop-downs, progress bars, sliders, calendars, group boxes, tab panels, and
// the base and rich-text faces the backend paints itself. Each type's hooks
// make its GTK widget, push the face's facets into it, and read the user's
// changes back into the face before sending the face its event.
#include "gui/backend/backend.hpp"
#include "gui/backend/draw.hpp"
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "gui/event.hpp"
#include "core/block.hpp"
#include "core/logic.hpp"
#include "core/ownership.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/word.hpp"
#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "datatypes/image.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include <iterator>

namespace kel {

// ---- common helpers -----------------------------------------------------------------------

// True while the backend itself changes a widget, so that the widget's
// change signals do not come back as user events.
static bool widgets_updating = false;

struct UpdateScope {
    bool saved;
    UpdateScope() : saved(widgets_updating) { widgets_updating = true; }
    ~UpdateScope() { widgets_updating = saved; }
};

// The view of a signal's widget, or null while the backend updates widgets.
static View* signal_view(GtkWidget* widget) {
    return widgets_updating ? nullptr : view_of_widget(widget);
}

// Sends an event of the type to the view's face; an argument of select and
// change events (an index, or -1) travels as the event's picked value.
// Answers the verdict's symbol. The hub keeps every error inside.
static uint32_t signal_event_send(View* view, uint32_t type, int32_t argument) {
    Cell picked;
    integer_make_at(&picked, argument);
    return widget_event_send(view, uint8_t(type), type == EVT_CLICK ? nullptr : &picked);
}

// The face's text as UTF-8, "" when it is not a string.
static std::string face_text(const View* view) {
    Cell text = face_field(&view->face, FACE_OBJ_TEXT);
    return cell_type(&text) == T_STRING ? string_utf8(&text) : std::string();
}

// Writes UTF-8 text into the face's text field as a new string, unless the
// face already holds that text. The new string is owned by the face as the
// old one was, so that its later in-place edits keep reaching the face.
static void face_text_store(View* view, const char* utf8) {
    CellRoot old(face_field(&view->face, FACE_OBJ_TEXT));
    if (cell_type(&old.cell) == T_STRING && string_utf8(&old.cell) == utf8) return;
    CellRoot face(view->face);
    CellRoot text;
    string_load(reinterpret_cast<const uint8_t*>(utf8), uint32_t(std::strlen(utf8)), ENCODING_UTF8, &text.cell);
    CellRoot word;
    word_make_at(&word.cell, T_WORD, symbol_make("text"));
    if (cell_type(&old.cell) == T_STRING) ownership_clear_deep(&old.cell);
    face_field_set(&face.cell, FACE_OBJ_TEXT, &text.cell);
    ownership_set_object(&text.cell, &face.cell, &word.cell);
}

static void face_logic_store(View* view, uint32_t field, bool value) {
    Cell logic;
    logic_make_at(&logic, value);
    face_field_set(&view->face, field, &logic);
}

static void face_integer_store(View* view, uint32_t field, int32_t value) {
    Cell number;
    integer_make_at(&number, value);
    face_field_set(&view->face, field, &number);
}

// True when the face's options block holds the key (a set-word spelled as
// name) followed by a value, which is copied into out.
static bool face_option(const View* view, const char* name, Cell* out) {
    Cell options = face_field(&view->face, FACE_OBJ_OPTIONS);
    if (cell_type(&options) != T_BLOCK) return false;
    SeriesBuffer* b = series_buffer_of(&options);
    const Cell* cells = block_cells(b);
    for (uint32_t i = uint32_t(series_index(&options)); i + 1 < b->length(); i += 2) {
        if (cell_type(cells + i) == T_SET_WORD && word_named_q(cells + i, name)) {
            *out = cells[i + 1];
            return true;
        }
    }
    return false;
}

// Values of a data block that become items of a list.
static bool item_value_q(const Cell* value) {
    switch (cell_type(value)) {
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: return true;
    default: return false;
    }
}

// Values of a data block about to leave it: count values from the buffer
// index from (nothing when count is 0).
struct ItemsLeaving {
    uint32_t from = 0;
    uint32_t count = 0;
};

// Calls fn with each value of a list's data block from its position, as the
// block will be once the values leaving it are gone: values leaving before
// the position bring later ones up to it.
template <typename Fn> static void data_values_each(const View* view, ItemsLeaving leaving, Fn fn) {
    Cell data = face_field(&view->face, FACE_OBJ_DATA);
    if (cell_type(&data) != T_BLOCK) return;
    SeriesBuffer* b = series_buffer_of(&data);
    const Cell* cells = block_cells(b);
    uint32_t from = uint32_t(series_index(&data));
    if (leaving.count && leaving.from < from) from += leaving.count;
    for (uint32_t i = from; i < b->length(); i++)
        if (i < leaving.from || i - leaving.from >= leaving.count) fn(cells + i);
}

// The items of a list's data block as UTF-8: strings, files, urls, tags,
// emails and refs (with strings_only, strings alone); other values and the
// values leaving are skipped.
static std::vector<std::string> face_items(const View* view, bool strings_only, ItemsLeaving leaving = {}) {
    std::vector<std::string> items;
    data_values_each(view, leaving, [&](const Cell* value) {
        if (strings_only ? cell_type(value) == T_STRING : item_value_q(value)) items.push_back(string_utf8(value));
    });
    return items;
}

// The rows a list shows for its data block (once the values leaving are
// gone): one per value when every value from the block's position is an
// item, else -1 (some values are not rows).
static int32_t list_rows_of(const View* view, ItemsLeaving leaving = {}) {
    Cell data = face_field(&view->face, FACE_OBJ_DATA);
    if (cell_type(&data) != T_BLOCK) return -1;
    int32_t rows = 0;
    data_values_each(view, leaving, [&](const Cell* value) {
        if (rows >= 0) rows = item_value_q(value) ? rows + 1 : -1;
    });
    return rows;
}

// The number in a face's data as a fraction: float or percent, else 0.
static double face_fraction(const View* view) {
    Cell data = face_field(&view->face, FACE_OBJ_DATA);
    if (cell_type(&data) != T_FLOAT && cell_type(&data) != T_PERCENT) return 0.0;
    return std::clamp(float_get(&data), 0.0, 1.0);
}

static bool face_flag(const View* view, FaceFlag flag) { return (view->face_flags & flag) != 0; }

// Font and para of a widget whose text the face shows. An area shows its
// vertical bar once its text is taller than it is, and a horizontal bar only
// when its lines do not wrap.
static void widget_text_style(View* view, GtkWidget* widget) {
    widget_font_apply(widget, &view->face);
    widget_para_apply(widget, &view->face, view->type);
    if (view->type == FACE_TYPE_AREA) {
        Cell para = face_field(&view->face, FACE_OBJ_PARA);
        bool wraps = para_layout("area", &para).wrap;
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(view->widget),
                                       wraps ? GTK_POLICY_NEVER : GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    }
}

// ---- buttons, toggles, check boxes, radio buttons --------------------------------------------

static void button_label_set(View* view);

// The button's image from the face's image: an image!, or the first image of
// a block of images.
static void button_image_set(View* view) {
    Cell image = face_field(&view->face, FACE_OBJ_IMAGE);
    if (cell_type(&image) == T_BLOCK) {
        SeriesBuffer* b = series_buffer_of(&image);
        image = uint32_t(series_index(&image)) < b->length() ? block_cells(b)[uint32_t(series_index(&image))] : none_cell;
    }
    GdkPixbuf* pixbuf = cell_type(&image) == T_IMAGE ? pixbuf_from_image(&image) : nullptr;
    gtk_button_set_image(GTK_BUTTON(view->widget), pixbuf ? gtk_image_new_from_pixbuf(pixbuf) : nullptr);
    if (pixbuf) {
        gtk_button_set_always_show_image(GTK_BUTTON(view->widget), TRUE);
        g_object_unref(pixbuf);
    }
    button_label_set(view);
}

// A radio button is alone in its toolkit group with a hidden partner: the
// partner is active while the face is not picked, so a radio with no data
// shows unpicked, and picking a face's radio unpicks its own partner only.
// Which radios exclude each other is the GUI layer's business (its radio
// handler), as with radio buttons that do not check themselves.
static GtkWidget* radio_partner(View* view) { return static_cast<GtkWidget*>(view->widget_data); }

// The check state from the face's data: indeterminate for a tri-state check
// whose data is none, unchecked for none and false, checked otherwise.
static void check_state_set(View* view) {
    UpdateScope scope;
    Cell data = face_field(&view->face, FACE_OBJ_DATA);
    GtkToggleButton* button = GTK_TOGGLE_BUTTON(view->widget);
    bool indeterminate = view->type == FACE_TYPE_CHECK && face_flag(view, FACE_FLAG_TRI_STATE) &&
                         cell_type(&data) == T_NONE;
    bool active = !indeterminate && !logic_false(&data);
    if (view->type == FACE_TYPE_RADIO && !active) {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radio_partner(view)), TRUE);
        return;
    }
    gtk_toggle_button_set_inconsistent(button, indeterminate);
    gtk_toggle_button_set_active(button, active);
}

// The face's data from the check state: none when indeterminate, else the logic.
static void check_state_read(View* view) {
    GtkToggleButton* button = GTK_TOGGLE_BUTTON(view->widget);
    if (gtk_toggle_button_get_inconsistent(button)) face_field_set(&view->face, FACE_OBJ_DATA, &none_cell);
    else face_logic_store(view, FACE_OBJ_DATA, gtk_toggle_button_get_active(button));
}

static void button_clicked(GtkButton* button, gpointer) {
    if (View* view = signal_view(GTK_WIDGET(button))) signal_event_send(view, EVT_CLICK, 0);
}

static void toggle_toggled(GtkToggleButton* button, gpointer) {
    View* view = signal_view(GTK_WIDGET(button));
    if (!view) return;
    if (view->type == FACE_TYPE_CHECK && face_flag(view, FACE_FLAG_TRI_STATE)) {
        // A tri-state check cycles unchecked, checked, indeterminate.
        Cell data = face_field(&view->face, FACE_OBJ_DATA);
        UpdateScope scope;
        if (cell_type(&data) == T_NONE) {
            gtk_toggle_button_set_inconsistent(button, FALSE);
            gtk_toggle_button_set_active(button, FALSE);
        } else if (logic_false(&data)) {
            gtk_toggle_button_set_active(button, TRUE);
        } else {
            gtk_toggle_button_set_inconsistent(button, TRUE);
        }
    }
    check_state_read(view);
    // A click picks a radio (the user cannot unpick one): the GUI layer turns
    // the click into the change of the picked face.
    if (view->type != FACE_TYPE_RADIO) signal_event_send(view, EVT_CHANGE, 0);
    else if (gtk_toggle_button_get_active(button)) signal_event_send(view, EVT_CLICK, 0);
}

// A button's text marks the letter of its keyboard shortcut with "&". A
// button with an image shows the image alone, centred, without its text.
static void button_label_set(View* view) {
    GtkButton* button = GTK_BUTTON(view->widget);
    bool image = gtk_button_get_image(button) != nullptr;
    gtk_button_set_label(button, image ? nullptr : mnemonic_label(face_text(view)).c_str());
    gtk_button_set_use_underline(button, TRUE);
}

static bool button_make(View* view, View*, int32_t width, int32_t height) {
    switch (view->type) {
    case FACE_TYPE_BUTTON: view->widget = gtk_button_new(); break;
    case FACE_TYPE_TOGGLE: view->widget = gtk_toggle_button_new(); break;
    case FACE_TYPE_CHECK: view->widget = gtk_check_button_new(); break;
    default: {
        view->widget = gtk_radio_button_new(nullptr);
        GtkWidget* partner = gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(view->widget));
        view->widget_data = g_object_ref_sink(partner);
        break;
    }
    }
    button_label_set(view);
    gtk_widget_set_size_request(view->widget, width, height);
    if (view->type == FACE_TYPE_BUTTON || view->type == FACE_TYPE_TOGGLE) button_image_set(view);
    if (view->type != FACE_TYPE_BUTTON) {
        // An unattached radio button starts active; the face's data decides.
        check_state_set(view);
        g_signal_connect(view->widget, "toggled", G_CALLBACK(toggle_toggled), nullptr);
    } else {
        g_signal_connect(view->widget, "clicked", G_CALLBACK(button_clicked), nullptr);
    }
    widget_text_style(view, view->widget);
    return true;
}

static void button_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_TEXT)) {
        button_label_set(view);
        widget_text_style(view, view->widget);
    } else if (bit == face_bit(FACE_OBJ_IMAGE) && view->type != FACE_TYPE_CHECK && view->type != FACE_TYPE_RADIO) {
        button_image_set(view);
    } else if (bit == face_bit(FACE_OBJ_DATA) && view->type != FACE_TYPE_BUTTON) {
        check_state_set(view);
    } else if (bit == face_bit(FACE_OBJ_FONT) || bit == face_bit(FACE_OBJ_PARA)) {
        widget_text_style(view, view->widget);
    }
}

static void button_destroy(View* view) {
    if (view->type != FACE_TYPE_RADIO || !view->widget_data) return;
    GtkWidget* partner = radio_partner(view);
    view->widget_data = nullptr;
    gtk_widget_destroy(partner);
    g_object_unref(partner);
}

static const FaceTypeHooks button_hooks = {button_make, button_update, nullptr, button_destroy};
KEL_GUI_FACE_TYPE(FACE_TYPE_BUTTON, button_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_TOGGLE, button_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_CHECK, button_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_RADIO, button_hooks);

// ---- text, field, area ------------------------------------------------------------------------

// The text view of an area (its widget is the scrolled window around it).
static GtkTextView* area_text_view(View* view) {
    return GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(view->widget)));
}

static void field_changed(GtkEditable* editable, gpointer) {
    View* view = signal_view(GTK_WIDGET(editable));
    if (!view) return;
    face_text_store(view, gtk_entry_get_text(GTK_ENTRY(editable)));
    signal_event_send(view, EVT_CHANGE, -1);
}

static void area_changed(GtkTextBuffer* buffer, gpointer data) {
    View* view = widgets_updating ? nullptr : view_get(GPOINTER_TO_UINT(data));
    if (!view) return;
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    face_text_store(view, text);
    g_free(text);
    signal_event_send(view, EVT_CHANGE, -1);
}

// The selection of a field or area as the face's selected: none when empty,
// else the pair start+1 x end in characters.
static void edit_selection_read(View* view) {
    int start = 0, end = 0;
    if (view->type == FACE_TYPE_FIELD) {
        gtk_editable_get_selection_bounds(GTK_EDITABLE(view->widget), &start, &end);
    } else {
        GtkTextIter a, b;
        gtk_text_buffer_get_selection_bounds(gtk_text_view_get_buffer(area_text_view(view)), &a, &b);
        start = gtk_text_iter_get_offset(&a);
        end = gtk_text_iter_get_offset(&b);
    }
    if (start == end) {
        face_field_set(&view->face, FACE_OBJ_SELECTED, &none_cell);
        return;
    }
    Cell pair;
    pair_init(&pair, start + 1, end);
    face_field_set(&view->face, FACE_OBJ_SELECTED, &pair);
}

// The face's selected (a pair start x end, 1-based) applied to the widget.
static void edit_selection_apply(View* view) {
    Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
    if (cell_type(&selected) != T_PAIR) return;
    int start = pair_x(&selected) - 1, end = pair_y(&selected);
    if (start < 0) start = 0;
    UpdateScope scope;
    if (view->type == FACE_TYPE_FIELD) {
        gtk_editable_select_region(GTK_EDITABLE(view->widget), start, end);
    } else {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(area_text_view(view));
        GtkTextIter a, b;
        gtk_text_buffer_get_iter_at_offset(buffer, &a, start);
        gtk_text_buffer_get_iter_at_offset(buffer, &b, end);
        gtk_text_buffer_select_range(buffer, &a, &b);
    }
}

void widget_selection_apply(View* view) {
    if (view->type == FACE_TYPE_FIELD || view->type == FACE_TYPE_AREA) edit_selection_apply(view);
}

// An entry given the focus from the keyboard selects its whole text as it
// takes it; the face's selected range is applied after that.
static void field_grab_focus(GtkWidget*, gpointer data) {
    if (View* view = view_get(GPOINTER_TO_UINT(data))) edit_selection_apply(view);
}

static gboolean edit_selection_event(GtkWidget* widget, GdkEvent*, gpointer data) {
    View* view = view_get(GPOINTER_TO_UINT(data));
    if (view && !widgets_updating) {
        edit_selection_read(view);
        signal_event_send(view, EVT_SELECT, 0);
    }
    return FALSE;
}

static void edit_text_set(View* view) {
    UpdateScope scope;
    std::string text = face_text(view);
    switch (view->type) {
    case FACE_TYPE_TEXT: gtk_label_set_text(GTK_LABEL(view->widget), text.c_str()); break;
    case FACE_TYPE_FIELD: gtk_entry_set_text(GTK_ENTRY(view->widget), text.c_str()); break;
    default: gtk_text_buffer_set_text(gtk_text_view_get_buffer(area_text_view(view)), text.c_str(), -1); break;
    }
}

static bool edit_make(View* view, View*, int32_t width, int32_t height) {
    GtkWidget* styled;
    switch (view->type) {
    case FACE_TYPE_TEXT:
        view->widget = styled = gtk_label_new(nullptr);
        break;
    case FACE_TYPE_FIELD: {
        view->widget = styled = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(styled), 1);  // the face's size decides the width
        if (face_flag(view, FACE_FLAG_PASSWORD)) gtk_entry_set_visibility(GTK_ENTRY(styled), FALSE);
        Cell hint;
        if (face_option(view, "hint", &hint) && cell_type(&hint) == T_STRING)
            gtk_entry_set_placeholder_text(GTK_ENTRY(styled), string_utf8(&hint).c_str());
        g_signal_connect(styled, "changed", G_CALLBACK(field_changed), nullptr);
        g_signal_connect_after(styled, "grab-focus", G_CALLBACK(field_grab_focus), GUINT_TO_POINTER(view->id));
        break;
    }
    default: {
        view->widget = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(view->widget), GTK_SHADOW_IN);
        styled = gtk_text_view_new();
        gtk_container_add(GTK_CONTAINER(view->widget), styled);
        gtk_widget_show(styled);  // the common part shows only the outer widget
        view_attach_widget(view, styled);
        g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(styled)), "changed",
                         G_CALLBACK(area_changed), GUINT_TO_POINTER(view->id));
        Cell tabs;
        if (face_option(view, "tabs", &tabs) && cell_type(&tabs) == T_INTEGER && cell_int(&tabs) > 0) {
            PangoTabArray* stops = pango_tab_array_new_with_positions(1, TRUE, PANGO_TAB_LEFT, cell_int(&tabs) * 8);
            gtk_text_view_set_tabs(GTK_TEXT_VIEW(styled), stops);
            pango_tab_array_free(stops);
        }
        break;
    }
    }
    if (view->type != FACE_TYPE_TEXT) {
        gtk_widget_add_events(styled, GDK_KEY_RELEASE_MASK | GDK_BUTTON_RELEASE_MASK);
        g_signal_connect(styled, "key-release-event", G_CALLBACK(edit_selection_event), GUINT_TO_POINTER(view->id));
        g_signal_connect(styled, "button-release-event", G_CALLBACK(edit_selection_event),
                         GUINT_TO_POINTER(view->id));
    }
    gtk_widget_set_size_request(view->widget, width, height);
    edit_text_set(view);
    widget_text_style(view, styled);
    if (view->type != FACE_TYPE_TEXT) edit_selection_apply(view);
    return true;
}

static GtkWidget* edit_styled(View* view) {
    return view->type == FACE_TYPE_AREA ? GTK_WIDGET(area_text_view(view)) : view->widget;
}

static void edit_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_TEXT)) edit_text_set(view);
    else if (bit == face_bit(FACE_OBJ_SELECTED) && view->type != FACE_TYPE_TEXT) edit_selection_apply(view);
    else if (bit == face_bit(FACE_OBJ_FONT) || bit == face_bit(FACE_OBJ_PARA)) widget_text_style(view, edit_styled(view));
    else if (bit == face_bit(FACE_OBJ_DATA) && view->type == FACE_TYPE_TEXT) edit_text_set(view);
    else if (bit == face_bit(FACE_OBJ_FLAGS) && view->type == FACE_TYPE_FIELD) {
        // A field that becomes a password field masks its text at once and
        // takes the focus.
        bool password = face_flag(view, FACE_FLAG_PASSWORD);
        if (bool(gtk_entry_get_visibility(GTK_ENTRY(view->widget))) == password) {
            gtk_entry_set_visibility(GTK_ENTRY(view->widget), !password);
            gtk_widget_grab_focus(view->widget);
        }
    }
}

static const FaceTypeHooks edit_hooks = {edit_make, edit_update, nullptr, nullptr};
KEL_GUI_FACE_TYPE(FACE_TYPE_TEXT, edit_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_FIELD, edit_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_AREA, edit_hooks);

// ---- text lists, drop-lists, drop-downs ---------------------------------------------------------

// The user selected item n (0-based): unless the face's selected already is
// n + 1, sends select with the 1-based index; then, unless a handler changed
// the selection or the face was released meanwhile, stores selected := n + 1
// and, when the verdict was not stop, sends change with the same index.
static void list_selection_changed(View* view, int32_t n) {
    Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
    if (cell_type(&selected) == T_INTEGER && cell_int(&selected) == n + 1) return;
    ViewId id = view->id;
    uint32_t verdict = signal_event_send(view, EVT_SELECT, n + 1);
    view = view_get(id);
    if (!view) return;
    Cell after = face_field(&view->face, FACE_OBJ_SELECTED);
    if (cell_type(&after) == T_INTEGER && cell_int(&after) != cell_int(&selected)) return;
    face_integer_store(view, FACE_OBJ_SELECTED, n + 1);
    if (symbol_resolve(verdict) != symbol_resolve(symbol_make("stop"))) signal_event_send(view, EVT_CHANGE, n + 1);
}

// A text list is a tree view over a list store of one text column, inside a
// scrolled window. Its rows all take the height of the first (fixed height
// mode), so an append, insert or removal costs in proportion to the rows it
// touches, not to the rows the list already holds.
static GtkTreeView* text_list_view(View* view) { return GTK_TREE_VIEW(gtk_bin_get_child(GTK_BIN(view->widget))); }

static GtkListStore* text_list_store(GtkTreeView* tree) { return GTK_LIST_STORE(gtk_tree_view_get_model(tree)); }

static int text_list_count(GtkTreeView* tree) {
    return gtk_tree_model_iter_n_children(gtk_tree_view_get_model(tree), nullptr);
}

// The selected row (0-based), or -1.
static int text_list_selected_row(GtkTreeView* tree) {
    GtkTreeModel* model;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(tree), &model, &iter)) return -1;
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    int n = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return n;
}

// Selects row n, or no row when there is no such row. With reveal, row n
// also takes the cursor and is scrolled into view, as a key moving the
// selection does; a selection made by the program leaves the scrolling as it is.
static void text_list_select(GtkTreeView* tree, int n, bool reveal = false) {
    GtkTreeSelection* selection = gtk_tree_view_get_selection(tree);
    if (n < 0 || n >= text_list_count(tree)) {
        gtk_tree_selection_unselect_all(selection);
        return;
    }
    GtkTreePath* path = gtk_tree_path_new_from_indices(n, -1);
    if (reveal) gtk_tree_view_set_cursor(tree, path, nullptr, FALSE);
    else gtk_tree_selection_select_path(selection, path);
    gtk_tree_path_free(path);
}

static void text_list_selected(GtkTreeSelection* selection, gpointer) {
    GtkTreeView* tree = gtk_tree_selection_get_tree_view(selection);
    View* view = signal_view(GTK_WIDGET(tree));
    int n = view ? text_list_selected_row(tree) : -1;
    if (n >= 0) list_selection_changed(view, n);
}

// A tree view taking the focus with no row under its cursor would select its
// first row; a text list taking the focus selects nothing, so its rows refuse
// every change of the selection while it takes the focus.
static bool text_list_focusing = false;

static gboolean text_list_may_select(GtkTreeSelection*, GtkTreeModel*, GtkTreePath*, gboolean, gpointer) {
    return !text_list_focusing;
}

static void text_list_focus_taking(GtkWidget*, gpointer) { text_list_focusing = true; }
static void text_list_focus_taken(GtkWidget*, gpointer) { text_list_focusing = false; }

// The keys of a focused text list move its selection: Up and Down by one
// item (Down with none selected picks the first), Page Up and Page Down by
// the items in view, Home and End to the ends. The item chosen is scrolled
// into view and selected as by a click.
static gboolean text_list_key(GtkWidget* widget, GdkEventKey* e, gpointer) {
    View* view = signal_view(widget);
    if (!view) return FALSE;
    GtkTreeView* tree = GTK_TREE_VIEW(widget);
    int count = text_list_count(tree);
    if (count == 0) return FALSE;
    int current = text_list_selected_row(tree);
    GdkRectangle row, visible;
    GtkTreePath* first = gtk_tree_path_new_first();
    gtk_tree_view_get_background_area(tree, first, nullptr, &row);
    gtk_tree_path_free(first);
    gtk_tree_view_get_visible_rect(tree, &visible);
    int page = std::max(visible.height / std::max(row.height, 1) - 1, 1);
    int next;
    switch (e->keyval) {
    case GDK_KEY_Up: case GDK_KEY_KP_Up: next = current < 0 ? 0 : current - 1; break;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: next = current + 1; break;
    case GDK_KEY_Page_Up: case GDK_KEY_KP_Page_Up: next = current - page; break;
    case GDK_KEY_Page_Down: case GDK_KEY_KP_Page_Down: next = current + page; break;
    case GDK_KEY_Home: case GDK_KEY_KP_Home: next = 0; break;
    case GDK_KEY_End: case GDK_KEY_KP_End: next = count - 1; break;
    default: return FALSE;
    }
    next = std::clamp(next, 0, count - 1);
    if (next != current) text_list_select(tree, next, true);
    return TRUE;
}

// The column is as wide as the widest item, so that a long one can be
// scrolled to, and at least as wide as the list (it expands). Widths are
// measured in the list's font: a change of the font measures every item
// again, and so does the first turn of the event loop after the last of the
// widest items left.
struct TextListWidth {
    PangoLayout* layout = nullptr;        // in the font the items were measured in
    PangoFontDescription* font = nullptr;  // that font
    int widest = 0;                       // pixels, the widest item's text
    int widest_rows = 0;                  // the rows that wide
    guint measure = 0;                    // the pending measure's source, or 0
};

static TextListWidth* text_list_width(GtkTreeView* tree) {
    return static_cast<TextListWidth*>(g_object_get_data(G_OBJECT(tree), "kel-text-list-width"));
}

static void text_list_width_free(gpointer data) {
    auto* width = static_cast<TextListWidth*>(data);
    if (width->layout) g_object_unref(width->layout);
    if (width->font) pango_font_description_free(width->font);
    delete width;
}

// The column's width for the widest item: the text, the cell's padding and
// the space the tree view keeps between columns.
static void text_list_width_apply(GtkTreeView* tree, int widest) {
    GtkTreeViewColumn* column = gtk_tree_view_get_column(tree, 0);
    if (!column) return;  // the list was destroyed before a pending measure
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    int xpad = 0;
    if (cells) gtk_cell_renderer_get_padding(GTK_CELL_RENDERER(cells->data), &xpad, nullptr);
    g_list_free(cells);
    gint separator = 0;
    gtk_widget_style_get(GTK_WIDGET(tree), "horizontal-separator", &separator, nullptr);
    gtk_tree_view_column_set_fixed_width(column, std::max(widest + 2 * xpad + separator, 1));
}

// The pixel width of an item's text in the list's font.
static int text_list_item_width(GtkTreeView* tree, const char* item) {
    TextListWidth* width = text_list_width(tree);
    if (!width->layout) width->layout = gtk_widget_create_pango_layout(GTK_WIDGET(tree), nullptr);
    pango_layout_set_text(width->layout, item, -1);
    int w = 0;
    pango_layout_get_pixel_size(width->layout, &w, nullptr);
    return w;
}

// Widens the column for a new item when it is wider than the widest so far.
static void text_list_width_fit(GtkTreeView* tree, const char* item) {
    TextListWidth* width = text_list_width(tree);
    int w = text_list_item_width(tree, item);
    if (w < width->widest) return;
    if (w == width->widest) {
        width->widest_rows++;
        return;
    }
    width->widest = w;
    width->widest_rows = 1;
    text_list_width_apply(tree, w);
}

// Measures every item again: after a reload, or when the list's font changed.
static void text_list_width_measure(GtkTreeView* tree) {
    TextListWidth* width = text_list_width(tree);
    if (width->layout) g_object_unref(width->layout);
    width->layout = nullptr;
    width->widest = width->widest_rows = 0;
    GtkTreeModel* model = gtk_tree_view_get_model(tree);
    if (!model) return;
    GtkTreeIter iter;
    for (bool more = gtk_tree_model_get_iter_first(model, &iter); more; more = gtk_tree_model_iter_next(model, &iter)) {
        gchar* item = nullptr;
        gtk_tree_model_get(model, &iter, 0, &item, -1);
        text_list_width_fit(tree, item ? item : "");
        g_free(item);
    }
    text_list_width_apply(tree, width->widest);
}

static gboolean text_list_width_measure_pending(gpointer data) {
    GtkTreeView* tree = GTK_TREE_VIEW(data);
    text_list_width(tree)->measure = 0;
    text_list_width_measure(tree);
    return G_SOURCE_REMOVE;
}

// An item leaves: when it was the last of the widest, the items are measured
// again once the event loop turns, so that removing many costs one measure.
static void text_list_width_leave(GtkTreeView* tree, const char* item) {
    TextListWidth* width = text_list_width(tree);
    if (width->measure || text_list_item_width(tree, item) < width->widest || --width->widest_rows > 0) return;
    width->measure = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, text_list_width_measure_pending, g_object_ref(tree),
                                     g_object_unref);
}

// A change of style measures the items again when it changed the font.
static void text_list_style_updated(GtkWidget* widget, gpointer) {
    GtkTreeView* tree = GTK_TREE_VIEW(widget);
    TextListWidth* width = text_list_width(tree);
    const PangoFontDescription* font = pango_context_get_font_description(gtk_widget_get_pango_context(widget));
    if (width->font && font && pango_font_description_equal(width->font, font)) return;
    if (width->font) pango_font_description_free(width->font);
    width->font = font ? pango_font_description_copy(font) : nullptr;
    text_list_width_measure(tree);
}

static void list_selection_show(View* view);

// A row of a text list for one item, at row index at (-1: last).
static void text_list_row_insert(GtkTreeView* tree, const std::string& item, int32_t at) {
    gtk_list_store_insert_with_values(text_list_store(tree), nullptr, at, 0, item.c_str(), -1);
    text_list_width_fit(tree, item.c_str());
}

// Takes count rows from row index row away (those there are).
static void text_list_rows_remove(GtkTreeView* tree, int32_t row, uint32_t count) {
    GtkTreeModel* model = gtk_tree_view_get_model(tree);
    GtkTreeIter iter;
    bool more = gtk_tree_model_iter_nth_child(model, &iter, nullptr, row);
    for (uint32_t i = 0; i < count && more; i++) {
        gchar* item = nullptr;
        gtk_tree_model_get(model, &iter, 0, &item, -1);
        text_list_width_leave(tree, item ? item : "");
        g_free(item);
        more = gtk_list_store_remove(GTK_LIST_STORE(model), &iter);
    }
}

// The tree view of a new text list: one text column, no headers, no search
// by typing, rows of one height.
static GtkWidget* text_list_view_new() {
    GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
    GtkWidget* widget = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    GtkTreeView* tree = GTK_TREE_VIEW(widget);
    gtk_tree_view_set_headers_visible(tree, FALSE);
    gtk_tree_view_set_enable_search(tree, FALSE);
    // Rows a line of text and a pixel above and below it high, the text
    // starting a few pixels from the list's left edge.
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    gtk_cell_renderer_set_padding(cell, 0, 1);
    GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes("", cell, "text", 0, nullptr);
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_expand(column, TRUE);
    gtk_tree_view_append_column(tree, column);
    gtk_tree_view_set_fixed_height_mode(tree, TRUE);
    g_object_set_data_full(G_OBJECT(widget), "kel-text-list-width", new TextListWidth, text_list_width_free);
    GtkTreeSelection* selection = gtk_tree_view_get_selection(tree);
    gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
    gtk_tree_selection_set_select_function(selection, text_list_may_select, nullptr, nullptr);
    g_signal_connect(selection, "changed", G_CALLBACK(text_list_selected), nullptr);
    g_signal_connect(widget, "grab-focus", G_CALLBACK(text_list_focus_taking), nullptr);
    g_signal_connect_after(widget, "grab-focus", G_CALLBACK(text_list_focus_taken), nullptr);
    g_signal_connect(widget, "key-press-event", G_CALLBACK(text_list_key), nullptr);
    g_signal_connect(widget, "style-updated", G_CALLBACK(text_list_style_updated), nullptr);
    return widget;
}

// Reloads the items and the selection of a text list. The rows keep the
// place they were scrolled to, as far as the new rows reach.
static void text_list_load(View* view, ItemsLeaving leaving = {}) {
    UpdateScope scope;
    GtkTreeView* tree = text_list_view(view);
    GtkListStore* store = text_list_store(tree);
    gtk_list_store_clear(store);
    for (const std::string& item : face_items(view, false, leaving))
        gtk_list_store_insert_with_values(store, nullptr, -1, 0, item.c_str(), -1);
    text_list_width_measure(tree);
    list_selection_show(view);
    Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
    if (cell_type(&selected) != T_INTEGER) face_integer_store(view, FACE_OBJ_SELECTED, -1);
    view->list_rows = list_rows_of(view, leaving);
}

static GtkComboBoxText* combo_of(View* view) { return GTK_COMBO_BOX_TEXT(view->widget); }

// A drop-list's or drop-down's popup is a list of its items under the
// widget, not a menu: a menu has an item widget per row, each row inserted
// costs in proportion to the rows it holds, and it costs so from the start:
// the combo box reads its style, and leaves the menu, only once it is in a
// window, unless its style is made again at once.
static void combo_list_popup_set(GtkWidget* combo) {
    static GtkCssProvider* provider = nullptr;
    if (!provider) {
        provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider, "* { -GtkComboBox-appears-as-list: true; }", -1, nullptr);
    }
    GtkStyleContext* context = gtk_widget_get_style_context(combo);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(provider), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_style_context_invalidate(context);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

static void combo_changed(GtkComboBox* combo, gpointer) {
    View* view = signal_view(GTK_WIDGET(combo));
    if (!view) return;
    int n = gtk_combo_box_get_active(combo);
    if (n >= 0) {
        if (gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo))) {
            face_text_store(view, text);
            g_free(text);
        }
        list_selection_changed(view, n);
    } else if (view->type == FACE_TYPE_DROP_DOWN) {
        // Typing in a drop-down's entry.
        if (gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo))) {
            face_text_store(view, text);
            g_free(text);
        }
        signal_event_send(view, EVT_CHANGE, -1);
    }
}

// Reloads the items of a drop-list or drop-down; a drop-list (or a face
// without text) selects selected - 1, a drop-down with text shows the text.
static void combo_load(View* view, ItemsLeaving leaving = {}) {
    UpdateScope scope;
    GtkComboBoxText* combo = combo_of(view);
    gtk_combo_box_text_remove_all(combo);
    for (const std::string& item : face_items(view, false, leaving))
        gtk_combo_box_text_append_text(combo, item.c_str());
    list_selection_show(view);
    view->list_rows = list_rows_of(view, leaving);
}

static bool list_make(View* view, View*, int32_t width, int32_t height) {
    if (view->type == FACE_TYPE_TEXT_LIST) {
        view->widget = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(view->widget), GTK_SHADOW_IN);
        GtkWidget* tree = text_list_view_new();
        gtk_container_add(GTK_CONTAINER(view->widget), tree);
        gtk_widget_show(tree);
        view_attach_widget(view, tree);
        gtk_widget_set_size_request(view->widget, width, height);
        text_list_load(view);
    } else {
        view->widget = view->type == FACE_TYPE_DROP_DOWN ? gtk_combo_box_text_new_with_entry()
                                                         : gtk_combo_box_text_new();
        GtkWidget* entry = gtk_bin_get_child(GTK_BIN(view->widget));
        if (entry && GTK_IS_ENTRY(entry)) {
            view_attach_widget(view, entry);
            gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
        }
        // The items keep to the face's width: a long one is cut at its end
        // with an ellipsis instead of widening the widget past its face.
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(view->widget));
        for (GList* l = cells; l; l = l->next)
            if (GTK_IS_CELL_RENDERER_TEXT(l->data)) g_object_set(l->data, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
        g_list_free(cells);
        combo_list_popup_set(view->widget);
        g_signal_connect(view->widget, "changed", G_CALLBACK(combo_changed), nullptr);
        gtk_widget_set_size_request(view->widget, width, height);
        combo_load(view);
        widget_font_apply(view->widget, &view->face);
    }
    return true;
}

// Shows the face's selection: a text list selects row selected - 1 (none
// when there is no such row); a drop-list, or a drop-down without text,
// selects item selected - 1 when selected is an integer; a drop-down with
// text shows the text.
static void list_selection_show(View* view) {
    Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
    int n = cell_type(&selected) == T_INTEGER ? cell_int(&selected) - 1 : -1;
    if (view->type == FACE_TYPE_TEXT_LIST) {
        text_list_select(text_list_view(view), n);
        return;
    }
    Cell text = face_field(&view->face, FACE_OBJ_TEXT);
    if (view->type == FACE_TYPE_DROP_DOWN && cell_type(&text) == T_STRING) {
        GtkWidget* entry = gtk_bin_get_child(GTK_BIN(view->widget));
        gtk_entry_set_text(GTK_ENTRY(entry), string_utf8(&text).c_str());
    } else if (cell_type(&selected) == T_INTEGER) {
        gtk_combo_box_set_active(GTK_COMBO_BOX(view->widget), n);
    }
}

static void list_reload(View* view, ItemsLeaving leaving = {}) {
    if (view->type == FACE_TYPE_TEXT_LIST) text_list_load(view, leaving);
    else combo_load(view, leaving);
}

static void list_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_DATA) || bit == face_bit(FACE_OBJ_FONT)) {
        list_reload(view);
    } else if (bit == face_bit(FACE_OBJ_SELECTED)) {
        UpdateScope scope;
        Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
        int n = cell_type(&selected) == T_INTEGER ? cell_int(&selected) - 1 : -1;
        if (view->type == FACE_TYPE_TEXT_LIST) {
            text_list_select(text_list_view(view), n);
        } else {
            gtk_combo_box_set_active(GTK_COMBO_BOX(view->widget), n);
        }
    } else if (bit == face_bit(FACE_OBJ_TEXT) && view->type == FACE_TYPE_DROP_DOWN) {
        UpdateScope scope;
        GtkWidget* entry = gtk_bin_get_child(GTK_BIN(view->widget));
        gtk_entry_set_text(GTK_ENTRY(entry), face_text(view).c_str());
    }
}

// Actions whose notification comes before the change, with another after it.
static const char* const CHANGE_BEFORE_WORDS[] = {
    "insert", "append", "change", "poke", "put", "move", "reverse", "sort", "swap", "trim", "random",
};

// An in-place change of the data block reloads the items, from the data as
// it is after the change; the list keeps the face's selection. Values that
// leave the block (remove, take, clear) are announced only before they go,
// so that reload leaves them out; other changes reload when they are done.
// A change inside one item's string waits for its after-notification too.
// Values inserted into the data block or leaving it change only their own
// rows when the list shows every value of the block from its position, each
// an item, and the change is at or after that position; the selection then
// stays on its row number, as a reload keeps it.

// The data block when it is the target of a change and the list shows every
// value of it from its position, holding rows values there (after an insert
// that added count values, before a removal: count 0); false otherwise.
static bool list_rows_follow(View* view, const Cell* target, uint32_t at, uint32_t count, uint32_t* from) {
    Cell data = face_field(&view->face, FACE_OBJ_DATA);
    if (view->list_rows < 0 || cell_type(&data) != T_BLOCK || cell_type(target) != T_BLOCK ||
        series_node(target) != series_node(&data))
        return false;
    SeriesBuffer* b = series_buffer_of(&data);
    *from = uint32_t(series_index(&data));
    return at >= *from && b->length() >= *from && b->length() - *from == uint32_t(view->list_rows) + count;
}

// Values inserted (the after-notification: from the buffer index, part
// values) become rows at their place when they are items too; true when
// done so.
static bool list_rows_insert(View* view, const Cell* target, int32_t index, int32_t part) {
    uint32_t from, at = uint32_t(index), count = uint32_t(part);
    if (part <= 0 || index < 0 || !list_rows_follow(view, target, at, count, &from)) return false;
    SeriesBuffer* b = series_buffer_of(target);
    if (at + count > b->length()) return false;
    const Cell* cells = block_cells(b);
    std::vector<std::string> items;
    for (uint32_t i = at; i < at + count; i++) {
        if (!item_value_q(cells + i)) return false;
        items.push_back(string_utf8(cells + i));
    }
    UpdateScope scope;
    int32_t row = int32_t(at - from);
    if (view->type == FACE_TYPE_TEXT_LIST) {
        GtkTreeView* tree = text_list_view(view);
        for (uint32_t i = 0; i < count; i++) text_list_row_insert(tree, items[i], row + int32_t(i));
    } else {
        for (uint32_t i = 0; i < count; i++)
            gtk_combo_box_text_insert_text(combo_of(view), row + int32_t(i), items[i].c_str());
    }
    view->list_rows += int32_t(count);
    // Rows put before the selected one carry the selection down.
    list_selection_show(view);
    return true;
}

// Values about to leave (remove, take, clear: from the buffer index, part
// values) take their rows with them; true when done so.
static bool list_rows_remove(View* view, const Cell* target, int32_t index, int32_t part) {
    uint32_t from, at = uint32_t(index), count = uint32_t(part);
    if (part <= 0 || index < 0 || !list_rows_follow(view, target, at, 0, &from) ||
        at + count > series_buffer_of(target)->length())
        return false;
    UpdateScope scope;
    int32_t row = int32_t(at - from);
    if (view->type == FACE_TYPE_TEXT_LIST) {
        text_list_rows_remove(text_list_view(view), row, count);
    } else {
        for (uint32_t i = 0; i < count; i++) gtk_combo_box_text_remove(combo_of(view), row);
    }
    view->list_rows -= int32_t(count);
    // Rows taken from before the selected one, or the selected one itself,
    // carry the selection up or away.
    list_selection_show(view);
    return true;
}

static bool list_update_facet(View* view, const Cell* word, const Cell* target, uint32_t action, const Cell*,
                              int32_t index, int32_t part) {
    if (!word_named_q(word, "data")) return false;
    for (const char* name : {"inserted", "appended"})
        if (action == symbol_resolve(symbol_make(name)) && list_rows_insert(view, target, index, part)) return true;
    bool leaving = false;
    for (const char* name : {"remove", "take", "clear"})
        if (action == symbol_resolve(symbol_make(name))) leaving = true;
    bool before = leaving;
    for (const char* name : CHANGE_BEFORE_WORDS)
        if (action == symbol_resolve(symbol_make(name))) before = true;
    if (!before) {
        list_reload(view);
    } else if (leaving && cell_type(target) == T_BLOCK && index >= 0 && part > 0) {
        if (!list_rows_remove(view, target, index, part)) list_reload(view, ItemsLeaving{uint32_t(index), uint32_t(part)});
    }
    return true;
}

static const FaceTypeHooks list_hooks = {list_make, list_update, list_update_facet, nullptr};
KEL_GUI_FACE_TYPE(FACE_TYPE_TEXT_LIST, list_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_DROP_LIST, list_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_DROP_DOWN, list_hooks);

// ---- progress and slider -------------------------------------------------------------------------

// A slider taller than wide is vertical; its value counts from the bottom.
static void range_value_set(View* view) {
    UpdateScope scope;
    double fraction = face_fraction(view);
    if (view->type == FACE_TYPE_PROGRESS) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(view->widget), fraction);
    else gtk_range_set_value(GTK_RANGE(view->widget), fraction);
}

static void slider_changed(GtkRange* range, gpointer) {
    View* view = signal_view(GTK_WIDGET(range));
    if (!view) return;
    Cell value;
    float_make_at(&value, gtk_range_get_value(range));
    face_field_set(&view->face, FACE_OBJ_DATA, &value);
    signal_event_send(view, EVT_CHANGE, -1);
}

static bool range_make(View* view, View*, int32_t width, int32_t height) {
    bool vertical = height > width;
    if (view->type == FACE_TYPE_PROGRESS) {
        view->widget = gtk_progress_bar_new();
        if (vertical) {
            gtk_orientable_set_orientation(GTK_ORIENTABLE(view->widget), GTK_ORIENTATION_VERTICAL);
            gtk_progress_bar_set_inverted(GTK_PROGRESS_BAR(view->widget), TRUE);
        }
    } else {
        view->widget = gtk_scale_new_with_range(vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL,
                                                0.0, 1.0, 0.01);
        gtk_scale_set_draw_value(GTK_SCALE(view->widget), FALSE);
        gtk_range_set_inverted(GTK_RANGE(view->widget), vertical);
        g_signal_connect(view->widget, "value-changed", G_CALLBACK(slider_changed), nullptr);
    }
    gtk_widget_set_size_request(view->widget, width, height);
    range_value_set(view);
    return true;
}

static void range_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_DATA) || bit == face_bit(FACE_OBJ_SIZE)) range_value_set(view);
}

static const FaceTypeHooks range_hooks = {range_make, range_update, nullptr, nullptr};
KEL_GUI_FACE_TYPE(FACE_TYPE_PROGRESS, range_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_SLIDER, range_hooks);

// ---- calendar ------------------------------------------------------------------------------------
// The calendar sits at its own size in a scrolled window of the face's size:
// a face smaller than the calendar scrolls it instead of squeezing its
// month, year and weekday names over each other.

static GtkCalendar* calendar_of(View* view) { return GTK_CALENDAR(view->widget_data); }

// The calendar's selection into the face's data, as a date without time.
static void calendar_read(View* view) {
    guint year = 0, month = 0, day = 0;
    gtk_calendar_get_date(calendar_of(view), &year, &month, &day);
    Cell date;
    cell_init(&date, T_DATE);
    date_from_os_time(&date, int32_t(year), int32_t(month) + 1, int32_t(day), 0.0, 0, 0, false);
    face_field_set(&view->face, FACE_OBJ_DATA, &date);
}

// A date in data is shown (its year clamped to 1601..9999); any other data
// is replaced by the calendar's selection.
static void calendar_set(View* view) {
    Cell data = face_field(&view->face, FACE_OBJ_DATA);
    if (cell_type(&data) != T_DATE) {
        calendar_read(view);
        return;
    }
    int32_t year = std::clamp(date_year(date_packed(&data)), 1601, 9999);
    UpdateScope scope;
    gtk_calendar_select_month(calendar_of(view), guint(date_month(date_packed(&data)) - 1), guint(year));
    gtk_calendar_select_day(calendar_of(view), guint(date_day(date_packed(&data))));
}

static void calendar_selected(GtkCalendar* calendar, gpointer) {
    View* view = signal_view(GTK_WIDGET(calendar));
    if (!view) return;
    calendar_read(view);
    signal_event_send(view, EVT_CHANGE, 0);
}

// The toolkit's own width of a calendar lets abbreviated weekday names
// touch: once the calendar can be measured in its window, it asks for 4
// more pixels a column, which it spreads between them.
static void calendar_realized(GtkWidget* calendar, gpointer) {
    int width = 0;
    gtk_widget_get_preferred_width(calendar, nullptr, &width);
    if (width > 0) gtk_widget_set_size_request(calendar, width + 7 * CALENDAR_COLUMN_SPACING, -1);
}

static bool calendar_make(View* view, View*, int32_t width, int32_t height) {
    view->widget = gtk_scrolled_window_new(nullptr, nullptr);
    GtkWidget* calendar = gtk_calendar_new();
    view->widget_data = calendar;
    gtk_container_add(GTK_CONTAINER(view->widget), calendar);
    // The common part shows only the outer widget: the viewport the scrolled
    // window put around the calendar, and the calendar, are shown here.
    gtk_widget_show_all(gtk_bin_get_child(GTK_BIN(view->widget)));
    view_attach_widget(view, calendar);
    g_signal_connect(calendar, "realize", G_CALLBACK(calendar_realized), nullptr);
    gtk_widget_set_size_request(view->widget, width, height);
    calendar_set(view);
    g_signal_connect(calendar, "day-selected", G_CALLBACK(calendar_selected), nullptr);
    return true;
}

static void calendar_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_DATA)) calendar_set(view);
}

static const FaceTypeHooks calendar_hooks = {calendar_make, calendar_update, nullptr, nullptr};
KEL_GUI_FACE_TYPE(FACE_TYPE_CALENDAR, calendar_hooks);

// ---- group box ------------------------------------------------------------------------------------
// The offsets of a group box's faces count from the box's corner: they sit
// in a container over the whole box, above the frame with the title, which
// fills the container (widget_data).

static GtkFrame* group_box_frame(View* view) { return GTK_FRAME(view->widget_data); }

static void group_box_title_set(View* view) {
    std::string title = face_text(view);
    gtk_frame_set_label(group_box_frame(view), title.empty() ? nullptr : title.c_str());
    if (GtkWidget* label = gtk_frame_get_label_widget(group_box_frame(view))) widget_font_apply(label, &view->face);
}

static bool group_box_make(View* view, View*, int32_t width, int32_t height) {
    view->widget = view->container = face_fixed_new(false);
    GtkWidget* frame = gtk_frame_new(nullptr);
    view->widget_data = frame;
    gtk_fixed_put(GTK_FIXED(view->container), frame, 0, 0);
    gtk_widget_set_size_request(frame, width, height);
    gtk_widget_show(frame);
    gtk_widget_set_size_request(view->widget, width, height);
    group_box_title_set(view);
    return true;
}

static void group_box_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_SIZE)) {
        gtk_widget_set_size_request(GTK_WIDGET(group_box_frame(view)), view->width, view->height);
    } else if (bit == face_bit(FACE_OBJ_TEXT) || bit == face_bit(FACE_OBJ_FONT)) {
        group_box_title_set(view);
    }
}

static const FaceTypeHooks group_box_hooks = {group_box_make, group_box_update, nullptr, nullptr};
KEL_GUI_FACE_TYPE(FACE_TYPE_GROUP_BOX, group_box_hooks);

// ---- tab panel -----------------------------------------------------------------------------------
// The tabs are a GtkNotebook whose pages are empty; the face's pages (the
// panels of its pane) sit in the container below the tabs, the selected one
// visible.

static GtkNotebook* tab_notebook(View* view) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(view->widget));
    GtkNotebook* notebook = nullptr;
    for (GList* l = children; l && !notebook; l = l->next)
        if (GTK_IS_NOTEBOOK(l->data)) notebook = GTK_NOTEBOOK(l->data);
    g_list_free(children);
    return notebook;
}

// Shows page n (1-based) of the pane and hides the others, keeping each
// page's visible? in step.
static void tab_pages_show(View* view, int32_t n) {
    Cell pane = face_field(&view->face, FACE_OBJ_PANE);
    if (cell_type(&pane) != T_BLOCK) return;
    uint32_t count = series_buffer_of(&pane)->length();
    for (uint32_t i = uint32_t(series_index(&pane)); i < count; i++) {
        Cell page = block_cells(series_node(&pane))[i];
        bool shown = int32_t(i - uint32_t(series_index(&pane))) == n - 1;
        if (cell_type(&page) != T_OBJECT) continue;
        Cell visible;
        logic_make_at(&visible, shown);
        face_field_set(&page, FACE_OBJ_VISIBLE_Q, &visible);
        if (View* page_view = face_view(&page))
            if (page_view->widget) gtk_widget_set_visible(page_view->widget, shown);
    }
}

// A tab chosen by the user: select, which may veto the change with stop
// (the toolkit then keeps the current tab), then the pages follow and change.
static void tab_switch(GtkNotebook* notebook, GtkWidget*, guint page, gpointer) {
    View* view = signal_view(GTK_WIDGET(notebook));
    if (!view) return;
    ViewId id = view->id;
    uint32_t verdict = signal_event_send(view, EVT_SELECT, int32_t(page) + 1);
    if (symbol_resolve(verdict) == symbol_resolve(symbol_make("stop"))) {
        g_signal_stop_emission_by_name(notebook, "switch-page");
        return;
    }
    if (!(view = view_get(id))) return;
    tab_pages_show(view, int32_t(page) + 1);
    signal_event_send(view, EVT_CHANGE, int32_t(page) + 1);
    if ((view = view_get(id))) face_integer_store(view, FACE_OBJ_SELECTED, int32_t(page) + 1);
}

// Rebuilds the tabs from the strings of data; selected is clamped to the tab
// count and that tab selected (1 when selected is not an integer).
static void tab_load(View* view) {
    GtkNotebook* notebook = tab_notebook(view);
    std::vector<std::string> tabs = face_items(view, true);
    {
        UpdateScope scope;
        while (gtk_notebook_get_n_pages(notebook) > 0) gtk_notebook_remove_page(notebook, -1);
        for (const std::string& tab : tabs) {
            GtkWidget* label = gtk_label_new(tab.c_str());
            widget_font_apply(label, &view->face);
            GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
            gtk_widget_show(page);
            gtk_notebook_append_page(notebook, page, label);
        }
    }
    if (tabs.empty()) return;
    Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
    int32_t n = cell_type(&selected) == T_INTEGER ? std::clamp(cell_int(&selected), 1, int32_t(tabs.size())) : 1;
    {
        UpdateScope scope;
        gtk_notebook_set_current_page(notebook, n - 1);
    }
    face_integer_store(view, FACE_OBJ_SELECTED, n);
    tab_pages_show(view, n);
}

// The pages take the notebook's page area: their faces' offsets (from the
// tab panel's corner) and sizes follow it.
static void tab_pages_placed(GtkWidget*, const GdkRectangle* area, gpointer data) {
    View* view = view_get(GPOINTER_TO_UINT(data));
    if (!view) return;
    Cell pane = face_field(&view->face, FACE_OBJ_PANE);
    if (cell_type(&pane) != T_BLOCK) return;
    for (uint32_t i = uint32_t(series_index(&pane)); i < series_buffer_of(&pane)->length(); i++) {
        Cell page = block_cells(series_node(&pane))[i];
        View* page_view = face_view(&page);
        if (!page_view) continue;
        page_view->x = area->x;
        page_view->y = area->y;
        page_view->width = area->width;
        page_view->height = area->height;
        Cell value;
        cell_init(&value, T_NONE);
        point2d_init(&value, dpi_unscale(area->x), dpi_unscale(area->y));
        face_field_set(&page, FACE_OBJ_OFFSET, &value);
        Cell size = face_field(&page, FACE_OBJ_SIZE);
        double width = dpi_unscale(area->width), height = dpi_unscale(area->height);
        if (cell_type(&size) == T_PAIR) pair_init(&value, int32_t(width), int32_t(height));
        else point2d_init(&value, width, height);
        face_field_set(&page, FACE_OBJ_SIZE, &value);
    }
}

// Left and Right on the focused tabs switch to the tab before or after the
// current one, as a click on it would (select may veto the change).
static gboolean tab_key(GtkWidget* widget, GdkEventKey* e, gpointer) {
    if (widgets_updating || (e->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SHIFT_MASK))) return FALSE;
    GtkNotebook* notebook = GTK_NOTEBOOK(widget);
    int step = 0;
    switch (e->keyval) {
    case GDK_KEY_Left: case GDK_KEY_KP_Left: step = -1; break;
    case GDK_KEY_Right: case GDK_KEY_KP_Right: step = 1; break;
    default: return FALSE;
    }
    if (gtk_widget_get_direction(widget) == GTK_TEXT_DIR_RTL) step = -step;
    int next = gtk_notebook_get_current_page(notebook) + step;
    if (next >= 0 && next < gtk_notebook_get_n_pages(notebook)) gtk_notebook_set_current_page(notebook, next);
    return TRUE;
}

static bool tab_panel_make(View* view, View*, int32_t width, int32_t height) {
    view->widget = view->container = face_fixed_new(false);
    GtkWidget* notebook = gtk_notebook_new();
    gtk_notebook_set_scrollable(GTK_NOTEBOOK(notebook), TRUE);
    face_fixed_set_notebook(view->container, notebook, tab_pages_placed, GUINT_TO_POINTER(view->id));
    view_attach_widget(view, notebook);
    gtk_widget_set_size_request(view->widget, width, height);
    gtk_widget_show_all(view->widget);
    tab_load(view);
    g_signal_connect(notebook, "switch-page", G_CALLBACK(tab_switch), nullptr);
    g_signal_connect(notebook, "key-press-event", G_CALLBACK(tab_key), nullptr);
    return true;
}

static void tab_panel_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_DATA) || bit == face_bit(FACE_OBJ_FONT)) {
        tab_load(view);
    } else if (bit == face_bit(FACE_OBJ_SELECTED)) {
        Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
        if (cell_type(&selected) == T_INTEGER && cell_int(&selected) >= 1 &&
            cell_int(&selected) <= gtk_notebook_get_n_pages(tab_notebook(view)))
            gtk_notebook_set_current_page(tab_notebook(view), cell_int(&selected) - 1);  // as a user would
    } else if (bit == face_bit(FACE_OBJ_PANE)) {
        Cell selected = face_field(&view->face, FACE_OBJ_SELECTED);
        if (cell_type(&selected) == T_INTEGER) tab_pages_show(view, cell_int(&selected));
    }
}

static bool tab_panel_update_facet(View* view, const Cell* word, const Cell*, uint32_t, const Cell*, int32_t,
                                   int32_t) {
    if (!word_named_q(word, "data")) return false;
    tab_load(view);
    return true;
}

static const FaceTypeHooks tab_panel_hooks = {tab_panel_make, tab_panel_update, tab_panel_update_facet, nullptr};
KEL_GUI_FACE_TYPE(FACE_TYPE_TAB_PANEL, tab_panel_hooks);

// ---- base and rich-text --------------------------------------------------------------------------
// Painted by the backend: colour, image, text and the draw block through
// the Draw back end, on a container that also holds the face's children.

// Whether the face shows what lies under it: its colour is none or has a
// non-zero transparency byte.
static bool base_layered_q(const View* view) {
    Cell color = face_field(&view->face, FACE_OBJ_COLOR);
    if (cell_type(&color) == T_NONE) return true;
    return cell_type(&color) == T_TUPLE && tuple_count(&color) >= 4 && tuple_byte(&color, 3) != 0;
}

// A base face paints onto its parent's window, so whatever its colour it
// covers only its own rectangle and shows what lies under it where it paints
// nothing.
static bool base_make(View* view, View*, int32_t width, int32_t height) {
    view->widget = view->container = face_container_new(view, false);
    gtk_widget_set_size_request(view->widget, width, height);
    if (base_layered_q(view)) view->view_bits |= VIEW_BIT_LAYERED;
    if (view->type == FACE_TYPE_RICH_TEXT) view->view_bits |= VIEW_BIT_RICH_TEXT;
    return true;
}

static void base_update(View* view, uint32_t bit) {
    if (bit == face_bit(FACE_OBJ_SIZE)) edge_bars_place(view);
    if (bit == face_bit(FACE_OBJ_COLOR)) {
        if (base_layered_q(view)) view->view_bits |= VIEW_BIT_LAYERED;
        else view->view_bits &= ~uint32_t(VIEW_BIT_LAYERED);
    }
    gtk_widget_queue_draw(view->widget);
}

static const FaceTypeHooks base_hooks = {base_make, base_update, nullptr, nullptr};
KEL_GUI_FACE_TYPE(FACE_TYPE_BASE, base_hooks);
KEL_GUI_FACE_TYPE(FACE_TYPE_RICH_TEXT, base_hooks);

// ---- reading back, fonts and paras ------------------------------------------------------------

void widget_text_read(View* view) {
    switch (view->type) {
    case FACE_TYPE_FIELD:
        face_text_store(view, gtk_entry_get_text(GTK_ENTRY(view->widget)));
        break;
    case FACE_TYPE_AREA: {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(area_text_view(view));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
        face_text_store(view, text);
        g_free(text);
        break;
    }
    case FACE_TYPE_DROP_DOWN:
    case FACE_TYPE_DROP_LIST:
        if (gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(view->widget))) {
            face_text_store(view, text);
            g_free(text);
        }
        break;
    case FACE_TYPE_TEXT:
        face_text_store(view, gtk_label_get_text(GTK_LABEL(view->widget)));
        break;
    default: break;
    }
}

// The first toggle button among a widget's children, internal ones and
// those of its children included.
static void toggle_child_find(GtkWidget* child, gpointer data) {
    GtkWidget** found = static_cast<GtkWidget**>(data);
    if (*found) return;
    if (GTK_IS_TOGGLE_BUTTON(child)) *found = child;
    else if (GTK_IS_CONTAINER(child)) gtk_container_forall(GTK_CONTAINER(child), toggle_child_find, data);
}

GtkWidget* widget_focus_target(View* view) {
    if (!view->widget) return nullptr;
    switch (view->type) {
    case FACE_TYPE_AREA: return GTK_WIDGET(area_text_view(view));
    case FACE_TYPE_TEXT_LIST: return GTK_WIDGET(text_list_view(view));
    case FACE_TYPE_DROP_DOWN: return gtk_bin_get_child(GTK_BIN(view->widget));
    case FACE_TYPE_TAB_PANEL: return GTK_WIDGET(tab_notebook(view));
    case FACE_TYPE_CALENDAR: return GTK_WIDGET(calendar_of(view));
    case FACE_TYPE_DROP_LIST: {
        // The combo box's own button, an internal child.
        GtkWidget* button = nullptr;
        gtk_container_forall(GTK_CONTAINER(view->widget), toggle_child_find, &button);
        return button ? button : view->widget;
    }
    default: return view->container ? view->container : view->widget;
    }
}

// platform-update-text face: the widget's text back into the face's text.
static void update_text() {
    if (View* view = face_view(data_stack.args); view && view->widget) widget_text_read(view);
    none_make_at(stack_box_new(T_NONE));
}

// The widget whose text carries a face's font and para.
static GtkWidget* view_styled_widget(View* view) {
    if (!view->widget) return nullptr;
    if (view->type == FACE_TYPE_AREA) return GTK_WIDGET(area_text_view(view));
    return view->widget;
}

// platform-update-font font flags: every realised face using the font (its
// parent block) takes it again and is redrawn.
static void update_font() {
    Cell parents = face_field(data_stack.args, FONT_OBJ_PARENT);
    if (cell_type(&parents) == T_BLOCK) {
        for (uint32_t i = uint32_t(series_index(&parents)); i < series_buffer_of(&parents)->length(); i++) {
            Cell face = block_cells(series_node(&parents))[i];
            View* view = face_view(&face);
            if (!view || !view->widget) continue;
            const FaceTypeHooks* hooks = face_type_hooks(view->type);
            if (hooks && hooks->update) hooks->update(view, face_bit(FACE_OBJ_FONT));
            else widget_font_apply(view_styled_widget(view), &view->face);
            gtk_widget_queue_draw(view->widget);
        }
    }
    none_make_at(stack_box_new(T_NONE));
}

// platform-update-para face flags: the face's para placed again.
static void update_para() {
    if (View* view = face_view(data_stack.args); view && view->widget) {
        widget_para_apply(view_styled_widget(view), &view->face, view->type);
        gtk_widget_queue_draw(view->widget);
    }
    none_make_at(stack_box_new(T_NONE));
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-update-text", gui_fn(update_text)},
    {"platform-update-font", gui_fn(update_font)},
    {"platform-update-para", gui_fn(update_para)},
};
const GuiExportTable WIDGETS_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
