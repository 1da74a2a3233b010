// The Draw dialect's evaluator: walks a command block, checks each command's
// arguments and calls the state, primitive, shape, brush and text operations;
// opens and closes an evaluation on an image or on a face's cairo_t, and
// delivers the dialect's errors (raised, printed, or dropped when
// system/view/silent? is on).
#include "gui/backend/draw_context.hpp"
#include "gui/backend/module_entry.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/library_context.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/ownership.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/image.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "core/string.hpp"
#include "gui/text_style.hpp"
#include "runtime/collector.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/native_guard.hpp"
#include "runtime/stdout.hpp"

#include <cstring>
#include <string>
#include <unordered_map>
#include <iterator>

namespace kel {

// ---- keywords --------------------------------------------------------------------------------

static const char* const DRAW_WORD_TEXTS[DW_COUNT] = {
    "off", "linear", "radial", "diamond", "pattern", "bitmap", "pad", "repeat",
    "reflect", "tile", "flip-x", "flip-y", "flip-xy", "clamp", "closed", "border",
    "crop", "inset", "pen", "fill-pen", "replace", "intersect", "union", "xor",
    "exclude", "miter", "miter-bevel", "round", "bevel", "flat", "square", "sweep",
    "large", "bold", "italic", "underline", "strike", "backdrop", "rich-text",
    "window",
};

static const char* const DRAW_FIELD_TEXTS[DF_COUNT] = {
    "color", "image", "type", "text", "draw", "para", "font", "size", "data", "system",
    "view", "silent?",
};

static uint32_t draw_words[DW_COUNT];    // resolved symbols, 0 until interned
static uint32_t draw_fields[DF_COUNT];   // symbols of the field names

using DrawCommand = void (*)(DrawContext& ctx, DrawCursor& c);
struct DrawCommandDef {
    const char* name;
    DrawCommand fn;
};

static const DrawCommandDef DRAW_COMMANDS[] = {
    {"pen", cmd_pen}, {"fill-pen", cmd_fill_pen}, {"line-width", cmd_line_width},
    {"line-join", cmd_line_join}, {"line-cap", cmd_line_cap}, {"line-pattern", cmd_line_pattern},
    {"anti-alias", cmd_anti_alias}, {"line", cmd_line}, {"box", cmd_box},
    {"triangle", cmd_triangle}, {"polygon", cmd_polygon}, {"circle", cmd_circle},
    {"ellipse", cmd_ellipse}, {"arc", cmd_arc}, {"curve", cmd_curve}, {"spline", cmd_spline},
    {"shape", cmd_shape}, {"image", cmd_image}, {"text", cmd_text}, {"font", cmd_font},
    {"shadow", cmd_shadow}, {"clip", cmd_clip}, {"push", cmd_push}, {"rotate", cmd_rotate},
    {"scale", cmd_scale}, {"translate", cmd_translate}, {"skew", cmd_skew},
    {"transform", cmd_transform}, {"matrix", cmd_matrix}, {"reset-matrix", cmd_reset_matrix},
    {"invert-matrix", cmd_invert_matrix},
};

// Command handlers by resolved symbol.
static std::unordered_map<uint32_t, DrawCommand>& draw_command_table() {
    static std::unordered_map<uint32_t, DrawCommand> table;
    return table;
}

static void draw_words_init() {
    if (draw_words[0]) return;
    for (uint32_t i = 0; i < DW_COUNT; i++) draw_words[i] = symbol_resolve(symbol_make(DRAW_WORD_TEXTS[i]));
    for (uint32_t i = 0; i < DF_COUNT; i++) draw_fields[i] = symbol_make(DRAW_FIELD_TEXTS[i]);
    for (const DrawCommandDef& def : DRAW_COMMANDS)
        draw_command_table()[symbol_resolve(symbol_make(def.name))] = def.fn;
}

uint32_t draw_word(DrawWord w) {
    draw_words_init();
    return draw_words[w];
}

bool draw_word_is(const Cell* cell, DrawWord w) {
    uint8_t t = cell_type(cell);
    if (t != T_WORD && t != T_LIT_WORD && t != T_SET_WORD && t != T_GET_WORD) return false;
    return symbol_resolve(word_symbol(cell)) == draw_word(w);
}

// ---- values ----------------------------------------------------------------------------------

uint32_t DrawCursor::tail() const {
    SeriesBuffer* b = series_buffer_of(block);
    return b->length();
}

const Cell* DrawCursor::at(uint32_t i) const {
    return block_cells(series_node(block)) + i;
}

bool draw_point_q(const Cell* c) { return c && (cell_type(c) == T_PAIR || cell_type(c) == T_POINT2D); }

bool draw_number_q(const Cell* c) {
    return c && (cell_type(c) == T_INTEGER || cell_type(c) == T_FLOAT);
}

void draw_point_of(const Cell* c, double* x, double* y) {
    if (cell_type(c) == T_PAIR) {
        *x = pair_x(c);
        *y = pair_y(c);
    } else {
        *x = point_coord(c, 0);
        *y = point_coord(c, 1);
    }
}

double draw_number_of(const Cell* c) {
    if (cell_type(c) == T_INTEGER) return double(cell_int(c));
    return cell_double(c);
}

bool draw_opt_point(DrawCursor& c, double* x, double* y) {
    const Cell* v = c.peek();
    if (!draw_point_q(v)) return false;
    draw_point_of(v, x, y);
    c.index++;
    return true;
}

void draw_point_arg(DrawCursor& c, double* x, double* y) {
    if (!draw_opt_point(c, x, y)) draw_invalid_at(c, c.index);
}

double draw_number_arg(DrawCursor& c) {
    const Cell* v = c.peek();
    if (!draw_number_q(v)) draw_invalid_at(c, c.index);
    c.index++;
    return draw_number_of(v);
}

const Cell* draw_word_value(const Cell* word) {
    uint8_t t = cell_type(word);
    if (t < T_WORD || t > T_GET_WORD || !word_context(word) || word_index(word) == WORD_UNBOUND) return nullptr;
    if (context_values(word_context(word)) == 0) return nullptr;
    return word_get(word);
}

static bool draw_color_tuple(const Cell* c, uint32_t* color) {
    if (!c || cell_type(c) != T_TUPLE) return false;
    uint32_t n = tuple_count(c);
    if (n < 3 || n > 4) return false;
    *color = c->w1;
    return true;
}

bool draw_color_ref(const Cell* c, uint32_t* color) {
    if (!c) return false;
    if (cell_type(c) == T_WORD) return draw_color_tuple(draw_word_value(c), color);
    return draw_color_tuple(c, color);
}

void draw_set_rgba(cairo_t* cr, uint32_t color) {
    cairo_set_source_rgba(cr, (color & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                          ((color >> 16) & 0xFF) / 255.0, (255 - (color >> 24)) / 255.0);
}

const Cell* draw_object_field(const Cell* object, DrawField field) {
    if (!object || cell_type(object) != T_OBJECT) return nullptr;
    draw_words_init();
    return context_symbol_value(draw_fields[field], object_context(object));
}

// system/view/silent?: true only when the path exists and holds true. The
// system object is the library's (the global one before the library is sealed).
static bool draw_silent_q() {
    draw_words_init();
    Node holder = library_context ? library_context : global_context;
    const Cell* system = context_symbol_value(draw_fields[DF_SYSTEM], holder);
    const Cell* view = draw_object_field(system, DF_VIEW);
    const Cell* silent = draw_object_field(view, DF_SILENT_Q);
    return silent && cell_type(silent) == T_LOGIC && logic_get(silent);
}

// ---- errors ----------------------------------------------------------------------------------

// The block at the index, as the error's argument.
static void draw_block_at(const Cell* block, uint32_t index, Cell* out) {
    *out = *block;
    cell_clear_newline(out);
    out->w1 = index;
}

void draw_invalid_at(const DrawCursor& c, uint32_t index) {
    Cell arg;
    draw_block_at(c.block, index, &arg);
    error_raise(ERR_DRAW_INVALID, &arg);
}

// ---- the evaluator ---------------------------------------------------------------------------

void draw_block_enter(const Cell* block) {
    native_stack_check();
    if (cycles_find(series_node(block))) {
        Cell arg = *block;
        cell_clear_newline(&arg);
        error_raise(ERR_DRAW_INFINITE, &arg);
    }
}

void draw_set_word(const Cell* set_word, const DrawCursor& c) {
    CellRoot word(*set_word);
    CellRoot value;
    draw_block_at(c.block, c.index + 1, &value.cell);
    word_set(&word.cell, &value.cell);
}

void draw_parse(DrawContext& ctx, const Cell* block) {
    draw_words_init();
    draw_block_enter(block);
    CellRoot root(*block);
    CycleGuard guard(series_node(block));
    DrawCursor c{&root.cell, uint32_t(series_index(block))};
    while (c.index < c.tail()) {
        const Cell* v = c.at(c.index);
        switch (cell_type(v)) {
        case T_WORD: {
            auto it = draw_command_table().find(symbol_resolve(word_symbol(v)));
            if (it == draw_command_table().end()) draw_invalid_at(c, c.index);
            c.index++;
            it->second(ctx, c);
            break;
        }
        case T_SET_WORD:
            draw_set_word(v, c);
            c.index++;
            break;
        case T_BLOCK: {
            CellRoot nested(*v);
            c.index++;
            draw_parse(ctx, &nested.cell);
            break;
        }
        default:
            draw_invalid_at(c, c.index);
        }
    }
}

void draw_parse_scoped(DrawContext& ctx, const Cell* block) {
    DrawScope scope(ctx);
    draw_parse(ctx, block);
}

// ---- opening and closing -----------------------------------------------------------------------

void error_print_in_flight() {
    try {
        CellRoot held(*error_push_in_flight());
        CellRoot text;
        string_make_at(&text.cell, 128);
        error_form(&held.cell, &text.cell, false, false, false, false, INT32_MAX, 0);
        std::string line = string_utf8(&text.cell) + "\n";
        fd_write_all(STDERR_FD, line.data(), line.size());
    } catch (const LanguageError&) {
        // Not even the message could be made (no memory): nothing to print.
    }
}

// Evaluates the block; errors are raised unless silent? is on (dropped) or
// the context catches them (printed). False when an error stopped it.
static bool draw_run(DrawContext& ctx, const Cell* cmds) {
    StackState saved = stack_save();
    try {
        draw_parse(ctx, cmds);
        return true;
    } catch (const LanguageError&) {
        if (draw_silent_q()) {
            stack_restore(saved);
            return false;
        }
        if (!ctx.catch_errors) throw;
        error_print_in_flight();
        stack_restore(saved);
        return false;
    }
}

// Clears the path state an abandoned shape left.
static void draw_end(DrawContext& ctx) {
    cairo_new_path(ctx.cr);
    ctx.shape = ShapePath{};
}

// Opens an evaluation on cr: the state as a fresh evaluation starts it.
static void draw_begin(DrawContext& ctx, cairo_t* cr, double width, double height, bool catch_errors) {
    draw_words_init();
    ctx.cr = cr;
    ctx.width = width;
    ctx.height = height;
    ctx.catch_errors = catch_errors;
    cairo_get_matrix(cr, &ctx.base);
    draw_state_begin(ctx);
}

// Straight 0xAARRGGBB pixels to cairo's premultiplied ones and back.
static uint32_t pixel_premultiply(uint32_t p) {
    uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    uint32_t r = (((p >> 16) & 0xFF) * a + 127) / 255;
    uint32_t g = (((p >> 8) & 0xFF) * a + 127) / 255;
    uint32_t b = ((p & 0xFF) * a + 127) / 255;
    return a << 24 | r << 16 | g << 8 | b;
}

static uint32_t pixel_unpremultiply(uint32_t p) {
    uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    auto un = [a](uint32_t c) { uint32_t v = (c * 255 + a / 2) / a; return v > 255 ? 255u : v; };
    return a << 24 | un((p >> 16) & 0xFF) << 16 | un((p >> 8) & 0xFF) << 8 | un(p & 0xFF);
}

// A surface holding the image's pixels, or null when cairo cannot make one
// of that size.
static cairo_surface_t* image_surface_new(const Cell* image) {
    uint32_t w = image_width(image), h = image_height(image);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(w), int(h));
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    cairo_surface_flush(s);
    uint8_t* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    const uint32_t* pixels = image_pixels(image);
    for (uint32_t y = 0; y < h; y++) {
        uint32_t* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
        for (uint32_t x = 0; x < w; x++) row[x] = pixel_premultiply(pixels[size_t(y) * w + x]);
    }
    cairo_surface_mark_dirty(s);
    return s;
}

cairo_surface_t* draw_image_surface(const Cell* image) {
    if (!image_pixel_count(image)) return nullptr;
    cairo_surface_t* s = image_surface_new(image);
    if (!s) error_raise(ERR_NO_MEMORY);
    return s;
}

// Copies the surface's pixels back into the image (same size).
static void draw_surface_to_image(cairo_surface_t* s, const Cell* image) {
    cairo_surface_flush(s);
    uint32_t w = image_width(image), h = image_height(image);
    // Code run by a set-word may have cut the image's buffer meanwhile.
    if (series_buffer_of(image)->length() < uint64_t(w) * h) return;
    const uint8_t* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    uint32_t* pixels = image_pixels(image);
    for (uint32_t y = 0; y < h; y++) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
        for (uint32_t x = 0; x < w; x++) pixels[size_t(y) * w + x] = pixel_unpremultiply(row[x]);
    }
}

// Owns a cairo surface and context for the length of a scope.
struct CairoTarget {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    ~CairoTarget() {
        if (cr) cairo_destroy(cr);
        if (surface) cairo_surface_destroy(surface);
    }
};

void draw_image(Cell* image, const Cell* cmds) {
    if (!image_pixel_count(image)) return;
    if (cell_type(cmds) != T_BLOCK || uint32_t(series_index(cmds)) >= series_buffer_of(cmds)->length()) return;
    CairoTarget target;
    target.surface = image_surface_new(image);
    if (!target.surface) {
        // Too large for a drawing surface: nothing is drawn.
        stdout_write_c_string("CreateWicBitmapRenderTarget failed in draw-begin\n");
        return;
    }
    target.cr = cairo_create(target.surface);
    DrawContext ctx;
    draw_begin(ctx, target.cr, image_width(image), image_height(image), false);
    try {
        draw_run(ctx, cmds);
    } catch (...) {
        // What was drawn before the error stays.
        draw_end(ctx);
        draw_surface_to_image(target.surface, image);
        throw;
    }
    draw_end(ctx);
    draw_surface_to_image(target.surface, image);
}

bool draw_face(cairo_t* cr, const Cell* face, const Cell* cmds, double width, double height) {
    if (cell_type(cmds) != T_BLOCK) return true;
    cairo_save(cr);
    DrawContext ctx;
    draw_begin(ctx, cr, width, height, true);
    bool ok = false;
    try {
        ok = draw_run(ctx, cmds);
    } catch (...) {
        draw_end(ctx);
        cairo_restore(cr);
        throw;
    }
    draw_end(ctx);
    cairo_restore(cr);
    return ok;
}

void paint_face(cairo_t* cr, const Cell* face, double width, double height, bool layered) {
    CellRoot root(*face);
    cairo_save(cr);
    if (layered) {
        // A layered window's pixels are blended with what lies behind it:
        // sub-pixel text would fringe, grayscale does not.
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_get_font_options(cr, options);
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_set_font_options(cr, options);
        cairo_font_options_destroy(options);
    }
    // Background: the face's colour, else transparent.
    const Cell* color = draw_object_field(&root.cell, DF_COLOR);
    uint32_t rgba;
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    if (color && draw_color_ref(color, &rgba)) draw_set_rgba(cr, rgba);
    else cairo_set_source_rgba(cr, 0, 0, 0, 0);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    DrawContext ctx;
    draw_begin(ctx, cr, width, height, true);
    StackState saved = stack_save();
    try {
        const Cell* image = draw_object_field(&root.cell, DF_IMAGE);
        if (image && cell_type(image) == T_IMAGE) {
            CellRoot img(*image);
            draw_image_in(ctx, &img.cell, 0, 0, width, height);
        }
        const Cell* type = draw_object_field(&root.cell, DF_TYPE);
        const Cell* text = draw_object_field(&root.cell, DF_TEXT);
        if (text && cell_type(text) == T_STRING && !(type && draw_word_is(type, DW_WINDOW)))
            draw_face_text(ctx, &root.cell, width, height);
    } catch (const LanguageError&) {
        if (!draw_silent_q()) error_print_in_flight();
        stack_restore(saved);
        draw_end(ctx);
        cairo_restore(cr);
        return;
    }
    draw_end(ctx);
    cairo_restore(cr);
    const Cell* draw = draw_object_field(&root.cell, DF_DRAW);
    if (draw && cell_type(draw) == T_BLOCK) {
        CellRoot cmds(*draw);
        draw_face(cr, &root.cell, &cmds.cell, width, height);
    }
}

// platform-draw-image image cmds: draws onto the image, then tells the
// image's owner (a face showing it) that it changed.
static void routine_platform_draw_image() {
    Cell* image = data_stack.args;
    Cell* cmds = data_stack.args + 1;
    if (cell_type(image) != T_IMAGE || !image_pixel_count(image)) return;
    draw_image(image, cmds);
    ownership_check(image, runtime_word(W_POKE), -1, -1);
}

// ---- exports -------------------------------------------------------------------------------------

static const GuiModuleEntry exports[] = {
    {"platform-draw-image", gui_fn(routine_platform_draw_image)},
};
const GuiExportTable DRAW_EXPORTS = {exports, uint32_t(std::size(exports))};

} // namespace kel
