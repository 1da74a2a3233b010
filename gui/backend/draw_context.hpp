// The record of one Draw evaluation, shared by the files of the Draw dialect
// (draw.cpp evaluator, draw_state.cpp state commands, draw_prims.cpp
// primitives, draw_shape.cpp shapes, draw_brush.cpp gradients and tiles,
// draw_text.cpp text). Not for use outside gui/backend.
//
// The transform and the clip live in the cairo_t's own state; everything
// else (brushes, line attributes, font, shadows) lives in DrawAttrs and is
// applied to cairo at each primitive. Saving the state is a cairo_save plus a
// copy of DrawAttrs; restoring is cairo_restore plus the copy put back.
#pragma once
#include "runtime/cell.hpp"
#include "gui/backend/draw.hpp"
#include <cairo.h>
#include <pango/pango.h>
#include <cstdint>
#include <vector>

namespace kel {

// Brush kinds of pens and fills.
enum BrushKind : int32_t {
    BRUSH_NONE = 0,      // nothing stroked or filled
    BRUSH_SOLID = 1,     // a colour
    BRUSH_PLACED = 2,    // gradient with explicit positions, in drawing coordinates
    BRUSH_FITTED = 3,    // gradient without positions, fitted to each shape's bounds
    BRUSH_TILED = 4,     // tiled image (pattern or bitmap), moved to each shape's corner
};

// Gradient kinds of a gradient brush.
enum GradientKind : int32_t { GRADIENT_NONE = 0, GRADIENT_LINEAR, GRADIENT_RADIAL, GRADIENT_DIAMOND };

// A reference-counted cairo pattern: copies share it.
struct PatternRef {
    cairo_pattern_t* p = nullptr;
    PatternRef() = default;
    explicit PatternRef(cairo_pattern_t* owned) : p(owned) {}
    PatternRef(const PatternRef& o) : p(o.p ? cairo_pattern_reference(o.p) : nullptr) {}
    PatternRef& operator=(const PatternRef& o) {
        if (this != &o) {
            cairo_pattern_t* old = p;
            p = o.p ? cairo_pattern_reference(o.p) : nullptr;
            if (old) cairo_pattern_destroy(old);
        }
        return *this;
    }
    ~PatternRef() { if (p) cairo_pattern_destroy(p); }
};

// A pen or fill brush. For a fitted gradient the pattern is the unit
// gradient: linear from (0, 0) to (1, 0), radial centred on (0.5, 0.5) with
// radius 0.5; fitting maps that square onto the shape.
struct Brush {
    int32_t kind = BRUSH_SOLID;
    uint32_t color = 0;             // solid colour: tuple bytes r, g, b, transparency (r lowest)
    PatternRef pattern;             // gradient or tile, null for a solid colour
    int32_t gradient = GRADIENT_NONE;
    cairo_matrix_t transform;       // brush space to drawing space (rotate 'pen ...)
    double tile_width = 0, tile_height = 0;  // size of a tile's image
};

// One drop shadow.
struct Shadow {
    double x, y;      // offset
    double blur;      // blur radius
    double spread;    // growth of the shape on each side
    uint32_t color;   // tuple bytes as a Brush colour
    bool inset;       // accepted, not drawn differently
};

// The attributes saved and restored by push and the scoped blocks.
struct DrawAttrs {
    Brush pen;
    Brush fill;
    int32_t saved_pen_kind = BRUSH_SOLID;  // pen kind put aside while the line width is 0
    double line_width = 1.0;
    cairo_line_join_t line_join = CAIRO_LINE_JOIN_MITER;
    cairo_line_cap_t line_cap = CAIRO_LINE_CAP_BUTT;
    std::vector<double> dashes;            // empty: solid
    bool anti_alias = true;
    // A transform without an inverse (a scaling by 0) is in force: cairo cannot
    // hold it, so nothing is drawn until a scope ends or reset-matrix runs.
    bool collapsed = false;
    // Text.
    PangoFontDescription* font = nullptr;  // owned; null: the default font
    uint32_t text_color = 0;
    bool text_color_lock = false;          // the font carries its own colour
    bool underline = false, strike = false;
    // Shadows in force, applied in order.
    std::vector<Shadow> shadows;

    DrawAttrs() = default;
    DrawAttrs(const DrawAttrs& o);
    DrawAttrs& operator=(const DrawAttrs& o);
    ~DrawAttrs();
};

// The pen of a shape block while it builds cairo's current path.
struct ShapePath {
    double x = 0, y = 0;    // current point
    bool control_valid = false;  // the last segment was a curve
    double control_x = 0, control_y = 0;  // its last control point
};

struct DrawContext {
    cairo_t* cr = nullptr;
    cairo_matrix_t base;     // the transform at the start: reset-matrix goes back to it
    double width = 0, height = 0;
    bool catch_errors = false;  // print errors instead of raising them
    DrawAttrs a;
    ShapePath shape;
};

// Field names read from faces and fonts, interned once so that looking them
// up never allocates.
enum DrawField : uint32_t {
    DF_COLOR, DF_IMAGE, DF_TYPE, DF_TEXT, DF_DRAW, DF_PARA, DF_FONT, DF_SIZE, DF_DATA, DF_SYSTEM,
    DF_VIEW, DF_SILENT_Q, DF_COUNT
};

// ---- shared helpers (draw.cpp) -----------------------------------------------------------------

// A read position in a block: the block cell (rooted by its owner) and an
// absolute index into its buffer.
struct DrawCursor {
    const Cell* block;   // a rooted block cell; its node is re-read at each access
    uint32_t index;      // absolute index of the next value
    uint32_t tail() const;
    const Cell* at(uint32_t i) const;   // valid until the next allocation
    const Cell* peek() const { return index < tail() ? at(index) : nullptr; }
};

// Raises draw-invalid at the absolute index of the cursor's block.
[[noreturn]] void draw_invalid_at(const DrawCursor& c, uint32_t index);

// The resolved symbol of a Draw keyword (interned once).
enum DrawWord : uint32_t {
    DW_OFF, DW_LINEAR, DW_RADIAL, DW_DIAMOND, DW_PATTERN, DW_BITMAP, DW_PAD, DW_REPEAT,
    DW_REFLECT, DW_TILE, DW_FLIP_X, DW_FLIP_Y, DW_FLIP_XY, DW_CLAMP, DW_CLOSED, DW_BORDER,
    DW_CROP, DW_INSET, DW_PEN, DW_FILL_PEN, DW_REPLACE, DW_INTERSECT, DW_UNION, DW_XOR,
    DW_EXCLUDE, DW_MITER, DW_MITER_BEVEL, DW_ROUND, DW_BEVEL, DW_FLAT, DW_SQUARE, DW_SWEEP,
    DW_LARGE, DW_BOLD, DW_ITALIC, DW_UNDERLINE, DW_STRIKE, DW_BACKDROP, DW_RICH_TEXT,
    DW_WINDOW, DW_COUNT
};
uint32_t draw_word(DrawWord w);
// Whether the cell is a word (any of the word types given) of the keyword.
bool draw_word_is(const Cell* cell, DrawWord w);

// Numbers and points.
bool draw_point_q(const Cell* c);
bool draw_number_q(const Cell* c);
void draw_point_of(const Cell* c, double* x, double* y);
double draw_number_of(const Cell* c);  // integer!, float! or percent! (its fraction)
// A colour tuple, or a word whose value is one: true with the colour.
bool draw_color_ref(const Cell* c, uint32_t* color);
void draw_set_rgba(cairo_t* cr, uint32_t color);

// Argument readers: an optional point (false when the next value is none),
// a required point or number (draw-invalid at its place otherwise).
bool draw_opt_point(DrawCursor& c, double* x, double* y);
void draw_point_arg(DrawCursor& c, double* x, double* y);
double draw_number_arg(DrawCursor& c);

// Entering a nested block: draw-infinite when the block is already being
// evaluated (the caller then records it with a CycleGuard).
void draw_block_enter(const Cell* block);
// A set-word at the cursor: its word gets the block positioned after it, so
// a script can reach and change the arguments that follow.
void draw_set_word(const Cell* set_word, const DrawCursor& c);

// Evaluates a draw block (its position to its tail) in the context.
void draw_parse(DrawContext& ctx, const Cell* block);
// Runs a block between a saved and a restored state.
void draw_parse_scoped(DrawContext& ctx, const Cell* block);

// The value of a word (any word type) or null when it has none.
const Cell* draw_word_value(const Cell* word);

// The value of an object's field, or null when absent.
const Cell* draw_object_field(const Cell* object, DrawField field);

// ---- state (draw_state.cpp) ---------------------------------------------------------------------

void draw_state_begin(DrawContext& ctx);
void draw_pen_color(DrawContext& ctx, Brush& brush, uint32_t color, bool is_pen);
void draw_line_width(DrawContext& ctx, double w);
// Commands of the state (each reads its arguments from the cursor after the keyword).
void cmd_line_width(DrawContext& ctx, DrawCursor& c);
void cmd_line_join(DrawContext& ctx, DrawCursor& c);
void cmd_line_cap(DrawContext& ctx, DrawCursor& c);
void cmd_line_pattern(DrawContext& ctx, DrawCursor& c);
void cmd_anti_alias(DrawContext& ctx, DrawCursor& c);
void cmd_clip(DrawContext& ctx, DrawCursor& c);
void cmd_push(DrawContext& ctx, DrawCursor& c);
void cmd_rotate(DrawContext& ctx, DrawCursor& c);
void cmd_scale(DrawContext& ctx, DrawCursor& c);
void cmd_translate(DrawContext& ctx, DrawCursor& c);
void cmd_skew(DrawContext& ctx, DrawCursor& c);
void cmd_transform(DrawContext& ctx, DrawCursor& c);
void cmd_matrix(DrawContext& ctx, DrawCursor& c);
void cmd_reset_matrix(DrawContext& ctx, DrawCursor& c);
void cmd_invert_matrix(DrawContext& ctx, DrawCursor& c);
void cmd_shadow(DrawContext& ctx, DrawCursor& c);

// The saved state of a scope: restored by the destructor, on every way out.
struct DrawScope {
    DrawContext& ctx;
    DrawAttrs saved;
    explicit DrawScope(DrawContext& c);
    ~DrawScope();
    DrawScope(const DrawScope&) = delete;
    DrawScope& operator=(const DrawScope&) = delete;
};

// ---- brushes (draw_brush.cpp) -------------------------------------------------------------------

// pen / fill-pen: the argument forms after the keyword.
void cmd_pen(DrawContext& ctx, DrawCursor& c);
void cmd_fill_pen(DrawContext& ctx, DrawCursor& c);
// Sets the brush as cairo's source for a shape whose bounds (in drawing
// space) are given; fitted and tiled brushes are moved onto the bounds.
void draw_brush_source(DrawContext& ctx, const Brush& brush, double x1, double y1, double x2,
                       double y2);
// A cairo surface of an image!'s pixels (premultiplied), or null without pixels.
cairo_surface_t* draw_image_surface(const Cell* image);

// ---- primitives (draw_prims.cpp) ----------------------------------------------------------------

// Fills then strokes cairo's current path with the context's fill and pen,
// and clears the path. Bounds for fitting come from the path.
void draw_fill_stroke(DrawContext& ctx);
// Fills and strokes a rectangle or ellipse box with shadows when any are on.
void cmd_line(DrawContext& ctx, DrawCursor& c);
void cmd_box(DrawContext& ctx, DrawCursor& c);
void cmd_triangle(DrawContext& ctx, DrawCursor& c);
void cmd_polygon(DrawContext& ctx, DrawCursor& c);
void cmd_circle(DrawContext& ctx, DrawCursor& c);
void cmd_ellipse(DrawContext& ctx, DrawCursor& c);
void cmd_arc(DrawContext& ctx, DrawCursor& c);
void cmd_curve(DrawContext& ctx, DrawCursor& c);
void cmd_spline(DrawContext& ctx, DrawCursor& c);
void cmd_image(DrawContext& ctx, DrawCursor& c);
// Draws the image (rooted cell) stretched into the rectangle.
void draw_image_in(DrawContext& ctx, const Cell* image, double x, double y, double w, double h);

// ---- shapes (draw_shape.cpp) --------------------------------------------------------------------

void cmd_shape(DrawContext& ctx, DrawCursor& c);
// Builds the block as a clip path and makes it cairo's current path.
void draw_shape_clip_path(DrawContext& ctx, const Cell* block);

// ---- text (draw_text.cpp, text.cpp) ---------------------------------------------------------------

// Underline and strike-through from a font object's style.
void font_options(const Cell* font, bool* underline, bool* strike);

void cmd_font(DrawContext& ctx, DrawCursor& c);
void cmd_text(DrawContext& ctx, DrawCursor& c);
// Draws a face's text in its box (the face paint).
void draw_face_text(DrawContext& ctx, const Cell* face, double width, double height);

} // namespace kel
