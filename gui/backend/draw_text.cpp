// The Draw commands font and text, and the text of a face drawn in its box.
#include "gui/backend/draw_context.hpp"
#include "gui/backend/widgets.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "runtime/collector.hpp"

#include <pango/pangocairo.h>
#include <cmath>
#include <string>

namespace kel {

void cmd_font(DrawContext& ctx, DrawCursor& c) {
    const Cell* v = c.peek();
    const Cell* font = v && cell_type(v) == T_WORD ? draw_word_value(v) : v;
    if (!font || cell_type(font) != T_OBJECT) draw_invalid_at(c, c.index);
    CellRoot f(*font);
    c.index++;
    PangoFontDescription* desc = font_pango_description(font_spec_of(&f.cell));
    if (ctx.a.font) pango_font_description_free(ctx.a.font);
    ctx.a.font = desc;
    uint32_t color;
    const Cell* fc = draw_object_field(&f.cell, DF_COLOR);
    if (fc && cell_type(fc) == T_TUPLE && draw_color_ref(fc, &color)) {
        ctx.a.text_color = color;
        ctx.a.text_color_lock = true;
    } else {
        ctx.a.text_color = ctx.a.pen.color;
        ctx.a.text_color_lock = false;
    }
    font_options(&f.cell, &ctx.a.underline, &ctx.a.strike);
}

// Draws a layout at (x, y) in the colour.
static void layout_show(DrawContext& ctx, PangoLayout* layout, double x, double y, uint32_t color) {
    if (ctx.a.collapsed) return;
    cairo_t* cr = ctx.cr;
    cairo_set_antialias(cr, ctx.a.anti_alias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    draw_set_rgba(cr, color);
    cairo_move_to(cr, x, y);
    pango_cairo_update_layout(cr, layout);
    pango_cairo_show_layout(cr, layout);
    cairo_new_path(cr);
}

// The face's size as width and height, or false when it has none.
static bool face_size(const Cell* face, double* w, double* h) {
    const Cell* size = draw_object_field(face, DF_SIZE);
    if (!draw_point_q(size)) return false;
    draw_point_of(size, w, h);
    return true;
}

// Lays out the face's text in a box of w x h at (x, y) and draws it.
static void face_text_show(DrawContext& ctx, const Cell* face, double x, double y, double w,
                           double h, uint32_t color) {
    const Cell* type = draw_object_field(face, DF_TYPE);
    bool rich = type && draw_word_is(type, DW_RICH_TEXT);
    Cell none;
    cell_init(&none, T_NONE);
    const Cell* para_object = draw_object_field(face, DF_PARA);
    ParaLayout para = para_layout(rich ? "rich-text" : "base", para_object ? para_object : &none);
    CellRoot text, font;
    if (const Cell* t = draw_object_field(face, DF_TEXT)) text.cell = *t;
    if (const Cell* f = draw_object_field(face, DF_FONT)) font.cell = *f;
    PangoLayout* layout = text_layout(ctx.cr, &font.cell, &text.cell, w, para);
    if (rich) {
        rich_text_spacing(layout, face);
        const Cell* data = draw_object_field(face, DF_DATA);
        if (data && cell_type(data) == T_BLOCK) {
            CellRoot ranges(*data);
            try {
                rich_text_styles(layout, &ranges.cell);
            } catch (...) {
                g_object_unref(layout);
                throw;
            }
        }
    }
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    double lw = double(logical.width) / PANGO_SCALE, lh = double(logical.height) / PANGO_SCALE;
    if (!(para.wrap && w > 0)) {
        if (para.h == TEXT_CENTER) x += (w - lw) / 2;
        else if (para.h == TEXT_RIGHT) x += w - lw;
    }
    if (para.v == TEXT_MIDDLE) y += (h - lh) / 2;
    else if (para.v == TEXT_BOTTOM) y += h - lh;
    layout_show(ctx, layout, x, y, color);
    g_object_unref(layout);
}

void draw_face_text(DrawContext& ctx, const Cell* face, double width, double height) {
    uint32_t color = 0;  // window text colour: black
    const Cell* font = draw_object_field(face, DF_FONT);
    const Cell* fc = font && cell_type(font) == T_OBJECT ? draw_object_field(font, DF_COLOR) : nullptr;
    if (fc && cell_type(fc) == T_TUPLE) draw_color_ref(fc, &color);
    face_text_show(ctx, face, 0, 0, width, height, color);
}

void cmd_text(DrawContext& ctx, DrawCursor& c) {
    const Cell* p = c.peek();
    if (!draw_point_q(p)) draw_invalid_at(c, c.index);
    double x, y;
    draw_point_of(p, &x, &y);
    c.index++;
    const Cell* v = c.peek();
    if (!v || (cell_type(v) != T_STRING && cell_type(v) != T_OBJECT)) draw_invalid_at(c, c.index);
    CellRoot value(*v);
    c.index++;
    if (cell_type(&value.cell) == T_STRING) {
        PangoLayout* layout = pango_cairo_create_layout(ctx.cr);
        pango_cairo_context_set_resolution(pango_layout_get_context(layout), 96.0);
        PangoFontDescription* desc = ctx.a.font ? nullptr : font_pango_description(font_spec_of(&value.cell));
        pango_layout_set_font_description(layout, ctx.a.font ? ctx.a.font : desc);
        if (desc) pango_font_description_free(desc);
        std::string utf8 = string_utf8(&value.cell);
        pango_layout_set_text(layout, utf8.data(), int(utf8.size()));
        if (ctx.a.underline || ctx.a.strike) {
            PangoAttrList* list = pango_attr_list_new();
            if (ctx.a.underline) pango_attr_list_insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
            if (ctx.a.strike) pango_attr_list_insert(list, pango_attr_strikethrough_new(TRUE));
            pango_layout_set_attributes(layout, list);
            pango_attr_list_unref(list);
        }
        layout_show(ctx, layout, x, y, ctx.a.text_color);
        g_object_unref(layout);
        return;
    }
    // A face: its box filled with its colour first, then its text.
    const Cell* face = &value.cell;
    double w = 0, h = 0;
    bool sized = face_size(face, &w, &h);
    uint32_t color;
    const Cell* fc = draw_object_field(face, DF_COLOR);
    if (sized && fc && cell_type(fc) == T_TUPLE && draw_color_ref(fc, &color) && !ctx.a.collapsed) {
        draw_set_rgba(ctx.cr, color);
        cairo_rectangle(ctx.cr, x, y, w, h);
        cairo_fill(ctx.cr);
    }
    const Cell* text = draw_object_field(face, DF_TEXT);
    if (!text || cell_type(text) != T_STRING) return;
    uint32_t text_color = ctx.a.text_color;
    const Cell* font = draw_object_field(face, DF_FONT);
    const Cell* ffc = font && cell_type(font) == T_OBJECT ? draw_object_field(font, DF_COLOR) : nullptr;
    if (ffc && cell_type(ffc) == T_TUPLE) draw_color_ref(ffc, &text_color);
    face_text_show(ctx, face, x, y, w, h, text_color);
}

} // namespace kel
