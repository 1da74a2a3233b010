// Draw state: solid pens and fills, line attributes, anti-aliasing, clips,
// transforms, shadows, and saving and restoring the state around scopes.
#include "core/series.hpp"
#include "gui/backend/draw_context.hpp"
#include "datatypes/pair.hpp"
#include "runtime/collector.hpp"

#include <cmath>
#include <utility>

namespace kel {

// ---- attributes ------------------------------------------------------------------------------

DrawAttrs::DrawAttrs(const DrawAttrs& o)
    : pen(o.pen), fill(o.fill), saved_pen_kind(o.saved_pen_kind), line_width(o.line_width),
      line_join(o.line_join), line_cap(o.line_cap), dashes(o.dashes), anti_alias(o.anti_alias),
      collapsed(o.collapsed), font(o.font ? pango_font_description_copy(o.font) : nullptr),
      text_color(o.text_color), text_color_lock(o.text_color_lock), underline(o.underline),
      strike(o.strike), shadows(o.shadows) {}

DrawAttrs& DrawAttrs::operator=(const DrawAttrs& o) {
    if (this == &o) return *this;
    PangoFontDescription* old = font;
    pen = o.pen;
    fill = o.fill;
    saved_pen_kind = o.saved_pen_kind;
    line_width = o.line_width;
    line_join = o.line_join;
    line_cap = o.line_cap;
    dashes = o.dashes;
    anti_alias = o.anti_alias;
    collapsed = o.collapsed;
    font = o.font ? pango_font_description_copy(o.font) : nullptr;
    if (old) pango_font_description_free(old);
    text_color = o.text_color;
    text_color_lock = o.text_color_lock;
    underline = o.underline;
    strike = o.strike;
    shadows = o.shadows;
    return *this;
}

DrawAttrs::~DrawAttrs() {
    if (font) pango_font_description_free(font);
}

DrawScope::DrawScope(DrawContext& c) : ctx(c), saved(c.a) { cairo_save(c.cr); }

DrawScope::~DrawScope() {
    cairo_restore(ctx.cr);
    ctx.a = saved;
}

void draw_state_begin(DrawContext& ctx) {
    ctx.a = DrawAttrs{};
    cairo_matrix_init_identity(&ctx.a.pen.transform);
    cairo_matrix_init_identity(&ctx.a.fill.transform);
    ctx.a.pen.kind = BRUSH_SOLID;
    ctx.a.fill.kind = BRUSH_NONE;
    ctx.a.pen.color = ctx.a.fill.color = 0;
    cairo_set_antialias(ctx.cr, CAIRO_ANTIALIAS_DEFAULT);
}

// ---- pens ------------------------------------------------------------------------------------

void draw_pen_color(DrawContext& ctx, Brush& brush, uint32_t color, bool is_pen) {
    if (is_pen && !ctx.a.text_color_lock) ctx.a.text_color = color;
    brush.kind = BRUSH_SOLID;
    brush.color = color;
    brush.pattern = PatternRef{};
    brush.gradient = GRADIENT_NONE;
    cairo_matrix_init_identity(&brush.transform);
    if (is_pen && ctx.a.line_width == 0.0) {
        ctx.a.saved_pen_kind = BRUSH_SOLID;
        brush.kind = BRUSH_NONE;
    }
}

void draw_line_width(DrawContext& ctx, double w) {
    if (!(w > 0.0)) w = 0.0;  // a negative or NaN width strokes nothing, as 0 does
    if (w == 0.0) {
        if (ctx.a.line_width != 0.0) ctx.a.saved_pen_kind = ctx.a.pen.kind;
        ctx.a.pen.kind = BRUSH_NONE;
        ctx.a.line_width = 0.0;
        return;
    }
    if (w == ctx.a.line_width) return;
    if (ctx.a.line_width == 0.0) ctx.a.pen.kind = ctx.a.saved_pen_kind;
    ctx.a.line_width = w;
}

void cmd_line_width(DrawContext& ctx, DrawCursor& c) {
    const Cell* v = c.peek();
    if (!draw_number_q(v)) draw_invalid_at(c, c.index);
    double w = draw_number_of(v);
    c.index++;
    draw_line_width(ctx, w);
}

// A word argument, or draw-invalid at its place.
static const Cell* word_arg(DrawCursor& c) {
    const Cell* v = c.peek();
    if (!v || cell_type(v) != T_WORD) draw_invalid_at(c, c.index);
    c.index++;
    return v;
}

// The value a word argument names in the table; words not in it take the first.
template <typename T, size_t N>
static T word_choice(DrawCursor& c, const std::pair<DrawWord, T> (&table)[N]) {
    const Cell* v = word_arg(c);
    for (const auto& entry : table)
        if (draw_word_is(v, entry.first)) return entry.second;
    return table[0].second;
}

void cmd_line_join(DrawContext& ctx, DrawCursor& c) {
    // miter-bevel: a miter that turns into a bevel past the miter limit, as
    // cairo's miter join does.
    static const std::pair<DrawWord, cairo_line_join_t> joins[] = {
        {DW_MITER, CAIRO_LINE_JOIN_MITER}, {DW_MITER_BEVEL, CAIRO_LINE_JOIN_MITER},
        {DW_ROUND, CAIRO_LINE_JOIN_ROUND}, {DW_BEVEL, CAIRO_LINE_JOIN_BEVEL}};
    ctx.a.line_join = word_choice(c, joins);
}

void cmd_line_cap(DrawContext& ctx, DrawCursor& c) {
    static const std::pair<DrawWord, cairo_line_cap_t> caps[] = {
        {DW_FLAT, CAIRO_LINE_CAP_BUTT}, {DW_SQUARE, CAIRO_LINE_CAP_SQUARE}, {DW_ROUND, CAIRO_LINE_CAP_ROUND}};
    ctx.a.line_cap = word_choice(c, caps);
}

void cmd_line_pattern(DrawContext& ctx, DrawCursor& c) {
    std::vector<double> dashes;
    bool any_length = false;
    for (const Cell* v; (v = c.peek()) && cell_type(v) == T_INTEGER; c.index++) {
        int32_t n = cell_int(v);
        if (n < 0) n = 0;  // a negative length is no length
        if (n > 0) any_length = true;
        dashes.push_back(double(n));
    }
    // A pattern of nothing but zero lengths would draw nothing at all; it
    // reads as solid.
    if (!any_length) dashes.clear();
    ctx.a.dashes = std::move(dashes);
}

void cmd_anti_alias(DrawContext& ctx, DrawCursor& c) {
    const Cell* v = word_arg(c);
    ctx.a.anti_alias = !draw_word_is(v, DW_OFF);
}

// ---- transforms ------------------------------------------------------------------------------

enum TransformTarget { TARGET_DRAWING, TARGET_PEN, TARGET_FILL };

// An optional 'pen or 'fill-pen after a transform command.
static TransformTarget target_arg(DrawCursor& c) {
    const Cell* v = c.peek();
    if (v && cell_type(v) == T_LIT_WORD) {
        if (draw_word_is(v, DW_PEN)) { c.index++; return TARGET_PEN; }
        if (draw_word_is(v, DW_FILL_PEN)) { c.index++; return TARGET_FILL; }
    }
    return TARGET_DRAWING;
}

static bool scale_q(const Cell* v) { return draw_number_q(v) || (v && cell_type(v) == T_PERCENT); }

static double scale_arg(DrawCursor& c) {
    const Cell* v = c.peek();
    if (!scale_q(v)) draw_invalid_at(c, c.index);
    c.index++;
    return draw_number_of(v);
}

// Makes m (applied before the transforms in force) part of the target's
// transform. A brush takes it only when it is a gradient or a tile.
static void transform_apply(DrawContext& ctx, TransformTarget target, const cairo_matrix_t* m) {
    if (target != TARGET_DRAWING) {
        Brush& b = target == TARGET_PEN ? ctx.a.pen : ctx.a.fill;
        if (b.kind > BRUSH_SOLID)
            matrix_multiply(m, &b.transform, &b.transform, false);
        return;
    }
    if (ctx.a.collapsed) return;
    cairo_matrix_t cur, next;
    cairo_get_matrix(ctx.cr, &cur);
    matrix_multiply(m, &cur, &next, false);
    cairo_matrix_t probe = next;
    if (cairo_matrix_invert(&probe) != CAIRO_STATUS_SUCCESS) {
        ctx.a.collapsed = true;
        return;
    }
    cairo_set_matrix(ctx.cr, &next);
}

// Applies m to the target, then runs the optional trailing block with the
// state saved around both.
static void transform_finish(DrawContext& ctx, DrawCursor& c, TransformTarget target,
                             const cairo_matrix_t* m) {
    const Cell* v = c.peek();
    if (v && cell_type(v) == T_BLOCK) {
        CellRoot block(*v);
        c.index++;
        DrawScope scope(ctx);
        transform_apply(ctx, target, m);
        draw_parse(ctx, &block.cell);
        return;
    }
    transform_apply(ctx, target, m);
}

static const cairo_matrix_t IDENTITY = {1, 0, 0, 1, 0, 0};

void cmd_rotate(DrawContext& ctx, DrawCursor& c) {
    TransformTarget target = target_arg(c);
    double angle = draw_number_arg(c);
    double cx = 0, cy = 0;
    draw_opt_point(c, &cx, &cy);
    cairo_matrix_t m;
    matrix_rotate(&IDENTITY, angle, cx, cy, &m, false);
    transform_finish(ctx, c, target, &m);
}

void cmd_scale(DrawContext& ctx, DrawCursor& c) {
    TransformTarget target = target_arg(c);
    double sx = scale_arg(c);
    double sy = scale_arg(c);
    double cx = 0, cy = 0;
    draw_opt_point(c, &cx, &cy);
    cairo_matrix_t m;
    matrix_scale(&IDENTITY, sx, sy, cx, cy, &m, false);
    transform_finish(ctx, c, target, &m);
}

void cmd_translate(DrawContext& ctx, DrawCursor& c) {
    TransformTarget target = target_arg(c);
    double x, y;
    if (!draw_opt_point(c, &x, &y)) draw_invalid_at(c, c.index);
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, x, y);
    transform_finish(ctx, c, target, &m);
}

void cmd_skew(DrawContext& ctx, DrawCursor& c) {
    TransformTarget target = target_arg(c);
    double ax = draw_number_arg(c);
    double ay = 0;
    if (draw_number_q(c.peek())) ay = draw_number_arg(c);
    double cx = 0, cy = 0;
    draw_opt_point(c, &cx, &cy);
    cairo_matrix_t m;
    matrix_skew(&IDENTITY, ax, ay, cx, cy, &m, false);
    transform_finish(ctx, c, target, &m);
}

void cmd_transform(DrawContext& ctx, DrawCursor& c) {
    TransformTarget target = target_arg(c);
    double cx = 0, cy = 0;
    draw_opt_point(c, &cx, &cy);
    double angle = draw_number_arg(c);
    double sx = scale_arg(c);
    double sy = scale_arg(c);
    double tx, ty;
    if (!draw_opt_point(c, &tx, &ty)) draw_invalid_at(c, c.index);
    // Three commands in a row, each applied before those in force:
    // translate x scale x rotate.
    cairo_matrix_t r, s, t, m;
    matrix_rotate(&IDENTITY, angle, cx, cy, &r, false);
    matrix_scale(&IDENTITY, sx, sy, cx, cy, &s, false);
    cairo_matrix_init_translate(&t, tx, ty);
    matrix_multiply(&t, &s, &m, false);
    matrix_multiply(&m, &r, &m, false);
    transform_finish(ctx, c, target, &m);
}

void cmd_matrix(DrawContext& ctx, DrawCursor& c) {
    TransformTarget target = target_arg(c);
    const Cell* v = c.peek();
    if (!v || cell_type(v) != T_BLOCK) draw_invalid_at(c, c.index);
    CellRoot block(*v);
    DrawCursor inner{&block.cell, uint32_t(series_index(&block.cell))};
    if (inner.index > inner.tail() || inner.tail() - inner.index != 6) draw_invalid_at(c, c.index);
    double f[6];
    for (int i = 0; i < 6; i++) {
        const Cell* n = inner.at(inner.index + i);
        if (!draw_number_q(n)) draw_invalid_at(inner, inner.index + i);
        f[i] = draw_number_of(n);
    }
    c.index++;
    cairo_matrix_t m;
    cairo_matrix_init(&m, f[0], f[1], f[2], f[3], f[4], f[5]);
    transform_apply(ctx, target, &m);
}

void cmd_reset_matrix(DrawContext& ctx, DrawCursor& c) {
    TransformTarget target = target_arg(c);
    if (target == TARGET_DRAWING) {
        ctx.a.collapsed = false;
        cairo_set_matrix(ctx.cr, &ctx.base);
        return;
    }
    Brush& b = target == TARGET_PEN ? ctx.a.pen : ctx.a.fill;
    if (b.kind > BRUSH_SOLID) cairo_matrix_init_identity(&b.transform);
}

void cmd_invert_matrix(DrawContext& ctx, DrawCursor& c) {
    TransformTarget target = target_arg(c);
    if (target != TARGET_DRAWING) {
        Brush& b = target == TARGET_PEN ? ctx.a.pen : ctx.a.fill;
        if (b.kind > BRUSH_SOLID) matrix_invert(&b.transform, &b.transform);
        return;
    }
    if (ctx.a.collapsed) return;
    // The transform in force is U x base; U is inverted, base stays.
    cairo_matrix_t cur, base_inv, u, next;
    cairo_get_matrix(ctx.cr, &cur);
    matrix_invert(&ctx.base, &base_inv);
    matrix_multiply(&cur, &base_inv, &u, false);
    matrix_invert(&u, &u);
    matrix_multiply(&u, &ctx.base, &next, false);
    cairo_set_matrix(ctx.cr, &next);
}

// ---- clips -----------------------------------------------------------------------------------

void cmd_clip(DrawContext& ctx, DrawCursor& c) {
    const Cell* v = c.peek();
    bool rect = draw_point_q(v);
    if (!rect && !(v && cell_type(v) == T_BLOCK)) draw_invalid_at(c, c.index);
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    CellRoot path_block(*v);
    c.index++;
    if (rect) {
        draw_point_of(v, &x1, &y1);
        if (!draw_opt_point(c, &x2, &y2)) draw_invalid_at(c, c.index);
    }
    // The mode word is accepted; each clip narrows the clip in force.
    const Cell* mode = c.peek();
    if (mode && (draw_word_is(mode, DW_REPLACE) || draw_word_is(mode, DW_INTERSECT) ||
                 draw_word_is(mode, DW_UNION) || draw_word_is(mode, DW_XOR) ||
                 draw_word_is(mode, DW_EXCLUDE)) && cell_type(mode) == T_WORD)
        c.index++;
    auto apply = [&]() {
        cairo_set_antialias(ctx.cr, ctx.a.anti_alias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
        if (rect) {
            cairo_new_path(ctx.cr);
            cairo_rectangle(ctx.cr, std::fmin(x1, x2), std::fmin(y1, y2), std::fabs(x2 - x1),
                            std::fabs(y2 - y1));
            cairo_set_fill_rule(ctx.cr, CAIRO_FILL_RULE_WINDING);
        } else {
            draw_shape_clip_path(ctx, &path_block.cell);
        }
        cairo_clip(ctx.cr);
    };
    const Cell* after = c.peek();
    if (after && cell_type(after) == T_BLOCK) {
        CellRoot block(*after);
        c.index++;
        DrawScope scope(ctx);
        apply();
        draw_parse(ctx, &block.cell);
        return;
    }
    apply();
}

void cmd_push(DrawContext& ctx, DrawCursor& c) {
    const Cell* v = c.peek();
    if (!v || cell_type(v) != T_BLOCK) draw_invalid_at(c, c.index);
    CellRoot block(*v);
    c.index++;
    draw_parse_scoped(ctx, &block.cell);
}

// ---- shadows ---------------------------------------------------------------------------------

void cmd_shadow(DrawContext& ctx, DrawCursor& c) {
    const Cell* v = c.peek();
    if (!v || (cell_type(v) != T_PAIR && cell_type(v) != T_WORD)) draw_invalid_at(c, c.index);
    if (cell_type(v) == T_WORD) {
        if (!draw_word_is(v, DW_OFF)) draw_invalid_at(c, c.index);
        c.index++;
        ctx.a.shadows.clear();
        return;
    }
    Shadow s{double(pair_x(v)), double(pair_y(v)), 0, 0, 0, false};
    c.index++;
    if ((v = c.peek()) && cell_type(v) == T_INTEGER) { s.blur = cell_int(v); c.index++; }
    if ((v = c.peek()) && cell_type(v) == T_INTEGER) { s.spread = cell_int(v); c.index++; }
    uint32_t color;
    if ((v = c.peek()) && draw_color_ref(v, &color)) { s.color = color; c.index++; }
    if ((v = c.peek()) && cell_type(v) == T_WORD && draw_word_is(v, DW_INSET)) {
        s.inset = true;
        c.index++;
    }
    ctx.a.shadows.push_back(s);
}

} // namespace kel
