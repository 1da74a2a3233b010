// The codec module's entry points: PNG, JPEG, GIF and TIFF decoding and
// encoding by container code (ImageContainer), with the contracts of
// image_decode_memory and image_encode_memory.
#pragma once
#include "io/image_codecs.hpp"

namespace kel {

constexpr const char* CODEC_MODULE_FILE = "kelcodecs.so";
constexpr const char* CODEC_DECODE_SYMBOL = "kel_codec_decode";
constexpr const char* CODEC_ENCODE_SYMBOL = "kel_codec_encode";

using CodecDecodeFn = bool (*)(int32_t container, const uint8_t* bytes, size_t length, DecodedImage* out);
using CodecEncodeFn = bool (*)(int32_t container, const uint32_t* pixels, uint32_t width, uint32_t height,
                               std::vector<uint8_t>* out);

} // namespace kel
