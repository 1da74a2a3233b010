// What every image decoder and encoder shares: the side limit, the opaque
// alpha, the frame checks and allocation, and the pixel word layout (alpha in
// the top byte, then red, green, blue).
#pragma once
#include "io/image_codecs.hpp"

namespace kel {

constexpr uint32_t IMAGE_SIDE_MAX = 65535;
constexpr uint32_t PIXEL_OPAQUE = 0xFF000000u;

// Whether a frame of width x height may be decoded.
inline bool frame_size_ok(uint64_t width, uint64_t height) {
    return width >= 1 && height >= 1 && width <= IMAGE_SIDE_MAX && height <= IMAGE_SIDE_MAX &&
           width * height <= IMAGE_DECODE_PIXELS_MAX;
}

inline bool frame_allocate(DecodedImage* out, uint32_t width, uint32_t height) {
    out->width = width;
    out->height = height;
    out->pixels.assign(size_t(width) * height, PIXEL_OPAQUE);
    return true;
}

inline bool decode_failed(DecodedImage* out) {
    out->width = out->height = 0;
    out->pixels.clear();
    out->pixels.shrink_to_fit();
    return false;
}

inline uint32_t pixel_make(uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
    return alpha << 24 | red << 16 | green << 8 | blue;
}

} // namespace kel
