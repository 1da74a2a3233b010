// block!: the actions that search a block and change it, and the block case
// of the set operations. A hash! keeps its index in step with every change,
// and every change is reported to the block's owner before and after it.
#include "core/block.hpp"
#include "core/cycle.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/ownership.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/sort.hpp"
#include "core/string.hpp"
#include "core/stack.hpp"
#include "core/typeset.hpp"
#include "core/vocabulary.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"
#include "runtime/native_guard.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kel {

static uint32_t length_of(const Cell* block) { return series_buffer_of(block)->length(); }
// A refinement that was not given has a null argument.
static bool given(const Cell* arg) { return arg != nullptr; }


// Scratch memory released on every way out: a few cells (one appended value,
// the common case) live in the holder itself, larger runs in a heap block.
struct HeapHold {
    alignas(16) unsigned char local[4 * sizeof(Cell)];
    void* memory;
    explicit HeapHold(size_t bytes) : memory(bytes <= sizeof local ? local : heap_alloc(bytes)) {}
    ~HeapHold() {
        if (memory != local) heap_free(memory);
    }
    HeapHold(const HeapHold&) = delete;
    HeapHold& operator=(const HeapHold&) = delete;
};

// ---- find, select --------------------------------------------------------------------------

enum FindMode { FIND_VALUE, FIND_TYPE, FIND_TYPESET, FIND_SEQUENCE };

// Where a search found its value: the index, and the cells it spans.
struct FindHit {
    int64_t index;  // -1 when none
    uint32_t span;
};

static bool cell_hit(const Cell* value, FindMode mode, const Cell* cell, int32_t op) {
    switch (mode) {
    case FIND_TYPE: return cell_type(cell) == uint8_t(datatype_id(value));
    case FIND_TYPESET: return typeset_has(value, cell_type(cell));
    default: return block_value_matches(value, cell, op);
    }
}

// Whether the value matches at absolute index i of a block of the given end.
static bool hit_at(const Cell* block, uint32_t i, uint32_t end, const Cell* value, FindMode mode,
                   uint32_t span, int32_t op) {
    if (mode != FIND_SEQUENCE) return cell_hit(value, mode, block_ks_abs_at(block, i), op);
    if (uint64_t(i) + span > end) return false;
    const Cell* seq = block_ks_abs_at(value, uint32_t(series_index(value)));
    for (uint32_t k = 0; k < span; k++)
        if (!block_value_matches(seq + k, block_ks_abs_at(block, i + k), op)) return false;
    return true;
}

// The hit of find or select; match (find alone) tries the current position only.
static FindHit find_hit(const Cell* series, const Cell* value, const FindOptions& o, bool match) {
    FindHit none{-1, 0};
    uint32_t length = length_of(series);
    if (length == 0) return none;
    int64_t index = std::max(series_index(series), 0);
    if (index >= length && !o.reverse) return none;
    index = std::min<int64_t>(index, length);

    int64_t step = series_skip_size(o.skip);
    int64_t end = length;  // one past the last cell searched
    bool with_part = given(o.part);
    if (with_part) {
        if (cell_type(o.part) == T_INTEGER) {
            if (cell_int(o.part) < 1) return none;
            end = std::min<int64_t>(index + cell_int(o.part), length);
        } else {
            if (cell_type(o.part) != cell_type(series) || series_node(o.part) != series_node(series))
                error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_PART), o.part);
            end = std::clamp<int64_t>(series_index(o.part), 0, length);
        }
    }

    uint8_t vt = cell_type(value);
    FindMode mode = FIND_VALUE;
    uint32_t span = 1;
    if (!o.only && vt == T_DATATYPE) mode = FIND_TYPE;
    else if (!o.only && vt == T_TYPESET) mode = FIND_TYPESET;
    else if (!o.only && block_family_q(vt)) {
        mode = FIND_SEQUENCE;
        span = uint32_t(std::max(block_ks_length_q(value), 0));
        if (span == 0) return none;
    }
    int32_t op = o.same ? CMP_SAME : o.case_ ? CMP_STRICT_EQUAL : CMP_FIND;

    // A hash! answers single values from its index.
    Node table = cell_type(series) == T_HASH ? series_extra(series) : 0;
    bool indexed = table && !match && mode == FIND_VALUE && !(vt == T_OBJECT && !o.same) &&
                   !(block_family_q(vt) && !(o.same && o.only));
    if (indexed) {
        int32_t at = hashtable_get(table, value, uint32_t(index), uint32_t(step), op, o.reverse, o.last);
        if (at < 0 || at >= end || (o.last && at < index)) return none;
        return FindHit{at, span};
    }

    // An integer sought by find's or strict equality matches integers of its
    // value alone: the cells are read in place (comparing allocates nothing).
    bool integer_key = mode == FIND_VALUE && vt == T_INTEGER && (op == CMP_FIND || op == CMP_STRICT_EQUAL);
    const Cell* cells = integer_key ? block_cells(series_buffer_of(series)) : nullptr;
    auto hit = [&](int64_t i, uint32_t limit) {
        if (!integer_key) return hit_at(series, uint32_t(i), limit, value, mode, span, op);
        return cell_type(&cells[i]) == T_INTEGER && integer_get(&cells[i]) == integer_get(value);
    };

    if (o.last || o.reverse) {
        int64_t from;
        if (with_part) from = end - 1;
        else if (o.last) from = int64_t(length) - span;
        else from = index - span;
        if (o.reverse && !with_part && from < 0) return none;
        int64_t low = o.last ? index : 0;
        for (int64_t i = from; i >= low; i -= step) {
            if (hit(i, uint32_t(length))) return FindHit{i, span};
            if (match) break;
        }
        return none;
    }
    for (int64_t i = index; i < end; i += step) {
        if (hit(i, uint32_t(end))) return FindHit{i, span};
        if (match) break;
    }
    return none;
}

const Cell* block_find(Cell* series, const Cell* value, const FindOptions& options) {
    FindHit hit = find_hit(series, value, options, options.match);
    if (hit.index < 0) {
        none_make_at(series);
        return series;
    }
    series_index_set(series, uint32_t(hit.index + (options.tail ? hit.span : 0)));
    return series;
}

const Cell* block_select(Cell* series, const Cell* value, const FindOptions& options) {
    FindHit hit = find_hit(series, value, options, false);
    // A block, paren or path key counts as its whole length; a hash! as one value.
    uint32_t span = !options.only && block_family_q(cell_type(value)) && cell_type(value) != T_HASH ? hit.span : 1;
    int64_t at = hit.index + span;
    if (hit.index < 0 || at >= int64_t(length_of(series))) {
        none_make_at(series);
        return series;
    }
    cell_copy(block_ks_abs_at(series, uint32_t(at)), series);
    return series;
}

// ---- put --------------------------------------------------------------------------------------

// Appends a copy of a value at the tail and enters it into a hash! index.
static void cell_append_entered(Cell* series, const Cell* value) {
    uint32_t at = length_of(series);
    block_ks_append(series, value);
    hash_index_enter(series, at, 1);
}

void block_put(Cell* series, const Cell* key, const Cell* value, bool case_) {
    Cell* probe = stack_push(series);
    Cell* k = stack_push(key);
    Cell* v = stack_push(value);
    FindHit hit = find_hit(probe, k, FindOptions{.only = true, .case_ = case_}, false);
    if (hit.index < 0) {
        int32_t at = int32_t(length_of(probe));
        bool owned = series_notify(probe, W_PUT, at, 1);
        cell_append_entered(probe, k);
        cell_append_entered(probe, v);
        series_notify_after(owned, probe, W_PUT_ED, at, 1);
    } else {
        uint32_t at = uint32_t(hit.index) + 1;
        bool owned = series_notify(probe, W_PUT, int32_t(at), 1);
        if (at < length_of(probe)) {
            if (!block_value_matches(v, block_ks_abs_at(probe, at), CMP_FIND)) {
                hash_index_drop(probe, at, 1);
                cell_copy(v, block_ks_abs_at(probe, at));
                hash_index_enter(probe, at, 1);
            }
        } else {
            cell_append_entered(probe, v);
        }
        series_notify_after(owned, probe, W_PUT_ED, int32_t(at), 1);
    }
    cell_copy(v, series);
    stack_pop(3);
}

// ---- insert, append, change ----------------------------------------------------------------------

// The cells a value contributes: a block-like value's cells from its position
// (not under only), else the value itself. Returns their number, limited by
// part when part is 0 or more.
static uint32_t source_count(const Cell* value, bool only, int32_t part) {
    if (only || !block_family_q(cell_type(value))) return 1;
    uint32_t n = uint32_t(std::max(block_ks_length_q(value), 0));
    if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
    return n;
}

// total = count x dup in cells, within what a buffer can hold.
static uint32_t total_cells(uint32_t count, int32_t dup) {
    uint64_t total = uint64_t(count) * uint64_t(std::max(dup, 0));
    if (total * sizeof(Cell) > uint64_t(INT32_MAX)) error_raise(ERR_NO_MEMORY);
    return uint32_t(total);
}

// Makes room for need cells in all (twice the need for small dup counts).
static SeriesBuffer* cells_reserve(Node node, uint32_t need_length, int32_t dup) {
    SeriesBuffer* b = series_buffer(node);
    uint64_t need = uint64_t(need_length) * sizeof(Cell);
    if (need <= b->size - b->head) return b;
    uint64_t size = dup < 5 ? need * 2 : need;
    if (size > uint64_t(INT32_MAX)) size = need;
    return series_grow_copy(b, int32_t((size + 15) & ~uint64_t(15)));
}

// Fills cells [at, at + total) with copies of n source cells held in src,
// repeated to fill the total by doubling copies.
static void cells_fill(Cell* cells, uint32_t at, const Cell* src, uint32_t n, uint32_t total) {
    if (total == 0) return;
    std::memcpy(cells + at, src, size_t(n) * sizeof(Cell));
    uint32_t done = n;
    while (done < total) {
        uint32_t chunk = std::min(done, total - done);
        std::memcpy(cells + at + done, cells + at, size_t(chunk) * sizeof(Cell));
        done += chunk;
    }
}

// Copies the n source cells to a heap block; called right before they are
// placed, with nothing allocated in between.
static Cell* source_cells_copy(const Cell* value, bool splice, uint32_t n, HeapHold& hold) {
    Cell* copy = static_cast<Cell*>(hold.memory);
    if (splice) std::memcpy(copy, block_ks_abs_at(value, uint32_t(series_index(value))), size_t(n) * sizeof(Cell));
    else cell_copy(value, copy);
    return copy;
}

void block_insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup,
                  bool append) {
    Cell* v = stack_push(value);
    bool splice = !only && block_family_q(cell_type(v));
    if (append && !splice && dup == 1) {
        // One value at the tail: nothing to splice, repeat or move up.
        uint32_t at = length_of(series);
        if (uint64_t(at) + 1 > uint64_t(INT32_MAX) / sizeof(Cell)) error_raise(ERR_NO_MEMORY);
        // The common block, neither owned nor a hash!, is told apart here
        // without the calls.
        bool owned = ownership_possible_q(series) && series_notify(series, W_APPEND, int32_t(at), 1);
        uint32_t length = length_of(series);  // the owner's handler may have changed the block
        SeriesBuffer* b = cells_reserve(series_node(series), length + 1, dup);
        cell_copy(v, block_cells(b) + length);
        b->tail += sizeof(Cell);
        if (cell_type(series) == T_HASH) hash_index_enter(series, length, 1);
        series_notify_after(owned, series, W_APPENDED, int32_t(length), 1);
        series_index_set(series, 0);
        stack_pop(1);
        return;
    }
    uint32_t n = source_count(v, only, part);
    if (n == 0) {
        stack_pop(1);
        return;
    }
    uint32_t length = length_of(series);
    uint32_t at = append ? length : series_index_clamped(series);
    uint32_t total = total_cells(n, dup);
    if (uint64_t(length) + total > uint64_t(INT32_MAX) / sizeof(Cell)) error_raise(ERR_NO_MEMORY);
    bool owned = series_notify(series, append ? W_APPEND : W_INSERT, int32_t(at), int32_t(total));
    length = length_of(series);  // the owner's handler may have changed the block
    at = std::min(at, length);
    if (append) at = length;
    SeriesBuffer* b = cells_reserve(series_node(series), length + total, dup);
    HeapHold hold(size_t(n) * sizeof(Cell));
    Cell* src = source_cells_copy(v, splice, n, hold);
    b = series_buffer_of(series);
    Cell* cells = block_cells(b);
    std::memmove(cells + at + total, cells + at, size_t(length - at) * sizeof(Cell));
    cells_fill(cells, at, src, n, total);
    b->tail += total * sizeof(Cell);
    hash_index_shift(series, int32_t(total), at, length - at);
    hash_index_enter(series, at, total);
    series_notify_after(owned, series, append ? W_APPENDED : W_INSERTED, int32_t(at), int32_t(total));
    series_index_set(series, append ? 0 : std::min(at + total, length_of(series)));
    stack_pop(1);
}

void block_change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    Cell* v = stack_push(value);
    bool splice = !only && block_family_q(cell_type(v));
    uint32_t index = series_index_clamped(series);
    series_index_set(series, index);
    uint32_t length = length_of(series);
    uint32_t remainder = length - index;
    uint32_t count = source_count(v, only, -1);
    uint32_t n = total_cells(count, dup);
    uint32_t replaced = part >= 0 ? std::min(uint32_t(part), remainder) : std::min(n, remainder);
    if (uint64_t(length) + n > uint64_t(INT32_MAX) / sizeof(Cell)) error_raise(ERR_NO_MEMORY);
    bool owned = series_notify(series, W_CHANGE, int32_t(index), int32_t(replaced));
    length = length_of(series);
    index = std::min(index, length);
    replaced = std::min(replaced, length - index);
    uint32_t new_length = length + n - replaced;
    SeriesBuffer* b = cells_reserve(series_node(series), std::max(new_length, length), 1);
    // The new cells are taken before anything moves, so a source on this
    // buffer is read where it stands now.
    HeapHold hold(size_t(count) * sizeof(Cell));
    Cell* src = source_cells_copy(v, splice, count, hold);
    b = series_buffer_of(series);
    Cell* cells = block_cells(b);
    std::memmove(cells + index + n, cells + index + replaced,
                 size_t(length - index - replaced) * sizeof(Cell));
    cells_fill(cells, index, src, count, n);
    b->tail = b->head + new_length * uint32_t(sizeof(Cell));
    hash_index_rebuild(series);
    series_notify_after(owned, series, W_CHANGED, int32_t(index), int32_t(n));
    series_index_set(series, std::min(index + n, length_of(series)));
    stack_pop(1);
}

// ---- sort ----------------------------------------------------------------------------------------

static SortCallFn sort_call = nullptr;

void block_sort_call_set(SortCallFn call) { sort_call = call; }

void block_sort_call(const Cell* function, const Cell* a, const Cell* b, Cell* out) {
    if (!sort_call) error_raise(ERR_FEATURE_NA);  // a program without the interpreter
    sort_call(function, a, b, out);
}

// What the comparator of one sort needs. The records are the indexes of their
// first cells in a pinned copy of the sorted stretch, held on the data stack:
// a comparator that evaluates code may move or change the series itself
// without touching what is being sorted.
struct SortContext {
    const Cell* copy;      // the pinned copy (a data-stack cell)
    const Cell* function;  // user comparator, or null
    uint32_t size;         // cells per record
    uint32_t field;        // cell compared within the record (0-based)
    bool all;              // compare every cell of the record
    bool reverse;
    int32_t op;            // CMP_SORT or CMP_SORT_CASE
};

static int32_t sort_cells(const Cell* a, const Cell* b, int32_t op) {
    auto compare = action_slot_as<CompareFn>(cell_type(a), A_COMPARE);
    int32_t r = compare ? compare(a, b, op) : COMPARE_INCOMPARABLE;
    if (r == COMPARE_INCOMPARABLE) return int32_t(cell_type(a)) - int32_t(cell_type(b));
    return r;
}

// The user comparator's answer as an order.
static int32_t sort_answer(const Cell* r) {
    switch (cell_type(r)) {
    case T_LOGIC: return logic_get(r) ? 1 : -1;
    case T_INTEGER: return cell_int(r);
    case T_FLOAT: {
        double d = cell_double(r);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case T_NONE: return -1;
    default: return 1;
    }
}

// A block holding one record of the copy, pushed on the stack.
static Cell* record_push(const SortContext* s, uint32_t at) {
    Cell* record = block_push_only(int32_t(s->size));
    for (uint32_t k = 0; k < s->size; k++) block_ks_append(record, block_ks_abs_at(s->copy, at + k));
    return record;
}

static int sort_compare_records(const void* pa, const void* pb, uintptr_t context, uintptr_t) {
    auto* s = reinterpret_cast<const SortContext*>(context);
    uint32_t ia, ib;
    std::memcpy(&ia, pa, 4);
    std::memcpy(&ib, pb, 4);
    if (s->reverse) std::swap(ia, ib);
    if (s->function) {
        // The comparator takes the second record first.
        Cell *first, *second;
        if (s->all) {
            first = record_push(s, ib);
            second = record_push(s, ia);
        } else {
            first = stack_push(block_ks_abs_at(s->copy, ib + s->field));
            second = stack_push(block_ks_abs_at(s->copy, ia + s->field));
        }
        Cell* result = stack_push_new(T_NONE);
        block_sort_call(s->function, first, second, result);
        int32_t order = sort_answer(result);
        stack_pop(3);
        return order;
    }
    uint32_t from = s->all ? 0 : s->field;
    uint32_t to = s->all ? s->size : s->field + 1;
    for (uint32_t k = from; k < to; k++) {
        int32_t r = sort_cells(block_ks_abs_at(s->copy, ia + k), block_ks_abs_at(s->copy, ib + k), s->op);
        if (r != 0) return r;
    }
    return 0;
}

// Whether the first count cells of a block are all integers.
static bool integers_only(const Cell* block, uint32_t count) {
    const Cell* cells = block_ks_abs_at(block, 0);
    for (uint32_t i = 0; i < count; i++)
        if (cell_type(&cells[i]) != T_INTEGER) return false;
    return true;
}

// Whether count integer cells differ in their values alone (same header
// flags, same unused words).
static bool uniform_integers(const Cell* cells, uint32_t count) {
    for (uint32_t i = 1; i < count; i++)
        if (!integer_alike_q(&cells[i], &cells[0])) return false;
    return true;
}

// Sorts a stretch of integers by their values alone, through records of the
// value and the cell's place in the copy; the integers' comparison answers
// as sort_compare_records would, so the cells end in the same order.
static void sort_integers(Cell* series, const Cell* copy, uint32_t start, uint32_t count,
                          bool reverse, bool stable) {
    const Cell* src = block_ks_abs_at(copy, 0);
    if (uniform_integers(src, count)) {
        // Cells of equal value are alike, so any order of ties is the same
        // block: the values sort on their own.
        HeapHold values_hold(size_t(count) * sizeof(int32_t));
        auto* values = static_cast<int32_t*>(values_hold.memory);
        for (uint32_t r = 0; r < count; r++) values[r] = cell_int(&src[r]);
        if (reverse) std::sort(values, values + count, std::greater<int32_t>());
        else std::sort(values, values + count);
        if (uint64_t(start) + count > length_of(series)) return;
        Cell* dst = block_ks_abs_at(series, start);
        Cell cell = src[0];
        for (uint32_t r = 0; r < count; r++) {
            integer_set(&cell, int32_t(values[r]));
            dst[r] = cell;
        }
        hash_index_rebuild(series);
        return;
    }
    HeapHold order(size_t(count) * sizeof(SortKeyRecord));
    auto* records = static_cast<SortKeyRecord*>(order.memory);
    for (uint32_t r = 0; r < count; r++) records[r] = SortKeyRecord{cell_int(&src[r]), r};
    if (stable) sort_stable_keys(records, count, reverse);
    else sort_unstable_keys(records, count, reverse);
    if (uint64_t(start) + count > length_of(series)) return;
    Cell* dst = block_ks_abs_at(series, start);
    src = block_ks_abs_at(copy, 0);
    for (uint32_t r = 0; r < count; r++) dst[r] = src[records[r].tag];
    hash_index_rebuild(series);
}

void block_sort(Cell* series, bool case_, const Cell* skip, const Cell* compare, const Cell* part,
                bool all, bool reverse, bool stable) {
    uint32_t index = series_index_clamped(series);
    int64_t start = index;
    int64_t count = int64_t(length_of(series)) - index;
    if (given(part)) {
        int64_t c = series_part_count(series, part);
        if (c < 0) {
            start = std::max<int64_t>(index + c, 0);
            count = index - start;
        } else {
            count = std::min(c, count);
        }
    }
    // Nothing to sort: nothing happens, whatever the refinements say.
    if (count == 0) {
        series_index_set(series, uint32_t(start));
        return;
    }
    uint32_t size = uint32_t(series_skip_size(skip, {.records = count, .below_one_invalid = true}));
    if (all && !given(skip)) error_raise(ERR_BAD_REFINES);
    SortContext s{nullptr, nullptr, size, 0, all, reverse, case_ ? CMP_SORT_CASE : CMP_SORT};
    if (given(compare)) {
        uint8_t ct = cell_type(compare);
        if (ct == T_FUNCTION) {
            s.function = compare;
        } else if (ct == T_INTEGER) {
            if (!given(skip) || all) error_raise(ERR_BAD_REFINES);
            int32_t field = cell_int(compare);
            if (field < 1 || uint32_t(field) > size) {
                Cell n = *compare;
                error_raise(ERR_OUT_OF_RANGE, &n);
            }
            s.field = uint32_t(field - 1);
        } else {
            error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_COMPARE), compare);
        }
    }
    series_index_set(series, uint32_t(start));
    if (count == 0) return;

    bool owned = series_notify(series, W_SORT, int32_t(start), 0);
    Cell* copy = stack_push(series);
    Cell* held = block_clone(copy, false, false);
    cell_copy(held, copy);
    stack_pop(1);
    cell_type_set(copy, T_BLOCK);
    series_extra_set(copy, 0);
    s.copy = copy;
    uint32_t records = uint32_t(count) / size;
    if (!s.function && size == 1 && integers_only(copy, records)) {
        sort_integers(series, copy, uint32_t(start), records, reverse, stable);
        stack_pop(1);
        series_notify_after(owned, series, W_SORTED, int32_t(start), 0);
        return;
    }
    HeapHold order(size_t(records) * 4);
    auto* at = static_cast<uint32_t*>(order.memory);
    for (uint32_t r = 0; r < records; r++) at[r] = r * size;
    if (stable) sort_stable(at, records, 4, uintptr_t(&s), 0, sort_compare_records);
    else sort_unstable(at, records, 4, uintptr_t(&s), 0, sort_compare_records);

    // The sorted records go back only where the stretch still exists: a
    // comparator may have shortened the series.
    if (uint64_t(start) + uint64_t(count) <= length_of(series)) {
        Cell* dst = block_ks_abs_at(series, uint32_t(start));
        const Cell* src = block_ks_abs_at(copy, 0);
        for (uint32_t r = 0; r < records; r++)
            std::memcpy(dst + size_t(r) * size, src + at[r], size_t(size) * sizeof(Cell));
        hash_index_rebuild(series);
    }
    stack_pop(1);
    series_notify_after(owned, series, W_SORTED, int32_t(start), 0);
}

// ---- take, swap, trim -----------------------------------------------------------------------------

// The deep copy of a series cell in place; other cells stay.
static void series_cell_deep_copy(Cell* cell) {
    uint8_t type = cell_type(cell);
    if (!series_cell_q(type)) return;
    Cell* copy = stack_push(cell);
    if (block_family_q(type)) {
        Cell* deep = block_clone(copy, true, true);
        cell_copy(deep, copy);
        stack_pop(1);
    } else {
        series_copy(copy, nullptr, false, nullptr);
    }
    copy->header = (cell->header & CELL_NEWLINE) | (copy->header & ~CELL_NEWLINE);
    cell_copy(copy, cell);
    stack_pop(1);
}

const Cell* block_take(Cell* series, Cell* part, bool deep, bool last) {
    series_take(series, part, deep, last);
    if (!deep) return series;
    if (block_family_q(cell_type(series)) && given(part)) {
        for (uint32_t i = 0; i < length_of(series); i++) {
            Cell* cell = stack_push(block_ks_abs_at(series, i));
            series_cell_deep_copy(cell);
            cell_copy(cell, block_ks_abs_at(series, i));
            stack_pop(1);
        }
    } else {
        series_cell_deep_copy(series);
    }
    return series;
}

void block_swap(Cell* series1, const Cell* series2) {
    if (!block_family_q(cell_type(series2))) error_raise(ERR_INVALID_ARG, series2);
    Cell* other = stack_push(series2);
    if (series_tail_q(series1) || series_tail_q(other)) {
        stack_pop(1);
        return;
    }
    uint32_t i1 = uint32_t(series_index(series1)), i2 = uint32_t(series_index(other));
    bool owned1 = series_notify(series1, W_SWAP, int32_t(i1), 1);
    bool owned2 = series_notify(other, W_SWAP, int32_t(i2), 1);
    if (!series_tail_q(series1) && !series_tail_q(other)) {
        hash_index_drop(series1, i1, 1);
        hash_index_drop(other, i2, 1);
        Cell* a = block_ks_abs_at(series1, i1);
        Cell* b = block_ks_abs_at(other, i2);
        Cell t = *a;
        *a = *b;
        *b = t;
        hash_index_enter(series1, i1, 1);
        hash_index_enter(other, i2, 1);
    }
    series_notify_after(owned1, series1, W_SWAPED, int32_t(i1), 1);
    series_notify_after(owned2, other, W_SWAPED, int32_t(i2), 1);
    stack_pop(1);
}

void block_trim(Cell* series, bool, bool, bool, bool, bool, const Cell*) {
    uint32_t index = series_index_clamped(series);
    bool owned = series_notify(series, W_TRIM, int32_t(index), 0);
    SeriesBuffer* b = series_buffer_of(series);
    Cell* cells = block_cells(b);
    uint32_t length = b->length();
    uint32_t kept = index;
    for (uint32_t i = index; i < length; i++)
        if (cell_type(cells + i) != T_NONE) cells[kept++] = cells[i];
    b->tail = b->head + kept * uint32_t(sizeof(Cell));
    if (kept != length) hash_index_rebuild(series);
    series_notify_after(owned, series, W_TRIMMED, int32_t(index), 0);
}

// ---- copy -------------------------------------------------------------------------------------------

// Kinds copied under /types besides series: values that own mutable data.
static bool copied_kind_q(uint8_t type) {
    return series_cell_q(type) || type == T_OBJECT || type == T_BITSET || type == T_ERROR ||
           type == T_MAP;
}

static bool type_selected(const Cell* types, uint8_t type) {
    if (cell_type(types) == T_DATATYPE) return uint8_t(datatype_id(types)) == type;
    if (cell_type(types) == T_TYPESET) return typeset_has(types, type);
    return false;
}

void block_copy(Cell* series, const Cell* part, bool deep, const Cell* types) {
    bool typed = given(types);
    if (!deep && !typed) {
        series_copy(series, part, false, nullptr);
        return;
    }
    native_stack_check();
    Node source = series_node(series);
    if (deep && cycles_find(source)) {
        cycles_reset();
        error_raise(ERR_NO_CYCLE);
    }
    Cell* kinds = typed ? stack_push(types) : nullptr;
    std::optional<CycleGuard> guard;
    if (deep) guard.emplace(source);
    series_copy(series, part, false, nullptr);
    if (cell_type(series) == T_HASH) {
        cell_type_set(series, T_BLOCK);
        series_extra_set(series, 0);
    }
    for (uint32_t i = 0; i < length_of(series); i++) {
        Cell* cell = stack_push(block_ks_abs_at(series, i));
        uint8_t type = cell_type(cell);
        bool take = typed ? type_selected(kinds, type) && copied_kind_q(type) : series_cell_q(type);
        if (take) {
            if (block_family_q(type) && deep) {
                block_copy(cell, nullptr, true, kinds);
            } else if (series_cell_q(type)) {
                series_copy(cell, nullptr, false, nullptr);
            } else if (auto copy = action_slot_as<CopyFn>(type, A_COPY)) {
                copy(cell, nullptr, deep, kinds);
            }
            cell->header = (block_ks_abs_at(series, i)->header & CELL_NEWLINE) |
                           (cell->header & ~CELL_NEWLINE);
            cell_copy(cell, block_ks_abs_at(series, i));
        }
        stack_pop(1);
    }
    if (kinds) stack_pop(1);
}

// ---- set operations ------------------------------------------------------------------------------------

// Holds a temporary index over a block: its own for a hash!, else a new one.
// The passes below take the index nodes by reference to their roots: a
// collection during a pass moves the nodes and re-points the roots.
struct SetIndex {
    HashTableRoot root;
    explicit SetIndex(const Cell* block)
        : root(cell_type(block) == T_HASH && series_extra(block)
                   ? series_extra(block)
                   : hashtable_init(series_node(block), std::max<uint32_t>(length_of(block), 4), HASH_BLOCK)) {}
};

// ---- block keys of set operations --------------------------------------------------------------
//
// A key that is itself a block (or paren, path, hash!) is found equal through
// block_compare, element by element. BlockKeys indexes such record keys by a
// hash of their elements that equal blocks always share, so a lookup compares
// only the keys in its bucket. Elements whose equality the hash cannot follow
// add only their kind: nested blocks (a cycle makes any two equal) and
// anything but words, numbers, strings, logic, none and datatypes.
//
// Under loose equality an integer, float or percent is near-equal to a number
// a few units in the last place away (or closer than FLOAT_EPSILON), so a
// number hashes by its band of NUMBER_BAND consecutive doubles in their order;
// one within NUMBER_EDGE of its band's edge may equal a number of the next
// band, and a lookup tries that band too (up to KEY_PROBES_MAX variants of a
// key). A key beyond that, or holding a number below NUMBER_BANDED_MIN in size
// (where the absolute tolerance spans many bands), is "inexact": it is
// compared with every key, as every key is compared with the inexact ones.

constexpr uint64_t NUMBER_BAND = uint64_t(1) << 16;
constexpr uint64_t NUMBER_EDGE = 128;  // above the near-equal distance from 2^-5 up
constexpr double NUMBER_BANDED_MIN = 0.03125;
constexpr size_t KEY_PROBES_MAX = 8;

static bool word_kind_q(uint8_t t) { return t == T_WORD || t == T_SET_WORD || t == T_LIT_WORD || t == T_GET_WORD; }
static bool number_kind_q(uint8_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }

static uint64_t hash_mix(uint64_t h, uint64_t v) {
    return h ^ (v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
}

// A double's place in the order of all doubles (-0.0 and 0.0 alike).
static uint64_t number_order(double x) {
    uint64_t bits = std::bit_cast<uint64_t>(x);
    return (bits >> 63) ? 0 - bits : bits | (uint64_t(1) << 63);
}

// The hashes a key may be found under, held without allocating: at most
// KEY_PROBES_MAX; none for an inexact key.
struct KeyHashes {
    uint64_t hash[KEY_PROBES_MAX];
    size_t count = 0;
    bool empty() const { return count == 0; }
    size_t size() const { return count; }
    void push_back(uint64_t h) { hash[count++] = h; }
    uint64_t& operator[](size_t k) { return hash[k]; }
    const uint64_t* begin() const { return hash; }
    const uint64_t* end() const { return hash + count; }
};

// The hashes a block key may be found under (op CMP_EQUAL or CMP_STRICT_EQUAL):
// its own first, then those of near-equal keys; none when it is inexact.
static KeyHashes block_key_hashes(const Cell* key, int32_t op) {
    bool strict = op == CMP_STRICT_EQUAL;
    uint32_t from = series_index_clamped(key);
    uint32_t length = length_of(key);
    KeyHashes hashes;
    hashes.push_back(hash_mix(cell_type(key), length - from));
    for (uint32_t i = from; i < length; i++) {
        const Cell* c = block_ks_abs_at(key, i);
        uint8_t t = cell_type(c);
        uint64_t v = t;
        bool edge = false;
        uint64_t neighbour = 0;
        if (word_kind_q(t)) {
            v = hash_mix(T_WORD, hash_value(c, strict));
        } else if (number_kind_q(t) && strict) {
            v = hash_mix(t, hash_value(c, true));
        } else if (number_kind_q(t)) {
            double x = t == T_INTEGER ? double(cell_int(c)) : cell_double(c);
            if (!std::isnan(x)) {
                if (std::fabs(x) < NUMBER_BANDED_MIN) return {};
                uint64_t order = number_order(x);
                v = hash_mix(T_FLOAT, order / NUMBER_BAND);
                uint64_t offset = order % NUMBER_BAND;
                edge = offset < NUMBER_EDGE || offset >= NUMBER_BAND - NUMBER_EDGE;
                neighbour = hash_mix(T_FLOAT, offset < NUMBER_EDGE ? order / NUMBER_BAND - 1
                                                                   : order / NUMBER_BAND + 1);
            }
        } else if (string_family_q(t) || t == T_LOGIC || t == T_NONE || t == T_DATATYPE) {
            v = hash_mix(t, hash_value(c, strict));
        }
        size_t n = hashes.size();
        if (edge) {
            if (2 * n > KEY_PROBES_MAX) return {};
            for (size_t k = 0; k < n; k++) hashes.push_back(hash_mix(hashes[k], neighbour));
        }
        for (size_t k = 0; k < n; k++) hashes[k] = hash_mix(hashes[k], v);
    }
    return hashes;
}

// The positions of exact block keys by hash: open addressing with linear
// probing over a flat array kept at most half full, so that a lookup reads one
// short run of slots; equal hashes take slots of their own.
struct KeyPlaces {
    struct Slot {
        uint64_t hash;
        uint32_t at;  // position + 1; 0 for an empty slot
    };
    std::vector<Slot> slots;
    size_t used = 0;

    size_t mask() const { return slots.size() - 1; }
    // The hashes' low bits are not spread enough for a power-of-two table:
    // the slot is taken from a multiplied hash's high half.
    size_t start(uint64_t h) const {
        uint64_t m = h * 0x9E3779B97F4A7C15ull;
        return size_t(m >> 32) & mask();
    }
    void put(uint64_t h, uint32_t at) {
        if (2 * (used + 1) > slots.size()) grow();
        size_t i = start(h);
        while (slots[i].at) i = (i + 1) & mask();
        slots[i] = {h, at + 1};
        used++;
    }
    void grow() {
        std::vector<Slot> old = std::move(slots);
        slots.assign(std::max<size_t>(16, old.size() * 2), Slot{0, 0});
        used = 0;
        for (const Slot& s : old)
            if (s.at) put(s.hash, s.at - 1);
    }
    // Calls found(position) for each key of the hash until it answers true.
    template <class Found> bool find(uint64_t h, Found found) const {
        if (slots.empty()) return false;
        for (size_t i = start(h); slots[i].at; i = (i + 1) & mask())
            if (slots[i].hash == h && found(slots[i].at - 1)) return true;
        return false;
    }
};

// The block keys of the records of a block from its position, by hash.
struct BlockKeys {
    bool built = false;
    KeyPlaces exact;
    std::vector<uint32_t> inexact;

    void enter(const Cell* block, uint32_t at, int32_t op) {
        const Cell* key = block_ks_abs_at(block, at);
        if (!block_family_q(cell_type(key))) return;
        KeyHashes hashes = block_key_hashes(key, op);
        if (hashes.empty()) inexact.push_back(at);
        else exact.put(hashes[0], at);
    }
    void build(const Cell* block, uint32_t size, int32_t op) {
        built = true;
        for (uint32_t i = series_index_clamped(block); i < length_of(block); i += size) enter(block, i, op);
    }
    // Whether a record key of the block matches a block key.
    bool holds(const Cell* block, const Cell* key, uint32_t size, int32_t op) {
        KeyHashes hashes = block_key_hashes(key, op);
        if (hashes.empty()) {
            uint32_t length = length_of(block);
            for (uint32_t i = series_index_clamped(block); i < length; i += size)
                if (block_value_matches(key, block_ks_abs_at(block, i), op)) return true;
            return false;
        }
        for (uint64_t h : hashes)
            if (exact.find(h, [&](uint32_t at) {
                    return block_value_matches(key, block_ks_abs_at(block, at), op);
                }))
                return true;
        for (uint32_t at : inexact)
            if (block_value_matches(key, block_ks_abs_at(block, at), op)) return true;
        return false;
    }
};

// The indexes of a block whose record keys are looked up: its hash table for
// keys of every kind and, once a block key is met, its block keys.
struct SetLookup {
    const Node& table;
    BlockKeys blocks;
};

// Whether the other block holds the key among its record keys from its position.
static bool set_member(const Cell* other, SetLookup& index, const Cell* key, uint32_t size, int32_t op) {
    if (block_family_q(cell_type(key))) {
        if (!index.blocks.built) index.blocks.build(other, size, op);
        return index.blocks.holds(other, key, size, op);
    }
    return hashtable_get(index.table, key, series_index_clamped(other), size, op, false, false) >= 0;
}

// Appends the record at i of source to the result unless its key is there.
static void set_keep(Cell* result, SetLookup& kept, const Cell* source, uint32_t i, uint32_t size,
                     int32_t op) {
    Cell* key = stack_push(block_ks_abs_at(source, i));
    if (set_member(result, kept, key, size, op)) {
        stack_pop(1);
        return;
    }
    uint32_t length = length_of(source);
    uint32_t start = length_of(result);
    for (uint32_t k = 0; k < size && i + k < length; k++) {
        uint32_t at = length_of(result);
        block_ks_append(result, block_ks_abs_at(source, i + k));
        int status = HASH_PUT_DONE;
        hashtable_put_cell(kept.table, at, &status);
    }
    if (kept.blocks.built) kept.blocks.enter(result, start, op);
    stack_pop(1);
}

// One pass over source: keeps the records whose key is (want) or is not
// (!want) in other; with no other, every record.
static void set_pass(Cell* result, SetLookup& kept, const Cell* source, const Cell* other,
                     SetLookup* others, bool want, uint32_t size, int32_t op) {
    for (uint32_t i = series_index_clamped(source); i < length_of(source); i += size) {
        if (other) {
            Cell* key = stack_push(block_ks_abs_at(source, i));
            bool member = set_member(other, *others, key, size, op);
            stack_pop(1);
            if (member != want) continue;
        }
        set_keep(result, kept, source, i, size, op);
    }
}

void block_set_op(Cell* a, const Cell* b, bool case_, const Cell* skip, int32_t op) {
    uint32_t size = uint32_t(series_skip_size(skip, {.below_one_invalid = true}));
    bool two = op != SET_UNIQUE;
    Cell* second = two ? stack_push(b) : nullptr;
    bool hashed = cell_type(a) == T_HASH || (two && cell_type(second) == T_HASH);
    uint32_t capacity = length_of(a) + (op == SET_UNION ? length_of(second) : 0);
    Cell* result = block_push_only(int32_t(std::max<uint32_t>(capacity, 1)));
    HashTableRoot table(hashtable_init(series_node(result), std::max<uint32_t>(capacity, 4), HASH_BLOCK));
    int32_t cmp = case_ ? CMP_STRICT_EQUAL : CMP_EQUAL;
    SetLookup kept{table.node, {}};
    switch (op) {
    case SET_UNIQUE:
        set_pass(result, kept, a, nullptr, nullptr, true, size, cmp);
        break;
    case SET_UNION:
        set_pass(result, kept, a, nullptr, nullptr, true, size, cmp);
        set_pass(result, kept, second, nullptr, nullptr, true, size, cmp);
        break;
    case SET_INTERSECT:
    case SET_EXCLUDE: {
        SetIndex other(second);
        SetLookup others{other.root.node, {}};
        set_pass(result, kept, a, second, &others, op == SET_INTERSECT, size, cmp);
        break;
    }
    case SET_DIFFERENCE: {
        SetIndex other_b(second);
        SetLookup in_b{other_b.root.node, {}};
        set_pass(result, kept, a, second, &in_b, false, size, cmp);
        SetIndex other_a(a);
        SetLookup in_a{other_a.root.node, {}};
        set_pass(result, kept, second, a, &in_a, false, size, cmp);
        break;
    }
    default:
        break;
    }
    if (hashed) {
        cell_type_set(result, T_HASH);
        series_extra_set(result, table.node);
    }
    Cell out = *result;
    stack_pop(two ? 2 : 1);
    *a = out;
}

} // namespace kel
