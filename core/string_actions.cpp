// string!: the actions that make, convert, print, compare, search and modify
// text. file!, url!, tag!, email! and ref! reach these functions through
// inheritance, so they branch on the value's own type where the result type or
// an element conversion differs. The character machinery is core/string.cpp.
//
// Action arguments arrive in data-stack cells, which never move; every value
// made on the way (texts to add, formed values) is kept on the data stack too.
#include "core/string.hpp"
#include "core/actions.hpp"
#include "core/bitset_bits.hpp"
#include "core/block.hpp"
#include "core/casefold.hpp"
#include "core/error.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/ownership.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/sort.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "core/vector_items.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace kel {

// Largest byte size a text may reach by append, insert or change.
constexpr uint64_t TEXT_BYTES_MAX = 0x7FFFFFF0;

// ---- small helpers ------------------------------------------------------------------

static inline uint32_t text_length(const Cell* series) { return series_buffer_of(series)->length(); }

// The position of any series value clamped to 0 .. length.
static uint32_t text_index(const Cell* series) {
    int32_t index = series_index(series);
    uint32_t length = text_length(series);
    return index < 0 ? 0 : std::min(uint32_t(index), length);
}

// Characters from the position to the tail.
static inline uint32_t text_rest(const Cell* string) { return text_length(string) - text_index(string); }

// A fresh empty string on the data stack (unit 1).
static Cell* text_push(uint32_t capacity) {
    Cell* cell = stack_push_new(T_NONE);
    return string_make_at(cell, capacity);
}

[[noreturn]] static void raise_with_datatype(ScriptError id, uint8_t type, const Cell* arg) {
    error_raise_type(id, type, arg);
}

// Appends the formed text of any value through its type's form slot; returns
// the remaining budget.
static int32_t form_into(const Cell* value, Cell* target, bool part, int32_t budget) {
    CellRoot held(*value);
    auto form = action_lookup_value_as<FormMoldFn>(&held.cell, A_FORM);
    return form(&held.cell, target, false, false, false, part, budget, 0);
}

static int32_t mold_into(const Cell* value, Cell* target) {
    CellRoot held(*value);
    auto mold = action_lookup_value_as<FormMoldFn>(&held.cell, A_MOLD);
    return mold(&held.cell, target, false, false, false, false, 0, 0);
}

// Cuts a string back to at most limit characters (limit < 0: no limit).
static void text_cut(Cell* string, int32_t limit) {
    if (limit >= 0) string_ks_truncate(series_buffer_of(string), uint32_t(limit));
}

// ---- the text a value adds ---------------------------------------------------------------

static void tag_text(const Cell* tag, Cell* out, int32_t limit) {
    if (limit == 0) return;
    string_append_char(out, '<');
    int32_t rest = limit < 0 ? -1 : limit - 1;
    string_concatenate(out, tag, rest, 0, true, CONCAT_APPEND);
    if (rest < 0 || rest > int32_t(text_rest(tag))) string_append_char(out, '>');
}

// Writes into out the text that append, insert and change add for a value:
// a string's characters, one char!, a tag! with its brackets, each value of a
// block formed without separator, or any other value formed; at most limit
// characters (limit < 0: all).
static void added_text(const Cell* value, Cell* out, int32_t limit) {
    uint8_t type = cell_type(value);
    if (type == T_TAG) {
        tag_text(value, out, limit);
    } else if (string_family_q(type)) {
        string_concatenate(out, value, limit, 0, true, CONCAT_APPEND);
    } else if (type == T_CHAR) {
        if (limit != 0) string_append_char(out, uint32_t(cell_int(value)));
    } else if (type == T_BLOCK || type == T_PAREN || type == T_HASH) {
        CellRoot block(*value);
        uint32_t start = text_index(&block.cell);
        for (uint32_t i = start;; i++) {
            SeriesBuffer* b = series_buffer_of(&block.cell);
            if (i >= b->length()) break;
            int32_t used = int32_t(text_length(out));
            if (limit >= 0 && used >= limit) break;
            CellRoot item(block_cells(b)[i]);
            int32_t rest = limit < 0 ? -1 : limit - used;
            uint8_t item_type = cell_type(&item.cell);
            if (item_type == T_TAG) tag_text(&item.cell, out, rest);
            else if (string_family_q(item_type)) string_concatenate(out, &item.cell, rest, 0, true, CONCAT_APPEND);
            else if (item_type == T_CHAR) string_append_char(out, uint32_t(cell_int(&item.cell)));
            else form_into(&item.cell, out, limit >= 0, rest);
        }
    } else {
        form_into(value, out, limit >= 0, limit);
    }
    text_cut(out, limit);
}

// ---- make, to ----------------------------------------------------------------------------

// Raises access error invalid-utf8 with a binary! of the bytes from the first
// invalid sequence to the end, when the bytes of a binary! hold one.
static void utf8_check_bytes(const Cell* binary, uint32_t at, uint32_t length) {
    SeriesBuffer* b = series_buffer_of(binary);
    const uint8_t* start = b->head_ptr() + at;
    const uint8_t* end = start + length;
    const uint8_t* p = start;
    while (p < end) {
        int32_t codepoint;
        const uint8_t* next = utf8_decode_char(p, end, &codepoint);
        if (codepoint < 0) break;
        p = next;
    }
    if (p >= end) return;
    uint32_t bad = uint32_t(p - start);
    Cell* rest = stack_push_new(T_NONE);
    series_make_at(rest, T_BINARY, series_new_bytes(length - bad), 0);
    SeriesBuffer* from = series_buffer_of(binary);
    SeriesBuffer* to = series_buffer_of(rest);
    std::memcpy(to->head_ptr(), from->head_ptr() + at + bad, length - bad);
    to->tail = to->head + (length - bad);
    error_raise(ERR_INVALID_UTF8, rest);
}

const Cell* string_make(Cell* proto, const Cell* spec, uint8_t type) {
    uint8_t spec_type = cell_type(spec);
    if (spec_type == T_INTEGER || spec_type == T_FLOAT) {
        double size = spec_type == T_INTEGER ? double(cell_int(spec)) : cell_double(spec);
        if (size < 0) error_raise(ERR_OUT_OF_RANGE, spec);
        if (size > double(TEXT_BYTES_MAX)) error_raise(ERR_NO_MEMORY);
        string_make_at(proto, uint32_t(size));
        cell_type_set(proto, type);
        return proto;
    }
    if (type == T_BINARY) {
        if (spec_type == T_MONEY) raise_with_datatype(ERR_BAD_MAKE_ARG, T_BINARY, spec);
        return action_slot_as<MakeToFn>(T_BINARY, A_TO)(proto, spec, type);
    }
    return string_to(proto, spec, type);
}

const Cell* string_to(Cell* proto, const Cell* spec, uint8_t type) {
    uint8_t spec_type = cell_type(spec);
    if (spec_type == T_NONE) raise_with_datatype(ERR_BAD_TO_ARG, type, spec);
    CellRoot source(*spec);
    Cell* out = stack_push_new(T_NONE);
    if (string_family_q(spec_type)) {
        cell_copy(&source.cell, out);
        series_copy(out, nullptr, false, nullptr);
    } else if (spec_type == T_BINARY) {
        uint32_t at = text_index(&source.cell);
        uint32_t length = text_length(&source.cell) - at;
        utf8_check_bytes(&source.cell, at, length);
        Node node = load_utf8_series(series_node(&source.cell), at, length, 0, nullptr, false);
        series_make_at(out, T_STRING, node, 0);
    } else {
        string_make_at(out, 16);
        if (spec_type == T_BLOCK || spec_type == T_PAREN || spec_type == T_HASH)
            added_text(&source.cell, out, -1);
        else if (spec_type == T_REFINEMENT && type != T_STRING)
            mold_into(&source.cell, out);
        else
            form_into(&source.cell, out, false, 0);
    }
    series_extra_set(out, 0);
    cell_type_set(out, type);
    out->header &= ~CELL_NEWLINE;
    cell_copy(out, proto);
    stack_pop(1);
    return proto;
}

// ---- form, mold ------------------------------------------------------------------------------

int32_t string_form(const Cell* value, Cell* target, bool, bool, bool, bool part, int32_t budget,
                    int32_t) {
    uint32_t rest = text_rest(value);
    int32_t limit = part ? std::max(budget, 0) : -1;
    string_concatenate(target, value, limit, 0, true, CONCAT_APPEND);
    return budget - int32_t(rest);
}

// Writes the characters [from, end) of a string in brace form: braces that
// pair up stay as they are, the others and every "{" after an unpaired one
// get a caret; a double quote is written as it is.
static void mold_braced(const Cell* value, uint32_t from, uint32_t end, Cell* target, bool all) {
    int32_t open = 0;
    bool unpaired = false;
    for (uint32_t i = from; i < end; i++) {
        SeriesBuffer* b = series_buffer_of(value);
        uint32_t unit = b->unit();
        const uint8_t* at = b->head_ptr() + i * unit;
        uint32_t c = string_get_char(at, unit);
        if (c == '{') {
            if (!unpaired && string_braces_balanced_q(at, b->head_ptr() + end * unit, unit)) {
                open++;
                string_append_char(target, '{');
            } else {
                unpaired = true;
                string_concatenate_bytes(target, "^{", 2);
            }
        } else if (c == '}') {
            if (open > 0) {
                open--;
                string_append_char(target, '}');
            } else {
                string_concatenate_bytes(target, "^}", 2);
            }
        } else if (c == '"') {
            string_append_char(target, '"');
        } else {
            string_append_escaped_char(target, c, all);
        }
    }
}

// Strings of this many characters or more mold in braces.
constexpr uint32_t MOLD_BRACES_LENGTH = 50;

int32_t string_mold(const Cell* value, Cell* target, bool, bool all, bool, bool part, int32_t budget,
                    int32_t) {
    CellRoot held(*value);
    uint32_t from = text_index(&held.cell);
    uint32_t rest = text_length(&held.cell) - from;
    uint32_t end = from + rest;
    if (part) end = from + std::min<uint32_t>(rest, uint32_t(std::max(budget, 0)));
    SeriesBuffer* b = series_buffer_of(&held.cell);
    uint32_t unit = b->unit();
    uint32_t quotes, lines;
    string_mold_scan(b->head_ptr() + from * unit, b->head_ptr() + end * unit, unit, &quotes, &lines);
    bool braces = lines > 2 || quotes > 0 || rest >= MOLD_BRACES_LENGTH;
    string_append_char(target, braces ? '{' : '"');
    if (braces) {
        mold_braced(&held.cell, from, end, target, all);
    } else {
        for (uint32_t i = from; i < end; i++)
            string_append_escaped_char(target, string_ks_char_at(&held.cell, i), all);
    }
    string_append_char(target, braces ? '}' : '"');
    return budget - int32_t(end - from) - 2;
}

// ---- compare ------------------------------------------------------------------------------

int32_t string_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value1) != cell_type(value2) &&
        !(string_family_q(cell_type(value2)) && (op == CMP_EQUAL || op == CMP_NOT_EQUAL)))
        return COMPARE_INCOMPARABLE;
    return string_compare_values(value1, value2, op, false);
}

// ---- find, select ----------------------------------------------------------------------------

// What find looks for: one character (or byte), the characters of a text, the
// members of a bitset, or a number compared with the items of a vector! or
// binary! series. Texts and bitsets are kept on the data stack.
enum NeedleKind : uint8_t { NEEDLE_CHAR, NEEDLE_TEXT, NEEDLE_BITSET, NEEDLE_NUMBER, NEEDLE_NOTHING };

struct Needle {
    NeedleKind kind;
    uint32_t codepoint;  // NEEDLE_CHAR
    double number;       // NEEDLE_NUMBER
    Cell* text;          // NEEDLE_TEXT: a string value; NEEDLE_BITSET: the bitset
    uint32_t length;     // elements matched
};

// The text of a word as a string at index 0 on the data stack.
static Cell* word_text_push(const Cell* word) {
    symbol_get(word_symbol(word));  // makes the cached string first
    Node node = symbol_string_node(symbol_get(word_symbol(word)));
    Cell* cell = stack_push_new(T_NONE);
    series_make_at(cell, T_STRING, node, 0);
    return cell;
}

static bool word_family_q(uint8_t type) {
    return type == T_WORD || type == T_SET_WORD || type == T_LIT_WORD || type == T_GET_WORD ||
           type == T_REFINEMENT || type == T_ISSUE;
}

// The numeric value of an integer!, char!, float! or percent! cell.
static bool number_of(const Cell* value, double* out) {
    switch (cell_type(value)) {
    case T_INTEGER: *out = double(cell_int(value)); return true;
    case T_CHAR: *out = double(uint32_t(cell_int(value))); return true;
    case T_FLOAT:
    case T_PERCENT: *out = cell_double(value); return true;
    default: return false;
    }
}

// The needle over the items of a vector: numbers and chars compare by value,
// a bitset by membership of the item's integer value; any other value matches
// no item.
static Needle vector_needle_make(const Cell* value) {
    Needle needle{NEEDLE_NOTHING, 0, 0.0, nullptr, 1};
    if (cell_type(value) == T_BITSET) {
        needle.kind = NEEDLE_BITSET;
        needle.text = stack_push(value);
    } else if (number_of(value, &needle.number)) {
        needle.kind = NEEDLE_NUMBER;
    }
    return needle;
}

// Builds the needle; pushes at most one cell on the data stack (the caller pops
// back to its mark).
static Needle needle_make(const Cell* series, const Cell* value) {
    uint8_t type = cell_type(value);
    uint8_t stype = cell_type(series);
    if (stype == T_VECTOR) return vector_needle_make(value);
    Needle needle{NEEDLE_TEXT, 0, 0.0, nullptr, 1};
    if (type == T_CHAR) {
        needle.kind = NEEDLE_CHAR;
        needle.codepoint = uint32_t(cell_int(value));
    } else if (type == T_BITSET) {
        needle.kind = NEEDLE_BITSET;
        needle.text = stack_push(value);
    } else if (stype == T_BINARY && (type == T_INTEGER || type == T_FLOAT)) {
        needle.kind = NEEDLE_NUMBER;
        number_of(value, &needle.number);
    } else if (word_family_q(type)) {
        needle.text = word_text_push(value);
    } else if (type == T_BINARY && stype != T_BINARY) {
        error_raise(ERR_INVALID_ARG, value);
    } else if (string_family_q(type) || type == T_BINARY) {
        needle.text = stack_push(value);
    } else {
        needle.text = text_push(16);
        form_into(value, needle.text, false, 0);
    }
    if (needle.kind == NEEDLE_TEXT) needle.length = text_rest(needle.text);
    return needle;
}

// The element at an absolute index as a number: a vector item, or a byte or
// character code.
static double element_number(const Cell* series, const uint8_t* p, uint32_t unit) {
    if (cell_type(series) != T_VECTOR) return double(string_get_char(p, unit));
    Cell item;
    vector_item_value(p, unit, vector_item_type(series), &item);
    double number = 0.0;
    number_of(&item, &number);
    return number;
}

// Whether the needle matches at an absolute index of the buffer.
static bool needle_match(const Cell* series, const SeriesBuffer* b, uint32_t unit, uint32_t at,
                         const Needle& needle, bool fold) {
    const uint8_t* p = const_cast<SeriesBuffer*>(b)->head_ptr() + at * unit;
    switch (needle.kind) {
    case NEEDLE_NOTHING: return false;
    case NEEDLE_NUMBER: return element_number(series, p, unit) == needle.number;
    case NEEDLE_BITSET: {
        double n = element_number(series, p, unit);
        return n >= 0 && n == double(int64_t(n)) && bitset_member_q(needle.text, int64_t(n));
    }
    case NEEDLE_CHAR: {
        uint32_t c = string_get_char(p, unit);
        return c == needle.codepoint ||
               (fold && change_char_case(c, false) == change_char_case(needle.codepoint, false));
    }
    case NEEDLE_TEXT: break;
    }
    SeriesBuffer* nb = series_buffer_of(needle.text);
    uint32_t nunit = nb->unit();
    const uint8_t* q = nb->head_ptr() + text_index(needle.text) * nunit;
    for (uint32_t i = 0; i < needle.length; i++) {
        uint32_t c1 = string_get_char(p + i * unit, unit);
        uint32_t c2 = string_get_char(q + i * nunit, nunit);
        if (c1 == c2) continue;
        if (!fold || change_char_case(c1, false) != change_char_case(c2, false)) return false;
    }
    return true;
}

// The search of find and select: the absolute index of the match, or -1.
// *matched receives the needle's length.
static int64_t text_search(Cell* series, const Cell* value, Cell* part, bool case_, bool same,
                           bool any, Cell* with, Cell* skip, bool last, bool reverse, bool match,
                           uint32_t* matched) {
    uint32_t length = text_length(series);
    uint32_t pos = text_index(series);
    if (any || with) error_raise(ERR_NOT_DONE);
    if (length == 0 || (pos >= length && !reverse)) return -1;
    int64_t step = series_skip_size(skip);
    int64_t count = -1;
    if (part) {
        count = series_part_count(series, part);
        if (count < 1) return -1;
    }
    if (reverse && match) return -1;

    Cell* mark = data_stack.top;
    Needle needle = needle_make(series, value);
    *matched = needle.length;
    bool fold = !case_ && !same && string_family_q(cell_type(series));
    int64_t len = needle.length;
    int64_t found = -1;
    SeriesBuffer* b = series_buffer_of(series);
    uint32_t unit = b->unit();
    if (reverse) {
        int64_t bound = count < 0 ? 0 : std::max<int64_t>(0, int64_t(pos) - count);
        for (int64_t i = int64_t(pos) - len; i >= bound; i -= step)
            if (needle_match(series, b, unit, uint32_t(i), needle, fold)) { found = i; break; }
    } else {
        int64_t end = count < 0 ? length : std::min<int64_t>(length, pos + count);
        if (last) {
            for (int64_t i = end - len; i >= int64_t(pos); i -= step) {
                if (needle_match(series, b, unit, uint32_t(i), needle, fold)) { found = i; break; }
                if (match) break;
            }
        } else {
            for (int64_t i = pos; i + len <= end; i += step) {
                if (needle_match(series, b, unit, uint32_t(i), needle, fold)) { found = i; break; }
                if (match) break;
            }
        }
    }
    data_stack.top = mark;
    return found;
}

const Cell* string_find(Cell* series, const Cell* value, const FindOptions& o) {
    uint32_t matched = 0;
    int64_t found = text_search(series, value, o.part, o.case_, o.same, o.any, o.with, o.skip, o.last,
                                o.reverse, o.match, &matched);
    if (found < 0) {
        none_make_at(series);
        return series;
    }
    series_index_set(series, int32_t(found + (o.tail ? matched : 0)));
    return series;
}

const Cell* string_select(Cell* series, const Cell* value, const FindOptions& o) {
    uint32_t matched = 0;
    int64_t found = text_search(series, value, o.part, o.case_, o.same, o.any, o.with, o.skip, o.last,
                                o.reverse, false, &matched);
    int64_t after = found + matched;
    if (found < 0 || after >= int64_t(text_length(series))) {
        none_make_at(series);
        return series;
    }
    Cell element;
    series_element_value(series, uint32_t(after), &element);
    cell_copy(&element, series);
    return series;
}

// ---- path selection ---------------------------------------------------------------------------

void string_eval_path(const Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                      bool case_, Cell* out) {
    Cell* series = stack_push(parent);
    uint8_t type = cell_type(element);
    if (type == T_INTEGER) {
        if (set_value) {
            series_poke(series, element, set_value);
            cell_copy(set_value, out);
        } else {
            series_pick(series, element);
            cell_copy(series, out);
        }
    } else if (type == T_WORD) {
        error_raise(ERR_INVALID_PATH, path, element);
    } else if (!set_value) {
        string_select(series, element, FindOptions{.case_ = case_});
        cell_copy(series, out);
    } else {
        // The character after the whole key is replaced, whatever its length.
        string_find(series, element, FindOptions{.case_ = case_, .tail = true});
        if (cell_type(series) == T_NONE) error_raise(ERR_BAD_PATH_SET, path, element);
        Cell one;
        cell_init(&one, T_INTEGER);
        integer_make_at(&one, 1);
        series_poke(series, &one, set_value);
        cell_copy(set_value, out);
    }
    stack_pop(1);
}

// ---- sort ------------------------------------------------------------------------------------

// What a user comparator over characters or vector items needs: the records
// are element indexes into a pinned copy of the sorted stretch (a data-stack
// cell), so a comparator that changes the series itself disturbs nothing.
struct ElementSortContext {
    const Cell* copy;
    const Cell* function;
    uint32_t size;  // elements per record
    bool all;       // the comparator receives whole records
    bool reverse;
};

// The comparator, called with the second record first, answers for the
// first record against the second: logic true 1, false -1; an integer! or
// float! n answers the order of -n; none -1; anything else 1.
static int element_sort_answer(const Cell* r) {
    switch (cell_type(r)) {
    case T_LOGIC: return logic_get(r) ? 1 : -1;
    case T_INTEGER: return cell_int(r) > 0 ? -1 : cell_int(r) < 0 ? 1 : 0;
    case T_FLOAT: {
        double d = cell_double(r);
        return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
    }
    case T_NONE: return -1;
    default: return 1;
    }
}

// A record of the copy pushed as a value: its first element, or with all a
// new series of the copy's type holding the whole record.
static Cell* record_value_push(const ElementSortContext* s, uint32_t at) {
    Cell* value = stack_push_new(T_NONE);
    if (!s->all) {
        series_element_value(s->copy, at, value);
        return value;
    }
    cell_copy(s->copy, value);
    series_index_set(value, int32_t(at));
    Cell* part = stack_push_new(T_NONE);
    integer_make_at(part, int32_t(s->size));
    series_copy(value, part, false, nullptr);
    stack_pop(1);
    return value;
}

static int element_sort_compare(const void* pa, const void* pb, uintptr_t context, uintptr_t) {
    auto* s = reinterpret_cast<const ElementSortContext*>(context);
    uint32_t ia, ib;
    std::memcpy(&ia, pa, 4);
    std::memcpy(&ib, pb, 4);
    if (s->reverse) std::swap(ia, ib);
    Cell* first = record_value_push(s, ib);
    Cell* second = record_value_push(s, ia);
    Cell* result = stack_push_new(T_NONE);
    block_sort_call(s->function, first, second, result);
    int order = element_sort_answer(result);
    stack_pop(3);
    return order;
}

// Writes an element value back at an absolute index of a string or vector.
static void element_store(Cell* series, uint32_t at, const Cell* element) {
    if (cell_type(series) != T_VECTOR) {
        string_write_char(series, at * series_buffer_of(series)->unit(), uint32_t(cell_int(element)));
        return;
    }
    uint32_t unit = vector_unit(series);
    vector_store_item(series_buffer_of(series)->head_ptr() + size_t(at) * unit, element, unit,
                      vector_item_type(series));
}

void string_sort_by_function(Cell* series, uint32_t index, uint32_t count, uint32_t size,
                             const Cell* function, bool all, bool reverse, bool stable) {
    Cell* mark = data_stack.top;
    Cell* copy = stack_push(series);
    series_index_set(copy, int32_t(index));
    Cell* part = stack_push_new(T_NONE);
    integer_make_at(part, int32_t(count));
    series_copy(copy, part, false, nullptr);
    Cell* held = stack_push(function);
    ElementSortContext s{copy, held, size, all, reverse};
    uint32_t records = count / size;
    std::vector<uint32_t> order(records);
    for (uint32_t r = 0; r < records; r++) order[r] = r * size;
    if (stable) sort_stable(order.data(), records, 4, uintptr_t(&s), 0, element_sort_compare);
    else sort_unstable(order.data(), records, 4, uintptr_t(&s), 0, element_sort_compare);
    // A comparator may have shortened the series: only what is left is written.
    for (uint32_t r = 0; r < records; r++) {
        for (uint32_t k = 0; k < size; k++) {
            uint32_t at = index + r * size + k;
            if (at >= series_buffer_of(series)->length()) break;
            Cell element;
            series_element_value(copy, order[r] + k, &element);
            element_store(series, at, &element);
        }
    }
    data_stack.top = mark;
}

void string_sort(Cell* series, bool case_, const Cell* skip, const Cell* compare, const Cell* part,
                 bool all, bool reverse, bool stable) {
    uint32_t index = text_index(series);
    int64_t count = int64_t(text_length(series)) - index;
    if (part) {
        int64_t n = series_part_count(series, part);
        if (n < 0) {
            // A negative count sorts the characters before the position.
            int64_t start = std::max<int64_t>(0, int64_t(index) + n);
            count = index - start;
            index = uint32_t(start);
            series_index_set(series, int32_t(index));
        } else {
            count = std::min(count, n);
        }
    }
    if (count <= 0) return;
    int64_t size = series_skip_size(skip, {.records = count, .below_one_invalid = true});
    if (!skip && all) error_raise(ERR_BAD_REFINES);
    uintptr_t flags = reverse ? SORT_REVERSE : 0;
    if (all) flags |= SORT_ALL | (uintptr_t(size) << SORT_FIELD_SHIFT);
    if (compare) {
        if (cell_type(compare) == T_INTEGER) {
            if (!skip || all) error_raise(ERR_BAD_REFINES);
            int32_t offset = cell_int(compare);
            if (offset < 1 || offset > size) error_raise(ERR_OUT_OF_RANGE, compare);
            flags |= uintptr_t(offset - 1) << SORT_FIELD_SHIFT;
        } else if (cell_type(compare) == T_FUNCTION) {
            bool owned = series_notify(series, W_SORT, int32_t(index), 0);
            string_sort_by_function(series, index, uint32_t(count), uint32_t(size), compare, all,
                                    reverse, stable);
            series_notify_after(owned, series, W_SORTED, int32_t(index), 0);
            return;
        } else {
            error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_COMPARE), compare);
        }
    }
    bool owned = series_notify(series, W_SORT, int32_t(index), 0);
    SeriesBuffer* b = series_buffer_of(series);
    uint32_t unit = b->unit();
    SortCompare kernel = unit == 1 ? string_sort_compare_1 : unit == 2 ? string_sort_compare_2
                                                                      : string_sort_compare_4;
    uint8_t* base = b->head_ptr() + index * unit;
    uint32_t records = uint32_t(count / size);
    uint32_t width = uint32_t(size) * unit;
    if (stable) sort_stable(base, records, width, case_, flags, kernel);
    else sort_unstable(base, records, width, case_, flags, kernel);
    series_notify_after(owned, series, W_SORTED, int32_t(index), 0);
}

// ---- append, insert, change ---------------------------------------------------------------------

// The size check of a text growing by added characters whose unit is
// text_unit: no-memory past the largest buffer.
static inline void text_size_check(const Cell* series, uint64_t added, uint32_t text_unit) {
    SeriesBuffer* b = series_buffer_of(series);
    uint64_t unit = std::max(b->unit(), text_unit);
    if ((uint64_t(b->length()) + added) * unit > TEXT_BYTES_MAX) error_raise(ERR_NO_MEMORY);
}

// Puts the text on the data stack into the series dup times at an absolute
// index (append mode: at the tail). Returns the characters added.
static uint32_t text_splice(Cell* series, Cell* text, uint32_t at, int32_t dup, ConcatMode mode) {
    uint32_t n = text_length(text);
    uint32_t total = 0;
    for (int32_t k = 0; k < dup; k++) {
        string_concatenate(series, text, -1, at + total, true, mode);
        total += n;
    }
    return total;
}

// string_insert of everything but an ASCII character appended to a unit-1
// buffer with room.
[[gnu::noinline]] static void string_insert_general(Cell* series, const Cell* value, int32_t part,
                                                    int32_t dup, bool append) {
    if (append && cell_type(value) == T_CHAR && part != 0 && dup == 1) {
        // One character added at the tail needs no text built for it. The
        // appender's widening rule is the one the built text would carry in.
        uint32_t codepoint = uint32_t(cell_int(value));
        uint32_t at = text_length(series);
        text_size_check(series, 1, codepoint <= 0x7F ? 1 : codepoint <= 0xFFFF ? 2 : 4);
        bool owned = ownership_possible_q(series) && series_notify(series, W_APPEND, int32_t(at), 1);
        string_append_char(series, codepoint);
        series_notify_after(owned, series, W_APPENDED, int32_t(at), 1);
        series_index_set(series, 0);
        return;
    }
    uint32_t index = text_index(series);
    uint32_t at = append ? text_length(series) : index;
    ConcatMode mode = append ? CONCAT_APPEND : CONCAT_INSERT;
    uint32_t word = append ? W_APPEND : W_INSERT;
    // A string's own characters are added straight from it, unless a part
    // limit cuts them or it shares the series' buffer (which the insertion
    // changes under it): then, like every other value, through a copy.
    Cell* text = stack_push(value);
    uint8_t type = cell_type(value);
    bool direct = string_family_q(type) && type != T_TAG && series_node(value) != series_node(series) && part < 0;
    if (!direct) {
        Cell* built = text_push(16);
        added_text(text, built, part);
        cell_copy(built, text);
        stack_pop(1);
    }
    uint32_t n = text_rest(text);
    uint64_t total = dup < 1 ? 0 : uint64_t(n) * uint64_t(dup);
    text_size_check(series, total, series_buffer_of(text)->unit());
    bool owned = series_notify(series, word, int32_t(at), int32_t(total));
    uint32_t added = total ? text_splice(series, text, at, dup, mode) : 0;
    series_notify_after(owned, series, append ? W_APPENDED : W_INSERTED, int32_t(at), int32_t(added));
    series_index_set(series, int32_t(append ? 0 : std::min(index + added, text_length(series))));
    stack_pop(1);
}

void string_insert(Cell* series, const Cell* value, int32_t part, bool, int32_t dup, bool append) {
    if (append && cell_type(value) == T_CHAR && uint32_t(cell_int(value)) <= 0x7F && part != 0 && dup == 1) {
        SeriesBuffer* b = series_buffer_of(series);
        if (b->unit() == 1 && b->tail < b->size && !(b->flags & SERIES_OWNED)) {
            // No owner to tell, and the size limit holds below the capacity:
            // one byte stored.
            b->data()[b->tail++] = uint8_t(cell_int(value));
            series_index_set(series, 0);
            return;
        }
    }
    string_insert_general(series, value, part, dup, append);
}

void string_change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    uint32_t length = text_length(series);
    uint32_t index = text_index(series);
    series_index_set(series, int32_t(index));
    if (index >= length) {
        string_insert(series, value, -1, only, dup, true);
        series_index_set(series, int32_t(text_length(series)));
        return;
    }
    Cell* text = text_push(16);
    added_text(value, text, -1);
    uint32_t n = text_length(text);
    uint64_t total = dup < 1 ? 0 : uint64_t(n) * uint64_t(dup);
    uint32_t rest = length - index;
    uint32_t replaced = part >= 0 ? std::min<uint32_t>(uint32_t(part), rest)
                                  : uint32_t(std::min<uint64_t>(total, rest));
    text_size_check(series, total, series_buffer_of(text)->unit());
    bool owned = series_notify(series, W_CHANGE, int32_t(index), int32_t(total));
    // The replaced characters' room becomes the new text's, the tail moving
    // at most once; a change of the same size moves nothing.
    string_resize_span(series, index, replaced, uint32_t(total));
    uint32_t added = total ? text_splice(series, text, index, dup, CONCAT_OVERWRITE) : 0;
    series_notify_after(owned, series, W_CHANGED, int32_t(index), int32_t(added));
    series_index_set(series, int32_t(index + added));
    stack_pop(1);
}

// ---- swap, take ----------------------------------------------------------------------------------

void string_swap(Cell* series1, const Cell* series2) {
    uint8_t type2 = cell_type(series2);
    if (!string_family_q(type2) && type2 != T_BINARY) error_raise(ERR_INVALID_ARG, series2);
    Cell* other = stack_push(series2);
    if (!string_ks_tail_q(series1) && !string_ks_tail_q(other)) {
        uint32_t i1 = text_index(series1), i2 = text_index(other);
        uint32_t c1 = string_ks_char_at(series1, i1);
        uint32_t c2 = type2 == T_BINARY ? series_buffer_of(other)->head_ptr()[i2] : string_ks_char_at(other, i2);
        // A binary! holds bytes: a wider character cannot go there.
        if (type2 == T_BINARY && c1 > 255) {
            Cell c;
            char_make_at(&c, int32_t(c1));
            error_raise(ERR_INVALID_ARG, &c);
        }
        bool owned1 = series_notify(series1, W_SWAP, int32_t(i1), 1);
        bool owned2 = series_notify(other, W_SWAP, int32_t(i2), 1);
        string_poke_char(series1, i1, c2);
        if (type2 == T_BINARY) series_buffer_of(other)->head_ptr()[i2] = uint8_t(c1);
        else string_poke_char(other, i2, c1);
        series_notify_after(owned1, series1, W_SWAPED, int32_t(i1), 1);
        series_notify_after(owned2, other, W_SWAPED, int32_t(i2), 1);
    }
    stack_pop(1);
}

// ---- trim --------------------------------------------------------------------------------------

// Whitespace of trim: the controls and space, and the Unicode spaces.
static bool trim_space_q(uint32_t c) {
    return (c >= 1 && c <= 32) || c == 133 || c == 160 || c == 5760 || c == 6158 ||
           (c >= 8192 && c <= 8202) || c == 8232 || c == 8233 || c == 8239 || c == 8287 || c == 12288;
}

// Whitespace removed around the line feeds inside the text: space, tab and the
// Unicode spaces.
static bool trim_inner_space_q(uint32_t c) { return c == ' ' || c == '\t' || (c >= 133 && trim_space_q(c)); }

// The characters removed by /all and /with.
struct TrimSet {
    std::vector<uint32_t> chars;
    bool has(uint32_t c) const { return std::find(chars.begin(), chars.end(), c) != chars.end(); }
};

static TrimSet trim_set(const Cell* with) {
    TrimSet set;
    if (!with) {
        set.chars = {'\t', '\n', '\r', ' '};
        return set;
    }
    uint8_t type = cell_type(with);
    if (type == T_CHAR || type == T_INTEGER) {
        set.chars.push_back(uint32_t(cell_int(with)));
    } else if (type == T_STRING || type == T_BINARY) {
        uint32_t from = text_index(with), length = text_length(with);
        SeriesBuffer* b = series_buffer_of(with);
        for (uint32_t i = from; i < length; i++) set.chars.push_back(string_get_char(b->head_ptr() + i * b->unit(), b->unit()));
    } else {
        error_raise(ERR_INVALID_ARG, with);
    }
    return set;
}

// The text with the whitespace at the head and the tail removed (as asked),
// and in the default mode the spaces and tabs around inner line feeds too.
static std::vector<uint32_t> trim_ends(const std::vector<uint32_t>& in, bool head, bool tail) {
    bool both_default = !head && !tail;
    size_t start = 0, end = in.size();
    if (head || both_default)
        while (start < end && trim_space_q(in[start])) start++;
    if (tail || both_default)
        while (end > start && trim_space_q(in[end - 1])) end--;
    std::vector<uint32_t> out;
    if (!both_default) {
        out.assign(in.begin() + start, in.begin() + end);
        return out;
    }
    for (size_t i = start; i < end; i++) {
        uint32_t c = in[i];
        if (c == '\n') {
            while (!out.empty() && trim_inner_space_q(out.back())) out.pop_back();
            out.push_back(c);
            while (i + 1 < end && trim_inner_space_q(in[i + 1])) i++;
        } else {
            out.push_back(c);
        }
    }
    // A removed tail that ended a line keeps one line feed.
    if (!out.empty() && std::find(in.begin() + end, in.end(), uint32_t('\n')) != in.end()) out.push_back('\n');
    return out;
}

static std::vector<uint32_t> trim_lines(const std::vector<uint32_t>& in) {
    std::vector<uint32_t> out;
    bool gap = false;
    for (uint32_t c : in) {
        if (trim_space_q(c)) {
            gap = !out.empty();
            continue;
        }
        if (gap) out.push_back(' ');
        gap = false;
        out.push_back(c);
    }
    return out;
}

void string_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with) {
    if (auto_) error_raise(ERR_NOT_DONE);
    TrimSet set;
    if (all || with) set = trim_set(with);
    uint32_t index = text_index(series);
    bool owned = series_notify(series, W_TRIM, int32_t(index), 0);
    SeriesBuffer* b = series_buffer_of(series);
    uint32_t unit = b->unit();
    uint32_t length = b->length();
    std::vector<uint32_t> in(length - index);
    for (uint32_t i = index; i < length; i++) in[i - index] = string_get_char(b->head_ptr() + i * unit, unit);
    std::vector<uint32_t> out;
    if (all || with) {
        for (uint32_t c : in)
            if (!set.has(c)) out.push_back(c);
    } else if (lines) {
        out = trim_lines(in);
    } else {
        out = trim_ends(in, head, tail);
    }
    // Every character written back came from the text: the unit holds it and
    // nothing is allocated.
    for (size_t i = 0; i < out.size(); i++) string_poke_char(series, uint32_t(index + i), out[i]);
    string_ks_truncate(series_buffer_of(series), uint32_t(index + out.size()));
    series_notify_after(owned, series, W_TRIMMED, int32_t(index), 0);
}

// ---- set operations -------------------------------------------------------------------------------

// The records of skip characters from a string's position; a last, shorter
// record stays a record of its own.
static std::vector<std::u32string> text_records(const Cell* string, uint32_t skip) {
    std::vector<std::u32string> records;
    uint32_t from = text_index(string), length = text_length(string);
    for (uint32_t i = from; i < length; i += skip) {
        std::u32string record;
        for (uint32_t k = i; k < std::min(length, i + skip); k++) record.push_back(char32_t(string_ks_char_at(string, k)));
        records.push_back(std::move(record));
    }
    return records;
}

// A record is keyed by its first character, as a block record by its first value.
static std::u32string record_key(const std::u32string& record, bool case_) {
    std::u32string key(record, 0, 1);
    if (!case_) for (char32_t& c : key) c = char32_t(change_char_case(uint32_t(c), false));
    return key;
}

void string_set_op(Cell* a, const Cell* b, bool case_, const Cell* skip, int32_t op) {
    uint32_t size = uint32_t(series_skip_size(skip));
    if (op != SET_UNIQUE && !string_family_q(cell_type(b))) error_raise(ERR_INVALID_ARG, b);
    std::vector<std::u32string> first = text_records(a, size);
    std::vector<std::u32string> second;
    std::unordered_set<std::u32string> in_first, in_second, written;
    if (op != SET_UNIQUE) {
        second = text_records(b, size);
        for (const auto& r : second) in_second.insert(record_key(r, case_));
        for (const auto& r : first) in_first.insert(record_key(r, case_));
    }
    std::vector<const std::u32string*> result;
    auto take = [&](const std::u32string& record) {
        if (written.insert(record_key(record, case_)).second) result.push_back(&record);
    };
    for (const auto& r : first) {
        bool other = op != SET_UNIQUE && in_second.count(record_key(r, case_));
        if (op == SET_UNIQUE || op == SET_UNION || (op == SET_INTERSECT && other) ||
            ((op == SET_EXCLUDE || op == SET_DIFFERENCE) && !other))
            take(r);
    }
    for (const auto& r : second) {
        if (op == SET_UNION || (op == SET_DIFFERENCE && !in_first.count(record_key(r, case_)))) take(r);
    }
    uint8_t type = cell_type(a);
    Cell* out = text_push(uint32_t(result.size()) * size);
    for (const auto* record : result)
        for (char32_t c : *record) string_poke_char(out, text_length(out), uint32_t(c));
    cell_type_set(out, type);
    cell_copy(out, a);
    stack_pop(1);
}

// ---- registration -------------------------------------------------------------------------------

void init_string() {
    const ActionRow actions[] = {
        {A_MAKE, string_make},
        {A_TO, string_to},
        {A_FORM, string_form},
        {A_MOLD, string_mold},
        {A_EVAL_PATH, string_eval_path},
        {A_COMPARE, string_compare},
        {A_APPEND, string_insert},
        {A_CHANGE, string_change},
        {A_FIND, string_find},
        {A_INSERT, string_insert},
        {A_SELECT, string_select},
        {A_SORT, string_sort},
        {A_SWAP, string_swap},
        {A_TAKE, series_take},
        {A_TRIM, string_trim},
        // put stays empty; the positional actions come from series!.
        {A_RANDOM, ACTION_INHERIT}, {A_REFLECT, ACTION_INHERIT}, {A_AT, ACTION_INHERIT},
        {A_BACK, ACTION_INHERIT}, {A_CLEAR, ACTION_INHERIT}, {A_COPY, ACTION_INHERIT},
        {A_HEAD, A_INDEX_Q, ACTION_INHERIT}, {A_LENGTH_Q, A_POKE, ACTION_INHERIT},
        {A_REMOVE, ACTION_INHERIT}, {A_REVERSE, ACTION_INHERIT}, {A_SKIP, ACTION_INHERIT},
        {A_TAIL, ACTION_INHERIT}, {A_TAIL_Q, ACTION_INHERIT}, {A_MODIFY, ACTION_INHERIT},
    };
    datatype_register(T_STRING, T_SERIES, "string!", actions);
}

} // namespace kel
