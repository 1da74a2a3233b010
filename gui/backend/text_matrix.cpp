// Affine 3x2 matrix arithmetic of the Draw dialect's transforms.
#include "gui/backend/draw.hpp"

#include <cmath>

namespace kel {

static constexpr double DEGREES = 3.14159265358979323846 / 180.0;

void matrix_multiply(const cairo_matrix_t* a, const cairo_matrix_t* b, cairo_matrix_t* out,
                     bool prepend) {
    // cairo_matrix_multiply applies its first factor first: exactly a x b.
    cairo_matrix_t r;
    if (prepend) cairo_matrix_multiply(&r, b, a);
    else cairo_matrix_multiply(&r, a, b);
    *out = r;
}

void matrix_translate(const cairo_matrix_t* m, double tx, double ty, cairo_matrix_t* out,
                      bool prepend) {
    cairo_matrix_t t;
    cairo_matrix_init_translate(&t, tx, ty);
    matrix_multiply(m, &t, out, prepend);
}

// The matrix of a point-preserving change around (cx, cy): T(-c) x core x T(c).
static void matrix_around(const cairo_matrix_t* core, double cx, double cy, cairo_matrix_t* out) {
    cairo_matrix_t r;
    cairo_matrix_init_translate(&r, -cx, -cy);
    cairo_matrix_multiply(&r, &r, core);
    cairo_matrix_t back;
    cairo_matrix_init_translate(&back, cx, cy);
    cairo_matrix_multiply(out, &r, &back);
}

void matrix_scale(const cairo_matrix_t* m, double sx, double sy, double cx, double cy,
                  cairo_matrix_t* out, bool prepend) {
    cairo_matrix_t s, around;
    cairo_matrix_init_scale(&s, sx, sy);
    matrix_around(&s, cx, cy, &around);
    matrix_multiply(m, &around, out, prepend);
}

void matrix_rotate(const cairo_matrix_t* m, double angle, double cx, double cy,
                   cairo_matrix_t* out, bool prepend) {
    cairo_matrix_t r, around;
    cairo_matrix_init_rotate(&r, angle * DEGREES);
    matrix_around(&r, cx, cy, &around);
    matrix_multiply(m, &around, out, prepend);
}

void matrix_skew(const cairo_matrix_t* m, double ax, double ay, double cx, double cy,
                 cairo_matrix_t* out, bool prepend) {
    cairo_matrix_t k, around;
    cairo_matrix_init(&k, 1.0, std::tan(ay * DEGREES), std::tan(ax * DEGREES), 1.0, 0.0, 0.0);
    matrix_around(&k, cx, cy, &around);
    matrix_multiply(m, &around, out, prepend);
}

bool matrix_invert(const cairo_matrix_t* src, cairo_matrix_t* dst) {
    cairo_matrix_t r = *src;
    if (cairo_matrix_invert(&r) != CAIRO_STATUS_SUCCESS) {
        *dst = *src;
        return false;
    }
    *dst = r;
    return true;
}

} // namespace kel
