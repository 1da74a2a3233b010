// Draw primitives: lines, boxes, polygons, circles, ellipses, arcs, curves,
// splines and images, each filled then stroked with the pen and fill in
// force, and the drop shadows of boxes and ellipses.
#include "gui/backend/draw_context.hpp"
#include "datatypes/image.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kel {

static constexpr double PI = 3.14159265358979323846;

struct Pt {
    double x, y;
};

// ---- arguments -------------------------------------------------------------------------------

// Reads points while the next value is one, at most max.
static std::vector<Pt> points_arg(DrawCursor& c, size_t max = SIZE_MAX) {
    std::vector<Pt> pts;
    for (const Cell* v; pts.size() < max && draw_point_q(v = c.peek()); c.index++) {
        Pt p;
        draw_point_of(v, &p.x, &p.y);
        pts.push_back(p);
    }
    return pts;
}

static Pt point_arg(DrawCursor& c) {
    Pt p;
    draw_point_arg(c, &p.x, &p.y);
    return p;
}

// An optional word keyword; true when it was there (and consumed).
static bool opt_keyword(DrawCursor& c, DrawWord w) {
    const Cell* v = c.peek();
    if (v && cell_type(v) == T_WORD && draw_word_is(v, w)) {
        c.index++;
        return true;
    }
    return false;
}

// ---- filling and stroking --------------------------------------------------------------------

static void line_attrs_apply(DrawContext& ctx) {
    cairo_t* cr = ctx.cr;
    cairo_set_antialias(cr, ctx.a.anti_alias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr, ctx.a.line_width);
    cairo_set_line_join(cr, ctx.a.line_join);
    cairo_set_line_cap(cr, ctx.a.line_cap);
    cairo_set_miter_limit(cr, 10.0);
    cairo_set_dash(cr, ctx.a.dashes.data(), int(ctx.a.dashes.size()), 0.0);
}

// Fills (unless no_fill) and strokes the current path; fitted and tiled
// brushes fit the given bounds, or the path's stroked bounds when none.
static void fill_stroke(DrawContext& ctx, bool no_fill, const double* bounds) {
    cairo_t* cr = ctx.cr;
    if (ctx.a.collapsed) {
        cairo_new_path(cr);
        return;
    }
    line_attrs_apply(ctx);
    double b[4] = {0, 0, 0, 0};
    if (bounds) std::copy(bounds, bounds + 4, b);
    else if (ctx.a.fill.kind >= BRUSH_FITTED || ctx.a.pen.kind >= BRUSH_FITTED)
        cairo_stroke_extents(cr, &b[0], &b[1], &b[2], &b[3]);
    if (!no_fill && ctx.a.fill.kind != BRUSH_NONE) {
        draw_brush_source(ctx, ctx.a.fill, b[0], b[1], b[2], b[3]);
        cairo_fill_preserve(cr);
    }
    if (ctx.a.pen.kind != BRUSH_NONE && ctx.a.line_width > 0.0) {
        draw_brush_source(ctx, ctx.a.pen, b[0], b[1], b[2], b[3]);
        cairo_stroke_preserve(cr);
    }
    cairo_new_path(cr);
}

void draw_fill_stroke(DrawContext& ctx) {
    cairo_set_fill_rule(ctx.cr, CAIRO_FILL_RULE_EVEN_ODD);
    fill_stroke(ctx, false, nullptr);
}

// ---- shadows ---------------------------------------------------------------------------------

// Blurs an A8 surface in place with three box passes each way (close to a
// Gaussian of the given standard deviation, in pixels).
static void alpha_blur(cairo_surface_t* s, double sigma) {
    // Three passes of a box of width w give a variance of 3 (w^2 - 1) / 12.
    if (!(sigma > 0)) return;
    int r = int(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2));
    if (r < 1) return;
    cairo_surface_flush(s);
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    uint8_t* data = cairo_image_surface_get_data(s);
    std::vector<uint32_t> line(size_t(std::max(w, h)));
    auto pass = [&](uint8_t* first, int count, int step) {
        for (int i = 0; i < count; i++) line[size_t(i)] = first[size_t(i) * step];
        uint32_t sum = 0;
        int span = 2 * r + 1;
        for (int i = -r; i <= r; i++) sum += (i >= 0 && i < count) ? line[size_t(i)] : 0;
        for (int i = 0; i < count; i++) {
            first[size_t(i) * step] = uint8_t(sum / span);
            int out = i - r, in = i + r + 1;
            if (out >= 0) sum -= line[size_t(out)];
            if (in < count) sum += line[size_t(in)];
        }
    };
    for (int k = 0; k < 3; k++) {
        for (int y = 0; y < h; y++) pass(data + size_t(y) * stride, w, 1);
        for (int x = 0; x < w; x++) pass(data + x, h, stride);
    }
    cairo_surface_mark_dirty(s);
}

// Draws a box or ellipse primitive: with shadows in force, the shape is drawn
// into a group first and each shadow is painted from its blurred alpha.
static void shadowed(DrawContext& ctx, double x1, double y1, double x2, double y2,
                     void (*path)(cairo_t*, double, double, double, double, double), double radius) {
    cairo_t* cr = ctx.cr;
    double bounds[4] = {x1, y1, x2, y2};
    if (ctx.a.shadows.empty() || ctx.a.collapsed) {
        path(cr, x1, y1, x2, y2, radius);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
        fill_stroke(ctx, false, bounds);
        return;
    }
    cairo_push_group(cr);
    path(cr, x1, y1, x2, y2, radius);
    fill_stroke(ctx, false, bounds);
    cairo_pattern_t* shape = cairo_pop_group(cr);
    cairo_surface_t* group = nullptr;
    cairo_pattern_get_surface(shape, &group);
    double gx = 0, gy = 0;  // the group's device origin
    cairo_surface_get_device_offset(group, &gx, &gy);
    cairo_matrix_t pm;
    cairo_pattern_get_matrix(shape, &pm);
    double ox = 0, oy = 0;  // where the group's pixel (0, 0) lies in device space
    {
        cairo_matrix_t inv = pm;
        cairo_matrix_invert(&inv);
        cairo_matrix_transform_point(&inv, &ox, &oy);
    }
    cairo_surface_t* img = cairo_surface_map_to_image(group, nullptr);
    int w = cairo_image_surface_get_width(img), h = cairo_image_surface_get_height(img);
    // Device-space centre of the shape, for the spread.
    double cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
    cairo_user_to_device(cr, &cx, &cy);
    for (const Shadow& s : ctx.a.shadows) {
        double margin = s.spread + 3 * s.blur + 2;
        int mw = w + 2 * int(std::ceil(margin)), mh = h + 2 * int(std::ceil(margin));
        int m = int(std::ceil(margin));
        cairo_surface_t* alpha = cairo_image_surface_create(CAIRO_FORMAT_A8, mw, mh);
        cairo_t* acr = cairo_create(alpha);
        double bw = std::fabs(x2 - x1), bh = std::fabs(y2 - y1);
        double sx = bw > 0 ? (bw + 2 * s.spread) / bw : 1.0, sy = bh > 0 ? (bh + 2 * s.spread) / bh : 1.0;
        cairo_translate(acr, m + (cx - ox), m + (cy - oy));
        cairo_scale(acr, sx, sy);
        cairo_translate(acr, -(cx - ox), -(cy - oy));
        cairo_set_source_surface(acr, img, 0, 0);
        cairo_paint(acr);
        cairo_destroy(acr);
        alpha_blur(alpha, s.blur / 1.8799711);
        double dx = s.x, dy = s.y;
        cairo_user_to_device_distance(cr, &dx, &dy);
        cairo_save(cr);
        cairo_identity_matrix(cr);
        draw_set_rgba(cr, s.color);
        cairo_mask_surface(cr, alpha, ox + dx - m, oy + dy - m);
        cairo_restore(cr);
        cairo_surface_destroy(alpha);
    }
    cairo_surface_unmap_image(group, img);
    cairo_set_source(cr, shape);
    cairo_paint(cr);
    cairo_pattern_destroy(shape);
}

static void box_path(cairo_t* cr, double x1, double y1, double x2, double y2, double r) {
    double w = x2 - x1, h = y2 - y1;
    r = std::fmin(std::fabs(r), std::fmin(w, h) / 2);
    if (r <= 0) {
        cairo_rectangle(cr, x1, y1, w, h);
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, x2 - r, y1 + r, r, -PI / 2, 0);
    cairo_arc(cr, x2 - r, y2 - r, r, 0, PI / 2);
    cairo_arc(cr, x1 + r, y2 - r, r, PI / 2, PI);
    cairo_arc(cr, x1 + r, y1 + r, r, PI, 3 * PI / 2);
    cairo_close_path(cr);
}

static void ellipse_path(cairo_t* cr, double x1, double y1, double x2, double y2, double) {
    double rx = (x2 - x1) / 2, ry = (y2 - y1) / 2;
    if (rx <= 0 || ry <= 0) {
        cairo_move_to(cr, x1, y1);
        cairo_line_to(cr, x2, y2);
        return;
    }
    cairo_save(cr);
    cairo_translate(cr, x1 + rx, y1 + ry);
    cairo_scale(cr, rx, ry);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * PI);
    cairo_close_path(cr);
    cairo_restore(cr);
}

// An ellipse box from its corners, ordered.
static void ellipse_box(DrawContext& ctx, double x1, double y1, double x2, double y2) {
    shadowed(ctx, std::fmin(x1, x2), std::fmin(y1, y2), std::fmax(x1, x2), std::fmax(y1, y2),
             ellipse_path, 0);
}

// ---- commands --------------------------------------------------------------------------------

void cmd_line(DrawContext& ctx, DrawCursor& c) {
    uint32_t at = c.index;
    std::vector<Pt> pts = points_arg(c);
    if (pts.size() < 2) draw_invalid_at(c, pts.empty() ? at : c.index);
    cairo_t* cr = ctx.cr;
    cairo_move_to(cr, pts[0].x, pts[0].y);
    for (size_t i = 1; i < pts.size(); i++) cairo_line_to(cr, pts[i].x, pts[i].y);
    if (pts.size() == 2) {
        double b[4] = {std::fmin(pts[0].x, pts[1].x), std::fmin(pts[0].y, pts[1].y),
                       std::fmax(pts[0].x, pts[1].x), std::fmax(pts[0].y, pts[1].y)};
        fill_stroke(ctx, true, b);
        return;
    }
    draw_fill_stroke(ctx);
}

void cmd_box(DrawContext& ctx, DrawCursor& c) {
    Pt a = point_arg(c);
    Pt b = point_arg(c);
    double r = draw_number_q(c.peek()) ? draw_number_arg(c) : 0.0;
    shadowed(ctx, std::fmin(a.x, b.x), std::fmin(a.y, b.y), std::fmax(a.x, b.x), std::fmax(a.y, b.y),
             box_path, r);
}

static void polygon_draw(DrawContext& ctx, const std::vector<Pt>& pts) {
    cairo_move_to(ctx.cr, pts[0].x, pts[0].y);
    for (size_t i = 1; i < pts.size(); i++) cairo_line_to(ctx.cr, pts[i].x, pts[i].y);
    cairo_close_path(ctx.cr);
    draw_fill_stroke(ctx);
}

void cmd_triangle(DrawContext& ctx, DrawCursor& c) {
    std::vector<Pt> pts;
    for (int i = 0; i < 3; i++) pts.push_back(point_arg(c));
    polygon_draw(ctx, pts);
}

void cmd_polygon(DrawContext& ctx, DrawCursor& c) {
    std::vector<Pt> pts = points_arg(c);
    if (pts.size() < 3) draw_invalid_at(c, c.index);
    polygon_draw(ctx, pts);
}

void cmd_circle(DrawContext& ctx, DrawCursor& c) {
    Pt p = point_arg(c);
    double rx = draw_number_arg(c);
    double ry = draw_number_q(c.peek()) ? draw_number_arg(c) : rx;
    ellipse_box(ctx, p.x - rx, p.y - ry, p.x + rx, p.y + ry);
}

void cmd_ellipse(DrawContext& ctx, DrawCursor& c) {
    Pt p = point_arg(c);
    Pt s = point_arg(c);
    ellipse_box(ctx, p.x, p.y, p.x + s.x, p.y + s.y);
}

// The parametric angle of an ellipse point seen at angle t from the centre.
static double ellipse_angle(double t, double rx, double ry) {
    return std::atan2(std::sin(t) * rx, std::cos(t) * ry);
}

void cmd_arc(DrawContext& ctx, DrawCursor& c) {
    Pt centre = point_arg(c);
    Pt radius = point_arg(c);
    double start = draw_number_arg(c);
    double sweep = draw_number_arg(c);
    bool closed = opt_keyword(c, DW_CLOSED);
    double rx = std::fabs(radius.x), ry = std::fabs(radius.y);
    if (sweep >= 359.999 || sweep <= -359.999) {
        ellipse_box(ctx, centre.x - rx, centre.y - ry, centre.x + rx, centre.y + ry);
        return;
    }
    double a1 = start * PI / 180, a2 = (start + sweep) * PI / 180;
    if (rx != ry && rx > 0 && ry > 0) {
        // Angles are seen from the centre; cairo's unit-circle arc wants them
        // parametric. Keep the sweep's direction and size below a full turn.
        a1 = ellipse_angle(a1, rx, ry);
        a2 = ellipse_angle(a2, rx, ry);
        if (sweep >= 0) while (a2 < a1) a2 += 2 * PI;
        else while (a2 > a1) a2 -= 2 * PI;
    }
    cairo_t* cr = ctx.cr;
    if (closed) cairo_move_to(cr, centre.x, centre.y);
    if (rx > 0 && ry > 0) {
        cairo_save(cr);
        cairo_translate(cr, centre.x, centre.y);
        cairo_scale(cr, rx, ry);
        if (!closed) cairo_new_sub_path(cr);
        if (sweep >= 0) cairo_arc(cr, 0, 0, 1, a1, a2);
        else cairo_arc_negative(cr, 0, 0, 1, a1, a2);
        cairo_restore(cr);
    } else {
        cairo_line_to(cr, centre.x, centre.y);
    }
    if (closed) cairo_close_path(cr);
    // An open arc is never filled.
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    fill_stroke(ctx, !closed, nullptr);
}

void cmd_curve(DrawContext& ctx, DrawCursor& c) {
    std::vector<Pt> pts;
    for (int i = 0; i < 3; i++) pts.push_back(point_arg(c));
    if (draw_point_q(c.peek())) pts.push_back(point_arg(c));
    cairo_t* cr = ctx.cr;
    cairo_move_to(cr, pts[0].x, pts[0].y);
    if (pts.size() == 3)
        cairo_curve_to(cr, (pts[0].x + 2 * pts[1].x) / 3, (pts[0].y + 2 * pts[1].y) / 3,
                       (pts[2].x + 2 * pts[1].x) / 3, (pts[2].y + 2 * pts[1].y) / 3, pts[2].x, pts[2].y);
    else
        cairo_curve_to(cr, pts[1].x, pts[1].y, pts[2].x, pts[2].y, pts[3].x, pts[3].y);
    draw_fill_stroke(ctx);
}

// One Catmull-Rom segment from p1 to p2 (neighbours p0, p3) as 25 lines.
static void spline_segment(cairo_t* cr, Pt p0, Pt p1, Pt p2, Pt p3) {
    for (int i = 1; i <= 25; i++) {
        double t = i * 0.04, t2 = t * t, t3 = t2 * t;
        auto f = [&](double a, double b, double c, double d) {
            return 0.5 * (2 * b + (c - a) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (3 * b - a - 3 * c + d) * t3);
        };
        cairo_line_to(cr, f(p0.x, p1.x, p2.x, p3.x), f(p0.y, p1.y, p2.y, p3.y));
    }
}

void cmd_spline(DrawContext& ctx, DrawCursor& c) {
    std::vector<Pt> pts = points_arg(c);
    if (pts.size() < 2) draw_invalid_at(c, c.index);
    bool closed = opt_keyword(c, DW_CLOSED);
    cairo_t* cr = ctx.cr;
    size_t n = pts.size();
    cairo_move_to(cr, pts[0].x, pts[0].y);
    if (n == 2 && !closed) {
        cairo_line_to(cr, pts[1].x, pts[1].y);
    } else if (!closed) {
        for (size_t i = 0; i + 1 < n; i++)
            spline_segment(cr, pts[i ? i - 1 : 0], pts[i], pts[i + 1], pts[std::min(i + 2, n - 1)]);
    } else {
        for (size_t i = 0; i < n; i++)
            spline_segment(cr, pts[(i + n - 1) % n], pts[i], pts[(i + 1) % n], pts[(i + 2) % n]);
        cairo_close_path(cr);
    }
    draw_fill_stroke(ctx);
}

// ---- images ----------------------------------------------------------------------------------

// Paints the part (sx, sy, sw, sh) of the surface into the destination
// rectangle.
static void image_rect(DrawContext& ctx, cairo_surface_t* s, double sx, double sy, double sw,
                       double sh, double dx, double dy, double dw, double dh) {
    if (sw <= 0 || sh <= 0 || ctx.a.collapsed) return;
    cairo_t* cr = ctx.cr;
    cairo_save(cr);
    cairo_rectangle(cr, dx, dy, dw, dh);
    cairo_clip(cr);
    cairo_translate(cr, dx, dy);
    cairo_scale(cr, dw / sw, dh / sh);
    cairo_set_source_surface(cr, s, -sx, -sy);
    bool exact = dw == sw && dh == sh;
    cairo_pattern_set_filter(cairo_get_source(cr), exact ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_restore(cr);
}

// Solves the 3x3 homography taking the unit square's corners (0,0), (1,0),
// (1,1), (0,1) to q[0..3]; h is row-major with h[8] = 1.
static void square_to_quad(const Pt* q, double* h) {
    double sx = q[0].x - q[1].x + q[2].x - q[3].x, sy = q[0].y - q[1].y + q[2].y - q[3].y;
    double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x, dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y;
    double g = 0, k = 0;
    double den = dx1 * dy2 - dx2 * dy1;
    if (den != 0) {
        g = (sx * dy2 - dx2 * sy) / den;
        k = (dx1 * sy - sx * dy1) / den;
    }
    h[0] = q[1].x - q[0].x + g * q[1].x; h[1] = q[3].x - q[0].x + k * q[3].x; h[2] = q[0].x;
    h[3] = q[1].y - q[0].y + g * q[1].y; h[4] = q[3].y - q[0].y + k * q[3].y; h[5] = q[0].y;
    h[6] = g; h[7] = k; h[8] = 1;
}

static bool invert3(const double* m, double* r) {
    double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                 m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (std::fabs(det) < 1e-12) return false;
    r[0] = (m[4] * m[8] - m[5] * m[7]) / det; r[1] = (m[2] * m[7] - m[1] * m[8]) / det;
    r[2] = (m[1] * m[5] - m[2] * m[4]) / det; r[3] = (m[5] * m[6] - m[3] * m[8]) / det;
    r[4] = (m[0] * m[8] - m[2] * m[6]) / det; r[5] = (m[2] * m[3] - m[0] * m[5]) / det;
    r[6] = (m[3] * m[7] - m[4] * m[6]) / det; r[7] = (m[1] * m[6] - m[0] * m[7]) / det;
    r[8] = (m[0] * m[4] - m[1] * m[3]) / det;
    return true;
}

// Maps the part of the surface onto the quadrilateral UL, UR, LR, LL in
// perspective: each pixel of the quad's bounding box samples the source
// through the inverse mapping.
static void image_quad(DrawContext& ctx, cairo_surface_t* s, double sx, double sy, double sw,
                       double sh, const Pt* q) {
    if (sw <= 0 || sh <= 0 || ctx.a.collapsed) return;
    double h[9], inv[9];
    square_to_quad(q, h);
    if (!invert3(h, inv)) return;
    double x0 = q[0].x, y0 = q[0].y, x1 = x0, y1 = y0;
    for (int i = 1; i < 4; i++) {
        x0 = std::fmin(x0, q[i].x); y0 = std::fmin(y0, q[i].y);
        x1 = std::fmax(x1, q[i].x); y1 = std::fmax(y1, q[i].y);
    }
    int bx = int(std::floor(x0)), by = int(std::floor(y0));
    int bw = int(std::ceil(x1)) - bx, bh = int(std::ceil(y1)) - by;
    if (bw <= 0 || bh <= 0 || bw > 16384 || bh > 16384) return;
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bw, bh);
    cairo_surface_flush(s);
    const uint8_t* src = cairo_image_surface_get_data(s);
    int sstride = cairo_image_surface_get_stride(s);
    int swidth = cairo_image_surface_get_width(s), sheight = cairo_image_surface_get_height(s);
    uint8_t* dst = cairo_image_surface_get_data(out);
    int dstride = cairo_image_surface_get_stride(out);
    for (int y = 0; y < bh; y++) {
        uint32_t* row = reinterpret_cast<uint32_t*>(dst + size_t(y) * dstride);
        for (int x = 0; x < bw; x++) {
            double px = bx + x + 0.5, py = by + y + 0.5;
            double w = inv[6] * px + inv[7] * py + inv[8];
            if (w == 0) continue;
            double u = (inv[0] * px + inv[1] * py + inv[2]) / w;
            double v = (inv[3] * px + inv[4] * py + inv[5]) / w;
            if (u < 0 || u >= 1 || v < 0 || v >= 1) continue;
            int ix = int(sx + u * sw), iy = int(sy + v * sh);
            if (ix < 0 || iy < 0 || ix >= swidth || iy >= sheight) continue;
            row[x] = reinterpret_cast<const uint32_t*>(src + size_t(iy) * sstride)[ix];
        }
    }
    cairo_surface_mark_dirty(out);
    cairo_set_source_surface(ctx.cr, out, bx, by);
    cairo_paint(ctx.cr);
    cairo_surface_destroy(out);
}

void draw_image_in(DrawContext& ctx, const Cell* image, double x, double y, double w, double h) {
    cairo_surface_t* s = draw_image_surface(image);
    if (!s) return;
    image_rect(ctx, s, 0, 0, image_width(image), image_height(image), x, y, w, h);
    cairo_surface_destroy(s);
}

void cmd_image(DrawContext& ctx, DrawCursor& c) {
    const Cell* v = c.peek();
    const Cell* image = v && cell_type(v) == T_WORD ? draw_word_value(v) : v;
    if (!image || cell_type(image) != T_IMAGE) draw_invalid_at(c, c.index);
    CellRoot img(*image);
    c.index++;
    std::vector<Pt> pts = points_arg(c);
    uint32_t key;
    if (draw_color_ref(c.peek(), &key)) c.index++;  // a key colour: accepted, not used
    double iw = image_width(&img.cell), ih = image_height(&img.cell);
    double sx = 0, sy = 0, sw = iw, sh = ih;
    double shift_x = 0, shift_y = 0;  // destination moved by a crop left or above the image
    bool visible = true;
    if (!opt_keyword(c, DW_BORDER) && opt_keyword(c, DW_CROP)) {
        Pt o = point_arg(c);
        Pt s = point_arg(c);
        double l = std::fmin(o.x, o.x + s.x), t = std::fmin(o.y, o.y + s.y);
        double r = std::fmax(o.x, o.x + s.x), b = std::fmax(o.y, o.y + s.y);
        if (r <= 0 || b <= 0) visible = false;
        if (l < 0) { shift_x = -l; l = 0; }
        if (t < 0) { shift_y = -t; t = 0; }
        r = std::fmin(r, iw);
        b = std::fmin(b, ih);
        sx = l; sy = t; sw = r - l; sh = b - t;
    }
    if (!visible || sw <= 0 || sh <= 0) return;
    cairo_surface_t* s = draw_image_surface(&img.cell);
    if (!s) return;
    switch (pts.size()) {
    case 0:
    case 1: {
        double x = pts.empty() ? 0 : pts[0].x, y = pts.empty() ? 0 : pts[0].y;
        image_rect(ctx, s, sx, sy, sw, sh, x + shift_x, y + shift_y, sw, sh);
        break;
    }
    case 2: {
        double x1 = std::fmin(pts[0].x, pts[1].x), y1 = std::fmin(pts[0].y, pts[1].y);
        double x2 = std::fmax(pts[0].x, pts[1].x), y2 = std::fmax(pts[0].y, pts[1].y);
        image_rect(ctx, s, sx, sy, sw, sh, x1, y1, x2 - x1, y2 - y1);
        break;
    }
    case 3:
    case 4: {
        Pt q[4] = {pts[0], pts[1], pts[2], pts.size() == 4 ? pts[3] : Pt{pts[0].x, pts[2].y}};
        image_quad(ctx, s, sx, sy, sw, sh, q);
        break;
    }
    default:
        image_rect(ctx, s, sx, sy, sw, sh, 0, 0, sw, sh);
    }
    cairo_surface_destroy(s);
}

} // namespace kel
