// The Kelbin decoder (both variants, both modes).
//
// Every value is written into a slot, a cell index of a block-family
// container held on the data stack: appended when the index is the
// container's length, overwritten otherwise (context values, function
// parts). A container value (block, object, function, error, word bound to a
// new context) is placed in its slot before its content is read, so that a
// reference path met inside the content can already reach it.
//
// The input of codec mode is copied to the C++ heap first: the decoder
// allocates series, and a collection may move the binary it came from.
#include "io/kelbin/decoder.hpp"

#include "core/block.hpp"
#include "core/context.hpp"
#include "core/error.hpp"
#include "core/error_catalog.hpp"
#include "core/error_value.hpp"
#include "core/function.hpp"
#include "core/logic.hpp"
#include "core/natives_table.hpp"
#include "core/numbers.hpp"
#include "core/object.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/image.hpp"
#include "datatypes/char.hpp"
#include "datatypes/date.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/vector.hpp"
#include "io/compression/lz77.hpp"
#include "io/kelbin/format.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"
#include "runtime/native_guard.hpp"
#include "runtime/stdout.hpp"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace kel {

bool kelbin_codec_q = false;
uint32_t kelbin_first_new = 0;

namespace {

// What the prefix bytes (compact) or the header word (fixed) say of a record.
struct RecordHead {
    uint8_t type;
    bool flag;        // compact: bit 6 of the lead byte
    bool reference;   // content replaced by a path
    bool define;      // boot dialect word definition
    uint32_t word;    // fixed: the whole header word
};

// Where a value goes: cell index in a block-family container on the data
// stack, and header flags the value takes (the new-line flag).
struct Slot {
    Cell* container;
    uint32_t index;
    uint32_t flags;
};

// What a context record says before its symbols.
struct ContextHead {
    uint32_t kind;
    bool on_stack;
    bool object_flag;
    bool values;
    uint32_t count;
};

struct Decoder {
    const uint8_t* origin;     // offsets are reported from here ...
    uint32_t origin_offset;    // ... plus this many bytes
    const uint8_t* pos;
    const uint8_t* limit;      // end of the readable bytes; null while unbounded
    const uint8_t* records;    // start of the record area (fixed-width alignment)
    bool codec;
    bool fixed;
    bool symbols_present;
    const uint8_t* offsets;    // the symbol table's offsets (4 bytes each)
    uint32_t symbol_total;
    const uint8_t* names;
    uint32_t names_size;
    std::vector<uint32_t> symbol_ids;  // interned id per table entry, 0 until named
    std::vector<Cell> global_words;    // per table entry: the global word made first, header 0 until then
    Cell* target;
    uint32_t base;             // cells the target held before decoding
    uint32_t depth = 0;        // records being read, one inside the other
    uint32_t code_flags = 0;   // series flags every block, paren and path made takes
};

// ---- failures and primitive readers ----------------------------------------------------------

[[noreturn]] void fail_at(const Decoder& d, const uint8_t* at) {
    Cell offset;
    cell_init(&offset, T_INTEGER);
    integer_make_at(&offset, int32_t(d.origin_offset + uint32_t(at - d.origin) + 1));
    error_raise(ERR_KB_INVALID_RECORD, &offset);
}
[[noreturn]] void fail(const Decoder& d) { fail_at(d, d.pos); }

[[noreturn]] void no_codec(uint8_t type) {
    error_raise_type(ERR_NO_CODEC, type);
}

// Bytes left before the limit (as many as asked for while unbounded).
size_t bytes_left(const Decoder& d) { return d.limit ? size_t(d.limit - d.pos) : SIZE_MAX; }

void need(const Decoder& d, size_t n) {
    if (bytes_left(d) < n) fail(d);
}

uint8_t read_byte(Decoder& d) {
    need(d, 1);
    return *d.pos++;
}

uint32_t read_raw(Decoder& d) {
    need(d, 4);
    uint32_t v = uint32_t(d.pos[0]) | uint32_t(d.pos[1]) << 8 | uint32_t(d.pos[2]) << 16 |
                 uint32_t(d.pos[3]) << 24;
    d.pos += 4;
    return v;
}

// Little-endian base-128; a fifth byte may only hold the top four bits.
[[gnu::noinline]] uint32_t read_varint_long(Decoder& d) {
    uint32_t value = 0;
    for (int i = 0; i < 5; i++) {
        uint8_t b = read_byte(d);
        if (i == 4 && (b & 0xF0)) fail_at(d, d.pos - 1);
        value |= uint32_t(b & 0x7F) << (7 * i);
        if (!(b & 0x80)) break;
    }
    return value;
}

// Most varints of a stream (symbol indexes, counts) take one or two bytes.
inline uint32_t read_varint(Decoder& d) {
    if (bytes_left(d) >= 2) {
        uint32_t low = d.pos[0];
        if (low < 0x80) {
            d.pos++;
            return low;
        }
        uint32_t high = d.pos[1];
        if (high < 0x80) {
            d.pos += 2;
            return (low & 0x7F) | high << 7;
        }
    }
    return read_varint_long(d);
}

// A number of the variant: a varint or a 32-bit word.
uint32_t read_number(Decoder& d) { return d.fixed ? read_raw(d) : read_varint(d); }

// A count: a number whose top bit is clear.
uint32_t read_count(Decoder& d) {
    const uint8_t* at = d.pos;
    uint32_t n = read_number(d);
    if (int32_t(n) < 0) fail_at(d, at);
    return n;
}

// A signed number: zigzag (compact) or a word (fixed).
int32_t read_signed(Decoder& d) {
    if (d.fixed) return int32_t(read_raw(d));
    uint32_t u = read_varint(d);
    return int32_t((u >> 1) ^ (0u - (u & 1)));
}

// A count that later reads must cover: each of its items takes at least
// `each` bytes.
uint32_t read_bounded_count(Decoder& d, uint32_t each) {
    const uint8_t* at = d.pos;
    uint32_t n = read_count(d);
    if (bytes_left(d) / each < n) fail_at(d, at);
    return n;
}

// A symbol of the stream's table, interned when first named; *table_index
// (when asked for) receives its index in the table.
uint32_t read_symbol(Decoder& d, uint32_t* table_index = nullptr) {
    const uint8_t* at = d.pos;
    uint32_t index = read_number(d);
    if (!d.symbols_present || index >= d.symbol_total) fail_at(d, at);
    if (table_index) *table_index = index;
    uint32_t& id = d.symbol_ids[index];
    if (id) return id;
    const uint8_t* entry = d.offsets + 4 * size_t(index);
    uint32_t offset = uint32_t(entry[0]) | uint32_t(entry[1]) << 8 | uint32_t(entry[2]) << 16 |
                      uint32_t(entry[3]) << 24;
    if (offset >= d.names_size) fail_at(d, at);
    const uint8_t* name = d.names + offset;
    // The names area ends in a NUL (checked with the header), so this stops inside it.
    size_t length = std::strlen(reinterpret_cast<const char*>(name));
    id = symbol_make_counted(name, uint32_t(length));
    return id;
}

// Fixed-width payloads are padded to 4-byte boundaries.
void skip_padding(Decoder& d, size_t bytes) {
    size_t pad = (4 - (bytes & 3)) & 3;
    need(d, pad);
    d.pos += pad;
}

// ---- slots -------------------------------------------------------------------------------------

uint32_t block_length(const Cell* block) { return series_buffer_of(block)->length(); }

// A value at the tail is written into the room its container was made with,
// which allocates nothing; only a full container grows through block_ks_append.
void place(const Slot& slot, const Cell* value) {
    Cell v = *value;  // holds no node that a collection could move before the copy
    v.header |= slot.flags;
    SeriesBuffer* b = series_buffer_of(slot.container);
    if (slot.index < b->length()) {
        cell_copy(&v, block_cells(series_node(slot.container)) + slot.index);
    } else if (b->tail + sizeof(Cell) <= b->size) {
        cell_copy(&v, block_tail_cells(b));
        b->tail += sizeof(Cell);
    } else {
        block_ks_append(slot.container, &v);
    }
}

Cell* slot_cell(const Slot& slot) { return block_cells(series_node(slot.container)) + slot.index; }

// A block cell on the data stack over a series, to serve as a container.
Cell* push_container(Node series) {
    Cell* c = stack_push_new(T_BLOCK);
    series_node_set(c, series);
    return c;
}

// The value block of a context whose values do not live on the stack, or 0.
Node context_value_block(Node context) {
    if (context_cell(context)->header & CONTEXT_ON_STACK) return 0;
    return context_values(context);
}

void read_record(Decoder& d, const Slot& slot);

// ---- paths ---------------------------------------------------------------------------------------

// Descends one step from a container cell; false when the cell holds no
// container or the index lies outside it.
bool path_step(const Cell& from, uint32_t index, Cell* out) {
    uint8_t type = cell_type(&from);
    Node series = 0;
    uint32_t first = 0;
    auto function_part = [&](const Cell& fn) {
        if (index == 0) {
            cell_init(out, T_BLOCK);
            series_node_set(out, function_spec(&fn));
            return true;
        }
        if (index == 1) {
            *out = *function_more_cell(&fn, MORE_BODY);
            return true;
        }
        return false;
    };
    if (block_family_q(type) || type == T_MAP) {
        series = series_node(&from);
    } else if (type == T_OBJECT) {
        series = context_value_block(object_context(&from));
    } else if (type == T_ERROR) {
        series = context_value_block(object_context(&from));
        first = ERROR_ARG1;
    } else if (type == T_NATIVE || type == T_ACTION) {
        series = function_spec(&from);
    } else if (type == T_FUNCTION || (type == T_OP && op_source_type(&from) == T_FUNCTION)) {
        return function_part(from);
    } else if (type >= T_WORD && type <= T_REFINEMENT && word_context(&from) && word_context(&from) != global_context) {
        const Cell* owner = context_owner(word_context(&from));
        if (cell_type(owner) == T_FUNCTION) return function_part(*owner);
        series = context_value_block(word_context(&from));
        if (cell_type(owner) == T_ERROR) first = ERROR_ARG1;
    } else if (type == T_OP && (op_source_type(&from) == T_NATIVE || op_source_type(&from) == T_ACTION)) {
        series = function_spec(&from);
    }
    if (!series) return false;
    uint64_t at = uint64_t(index) + first;
    if (at >= series_buffer(series)->length()) return false;
    *out = block_cells(series)[at];
    return true;
}

// Reads a path (fixed: after its 255 mark) and pushes a copy of the cell it
// reaches.
Cell* read_path(Decoder& d) {
    const uint8_t* at = d.pos;
    if (d.fixed && read_raw(d) != KBF_PATH_MARK) fail_at(d, at);
    at = d.pos;
    uint32_t n = read_count(d);
    if (n == 0 || n > KB_PATH_MAX || bytes_left(d) / (d.fixed ? 4 : 1) < n) fail_at(d, at);
    Cell current = *d.target;
    for (uint32_t k = 0; k < n; k++) {
        at = d.pos;
        uint32_t index = read_count(d);
        Cell next;
        if (!path_step(current, index, &next)) fail_at(d, at);
        current = next;
    }
    return stack_push(&current);
}

// The context a reached cell supplies to a word; 0 when it has none.
Node reached_context(const Cell* cell) {
    uint8_t type = cell_type(cell);
    if (type == T_OBJECT || type == T_ERROR) return object_context(cell);
    if (type == T_FUNCTION || (type == T_OP && op_source_type(cell) == T_FUNCTION)) return function_context(cell);
    if (type >= T_WORD && type <= T_REFINEMENT && word_context(cell) != global_context) return word_context(cell);
    return 0;
}

// ---- contexts, objects, functions ------------------------------------------------------------------

ContextHead read_context_head(Decoder& d) {
    ContextHead h{};
    const uint8_t* at = d.pos;
    if (d.fixed) {
        uint32_t w = read_raw(d);
        if ((w & 0xFF) != T_CONTEXT) fail_at(d, at);
        h.kind = (w >> KBF_CONTEXT_KIND_SHIFT) & 3;
        h.on_stack = w & KBF_CONTEXT_ON_STACK;
        h.object_flag = w & KBF_CONTEXT_OBJECT;
        h.values = w & KBF_CONTEXT_VALUES;
    } else {
        if (read_byte(d) != T_CONTEXT) fail_at(d, at);
        at = d.pos;
        uint8_t flags = read_byte(d);
        h.kind = flags & KB_CONTEXT_KIND;
        h.on_stack = flags & KB_CONTEXT_ON_STACK;
        h.object_flag = flags & KB_CONTEXT_OBJECT;
        h.values = flags & KB_CONTEXT_VALUES;
    }
    if (h.kind > CONTEXT_OBJECT || (h.values && h.on_stack)) fail_at(d, at);
    h.count = read_bounded_count(d, d.fixed ? 4 : 1);
    return h;
}

// Makes the context of a record head and adds its symbols in slot order.
Node read_context_words(Decoder& d, const ContextHead& h) {
    NodeRoot context(context_create(h.count, h.on_stack, h.object_flag, 0, h.kind), ROOT_BLOCK);
    for (uint32_t i = 0; i < h.count; i++) {
        const uint8_t* at = d.pos;
        Cell word;
        word_make_at(&word, T_WORD, read_symbol(d));
        if (uint32_t(context_add_word_of(context.node, &word)) != i) fail_at(d, at);  // a repeated word
    }
    return context.node;
}

// Reads the values of a context with a value block, in slot order.
void read_context_values(Decoder& d, Node context, uint32_t count) {
    Cell* values = push_container(context_value_block(context));
    for (uint32_t i = 0; i < count; i++) read_record(d, Slot{values, i, 0});
    stack_pop(1);
}

// An object of a context record, pushed; the record's values are read by
// object_fill once the object is placed.
Cell* object_begin(Decoder& d, const ContextHead& h, uint32_t class_id) {
    if (h.kind != CONTEXT_OBJECT || h.on_stack) fail(d);
    Node context = read_context_words(d, h);
    return object_push(context, d.codec ? 0xFFFFFFFF : class_id, 0);
}

// Reads the values of a placed object and builds its change-handler record
// when asked; the slot (when given) receives the final cell.
void object_fill(Decoder& d, Cell* object, const ContextHead& h, bool handlers, const Slot* slot) {
    if (h.values) read_context_values(d, object_context(object), h.count);
    if (handlers) {
        object_finish(object);
        if (slot) place(*slot, object);
    }
}

// A function of a context record, pushed: its spec is a placeholder and its
// body none until function_fill reads them.
Cell* function_begin(Decoder& d, const ContextHead& h) {
    if (h.kind != CONTEXT_FUNCTION || !h.on_stack) fail(d);
    NodeRoot context(read_context_words(d, h), ROOT_BLOCK);
    Cell* spec = stack_push_new(T_NONE);
    block_make_at(spec, 1);
    Cell* more = push_container(series_new_cells(MORE_CELLS));
    block_ks_append(more, &none_cell);
    for (uint32_t i = 1; i < MORE_CELLS; i++) block_ks_append(more, &unset_cell);
    Cell* fn = stack_push_new(T_FUNCTION);
    function_set(fn, context.node, series_node(spec), series_node(more));
    cell_copy(fn, context_owner(context.node));
    return fn;
}

// Reads its spec and the body of a placed function. Its spec must be a block
// at its head whose arguments are the context's words; the body a block.
void function_fill(Decoder& d, Cell* fn, const Slot* slot) {
    Cell* more = push_container(function_more(fn));
    const uint8_t* at = d.pos;
    read_record(d, Slot{more, MORE_ARGS_CACHE, 0});
    Cell* spec = stack_push(block_cells(series_node(more)) + MORE_ARGS_CACHE);
    cell_copy(&unset_cell, block_cells(series_node(more)) + MORE_ARGS_CACHE);
    if (cell_type(spec) != T_BLOCK || series_index(spec) != 0) fail_at(d, at);
    spec->header &= ~CELL_NEWLINE;
    uint32_t flags = function_check_spec(spec);
    Node expected = context_make_from_spec(spec, true, false, CONTEXT_FUNCTION);
    uint32_t count = context_word_count(function_context(fn));
    if (context_word_count(expected) != count) fail_at(d, at);
    for (uint32_t i = 0; i < count; i++)
        if (word_symbol(context_word_at(expected, i)) != word_symbol(context_word_at(function_context(fn), i))) fail_at(d, at);
    function_spec_set(fn, series_node(spec));
    fn->header = (fn->header & ~(FUNCTION_TRACE | FUNCTION_NO_TRACE)) | flags;
    cell_copy(fn, context_owner(function_context(fn)));
    if (slot) place(*slot, fn);
    at = d.pos;
    read_record(d, Slot{more, MORE_BODY, 0});
    Cell* body = block_cells(series_node(more)) + MORE_BODY;
    if (cell_type(body) != T_BLOCK) fail_at(d, at);
    body->header &= ~CELL_NEWLINE;
    stack_pop(2);
}

// A plain context of a record head, held by a word cell pushed on the data
// stack (which keeps it marked).
Cell* plain_context_begin(Decoder& d, const ContextHead& h) {
    if (h.kind != CONTEXT_PLAIN || h.on_stack) fail(d);
    Node context = read_context_words(d, h);
    Cell* holder = stack_push_new(T_WORD);
    word_context_set(holder, context);
    return holder;
}

// The class id of an object record, after which come the slots of its change
// handlers when it has them (object_finish finds those again by name).
uint32_t read_object_head(Decoder& d, bool handlers) {
    uint32_t class_id = uint32_t(read_signed(d));
    if (handlers) {
        read_signed(d);
        read_signed(d);
    }
    return class_id;
}

// The capacities of a function's spec and body: the blocks size themselves.
void read_function_capacities(Decoder& d) {
    read_bounded_count(d, 1);
    read_bounded_count(d, 1);
}

// An object! or function! record with the reference prefix: the object or
// function that owns the context of the cell the path reaches (an op! of a
// function gives that function).
void read_owner_reference(Decoder& d, const Slot& slot, uint8_t type) {
    const uint8_t* at = d.pos;
    Cell* reached = read_path(d);
    Cell owner;
    if (type == T_FUNCTION && cell_type(reached) == T_OP && op_source_type(reached) == T_FUNCTION) {
        owner = *reached;
        owner.header = (owner.header & ~(CELL_TYPE_MASK | (0xFFu << OP_SOURCE_SHIFT))) | T_FUNCTION;
    } else {
        Node context = reached_context(reached);
        if (!context || cell_type(context_owner(context)) != type) fail_at(d, at);
        owner = *context_owner(context);
    }
    owner.header &= ~CELL_NEWLINE;
    place(slot, &owner);
}

void read_object(Decoder& d, const Slot& slot, const RecordHead& head) {
    if (head.reference) {
        read_owner_reference(d, slot, T_OBJECT);
        return;
    }
    bool handlers = d.fixed ? (head.word & KBF_HANDLERS) : head.flag;
    uint32_t class_id = read_object_head(d, handlers);
    ContextHead h = read_context_head(d);
    Cell* object = object_begin(d, h, class_id);
    place(slot, object);
    object_fill(d, object, h, handlers, &slot);
}

void read_function(Decoder& d, const Slot& slot, const RecordHead& head) {
    if (head.reference) {
        read_owner_reference(d, slot, T_FUNCTION);
        return;
    }
    read_function_capacities(d);
    ContextHead h = read_context_head(d);
    Cell* fn = function_begin(d, h);
    place(slot, fn);
    function_fill(d, fn, &slot);
}

// ---- words ---------------------------------------------------------------------------------------------

// A slot index of the record must name a word of the context, or be -1.
void check_word_index(Decoder& d, const uint8_t* at, Node context, int32_t index) {
    if (index != -1 && (index < 0 || uint32_t(index) >= context_word_count(context))) fail_at(d, at);
}

// Value dialect: the word takes the context of a path target, or of an
// object, function or plain context record that follows in place.
void read_bound_word(Decoder& d, const Slot& slot, const RecordHead& head, uint32_t symbol) {
    const uint8_t* at = d.pos;
    int32_t index = read_signed(d);
    Cell word;
    if (head.reference) {
        Cell* reached = read_path(d);
        Node context = reached_context(reached);
        if (!context) fail_at(d, at);
        check_word_index(d, at, context, index);
        word_make_at(&word, head.type, symbol, context, uint32_t(index));
        place(slot, &word);
        stack_pop(1);
        return;
    }
    const uint8_t* lead_at = d.pos;
    uint8_t lead;
    ContextHead h{};
    bool handlers = false;
    uint32_t class_id = 0;
    if (d.fixed) {
        h = read_context_head(d);
        lead = uint8_t(h.kind == CONTEXT_OBJECT ? T_OBJECT : h.kind == CONTEXT_FUNCTION ? T_FUNCTION : T_CONTEXT);
        handlers = lead == T_OBJECT;
    } else {
        need(d, 1);
        lead = *d.pos;  // a plain context record starts with this byte itself
        if (lead != T_CONTEXT) {
            d.pos++;
            if (lead == T_OBJECT || lead == (T_OBJECT | KB_FLAG)) {
                handlers = lead & KB_FLAG;
                class_id = read_object_head(d, handlers);
                lead = T_OBJECT;
            } else if (lead == T_FUNCTION) {
                read_function_capacities(d);
            } else {
                fail_at(d, lead_at);
            }
        }
        h = read_context_head(d);
    }
    Cell* holder;
    if (lead == T_OBJECT) holder = object_begin(d, h, class_id);
    else if (lead == T_FUNCTION) holder = function_begin(d, h);
    else holder = plain_context_begin(d, h);
    check_word_index(d, at, word_context(holder), index);
    word_make_at(&word, head.type, symbol, word_context(holder), uint32_t(index));
    place(slot, &word);
    if (lead == T_OBJECT) object_fill(d, holder, h, handlers, nullptr);
    else if (lead == T_FUNCTION) function_fill(d, holder, nullptr);
    else if (h.values) read_context_values(d, word_context(holder), h.count);
    stack_pop(1);
}

// Global words repeat through a stream: the first word of each table entry
// is interned, later ones copy it. The copy takes the global context's node
// afresh, since the collector may have moved it since.
void global_word_make(Decoder& d, Cell* word, uint32_t symbol, uint32_t entry, uint8_t type) {
    Cell& first = d.global_words[entry];
    if (first.header) {
        *word = first;
        if (word_context(word)) word_context_set(word, global_context);
    } else {
        word_make_global(word, symbol);
        first = *word;
    }
    cell_type_set(word, type);
}

// Boot dialect: a bound word names the holder of its context by its
// position among the cells this decoding appended to the root block.
void read_boot_word(Decoder& d, const Slot& slot, const RecordHead& head, uint32_t symbol, uint32_t entry) {
    const uint8_t* at = d.pos;
    int32_t position, index;
    bool bound;
    if (d.fixed) {
        position = int32_t(read_raw(d));
        index = int32_t(read_raw(d));
        bound = position != -1;
    } else {
        bound = head.flag;
        position = bound ? int32_t(read_varint(d)) : 0;
        index = bound ? read_signed(d) : 0;
    }
    Cell* word = stack_push_new(T_NONE);
    if (!bound) {
        global_word_make(d, word, symbol, entry, head.type);
    } else {
        uint64_t cell = uint64_t(d.base) + uint32_t(position);
        if (position < 0 || cell >= block_length(d.target)) fail_at(d, at);
        Node context = reached_context(block_cells(series_node(d.target)) + cell);
        if (!context) fail_at(d, at);
        if (index == -1) index = context_find_word(context, symbol, true);
        check_word_index(d, at, context, index);
        if (index < 0) fail_at(d, at);
        word_make_at(word, head.type, symbol, context, uint32_t(index));
    }
    place(slot, word);
    if (head.define) {
        // The value that follows is assigned to the word; neither cell stays.
        if (slot.index != block_length(slot.container) - 1) fail_at(d, at);
        read_record(d, Slot{slot.container, slot.index + 1, 0});
        Cell* value = stack_push(block_cells(series_node(slot.container)) + slot.index + 1);
        value->header &= ~CELL_NEWLINE;
        Node context = word_context(word) ? word_context(word) : global_context;
        context_set_value(word, value, context, false);
        block_ks_tail_at(slot.container, slot.index);
        stack_pop(1);
    }
    stack_pop(1);
}

// Boot code is mostly words bound to the global context alone, each name
// met many times: a compact unbound word, neither defined nor a reference,
// whose table entry already made its global word is a copy of that word.
bool boot_global_word_q(const Decoder& d, const RecordHead& head) {
    return !d.codec && !head.flag && !head.reference && !head.define && head.type >= T_WORD &&
           head.type <= T_REFINEMENT;
}

void read_boot_global_word(Decoder& d, const Slot& slot, const RecordHead& head) {
    uint32_t entry;
    uint32_t symbol = read_symbol(d, &entry);
    const Cell& first = d.global_words[entry];
    if (!first.header) {
        read_boot_word(d, slot, head, symbol, entry);
        return;
    }
    // The copy takes the global context's current node and is placed before
    // anything allocates (place roots it should the container grow), so a
    // local cell serves where the general path holds the word on the stack.
    Cell word = first;
    if (word_context(&word)) word_context_set(&word, global_context);
    cell_type_set(&word, head.type);
    place(slot, &word);
}

void read_word(Decoder& d, const Slot& slot, const RecordHead& head) {
    uint32_t entry;
    uint32_t symbol = read_symbol(d, &entry);
    if (head.type == T_ISSUE) {
        Cell issue;
        word_make_at(&issue, T_ISSUE, symbol, global_context, WORD_UNBOUND);
        place(slot, &issue);
        return;
    }
    if (!d.codec) {
        read_boot_word(d, slot, head, symbol, entry);
        return;
    }
    bool bound = d.fixed ? (head.reference || !(head.word & KBF_DEFINE)) : head.flag;
    if (!bound) {
        if (d.fixed) read_raw(d);  // the slot index, found again by the symbol
        Cell* word = stack_push_new(T_NONE);
        global_word_make(d, word, symbol, entry, head.type);
        place(slot, word);
        stack_pop(1);
        return;
    }
    read_bound_word(d, slot, head, symbol);
}

// ---- series -------------------------------------------------------------------------------------------

bool string_type_q(uint8_t type) {
    return type == T_STRING || type == T_FILE || type == T_URL || type == T_TAG || type == T_EMAIL ||
           type == T_REF;
}

// Whether a series record of the type may share the series of a reached value.
bool reference_compatible(uint8_t type, const Cell* reached) {
    uint8_t r = cell_type(reached);
    if (type == T_HASH) return r == T_HASH;
    if (block_family_q(type)) {
        if (r == T_OP) return op_source_type(reached) == T_NATIVE || op_source_type(reached) == T_ACTION;
        return (block_family_q(r) && r != T_HASH) || r == T_NATIVE || r == T_ACTION;
    }
    if (string_type_q(type)) return string_type_q(r);
    return r == type;
}

// The head index of a series record (compact: only when flagged).
uint32_t read_head(Decoder& d, const RecordHead& head) {
    if (d.fixed) return read_count(d);
    return head.flag ? read_count(d) : 0;
}

// A series record with the reference prefix: the cell shares the series of
// the value its path reaches.
void read_series_reference(Decoder& d, const Slot& slot, const RecordHead& head, bool has_head) {
    uint32_t index = has_head ? read_head(d, head) : 0;
    const uint8_t* at = d.pos;
    Cell* reached = read_path(d);
    if (!reference_compatible(head.type, reached)) fail_at(d, at);
    Cell cell = *reached;
    cell.header = (reached->header & ~(CELL_TYPE_MASK | CELL_NEWLINE)) | head.type;
    if (block_family_q(head.type) && head.type != T_HASH) series_extra_set(&cell, 0);
    if (string_type_q(head.type)) series_extra_set(&cell, 0);
    if (cell_type(reached) == T_OP || cell_type(reached) == T_NATIVE || cell_type(reached) == T_ACTION)
        cell.header = head.type;
    if (has_head) {
        uint32_t length = series_buffer_of(&cell)->length();
        series_index_set(&cell, int32_t(index < length ? index : length));
    }
    place(slot, &cell);
    stack_pop(1);
}

void read_block(Decoder& d, const Slot& slot, const RecordHead& head) {
    uint32_t index = read_head(d, head);
    uint32_t count = read_bounded_count(d, d.fixed ? 4 : 1);
    Cell* block = stack_push_new(T_NONE);
    block_make_at(block, int32_t(count));
    cell_type_set(block, head.type == T_HASH ? uint8_t(T_BLOCK) : head.type);
    if (head.type != T_HASH) series_buffer_of(block)->flags |= d.code_flags;
    place(slot, block);
    for (uint32_t i = 0; i < count; i++) read_record(d, Slot{block, i, 0});
    if (head.type == T_HASH) hash_make_in_place(block);  // indexes every cell
    series_index_set(block, int32_t(index < count ? index : count));
    if (uint32_t(series_index(block)) || head.type == T_HASH) place(slot, block);
    stack_pop(1);
}

void read_map(Decoder& d, const Slot& slot) {
    const uint8_t* at = d.pos;
    uint32_t count = read_bounded_count(d, d.fixed ? 4 : 1);
    if (count & 1) fail_at(d, at);
    Cell* storage = stack_push_new(T_NONE);
    block_make_at(storage, int32_t(count));
    place(slot, storage);  // a block while its cells are read, so paths reach them
    for (uint32_t i = 0; i < count; i++) read_record(d, Slot{storage, i, 0});
    Cell* map = stack_push_new(T_NONE);
    map_make_at(map, storage, count / 2);
    place(slot, map);
    stack_pop(2);
}

// The code units of a string: Latin-1, UCS-2 or UCS-4 as stored.
void read_string(Decoder& d, const Slot& slot, const RecordHead& head) {
    uint32_t index = read_head(d, head);
    const uint8_t* at = d.pos;
    uint32_t length, unit;
    if (d.fixed) {
        unit = (head.word >> KBF_UNIT_SHIFT) & 0xFF;
        length = read_count(d);
        if (unit != 1 && unit != 2 && unit != 4) fail_at(d, at);
    } else {
        uint32_t v = read_count(d);
        if ((v & 3) == 3) fail_at(d, at);
        unit = 1u << (v & 3);
        length = v >> 2;
    }
    if (bytes_left(d) / unit < length) fail_at(d, at);
    size_t bytes = size_t(length) * unit;
    if (unit == 4) {
        for (size_t i = 0; i < bytes; i += 4) {
            uint32_t c;
            std::memcpy(&c, d.pos + i, 4);
            if (c > 0x10FFFF) fail_at(d, d.pos + i);
        }
    }
    Node node = series_new_units(length, unit);
    SeriesBuffer* b = series_buffer(node);
    std::memcpy(b->head_ptr(), d.pos, bytes);
    b->tail = b->head + uint32_t(bytes);
    d.pos += bytes;
    if (d.fixed) skip_padding(d, bytes);
    Cell cell;
    series_make_at(&cell, head.type, node, int32_t(index < length ? index : length));
    place(slot, &cell);
}

void read_binary(Decoder& d, const Slot& slot, const RecordHead& head) {
    uint32_t index = read_head(d, head);
    uint32_t length = read_bounded_count(d, 1);
    Node node = series_new_bytes(length);
    SeriesBuffer* b = series_buffer(node);
    std::memcpy(b->head_ptr(), d.pos, length);
    b->tail = b->head + length;
    d.pos += length;
    if (d.fixed) skip_padding(d, length);
    Cell cell;
    series_make_at(&cell, T_BINARY, node, int32_t(index < length ? index : length));
    place(slot, &cell);
}

// Item sizes a vector of the item type may have.
bool vector_unit_valid(uint8_t item, uint32_t unit) {
    if (item == T_CHAR || item == T_INTEGER) return unit == 1 || unit == 2 || unit == 4;
    if (item == T_FLOAT) return unit == 4 || unit == 8;
    if (item == T_PERCENT) return unit == 8;
    return false;
}

void read_vector(Decoder& d, const Slot& slot, const RecordHead& head) {
    uint32_t index = read_head(d, head);
    const uint8_t* at = d.pos;
    uint32_t unit, count;
    uint8_t item;
    if (d.fixed) {
        unit = (head.word >> KBF_UNIT_SHIFT) & 0xFF;
        count = read_count(d);
        uint32_t t = read_raw(d);
        item = t < 256 ? uint8_t(t) : 0;
    } else {
        uint8_t b = read_byte(d);
        item = b >> 2;
        unit = 1u << (b & 3);
        count = read_count(d);
    }
    if (!vector_unit_valid(item, unit) || bytes_left(d) / unit < count) fail_at(d, at);
    size_t bytes = size_t(count) * unit;
    Cell* vector = stack_push_new(T_NONE);
    vector_make_at(vector, count, item, unit);
    SeriesBuffer* b = series_buffer_of(vector);
    std::memcpy(b->head_ptr(), d.pos, bytes);
    b->tail = b->head + uint32_t(bytes);
    d.pos += bytes;
    if (d.fixed) skip_padding(d, bytes);
    series_index_set(vector, int32_t(index < count ? index : count));
    place(slot, vector);
    stack_pop(1);
}

void read_bitset(Decoder& d, const Slot& slot, const RecordHead& head) {
    bool complement = d.fixed ? (head.word & KBF_BITSET_COMPLEMENT) : head.flag;
    uint32_t length = read_bounded_count(d, 1);
    Cell* bitset = stack_push_new(T_NONE);
    bitset_make_at(bitset, length);
    SeriesBuffer* b = series_buffer_of(bitset);
    std::memcpy(b->head_ptr(), d.pos, length);
    if (complement) b->flags |= SERIES_NEGATED;
    d.pos += length;
    if (d.fixed) skip_padding(d, length);
    place(slot, bitset);
    stack_pop(1);
}

// The size (each side at most 65535), then width x height pixel words that
// must all be there.
void read_image(Decoder& d, const Slot& slot, const RecordHead& head) {
    uint32_t index = read_head(d, head);
    const uint8_t* at = d.pos;
    uint32_t width, height;
    if (d.fixed) {
        uint32_t size = read_raw(d);
        width = size & 0xFFFF;
        height = size >> 16;
    } else {
        width = read_number(d);
        height = read_number(d);
    }
    if (width > IMAGE_SIDE_MAX || height > IMAGE_SIDE_MAX) fail_at(d, at);
    size_t bytes = size_t(width) * height * 4;
    if (bytes_left(d) < bytes) fail(d);
    Cell* image = image_push(width, height);
    if (bytes) std::memcpy(image_pixels(image), d.pos, bytes);
    d.pos += bytes;
    uint32_t count = width * height;
    series_index_set(image, int32_t(index < count ? index : count));
    place(slot, image);
    stack_pop(1);
}

// ---- scalars ------------------------------------------------------------------------------------------

// A double: compact integer form or raw halves (low first); fixed: aligned,
// high half first.
double read_double(Decoder& d, const RecordHead& head, bool percent) {
    if (d.fixed) {
        if ((d.pos - d.records) & 7) {
            need(d, 4);
            d.pos += 4;
        }
        uint32_t high = read_raw(d);
        uint32_t low = read_raw(d);
        return std::bit_cast<double>(uint64_t(high) << 32 | low);
    }
    if (head.flag) {
        int32_t k = read_signed(d);
        return percent ? double(k) / 100.0 : double(k);
    }
    uint32_t low = read_raw(d);
    uint32_t high = read_raw(d);
    return std::bit_cast<double>(uint64_t(high) << 32 | low);
}

void read_date(Decoder& d, const Slot& slot, const RecordHead& head) {
    const uint8_t* at = d.pos;
    uint32_t packed = read_raw(d);
    int32_t month = date_month(packed), day = date_day(packed);
    if (month < 1 || month > 12 || day < 1 || day > 31) fail_at(d, at);
    Cell cell;
    cell_init(&cell, T_DATE);
    cell.w1 = packed;
    if (d.fixed) {
        uint32_t high = read_raw(d);
        uint32_t low = read_raw(d);
        cell.w2 = low;
        cell.w3 = high;
        if (!date_has_time(packed) && (low || high)) fail_at(d, at);
    } else {
        if (date_has_time(packed) != head.flag) fail_at(d, at);
        if (head.flag) {
            cell.w2 = read_raw(d);
            cell.w3 = read_raw(d);
        }
    }
    place(slot, &cell);
}

void read_money(Decoder& d, const Slot& slot, const RecordHead& head) {
    const uint8_t* at = d.pos;
    need(d, 12);
    uint8_t bytes[12];
    std::memcpy(bytes, d.pos, 12);
    d.pos += 12;
    if (bytes[0] > money_currency_count()) fail_at(d, at);
    for (int i = 1; i < 12; i++)
        if ((bytes[i] >> 4) > 9 || (bytes[i] & 15) > 9) fail_at(d, at);
    bool negative = d.fixed ? (head.word & KBF_MONEY_NEGATIVE) : head.flag;
    Cell cell;
    money_init(&cell, negative, bytes[0], bytes + 1);
    place(slot, &cell);
}

void read_tuple(Decoder& d, const Slot& slot, const RecordHead& head) {
    const uint8_t* at = d.pos;
    uint32_t count;
    uint8_t bytes[12] = {};
    if (d.fixed) {
        count = (head.word >> KBF_UNIT_SHIFT) & 0xFF;
        need(d, 12);
        std::memcpy(bytes, d.pos, 12);
        d.pos += 12;
    } else {
        count = head.flag ? read_byte(d) : 3;
        if (count <= TUPLE_MAX_BYTES) {
            need(d, count);
            std::memcpy(bytes, d.pos, count);
            d.pos += count;
        }
    }
    if (count < TUPLE_MIN_BYTES || count > TUPLE_MAX_BYTES) fail_at(d, at);
    std::memset(bytes + count, 0, 12 - count);
    uint32_t w[3];
    std::memcpy(w, bytes, 12);
    Cell cell;
    cell_init(&cell, T_TUPLE);
    tuple_init(&cell, count, w[0], w[1], w[2]);
    place(slot, &cell);
}

void read_typeset(Decoder& d, const Slot& slot) {
    const uint8_t* at = d.pos;
    uint8_t bytes[12] = {};
    uint32_t n = d.fixed ? 12 : read_byte(d);
    if (n > 12) fail_at(d, at);
    need(d, n);
    std::memcpy(bytes, d.pos, n);
    d.pos += n;
    Cell cell;
    cell_init(&cell, T_TYPESET);
    std::memcpy(cell_payload(&cell), bytes, 12);
    place(slot, &cell);
}

// ---- callables and errors ---------------------------------------------------------------------------

// A native! or action! of the running system by its table index: codec mode
// takes the global value of that index (so a decoded spec can never disagree
// with the entry it calls); boot mode builds it from the decoded spec.
void read_native(Decoder& d, const Slot& slot, const RecordHead& head) {
    const uint8_t* at = d.pos;
    uint32_t index = read_count(d);
    bool valid = head.type == T_NATIVE ? native_entry(index) != nullptr
                                       : index >= 1 && index <= ACTIONS_TABLE_SLOTS;
    if (!valid) fail_at(d, at);
    const uint8_t* spec_at = d.pos;
    if (d.codec) {
        Cell* temp = stack_push_new(T_NONE);
        block_make_at(temp, 1);
        read_record(d, Slot{temp, 0, 0});
        if (cell_type(block_cells(series_node(temp))) != T_BLOCK) fail_at(d, spec_at);
        Node values = context_value_block(global_context);
        uint32_t n = series_buffer(values)->length();
        const Cell* found = nullptr;
        for (uint32_t i = 0; i < n && !found; i++) {
            const Cell* c = block_cells(values) + i;
            if (cell_type(c) == head.type && function_index(c) == index) found = c;
        }
        if (!found) fail_at(d, at);
        Cell cell = *found;
        cell.header &= ~CELL_NEWLINE;
        place(slot, &cell);
        stack_pop(1);
        return;
    }
    if (slot.index != block_length(slot.container)) fail_at(d, at);
    Cell* native = stack_push_new(T_NONE);
    place(slot, native);
    read_record(d, Slot{slot.container, slot.index + 1, 0});
    Cell* spec = stack_push(block_cells(series_node(slot.container)) + slot.index + 1);
    if (cell_type(spec) != T_BLOCK) fail_at(d, spec_at);
    native_make_at(native, spec, index, head.type);
    place(slot, native);
    stack_pop(2);
}

void read_op(Decoder& d, const Slot& slot) {
    const uint8_t* at = d.pos;
    read_record(d, slot);
    Cell* inner = stack_push(slot_cell(slot));
    uint8_t type = cell_type(inner);
    if (type != T_NATIVE && type != T_ACTION && type != T_FUNCTION) fail_at(d, at);
    inner->header &= ~CELL_NEWLINE;
    Cell* op = stack_push_new(T_NONE);
    op_make(op, inner, T_OP);
    place(Slot{slot.container, slot.index, slot.flags}, op);
    stack_pop(2);
}

void read_error(Decoder& d, const Slot& slot) {
    const uint8_t* at = d.pos;
    uint32_t code = read_count(d);
    uint32_t category = code / 100, id = code % 100;
    if (category >= uint32_t(ERROR_CATEGORY_COUNT) ||
        !error_catalog_id(ErrorCategory(category), int(id)))
        fail_at(d, at);
    Cell* error = error_push(ErrorCategory(category), uint16_t(id));
    place(slot, error);
    Cell* values = push_container(context_value_block(object_context(error)));
    for (uint32_t i = 0; i < 6; i++) read_record(d, Slot{values, ERROR_ARG1 + i, 0});
    stack_pop(2);
}

// ---- records -----------------------------------------------------------------------------------------------

void read_typed(Decoder& d, const Slot& slot, const RecordHead& head) {
    uint8_t type = head.type;
    Cell cell;
    if (head.define && !(type >= T_WORD && type <= T_ISSUE)) fail(d);
    switch (type) {
    case T_ROUTINE: case T_TRIPLE: case T_HANDLE: case T_PORT: case T_EVENT:
        no_codec(type);
    default: break;
    }
    // Only values that hold a series or a context can be references.
    if (head.reference) {
        bool holds_context = type == T_OBJECT || type == T_FUNCTION || (type >= T_WORD && type <= T_REFINEMENT);
        bool holds_series = block_family_q(type) || string_type_q(type) || type == T_BINARY ||
                            type == T_VECTOR || type == T_BITSET || type == T_MAP || type == T_IMAGE;
        if (!holds_context && !holds_series) fail(d);
        if (holds_series) {
            bool has_head = type != T_BITSET && type != T_MAP;
            read_series_reference(d, slot, head, has_head);
            return;
        }
    }
    switch (type) {
    case T_UNSET: case T_NONE:
        cell_init(&cell, type);
        break;
    case T_LOGIC: {
        if (!d.fixed) fail(d);
        const uint8_t* at = d.pos;
        uint32_t v = read_raw(d);
        if (v > 1) fail_at(d, at);
        logic_make_at(&cell, v == 1);
        break;
    }
    case T_DATATYPE: {
        const uint8_t* at = d.pos;
        uint32_t id = read_number(d);
        if (id == 0 || id > datatype_highest_id() || !datatype_name(uint8_t(id))->name) fail_at(d, at);
        datatype_make_at(&cell, uint8_t(id));
        break;
    }
    case T_CHAR: {
        const uint8_t* at = d.pos;
        uint32_t c = read_number(d);
        if (c > uint32_t(CHAR_MAX_CODEPOINT)) fail_at(d, at);
        cell_init(&cell, T_CHAR);
        cell_set_int(&cell, int32_t(c));
        break;
    }
    case T_INTEGER:
        cell_init(&cell, T_INTEGER);
        integer_make_at(&cell, read_signed(d));
        break;
    case T_PAIR: {
        cell_init(&cell, T_PAIR);
        int32_t x = read_signed(d);
        pair_set(&cell, x, read_signed(d));
        break;
    }
    case T_POINT2D: case T_POINT3D:
        cell_init(&cell, type);
        cell.w1 = read_raw(d);
        cell.w2 = read_raw(d);
        if (type == T_POINT3D) cell.w3 = read_raw(d);
        break;
    case T_FLOAT: case T_PERCENT: case T_TIME:
        cell_init(&cell, type);
        cell_set_double(&cell, read_double(d, head, type == T_PERCENT));
        break;
    case T_DATE: read_date(d, slot, head); return;
    case T_TYPESET: read_typeset(d, slot); return;
    case T_TUPLE: read_tuple(d, slot, head); return;
    case T_MONEY: read_money(d, slot, head); return;
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
        read_word(d, slot, head);
        return;
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_HASH:
        read_block(d, slot, head);
        return;
    case T_MAP: read_map(d, slot); return;
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        read_string(d, slot, head);
        return;
    case T_BINARY: read_binary(d, slot, head); return;
    case T_VECTOR: read_vector(d, slot, head); return;
    case T_BITSET: read_bitset(d, slot, head); return;
    case T_IMAGE: read_image(d, slot, head); return;
    case T_CONTEXT: {
        if (!d.fixed) d.pos--;  // the context record starts with its lead byte
        ContextHead h = read_context_head(d);
        Cell* holder = plain_context_begin(d, h);
        Cell context = *context_cell(word_context(holder));
        context.header &= ~CELL_NEWLINE;
        place(slot, &context);
        if (h.values) read_context_values(d, word_context(holder), h.count);
        return;
    }
    case T_OBJECT: read_object(d, slot, head); return;
    case T_FUNCTION: read_function(d, slot, head); return;
    case T_NATIVE: case T_ACTION: read_native(d, slot, head); return;
    case T_OP: read_op(d, slot); return;
    case T_ERROR: read_error(d, slot); return;
    default:
        fail(d);  // symbol!, series! and unknown ids
    }
    place(slot, &cell);
}

RecordHead read_compact_head(Decoder& d, uint8_t* lead) {
    RecordHead head{};
    for (;;) {
        const uint8_t* at = d.pos;
        uint8_t b = read_byte(d);
        if (b == KB_PREFIX_NEWLINE) {
            head.word |= CELL_NEWLINE;  // carried to the slot by the caller
        } else if (b == KB_PREFIX_REFERENCE) {
            head.reference = true;
        } else if (b == KB_PREFIX_DEFINE) {
            if (d.codec) fail_at(d, at);
            head.define = true;
        } else {
            *lead = b;
            break;
        }
    }
    return head;
}

void read_compact_record(Decoder& d, Slot slot) {
    uint8_t lead = 0;
    RecordHead head = read_compact_head(d, &lead);
    const uint8_t* at = d.pos - 1;
    slot.flags = head.word & CELL_NEWLINE;
    head.word = 0;
    if (lead >= 0x80) {
        if (head.reference || head.define) fail_at(d, at);
        Cell cell;
        if (lead < 0xC0) {
            cell_init(&cell, T_INTEGER);
            integer_make_at(&cell, lead & 0x3F);
        } else if (lead == KB_TRUE || lead == KB_FALSE) {
            logic_make_at(&cell, lead == KB_TRUE);
        } else if (lead == KB_PATH_COPY) {
            Cell* reached = read_path(d);
            cell = *reached;
            stack_pop(1);
        } else {
            fail_at(d, at);
        }
        place(slot, &cell);
        return;
    }
    head.flag = lead & KB_FLAG;
    uint32_t type = lead & KB_TYPE_MASK;
    if (type == KB_TYPE_EXTENDED) type = read_varint(d);
    if (type == 0 || type > 255) fail_at(d, at);
    head.type = uint8_t(type);
    if (boot_global_word_q(d, head)) read_boot_global_word(d, slot, head);
    else read_typed(d, slot, head);
}

void read_fixed_record(Decoder& d, Slot slot) {
    uint32_t word;
    const uint8_t* at;
    do {
        at = d.pos;
        word = read_raw(d);
    } while (word == 0 && d.pos < d.limit);
    if (word == 0) return;  // padding at the end of the records
    RecordHead head{};
    head.word = word;
    head.type = uint8_t(word & 0xFF);
    head.reference = word & KBF_REFERENCE;
    head.define = !d.codec && (word & KBF_DEFINE) && head.type >= T_WORD && head.type <= T_ISSUE;
    slot.flags = (word & KBF_NEWLINE) ? CELL_NEWLINE : 0;
    if (head.type == 0) fail_at(d, at);
    read_typed(d, slot, head);
}

void read_record(Decoder& d, const Slot& slot) {
    native_stack_check();
    if (++d.depth > KELBIN_DEPTH_MAX) error_raise(ERR_TOO_DEEP);
    Cell* top = data_stack.top;
    if (d.fixed) read_fixed_record(d, slot);
    else read_compact_record(d, slot);
    data_stack.top = top;
    d.depth--;
}

// ---- the body ----------------------------------------------------------------------------------------------

// Reads the counts and the symbol table; leaves the position at the records.
void read_body_header(Decoder& d, bool symbols) {
    if (d.fixed && bytes_left(d) < 8) error_raise(ERR_INVALID_DATA);
    read_number(d);  // the root count: not used
    const uint8_t* at = d.pos;
    uint32_t records = read_number(d);
    if (int32_t(records) < 0) fail_at(d, at);
    d.symbols_present = symbols;
    if (symbols) {
        at = d.pos;
        uint32_t count = read_number(d);
        uint32_t names = read_number(d);
        if (int32_t(count) < 0 || int32_t(names) < 0) fail_at(d, at);
        if (d.limit) {
            size_t left = bytes_left(d);
            if (count > left / 4 || names > left - size_t(count) * 4) fail_at(d, at);
        }
        d.offsets = d.pos;
        d.names = d.pos + size_t(count) * 4;
        if (names && d.names[names - 1] != 0) fail_at(d, d.names + names - 1);
        d.symbol_total = count;
        d.names_size = names;
        d.symbol_ids.assign(count, 0);
        d.global_words.assign(count, Cell{});
        d.pos = d.names + names;
    }
    if (bytes_left(d) < records) fail(d);
    d.records = d.pos;
    d.limit = d.pos + records;
}

} // namespace

uint32_t kelbin_decode(const uint8_t* data, Cell* target, bool codec, int64_t length, uint32_t code_flags) {
    auto bad_header = [codec](const char* line) {
        if (codec) error_raise(ERR_INVALID_DATA);
        stdout_write_units(line, std::strlen(line), 1, true);
        std::exit(0);
    };
    if ((length >= 0 && length < KELBIN_PREFIX_SIZE) ||
        std::memcmp(data, KELBIN_MAGIC, KELBIN_MAGIC_SIZE) != 0)
        bad_header("Error: Not a Kelbin file!");

    Decoder d{};
    d.codec = codec;
    d.code_flags = code_flags;
    // Codec input is copied: the binary it lies in may move while values are made.
    std::vector<uint8_t> copy;
    if (codec && length >= 0) {
        copy.assign(data, data + length);
        data = copy.data();
    }
    uint8_t flags = data[7];
    d.fixed = !(flags & KELBIN_COMPACT);
    d.origin = data;
    d.origin_offset = 0;
    d.pos = data + KELBIN_PREFIX_SIZE;
    d.limit = length >= 0 ? data + length : nullptr;

    uint8_t* unpacked = nullptr;
    struct Release {
        uint8_t** buffer;
        ~Release() { if (*buffer) heap_free(*buffer); }
    } release{&unpacked};
    if (flags & KELBIN_COMPRESSED) {
        // Offsets inside the unpacked body count as if it followed the prefix.
        uint32_t packed = d.limit ? uint32_t(d.limit - d.pos) : UINT32_MAX;
        uint32_t size = 0;
        unpacked = lz_decompress(d.pos, packed, &size);
        if (!unpacked) bad_header("Error: Kelbin compressed data corrupted!");
        d.origin = unpacked;
        d.origin_offset = KELBIN_PREFIX_SIZE;
        d.pos = unpacked;
        d.limit = unpacked + size;
    }

    kelbin_codec_q = codec;
    d.target = target;
    d.base = block_length(target);
    read_body_header(d, flags & KELBIN_SYMBOLS);
    while (d.pos < d.limit) read_record(d, Slot{target, block_length(target), 0});
    return d.base;
}

uint32_t kelbin_boot_load(const uint8_t* data, bool keep) {
    bool enabled = collector.enabled;
    collector.enabled = false;
    uint32_t saved = kelbin_first_new;
    uint32_t first;
    try {
        first = kelbin_decode(data, &root_cell, false, -1);
    } catch (...) {
        collector.enabled = enabled;
        throw;
    }
    collector.enabled = enabled;
    kelbin_first_new = keep ? saved : first;
    return first;
}

} // namespace kel
