// The Kelbin encoder (both variants).
//
// Bookkeeping of one encoding: the records, the symbol table in order of
// first use, and the registry that maps each series or context node already
// written to the path of the value that carried it. The path of the value
// being written is the position of each container entered on the way down
// from the root, followed by the current counter. Paths are kept as a tree:
// each container entered is one entry holding its position and the entry it
// was entered from, so entering costs the same at any depth and a path is
// spelled out only when a reference writes it.
#include "io/kelbin/encoder.hpp"
#include "core/block.hpp"

#include "core/context.hpp"
#include "core/error.hpp"
#include "core/error_value.hpp"
#include "core/function.hpp"
#include "core/logic.hpp"
#include "core/object.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/date.hpp"
#include "datatypes/image.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/vector.hpp"
#include "io/kelbin/decoder.hpp"
#include "io/kelbin/format.hpp"
#include "runtime/native_guard.hpp"

#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace kel {

namespace {

// The entry of no container: the root's parent.
constexpr uint32_t NO_ENTRY = UINT32_MAX;

// One container entered: its position in the container it was entered from
// (parent, NO_ENTRY at the root), and whether it is a map still being written.
struct PathEntry {
    uint32_t parent;
    uint32_t index;
    bool open_map;
};

struct Encoder {
    bool fixed;
    std::vector<uint8_t> records;
    std::vector<uint32_t> symbols;       // symbol ids in table order
    std::unordered_map<uint32_t, uint32_t> symbol_entries;  // symbol id -> its index in symbols
    std::vector<uint32_t> name_offsets;  // byte offset of each name in names
    std::string names;                   // NUL-terminated names (fixed: padded to 8)
    std::vector<PathEntry> entries;      // every container entered, in order
    std::unordered_map<Node, uint32_t> registry;  // node -> the entry it was first written at
    std::vector<uint32_t> open;          // entries of the containers being written, innermost last
    std::vector<uint32_t> path;          // scratch for spelling out a path
    uint32_t counter = 0;                // position of the next value in its container
    uint32_t depth = 0;                  // values being written, one inside the other
};

// ---- primitive writers ---------------------------------------------------------------------------

void put_byte(Encoder& e, uint8_t b) { e.records.push_back(b); }

void put_bytes(Encoder& e, const void* bytes, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    e.records.insert(e.records.end(), p, p + n);
}

void put_raw_to(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}
void put_raw(Encoder& e, uint32_t v) { put_raw_to(e.records, v); }

void put_varint_to(std::vector<uint8_t>& out, uint32_t v) {
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
}
void put_varint(Encoder& e, uint32_t v) { put_varint_to(e.records, v); }

// A number of the variant: varint or word.
void put_number(Encoder& e, uint32_t v) {
    if (e.fixed) put_raw(e, v);
    else put_varint(e, v);
}
// A signed number: zigzag or word.
void put_signed(Encoder& e, int32_t n) {
    if (e.fixed) put_raw(e, uint32_t(n));
    else put_varint(e, (uint32_t(n) << 1) ^ uint32_t(n >> 31));
}

// Compact lead byte of a typed record.
void put_lead(Encoder& e, uint8_t type, bool flag) {
    uint8_t f = flag ? KB_FLAG : 0;
    if (type < KB_TYPE_EXTENDED) {
        put_byte(e, type | f);
    } else {
        put_byte(e, KB_TYPE_EXTENDED | f);
        put_varint(e, type);
    }
}

// Pads the fixed variant's records to a 4-byte boundary.
void put_padding(Encoder& e) {
    while (e.records.size() & 3) put_byte(e, 0);
}

// The table index of a symbol, appended at its first use.
uint32_t symbol_index(Encoder& e, uint32_t symbol) {
    auto [it, added] = e.symbol_entries.emplace(symbol, uint32_t(e.symbols.size()));
    if (!added) return it->second;
    e.symbols.push_back(symbol);
    e.name_offsets.push_back(uint32_t(e.names.size()));
    uint32_t length;
    const uint8_t* name = symbol_name(symbol, &length);
    e.names.append(reinterpret_cast<const char*>(name), length);
    e.names.push_back('\0');
    if (e.fixed)
        while (e.names.size() % KBF_NAME_ALIGN) e.names.push_back('\0');
    return uint32_t(e.symbols.size() - 1);
}

[[noreturn]] void no_codec(const Cell* value) {
    Cell v = *value;
    v.header &= ~CELL_NEWLINE;
    error_raise(ERR_NO_CODEC, &v);
}

// ---- paths ----------------------------------------------------------------------------------------

// Registers a node under the current path (unless it has one already) and
// enters it; returns its entry.
uint32_t enter(Encoder& e, Node node) {
    uint32_t entry = uint32_t(e.entries.size());
    e.entries.push_back(PathEntry{e.open.empty() ? NO_ENTRY : e.open.back(), e.counter, false});
    e.registry.emplace(node, entry);
    e.open.push_back(entry);
    e.counter = 0;
    return entry;
}

void leave(Encoder& e) {
    e.counter = e.entries[e.open.back()].index;
    e.open.pop_back();
}

// The path of an entry: the positions from the root down to it.
void put_path(Encoder& e, uint32_t entry) {
    e.path.clear();
    for (uint32_t at = entry; at != NO_ENTRY; at = e.entries[at].parent) e.path.push_back(e.entries[at].index);
    if (e.fixed) put_raw(e, KBF_PATH_MARK);
    put_number(e, uint32_t(e.path.size()));
    for (auto it = e.path.rbegin(); it != e.path.rend(); ++it) put_number(e, *it);
}

// The entry a node was first written at, or NO_ENTRY.
uint32_t registered(Encoder& e, Node node) {
    auto it = e.registry.find(node);
    return it == e.registry.end() ? NO_ENTRY : it->second;
}

void write_value(Encoder& e, const Cell* value);

// ---- scalars ------------------------------------------------------------------------------------------

// Whether a double takes the compact integer form, and that integer.
bool float_integer_form(double x, bool percent, int32_t* k) {
    if (x == 0.0 && std::signbit(x)) return false;
    if (std::isnan(x)) return false;
    if (percent) {
        if (std::fabs(x) > KB_PERCENT_INT_LIMIT) return false;
        double scaled = x * 100.0;
        int32_t n = int32_t(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
        if (double(n) / 100.0 != x) return false;
        *k = n;
        return true;
    }
    if (std::fabs(x) > KB_FLOAT_INT_LIMIT) return false;
    int32_t n = int32_t(x);
    if (double(n) != x) return false;
    *k = n;
    return true;
}

void write_double(Encoder& e, const Cell* value, uint32_t header) {
    uint8_t type = cell_type(value);
    if (e.fixed) {
        put_raw(e, header);
        if (e.records.size() & 7) put_raw(e, 0);
        put_raw(e, cell_double_high(value));
        put_raw(e, cell_double_low(value));
        return;
    }
    int32_t k;
    if (float_integer_form(cell_double(value), type == T_PERCENT, &k)) {
        put_lead(e, type, true);
        put_signed(e, k);
    } else {
        put_lead(e, type, false);
        put_raw(e, cell_double_low(value));
        put_raw(e, cell_double_high(value));
    }
}

// Writes a scalar record; false when the type is no scalar.
bool write_scalar(Encoder& e, const Cell* value, uint32_t header) {
    uint8_t type = cell_type(value);
    switch (type) {
    case T_UNSET: case T_NONE:
        if (e.fixed) put_raw(e, header);
        else put_lead(e, type, false);
        return true;
    case T_LOGIC:
        if (e.fixed) {
            put_raw(e, header);
            put_raw(e, logic_get(value) ? 1 : 0);
        } else {
            put_byte(e, logic_get(value) ? KB_TRUE : KB_FALSE);
        }
        return true;
    case T_INTEGER: {
        int32_t n = cell_int(value);
        if (e.fixed) {
            put_raw(e, header);
            put_raw(e, uint32_t(n));
        } else if (n >= 0 && n < 64) {
            put_byte(e, uint8_t(KB_SMALL_INTEGER + n));
        } else {
            put_lead(e, type, false);
            put_signed(e, n);
        }
        return true;
    }
    case T_CHAR: case T_DATATYPE:
        if (e.fixed) put_raw(e, header);
        else put_lead(e, type, false);
        put_number(e, type == T_CHAR ? uint32_t(cell_int(value)) : datatype_id(value));
        return true;
    case T_PAIR:
        if (e.fixed) put_raw(e, header);
        else put_lead(e, type, false);
        put_signed(e, pair_x(value));
        put_signed(e, pair_y(value));
        return true;
    case T_POINT2D: case T_POINT3D:
        if (e.fixed) put_raw(e, header);
        else put_lead(e, type, false);
        put_raw(e, point_coord_bits(value, 0));
        put_raw(e, point_coord_bits(value, 1));
        if (type == T_POINT3D) put_raw(e, point_coord_bits(value, 2));
        return true;
    case T_FLOAT: case T_PERCENT: case T_TIME:
        write_double(e, value, header);
        return true;
    case T_DATE: {
        uint32_t packed = date_packed(value);
        bool time = date_has_time(packed);
        if (e.fixed) {
            put_raw(e, header);
            put_raw(e, packed);
            put_raw(e, time ? cell_double_high(value) : 0);
            put_raw(e, time ? cell_double_low(value) : 0);
        } else {
            put_lead(e, type, time);
            put_raw(e, packed);
            if (time) {
                put_raw(e, cell_double_low(value));
                put_raw(e, cell_double_high(value));
            }
        }
        return true;
    }
    case T_TYPESET: {
        uint8_t bytes[12];
        std::memcpy(bytes, cell_payload(value), 12);
        if (e.fixed) {
            put_raw(e, header);
            put_bytes(e, bytes, 12);
        } else {
            uint8_t n = 12;
            while (n && !bytes[n - 1]) n--;
            put_lead(e, type, false);
            put_byte(e, n);
            put_bytes(e, bytes, n);
        }
        return true;
    }
    case T_TUPLE: {
        uint32_t count = tuple_count(value);
        uint8_t bytes[12];
        std::memcpy(bytes, cell_payload(value), 12);
        if (e.fixed) {
            put_raw(e, header | count << KBF_UNIT_SHIFT);
            put_bytes(e, bytes, 12);
        } else {
            put_lead(e, type, count != 3);
            if (count != 3) put_byte(e, uint8_t(count));
            put_bytes(e, bytes, count);
        }
        return true;
    }
    case T_MONEY:
        if (e.fixed) put_raw(e, header | (money_sign(value) ? KBF_MONEY_NEGATIVE : 0));
        else put_lead(e, type, money_sign(value));
        put_bytes(e, cell_payload(value), 12);
        return true;
    case T_ISSUE:
        if (e.fixed) put_raw(e, header);
        else put_lead(e, type, false);
        put_number(e, symbol_index(e, word_symbol(value)));
        return true;
    default:
        return false;
    }
}

// ---- contexts, objects, functions ---------------------------------------------------------------------

// A context record: its flags, its words and, when they live in a block and
// are not all unset, its values (at positions 0 .. count - 1 of the current
// level).
void write_context(Encoder& e, Node context) {
    const Cell* c = context_cell(context);
    uint32_t kind = (c->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT;
    bool on_stack = c->header & CONTEXT_ON_STACK;
    bool object_flag = c->header & CONTEXT_OBJECT_FLAG;
    uint32_t count = context_word_count(context);
    Node values = on_stack ? 0 : context_values(context);
    bool with_values = false;
    if (values) {
        const Cell* cells = block_cells(values);
        uint32_t n = series_buffer(values)->length();
        for (uint32_t i = 0; i < n && i < count && !with_values; i++)
            with_values = cell_type(&cells[i]) != T_UNSET;
    }
    if (e.fixed) {
        put_raw(e, T_CONTEXT | kind << KBF_CONTEXT_KIND_SHIFT | (on_stack ? KBF_CONTEXT_ON_STACK : 0) |
                       (object_flag ? KBF_CONTEXT_OBJECT : 0) | (with_values ? KBF_CONTEXT_VALUES : 0));
    } else {
        put_byte(e, T_CONTEXT);
        put_byte(e, uint8_t(kind | (on_stack ? KB_CONTEXT_ON_STACK : 0) |
                            (object_flag ? KB_CONTEXT_OBJECT : 0) | (with_values ? KB_CONTEXT_VALUES : 0)));
    }
    put_number(e, count);
    for (uint32_t i = 0; i < count; i++) put_number(e, symbol_index(e, word_symbol(context_word_at(context, i))));
    if (!with_values) return;
    uint32_t n = series_buffer(values)->length();
    for (uint32_t i = 0; i < count; i++) {
        if (i < n) {
            write_value(e, block_cells(values) + i);
        } else {
            write_value(e, &unset_cell);
        }
    }
}

// The slot index of a handler in an object's change info, or -1.
int32_t handler_slot(Node info, uint32_t which) {
    uint32_t slot = object_handler_slot(block_cells(info) + which);
    return slot == HANDLER_ABSENT ? -1 : int32_t(slot);
}

// The payload of an object record after its header: class id, handler
// indexes when it has them, the context record.
void write_object_payload(Encoder& e, Node context, uint32_t class_id, Node info) {
    put_signed(e, int32_t(class_id));
    if (info) {
        put_signed(e, handler_slot(info, HANDLER_ON_CHANGE));
        put_signed(e, handler_slot(info, HANDLER_ON_DEEP_CHANGE));
    }
    write_context(e, context);
}

// The spec block at position 0 and the body block at position 1.
void write_function_parts(Encoder& e, const Cell* fn) {
    uint32_t counter = e.counter;
    Cell spec;
    series_make_at(&spec, T_BLOCK, function_spec(fn), 0);
    e.counter = 0;
    write_value(e, &spec);
    Cell body = *function_more_cell(fn, MORE_BODY);
    e.counter = 1;
    write_value(e, &body);
    e.counter = counter;
}

void write_function_payload(Encoder& e, const Cell* fn) {
    put_number(e, series_buffer(function_spec(fn))->length());
    const Cell* body = function_more_cell(fn, MORE_BODY);
    put_number(e, cell_type(body) == T_BLOCK ? series_buffer(series_node(body))->length() : 0);
    write_context(e, function_context(fn));
    write_function_parts(e, fn);
}

// ---- words ----------------------------------------------------------------------------------------------

// How a word's context is carried: by the object or function that owns it,
// as a plain context, or not at all (the word is written as a global word,
// as are the words of library code).
enum Holder { HOLDER_GLOBAL, HOLDER_OBJECT, HOLDER_FUNCTION, HOLDER_PLAIN };

Holder word_holder(Node context) {
    if (!context || context == global_context || context == library_context) return HOLDER_GLOBAL;
    const Cell* c = context_cell(context);
    uint8_t owner = cell_type(context_owner(context));
    uint32_t kind = (c->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT;
    if (owner == T_FUNCTION) return HOLDER_FUNCTION;
    if (owner == T_OBJECT || owner == T_ERROR || kind == CONTEXT_OBJECT)
        return (c->header & CONTEXT_ON_STACK) ? HOLDER_GLOBAL : HOLDER_OBJECT;
    if (kind == CONTEXT_PLAIN && !(c->header & CONTEXT_ON_STACK)) return HOLDER_PLAIN;
    return HOLDER_GLOBAL;
}

void write_word(Encoder& e, const Cell* word, uint32_t header) {
    uint8_t type = cell_type(word);
    Node context = word_context(word);
    uint32_t symbol = symbol_index(e, word_symbol(word));
    Holder holder = word_holder(context);
    if (holder == HOLDER_GLOBAL) {
        if (e.fixed) {
            put_raw(e, header | KBF_DEFINE);
            put_raw(e, symbol);
            put_raw(e, word_index(word));
        } else {
            put_lead(e, type, false);
            put_varint(e, symbol);
        }
        return;
    }
    uint32_t path = registered(e, context);
    bool reference = path != NO_ENTRY;
    if (e.fixed) {
        put_raw(e, header | (reference ? KBF_REFERENCE : 0));
    } else {
        if (reference) put_byte(e, KB_PREFIX_REFERENCE);
        put_lead(e, type, true);
    }
    put_number(e, symbol);
    put_signed(e, int32_t(word_index(word)));
    if (reference) {
        put_path(e, path);
        return;
    }
    enter(e, context);
    const Cell owner = *context_owner(context);
    if (e.fixed) {
        write_context(e, context);
        if (holder == HOLDER_FUNCTION) write_function_parts(e, &owner);
    } else if (holder == HOLDER_OBJECT) {
        bool handlers = cell_type(&owner) == T_OBJECT && object_info(&owner);
        put_lead(e, T_OBJECT, handlers);
        write_object_payload(e, context, cell_type(&owner) == T_UNSET ? 0 : object_class(&owner),
                             handlers ? object_info(&owner) : 0);
    } else if (holder == HOLDER_FUNCTION) {
        put_lead(e, T_FUNCTION, false);
        write_function_payload(e, &owner);
    } else {
        write_context(e, context);
    }
    leave(e);
}

// ---- series and node-holding values ------------------------------------------------------------------------

bool string_type_q(uint8_t type) {
    return type == T_STRING || type == T_FILE || type == T_URL || type == T_TAG || type == T_EMAIL ||
           type == T_REF;
}

uint32_t log2_unit(uint32_t unit) { return unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0; }

// Header and head index of a record of a series type; the head is written
// when the type has one (compact: only when it is not 0).
void write_series_head(Encoder& e, const Cell* value, uint32_t header, bool reference, bool has_head,
                       bool flag) {
    uint8_t type = cell_type(value);
    uint32_t head = has_head ? series_index_clamped(value) : 0;
    if (e.fixed) {
        put_raw(e, header | (reference ? KBF_REFERENCE : 0));
        if (has_head) put_raw(e, head);
        return;
    }
    if (reference) put_byte(e, KB_PREFIX_REFERENCE);
    put_lead(e, type, has_head ? head != 0 : flag);
    if (has_head && head) put_varint(e, head);
}

void write_series_content(Encoder& e, const Cell* value) {
    uint8_t type = cell_type(value);
    SeriesBuffer* b = series_buffer(series_node(value));
    if (block_family_q(type)) {
        uint32_t count = b->length();
        put_number(e, count);
        for (uint32_t i = 0; i < count; i++)
            write_value(e, block_cells(series_node(value)) + i);
    } else if (type == T_MAP) {
        const Cell* cells = block_cells(b);
        uint32_t n = b->length() & ~1u;
        uint32_t live = 0;
        for (uint32_t i = 0; i < n; i += 2)
            if (cells[i + 1].header) live += 2;
        put_number(e, live);
        for (uint32_t i = 0; i < n; i += 2) {
            const Cell* pair = block_cells(series_node(value)) + i;
            if (!pair[1].header) continue;  // a removed entry
            write_value(e, &pair[0]);
            write_value(e, &pair[1]);
        }
    } else if (string_type_q(type)) {
        uint32_t unit = b->unit();
        uint32_t length = b->length();
        if (uint64_t(length) * 4 > UINT32_MAX >> 1) error_raise(ERR_NO_MEMORY);
        if (e.fixed) put_raw(e, length);
        else put_varint(e, length * 4 + log2_unit(unit));
        put_bytes(e, b->head_ptr(), size_t(length) * unit);
        if (e.fixed) put_padding(e);
    } else if (type == T_BINARY || type == T_BITSET) {
        uint32_t length = b->tail - b->head;
        put_number(e, length);
        put_bytes(e, b->head_ptr(), length);
        if (e.fixed) put_padding(e);
    } else if (type == T_VECTOR) {
        uint32_t unit = b->unit();
        uint32_t count = b->length();
        if (e.fixed) {
            put_raw(e, count);
            put_raw(e, vector_item_type(value));
        } else {
            put_byte(e, uint8_t(vector_item_type(value) * 4 + log2_unit(unit)));
            put_varint(e, count);
        }
        put_bytes(e, b->head_ptr(), size_t(count) * unit);
        if (e.fixed) put_padding(e);
    } else if (type == T_IMAGE) {
        // The size, then every pixel word from the first, as the buffer holds them.
        if (e.fixed) {
            put_raw(e, series_extra(value));
        } else {
            put_varint(e, image_width(value));
            put_varint(e, image_height(value));
        }
        put_bytes(e, b->head_ptr(), size_t(image_pixel_count(value)) * 4);
    }
}

// Values that hold a series or a context: written once, then by reference.
void write_node_value(Encoder& e, const Cell* value, uint32_t header) {
    uint8_t type = cell_type(value);
    bool holds_context = type == T_OBJECT || type == T_FUNCTION;
    Node node = holds_context ? object_context(value) : series_node(value);
    uint32_t path = registered(e, node);
    bool reference = path != NO_ENTRY;
    // A map is made only once its entries are read back, so nothing inside
    // it can refer to it: the stream could be written but never read.
    if (reference && e.entries[path].open_map) no_codec(value);
    if (!reference) path = enter(e, node);
    if (!reference && type == T_MAP) e.entries[path].open_map = true;
    if (holds_context) {
        bool handlers = type == T_OBJECT && object_info(value);
        if (e.fixed) {
            put_raw(e, header | (reference ? KBF_REFERENCE : 0) | (handlers ? KBF_HANDLERS : 0));
        } else {
            if (reference) put_byte(e, KB_PREFIX_REFERENCE);
            put_lead(e, type, handlers);
        }
        if (!reference) {
            if (type == T_OBJECT) write_object_payload(e, object_context(value), object_class(value), handlers ? object_info(value) : 0);
            else write_function_payload(e, value);
        }
    } else {
        bool has_head = type != T_BITSET && type != T_MAP;
        uint32_t bits = 0;
        bool flag = false;
        if (type == T_BITSET) {
            flag = series_buffer(series_node(value))->flags & SERIES_NEGATED;
            bits = flag ? KBF_BITSET_COMPLEMENT : 0;
        } else if (string_type_q(type) || type == T_VECTOR) {
            bits = series_buffer(series_node(value))->unit() << KBF_UNIT_SHIFT;
        }
        write_series_head(e, value, header | bits, reference, has_head, flag);
        if (!reference) write_series_content(e, value);
    }
    if (reference) {
        put_path(e, path);
    } else {
        e.entries[path].open_map = false;
        leave(e);
    }
}

// ---- callables and errors -------------------------------------------------------------------------------------

void write_native(Encoder& e, const Cell* value, uint32_t header) {
    if (e.fixed) put_raw(e, header);
    else put_lead(e, cell_type(value), false);
    put_number(e, function_index(value));
    Cell spec;
    series_make_at(&spec, T_BLOCK, function_spec(value), 0);
    write_value(e, &spec);
    e.counter--;  // the native and its spec take one position
}

void write_op(Encoder& e, const Cell* value, uint32_t header) {
    uint8_t source = op_source_type(value);
    if (source != T_NATIVE && source != T_ACTION && source != T_FUNCTION) no_codec(value);
    if (e.fixed) put_raw(e, header | uint32_t(source) << KBF_OP_SHIFT);
    else put_lead(e, T_OP, false);
    Cell inner = *value;
    inner.header = (value->header & ~(CELL_TYPE_MASK | CELL_NEWLINE | (0xFFu << OP_SOURCE_SHIFT))) | source;
    write_value(e, &inner);
    e.counter--;
}

void write_error(Encoder& e, const Cell* value, uint32_t header) {
    const Cell* code = error_field(value, ERROR_CODE);
    if (cell_type(code) != T_INTEGER) no_codec(value);
    if (e.fixed) put_raw(e, header);
    else put_lead(e, T_ERROR, false);
    put_number(e, uint32_t(cell_int(code)));
    enter(e, object_context(value));
    for (uint32_t i = 0; i < 6; i++) {
        Cell field = *error_field(value, ErrorField(ERROR_ARG1 + i));
        write_value(e, &field);
    }
    leave(e);
}

void write_value(Encoder& e, const Cell* value) {
    native_stack_check();
    // Deeper data could be written but not read back.
    if (++e.depth > KELBIN_DEPTH_MAX) error_raise(ERR_TOO_DEEP);
    uint8_t type = cell_type(value);
    bool newline = value->header & CELL_NEWLINE;
    uint32_t header = type | (newline ? KBF_NEWLINE : 0);
    if (newline && !e.fixed) put_byte(e, KB_PREFIX_NEWLINE);
    if (write_scalar(e, value, header)) {
        // done
    } else if (type >= T_WORD && type <= T_REFINEMENT) {
        write_word(e, value, header);
    } else if (type == T_NATIVE || type == T_ACTION) {
        write_native(e, value, header);
    } else if (type == T_OP) {
        write_op(e, value, header);
    } else if (type == T_ERROR) {
        write_error(e, value, header);
    } else if (block_family_q(type) || string_type_q(type) || type == T_BINARY || type == T_VECTOR ||
               type == T_BITSET || type == T_MAP || type == T_IMAGE || type == T_OBJECT ||
               type == T_FUNCTION) {
        write_node_value(e, value, header);
    } else {
        no_codec(value);  // routine!, event!, handle!, triple!, port!, context!
    }
    e.counter++;
    e.depth--;
}

// ---- streams --------------------------------------------------------------------------------------------------

Cell* encode(const Cell* value, bool compact) {
    kelbin_codec_q = true;
    Encoder e;
    e.fixed = !compact;
    write_value(e, value);
    bool symbols = !e.symbols.empty();
    std::vector<uint8_t> out;
    out.reserve(e.records.size() + e.names.size() + 4 * e.symbols.size() + 24);
    out.insert(out.end(), KELBIN_MAGIC, KELBIN_MAGIC + KELBIN_MAGIC_SIZE);
    out.push_back(KELBIN_VERSION);
    out.push_back(uint8_t((compact ? KELBIN_COMPACT : 0) | (symbols ? KELBIN_SYMBOLS : 0)));
    auto number = [&](uint32_t v) {
        if (compact) put_varint_to(out, v);
        else put_raw_to(out, v);
    };
    number(1);  // one root value
    number(uint32_t(e.records.size()));
    if (symbols) {
        number(uint32_t(e.symbols.size()));
        number(uint32_t(e.names.size()));
        for (uint32_t offset : e.name_offsets) put_raw_to(out, offset);
        out.insert(out.end(), e.names.begin(), e.names.end());
    }
    out.insert(out.end(), e.records.begin(), e.records.end());
    return binary_push_bytes(out.data(), uint32_t(out.size()));
}

} // namespace

Cell* kelbin_encode_cp(const Cell* value) { return encode(value, true); }
Cell* kelbin_encode(const Cell* value) { return encode(value, false); }

} // namespace kel
