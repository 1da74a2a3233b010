// The text layout of rich-text faces and the questions the rich-text dialect
// asks of it: where a character's caret sits, which character lies under a
// point, line heights, the laid-out size and the line count. A face's layout
// lives in the backend's table; the face's handles block holds its handle!,
// and a logic at its fourth place tells that the layout is out of date.
#include "gui/backend/draw.hpp"
#include "gui/backend/draw_context.hpp"
#include "gui/backend/module_entry.hpp"
#include "gui/backend/widgets.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/point.hpp"
#include "runtime/collector.hpp"

#include <cstring>
#include <string>
#include <vector>
#include <iterator>

namespace kel {

// Slots of a rich-text face's handles block.
enum RichBoxSlot : uint32_t { BOX_LAYOUT = 0, BOX_TARGET = 1, BOX_RESERVED = 2, BOX_STALE = 3, BOX_SLOTS = 4 };

// Layouts by handle value - 1; a slot is reused when its face's layout is
// rebuilt.
static std::vector<PangoLayout*> box_layouts;

// The layout a handles block names, or null.
static PangoLayout* box_layout_of(const Cell* handles) {
    if (cell_type(handles) != T_BLOCK) return nullptr;
    SeriesBuffer* b = series_buffer_of(handles);
    if (uint32_t(series_index(handles)) + BOX_LAYOUT >= b->length()) return nullptr;
    const Cell* handle = block_cells(b) + uint32_t(series_index(handles)) + BOX_LAYOUT;
    if (cell_type(handle) != T_HANDLE || handle_value(handle) == 0 || handle_value(handle) > box_layouts.size()) return nullptr;
    return box_layouts[handle_value(handle) - 1];
}

// Writes value into slot of the face's handles block.
static void box_slot_set(const Cell* face, uint32_t slot, const Cell* value) {
    Cell handles = face_field(face, FACE_OBJ_EXT3);
    if (cell_type(&handles) != T_BLOCK) return;
    SeriesBuffer* b = series_buffer_of(&handles);
    if (uint32_t(series_index(&handles)) + slot < b->length())
        cell_copy(value, block_cells(b) + uint32_t(series_index(&handles)) + slot);
}

// True when the face's layout must be made again: no handles block, or one
// whose out-of-date logic is not false.
static bool box_stale_q(const Cell* face) {
    Cell handles = face_field(face, FACE_OBJ_EXT3);
    if (cell_type(&handles) != T_BLOCK) return true;
    SeriesBuffer* b = series_buffer_of(&handles);
    if (uint32_t(series_index(&handles)) + BOX_STALE >= b->length()) return true;
    const Cell* stale = block_cells(b) + uint32_t(series_index(&handles)) + BOX_STALE;
    return !(cell_type(stale) == T_LOGIC && !logic_get(stale));
}

// True when the face has a handles field to keep its layout in.
static bool box_keeps_layout_q(const Cell* face) { return object_field_count(face) > FACE_OBJ_EXT3; }

void rich_box_mark_stale(const Cell* face) {
    if (!box_keeps_layout_q(face)) return;
    Cell stale;
    logic_make_at(&stale, true);
    box_slot_set(face, BOX_STALE, &stale);
}

// A new layout of the face's text in its font, para and width, with its
// rich-text ranges (data, when a block of more than one value) applied. A bad
// range block raises its error after the layout is released.
static PangoLayout* box_layout_make(const Cell* face) {
    Cell size = face_field(face, FACE_OBJ_SIZE);
    double width = 0, height = 0;
    if (draw_point_q(&size)) draw_point_of(&size, &width, &height);
    CellRoot font(face_field(face, FACE_OBJ_FONT));
    CellRoot text(face_field(face, FACE_OBJ_TEXT));
    Cell para = face_field(face, FACE_OBJ_PARA);
    PangoLayout* layout = text_layout(nullptr, &font.cell, &text.cell, width, para_layout("rich-text", &para));
    rich_text_spacing(layout, face);
    CellRoot data(face_field(face, FACE_OBJ_DATA));
    if (cell_type(&data.cell) == T_BLOCK && block_ks_length_q(&data.cell) > 1) {
        try {
            rich_text_styles(layout, &data.cell);
        } catch (const LanguageError&) {
            g_object_unref(layout);
            throw;
        }
    }
    return layout;
}

// Makes the face's layout again and keeps it: the handles block is made when
// missing (null layout handle, none, none, false), its out-of-date logic
// becomes false, and the new layout takes the face's slot of the table (a
// new one the first time). A bad range block leaves the layout out of date
// and its error goes on.
static void box_layout_build(const Cell* face_cell) {
    CellRoot face(*face_cell);
    Cell handles = face_field(&face.cell, FACE_OBJ_EXT3);
    if (cell_type(&handles) != T_BLOCK || block_ks_length_q(&handles) < int32_t(BOX_SLOTS)) {
        CellRoot fresh;
        block_make_at(&fresh.cell, BOX_SLOTS);
        handle_make_in(series_node(&fresh.cell), 0, HANDLE_RICH_TEXT);
        none_make_in(series_node(&fresh.cell));
        none_make_in(series_node(&fresh.cell));
        logic_make_in(series_node(&fresh.cell), false);
        face_field_set(&face.cell, FACE_OBJ_EXT3, &fresh.cell);
    }
    Cell stale;
    logic_make_at(&stale, false);
    box_slot_set(&face.cell, BOX_STALE, &stale);
    PangoLayout* layout;
    try {
        layout = box_layout_make(&face.cell);
    } catch (const LanguageError&) {
        logic_make_at(&stale, true);
        box_slot_set(&face.cell, BOX_STALE, &stale);
        throw;
    }
    handles = face_field(&face.cell, FACE_OBJ_EXT3);
    const Cell* handle = block_ks_abs_at(&handles, BOX_LAYOUT);
    if (cell_type(handle) == T_HANDLE && handle_value(handle) && handle_value(handle) <= box_layouts.size()) {
        PangoLayout*& kept = box_layouts[handle_value(handle) - 1];
        if (kept) g_object_unref(kept);
        kept = layout;
        return;
    }
    box_layouts.push_back(layout);
    Cell value;
    handle_init(&value, uint32_t(box_layouts.size()), HANDLE_RICH_TEXT);
    box_slot_set(&face.cell, BOX_LAYOUT, &value);
}

// Byte offset in the layout's text of a 0-based character index (clamped).
static int box_byte_of(PangoLayout* layout, int64_t chars) {
    const char* text = pango_layout_get_text(layout);
    glong length = g_utf8_strlen(text, -1);
    if (chars < 0) chars = 0;
    if (chars > length) chars = length;
    return int(g_utf8_offset_to_pointer(text, glong(chars)) - text);
}

// 0-based character index of a byte offset.
static int64_t box_char_of(PangoLayout* layout, int byte) {
    const char* text = pango_layout_get_text(layout);
    return g_utf8_pointer_to_offset(text, text + byte);
}

// A point argument (pair! or point2D!) in layout units.
static bool box_point_of(const Cell* value, int* x, int* y) {
    if (!draw_point_q(value)) return false;
    double px = 0, py = 0;
    draw_point_of(value, &px, &py);
    *x = int(px * PANGO_SCALE);
    *y = int(py * PANGO_SCALE);
    return true;
}

// The metric of the type for the layout, written into out; an unknown type
// gives none.
static void box_metric(PangoLayout* layout, const Cell* arg, int32_t type, Cell* out) {
    switch (type) {
    case 0:
    case 6: {
        int64_t index = cell_type(arg) == T_INTEGER ? int64_t(cell_int(arg)) - 1 : 0;
        PangoRectangle pos;
        pango_layout_index_to_pos(layout, box_byte_of(layout, index), &pos);
        double x = double(pos.x) / PANGO_SCALE, y = double(pos.y) / PANGO_SCALE;
        if (y < 0) y = 0;
        if (type == 6) {
            x += double(pos.width) / PANGO_SCALE;
            y += double(pos.height) / PANGO_SCALE;
        }
        point2d_init(out, x, y);
        return;
    }
    case 1:
    case 5: {
        int x = 0, y = 0;
        if (!box_point_of(arg, &x, &y)) {
            none_make_at(out);
            return;
        }
        int byte = 0, trailing = 0;
        pango_layout_xy_to_index(layout, x, y, &byte, &trailing);
        int64_t index = box_char_of(layout, byte) + 1;
        if (type == 1 && trailing > 0) index += 1;
        integer_make_at(out, int32_t(index));
        return;
    }
    case 2: {
        int64_t index = cell_type(arg) == T_INTEGER ? int64_t(cell_int(arg)) - 1 : 0;
        int line = 0, x = 0;
        pango_layout_index_to_line_x(layout, box_byte_of(layout, index), FALSE, &line, &x);
        PangoLayoutLine* at = pango_layout_get_line_readonly(layout, line);
        PangoRectangle logical{0, 0, 0, 0};
        if (at) pango_layout_line_get_extents(at, nullptr, &logical);
        integer_make_at(out, logical.height / PANGO_SCALE);
        return;
    }
    case 3: {
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        point2d_init(out, double(logical.width) / PANGO_SCALE, double(logical.height) / PANGO_SCALE);
        return;
    }
    case 4:
        integer_make_at(out, pango_layout_get_line_count(layout));
        return;
    default:
        none_make_at(out);
        return;
    }
}

// platform-text-box-metrics box arg type: the box must be a rich-text face
// (else script error face-type with its type word); a box without string
// text answers none; an out-of-date layout is made again first.
static void text_box_metrics() {
    Cell* args = data_stack.args;
    if (face_type_of(args) != FACE_TYPE_RICH_TEXT) {
        Cell type = face_field(args, FACE_OBJ_TYPE);
        error_raise(ERR_FACE_TYPE, &type);
    }
    Cell text = face_field(args, FACE_OBJ_TEXT);
    if (cell_type(&text) != T_STRING) {
        none_make_at(stack_box_new(T_NONE));
        return;
    }
    CellRoot arg(args[1]);
    int32_t type = cell_type(args + 2) == T_INTEGER ? cell_int(args + 2) : -1;
    Cell result;
    if (box_keeps_layout_q(args)) {
        Cell handles = face_field(args, FACE_OBJ_EXT3);
        if (box_stale_q(args) || !box_layout_of(&handles)) box_layout_build(args);
        handles = face_field(args, FACE_OBJ_EXT3);
        box_metric(box_layout_of(&handles), &arg.cell, type, &result);
    } else {
        // A face without a handles field gets a layout for this question only.
        PangoLayout* layout = box_layout_make(args);
        box_metric(layout, &arg.cell, type, &result);
        g_object_unref(layout);
    }
    stack_set_last_reset(&result);
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-text-box-metrics", gui_fn(text_box_metrics)},
};
const GuiExportTable RICH_BOX_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
