// Image codecs: our own BMP reader and writer here, and PNG, JPEG, GIF and
// TIFF through their libraries in the codec module (io/codecs/), which is
// opened on the first image in one of those formats so that start-up does not
// load the libraries. Every decoder checks the sizes a file claims against
// IMAGE_DECODE_PIXELS_MAX and the bytes it really has before it allocates or
// reads, and reports every failure as false.
#include "io/image_codecs.hpp"
#include "io/codecs/codec_module.hpp"
#include "io/image_frame.hpp"
#include "runtime/platform/dynlib.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace kel {

ImageContainer image_container_sniff(const uint8_t* b, size_t n) {
    if (n >= 4 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return CONTAINER_PNG;
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return CONTAINER_JPEG;
    if (n >= 2 && b[0] == 'B' && b[1] == 'M') return CONTAINER_BMP;
    if (n >= 6 && b[0] == 'G' && b[1] == 'I' && b[2] == 'F' && b[3] == '8' && (b[4] == '7' || b[4] == '9') &&
        b[5] == 'a')
        return CONTAINER_GIF;
    if (n >= 4 && b[0] == 'I' && b[1] == 'I' && b[2] == 0x2A && b[3] == 0) return CONTAINER_TIFF;
    if (n >= 4 && b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 0x2A) return CONTAINER_TIFF;
    return CONTAINER_UNKNOWN;
}

// ---- BMP -------------------------------------------------------------------------------------
// Reads the core (12-byte) and info (40 to 124-byte) headers with 1, 4, 8, 16,
// 24 and 32 bits per pixel, uncompressed, with bit-field masks or (4 and 8
// bits) run-length encoded; rows bottom up or (negative height) top down.
// Writes 32 bits per pixel with an alpha mask in a 108-byte header, bottom up.

constexpr uint32_t BMP_FILE_HEADER = 14;
constexpr uint32_t BMP_RGB = 0, BMP_RLE8 = 1, BMP_RLE4 = 2, BMP_BITFIELDS = 3, BMP_ALPHABITFIELDS = 6;

static uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
static uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// A channel of a bit-field mask, scaled to 0..255.
struct BmpChannel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t max = 0;  // mask >> shift
};

static BmpChannel bmp_channel(uint32_t mask) {
    BmpChannel c;
    c.mask = mask;
    if (mask == 0) return c;
    while (((mask >> c.shift) & 1) == 0) c.shift++;
    c.max = mask >> c.shift;
    return c;
}

static uint32_t bmp_channel_value(const BmpChannel& c, uint32_t word) {
    if (c.max == 0) return 0;
    return uint32_t((uint64_t((word & c.mask) >> c.shift) * 255 + c.max / 2) / c.max);
}

// Run-length data of 4 or 8 bits per pixel: byte pairs of a count and a colour
// index (for 4 bits two indexes in the nibbles, used in turn), or, after a
// count of 0, an escape: 0 ends the line, 1 the bitmap, 2 moves right and
// down by the next two bytes, and n >= 3 is followed by n indexes as they
// are (padded to an even byte count). Pixels the data never reaches keep
// colour index 0; runs past a row's end are dropped. Data that ends early
// leaves the rest as it is.
static void bmp_decode_rle(const uint8_t* data, size_t length, uint32_t bits, const uint32_t* palette,
                           uint32_t palette_size, bool top_down, DecodedImage* out) {
    uint32_t width = out->width, height = out->height;
    auto colour = [&](uint32_t index) { return index < palette_size ? palette[index] : PIXEL_OPAQUE; };
    std::fill(out->pixels.begin(), out->pixels.end(), colour(0));
    uint64_t x = 0, y = 0;  // y counts the stored rows, the first being the bottom one unless top down
    auto put = [&](uint32_t index) {
        if (x < width) out->pixels[size_t(top_down ? y : height - 1 - y) * width + x] = colour(index);
        x++;
    };
    auto nibble = [](const uint8_t* from, uint32_t i) { return i & 1 ? from[i / 2] & 15u : uint32_t(from[i / 2] >> 4); };
    size_t p = 0;
    while (y < height && length - p >= 2) {
        uint32_t count = data[p], value = data[p + 1];
        p += 2;
        if (count) {
            for (uint32_t i = 0; i < count; i++) put(bits == 8 ? value : i & 1 ? value & 15 : value >> 4);
        } else if (value == 0) {
            x = 0;
            y++;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            if (length - p < 2) return;
            x += data[p];
            y += data[p + 1];
            p += 2;
        } else {
            size_t bytes = bits == 8 ? value : (value + 1) / 2;
            if (length - p < bytes) return;
            for (uint32_t i = 0; i < value; i++) put(bits == 8 ? data[p + i] : nibble(data + p, i));
            p += std::min(length - p, (bytes + 1) & ~size_t(1));
        }
    }
}

static bool bmp_decode(const uint8_t* bytes, size_t length, DecodedImage* out) {
    if (length < BMP_FILE_HEADER + 12) return false;
    uint32_t data_offset = le32(bytes + 10);
    uint32_t header = le32(bytes + 14);
    const uint8_t* h = bytes + BMP_FILE_HEADER;
    int64_t width, height;
    uint32_t bits, compression = BMP_RGB, colours_used = 0, palette_entry = 4;
    if (header == 12) {
        width = le16(h + 4);
        height = int16_t(le16(h + 6));
        bits = le16(h + 10);
        palette_entry = 3;
    } else if (header >= 40 && header <= 124) {
        if (length < BMP_FILE_HEADER + uint64_t(header)) return false;
        width = int32_t(le32(h + 4));
        height = int32_t(le32(h + 8));
        bits = le16(h + 14);
        compression = le32(h + 16);
        colours_used = le32(h + 32);
    } else {
        return false;
    }
    bool top_down = height < 0;
    if (top_down) height = -height;
    if (!frame_size_ok(uint64_t(std::max<int64_t>(width, 0)), uint64_t(height))) return false;

    BmpChannel red, green, blue, alpha;
    bool alpha_from_data = false;
    if (compression == BMP_BITFIELDS || compression == BMP_ALPHABITFIELDS) {
        if (bits != 16 && bits != 32) return false;
        // The masks follow a 40-byte header, or lie inside a longer one.
        uint64_t at = BMP_FILE_HEADER + 40;
        uint32_t masks = compression == BMP_ALPHABITFIELDS || header >= 56 ? 4 : 3;
        if (length < at + 4 * masks) return false;
        red = bmp_channel(le32(bytes + at));
        green = bmp_channel(le32(bytes + at + 4));
        blue = bmp_channel(le32(bytes + at + 8));
        if (masks == 4) alpha = bmp_channel(le32(bytes + at + 12));
    } else if (compression == BMP_RLE8 || compression == BMP_RLE4) {
        if (bits != (compression == BMP_RLE8 ? 8u : 4u)) return false;
    } else if (compression != BMP_RGB) {
        return false;  // embedded JPEG and PNG are not read
    } else if (bits == 16) {
        red = bmp_channel(0x7C00);
        green = bmp_channel(0x03E0);
        blue = bmp_channel(0x001F);
    } else if (bits == 32) {
        red = bmp_channel(0x00FF0000);
        green = bmp_channel(0x0000FF00);
        blue = bmp_channel(0x000000FF);
        alpha_from_data = true;
    } else if (bits != 1 && bits != 4 && bits != 8 && bits != 24) {
        return false;
    }

    uint32_t palette[256];
    uint32_t palette_size = 0;
    if (bits <= 8) {
        uint32_t entries = colours_used != 0 ? colours_used : 1u << bits;
        if (entries > 256) return false;
        uint64_t at = BMP_FILE_HEADER + uint64_t(header);
        // Writers that leave the count 0 often store fewer entries than the
        // depth allows: the palette ends where the pixel data begins.
        if (data_offset > at) entries = uint32_t(std::min<uint64_t>(entries, (data_offset - at) / palette_entry));
        if (length < at + uint64_t(entries) * palette_entry) return false;
        for (uint32_t i = 0; i < entries; i++) {
            const uint8_t* e = bytes + at + uint64_t(i) * palette_entry;
            palette[i] = pixel_make(e[2], e[1], e[0], 255);
        }
        palette_size = entries;
    }

    if (data_offset > length) return false;
    if (compression == BMP_RLE8 || compression == BMP_RLE4) {
        frame_allocate(out, uint32_t(width), uint32_t(height));
        bmp_decode_rle(bytes + data_offset, length - data_offset, bits, palette, palette_size, top_down, out);
        return true;
    }
    uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
    if ((length - data_offset) / stride < uint64_t(height)) return false;
    frame_allocate(out, uint32_t(width), uint32_t(height));
    bool any_alpha = false;
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t* row = bytes + data_offset + stride * (top_down ? y : height - 1 - y);
        uint32_t* target = &out->pixels[size_t(y) * width];
        for (uint32_t x = 0; x < width; x++) {
            uint32_t pixel;
            if (bits <= 8) {
                uint32_t bit = x * bits;
                uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                pixel = index < palette_size ? palette[index] : PIXEL_OPAQUE;
            } else if (bits == 24) {
                const uint8_t* p = row + size_t(x) * 3;
                pixel = pixel_make(p[2], p[1], p[0], 255);
            } else {
                uint32_t word = bits == 16 ? le16(row + size_t(x) * 2) : le32(row + size_t(x) * 4);
                uint32_t a = alpha_from_data ? word >> 24 : alpha.max ? bmp_channel_value(alpha, word) : 255;
                if (alpha_from_data && a != 0) any_alpha = true;
                pixel = pixel_make(bmp_channel_value(red, word), bmp_channel_value(green, word),
                                   bmp_channel_value(blue, word), a);
            }
            target[x] = pixel;
        }
    }
    // Plain 32-bit rows whose fourth bytes are all 0 carry no alpha: opaque.
    if (alpha_from_data && !any_alpha)
        for (uint32_t& p : out->pixels) p |= PIXEL_OPAQUE;
    return true;
}

static void put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(uint8_t(v));
    out->push_back(uint8_t(v >> 8));
}
static void put32(std::vector<uint8_t>* out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

static bool bmp_encode(const uint32_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>* out) {
    constexpr uint32_t info = 108;
    uint64_t data = uint64_t(width) * height * 4;
    uint64_t total = BMP_FILE_HEADER + info + data;
    if (total > 0xFFFFFFFFu) return false;
    out->clear();
    out->reserve(size_t(total));
    out->push_back('B');
    out->push_back('M');
    put32(out, uint32_t(total));
    put32(out, 0);
    put32(out, BMP_FILE_HEADER + info);
    put32(out, info);
    put32(out, width);
    put32(out, height);  // positive: bottom-up rows
    put16(out, 1);
    put16(out, 32);
    put32(out, BMP_BITFIELDS);
    put32(out, uint32_t(data));
    put32(out, 2835);  // 72 dots per inch, in dots per metre
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x73524742);  // colour space "sRGB"
    out->resize(BMP_FILE_HEADER + info, 0);  // endpoints and gamma unused
    for (uint32_t y = height; y-- > 0;)
        for (uint32_t x = 0; x < width; x++) put32(out, pixels[size_t(y) * width + x]);
    return true;
}

// ---- the codec module --------------------------------------------------------------------------

// The module's two entry points, or nulls when it cannot be loaded (then only
// BMP is available and the other formats fail to decode and encode). It sits
// next to the executable; test programs run one folder below it.
struct CodecModule {
    CodecDecodeFn decode = nullptr;
    CodecEncodeFn encode = nullptr;
};

static const CodecModule& codec_module() {
    static const CodecModule module = [] {
        CodecModule m;
        std::string dir = executable_dir(), error;
        void* handle = dynlib_open((dir + CODEC_MODULE_FILE).c_str(), &error);
        if (!handle) handle = dynlib_open((dir + "../" + CODEC_MODULE_FILE).c_str(), &error);
        if (!handle) return m;
        m.decode = reinterpret_cast<CodecDecodeFn>(dynlib_symbol(handle, CODEC_DECODE_SYMBOL));
        m.encode = reinterpret_cast<CodecEncodeFn>(dynlib_symbol(handle, CODEC_ENCODE_SYMBOL));
        return m;
    }();
    return module;
}

static bool library_decode(int32_t container, const uint8_t* bytes, size_t length, DecodedImage* out) {
    CodecDecodeFn decode = codec_module().decode;
    return decode && decode(container, bytes, length, out);
}

static bool library_encode(int32_t container, const uint32_t* pixels, uint32_t width, uint32_t height,
                           std::vector<uint8_t>* out) {
    CodecEncodeFn encode = codec_module().encode;
    return encode && encode(container, pixels, width, height, out);
}

// ---- entry points ----------------------------------------------------------------------------

bool image_decode_memory(const uint8_t* bytes, size_t length, DecodedImage* out) {
    decode_failed(out);
    bool ok = false;
    ImageContainer container = image_container_sniff(bytes, length);
    switch (container) {
    case CONTAINER_BMP: ok = bmp_decode(bytes, length, out); break;
    case CONTAINER_PNG:
    case CONTAINER_JPEG:
    case CONTAINER_GIF:
    case CONTAINER_TIFF: ok = library_decode(container, bytes, length, out); break;
    default: break;
    }
    if (!ok || out->pixels.size() != size_t(out->width) * out->height || out->pixels.empty())
        return decode_failed(out);
    return true;
}

bool image_encode_memory(const uint32_t* pixels, uint32_t width, uint32_t height, int32_t container,
                         std::vector<uint8_t>* out) {
    out->clear();
    if (width == 0 || height == 0 || width > IMAGE_SIDE_MAX || height > IMAGE_SIDE_MAX) return false;
    switch (container) {
    case CONTAINER_BMP: return bmp_encode(pixels, width, height, out);
    case CONTAINER_PNG:
    case CONTAINER_GIF:
    case CONTAINER_JPEG:
    case CONTAINER_TIFF: return library_encode(container, pixels, width, height, out);
    default: return false;
    }
}

} // namespace kel
