// Faces' fonts and para settings on GTK widgets, the display guard of the
// entries that open windows, and the font dialog behind request-font.
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "gui/dialog_args.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/collector.hpp"

#include <cstdio>
#include <string>
#include <iterator>

namespace kel {

// ---- display ----------------------------------------------------------------------------

bool gui_display_open() {
    if (gdk_display_get_default()) return true;
    static bool tried = false;
    if (!tried) {
        tried = true;
        gtk_disable_setlocale();  // number texts never depend on the C locale
    }
    return gtk_init_check(nullptr, nullptr) && gdk_display_get_default();
}

void gui_display_require() {
    if (gui_display_open()) return;
    static const char text[] = "GUI (no display)";
    CellRoot reason;
    string_load(reinterpret_cast<const uint8_t*>(text), sizeof text - 1, ENCODING_UTF8, &reason.cell);
    error_raise(ERR_NOT_HERE, &reason.cell);
}

// ---- fonts -------------------------------------------------------------------------------

PangoFontDescription* font_pango_description(const FontSpec& spec) {
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, spec.name.c_str());
    pango_font_description_set_size(description, spec.size * PANGO_SCALE);
    pango_font_description_set_weight(description, spec.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(description, spec.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return description;
}

PangoAttrList* font_pango_attributes(const FontSpec& spec) {
    if (!spec.underline && !spec.strike) return nullptr;
    PangoAttrList* list = pango_attr_list_new();
    if (spec.underline) pango_attr_list_insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (spec.strike) pango_attr_list_insert(list, pango_attr_strikethrough_new(TRUE));
    return list;
}

// A CSS colour of a tuple (r.g.b or r.g.b.transparency); false for other values.
static bool css_color(const Cell* color, char* out, size_t size) {
    if (cell_type(color) != T_TUPLE || tuple_count(color) < 3) return false;
    double alpha = tuple_count(color) > 3 ? (255 - tuple_byte(color, 3)) / 255.0 : 1.0;
    std::snprintf(out, size, "rgba(%u,%u,%u,%.3f)", tuple_byte(color, 0), tuple_byte(color, 1),
                  tuple_byte(color, 2), alpha);
    return true;
}

// The CSS of a face's font, font colour and, for the types that show one,
// its background colour; empty when the face sets none of them. Underline
// and strike-through are Pango attributes (font_decorations_apply): CSS
// takes only one of the two.
static std::string font_css(const Cell* face) {
    std::string css;
    Cell font = face_field(face, FACE_OBJ_FONT);
    if (cell_type(&font) == T_OBJECT) {
        FontSpec spec = font_spec_of(&font);
        std::string family;
        for (char c : spec.name)
            if (c != '"' && c != '\\' && c != '\n') family += c;  // keep the CSS string closed
        css = "* { font-family: \"" + family + "\"; font-size: " + std::to_string(spec.size) +
              "pt; font-weight: " + (spec.bold ? "bold" : "normal") +
              "; font-style: " + (spec.italic ? "italic" : "normal") + ";";
        Cell color = face_field(&font, FONT_OBJ_COLOR);
        char rgba[64];
        if (css_color(&color, rgba, sizeof rgba)) css += std::string(" color: ") + rgba + ";";
        css += " }";
    }
    FaceType type = face_type_of(face);
    if (type == FACE_TYPE_TEXT || type == FACE_TYPE_FIELD || type == FACE_TYPE_AREA || type == FACE_TYPE_TEXT_LIST) {
        Cell color = face_field(face, FACE_OBJ_COLOR);
        char rgba[64];
        if (css_color(&color, rgba, sizeof rgba))
            css += std::string(" label, entry, text, list, row:not(:selected), treeview:not(:selected) { "
                               "background-color: ") + rgba +
                   "; background-image: none; }";
    }
    return css;
}

// Replaces the widget's own style provider (kept on the widget) with the CSS.
static void widget_css_set(GtkWidget* widget, const char* key, const std::string& css) {
    GtkStyleContext* context = gtk_widget_get_style_context(widget);
    auto* old = static_cast<GtkCssProvider*>(g_object_get_data(G_OBJECT(widget), key));
    if (old) gtk_style_context_remove_provider(context, GTK_STYLE_PROVIDER(old));
    if (css.empty()) {
        g_object_set_data(G_OBJECT(widget), key, nullptr);
        return;
    }
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_set_data_full(G_OBJECT(widget), key, provider, g_object_unref);
}

// Applies to the widget and, for containers such as buttons, to their children.
static void widget_css_set_deep(GtkWidget* widget, const std::string& css) {
    widget_css_set(widget, "kel-font-css", css);
    if (GTK_IS_CONTAINER(widget) && !GTK_IS_FIXED(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* l = children; l; l = l->next) widget_css_set_deep(GTK_WIDGET(l->data), css);
        g_list_free(children);
    }
}

void font_state_mark(const Cell* face_cell) {
    CellRoot font(face_field(face_cell, FACE_OBJ_FONT));
    if (cell_type(&font.cell) != T_OBJECT) return;
    Cell state = face_field(&font.cell, FONT_OBJ_STATE);
    if (cell_type(&state) == T_BLOCK && block_ks_length_q(&state) > 0 &&
        cell_type(block_ks_abs_at(&state, uint32_t(series_index(&state)))) == T_HANDLE)
        return;
    static uint32_t serial = 0;
    CellRoot block;
    block_make_at(&block.cell, 3);
    handle_make_in(series_node(&block.cell), ++serial, HANDLE_FONT);
    none_make_in(series_node(&block.cell));
    none_make_in(series_node(&block.cell));
    face_field_set(&font.cell, FONT_OBJ_STATE, &block.cell);
}

// Underline and strike-through of the face's font on the text of the
// widget, of the labels inside it and of a tree view's text cells.
static void font_decorations_apply(GtkWidget* widget, PangoAttrList* list) {
    if (GTK_IS_LABEL(widget)) gtk_label_set_attributes(GTK_LABEL(widget), list);
    else if (GTK_IS_ENTRY(widget)) gtk_entry_set_attributes(GTK_ENTRY(widget), list);
    else if (GTK_IS_TREE_VIEW(widget)) {
        GList* columns = gtk_tree_view_get_columns(GTK_TREE_VIEW(widget));
        for (GList* c = columns; c; c = c->next) {
            GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(c->data));
            for (GList* l = cells; l; l = l->next)
                if (GTK_IS_CELL_RENDERER_TEXT(l->data)) g_object_set(l->data, "attributes", list, nullptr);
            g_list_free(cells);
        }
        g_list_free(columns);
        gtk_widget_queue_draw(widget);
    }
    if (GTK_IS_CONTAINER(widget) && !face_fixed_q(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* l = children; l; l = l->next) font_decorations_apply(GTK_WIDGET(l->data), list);
        g_list_free(children);
    }
}

void widget_font_apply(GtkWidget* widget, const Cell* face) {
    if (!widget) return;
    widget_css_set_deep(widget, font_css(face));
    Cell font = face_field(face, FACE_OBJ_FONT);
    PangoAttrList* list = cell_type(&font) == T_OBJECT ? font_pango_attributes(font_spec_of(&font)) : nullptr;
    font_decorations_apply(widget, list);
    if (list) pango_attr_list_unref(list);
}

// ---- para -------------------------------------------------------------------------------

static float text_x_align(TextHorizontal h) { return h == TEXT_LEFT ? 0.0f : h == TEXT_CENTER ? 0.5f : 1.0f; }
static float text_y_align(TextVertical v) { return v == TEXT_TOP ? 0.0f : v == TEXT_MIDDLE ? 0.5f : 1.0f; }

// Places the text of a label.
static void label_para_apply(GtkLabel* label, const ParaLayout& layout) {
    gtk_label_set_xalign(label, text_x_align(layout.h));
    gtk_label_set_yalign(label, text_y_align(layout.v));
    gtk_label_set_justify(label, layout.h == TEXT_LEFT ? GTK_JUSTIFY_LEFT
                                 : layout.h == TEXT_CENTER ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_RIGHT);
    gtk_label_set_line_wrap(label, layout.wrap);
    gtk_label_set_ellipsize(label, layout.ellipsis ? PANGO_ELLIPSIZE_END : PANGO_ELLIPSIZE_NONE);
}

// The label shown by a widget (itself, or the label inside a button), or null.
static GtkLabel* widget_label(GtkWidget* widget) {
    if (GTK_IS_LABEL(widget)) return GTK_LABEL(widget);
    if (GTK_IS_BIN(widget)) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(widget));
        if (child && GTK_IS_LABEL(child)) return GTK_LABEL(child);
    }
    return nullptr;
}

void widget_para_apply(GtkWidget* widget, const Cell* face, FaceType type) {
    if (!widget) return;
    Cell para = face_field(face, FACE_OBJ_PARA);
    ParaLayout layout = para_layout(face_type_name(type), &para);
    if (GtkLabel* label = widget_label(widget)) {
        label_para_apply(label, layout);
        if (GTK_IS_BUTTON(widget) && layout.h != TEXT_CENTER)
            gtk_widget_set_halign(GTK_WIDGET(label), layout.h == TEXT_LEFT ? GTK_ALIGN_START : GTK_ALIGN_END);
    } else if (GTK_IS_ENTRY(widget)) {
        gtk_entry_set_alignment(GTK_ENTRY(widget), text_x_align(layout.h));
    } else if (GTK_IS_TEXT_VIEW(widget)) {
        gtk_text_view_set_justification(GTK_TEXT_VIEW(widget),
                                        layout.h == TEXT_LEFT ? GTK_JUSTIFY_LEFT
                                        : layout.h == TEXT_CENTER ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_RIGHT);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(widget), layout.wrap ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
    }
}

// ---- the font dialog ----------------------------------------------------------------------

// platform-request-font font selected mono?: the font dialog, starting from the
// selected font's settings, else the font's (a 11-point monospace family when
// it names none); the answer is a block [name size style], or none when
// cancelled.
static void request_font() {
    Cell* args = data_stack.args;
    bool mono = cell_type(args + 2) == T_LOGIC && logic_get(args + 2);
    // The selected font when one is given, else the new font object.
    const Cell* start_font = cell_type(args + 1) == T_OBJECT ? args + 1 : args;
    FontSpec spec = font_spec_of(start_font);
    if (cell_type(start_font) != T_OBJECT ||
        cell_type(object_slot_value(start_font, FONT_SLOT_NAME)) != T_STRING) {
        spec.name = "Monospace";
        spec.size = 11;
    }
    gui_display_require();
    // The dialog's template names these types; GtkBuilder finds a type by its
    // name only once it is registered, as the module's libraries are not in
    // the global symbol scope where it would look for them otherwise.
    g_type_ensure(PANGO_TYPE_FONT_FAMILY);
    g_type_ensure(PANGO_TYPE_FONT_FACE);
    g_type_ensure(PANGO_TYPE_FONT_DESCRIPTION);
    GtkWidget* dialog = gtk_font_chooser_dialog_new(nullptr, nullptr);
    PangoFontDescription* start = font_pango_description(spec);
    gtk_font_chooser_set_font_desc(GTK_FONT_CHOOSER(dialog), start);
    pango_font_description_free(start);
    if (mono)
        gtk_font_chooser_set_filter_func(
            GTK_FONT_CHOOSER(dialog),
            [](const PangoFontFamily* family, const PangoFontFace*, gpointer) -> gboolean {
                return pango_font_family_is_monospace(const_cast<PangoFontFamily*>(family));
            },
            nullptr, nullptr);
    gint answer = gtk_dialog_run(GTK_DIALOG(dialog));
    PangoFontDescription* chosen =
        answer == GTK_RESPONSE_OK ? gtk_font_chooser_get_font_desc(GTK_FONT_CHOOSER(dialog)) : nullptr;
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration();
    CellRoot result;
    if (chosen) {
        const char* family = pango_font_description_get_family(chosen);
        font_dialog_answer(family ? family : "", pango_font_description_get_size(chosen) / PANGO_SCALE,
                           pango_font_description_get_weight(chosen) >= PANGO_WEIGHT_BOLD,
                           pango_font_description_get_style(chosen) != PANGO_STYLE_NORMAL, &result.cell);
        pango_font_description_free(chosen);
    }
    stack_set_last_reset(&result.cell);
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-request-font", gui_fn(request_font)},
};
const GuiExportTable FONTS_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
