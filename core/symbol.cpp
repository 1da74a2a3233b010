// The symbol table: the symbol series, its index, interning and the symbol!
// datatype.
#include "core/block.hpp"
#include "core/symbol.hpp"
#include "core/hashtable.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/unicode.hpp"
#include "runtime/collector.hpp"

#include <cstring>

namespace kel {

// Position of the symbol series' block cell in the root block; the root block
// only grows at its tail, so the position holds for the whole run.
static uint32_t series_position = 0;
// The index (kind 2) over the symbol series; 0 until symbol_index_new.
static Node index_node = 0;

static Node symbol_series() {
    auto* root = block_cells(series_node(&root_cell));
    return root[series_position].w2;
}

static Cell* symbol_cells() {
    return block_cells(symbol_series());
}

uint32_t symbol_count() { return series_buffer(symbol_series())->length(); }

Node symbol_index() { return index_node; }

static void symbol_mark(Cell* c) {
    collector_mark_series(&c->w3);
    if (c->w2) collector_mark_series(&c->w2);
}

static void symbol_index_mark() { hashtable_mark(&index_node); }

void symbol_series_new() {
    collector_register_marker(T_SYMBOL, symbol_mark);
    hashtable_module_init();
    index_node = 0;
    NodeRoot series(series_new_cells(SYMBOL_SERIES_CELLS));
    series_position = series_buffer_of(&root_cell)->length();
    Cell* cell = cell_series_append(root_cell.w2);
    cell_init(cell, T_BLOCK);
    cell->w2 = series.node;
}

void symbol_index_new() {
    index_node = hashtable_init(symbol_series(), SYMBOL_INDEX_SIZE, HASH_WORDS);
    collector_remove_root(symbol_index_mark);
    collector_add_root(symbol_index_mark);
}

uint32_t symbol_append(const uint8_t* name, uint32_t length, int32_t alias) {
    NodeRoot text(series_new_bytes(length + 1), ROOT_SERIES);
    SeriesBuffer* b = series_buffer(text.node);
    std::memcpy(b->data(), name, length);
    b->data()[length] = 0;
    b->tail = b->head + length;
    Cell* cell = cell_series_append(symbol_series());
    cell->header = T_SYMBOL;
    cell->w1 = uint32_t(alias);
    cell->w2 = 0;
    cell->w3 = text.node;
    return symbol_count();
}

uint32_t symbol_make(const char* text) {
    return symbol_table_intern_name(index_node, reinterpret_cast<const uint8_t*>(text),
                                    uint32_t(std::strlen(text)), false);
}

uint32_t symbol_make_counted(const uint8_t* text, uint32_t length) {
    return symbol_table_intern_name(index_node, text, length, false);
}

uint32_t symbol_make_from_string(Cell* string) {
    int32_t count = -1;
    const uint8_t* text = to_utf8(string, &count);
    return symbol_table_intern_name(index_node, text, uint32_t(count), false);
}

uint32_t symbol_make_flagged(const char* text) {
    return symbol_table_intern_name(index_node, reinterpret_cast<const uint8_t*>(text),
                                    uint32_t(std::strlen(text)), true);
}

const uint8_t* symbol_name(uint32_t id, uint32_t* length) {
    SeriesBuffer* name = series_buffer(symbol_cells()[id - 1].w3);
    *length = name->tail - name->head;
    return name->head_ptr();
}

// Decodes a name leniently: a byte that does not start a valid UTF-8 sequence
// stands for itself (names may hold any bytes). Returns the characters and,
// with out set, writes them at the unit.
static uint32_t name_decode(const uint8_t* p, const uint8_t* end, uint8_t* out, uint32_t unit,
                            uint32_t* widest) {
    uint32_t count = 0;
    while (p < end) {
        int32_t cp;
        const uint8_t* next = utf8_decode_char(p, end, &cp);
        if (cp < 0) { cp = *p; next = p + 1; }
        if (widest && uint32_t(cp) > *widest) *widest = uint32_t(cp);
        if (out) std::memcpy(out + size_t(count) * unit, &cp, unit);  // little-endian host
        count++;
        p = next;
    }
    return count;
}

const Cell* symbol_get(uint32_t id) {
    if (symbol_cells()[id - 1].w2 == 0) {
        uint32_t length;
        const uint8_t* name = symbol_name(id, &length);
        uint32_t widest = 0;
        uint32_t count = name_decode(name, name + length, nullptr, 1, &widest);
        uint32_t unit = codepoint_unit(widest);
        Node string = series_new_units(count, unit);
        name = symbol_name(id, &length);
        SeriesBuffer* b = series_buffer(string);
        name_decode(name, name + length, b->data(), unit, nullptr);
        b->tail = b->head + count * unit;
        symbol_cells()[id - 1].w2 = string;
    }
    return &symbol_cells()[id - 1];
}

const Cell* symbol_cells_now(uint32_t* count) {
    SeriesBuffer* symbols = series_buffer(symbol_series());
    *count = symbols->length();
    return block_cells(symbols);
}

uint32_t symbol_resolve(uint32_t id) {
    SeriesBuffer* symbols = series_buffer(symbol_series());
    if (id == 0 || id > symbols->length()) return id;
    int32_t alias = int32_t(block_cells(symbols)[id - 1].w1);
    return alias > 0 ? uint32_t(alias) : id;
}

int32_t symbol_alias(uint32_t id) { return int32_t(symbol_cells()[id - 1].w1); }

// Two names of the same length, byte for byte or ignoring ASCII case.
static bool names_equal(const uint8_t* a, const uint8_t* b, uint32_t length, bool fold) {
    if (!fold) return std::memcmp(a, b, length) == 0;
    for (uint32_t i = 0; i < length; i++) {
        uint8_t x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
        if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
        if (x != y) return false;
    }
    return true;
}

// Symbol cells compare by name: strict codes by the exact bytes, the other
// equality codes ignoring ASCII case; orderings are not defined for them.
int32_t symbol_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_SYMBOL) return COMPARE_INCOMPARABLE;
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME:
    case CMP_FIND_MODE1: case CMP_FIND_MODE2: case CMP_FIND: break;
    default: return COMPARE_INCOMPARABLE;
    }
    if (op == CMP_SAME) return value1->w3 == value2->w3 ? 0 : 1;
    SeriesBuffer* a = series_buffer(value1->w3);
    SeriesBuffer* b = series_buffer(value2->w3);
    uint32_t length = a->tail - a->head;
    if (length != b->tail - b->head) return 1;
    return names_equal(a->head_ptr(), b->head_ptr(), length, op != CMP_STRICT_EQUAL) ? 0 : 1;
}

void init_symbol() {
    const ActionRow actions[] = {
        {A_COMPARE, symbol_compare},
    };
    datatype_register(T_SYMBOL, 0, "symbol!", actions);
    collector_register_marker(T_SYMBOL, symbol_mark);
}

} // namespace kel
