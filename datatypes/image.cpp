// image!: construction, pixel access, path selection, comparison, copying
// and printing (io/image_files.hpp loads and encodes images).
// The pixel buffer is a plain series of 32-bit words that the collector moves
// like any other: pixel addresses are re-read after every allocation and
// after every owner notification (which may evaluate).
#include "datatypes/image.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/library_context.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/context.hpp"
#include "core/interpreter.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/collector.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kel {

constexpr uint32_t OPAQUE_WHITE = 0xFFFFFFFFu;
// Pixels per line of molded image data.
constexpr uint32_t MOLD_LINE_PIXELS = 10;

// ---- cells and pixels ---------------------------------------------------------------------------

uint32_t* image_pixels(const Cell* image) {
    if (series_node(image) == 0 || image_pixel_count(image) == 0) return nullptr;
    return reinterpret_cast<uint32_t*>(series_buffer_of(image)->head_ptr());
}

// The head clamped to 0 .. width x height.
static uint32_t image_head(const Cell* image) {
    int32_t index = series_index(image);
    return index < 0 ? 0 : std::min(uint32_t(index), image_pixel_count(image));
}

static void image_head_set(Cell* image, int64_t index) {
    int64_t count = image_pixel_count(image);
    series_index_set(image, int32_t(std::clamp<int64_t>(index, 0, count)));
}

static void image_cell_init(Cell* cell, Node node, uint32_t width, uint32_t height) {
    cell_init(cell, T_IMAGE);
    series_node_set(cell, node);
    series_extra_set(cell, height << 16 | width);
}

Cell* image_make_at(Cell* cell, uint32_t width, uint32_t height) {
    if (width > IMAGE_SIDE_MAX || height > IMAGE_SIDE_MAX) error_raise(ERR_NO_MEMORY);
    uint64_t count = uint64_t(width) * height;
    if (count * 4 > IMAGE_BYTES_MAX) error_raise(ERR_NO_MEMORY);
    Node node = series_new_units(uint32_t(count), 4);
    SeriesBuffer* b = series_buffer(node);
    b->tail = b->head + uint32_t(count) * 4;
    std::fill_n(reinterpret_cast<uint32_t*>(b->head_ptr()), count, OPAQUE_WHITE);
    image_cell_init(cell, node, width, height);
    return cell;
}

Cell* image_push(uint32_t width, uint32_t height) {
    Cell* cell = stack_push_new(T_NONE);
    return image_make_at(cell, width, height);
}

void image_pixel_to_tuple(uint32_t pixel, Cell* out) {
    cell_init(out, T_TUPLE);
    uint32_t red = (pixel >> 16) & 0xFF, green = (pixel >> 8) & 0xFF, blue = pixel & 0xFF;
    uint32_t transparency = 255 - (pixel >> 24);
    tuple_init(out, 4, red | green << 8 | blue << 16 | transparency << 24, 0, 0);
}

// The pixel at an absolute index as a tuple (the series code's element hook).
static void image_element(const Cell* image, uint32_t index, Cell* out) {
    image_pixel_to_tuple(image_pixels(image)[index], out);
}

uint32_t image_pixel_from_tuple(const Cell* tuple) {
    uint32_t alpha = tuple_count(tuple) >= 4 ? 255u - tuple_byte(tuple, 3) : 255u;
    return alpha << 24 | uint32_t(tuple_byte(tuple, 0)) << 16 | uint32_t(tuple_byte(tuple, 1)) << 8 |
           tuple_byte(tuple, 2);
}

// The four bytes of an integer! (lowest first) as a tuple.
static void tuple_from_integer(const Cell* integer, Cell* out) {
    cell_init(out, T_TUPLE);
    tuple_init(out, 4, uint32_t(cell_int(integer)), 0, 0);
}

void image_resize(const Cell* image, uint32_t width, uint32_t height, Cell* out) {
    CellRoot source(*image);
    Cell* result = image_push(width, height);
    uint32_t sw = image_width(&source.cell), sh = image_height(&source.cell);
    if (image_pixel_count(&source.cell) != 0 && image_pixel_count(result) != 0) {
        const uint32_t* from = image_pixels(&source.cell);
        uint32_t* to = image_pixels(result);
        for (uint32_t y = 0; y < height; y++) {
            uint32_t sy = uint32_t(uint64_t(y) * sh / height);
            for (uint32_t x = 0; x < width; x++)
                to[size_t(y) * width + x] = from[size_t(sy) * sw + uint64_t(x) * sw / width];
        }
    }
    cell_copy(result, out);
    stack_pop(1);
}

// ---- make, to -----------------------------------------------------------------------------------

// A copy of the rectangle at (x, y) of width x height pixels (already clipped
// to the image) written into out.
static void copy_rect(const Cell* image, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Cell* out) {
    CellRoot source(*image);
    Cell* result = image_push(width, height);
    if (image_pixel_count(result) != 0) {
        uint32_t sw = image_width(&source.cell);
        const uint32_t* from = image_pixels(&source.cell);
        uint32_t* to = image_pixels(result);
        for (uint32_t row = 0; row < height; row++)
            std::memcpy(to + size_t(row) * width, from + (size_t(y) + row) * sw + x, size_t(width) * 4);
    }
    cell_copy(result, out);
    stack_pop(1);
}

// A copy of the whole image from its first pixel, head 0.
static void copy_whole(const Cell* image, Cell* out) {
    copy_rect(image, 0, 0, image_width(image), image_height(image), out);
}

// Checks a value of a make spec block against the type it must have.
static void value_type_check(const Cell* value, uint8_t type) {
    if (cell_type(value) != type) error_raise(ERR_INVALID_ARG, value);
}

// make image! [size rgb-or-colour alpha]
static void make_from_block(const Cell* spec, Cell* out) {
    uint32_t at = series_index_clamped(spec);
    uint32_t length = series_buffer_length(spec) - at;
    if (length == 0) error_raise(ERR_INVALID_ARG, spec);
    Cell size = *block_ks_abs_at(spec, at);
    value_type_check(&size, T_PAIR);
    Cell fill, alpha;
    cell_init(&fill, T_NONE);
    cell_init(&alpha, T_NONE);
    if (length >= 2) {
        fill = *block_ks_abs_at(spec, at + 1);
        if (cell_type(&fill) != T_TUPLE) value_type_check(&fill, T_BINARY);
    }
    if (length >= 3) {
        alpha = *block_ks_abs_at(spec, at + 2);
        value_type_check(&alpha, T_BINARY);
    }
    CellRoot colours(fill), alphas(alpha);
    int32_t width = std::max(pair_x(&size), 0), height = std::max(pair_y(&size), 0);
    if (width > int32_t(IMAGE_SIDE_MAX) || height > int32_t(IMAGE_SIDE_MAX)) error_raise(ERR_OUT_OF_RANGE, &size);
    image_make_at(out, uint32_t(width), uint32_t(height));
    if (image_pixel_count(out) == 0) return;
    uint32_t count = image_pixel_count(out);
    uint32_t* pixels = image_pixels(out);
    if (cell_type(&colours.cell) == T_TUPLE) {
        std::fill_n(pixels, count, image_pixel_from_tuple(&colours.cell));
    } else if (cell_type(&colours.cell) == T_BINARY) {
        uint32_t from = series_index_clamped(&colours.cell);
        SeriesBuffer* b = series_buffer_of(&colours.cell);
        const uint8_t* rgb = b->head_ptr() + from;
        uint32_t n = std::min((b->length() - from) / 3, count);
        for (uint32_t i = 0; i < n; i++)
            pixels[i] = 0xFF000000u | uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
    }
    if (cell_type(&alphas.cell) == T_BINARY) {
        uint32_t from = series_index_clamped(&alphas.cell);
        SeriesBuffer* b = series_buffer_of(&alphas.cell);
        const uint8_t* bytes = b->head_ptr() + from;
        uint32_t n = std::min(b->length() - from, count);
        for (uint32_t i = 0; i < n; i++) pixels[i] = (pixels[i] & 0xFFFFFF) | uint32_t(255 - bytes[i]) << 24;
    }
}

// A face object's picture, taken by the GUI backend; false when the value is
// not a face (the GUI layer's face? decides).
static bool face_capture(const Cell* value, Cell* out) {
    if (cell_type(value) != T_OBJECT) return false;
    CellRoot face(*value), verdict;
    Cell word = library_word("face?");
    CellRoot is_face(*interp_word_slot(&word));
    if (cell_type(&is_face.cell) != T_FUNCTION) return false;
    function_apply(&is_face.cell, &face.cell, 1, &verdict.cell);
    if (cell_type(&verdict.cell) != T_LOGIC || !logic_get(&verdict.cell)) return false;
    word = library_word("face-to-image");
    CellRoot capture(*interp_word_slot(&word));
    function_apply(&capture.cell, &face.cell, 1, out);
    return true;
}

const Cell* image_to(Cell* proto, const Cell* spec, uint8_t) {
    if (face_capture(spec, proto)) return proto;
    if (cell_type(spec) != T_IMAGE) {
        error_raise_type(ERR_BAD_TO_ARG, T_IMAGE, spec);
    }
    Cell* out = stack_push(spec);
    image_copy(out, nullptr, false, nullptr);
    cell_copy(out, proto);
    stack_pop(1);
    return proto;
}

const Cell* image_make(Cell* proto, const Cell* spec, uint8_t type) {
    uint8_t spec_type = cell_type(spec);
    if (spec_type != T_PAIR && spec_type != T_BLOCK) return image_to(proto, spec, type);
    Cell* out = stack_push_new(T_NONE);
    if (spec_type == T_PAIR) {
        int32_t width = std::max(pair_x(spec), 0), height = std::max(pair_y(spec), 0);
        if (width > int32_t(IMAGE_SIDE_MAX) || height > int32_t(IMAGE_SIDE_MAX)) error_raise(ERR_OUT_OF_RANGE, spec);
        image_make_at(out, uint32_t(width), uint32_t(height));
    } else if (series_buffer_length(spec) <= series_index_clamped(spec) && cell_type(proto) == T_IMAGE) {
        copy_whole(proto, out);
    } else {
        make_from_block(spec, out);
    }
    cell_copy(out, proto);
    stack_pop(1);
    return proto;
}

// ---- form, mold ---------------------------------------------------------------------------------

// A line feed and the indentation of a level (4 spaces per level).
static void line_break(Cell* target, int32_t level) {
    string_concatenate_text(target, "\n");
    for (int32_t i = 0; i < level; i++) string_concatenate_text(target, "    ");
}

// The budget is what remains of it after the characters added to the target
// since start.
static int32_t image_print(const Cell* value, Cell* target, bool only, bool flat, bool part, int32_t budget,
                           int32_t level) {
    CellRoot image(*value);
    uint32_t start = series_buffer_length(target);
    auto left = [&] { return budget - int32_t(series_buffer_length(target) - start); };
    auto done = [&] { return part && left() <= 0; };
    char text[32];
    if (!only) string_concatenate_text(target, "make image! [");
    std::snprintf(text, sizeof text, "%ux%u", image_width(&image.cell), image_height(&image.cell));
    string_concatenate_text(target, text);
    if (image_pixel_count(&image.cell) == 0) {
        string_concatenate_text(target, only ? " #{}" : " #{}]");
        return left();
    }
    uint32_t head = image_head(&image.cell), count = image_pixel_count(&image.cell) - head;
    bool lines = !flat && uint64_t(count) * 4 > 30;
    int32_t outer = std::max(level - 1, 0);
    string_concatenate_text(target, " #{");
    if (lines) line_break(target, level);
    bool transparent = false;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t pixel = image_pixels(&image.cell)[head + i];
        if ((pixel >> 24) != 255) transparent = true;
        std::snprintf(text, sizeof text, "%06X", pixel & 0xFFFFFF);
        string_concatenate_text(target, text);
        if (!flat && (i + 1) % MOLD_LINE_PIXELS == 0) line_break(target, level);
        if (done()) return left();
    }
    if (lines && count % MOLD_LINE_PIXELS != 0) line_break(target, outer);
    string_concatenate_text(target, "}");
    if (transparent) {
        string_concatenate_text(target, " #{");
        if (!flat) line_break(target, level);
        for (uint32_t i = 0; i < count; i++) {
            uint32_t pixel = image_pixels(&image.cell)[head + i];
            std::snprintf(text, sizeof text, "%02X", 255 - (pixel >> 24));
            string_concatenate_text(target, text);
            if (!flat && (i + 1) % MOLD_LINE_PIXELS == 0 && i + 1 < count) line_break(target, level);
            if (done()) return left();
        }
        if (!flat) line_break(target, outer);
        string_concatenate_text(target, "}");
    }
    if (!only) string_concatenate_text(target, "]");
    return left();
}

int32_t image_form(const Cell* value, Cell* target, bool only, bool, bool flat, bool part, int32_t budget,
                   int32_t indent) {
    return image_print(value, target, only, flat, part, budget, indent);
}

int32_t image_mold(const Cell* value, Cell* target, bool only, bool, bool flat, bool part, int32_t budget,
                   int32_t indent) {
    return image_print(value, target, only, flat, part, budget, indent + 1);
}

// ---- positions ----------------------------------------------------------------------------------

// An at/pick index or a skip offset as a count of pixels: an integer!, or a
// pair x, y as x + width x (y - 1) (rows_before: 1) or x + width x y (0).
static int64_t pixel_offset(const Cell* image, const Cell* index, int64_t rows_before) {
    if (cell_type(index) == T_INTEGER) return cell_int(index);
    if (cell_type(index) == T_PAIR)
        return int64_t(pair_x(index)) + int64_t(image_width(image)) * (int64_t(pair_y(index)) - rows_before);
    error_raise(ERR_INVALID_ARG, index);
}

// The absolute pixel that pick and poke address, or -1 when out of range.
static int64_t pick_position(const Cell* image, const Cell* index) {
    int64_t count = image_pixel_count(image);
    if (cell_type(index) == T_PAIR) {
        int64_t x = pair_x(index), y = pair_y(index);
        if (x < 1 || y < 1 || x > image_width(image) || y > image_height(image)) return -1;
    }
    int64_t n;
    if (!index_argument(index, &n)) n = pixel_offset(image, index, 1);
    if (n == 0) return -1;
    int64_t at = int64_t(image_head(image)) + (n > 0 ? n - 1 : n);
    return at < 0 || at >= count ? -1 : at;
}

void image_at(Cell* image, const Cell* index) {
    int64_t n = pixel_offset(image, index, 1);
    image_head_set(image, int64_t(image_head(image)) + (n > 0 ? n - 1 : n));
}

void image_skip(Cell* image, const Cell* offset) {
    image_head_set(image, int64_t(image_head(image)) + pixel_offset(image, offset, 0));
}

void image_back(Cell* image) { image_head_set(image, int64_t(image_head(image)) - 1); }

void image_next(Cell* image) {
    uint32_t head = image_head(image);
    if (head < image_pixel_count(image)) series_index_set(image, int32_t(head + 1));
}

void image_tail(Cell* image) { series_index_set(image, int32_t(image_pixel_count(image))); }

void image_tail_q(Cell* image) { logic_make_at(image, image_head(image) >= image_pixel_count(image)); }

int32_t image_length_q(const Cell* image) { return int32_t(image_pixel_count(image)); }

// ---- pick, poke ---------------------------------------------------------------------------------

void image_pick(Cell* image, const Cell* index) {
    int64_t at = pick_position(image, index);
    if (at < 0) none_make_at(image);
    else image_pixel_to_tuple(image_pixels(image)[at], image);
}

void image_poke(Cell* image, const Cell* index, const Cell* value) {
    int64_t at = pick_position(image, index);
    if (at < 0) error_raise(ERR_OUT_OF_RANGE, index);
    if (cell_type(value) != T_TUPLE) error_raise(ERR_INVALID_ARG, value);
    bool owned = series_notify(image, W_POKE, int32_t(at), 1);
    image_pixels(image)[at] = image_pixel_from_tuple(value);
    series_notify_after(owned, image, W_POKED, int32_t(at), 1);
    cell_copy(value, image);
}

// ---- path selection -----------------------------------------------------------------------------

enum PixelField { FIELD_ARGB, FIELD_RGB, FIELD_ALPHA };

// Whether the word is the runtime symbol, letter case ignored.
static bool word_is_q(const Cell* word, RuntimeSymbol id) {
    return cell_type(word) == T_WORD && symbol_resolve(word_symbol(word)) == symbol_resolve(runtime_symbol(id));
}

// The field a path word names, or -1.
static int32_t pixel_field(const Cell* word) {
    static const RuntimeSymbol names[] = {SYM_ARGB, SYM_RGB, SYM_ALPHA};
    for (int32_t i = 0; i < 3; i++)
        if (word_is_q(word, names[i])) return i;
    return -1;
}

// A binary of the whole image's pixels in the field's layout.
static void field_get(const Cell* image, int32_t field, Cell* out) {
    CellRoot source(*image);
    uint32_t count = image_pixel_count(image);
    uint32_t per_pixel = field == FIELD_ARGB ? 4 : field == FIELD_RGB ? 3 : 1;
    binary_init(out, count * per_pixel);
    if (image_pixel_count(&source.cell) == 0) return;
    SeriesBuffer* b = series_buffer_of(out);
    uint8_t* to = b->head_ptr();
    const uint32_t* from = image_pixels(&source.cell);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t p = from[i];
        if (field == FIELD_ARGB) {
            std::memcpy(to + size_t(i) * 4, &p, 4);
        } else if (field == FIELD_RGB) {
            to[3 * size_t(i)] = uint8_t(p >> 16);
            to[3 * size_t(i) + 1] = uint8_t(p >> 8);
            to[3 * size_t(i) + 2] = uint8_t(p);
        } else {
            to[i] = uint8_t(255 - (p >> 24));
        }
    }
    b->tail = b->head + count * per_pixel;
}

static uint32_t field_merge(uint32_t pixel, uint32_t with, int32_t field) {
    if (field == FIELD_ARGB) return with;
    if (field == FIELD_RGB) return (pixel & 0xFF000000u) | (with & 0xFFFFFF);
    return (pixel & 0xFFFFFF) | (with & 0xFF000000u);
}

static void field_set(Cell* image, int32_t field, const Cell* value) {
    uint8_t type = cell_type(value);
    if (type != T_BINARY && type != T_TUPLE && type != T_INTEGER) error_raise(ERR_INVALID_ARG, value);
    if (image_pixel_count(image) == 0) return;
    uint32_t count = image_pixel_count(image);
    bool owned = series_notify(image, W_CHANGE, 0, int32_t(count));
    uint32_t* pixels = image_pixels(image);
    if (type == T_BINARY) {
        uint32_t from = series_index_clamped(value);
        SeriesBuffer* b = series_buffer_of(value);
        const uint8_t* bytes = b->head_ptr() + from;
        uint32_t length = b->length() - from;
        if (field == FIELD_ARGB) {
            std::memcpy(pixels, bytes, std::min<uint64_t>(length, uint64_t(count) * 4));
        } else if (field == FIELD_RGB) {
            uint32_t n = std::min(length / 3, count);
            for (uint32_t i = 0; i < n; i++)
                pixels[i] = field_merge(pixels[i], uint32_t(bytes[3 * i]) << 16 | uint32_t(bytes[3 * i + 1]) << 8 |
                                                       bytes[3 * i + 2], FIELD_RGB);
        } else {
            uint32_t n = std::min(length, count);
            for (uint32_t i = 0; i < n; i++) pixels[i] = field_merge(pixels[i], uint32_t(255 - bytes[i]) << 24, FIELD_ALPHA);
        }
    } else {
        Cell colour;
        if (type == T_INTEGER) tuple_from_integer(value, &colour);
        else colour = *value;
        uint32_t with = image_pixel_from_tuple(&colour);
        // alpha takes the first byte as the transparency.
        if (field == FIELD_ALPHA) with = uint32_t(255 - tuple_byte(&colour, 0)) << 24;
        for (uint32_t i = 0; i < count; i++) pixels[i] = field_merge(pixels[i], with, field);
    }
    series_notify_after(owned, image, W_CHANGED, 0, int32_t(count));
}

void image_eval_path(const Cell* parent, const Cell* element, const Cell* set_value, const Cell* path, bool,
                     Cell* out) {
    uint8_t type = cell_type(element);
    Cell* image = const_cast<Cell*>(parent);
    if (type == T_INTEGER || type == T_PAIR) {
        Cell* result = stack_push(parent);
        if (set_value == nullptr) image_pick(result, element);
        else image_poke(result, element, set_value);
        cell_copy(result, out);
        stack_pop(1);
        return;
    }
    if (word_is_q(element, SYM_SIZE)) {
        if (set_value != nullptr) error_raise(ERR_INVALID_PATH, path, element);
        pair_init(out, int32_t(image_width(parent)), int32_t(image_height(parent)));
        return;
    }
    int32_t field = pixel_field(element);
    if (field < 0) error_raise(ERR_INVALID_PATH, path, element);
    if (set_value == nullptr) {
        field_get(parent, field, out);
    } else {
        field_set(image, field, set_value);
        cell_copy(set_value, out);
    }
}

// ---- comparison ---------------------------------------------------------------------------------

int32_t image_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_IMAGE) return COMPARE_INCOMPARABLE;
    bool same_position = series_node(value1) == series_node(value2) && series_index(value1) == series_index(value2);
    if (op == CMP_SAME) return same_position ? 0 : 1;
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL:
        if (same_position) return 0;
        [[fallthrough]];
    case CMP_SORT: case CMP_SORT_CASE: case CMP_FIND: {
        int64_t n1 = image_pixel_count(value1), n2 = image_pixel_count(value2);
        if (n1 != n2) return n1 < n2 ? -1 : 1;
        if (n1 == 0) return 0;
        int c = std::memcmp(image_pixels(value1), image_pixels(value2), size_t(n1) * 4);
        return (c > 0) - (c < 0);
    }
    default:
        return COMPARE_INCOMPARABLE;
    }
}

// ---- change, copy -------------------------------------------------------------------------------

// Copies the source's pixels into the image as a rectangle whose corner is
// the head, clipped to both; the head moves past the rectangle's last row.
static void change_rect(Cell* image, const Cell* source) {
    uint32_t head = image_head(image), count = image_pixel_count(image);
    if (head >= count || image_pixel_count(source) == 0) return;
    uint32_t width = image_width(image), height = image_height(image);
    uint32_t sw = image_width(source), sh = image_height(source);
    uint32_t column = head % width, row = head / width;
    uint32_t cw = std::min(sw, width - column), ch = std::min(sh, height - row);
    // A copy first: the source may be this very image.
    std::vector<uint32_t> block(size_t(cw) * ch);
    const uint32_t* from = image_pixels(source);
    for (uint32_t y = 0; y < ch; y++) std::memcpy(&block[size_t(y) * cw], from + size_t(y) * sw, size_t(cw) * 4);
    bool owned = series_notify(image, W_CHANGE, int32_t(head), int32_t(cw * ch));
    uint32_t* to = image_pixels(image);
    for (uint32_t y = 0; y < ch; y++)
        std::memcpy(to + size_t(row + y) * width + column, &block[size_t(y) * cw], size_t(cw) * 4);
    series_notify_after(owned, image, W_CHANGED, int32_t(head), int32_t(cw * ch));
    series_index_set(image, int32_t((row + ch - 1) * width + std::min(column + sw, width)));
}

void image_change(Cell* image, const Cell* value, int32_t part, bool, int32_t dup) {
    if (part != -1 || dup != 1) error_raise(ERR_NOT_DONE);
    uint8_t type = cell_type(value);
    if (type == T_TUPLE) {
        uint32_t head = image_head(image);
        if (head >= image_pixel_count(image)) return;
        bool owned = series_notify(image, W_CHANGE, int32_t(head), 1);
        image_pixels(image)[head] = image_pixel_from_tuple(value);
        series_notify_after(owned, image, W_CHANGED, int32_t(head), 1);
        series_index_set(image, int32_t(head + 1));
    } else if (type == T_IMAGE) {
        CellRoot source(*value);
        change_rect(image, &source.cell);
    } else {
        error_raise_type(ERR_INVALID_TYPE, type);
    }
}

// A corner and an extent of a copy, clipped to the image.
struct CopyRect {
    uint32_t x, y, width, height;
};

static CopyRect copy_rect_of(const Cell* image, const Cell* part) {
    uint32_t width = image_width(image), height = image_height(image);
    uint32_t head = image_head(image);
    CopyRect r{head % width, head / width, 0, 0};
    r.width = width - r.x;
    r.height = height > r.y ? height - r.y : 0;
    if (part == nullptr) return r;
    if (cell_type(part) == T_PAIR) {
        r.width = uint32_t(std::clamp<int64_t>(pair_x(part), 0, r.width));
        r.height = uint32_t(std::clamp<int64_t>(pair_y(part), 0, r.height));
        return r;
    }
    if (cell_type(part) == T_INTEGER) error_raise(ERR_NOT_DONE);
    if (cell_type(part) != T_IMAGE || series_node(part) != series_node(image))
        error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_PART), part);
    uint32_t other = image_head(part);
    uint32_t low = std::min(head, other), high = std::max(head, other);
    int64_t x0 = low % width, y0 = low / width, x1 = high % width, y1 = high / width;
    r.x = uint32_t(x0);
    r.y = uint32_t(y0);
    r.width = uint32_t(std::max<int64_t>(x1 - x0, 0));
    r.height = uint32_t(std::max<int64_t>(y1 - y0, 0));
    return r;
}

void image_copy(Cell* image, const Cell* part, bool, const Cell*) {
    if (image_pixel_count(image) == 0) {
        series_index_set(image, 0);
        return;
    }
    if (part == nullptr && image_head(image) == 0) {
        copy_whole(image, image);
        return;
    }
    CopyRect r = copy_rect_of(image, part);
    if (r.width == 0 || r.height == 0) image_make_at(image, r.width, r.height);
    else copy_rect(image, r.x, r.y, r.width, r.height, image);
}

// ---- registration -------------------------------------------------------------------------------

// The pixel buffer holds no values: marking keeps it alive and follows its moves.
static void image_mark(Cell* cell) {
    if (series_node(cell) != 0) collector_mark_series(series_node_slot(cell));
}

void init_image() {
    const ActionRow actions[] = {
        {A_MAKE, image_make},
        {A_TO, image_to},
        {A_FORM, image_form},
        {A_MOLD, image_mold},
        {A_EVAL_PATH, image_eval_path},
        {A_COMPARE, image_compare},
        {A_AT, image_at},
        {A_SKIP, image_skip},
        // back is the image's own: an image without pixels has no buffer to clamp by.
        {A_BACK, image_back},
        {A_NEXT, image_next},
        {A_TAIL, image_tail},
        {A_TAIL_Q, image_tail_q},
        {A_LENGTH_Q, image_length_q},
        {A_PICK, image_pick},
        {A_POKE, image_poke},
        {A_CHANGE, image_change},
        {A_COPY, image_copy},
        {A_HEAD, ACTION_INHERIT}, {A_HEAD_Q, ACTION_INHERIT}, {A_INDEX_Q, ACTION_INHERIT},
        {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_IMAGE, T_SERIES, "image!", actions);
    datatype_hooks_set(T_IMAGE, {.element = image_element});
    collector_register_marker(T_IMAGE, image_mark);
}

} // namespace kel
