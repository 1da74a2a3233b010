// Text of the GUI on Pango: layouts of a text in a face's font and para,
// measuring, and the style ranges of
// rich-text faces.
#include "core/series.hpp"
#include "datatypes/pair.hpp"
#include "gui/backend/draw_context.hpp"
#include "gui/backend/widgets.hpp"
#include "core/unicode.hpp"
#include "runtime/collector.hpp"

#include <pango/pangocairo.h>
#include <algorithm>
#include <cmath>
#include <string>

namespace kel {

// Underline and strike-through of a font's style, for the layouts drawn with it.
void font_options(const Cell* font, bool* underline, bool* strike) {
    FontSpec spec = font_spec_of(font);
    *underline = spec.underline;
    *strike = spec.strike;
}

// The Pango context of layouts made without a cairo_t: 96 units to the inch,
// so that a point is 96 / 72 logical units as on a window.
static PangoContext* headless_context() {
    static PangoContext* context = nullptr;
    if (!context) {
        context = pango_font_map_create_context(pango_cairo_font_map_get_default());
        pango_cairo_context_set_resolution(context, 96.0);
    }
    return context;
}


// The Pango context the toolkit's widgets lay their text out in (the
// display's resolution and font options); the headless one without a display.
static PangoContext* widget_context() {
    static PangoContext* context = nullptr;
    if (context) return context;
    if (!gdk_display_get_default()) return headless_context();
    GtkWidget* label = gtk_label_new(nullptr);
    g_object_ref_sink(label);
    context = gtk_widget_create_pango_context(label);
    g_object_unref(label);
    return context;
}

// Gives a layout the text, the font and the para's alignment and wrapping.
static void layout_fill(PangoLayout* layout, const Cell* font, const Cell* text, double width,
                        const ParaLayout& para) {
    FontSpec spec = font_spec_of(font);
    PangoFontDescription* desc = font_pango_description(spec);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    std::string utf8 = text && cell_type(text) == T_STRING ? string_utf8(text) : std::string();
    pango_layout_set_text(layout, utf8.data(), int(utf8.size()));
    pango_layout_set_alignment(layout, para.h == TEXT_CENTER  ? PANGO_ALIGN_CENTER
                                       : para.h == TEXT_RIGHT ? PANGO_ALIGN_RIGHT
                                                              : PANGO_ALIGN_LEFT);
    if (para.wrap && width > 0) {
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_width(layout, int((width + 0.5) * PANGO_SCALE));
    }
    PangoAttrList* list = font_pango_attributes(spec);
    if (!list) list = pango_attr_list_new();
    // A word broken at the wrap width shows its characters only: no hyphen
    // that the text does not hold.
    pango_attr_list_insert(list, pango_attr_insert_hyphens_new(FALSE));
    pango_layout_set_attributes(layout, list);
    pango_attr_list_unref(list);
}

PangoLayout* text_layout(cairo_t* cr, const Cell* font, const Cell* text, double width,
                         const ParaLayout& para) {
    PangoLayout* layout = cr ? pango_cairo_create_layout(cr) : pango_layout_new(headless_context());
    if (cr) pango_cairo_context_set_resolution(pango_layout_get_context(layout), 96.0);
    layout_fill(layout, font, text, width, para);
    return layout;
}

// Measured as the widgets lay it out, in whole pixels rounded up, so that a
// widget sized to the text shows it on one line.
void text_size(const Cell* font, const Cell* text, double max_width, double* width, double* height) {
    ParaLayout para;
    para.wrap = max_width > 0;
    PangoLayout* layout = pango_layout_new(widget_context());
    layout_fill(layout, font, text, max_width, para);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    *width = double(logical.width);
    *height = double(logical.height);
    g_object_unref(layout);
}

void rich_text_spacing(PangoLayout* layout, const Cell* face) {
    if (face_type_of(face) != FACE_TYPE_RICH_TEXT) return;
    Cell tabs = face_field(face, FACE_OBJ_EXT1);
    if (draw_number_q(&tabs) && draw_number_of(&tabs) > 0) {
        // One stop: Pango repeats its distance for the stops after it.
        PangoTabArray* stops = pango_tab_array_new_with_positions(
            1, FALSE, PANGO_TAB_LEFT, int(std::lround(draw_number_of(&tabs) * PANGO_SCALE)));
        pango_layout_set_tabs(layout, stops);
        pango_tab_array_free(stops);
    }
    Cell spacing = face_field(face, FACE_OBJ_EXT2);
    if (draw_number_q(&spacing)) {
        PangoLayout* probe = pango_layout_copy(layout);
        pango_layout_set_text(probe, "I", 1);
        pango_layout_set_attributes(probe, nullptr);
        PangoRectangle line;
        pango_layout_get_extents(probe, nullptr, &line);
        g_object_unref(probe);
        int wanted = int(std::lround(draw_number_of(&spacing) * PANGO_SCALE));
        pango_layout_set_spacing(layout, std::max(wanted - line.height, 0));
    }
}

// ---- rich-text ranges ------------------------------------------------------------------------

static void color_attrs(PangoAttrList* list, uint32_t color, bool background, guint start, guint end) {
    auto c16 = [](uint32_t byte) { return guint16(byte * 257); };
    PangoAttribute* a = background
                            ? pango_attr_background_new(c16(color & 0xFF), c16((color >> 8) & 0xFF), c16((color >> 16) & 0xFF))
                            : pango_attr_foreground_new(c16(color & 0xFF), c16((color >> 8) & 0xFF), c16((color >> 16) & 0xFF));
    a->start_index = start;
    a->end_index = end;
    pango_attr_list_insert(list, a);
    guint16 alpha = c16(255 - (color >> 24));
    if (alpha != 65535) {
        PangoAttribute* al = background ? pango_attr_background_alpha_new(alpha) : pango_attr_foreground_alpha_new(alpha);
        al->start_index = start;
        al->end_index = end;
        pango_attr_list_insert(list, al);
    }
}

static void range_attr(PangoAttrList* list, PangoAttribute* a, guint start, guint end) {
    a->start_index = start;
    a->end_index = end;
    pango_attr_list_insert(list, a);
}

void rich_text_styles(PangoLayout* layout, const Cell* ranges) {
    const char* utf8 = pango_layout_get_text(layout);
    long chars = g_utf8_strlen(utf8, -1);
    PangoAttrList* existing = pango_layout_get_attributes(layout);
    PangoAttrList* list = existing ? pango_attr_list_copy(existing) : pango_attr_list_new();
    guint start = 0, end = 0;  // byte range of the current range
    DrawCursor c{ranges, uint32_t(series_index(ranges))};
    try {
        while (c.index < c.tail()) {
            const Cell* v = c.at(c.index);
            uint32_t color;
            switch (cell_type(v)) {
            case T_PAIR: {
                long s = std::clamp<long>(long(pair_x(v)) - 1, 0, chars);
                long n = std::clamp<long>(long(pair_y(v)), 0, chars - s);
                start = guint(g_utf8_offset_to_pointer(utf8, s) - utf8);
                end = guint(g_utf8_offset_to_pointer(utf8, s + n) - utf8);
                c.index++;
                break;
            }
            case T_TUPLE:
                if (!draw_color_ref(v, &color)) draw_invalid_at(c, c.index);
                color_attrs(list, color, false, start, end);
                c.index++;
                break;
            case T_STRING: {
                std::string family = string_utf8(v);
                range_attr(list, pango_attr_family_new(family.c_str()), start, end);
                c.index++;
                break;
            }
            case T_INTEGER:
            case T_FLOAT: {
                double size = draw_number_of(v);
                if (size > 0) range_attr(list, pango_attr_size_new(int(std::lround(size * PANGO_SCALE))), start, end);
                c.index++;
                break;
            }
            case T_WORD: {
                c.index++;
                if (draw_word_is(v, DW_BOLD)) {
                    range_attr(list, pango_attr_weight_new(PANGO_WEIGHT_BOLD), start, end);
                } else if (draw_word_is(v, DW_ITALIC)) {
                    range_attr(list, pango_attr_style_new(PANGO_STYLE_ITALIC), start, end);
                } else if (draw_word_is(v, DW_BACKDROP)) {
                    if (!draw_color_ref(c.peek(), &color)) draw_invalid_at(c, c.index);
                    c.index++;
                    color_attrs(list, color, true, start, end);
                } else if (draw_word_is(v, DW_UNDERLINE) || draw_word_is(v, DW_STRIKE) ||
                           draw_word_is(v, DW_BORDER)) {
                    // An optional colour tuple and style word: accepted, not used.
                    const Cell* o = c.peek();
                    if (o && cell_type(o) == T_TUPLE) c.index++;
                    o = c.peek();
                    if (o && cell_type(o) == T_LIT_WORD) c.index++;
                    if (draw_word_is(v, DW_UNDERLINE))
                        range_attr(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), start, end);
                    else if (draw_word_is(v, DW_STRIKE))
                        range_attr(list, pango_attr_strikethrough_new(TRUE), start, end);
                } else {
                    draw_invalid_at(c, c.index - 1);
                }
                break;
            }
            default:
                draw_invalid_at(c, c.index);
            }
        }
    } catch (...) {
        pango_attr_list_unref(list);
        throw;
    }
    pango_layout_set_attributes(layout, list);
    pango_attr_list_unref(list);
}


} // namespace kel
