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

// ---- loading and encoding ------------------------------------------------------------

// Image format ids of image_encode.
enum ImageFormatId : int32_t { IMAGE_BMP = 0, IMAGE_PNG = 1, IMAGE_GIF = 2, IMAGE_JPEG = 3, IMAGE_TIFF = 4 };

// True when the bytes from the binary's position begin with the signature of
// a PNG, JPEG, BMP, GIF (87a or 89a) or TIFF (either byte order) file.
bool image_sniff(const Cell* binary);
// Decodes the first frame of the binary's bytes (from its position) into out;
// unknown or undecodable bytes raise access error bad-media.
void image_load_binary(const Cell* binary, Cell* out);
// Decodes the first frame of the file into out; a file that cannot be read or
// decoded raises access error cannot-open with the file.
void image_load_file(const Cell* file, Cell* out);
// A binary! goes to image_load_binary, a file! to image_load_file; any other
// value raises script error invalid-arg with it.
void image_load(const Cell* value, Cell* out);
// The encoded file of the whole image as a new binary! in out. An image
// without pixels raises access error bad-media; a format the codecs cannot
// write raises the same.
void image_encode(const Cell* image, int32_t format, Cell* out);

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

// Routines of the image codec objects in system/codecs: decode (data: a
// binary! or a file!) and, per format, encode (img where); each leaves its
// result in ARGS[0].
void routine_image_decode();
void routine_image_encode_bmp();
void routine_image_encode_png();
void routine_image_encode_gif();
void routine_image_encode_jpeg();
void routine_image_encode_tiff();

} // namespace kel
