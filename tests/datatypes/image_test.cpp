// The image codecs on outside input (truncated, corrupted and oversized
// files, BMP layouts our writer never makes, interlaced GIFs) and the image!
// entry points the language cannot reach directly.
#include "tests/natives/natives_fixture.hpp"
#include "datatypes/image.hpp"
#include "io/image_codecs.hpp"
#include "io/image_files.hpp"

#include <gif_lib.h>
#include <jpeglib.h>
#include <cstdlib>

#include <cstring>
#include <string>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

using Bytes = std::vector<uint8_t>;

// A small image with distinct colours and some alpha.
std::vector<uint32_t> sample_pixels(uint32_t width, uint32_t height) {
    std::vector<uint32_t> p(size_t(width) * height);
    for (size_t i = 0; i < p.size(); i++)
        p[i] = uint32_t((i % 3 == 0 ? 0x80 : 0xFF)) << 24 | uint32_t(i * 37 & 0xFF) << 16 |
               uint32_t(i * 11 & 0xFF) << 8 | uint32_t(255 - i);
    return p;
}

Bytes encoded(int32_t container, uint32_t width = 5, uint32_t height = 3) {
    std::vector<uint32_t> pixels = sample_pixels(width, height);
    Bytes out;
    EXPECT_TRUE(image_encode_memory(pixels.data(), width, height, container, &out)) << container;
    return out;
}

bool decodes(const Bytes& bytes, DecodedImage* out) { return image_decode_memory(bytes.data(), bytes.size(), out); }

void put_le16(Bytes* b, size_t at, uint32_t v) {
    (*b)[at] = uint8_t(v);
    (*b)[at + 1] = uint8_t(v >> 8);
}
void put_le32(Bytes* b, size_t at, uint32_t v) {
    put_le16(b, at, v & 0xFFFF);
    put_le16(b, at + 2, v >> 16);
}

TEST(ImageCodecs, LosslessFormatsKeepEveryPixelAndAlpha) {
    for (int32_t container : {CONTAINER_PNG, CONTAINER_BMP, CONTAINER_TIFF}) {
        Bytes file = encoded(container, 7, 4);
        DecodedImage image;
        ASSERT_TRUE(decodes(file, &image)) << container;
        EXPECT_EQ(image.width, 7u);
        EXPECT_EQ(image.height, 4u);
        EXPECT_EQ(image.pixels, sample_pixels(7, 4)) << container;
    }
}

TEST(ImageCodecs, EveryTruncationAndCorruptionFailsCleanly) {
    // Run under the sanitizers: no prefix or flipped byte may read out of
    // bounds; what decodes has the size it claims.
    for (int32_t container : {CONTAINER_PNG, CONTAINER_BMP, CONTAINER_TIFF, CONTAINER_GIF, CONTAINER_JPEG}) {
        Bytes file = encoded(container, 9, 6);
        for (size_t n = 0; n < file.size(); n++) {
            Bytes cut(file.begin(), file.begin() + n);
            DecodedImage image;
            if (decodes(cut, &image)) {
                EXPECT_EQ(image.pixels.size(), size_t(image.width) * image.height);
            }
        }
        for (size_t at = 0; at < file.size(); at++) {
            Bytes bad = file;
            bad[at] ^= 0xA5;
            DecodedImage image;
            if (decodes(bad, &image)) {
                EXPECT_EQ(image.pixels.size(), size_t(image.width) * image.height);
            }
        }
    }
}

TEST(ImageCodecs, AbsurdDimensionsAreRefusedBeforeDecoding) {
    DecodedImage image;
    // BMP: 65535 x 65535 claimed by a 60-byte file.
    Bytes bmp = encoded(CONTAINER_BMP, 1, 1);
    put_le32(&bmp, 18, 65535);
    put_le32(&bmp, 22, 65535);
    EXPECT_FALSE(decodes(bmp, &image));
    // A negative width, and a height of -2^31 that has no positive counterpart.
    bmp = encoded(CONTAINER_BMP, 1, 1);
    put_le32(&bmp, 18, uint32_t(-4));
    EXPECT_FALSE(decodes(bmp, &image));
    bmp = encoded(CONTAINER_BMP, 1, 1);
    put_le32(&bmp, 22, 0x80000000u);
    EXPECT_FALSE(decodes(bmp, &image));

    // GIF: the logical screen and the frame claim 65535 x 65535.
    Bytes gif = encoded(CONTAINER_GIF, 1, 1);
    put_le16(&gif, 6, 65535);
    put_le16(&gif, 8, 65535);
    size_t descriptor = 0;
    for (size_t i = 13 + 3 * 256; i < gif.size(); i++)
        if (gif[i] == 0x2C) { descriptor = i; break; }
    ASSERT_NE(descriptor, 0u);
    put_le16(&gif, descriptor + 5, 65535);
    put_le16(&gif, descriptor + 7, 65535);
    EXPECT_FALSE(decodes(gif, &image));

    // JPEG: the frame header claims 65000 x 65000.
    Bytes jpeg = encoded(CONTAINER_JPEG, 8, 8);
    size_t sof = 0;
    for (size_t i = 2; i + 1 < jpeg.size(); i++)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) { sof = i; break; }
    ASSERT_NE(sof, 0u);
    jpeg[sof + 5] = 0xFD; jpeg[sof + 6] = 0xE8;  // height, big-endian
    jpeg[sof + 7] = 0xFD; jpeg[sof + 8] = 0xE8;  // width
    EXPECT_FALSE(decodes(jpeg, &image));

    // TIFF: the width and length entries of the first directory.
    Bytes tiff = encoded(CONTAINER_TIFF, 1, 1);
    uint32_t ifd = uint32_t(tiff[4]) | uint32_t(tiff[5]) << 8 | uint32_t(tiff[6]) << 16 | uint32_t(tiff[7]) << 24;
    uint32_t entries = uint32_t(tiff[ifd]) | uint32_t(tiff[ifd + 1]) << 8;
    int patched = 0;
    for (uint32_t e = 0; e < entries; e++) {
        size_t at = ifd + 2 + 12 * e;
        uint32_t tag = uint32_t(tiff[at]) | uint32_t(tiff[at + 1]) << 8;
        if (tag != 256 && tag != 257) continue;
        put_le16(&tiff, at + 2, 4);  // LONG
        put_le32(&tiff, at + 8, 60000);
        patched++;
    }
    ASSERT_EQ(patched, 2);
    EXPECT_FALSE(decodes(tiff, &image));
    EXPECT_TRUE(image.pixels.empty());
}

// A BMP file of the given DIB header, palette and rows.
Bytes bmp_file(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const Bytes& palette,
               const Bytes& rows) {
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(&b, 2, uint32_t(54 + palette.size() + rows.size()));
    put_le32(&b, 10, uint32_t(54 + palette.size()));
    put_le32(&b, 14, 40);
    put_le32(&b, 18, uint32_t(width));
    put_le32(&b, 22, uint32_t(height));
    put_le16(&b, 26, 1);
    put_le16(&b, 28, bits);
    put_le32(&b, 30, compression);
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

TEST(ImageCodecs, BmpLayouts) {
    struct Case {
        const char* name;
        Bytes file;
        uint32_t width, height;
        std::vector<uint32_t> pixels;
    };
    const Bytes two_colours = {0, 0, 255, 0, 255, 0, 0, 0};  // red, blue (B, G, R, 0)
    Case cases[] = {
        // Bottom-up rows padded to 4 bytes: the last row in the file is the top.
        {"24-bit", bmp_file(1, 2, 24, 0, {}, {0x01, 0x02, 0x03, 0, 0x0A, 0x0B, 0x0C, 0}), 1, 2,
         {0xFF0C0B0A, 0xFF030201}},
        // A negative height stores the rows top down.
        {"8-bit top-down", bmp_file(3, -1, 8, 0, two_colours, {1, 0, 1, 0}), 3, 1,
         {0xFF0000FF, 0xFFFF0000, 0xFF0000FF}},
        {"1-bit", bmp_file(10, 1, 1, 0, two_colours, {0xA0, 0x40, 0, 0}), 10, 1,
         {0xFF0000FF, 0xFFFF0000, 0xFF0000FF, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000,
          0xFFFF0000, 0xFF0000FF}},
        {"4-bit", bmp_file(3, 1, 4, 0, two_colours, {0x10, 0x10, 0, 0}), 3, 1,
         {0xFF0000FF, 0xFFFF0000, 0xFF0000FF}},
        // 5 bits per channel: 0x7C00 is full red.
        {"16-bit", bmp_file(2, 1, 16, 0, {}, {0x00, 0x7C, 0x1F, 0x00}), 2, 1, {0xFFFF0000, 0xFF0000FF}},
        // Fourth bytes all 0: no alpha, the pixels are opaque.
        {"32-bit without alpha", bmp_file(1, 1, 32, 0, {}, {0x01, 0x02, 0x03, 0x00}), 1, 1, {0xFF030201}},
        {"32-bit with alpha", bmp_file(1, 1, 32, 0, {}, {0x01, 0x02, 0x03, 0x40}), 1, 1, {0x40030201}},
        // Run-length: a run and a line end (bottom row), then three literal
        // indexes padded to an even byte count and the end of the bitmap;
        // pixels never reached keep colour 0.
        {"RLE8", bmp_file(4, 2, 8, 1, two_colours, {2, 1, 0, 0, 0, 3, 1, 0, 1, 0, 0, 1}), 4, 2,
         {0xFF0000FF, 0xFFFF0000, 0xFF0000FF, 0xFFFF0000, 0xFF0000FF, 0xFF0000FF, 0xFFFF0000, 0xFFFF0000}},
        // Two nibbles used in turn, a move right by one, three literal nibbles.
        {"RLE4", bmp_file(4, 2, 4, 2, two_colours, {3, 0x10, 0, 0, 0, 2, 1, 0, 0, 3, 0x01, 0x10, 0, 1}), 4, 2,
         {0xFFFF0000, 0xFFFF0000, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFFFF0000, 0xFF0000FF, 0xFFFF0000}},
    };
    for (const Case& c : cases) {
        DecodedImage image;
        ASSERT_TRUE(decodes(c.file, &image)) << c.name;
        EXPECT_EQ(image.width, c.width) << c.name;
        EXPECT_EQ(image.height, c.height) << c.name;
        EXPECT_EQ(image.pixels, c.pixels) << c.name;
    }
    // Rows missing from the file, a palette index past the palette, and
    // run-length compression of another bit depth than its own.
    DecodedImage image;
    EXPECT_FALSE(decodes(bmp_file(1, 3, 24, 0, {}, {1, 2, 3, 0}), &image));
    ASSERT_TRUE(decodes(bmp_file(1, 1, 8, 0, two_colours, {7, 0, 0, 0}), &image));
    EXPECT_EQ(image.pixels[0], 0xFF000000u);
    EXPECT_FALSE(decodes(bmp_file(1, 1, 4, 1, two_colours, {0, 0, 0, 0}), &image));
    // Run-length data cut short keeps what it reached.
    ASSERT_TRUE(decodes(bmp_file(3, 1, 8, 1, two_colours, {2, 1, 0}), &image));
    EXPECT_EQ(image.pixels, (std::vector<uint32_t>{0xFF0000FF, 0xFF0000FF, 0xFFFF0000}));
}

int gif_collect(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + count);
    return count;
}

TEST(ImageCodecs, InterlacedGifRowsComeOutInOrder) {
    // Eight rows of one pixel, row y in colour y, stored in the four passes.
    GifColorType colours[8];
    for (int i = 0; i < 8; i++) colours[i] = {GifByteType(i * 30), GifByteType(i), GifByteType(255 - i)};
    ColorMapObject* map = GifMakeMapObject(8, colours);
    Bytes file;
    int error = 0;
    GifFileType* gif = EGifOpen(&file, gif_collect, &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_NE(EGifPutScreenDesc(gif, 1, 8, 3, 0, map), GIF_ERROR);
    ASSERT_NE(EGifPutImageDesc(gif, 0, 0, 1, 8, true, nullptr), GIF_ERROR);
    for (int row : {0, 4, 2, 6, 1, 3, 5, 7}) {
        GifPixelType index = GifPixelType(row);
        ASSERT_NE(EGifPutLine(gif, &index, 1), GIF_ERROR);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);

    DecodedImage image;
    ASSERT_TRUE(decodes(file, &image));
    ASSERT_EQ(image.height, 8u);
    for (uint32_t y = 0; y < 8; y++)
        EXPECT_EQ(image.pixels[y], 0xFF000000u | uint32_t(y * 30) << 16 | y << 8 | (255 - y)) << y;
}

TEST(ImageCodecs, CmykJpegBecomesRgb) {
    // A 16x16 file of the ink of pure red, stored inverted as the Adobe
    // marker the library writes says: 255 = no ink.
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = 16;
    info.image_height = 16;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row;
    for (int x = 0; x < 16; x++) row.insert(row.end(), {255, 0, 0, 255});
    while (info.next_scanline < 16) {
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&info, &p, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes file(buffer, buffer + size);
    std::free(buffer);

    DecodedImage image;
    ASSERT_TRUE(decodes(file, &image));
    uint32_t p = image.pixels[8 * 16 + 8];
    EXPECT_EQ(p >> 24, 255u);
    EXPECT_GT((p >> 16) & 0xFF, 240u);
    EXPECT_LT((p >> 8) & 0xFF, 16u);
    EXPECT_LT(p & 0xFF, 16u);
}

TEST(ImageCodecs, UnknownContainersAndEmptyImages) {
    uint32_t pixel = 0xFF000000;
    Bytes out;
    EXPECT_FALSE(image_encode_memory(&pixel, 1, 1, 7, &out));
    EXPECT_FALSE(image_encode_memory(&pixel, 0, 5, CONTAINER_PNG, &out));
    DecodedImage image;
    EXPECT_FALSE(decodes(Bytes{'G', 'I', 'F', '8', '8', 'a', 0, 0}, &image));
    EXPECT_FALSE(decodes(Bytes{}, &image));
}

using ImageTest = NativesTest;

TEST_F(ImageTest, UnknownFormatPrintsTheDiagnosticAndGivesNone) {
    Cell* image = image_push(2, 2);
    Cell* out = stack_push_new(T_UNSET);
    ::testing::internal::CaptureStdout();
    image_encode(image, 7, out);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Cannot find image encoder\n");
    EXPECT_EQ(cell_type(out), T_NONE);
    stack_pop(2);
}

TEST_F(ImageTest, SizesBeyondTheLimitsAreRefused) {
    EXPECT_EQ(run_error("make image! 65535x65535"), int(ErrorCategory::internal) * 100 + ERR_NO_MEMORY);
    EXPECT_EQ(run_error("make image! [70000x2]"), script(ERR_OUT_OF_RANGE));
}

TEST_F(ImageTest, ResizePicksTheNearestPixel) {
    Cell* source = image_push(2, 1);
    image_pixels(source)[0] = 0xFFFF0000;
    image_pixels(source)[1] = 0x8000FF00;
    Cell* out = stack_push_new(T_NONE);
    image_resize(source, 4, 2, out);
    ASSERT_EQ(image_width(out), 4u);
    ASSERT_EQ(image_height(out), 2u);
    const uint32_t expected[] = {0xFFFF0000, 0xFFFF0000, 0x8000FF00, 0x8000FF00};
    for (uint32_t row = 0; row < 2; row++)
        for (uint32_t x = 0; x < 4; x++) EXPECT_EQ(image_pixels(out)[row * 4 + x], expected[x]);
    stack_pop(2);
}

} // namespace
