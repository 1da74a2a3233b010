// The image codecs: PNG, JPEG, GIF and TIFF over their C libraries, BMP in
// our own code. They work on plain memory and know nothing of values or the
// collector, so no language error ever crosses a library frame: every
// failure is a false result that the image datatype turns into its error.
//
// Pixels are words 0xAARRGGBB (blue in the lowest byte), straight alpha, rows
// top to bottom without padding: the layout of an image!'s buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel {

// The most pixels a decoder accepts (8192 x 8192): a header that claims more
// is refused before anything is allocated for it.
constexpr uint64_t IMAGE_DECODE_PIXELS_MAX = uint64_t(1) << 26;

// Container formats, numbered as the image datatype's format ids.
enum ImageContainer : int32_t {
    CONTAINER_BMP = 0, CONTAINER_PNG = 1, CONTAINER_GIF = 2, CONTAINER_JPEG = 3, CONTAINER_TIFF = 4,
    CONTAINER_UNKNOWN = -1,
};

// A decoded frame.
struct DecodedImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;  // width x height words
};

// The container whose signature the bytes begin with, or CONTAINER_UNKNOWN.
ImageContainer image_container_sniff(const uint8_t* bytes, size_t length);

// Decodes the first frame of a file held in memory. False (out emptied) for
// unknown or corrupt data, a frame of width or height 0, or a frame of more
// than IMAGE_DECODE_PIXELS_MAX pixels or a side above 65535.
bool image_decode_memory(const uint8_t* bytes, size_t length, DecodedImage* out);

// Encodes width x height pixels (both at least 1) as a file of the container
// into out. False when the container is unknown or the library fails.
bool image_encode_memory(const uint32_t* pixels, uint32_t width, uint32_t height,
                         int32_t container, std::vector<uint8_t>* out);

} // namespace kel
