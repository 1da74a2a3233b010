// The Draw dialect and text layout of the GUI backend, on Cairo and Pango.
//
// Drawing runs on a plain cairo_t: an image! is drawn by copying its pixels
// into a cairo image surface and back, a face is drawn on the cairo_t its
// paint handler is given. Nothing here needs a display, so drawing into
// images and measuring text work headless.
//
// The module exports the routine "platform-draw-image" of system/view/platform
// (ARGS[0] the image!, ARGS[1] the command block); the other backend files
// call the functions below directly.
#pragma once
#include "runtime/cell.hpp"
#include "gui/text_style.hpp"
#include <cairo.h>
#include <pango/pango.h>
#include <cstdint>

namespace kel {

// ---- drawing ----------------------------------------------------------------------------------

// Draws the command block onto the image. Draw errors are raised as language
// errors (dropped when system/view/silent? is on); the pixels drawn before
// the error stay. An image without pixels is left alone. Both cells must be
// rooted (data stack or CellRoot).
void draw_image(Cell* image, const Cell* cmds);

// Evaluates cmds on cr (a face's paint, or a `drawing` event adding to it)
// with errors printed instead of raised (dropped when silent? is on). width
// and height are the face's size in logical units. Returns false when the
// evaluation stopped at an error. cr's state is as it was afterwards.
bool draw_face(cairo_t* cr, const Cell* face, const Cell* cmds, double width, double height);

// The whole paint of a face drawn by the backend (base, rich-text ...): the
// background from `color` (transparent when none), the `image` stretched to
// the size, the `text` (not for windows) and then the face's `draw` block;
// errors are printed. layered selects grayscale text anti-aliasing.
void paint_face(cairo_t* cr, const Cell* face, double width, double height, bool layered);

// Prints the language error in flight as the top level prints an uncaught
// one, on standard error; the caller restores the stacks afterwards.
void error_print_in_flight();

// ---- text -------------------------------------------------------------------------------------

// A new layout of the text (a string!, else empty) in the font (a font!
// object, else the default font), its lines aligned as para says and, when
// para.wrap is set and width is above 0, wrapped at width; with cr the layout
// follows that context's transform and font options, without it a headless
// context at 96 units to the inch. The caller releases it with g_object_unref.
PangoLayout* text_layout(cairo_t* cr, const Cell* font, const Cell* text, double width,
                         const ParaLayout& para);

// The logical width and height of the text laid out in the font as the
// toolkit's widgets lay it out, rounded up to whole pixels (unbounded width
// when max_width is 0 or less, else wrapped to it).
void text_size(const Cell* font, const Cell* text, double max_width, double* width,
               double* height);

// A rich-text face's tab stops (its tabs field: a number gives a stop every
// that many units) and line spacing (its line-spacing field: a number is the
// distance from line to line, never below the font's own line height) on the
// layout; other values leave the layout's own.
void rich_text_spacing(PangoLayout* layout, const Cell* face);

// Applies a rich-text range block (from its position) to the layout's text: a pair selects characters (1-based start x
// length y, cut to the text), the styles after it apply to them. A bad block
// raises draw-invalid at the offending value. ranges must be rooted.
void rich_text_styles(PangoLayout* layout, const Cell* ranges);

// Marks a rich-text face's kept text layout out of date, so that the next
// question about its carets, lines or size lays its text out again; a face
// with no layout kept yet is left as it is.
void rich_box_mark_stale(const Cell* face);

// ---- matrices ---------------------------------------------------------------------------------
// 3x2 affine matrices as cairo_matrix_t, whose fields are in the order m11,
// m12, m21, m22, dx, dy: a point (x, y) maps to (x m11 + y m21 + dx,
// x m12 + y m22 + dy). "a then b" is a x b with points as row vectors;
// prepend exchanges the factors.

void matrix_multiply(const cairo_matrix_t* a, const cairo_matrix_t* b, cairo_matrix_t* out,
                     bool prepend);
void matrix_translate(const cairo_matrix_t* m, double tx, double ty, cairo_matrix_t* out,
                      bool prepend);
// Scaling by (sx, sy) that keeps the point (cx, cy) in place.
void matrix_scale(const cairo_matrix_t* m, double sx, double sy, double cx, double cy,
                  cairo_matrix_t* out, bool prepend);
// Rotation by angle degrees (clockwise with y pointing down) around (cx, cy).
void matrix_rotate(const cairo_matrix_t* m, double angle, double cx, double cy,
                   cairo_matrix_t* out, bool prepend);
// Skew by the angles ax (x leans with y) and ay in degrees, around (cx, cy).
void matrix_skew(const cairo_matrix_t* m, double ax, double ay, double cx, double cy,
                 cairo_matrix_t* out, bool prepend);
// The inverse of src into dst; a matrix without one is copied unchanged and
// false is answered.
bool matrix_invert(const cairo_matrix_t* src, cairo_matrix_t* dst);

} // namespace kel
