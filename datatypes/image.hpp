// image!: the raster image, a series of pixels read and written as tuples.
//
// An image cell: word 1 the head index in pixels (row-major, 0-based), word 2
// the node of the pixel buffer, word 3 the size: height in the upper 16 bits,
// width in the lower. An image without pixels (width or height 0) still has
// an empty buffer, so every generic series function can walk it.
//
// The pixel buffer is a series of unit 4 holding exactly width x height words
// 0xAARRGGBB (blue in the lowest byte), straight alpha, 255 = opaque, rows top
// to bottom without padding. As a value a pixel is the tuple R.G.B.T whose
// fourth byte is the transparency 255 - alpha; a three-byte tuple is opaque.
//
// Image cells handed to functions that allocate must lie on the data stack or
// in a CellRoot; pixel addresses are valid until the next allocation.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t IMAGE_SIDE_MAX = 65535;  // each side fits a 16-bit half of word 3
// Largest pixel buffer an image may have, in bytes.
constexpr uint64_t IMAGE_BYTES_MAX = 0x7FFFFFF0;

inline uint32_t image_width(const Cell* image) { return image->w3 & 0xFFFF; }
inline uint32_t image_height(const Cell* image) { return image->w3 >> 16; }
inline uint32_t image_pixel_count(const Cell* image) { return image_width(image) * image_height(image); }
// The first pixel of the buffer, or null for an image without pixels.
// Test for pixels with image_pixel_count, not with word 2.
uint32_t* image_pixels(const Cell* image);

// A new image of width x height (each 0..65535) with every pixel opaque
// white, written into cell; width or height 0 gives an image without pixels
// (an empty buffer).
// A size whose buffer cannot be made raises internal error no-memory.
Cell* image_make_at(Cell* cell, uint32_t width, uint32_t height);
Cell* image_push(uint32_t width, uint32_t height);

// A pixel word as a four-byte tuple (R.G.B.transparency) and back; a
// three-byte tuple gives an opaque pixel.
void image_pixel_to_tuple(uint32_t pixel, Cell* out);
uint32_t image_pixel_from_tuple(const Cell* tuple);

// A new image of width x height scaled from the whole image (nearest pixel).
void image_resize(const Cell* image, uint32_t width, uint32_t height, Cell* out);

// ---- actions -------------------------------------------------------------------------

const Cell* image_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* image_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t image_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t image_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
void image_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                     const Cell* path, bool case_, Cell* out);
int32_t image_compare(const Cell* value1, const Cell* value2, int32_t op);
void image_at(Cell* image, const Cell* index);
void image_skip(Cell* image, const Cell* offset);
void image_back(Cell* image);
void image_next(Cell* image);
void image_tail(Cell* image);
void image_tail_q(Cell* image);
int32_t image_length_q(const Cell* image);
void image_pick(Cell* image, const Cell* index);
void image_poke(Cell* image, const Cell* index, const Cell* value);
void image_change(Cell* image, const Cell* value, int32_t part, bool only, int32_t dup);
void image_copy(Cell* image, const Cell* part, bool deep, const Cell* types);

void init_image();

} // namespace kel
