// image! values to and from encoded image files (PNG, JPEG, BMP, GIF, TIFF)
// through the codecs of io/image_codecs.hpp, and the routines of the codec
// objects in system/codecs.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

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
