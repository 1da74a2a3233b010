// PNG, JPEG, GIF and TIFF over libpng, libjpeg-turbo, giflib and libtiff: the
// codec module, opened by io/image_codecs.cpp on first use. The libraries'
// own diagnostics are silenced and every failure is reported as false.
// libjpeg reports errors by longjmp: the functions that set the jump point
// keep their state in heap records and hold no C++ object that a jump could
// skip.
#include "io/codecs/codec_module.hpp"
#include "io/image_frame.hpp"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace kel {

// ---- PNG -------------------------------------------------------------------------------------
// Decoding uses libpng's full read interface: every colour type, bit depth
// and interlace comes out as B, G, R, A bytes, which is the pixel word in
// memory. Sixteen-bit samples are scaled to eight bits as they are (no
// gamma is applied, as image viewers and converters show them). libpng
// reports errors by longjmp: the reader keeps its state in a heap record and
// holds no C++ object that a jump could skip. Encoding uses the simplified
// interface, which handles its errors itself.

struct PngReader {
    png_structp png;
    png_infop info;
    const uint8_t* bytes;
    size_t length;
    size_t at;
    png_bytep* rows;  // one pointer per row into the decoded pixels
};

static void png_read_memory(png_structp png, png_bytep data, size_t count) {
    PngReader* r = static_cast<PngReader*>(png_get_io_ptr(png));
    if (count > r->length - r->at) png_error(png, "truncated");
    std::memcpy(data, r->bytes + r->at, count);
    r->at += count;
}

[[noreturn]] static void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
static void png_no_warning(png_structp, png_const_charp) {}

static bool png_reader_free(PngReader* r) {
    png_destroy_read_struct(&r->png, &r->info, nullptr);
    std::free(r->rows);
    std::free(r);
    return false;
}

static bool png_decode(const uint8_t* bytes, size_t length, DecodedImage* out) {
    PngReader* r = static_cast<PngReader*>(std::calloc(1, sizeof(PngReader)));
    if (r == nullptr) return false;
    r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_no_warning);
    if (r->png) r->info = png_create_info_struct(r->png);
    if (!r->png || !r->info) return png_reader_free(r);
    r->bytes = bytes;
    r->length = length;
    if (setjmp(png_jmpbuf(r->png))) return png_reader_free(r);
    png_set_read_fn(r->png, r, png_read_memory);
    png_read_info(r->png, r->info);
    uint32_t width = png_get_image_width(r->png, r->info);
    uint32_t height = png_get_image_height(r->png, r->info);
    if (!frame_size_ok(width, height)) return png_reader_free(r);
    int colour = png_get_color_type(r->png, r->info);
    // Palettes, low bit depths and a transparent colour become 8-bit
    // samples with alpha; grey becomes red, green and blue.
    png_set_expand(r->png);
    if (png_get_bit_depth(r->png, r->info) == 16) png_set_scale_16(r->png);
    if (!(colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(r->png);
    png_set_bgr(r->png);
    png_set_filler(r->png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(r->png);
    png_read_update_info(r->png, r->info);
    if (png_get_rowbytes(r->png, r->info) != size_t(width) * 4) return png_reader_free(r);
    frame_allocate(out, width, height);
    r->rows = static_cast<png_bytep*>(std::calloc(height, sizeof(png_bytep)));
    if (r->rows == nullptr) return png_reader_free(r);
    for (uint32_t y = 0; y < height; y++) r->rows[y] = reinterpret_cast<png_bytep>(&out->pixels[size_t(y) * width]);
    png_read_image(r->png, r->rows);
    png_reader_free(r);
    return true;
}

static bool png_encode(const uint32_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>* out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr)) return false;
    out->resize(size_t(size));
    bool ok = png_image_write_to_memory(&image, out->data(), &size, 0, pixels, 0, nullptr) != 0;
    out->resize(ok ? size_t(size) : 0);
    png_image_free(&image);
    return ok;
}

// ---- JPEG ------------------------------------------------------------------------------------

struct JpegErrors {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

[[noreturn]] static void jpeg_fail(j_common_ptr info) {
    longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}
static void jpeg_no_message(j_common_ptr) {}

static void jpeg_errors_init(JpegErrors* errors) {
    jpeg_std_error(&errors->manager);
    errors->manager.error_exit = jpeg_fail;
    errors->manager.output_message = jpeg_no_message;
}

// C, M, Y, K bytes (in memory order) to pixel words, in place. Files with an
// Adobe marker store the channels inverted (255 = no ink).
static void jpeg_cmyk_to_pixels(DecodedImage* image, bool inverted) {
    for (uint32_t& p : image->pixels) {
        uint8_t ink[4];
        std::memcpy(ink, &p, 4);
        if (!inverted)
            for (uint8_t& v : ink) v = uint8_t(255 - v);
        uint32_t k = ink[3];
        p = pixel_make((ink[0] * k + 127) / 255, (ink[1] * k + 127) / 255, (ink[2] * k + 127) / 255, 255);
    }
}

struct JpegReader {
    jpeg_decompress_struct info;
    JpegErrors errors;
};

static bool jpeg_decode(const uint8_t* bytes, size_t length, DecodedImage* out) {
    JpegReader* r = static_cast<JpegReader*>(std::calloc(1, sizeof(JpegReader)));
    if (r == nullptr) return false;
    r->info.err = &r->errors.manager;
    jpeg_errors_init(&r->errors);
    if (setjmp(r->errors.jump)) {
        jpeg_destroy_decompress(&r->info);
        std::free(r);
        return false;
    }
    jpeg_create_decompress(&r->info);
    jpeg_mem_src(&r->info, bytes, static_cast<unsigned long>(length));
    if (jpeg_read_header(&r->info, TRUE) != JPEG_HEADER_OK ||
        !frame_size_ok(r->info.image_width, r->info.image_height)) {
        jpeg_destroy_decompress(&r->info);
        std::free(r);
        return false;
    }
    // Four-channel files come out as C, M, Y, K bytes and are converted here;
    // everything else the library turns into B, G, R, A itself.
    bool cmyk = r->info.jpeg_color_space == JCS_CMYK || r->info.jpeg_color_space == JCS_YCCK;
    r->info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&r->info);
    if (r->info.output_width != r->info.image_width || r->info.output_height != r->info.image_height ||
        r->info.output_components != 4) {
        jpeg_destroy_decompress(&r->info);
        std::free(r);
        return false;
    }
    frame_allocate(out, r->info.output_width, r->info.output_height);
    while (r->info.output_scanline < r->info.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(&out->pixels[size_t(r->info.output_scanline) * out->width]);
        jpeg_read_scanlines(&r->info, &row, 1);
    }
    if (cmyk) jpeg_cmyk_to_pixels(out, r->info.saw_Adobe_marker);
    jpeg_finish_decompress(&r->info);
    jpeg_destroy_decompress(&r->info);
    std::free(r);
    return true;
}

struct JpegWriter {
    jpeg_compress_struct info;
    JpegErrors errors;
    unsigned char* buffer;  // made by the library's memory destination
    unsigned long size;
};

constexpr int JPEG_QUALITY = 90;

static bool jpeg_encode(const uint32_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>* out) {
    JpegWriter* w = static_cast<JpegWriter*>(std::calloc(1, sizeof(JpegWriter)));
    if (w == nullptr) return false;
    w->info.err = &w->errors.manager;
    jpeg_errors_init(&w->errors);
    if (setjmp(w->errors.jump)) {
        jpeg_destroy_compress(&w->info);
        std::free(w->buffer);
        std::free(w);
        return false;
    }
    jpeg_create_compress(&w->info);
    jpeg_mem_dest(&w->info, &w->buffer, &w->size);
    w->info.image_width = width;
    w->info.image_height = height;
    w->info.input_components = 4;
    w->info.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&w->info);
    jpeg_set_quality(&w->info, JPEG_QUALITY, TRUE);
    jpeg_start_compress(&w->info, TRUE);
    while (w->info.next_scanline < height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(pixels + size_t(w->info.next_scanline) * width));
        jpeg_write_scanlines(&w->info, &row, 1);
    }
    jpeg_finish_compress(&w->info);
    jpeg_destroy_compress(&w->info);
    out->assign(w->buffer, w->buffer + w->size);
    std::free(w->buffer);
    std::free(w);
    return true;
}

// ---- GIF -------------------------------------------------------------------------------------
// The first image of the stream at its own size; a transparent colour index of
// the graphics control block before it gives alpha 0.

struct GifSource {
    const uint8_t* bytes;
    size_t length;
    size_t at;
};

static int gif_read(GifFileType* gif, GifByteType* buffer, int count) {
    GifSource* s = static_cast<GifSource*>(gif->UserData);
    size_t n = std::min(size_t(count < 0 ? 0 : count), s->length - s->at);
    std::memcpy(buffer, s->bytes + s->at, n);
    s->at += n;
    return int(n);
}

static bool gif_read_frame(GifFileType* gif, int transparent, DecodedImage* out) {
    const GifImageDesc& desc = gif->Image;
    if (!frame_size_ok(uint64_t(std::max(desc.Width, 0)), uint64_t(std::max(desc.Height, 0)))) return false;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (map == nullptr) return false;
    uint32_t width = uint32_t(desc.Width), height = uint32_t(desc.Height);
    std::vector<GifByteType> indexes(size_t(width) * height);
    if (desc.Interlace) {
        static const uint32_t starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; pass++)
            for (uint32_t y = starts[pass]; y < height; y += steps[pass])
                if (DGifGetLine(gif, &indexes[size_t(y) * width], int(width)) == GIF_ERROR) return false;
    } else {
        for (uint32_t y = 0; y < height; y++)
            if (DGifGetLine(gif, &indexes[size_t(y) * width], int(width)) == GIF_ERROR) return false;
    }
    frame_allocate(out, width, height);
    for (size_t i = 0; i < indexes.size(); i++) {
        int index = indexes[i];
        if (index == transparent) {
            out->pixels[i] = 0;
        } else if (index < map->ColorCount) {
            const GifColorType& c = map->Colors[index];
            out->pixels[i] = pixel_make(c.Red, c.Green, c.Blue, 255);
        }
    }
    return true;
}

static bool gif_decode(const uint8_t* bytes, size_t length, DecodedImage* out) {
    GifSource source{bytes, length, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, gif_read, &error);
    if (gif == nullptr) return false;
    int transparent = -1;
    bool ok = false;
    for (bool done = false; !done;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) break;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) break;
            // A graphics control block: length 4, flags, delay (2 bytes), index.
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4)
                transparent = (block[1] & 1) ? block[4] : -1;
            bool failed = false;
            while (block != nullptr && !failed) failed = DGifGetExtensionNext(gif, &block) == GIF_ERROR;
            if (failed) break;
        } else if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR) break;
            ok = gif_read_frame(gif, transparent, out);
            done = true;
        } else if (type == TERMINATE_RECORD_TYPE) {
            done = true;
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

static int gif_write(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + count);
    return count;
}

// Pixels with alpha below half are transparent in a GIF.
static bool gif_transparent_q(uint32_t pixel) { return (pixel >> 24) < 128; }

// Palette indexes of the pixels: the exact colours when they fit the palette,
// else giflib's median-cut quantisation. The transparent index, when used, is
// the palette's last entry.
static bool gif_palette(const uint32_t* pixels, size_t count, bool transparency, GifColorType* colours,
                        std::vector<GifByteType>* indexes) {
    int room = transparency ? 255 : 256;
    std::unordered_map<uint32_t, int> seen;
    indexes->resize(count);
    for (size_t i = 0; i < count && int(seen.size()) <= room; i++) {
        if (transparency && gif_transparent_q(pixels[i])) continue;
        uint32_t rgb = pixels[i] & 0xFFFFFF;
        auto found = seen.find(rgb);
        int index = found != seen.end() ? found->second : int(seen.size());
        if (found == seen.end()) {
            seen.emplace(rgb, index);
            if (index < room) colours[index] = {GifByteType(rgb >> 16), GifByteType(rgb >> 8), GifByteType(rgb)};
        }
        (*indexes)[i] = GifByteType(index);
    }
    if (int(seen.size()) > room) {
        std::vector<GifByteType> red(count), green(count), blue(count);
        for (size_t i = 0; i < count; i++) {
            red[i] = GifByteType(pixels[i] >> 16);
            green[i] = GifByteType(pixels[i] >> 8);
            blue[i] = GifByteType(pixels[i]);
        }
        int size = room;
        if (count > 0xFFFFFFFFu ||
            GifQuantizeBuffer(unsigned(count), 1, &size, red.data(), green.data(), blue.data(), indexes->data(),
                              colours) == GIF_ERROR)
            return false;
    }
    if (transparency) {
        colours[255] = {0, 0, 0};
        for (size_t i = 0; i < count; i++)
            if (gif_transparent_q(pixels[i])) (*indexes)[i] = 255;
    }
    return true;
}

static bool gif_encode(const uint32_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>* out) {
    size_t count = size_t(width) * height;
    bool transparency = std::any_of(pixels, pixels + count, gif_transparent_q);
    GifColorType colours[256] = {};
    std::vector<GifByteType> indexes;
    if (!gif_palette(pixels, count, transparency, colours, &indexes)) return false;
    ColorMapObject* map = GifMakeMapObject(256, colours);
    if (map == nullptr) return false;
    out->clear();
    int error = 0;
    GifFileType* gif = EGifOpen(out, gif_write, &error);
    if (gif == nullptr) {
        GifFreeMapObject(map);
        return false;
    }
    EGifSetGifVersion(gif, transparency);
    bool ok = EGifPutScreenDesc(gif, int(width), int(height), 8, 0, map) != GIF_ERROR;
    GifFreeMapObject(map);
    if (ok && transparency) {
        GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, 255};
        GifByteType block[4];
        EGifGCBToExtension(&control, block);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block) != GIF_ERROR;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) != GIF_ERROR;
    for (uint32_t y = 0; ok && y < height; y++)
        ok = EGifPutLine(gif, &indexes[size_t(y) * width], int(width)) != GIF_ERROR;
    if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
    if (!ok) out->clear();
    return ok;
}

// ---- TIFF ------------------------------------------------------------------------------------
// A file in memory behind libtiff's client procedures. Eight-bit RGB or RGBA
// strips with unassociated alpha are read row by row as they are; every other
// layout goes through libtiff's RGBA reader, whose alpha is associated and is
// divided out again.

struct TiffFile {
    const uint8_t* bytes;        // reading
    std::vector<uint8_t>* data;  // writing
    uint64_t length;
    uint64_t at;
};

static tmsize_t tiff_read(thandle_t handle, void* buffer, tmsize_t count) {
    TiffFile* f = static_cast<TiffFile*>(handle);
    const uint8_t* bytes = f->data ? f->data->data() : f->bytes;
    if (count < 0 || f->at >= f->length) return 0;
    uint64_t n = std::min(uint64_t(count), f->length - f->at);
    std::memcpy(buffer, bytes + f->at, size_t(n));
    f->at += n;
    return tmsize_t(n);
}

static tmsize_t tiff_write(thandle_t handle, void* buffer, tmsize_t count) {
    TiffFile* f = static_cast<TiffFile*>(handle);
    if (f->data == nullptr || count < 0) return -1;
    uint64_t end = f->at + uint64_t(count);
    if (end > f->data->size()) f->data->resize(size_t(end));
    std::memcpy(f->data->data() + f->at, buffer, size_t(count));
    f->at = end;
    f->length = std::max(f->length, end);
    return count;
}

static toff_t tiff_seek(thandle_t handle, toff_t offset, int whence) {
    TiffFile* f = static_cast<TiffFile*>(handle);
    uint64_t base = whence == SEEK_CUR ? f->at : whence == SEEK_END ? f->length : 0;
    f->at = base + offset;
    return f->at;
}

static int tiff_close(thandle_t) { return 0; }
static toff_t tiff_size(thandle_t handle) { return static_cast<TiffFile*>(handle)->length; }
static int tiff_map(thandle_t, void**, toff_t*) { return 0; }
static void tiff_unmap(thandle_t, void*, toff_t) {}
static int tiff_quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

static TIFF* tiff_open(TiffFile* file, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_quiet, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(IMAGE_DECODE_PIXELS_MAX * 4));
    TIFF* tiff = TIFFClientOpenExt("memory", mode, file, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size,
                                   tiff_map, tiff_unmap, options);
    TIFFOpenOptionsFree(options);
    return tiff;
}

static bool tiff_read_strips(TIFF* tiff, DecodedImage* out) {
    uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    bool rgb = samples == 3 && extra_count == 0;
    bool rgba = samples == 4 && extra_count == 1 && extra != nullptr && extra[0] == EXTRASAMPLE_UNASSALPHA;
    if (bits != 8 || planar != PLANARCONFIG_CONTIG || photometric != PHOTOMETRIC_RGB || TIFFIsTiled(tiff) ||
        !(rgb || rgba))
        return false;
    uint32_t width = out->width;
    if (TIFFScanlineSize64(tiff) < uint64_t(width) * samples) return false;
    std::vector<uint8_t> line(size_t(TIFFScanlineSize64(tiff)));
    for (uint32_t y = 0; y < out->height; y++) {
        if (TIFFReadScanline(tiff, line.data(), y, 0) < 0) return false;
        for (uint32_t x = 0; x < width; x++) {
            const uint8_t* p = &line[size_t(x) * samples];
            out->pixels[size_t(y) * width + x] = pixel_make(p[0], p[1], p[2], rgba ? p[3] : 255);
        }
    }
    return true;
}

static uint32_t unassociate(uint32_t channel, uint32_t alpha) {
    return std::min<uint32_t>(255, (channel * 255 + alpha / 2) / alpha);
}

static bool tiff_read_rgba(TIFF* tiff, DecodedImage* out) {
    std::vector<uint32_t> raster(out->pixels.size());
    if (!TIFFReadRGBAImageOriented(tiff, out->width, out->height, raster.data(), ORIENTATION_TOPLEFT, 0))
        return false;
    for (size_t i = 0; i < raster.size(); i++) {
        uint32_t p = raster[i];
        uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
        if (a != 0 && a != 255) {
            r = unassociate(r, a);
            g = unassociate(g, a);
            b = unassociate(b, a);
        }
        out->pixels[i] = pixel_make(r, g, b, a);
    }
    return true;
}

static bool tiff_decode(const uint8_t* bytes, size_t length, DecodedImage* out) {
    TiffFile file{bytes, nullptr, length, 0};
    TIFF* tiff = tiff_open(&file, "rm");
    if (tiff == nullptr) return false;
    uint32_t width = 0, height = 0;
    bool ok = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) && TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) &&
              frame_size_ok(width, height);
    if (ok) {
        frame_allocate(out, width, height);
        ok = tiff_read_strips(tiff, out);
        if (!ok) {
            frame_allocate(out, width, height);
            ok = tiff_read_rgba(tiff, out);
        }
    }
    TIFFClose(tiff);
    return ok;
}

static bool tiff_encode(const uint32_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>* out) {
    out->clear();
    TiffFile file{nullptr, out, 0, 0};
    TIFF* tiff = tiff_open(&file, "w");
    if (tiff == nullptr) return false;
    uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION,
                 TIFFIsCODECConfigured(COMPRESSION_LZW) ? COMPRESSION_LZW : COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    std::vector<uint8_t> line(size_t(width) * 4);
    bool ok = true;
    for (uint32_t y = 0; ok && y < height; y++) {
        for (uint32_t x = 0; x < width; x++) {
            uint32_t p = pixels[size_t(y) * width + x];
            uint8_t* q = &line[size_t(x) * 4];
            q[0] = uint8_t(p >> 16);
            q[1] = uint8_t(p >> 8);
            q[2] = uint8_t(p);
            q[3] = uint8_t(p >> 24);
        }
        ok = TIFFWriteScanline(tiff, line.data(), y, 0) >= 0;
    }
    ok = TIFFFlush(tiff) == 1 && ok;
    TIFFClose(tiff);
    if (!ok) out->clear();
    return ok;
}

} // namespace kel

extern "C" bool kel_codec_decode(int32_t container, const uint8_t* bytes, size_t length, kel::DecodedImage* out) {
    using namespace kel;
    switch (container) {
    case CONTAINER_PNG: return png_decode(bytes, length, out);
    case CONTAINER_JPEG: return jpeg_decode(bytes, length, out);
    case CONTAINER_GIF: return gif_decode(bytes, length, out);
    case CONTAINER_TIFF: return tiff_decode(bytes, length, out);
    default: return false;
    }
}

extern "C" bool kel_codec_encode(int32_t container, const uint32_t* pixels, uint32_t width, uint32_t height,
                                 std::vector<uint8_t>* out) {
    using namespace kel;
    switch (container) {
    case CONTAINER_PNG: return png_encode(pixels, width, height, out);
    case CONTAINER_GIF: return gif_encode(pixels, width, height, out);
    case CONTAINER_JPEG: return jpeg_encode(pixels, width, height, out);
    case CONTAINER_TIFF: return tiff_encode(pixels, width, height, out);
    default: return false;
    }
}
