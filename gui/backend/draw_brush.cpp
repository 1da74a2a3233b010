// Pens and fills: colours, linear, radial and diamond gradients (placed or
// fitted to each shape), and tiled brushes from a nested draw block
// (pattern) or an image (bitmap).
#include "gui/backend/draw_context.hpp"
#include "datatypes/image.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <cmath>

namespace kel {

// One colour stop as read: its colour and its explicit position, if any.
struct StopArg {
    uint32_t color;
    bool placed;
    double position;
};

// Reads colour stops: a colour (or a word holding one), optionally followed
// by a float! position. Ends at the first value that is neither.
static std::vector<StopArg> stops_arg(DrawCursor& c) {
    std::vector<StopArg> stops;
    uint32_t color;
    for (const Cell* v; (v = c.peek()) && draw_color_ref(v, &color);) {
        c.index++;
        StopArg s{color, false, 0.0};
        const Cell* p = c.peek();
        if (p && cell_type(p) == T_FLOAT) {
            s.placed = true;
            s.position = cell_double(p);
            c.index++;
        }
        stops.push_back(s);
    }
    return stops;
}

// Adds the stops to a gradient: a stop without a position takes the running
// position, which then advances by 1 / (n - 1); an explicit position becomes
// the running position without advancing it.
static void stops_add(cairo_pattern_t* g, const std::vector<StopArg>& stops) {
    double step = stops.size() > 1 ? 1.0 / double(stops.size() - 1) : 0.0;
    double running = 0.0;
    for (const StopArg& s : stops) {
        double pos;
        if (s.placed) {
            pos = running = s.position;
        } else {
            pos = running;
            running += step;
        }
        uint32_t col = s.color;
        cairo_pattern_add_color_stop_rgba(g, std::clamp(pos, 0.0, 1.0), (col & 0xFF) / 255.0,
                                          ((col >> 8) & 0xFF) / 255.0, ((col >> 16) & 0xFF) / 255.0,
                                          (255 - (col >> 24)) / 255.0);
    }
}

static void brush_set(Brush& b, int32_t kind, cairo_pattern_t* pattern, int32_t gradient) {
    b.kind = kind;
    b.pattern = PatternRef(pattern);
    b.gradient = gradient;
    cairo_matrix_init_identity(&b.transform);
}

// Puts the brush in place as the pen or the fill; a pen put in place while
// the line width is 0 waits in the saved pen kind.
static void brush_install(DrawContext& ctx, Brush& target, Brush&& b, bool is_pen) {
    target = std::move(b);
    if (is_pen && ctx.a.line_width == 0.0) {
        ctx.a.saved_pen_kind = target.kind;
        target.kind = BRUSH_NONE;
    }
}

// The gradient forms after linear, radial or diamond.
static void gradient_arg(DrawContext& ctx, DrawCursor& c, Brush& target, bool is_pen, int32_t kind) {
    Brush b;
    const Cell* v = c.peek();
    if (draw_point_q(v)) {
        // offset start stop [angle [scale-x [scale-y]]] stops...
        double ox, oy;
        draw_point_arg(c, &ox, &oy);
        const Cell* s = c.peek();
        if (!s || cell_type(s) != T_INTEGER) draw_invalid_at(c, c.index);
        double start = cell_int(s);
        c.index++;
        s = c.peek();
        if (!s || cell_type(s) != T_INTEGER) draw_invalid_at(c, c.index);
        double stop = cell_int(s);
        c.index++;
        double extra[3] = {0.0, 1.0, 1.0};
        for (int i = 0; i < 3 && draw_number_q(c.peek()); i++) extra[i] = draw_number_arg(c);
        uint32_t at = c.index;
        std::vector<StopArg> stops = stops_arg(c);
        if (stops.size() < 2) draw_invalid_at(c, stops.empty() ? at : c.index);
        cairo_pattern_t* g = kind == GRADIENT_LINEAR
                                 ? cairo_pattern_create_linear(ox + start, oy, ox + stop, oy)
                                 : cairo_pattern_create_radial(ox, oy, 0, ox, oy, std::fabs(stop - start));
        stops_add(g, stops);
        cairo_pattern_set_extend(g, CAIRO_EXTEND_PAD);
        brush_set(b, BRUSH_PLACED, g, kind);
        cairo_matrix_t m = b.transform;
        if (extra[0] != 0.0) matrix_rotate(&m, extra[0], 0, 0, &m, false);
        if (extra[1] != 1.0 || extra[2] != 1.0) matrix_scale(&m, extra[1], extra[2], 0, 0, &m, false);
        b.transform = m;
        brush_install(ctx, target, std::move(b), is_pen);
        return;
    }
    uint32_t at = c.index;
    std::vector<StopArg> stops = stops_arg(c);
    if (stops.empty()) draw_invalid_at(c, at);
    cairo_pattern_t* g = nullptr;
    double x1, y1;
    if (kind == GRADIENT_LINEAR) {
        if (draw_opt_point(c, &x1, &y1)) {
            double x2, y2;
            draw_point_arg(c, &x2, &y2);
            g = cairo_pattern_create_linear(x1, y1, x2, y2);
        }
    } else if (kind == GRADIENT_RADIAL) {
        if (draw_opt_point(c, &x1, &y1)) {
            double r = draw_number_arg(c);
            double fx = x1, fy = y1;
            draw_opt_point(c, &fx, &fy);
            g = cairo_pattern_create_radial(fx, fy, 0, x1, y1, std::fabs(r));
        }
    } else if (draw_opt_point(c, &x1, &y1)) {
        // A diamond is drawn as a radial gradient filling the box from the
        // upper point to the lower point.
        double x2, y2;
        draw_point_arg(c, &x2, &y2);
        double cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
        double r = std::fmin(std::fabs(x2 - x1), std::fabs(y2 - y1)) / 2;
        double fx = cx, fy = cy;
        draw_opt_point(c, &fx, &fy);
        g = cairo_pattern_create_radial(fx, fy, 0, cx, cy, r);
    }
    int32_t brush_kind = g ? BRUSH_PLACED : BRUSH_FITTED;
    if (!g)
        g = kind == GRADIENT_LINEAR ? cairo_pattern_create_linear(0, 0, 1, 0)
                                    : cairo_pattern_create_radial(0.5, 0.5, 0, 0.5, 0.5, 0.5);
    stops_add(g, stops);
    cairo_extend_t extend = CAIRO_EXTEND_PAD;
    const Cell* w = c.peek();
    if (w && cell_type(w) == T_WORD) {
        if (draw_word_is(w, DW_PAD)) c.index++;
        else if (draw_word_is(w, DW_REPEAT)) { extend = CAIRO_EXTEND_REPEAT; c.index++; }
        else if (draw_word_is(w, DW_REFLECT)) { extend = CAIRO_EXTEND_REFLECT; c.index++; }
    }
    cairo_pattern_set_extend(g, extend);
    brush_set(b, brush_kind, g, kind);
    brush_install(ctx, target, std::move(b), is_pen);
}

// ---- tiles -----------------------------------------------------------------------------------

enum TileMode { TILE_WRAP, TILE_FLIP_X, TILE_FLIP_Y, TILE_FLIP_XY, TILE_CLAMP };

static TileMode tile_mode_arg(DrawCursor& c) {
    const Cell* w = c.peek();
    if (!w || cell_type(w) != T_WORD) return TILE_WRAP;
    static const std::pair<DrawWord, TileMode> modes[] = {
        {DW_TILE, TILE_WRAP}, {DW_FLIP_X, TILE_FLIP_X}, {DW_FLIP_Y, TILE_FLIP_Y},
        {DW_FLIP_XY, TILE_FLIP_XY}, {DW_CLAMP, TILE_CLAMP}};
    for (const auto& m : modes)
        if (draw_word_is(w, m.first)) {
            c.index++;
            return m.second;
        }
    return TILE_WRAP;
}

// A repeating pattern of the part (x1, y1)-(x2, y2) of the source, mirrored
// on the axes the mode flips, or null when the part is empty.
static cairo_pattern_t* tile_pattern(cairo_surface_t* source, double x1, double y1, double x2,
                                     double y2, TileMode mode, double* tile_w, double* tile_h) {
    double sw = cairo_image_surface_get_width(source), sh = cairo_image_surface_get_height(source);
    x1 = std::clamp(x1, 0.0, sw);
    y1 = std::clamp(y1, 0.0, sh);
    x2 = std::clamp(x2, 0.0, sw);
    y2 = std::clamp(y2, 0.0, sh);
    int w = int(std::lround(x2 - x1)), h = int(std::lround(y2 - y1));
    if (w <= 0 || h <= 0) return nullptr;
    bool fx = mode == TILE_FLIP_X || mode == TILE_FLIP_XY;
    bool fy = mode == TILE_FLIP_Y || mode == TILE_FLIP_XY;
    cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w * (fx ? 2 : 1), h * (fy ? 2 : 1));
    cairo_t* cr = cairo_create(tile);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    for (int j = 0; j < (fy ? 2 : 1); j++)
        for (int i = 0; i < (fx ? 2 : 1); i++) {
            cairo_save(cr);
            cairo_rectangle(cr, i * w, j * h, w, h);
            cairo_clip(cr);
            // Copy i-th column, j-th row: mirrored when 1.
            cairo_translate(cr, i ? 2.0 * w : 0.0, j ? 2.0 * h : 0.0);
            cairo_scale(cr, i ? -1.0 : 1.0, j ? -1.0 : 1.0);
            cairo_set_source_surface(cr, source, -x1, -y1);
            cairo_paint(cr);
            cairo_restore(cr);
        }
    cairo_destroy(cr);
    cairo_pattern_t* p = cairo_pattern_create_for_surface(tile);
    cairo_surface_destroy(tile);
    cairo_pattern_set_extend(p, mode == TILE_CLAMP ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_REPEAT);
    cairo_pattern_set_filter(p, CAIRO_FILTER_BILINEAR);
    *tile_w = w;
    *tile_h = h;
    return p;
}

// Start, end and tile mode after the image or size of a tile.
static void tile_install(DrawContext& ctx, DrawCursor& c, Brush& target, bool is_pen,
                         cairo_surface_t* source, double width, double height) {
    double x1 = 0, y1 = 0, x2 = width, y2 = height;
    if (draw_opt_point(c, &x1, &y1)) draw_opt_point(c, &x2, &y2);
    TileMode mode = tile_mode_arg(c);
    Brush b;
    cairo_pattern_t* p = source ? tile_pattern(source, x1, y1, x2, y2, mode, &b.tile_width, &b.tile_height)
                                : nullptr;
    if (!p) {
        target.kind = BRUSH_NONE;
        if (is_pen) ctx.a.saved_pen_kind = BRUSH_NONE;
        return;
    }
    brush_set(b, BRUSH_TILED, p, GRADIENT_NONE);
    brush_install(ctx, target, std::move(b), is_pen);
}

// pattern size [start [end]] [mode] [commands]
static void pattern_arg(DrawContext& ctx, DrawCursor& c, Brush& target, bool is_pen) {
    double w, h;
    if (!draw_opt_point(c, &w, &h)) draw_invalid_at(c, c.index);
    double x1 = 0, y1 = 0, x2 = w, y2 = h;
    bool has_start = draw_opt_point(c, &x1, &y1);
    bool has_end = has_start && draw_opt_point(c, &x2, &y2);
    TileMode mode = tile_mode_arg(c);
    const Cell* v = c.peek();
    if (!v || cell_type(v) != T_BLOCK) draw_invalid_at(c, c.index);
    CellRoot block(*v);
    c.index++;
    int iw = int(std::ceil(w)), ih = int(std::ceil(h));
    if (iw <= 0 || ih <= 0) {
        target.kind = BRUSH_NONE;
        return;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, iw, ih);
    cairo_t* cr = cairo_create(surface);
    cairo_t* outer = ctx.cr;
    cairo_matrix_t outer_base = ctx.base;
    ctx.cr = cr;
    cairo_matrix_init_identity(&ctx.base);
    try {
        DrawScope scope(ctx);
        draw_parse(ctx, &block.cell);
    } catch (...) {
        ctx.cr = outer;
        ctx.base = outer_base;
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        throw;
    }
    ctx.cr = outer;
    ctx.base = outer_base;
    cairo_destroy(cr);
    (void)has_end;
    Brush b;
    cairo_pattern_t* p = tile_pattern(surface, x1, y1, x2, y2, mode, &b.tile_width, &b.tile_height);
    cairo_surface_destroy(surface);
    if (!p) {
        target.kind = BRUSH_NONE;
        return;
    }
    brush_set(b, BRUSH_TILED, p, GRADIENT_NONE);
    brush_install(ctx, target, std::move(b), is_pen);
}

// bitmap image-word [start [end]] [mode]
static void bitmap_arg(DrawContext& ctx, DrawCursor& c, Brush& target, bool is_pen) {
    const Cell* v = c.peek();
    const Cell* image = v && cell_type(v) == T_WORD ? draw_word_value(v) : nullptr;
    if (!image || cell_type(image) != T_IMAGE) draw_invalid_at(c, c.index);
    c.index++;
    CellRoot img(*image);
    cairo_surface_t* s = draw_image_surface(&img.cell);
    try {
        tile_install(ctx, c, target, is_pen, s, image_width(&img.cell), image_height(&img.cell));
    } catch (...) {
        if (s) cairo_surface_destroy(s);
        throw;
    }
    if (s) cairo_surface_destroy(s);
}

static void brush_arg(DrawContext& ctx, DrawCursor& c, bool is_pen) {
    Brush& target = is_pen ? ctx.a.pen : ctx.a.fill;
    const Cell* v = c.peek();
    if (!v) draw_invalid_at(c, c.index);
    if (cell_type(v) == T_WORD) {
        int32_t gradient = draw_word_is(v, DW_LINEAR)    ? GRADIENT_LINEAR
                           : draw_word_is(v, DW_RADIAL)  ? GRADIENT_RADIAL
                           : draw_word_is(v, DW_DIAMOND) ? GRADIENT_DIAMOND
                                                         : GRADIENT_NONE;
        if (draw_word_is(v, DW_OFF)) {
            c.index++;
            target.kind = BRUSH_NONE;
            if (is_pen) ctx.a.saved_pen_kind = BRUSH_NONE;
            return;
        }
        if (gradient) {
            c.index++;
            gradient_arg(ctx, c, target, is_pen, gradient);
            return;
        }
        if (draw_word_is(v, DW_PATTERN)) {
            c.index++;
            pattern_arg(ctx, c, target, is_pen);
            return;
        }
        if (draw_word_is(v, DW_BITMAP)) {
            c.index++;
            bitmap_arg(ctx, c, target, is_pen);
            return;
        }
    }
    uint32_t color;
    if (!draw_color_ref(v, &color)) draw_invalid_at(c, c.index);
    c.index++;
    draw_pen_color(ctx, target, color, is_pen);
}

void cmd_pen(DrawContext& ctx, DrawCursor& c) { brush_arg(ctx, c, true); }
void cmd_fill_pen(DrawContext& ctx, DrawCursor& c) { brush_arg(ctx, c, false); }

// ---- using a brush ---------------------------------------------------------------------------

void draw_brush_source(DrawContext& ctx, const Brush& b, double x1, double y1, double x2, double y2) {
    if (b.kind == BRUSH_SOLID || !b.pattern.p) {
        draw_set_rgba(ctx.cr, b.color);
        return;
    }
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    cairo_matrix_t full = b.transform;  // brush space to drawing space
    if (b.kind == BRUSH_FITTED) {
        double w = std::fmax(x2 - x1, 1e-6), h = std::fmax(y2 - y1, 1e-6);
        cairo_matrix_t fit;
        if (b.gradient == GRADIENT_LINEAR) {
            cairo_matrix_init_scale(&fit, w, h);
        } else {
            double s = std::fmin(w, h);
            cairo_matrix_init(&fit, s, 0, 0, s, (w - s) / 2, (h - s) / 2);
        }
        matrix_multiply(&fit, &full, &full, false);
    }
    if (b.kind == BRUSH_FITTED || b.kind == BRUSH_TILED) matrix_translate(&full, x1, y1, &full, false);
    cairo_matrix_t inverse;
    if (!matrix_invert(&full, &inverse)) cairo_matrix_init_identity(&inverse);
    cairo_pattern_set_matrix(b.pattern.p, &inverse);
    cairo_set_source(ctx.cr, b.pattern.p);
}

} // namespace kel
