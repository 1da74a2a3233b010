// series!: positional functions and the actions every series type shares.
// The functions work on buffer bytes through the element size (unit) and look
// at the value's type only where an element becomes a value or a value an
// element.
#include "core/series.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/numbers.hpp"
#include "core/ownership.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include "core/symbol.hpp"
#include "core/context.hpp"
#include "core/vector_items.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/random.hpp"
#include "runtime/collector.hpp"
#include "runtime/heap.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kel {

// ---- type families ------------------------------------------------------------------

bool series_cell_q(uint8_t type) {
    return block_family_q(type) || string_family_q(type) || type == T_BINARY ||
           type == T_VECTOR || type == T_IMAGE;
}

// ---- positional functions -------------------------------------------------------------


bool series_tail_q(const Cell* series) {
    SeriesBuffer* b = series_buffer_of(series);
    int64_t at = (int64_t(series_index(series)) << b->shift()) + b->head;
    return at >= int64_t(b->tail);
}

uint32_t series_buffer_length(const Cell* series) { return series_buffer_of(series)->length(); }

uint32_t series_length_at(Cell* series, bool from_head) {
    uint32_t length = series_buffer_length(series);
    int32_t index = from_head ? 0 : std::max(series_index(series), 0);
    if (uint32_t(index) > length) {
        series_index_set(series, int32_t(length));
        return 0;
    }
    return length - uint32_t(index);
}

bool series_skip(Cell* series, int32_t n) {
    uint32_t length = series_buffer_length(series);
    int64_t moved = int64_t(series_index(series)) + n;
    if (moved <= int64_t(length)) series_index_set(series, int32_t(moved));
    return moved >= int64_t(length);
}

void series_make_at(Cell* cell, uint8_t type, Node node, int32_t index) {
    cell_init(cell, type);
    series_index_set(cell, index);
    series_node_set(cell, node);
}

uint32_t series_index_clamped(const Cell* series) {
    int32_t index = series_index(series);
    uint32_t length = series_buffer_length(series);
    if (index < 0) return 0;
    return std::min(uint32_t(index), length);
}

// A refinement that was not given has a null argument.
static bool given(const Cell* arg) { return arg != nullptr; }

int32_t series_part_count(const Cell* series, const Cell* part) {
    if (cell_type(part) == T_INTEGER) return cell_int(part);
    if (cell_type(part) == cell_type(series) && series_node(part) == series_node(series))
        return series_index(part) - series_index(series);
    error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_PART), part);
}

int32_t series_skip_size(const Cell* skip, SkipRule rule) {
    if (!skip) return 1;
    if (cell_type(skip) != T_INTEGER) error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_SKIP), skip);
    int32_t size = cell_int(skip);
    if (size < 1 && !rule.below_one_invalid) {
        Cell n = *skip;  // a copy: the argument may lie in a buffer the raise moves
        error_raise(ERR_OUT_OF_RANGE, &n);
    }
    if (size < 1 || (rule.records >= 0 && (size > rule.records || rule.records % size != 0)))
        error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_SKIP), skip);
    return size;
}

bool series_notify(const Cell* series, uint32_t word, int32_t index, int32_t count) {
    if (!ownership_possible_q(series)) return false;
    return ownership_check(series, runtime_word(RuntimeWord(word)), index, count);
}

// ---- hash! index upkeep --------------------------------------------------------------------

static Node hash_table_of(const Cell* series) {
    return cell_type(series) == T_HASH ? series_extra(series) : 0;
}

void hash_index_drop(const Cell* series, uint32_t at, uint32_t count) {
    if (Node table = hash_table_of(series)) hashtable_delete_range(table, at, count);
}

void hash_index_shift(const Cell* series, int32_t delta, uint32_t from, uint32_t behind) {
    Node table = hash_table_of(series);
    if (!table || behind == 0) return;
    if (hashtable_shift_indices(table, delta, from, behind, true)) hash_index_rebuild(series);
}

void hash_index_enter(const Cell* series, uint32_t at, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        Node table = hash_table_of(series);  // re-read: entering may collect
        if (!table) return;
        int status = HASH_PUT_DONE;
        hashtable_put_cell(table, at + i, &status);
        if (status == HASH_PUT_REBUILT) return;
    }
}

void hash_index_rebuild(const Cell* series) {
    if (Node table = hash_table_of(series))
        hashtable_rebuild_any(hashtable_record(table), series_buffer_length(series));
}

void hash_index_new(Cell* series) {
    if (cell_type(series) != T_HASH) return;
    series_extra_set(series, 0);
    Node table = hashtable_init(series_node(series), std::max<uint32_t>(series_buffer_length(series), 4),
                                HASH_BLOCK);
    series_extra_set(series, table);
}

// ---- elements as values -----------------------------------------------------------------------

void series_element_value(const Cell* series, uint32_t index, Cell* out) {
    uint8_t type = cell_type(series);
    SeriesBuffer* b = series_buffer_of(series);
    if (block_family_q(type) || type == T_MAP) {
        cell_copy(block_cells(b) + index, out);
    } else if (type == T_BINARY) {
        integer_make_at(out, b->head_ptr()[index]);
        out->header = T_INTEGER;
    } else if (string_family_q(type)) {
        char_make_at(out, int32_t(string_ks_char_at(series, index)));
    } else if (type == T_VECTOR) {
        vector_item_at(series, index, out);
    } else {
        datatype_hooks(type).element(series, index, out);
    }
}

// ---- random -------------------------------------------------------------------------------------

// Exchanges two elements of unit bytes at absolute indexes.
static void element_swap(Node node, uint32_t i, uint32_t j) {
    SeriesBuffer* b = series_buffer(node);
    uint32_t u = b->unit();
    uint8_t tmp[16];
    uint8_t* a = b->head_ptr() + size_t(i) * u;
    uint8_t* c = b->head_ptr() + size_t(j) * u;
    std::memcpy(tmp, a, u);
    std::memcpy(a, c, u);
    std::memcpy(c, tmp, u);
}

void series_random(Cell* series, bool seed, bool secure, bool only) {
    uint32_t index = series_index_clamped(series);
    uint32_t left = series_buffer_length(series) - index;
    if (seed) {
        SeriesBuffer* b = series_buffer_of(series);
        uint32_t shift = b->shift();
        random_mt_seed(murmur3_32(b->head_ptr() + (size_t(index) << shift),
                                      size_t(left) << shift, hash_seed()));
        unset_make_at(series);
        return;
    }
    if (only) {
        if (left == 0) {
            none_make_at(series);
            return;
        }
        uint32_t at = index + uint32_t(random_in_range(secure, int32_t(left))) - 1;
        Cell element;
        series_element_value(series, at, &element);
        cell_copy(&element, series);
        return;
    }
    bool owned = series_notify(series, W_RANDOM, int32_t(index), int32_t(left));
    for (uint32_t i = index; left > 1; i++, left--) {
        uint32_t j = i + uint32_t(random_in_range(secure, int32_t(left))) - 1;
        if (j != i) element_swap(series_node(series), i, j);
    }
    hash_index_rebuild(series);
    series_notify_after(owned, series, W_RANDOMIZED, int32_t(index), 0);
}

// ---- reflect, modify ----------------------------------------------------------------------------

static bool field_is_owned(const Cell* field) {
    uint8_t t = cell_type(field);
    bool word = t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD || t == T_SET_WORD;
    return word && symbol_resolve(word_symbol(field)) == symbol_resolve(runtime_symbol(SYM_OWNED));
}

void series_reflect(Cell* series, const Cell* field) {
    if (!field_is_owned(field)) error_raise(ERR_NOT_DONE);
    Cell owner;
    ownership_find(series_node(series), &owner);
    cell_copy(&owner, series);
}

void series_modify(Cell* series, const Cell* field, const Cell* value) {
    if (field_is_owned(field)) {
        if (cell_type(value) == T_NONE) {
            ownership_clear_deep(series);
        } else if (block_family_q(cell_type(value)) && block_ks_length_q(value) >= 2) {
            // Copies on the stack: setting ownership allocates.
            Cell* head = block_ks_abs_at(value, series_index_clamped(value));
            Cell* object = stack_push(head);
            Cell* word = stack_push(head + 1);
            if (cell_type(object) == T_OBJECT) ownership_set_deep(series, object, word);
            stack_pop(2);
        }
    }
    cell_copy(value, series);
}

// ---- positions ----------------------------------------------------------------------------------

static void set_series_index_clamped(Cell* series, int64_t index) {
    int64_t length = series_buffer_length(series);
    series_index_set(series, int32_t(std::clamp<int64_t>(index, 0, length)));
}

void series_at(Cell* series, const Cell* index) {
    if (cell_type(index) != T_INTEGER) error_raise(ERR_INVALID_ARG, index);
    int64_t n = cell_int(index);
    int64_t i = series_index(series);
    set_series_index_clamped(series, n >= 1 ? i + n - 1 : i + n);
}

void series_skip_by(Cell* series, const Cell* offset) {
    if (cell_type(offset) != T_INTEGER) error_raise(ERR_INVALID_ARG, offset);
    set_series_index_clamped(series, int64_t(series_index(series)) + cell_int(offset));
}

void series_back(Cell* series) {
    uint32_t index = series_index_clamped(series);
    series_index_set(series, int32_t(index > 0 ? index - 1 : 0));
}

void series_next(Cell* series) { series_skip(series, 1); }
void series_head(Cell* series) { series_index_set(series, 0); }
void series_tail(Cell* series) { series_index_set(series, int32_t(series_buffer_length(series))); }
void series_head_q(Cell* series) { logic_make_at(series, series_index(series) == 0); }
void series_tail_q_action(Cell* series) { logic_make_at(series, series_tail_q(series)); }

void series_index_q(Cell* series) {
    int32_t index = series_index(series);
    cell_init(series, T_INTEGER);
    integer_set(series, index + 1);
}

int32_t series_length_q(const Cell* series) {
    // The clamped index is written back into the value, as every reader expects.
    return int32_t(series_length_at(const_cast<Cell*>(series), false));
}

// ---- pick, poke ----------------------------------------------------------------------------------

// The absolute element index n designates (n > 0 counts from 1, n < 0 back
// from the position), or -1 when n is 0 or the index lies outside the buffer.
static int64_t pick_index(const Cell* series, const Cell* n) {
    int64_t k;
    if (!index_argument(n, &k)) error_raise(ERR_INVALID_ARG, n);
    if (k == 0) return -1;
    int64_t at = int64_t(series_index_clamped(series)) + (k > 0 ? k - 1 : k);
    return at < 0 || at >= int64_t(series_buffer_length(series)) ? -1 : at;
}

void series_pick(Cell* series, const Cell* index) {
    // An integer into a block or a string, the common pick: the element is
    // read with one look at the buffer, as the general steps below read it.
    // The units of both are known (cells of 16 bytes; characters of 1, 2 or
    // 4 bytes, whose log2 is unit / 2), so no table of units is read.
    uint8_t type = cell_type(series);
    if (cell_type(index) == T_INTEGER) {
        bool cells = block_family_q(type);
        if (cells || string_family_q(type)) {
            SeriesBuffer* b = series_buffer_of(series);
            uint32_t unit = cells ? uint32_t(sizeof(Cell)) : b->unit();
            uint32_t shift = cells ? 4 : unit >> 1;
            int64_t length = (b->tail - b->head) >> shift, k = cell_int(index);
            int64_t at = std::clamp<int64_t>(series_index(series), 0, length) + (k > 0 ? k - 1 : k);
            if (k == 0 || at < 0 || at >= length) {
                cell_init(series, T_NONE);
                return;
            }
            const uint8_t* element = b->head_ptr() + (size_t(at) << shift);
            if (cells) {
                cell_copy(reinterpret_cast<const Cell*>(element), series);
                return;
            }
            uint32_t c;
            switch (unit) {
            case 1: c = *element; break;
            case 2: { uint16_t u; std::memcpy(&u, element, 2); c = u; break; }
            default: c = string_get_char(element, unit); break;
            }
            cell_init(series, T_CHAR);
            series->w2 = c;
            return;
        }
    }
    int64_t at = pick_index(series, index);
    if (at < 0) {
        none_make_at(series);
        return;
    }
    Cell element;
    series_element_value(series, uint32_t(at), &element);
    cell_copy(&element, series);
}

void series_poke(Cell* series, const Cell* index, const Cell* value) {
    int64_t at = pick_index(series, index);
    if (at < 0) {
        Cell n = *index;
        error_raise(ERR_OUT_OF_RANGE, &n);
    }
    uint8_t type = cell_type(series);
    uint8_t vtype = cell_type(value);
    if (string_family_q(type) && vtype != T_CHAR) error_raise(ERR_INVALID_ARG, value);
    if (type == T_BINARY && vtype != T_CHAR && vtype != T_INTEGER) error_raise(ERR_INVALID_ARG, value);
    if (!block_family_q(type) && !string_family_q(type) && type != T_BINARY && type != T_VECTOR)
        action_unsupported(type);

    uint32_t i = uint32_t(at);
    bool owned = series_notify(series, W_POKE, int32_t(i), 1);
    if (block_family_q(type)) {
        hash_index_drop(series, i, 1);
        cell_copy(value, block_ks_abs_at(series, i));
        hash_index_enter(series, i, 1);
    } else if (type == T_BINARY) {
        series_buffer_of(series)->head_ptr()[i] = uint8_t(cell_int(value));
    } else if (type == T_VECTOR) {
        SeriesBuffer* b = series_buffer_of(series);
        vector_store_item(b->head_ptr() + size_t(i) * b->unit(), value, b->unit(), vector_item_type(series));
    } else {
        SeriesBuffer* b = series_buffer_of(series);
        string_write_char(series, i << b->shift(), uint32_t(cell_int(value)));
    }
    series_notify_after(owned, series, W_POKED, int32_t(i), 1);
    cell_copy(value, series);
}

// ---- clear, remove ------------------------------------------------------------------------------

void series_clear(Cell* series) {
    uint32_t index = series_index_clamped(series);
    uint32_t count = series_buffer_length(series) - index;
    if (count == 0) return;
    bool owned = series_notify(series, W_CLEAR, int32_t(index), int32_t(count));
    hash_index_drop(series, index, count);
    SeriesBuffer* b = series_buffer_of(series);
    b->tail = b->head + (index << b->shift());
    series_notify_after(owned, series, W_CLEARED, int32_t(index), 0);
}

// Removes count elements at an absolute index (count clipped to the tail);
// a hash! drops and shifts its stored positions.
static void elements_remove(const Cell* series, uint32_t at, uint32_t count) {
    uint32_t length = series_buffer_length(series);
    if (at >= length) return;
    count = std::min(count, length - at);
    hash_index_drop(series, at, count);
    SeriesBuffer* b = series_buffer_of(series);
    uint32_t shift = b->shift();
    uint8_t* from = b->head_ptr() + (size_t(at + count) << shift);
    std::memmove(b->head_ptr() + (size_t(at) << shift), from, size_t(b->tail_ptr() - from));
    b->tail -= count << shift;
    hash_index_shift(series, -int32_t(count), at + count, length - at - count);
}

void series_remove(Cell* series, Cell* part, Cell* key) {
    int64_t count = 1;
    if (given(part)) {
        count = series_part_count(series, part);
        if (count < 1) return;
    }
    uint32_t index = series_index_clamped(series);
    uint32_t at = index;
    if (given(key)) {
        auto find = action_lookup_value_as<FindFn>(series, A_FIND);
        Cell* probe = stack_push(series);
        const Cell* found = find(probe, key, FindOptions{});
        if (cell_type(found) == T_NONE) {
            stack_pop(1);
            none_make_at(series);
            return;
        }
        at = uint32_t(series_index(found));
        stack_pop(1);
        count += 1;
    }
    uint32_t length = series_buffer_length(series);
    if (at >= length) return;
    count = std::min<int64_t>(count, length - at);
    bool owned = series_notify(series, W_REMOVE, int32_t(at), int32_t(count));
    elements_remove(series, at, uint32_t(count));
    series_notify_after(owned, series, W_REMOVED, int32_t(at), 0);
}

// Removes element runs given as (index, count) pairs, ascending and apart,
// moving each kept stretch once. Not for hash! (whose index is not kept here)
// nor owned series (whose owners are not told).
void series_remove_runs(const Cell* series, const std::vector<std::pair<uint32_t, uint32_t>>& runs) {
    if (runs.empty()) return;
    SeriesBuffer* b = series_buffer_of(series);
    uint32_t shift = b->shift();
    uint32_t length = b->length();
    uint8_t* head = b->head_ptr();
    uint32_t write = runs[0].first;
    for (size_t r = 0; r < runs.size(); r++) {
        uint32_t from = std::min(runs[r].first + runs[r].second, length);
        uint32_t to = r + 1 < runs.size() ? std::min(runs[r + 1].first, length) : length;
        if (to > from) {
            std::memmove(head + (size_t(write) << shift), head + (size_t(from) << shift), size_t(to - from) << shift);
            write += to - from;
        }
    }
    b->tail = b->head + (write << shift);
}

// ---- reverse --------------------------------------------------------------------------------------

void series_reverse(Cell* series, const Cell* part, const Cell* skip) {
    uint32_t index = series_index_clamped(series);
    int64_t count = series_buffer_length(series) - index;
    if (count == 0) return;
    if (given(part)) {
        count = std::min<int64_t>(series_part_count(series, part), count);
        if (count < 1) return;
    }
    int64_t size = series_skip_size(skip, {.records = count});
    if (size == count) return;
    bool owned = series_notify(series, W_REVERSE, int32_t(index), int32_t(count));
    SeriesBuffer* b = series_buffer_of(series);
    size_t record = size_t(size) * b->unit();
    uint8_t local[16];
    uint8_t* temp = size == 1 ? local : static_cast<uint8_t*>(heap_alloc(record));
    uint8_t* lo = b->head_ptr() + size_t(index) * b->unit();
    uint8_t* hi = lo + size_t(count) * b->unit() - record;
    for (; lo < hi; lo += record, hi -= record) {
        std::memcpy(temp, lo, record);
        std::memcpy(lo, hi, record);
        std::memcpy(hi, temp, record);
    }
    if (temp != local) heap_free(temp);
    hash_index_rebuild(series);
    series_notify_after(owned, series, W_REVERSED, int32_t(index), int32_t(count));
}

// ---- copy -----------------------------------------------------------------------------------------

// A new series of the same type and unit holding count elements from an
// absolute index, written into out (which must be rooted or on the stack).
void series_copy_range(const Cell* series, uint32_t from, uint32_t count, Cell* out) {
    uint32_t unit = series_buffer_of(series)->unit();
    uint8_t type = cell_type(series);
    uint32_t header = series->header;
    uint32_t w3 = series_extra(series);
    Node node = series_new_units(count ? count : 1, unit);
    SeriesBuffer* src = series_buffer_of(series);  // re-read: the allocation may move it
    SeriesBuffer* dst = series_buffer(node);
    std::memcpy(dst->head_ptr(), src->head_ptr() + size_t(from) * unit, size_t(count) * unit);
    dst->tail = dst->head + count * unit;
    series_make_at(out, type, node, 0);
    out->header = (header & CELL_NEWLINE) | type;
    // word 3: a vector keeps its element type; a hash! gets an index of its
    // own; a string's conversion buffer stays with the source.
    if (type == T_VECTOR) series_extra_set(out, w3);
    hash_index_new(out);
}

void series_copy(Cell* series, const Cell* part, bool, const Cell*) {
    int64_t start = series_index_clamped(series);
    int64_t length = series_buffer_length(series);
    int64_t count = length - start;
    if (given(part)) {
        if (cell_type(part) == T_PAIR) {
            int64_t x = pair_x(part), y = pair_y(part);
            int64_t index = series_index(series);
            start = std::max<int64_t>(x < 0 ? index + x : index + x - 1, 0);
            count = y < x ? 0 : y - x;
        } else {
            count = series_part_count(series, part);
        }
        if (count < 0) {
            count = -count;
            start -= count;
            if (start < 0) {
                count = count + start;
                start = 0;
            }
        }
    }
    if (start > length) {
        start = length;
        count = 0;
    }
    count = std::min(count, length - start);
    Cell* out = stack_push_new(T_NONE);
    series_copy_range(series, uint32_t(start), uint32_t(count), out);
    cell_copy(out, series);
    stack_pop(1);
}

// ---- take -----------------------------------------------------------------------------------------

const Cell* series_take(Cell* series, Cell* part, bool, bool last) {
    uint32_t index = series_index_clamped(series);
    uint32_t length = series_buffer_length(series);
    int64_t remaining = int64_t(length) - index;
    if (remaining < 1) {
        none_make_at(series);
        return series;
    }
    int64_t count = 1;
    bool with_part = given(part);
    if (with_part) {
        if (cell_type(part) == T_INTEGER) {
            count = cell_int(part);
        } else {
            count = series_part_count(series, part);
            int64_t other = series_index(part);
            if (other < int64_t(index)) count = 0;
            else if (last) count = int64_t(index) + remaining - other;
        }
    }
    int64_t available = remaining;
    bool before = false;
    if (count < 0) {
        available = index;
        count = last ? 1 : -count;
        before = !last;
    }
    count = std::min(count, available);
    uint8_t type = cell_type(series);
    if (!with_part && !block_family_q(type) && !string_family_q(type) && type != T_BINARY &&
        type != T_VECTOR)
        action_unsupported(type);
    uint32_t at = last ? length - uint32_t(count) : before ? index - uint32_t(count) : index;

    if (count == 0) {
        Cell* out = stack_push_new(T_NONE);
        series_copy_range(series, 0, 0, out);
        cell_copy(out, series);
        stack_pop(1);
        return series;
    }
    // Owners hear where the values leave: /last and a count before the
    // position take them elsewhere than at the position.
    bool owned = series_notify(series, W_TAKE, int32_t(at), int32_t(count));
    Cell* out = stack_push_new(T_NONE);
    if (with_part) series_copy_range(series, at, uint32_t(count), out);
    else series_element_value(series, at, out);
    elements_remove(series, at, uint32_t(count));
    series_notify_after(owned, series, W_TAKEN, int32_t(at), int32_t(count));
    cell_copy(out, series);
    stack_pop(1);
    return series;
}

// ---- move -----------------------------------------------------------------------------------------

// Saves count elements from an absolute index and places them at `to` of
// the same buffer, the elements between shifting to close the gap.
static void move_within(Node node, uint32_t from, uint32_t count, uint32_t to_after) {
    SeriesBuffer* b = series_buffer(node);
    uint32_t u = b->unit();
    uint8_t* base = b->head_ptr();
    size_t bytes = size_t(count) * u;
    auto* saved = static_cast<uint8_t*>(heap_alloc(bytes));
    std::memcpy(saved, base + size_t(from) * u, bytes);
    if (to_after > from) {
        // [from + count, to_after) moves down; the saved land before to_after.
        std::memmove(base + size_t(from) * u, base + size_t(from + count) * u,
                     size_t(to_after - from - count) * u);
        std::memcpy(base + size_t(to_after - count) * u, saved, bytes);
    } else {
        // [to_after, from) moves up; the saved land at to_after.
        std::memmove(base + size_t(to_after + count) * u, base + size_t(to_after) * u,
                     size_t(from - to_after) * u);
        std::memcpy(base + size_t(to_after) * u, saved, bytes);
    }
    heap_free(saved);
}

// Opens a gap of count elements at an absolute index of the target (growing
// its buffer) and copies the origin's elements into it.
static void move_between(Cell* origin, uint32_t from, uint32_t count, Cell* target, uint32_t to) {
    SeriesBuffer* tb = series_buffer_of(target);
    uint32_t u = tb->unit();
    uint32_t tlen = tb->length();
    uint64_t need = uint64_t(tb->tail) + uint64_t(count) * u;
    if (need > tb->size) {
        if (need * 2 > INT32_MAX) error_raise(ERR_NO_MEMORY);
        series_grow_copy(tb, int32_t((need * 2 + 15) & ~uint64_t(15)));
    }
    tb = series_buffer_of(target);
    SeriesBuffer* ob = series_buffer_of(origin);
    uint8_t* gap = tb->head_ptr() + size_t(to) * u;
    std::memmove(gap + size_t(count) * u, gap, size_t(tlen - to) * u);
    std::memcpy(gap, ob->head_ptr() + size_t(from) * u, size_t(count) * u);
    tb->tail += count * u;
    hash_index_shift(target, int32_t(count), to, tlen - to);
    hash_index_enter(target, to, count);
    elements_remove(origin, from, count);
}

void series_move(Cell* origin, Cell* target, const Cell* part) {
    uint8_t otype = cell_type(origin), ttype = cell_type(target);
    if (!series_cell_q(otype)) {
        Cell arg = word_intern("origin");
        error_raise_type(ERR_EXPECT_ARG, runtime_word(W_MOVE), otype, &arg);
    }
    uint32_t from = series_index_clamped(origin);
    uint32_t olen = series_buffer_length(origin);
    if (from >= olen) {
        cell_copy(target, origin);
        return;
    }
    int64_t count = 1;
    if (given(part)) {
        if (cell_type(part) != T_INTEGER)
            error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_PART), part);
        count = std::min<int64_t>(cell_int(part), olen - from);
    }
    if (count < 1) {
        cell_copy(target, origin);
        return;
    }
    uint32_t c = uint32_t(count);

    if (series_node(origin) != series_node(target)) {
        bool origin_text = string_family_q(otype), target_text = string_family_q(ttype);
        bool same_family = (block_family_q(otype) && block_family_q(ttype)) ||
                           (origin_text && target_text) || otype == ttype;
        if (!series_cell_q(ttype) || !same_family) {
            error_raise_type(ERR_MOVE_BAD, otype, ttype);
        }
        uint32_t ounit = series_buffer_of(origin)->unit(), tunit = series_buffer_of(target)->unit();
        if (ounit != tunit && !(origin_text && target_text)) {
            error_raise_type(ERR_MOVE_BAD, otype, ttype);
        }
        uint32_t to = series_index_clamped(target);
        bool owned = series_notify(origin, W_MOVE, int32_t(from), int32_t(c));
        if (ounit == tunit) {
            move_between(origin, from, c, target, to);
        } else {
            series_index_set(origin, int32_t(from));
            string_move_chars(origin, target, c);
        }
        // The target's owner hears of the change whatever the units were.
        series_notify_after(owned, target, W_MOVED, series_index(target), int32_t(c));
        cell_copy(target, origin);
        return;
    }

    // Same buffer.
    uint32_t to = series_index_clamped(target);
    if (to == from) {
        cell_copy(target, origin);
        return;
    }
    uint32_t to_after;
    if (to > from) {
        // A target inside the moved stretch has nowhere to go.
        if (to < from + c) {
            cell_copy(target, origin);
            return;
        }
        to_after = std::min(to + 1, olen);  // behind the target element
    } else {
        to_after = to;
    }
    bool owned = series_notify(origin, W_MOVE, int32_t(from), int32_t(c));
    move_within(series_node(origin), from, c, to_after);
    hash_index_rebuild(origin);
    series_notify_after(owned, target, W_MOVED, int32_t(to), int32_t(c));
    cell_copy(target, origin);
}

// ---- registration ---------------------------------------------------------------------------------

void init_series() {
    const ActionRow actions[] = {
        {A_RANDOM, series_random},
        {A_REFLECT, series_reflect},
        {A_AT, series_at},
        {A_SKIP, series_skip_by},
        {A_BACK, series_back},
        {A_NEXT, series_next},
        {A_HEAD, series_head},
        {A_TAIL, series_tail},
        {A_HEAD_Q, series_head_q},
        {A_TAIL_Q, series_tail_q_action},
        {A_INDEX_Q, series_index_q},
        {A_LENGTH_Q, series_length_q},
        {A_PICK, series_pick},
        {A_POKE, series_poke},
        {A_CLEAR, series_clear},
        {A_REMOVE, series_remove},
        {A_MOVE, series_move},
        {A_REVERSE, series_reverse},
        {A_TAKE, series_take},
        {A_COPY, series_copy},
        {A_MODIFY, series_modify},
    };
    datatype_register(T_SERIES, 0, "series!", actions);
}

} // namespace kel
