// The shape sub-dialect: moves, lines, arcs and Bezier curves, absolute (word)
// or relative (lit-word), building one path that `shape` fills and strokes
// and `clip` uses as a mask.
#include "gui/backend/draw_context.hpp"
#include "core/symbol.hpp"
#include "runtime/collector.hpp"
#include "core/cycle.hpp"
#include "core/series.hpp"
#include "core/word.hpp"

#include <cmath>
#include <unordered_map>

namespace kel {

static constexpr double PI = 3.14159265358979323846;

// A point argument of a shape command: absolute, or added to the origin
// given (the current point) for the relative form.
static bool shape_point(DrawCursor& c, bool relative, double ox, double oy, double* x, double* y) {
    const Cell* v = c.peek();
    if (!draw_point_q(v)) return false;
    draw_point_of(v, x, y);
    if (relative) {
        *x += ox;
        *y += oy;
    }
    c.index++;
    return true;
}

// Reads the points of a curve command in groups of size; fewer than min
// groups, or an incomplete last group, is an error. Points of a group are
// relative to the current point at the start of its segment.
static std::vector<double> shape_groups(DrawCursor& c, const ShapePath& s, bool relative, int size,
                                        int min_groups) {
    std::vector<double> out;
    double ox = s.x, oy = s.y;
    int n = 0;
    double x, y;
    while (shape_point(c, relative, ox, oy, &x, &y)) {
        out.push_back(x);
        out.push_back(y);
        if (++n % size == 0) {  // the segment's end is the next origin
            ox = x;
            oy = y;
        }
    }
    if (n < size * min_groups || n % size) draw_invalid_at(c, c.index);
    return out;
}

static void shape_cubic(cairo_t* cr, ShapePath& s, double c1x, double c1y, double c2x, double c2y,
                        double x, double y) {
    cairo_curve_to(cr, c1x, c1y, c2x, c2y, x, y);
    s.control_valid = true;
    s.control_x = c2x;
    s.control_y = c2y;
    s.x = x;
    s.y = y;
}

// A quadratic Bezier as the cubic of the same curve.
static void shape_quadratic(cairo_t* cr, ShapePath& s, double qx, double qy, double x, double y) {
    cairo_curve_to(cr, s.x + 2.0 / 3 * (qx - s.x), s.y + 2.0 / 3 * (qy - s.y), x + 2.0 / 3 * (qx - x),
                   y + 2.0 / 3 * (qy - y), x, y);
    s.control_valid = true;
    s.control_x = qx;
    s.control_y = qy;
    s.x = x;
    s.y = y;
}

// The reflection of the last control point about the current point, or the
// current point when the last segment was not a curve.
static void shape_reflected(const ShapePath& s, double* x, double* y) {
    if (!s.control_valid) {
        *x = s.x;
        *y = s.y;
        return;
    }
    *x = 2 * s.x - s.control_x;
    *y = 2 * s.y - s.control_y;
}

// An elliptical arc from the current point to (x, y): radii rx, ry, the
// ellipse turned by angle degrees; sweep picks the clockwise direction,
// large the longer of the two candidate arcs.
static void shape_arc(cairo_t* cr, ShapePath& s, double x, double y, double rx, double ry,
                      double angle, bool sweep, bool large) {
    double x1 = s.x, y1 = s.y;
    s.x = x;
    s.y = y;
    s.control_valid = false;
    rx = std::fabs(rx);
    ry = std::fabs(ry);
    if ((x1 == x && y1 == y)) return;
    if (rx == 0 || ry == 0) {
        cairo_line_to(cr, x, y);
        return;
    }
    double phi = angle * PI / 180, cp = std::cos(phi), sp = std::sin(phi);
    double dx = (x1 - x) / 2, dy = (y1 - y) / 2;
    double x1p = cp * dx + sp * dy, y1p = -sp * dx + cp * dy;
    double lambda = (x1p * x1p) / (rx * rx) + (y1p * y1p) / (ry * ry);
    if (lambda > 1) {  // radii too small to reach: grown just enough
        double k = std::sqrt(lambda);
        rx *= k;
        ry *= k;
    }
    double num = rx * rx * ry * ry - rx * rx * y1p * y1p - ry * ry * x1p * x1p;
    double den = rx * rx * y1p * y1p + ry * ry * x1p * x1p;
    double coef = den > 0 ? std::sqrt(std::fmax(0.0, num / den)) : 0.0;
    if (large == sweep) coef = -coef;
    double cxp = coef * rx * y1p / ry, cyp = -coef * ry * x1p / rx;
    double cx = cp * cxp - sp * cyp + (x1 + x) / 2, cy = sp * cxp + cp * cyp + (y1 + y) / 2;
    double t1 = std::atan2((y1p - cyp) / ry, (x1p - cxp) / rx);
    double t2 = std::atan2((-y1p - cyp) / ry, (-x1p - cxp) / rx);
    double dt = t2 - t1;
    if (sweep && dt < 0) dt += 2 * PI;
    else if (!sweep && dt > 0) dt -= 2 * PI;
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, phi);
    cairo_scale(cr, rx, ry);
    if (sweep) cairo_arc(cr, 0, 0, 1, t1, t1 + dt);
    else cairo_arc_negative(cr, 0, 0, 1, t1, t1 + dt);
    cairo_restore(cr);
}

using ShapeCommand = void (*)(DrawContext& ctx, DrawCursor& c, bool relative);

static void shape_move(DrawContext& ctx, DrawCursor& c, bool relative) {
    ShapePath& s = ctx.shape;
    double x, y;
    if (!shape_point(c, relative, s.x, s.y, &x, &y)) draw_invalid_at(c, c.index);
    cairo_move_to(ctx.cr, x, y);
    s.x = x;
    s.y = y;
    s.control_valid = false;
}

static void shape_line(DrawContext& ctx, DrawCursor& c, bool relative) {
    ShapePath& s = ctx.shape;
    double x, y;
    if (!shape_point(c, relative, s.x, s.y, &x, &y)) draw_invalid_at(c, c.index);
    do {
        cairo_line_to(ctx.cr, x, y);
        s.x = x;
        s.y = y;
    } while (shape_point(c, relative, s.x, s.y, &x, &y));
    s.control_valid = false;
}

// A horizontal (x changes) or vertical line to a coordinate or by an offset.
static void shape_axis_line(DrawContext& ctx, DrawCursor& c, bool relative, bool vertical) {
    ShapePath& s = ctx.shape;
    double n = draw_number_arg(c);
    double& coord = vertical ? s.y : s.x;
    coord = relative ? coord + n : n;
    cairo_line_to(ctx.cr, s.x, s.y);
    s.control_valid = false;
}

static void shape_hline(DrawContext& ctx, DrawCursor& c, bool relative) { shape_axis_line(ctx, c, relative, false); }
static void shape_vline(DrawContext& ctx, DrawCursor& c, bool relative) { shape_axis_line(ctx, c, relative, true); }

static void shape_arc_cmd(DrawContext& ctx, DrawCursor& c, bool relative) {
    ShapePath& s = ctx.shape;
    double x, y;
    if (!shape_point(c, relative, s.x, s.y, &x, &y)) draw_invalid_at(c, c.index);
    double rx = draw_number_arg(c), ry = draw_number_arg(c), angle = draw_number_arg(c);
    bool sweep = false, large = false;
    for (int i = 0; i < 2; i++) {
        const Cell* v = c.peek();
        if (!v || cell_type(v) != T_WORD) break;
        if (!sweep && draw_word_is(v, DW_SWEEP)) sweep = true;
        else if (!large && draw_word_is(v, DW_LARGE)) large = true;
        else break;
        c.index++;
    }
    shape_arc(ctx.cr, s, x, y, rx, ry, angle, sweep, large);
}

static void shape_curve(DrawContext& ctx, DrawCursor& c, bool relative) {
    ShapePath& s = ctx.shape;
    std::vector<double> p = shape_groups(c, s, relative, 3, 1);
    for (size_t i = 0; i < p.size(); i += 6)
        shape_cubic(ctx.cr, s, p[i], p[i + 1], p[i + 2], p[i + 3], p[i + 4], p[i + 5]);
}

static void shape_qcurve(DrawContext& ctx, DrawCursor& c, bool relative) {
    ShapePath& s = ctx.shape;
    std::vector<double> p = shape_groups(c, s, relative, 2, 1);
    for (size_t i = 0; i < p.size(); i += 4) shape_quadratic(ctx.cr, s, p[i], p[i + 1], p[i + 2], p[i + 3]);
}

static void shape_curv(DrawContext& ctx, DrawCursor& c, bool relative) {
    ShapePath& s = ctx.shape;
    std::vector<double> p = shape_groups(c, s, relative, 2, 1);
    for (size_t i = 0; i < p.size(); i += 4) {
        double c1x, c1y;
        shape_reflected(s, &c1x, &c1y);
        shape_cubic(ctx.cr, s, c1x, c1y, p[i], p[i + 1], p[i + 2], p[i + 3]);
    }
}

static void shape_qcurv(DrawContext& ctx, DrawCursor& c, bool relative) {
    ShapePath& s = ctx.shape;
    std::vector<double> p = shape_groups(c, s, relative, 1, 1);
    for (size_t i = 0; i < p.size(); i += 2) {
        double qx, qy;
        shape_reflected(s, &qx, &qy);
        shape_quadratic(ctx.cr, s, qx, qy, p[i], p[i + 1]);
    }
}

static void shape_close(DrawContext& ctx, DrawCursor&, bool) {
    ShapePath& s = ctx.shape;
    cairo_close_path(ctx.cr);
    cairo_move_to(ctx.cr, s.x, s.y);
    s.control_valid = false;
}

static const std::pair<const char*, ShapeCommand> SHAPE_COMMANDS[] = {
    {"move", shape_move}, {"line", shape_line}, {"hline", shape_hline}, {"vline", shape_vline},
    {"arc", shape_arc_cmd}, {"curve", shape_curve}, {"qcurve", shape_qcurve}, {"curv", shape_curv},
    {"qcurv", shape_qcurv}, {"close", shape_close},
};

static std::unordered_map<uint32_t, ShapeCommand>& shape_table() {
    static std::unordered_map<uint32_t, ShapeCommand> table;
    if (table.empty())
        for (const auto& def : SHAPE_COMMANDS) table[symbol_resolve(symbol_make(def.first))] = def.second;
    return table;
}

// Evaluates one shape block into cairo's current path.
static void shape_eval(DrawContext& ctx, const Cell* block) {
    draw_block_enter(block);
    CellRoot root(*block);
    CycleGuard guard(series_node(block));
    DrawCursor c{&root.cell, uint32_t(series_index(block))};
    while (c.index < c.tail()) {
        const Cell* v = c.at(c.index);
        uint8_t t = cell_type(v);
        if (t == T_WORD || t == T_LIT_WORD) {
            auto it = shape_table().find(symbol_resolve(word_symbol(v)));
            if (it == shape_table().end()) draw_invalid_at(c, c.index);
            c.index++;
            it->second(ctx, c, t == T_LIT_WORD);
        } else if (t == T_SET_WORD) {
            draw_set_word(v, c);
            c.index++;
        } else if (t == T_BLOCK) {
            CellRoot nested(*v);
            c.index++;
            shape_eval(ctx, &nested.cell);
        } else {
            draw_invalid_at(c, c.index);
        }
    }
}

// Starts a path at 0x0, as every shape does.
static void shape_begin(DrawContext& ctx) {
    ctx.shape = ShapePath{};
    cairo_new_path(ctx.cr);
    cairo_move_to(ctx.cr, 0, 0);
}

void cmd_shape(DrawContext& ctx, DrawCursor& c) {
    const Cell* v = c.peek();
    if (!v || cell_type(v) != T_BLOCK) draw_invalid_at(c, c.index);
    CellRoot block(*v);
    c.index++;
    shape_begin(ctx);
    try {
        shape_eval(ctx, &block.cell);
    } catch (...) {
        cairo_new_path(ctx.cr);
        ctx.shape = ShapePath{};
        throw;
    }
    ctx.shape = ShapePath{};
    draw_fill_stroke(ctx);
}

void draw_shape_clip_path(DrawContext& ctx, const Cell* block) {
    shape_begin(ctx);
    try {
        shape_eval(ctx, block);
    } catch (...) {
        cairo_new_path(ctx.cr);
        ctx.shape = ShapePath{};
        throw;
    }
    ctx.shape = ShapePath{};
    cairo_set_fill_rule(ctx.cr, CAIRO_FILL_RULE_WINDING);
}

} // namespace kel
