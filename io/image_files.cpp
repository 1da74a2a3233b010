#include "io/image_files.hpp"
#include "core/error.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/image.hpp"
#include "io/image_codecs.hpp"
#include "runtime/collector.hpp"

#include <cstdio>
#include <cstring>
#include <vector>

namespace kel {

bool image_sniff(const Cell* binary) {
    uint32_t head = series_index_clamped(binary);
    SeriesBuffer* b = series_buffer_of(binary);
    return image_container_sniff(b->head_ptr() + head, b->length() - head) != CONTAINER_UNKNOWN;
}

// Decodes the bytes from the binary's position; false when they do not decode.
// Decoding allocates no series, so the bytes stay where they are meanwhile.
static bool decode_into(const Cell* binary, Cell* out) {
    uint32_t head = series_index_clamped(binary);
    SeriesBuffer* b = series_buffer_of(binary);
    DecodedImage decoded;
    if (!image_decode_memory(b->head_ptr() + head, b->length() - head, &decoded)) return false;
    image_make_at(out, decoded.width, decoded.height);
    std::memcpy(image_pixels(out), decoded.pixels.data(), decoded.pixels.size() * 4);
    return true;
}

void image_load_binary(const Cell* binary, Cell* out) {
    if (!image_sniff(binary) || !decode_into(binary, out)) error_raise(ERR_BAD_MEDIA);
}

void image_load_file(const Cell* file, Cell* out) {
    CellRoot name(*file);
    auto read = action_slot_as<ReadFn>(cell_type(file), A_READ);
    if (!read) error_raise(ERR_CANNOT_OPEN, &name.cell);
    Cell* bytes = stack_push(file);
    read(bytes, nullptr, nullptr, true, false, false, nullptr);
    if (cell_type(bytes) != T_BINARY || !decode_into(bytes, out)) error_raise(ERR_CANNOT_OPEN, &name.cell);
    stack_pop(1);
}

void image_load(const Cell* value, Cell* out) {
    switch (cell_type(value)) {
    case T_BINARY: image_load_binary(value, out); return;
    case T_FILE: case T_URL: image_load_file(value, out); return;
    default: error_raise(ERR_INVALID_ARG, value);
    }
}

void image_encode(const Cell* image, int32_t format, Cell* out) {
    if (image_pixel_count(image) == 0) error_raise(ERR_BAD_MEDIA);
    if (format < IMAGE_BMP || format > IMAGE_TIFF) {
        std::fputs("Cannot find image encoder\n", stdout);
        std::fflush(stdout);
        cell_init(out, T_NONE);
        return;
    }
    // Encoding allocates no series: the pixels stay where they are meanwhile.
    std::vector<uint8_t> file;
    if (!image_encode_memory(image_pixels(image), image_width(image), image_height(image), format, &file) ||
        file.size() > IMAGE_BYTES_MAX)
        error_raise(ERR_BAD_MEDIA);
    Cell* result = binary_push_bytes(file.data(), uint32_t(file.size()));
    cell_copy(result, out);
    stack_pop(1);
}

// ---- codec routines -----------------------------------------------------------------------------

void routine_image_decode() {
    Cell* out = stack_push_new(T_NONE);
    image_load(data_stack.args, out);
    stack_set_last_reset(out);
}

static void routine_image_encode(int32_t format) {
    Cell* out = stack_push_new(T_NONE);
    image_encode(data_stack.args, format, out);
    stack_set_last_reset(out);
}

void routine_image_encode_bmp() { routine_image_encode(IMAGE_BMP); }
void routine_image_encode_png() { routine_image_encode(IMAGE_PNG); }
void routine_image_encode_gif() { routine_image_encode(IMAGE_GIF); }
void routine_image_encode_jpeg() { routine_image_encode(IMAGE_JPEG); }
void routine_image_encode_tiff() { routine_image_encode(IMAGE_TIFF); }

} // namespace kel
