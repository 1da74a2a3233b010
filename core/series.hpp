// series!: the abstract parent of every datatype whose value is a position in
// a series buffer (the block family, the string family, binary!, vector!,
// image!). Its module holds the positional functions every series type uses
// and the actions that behave alike on all series; child types inherit those
// slots, so a block!, a string! and a binary! reach the same function.
//
// A series value: word 1 the head index (signed, counted in elements, not
// bytes), word 2 the series node, word 3 type-specific. An index may lie past
// the tail (another value of the same buffer removed elements): every
// function here treats such a position as the tail.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>
#include <utility>
#include <vector>

namespace kel {

// ---- type families -------------------------------------------------------------

// block!, paren!, hash! and the four path types: value cells, walked by mold,
// spliced by insert.
inline bool block_family_q(uint8_t type) {
    return type == T_BLOCK || type == T_PAREN || type == T_HASH || type == T_PATH ||
           type == T_LIT_PATH || type == T_SET_PATH || type == T_GET_PATH;
}
// Every type whose value is a position in a series buffer (the string
// family is string_family_q of core/string.hpp).
bool series_cell_q(uint8_t type);

// ---- positional functions -------------------------------------------------------

inline int32_t series_index(const Cell* series) { return int32_t(series->w1); }
inline Node series_node(const Cell* series) { return series->w2; }
// The buffer of a series value; valid until the next allocation.
inline SeriesBuffer* series_buffer_of(const Cell* series) { return series_buffer(series->w2); }
// Word 3, whose meaning is the type's (a hash!'s index node, an image!'s size,
// a vector!'s item type).
inline uint32_t series_extra(const Cell* series) { return series->w3; }
inline void series_index_set(Cell* series, int32_t index) { series->w1 = uint32_t(index); }
inline void series_node_set(Cell* series, Node node) { series->w2 = node; }
inline void series_extra_set(Cell* series, uint32_t extra) { series->w3 = extra; }
// The index word itself, for loops that move a position in place.
inline uint32_t& series_index_word(Cell* series) { return series->w1; }
// The node words themselves, for the collector to mark and re-point.
inline Node* series_node_slot(Cell* series) { return &series->w2; }
inline Node* series_extra_slot(Cell* series) { return &series->w3; }

// True when the position is at or past the tail.
bool series_tail_q(const Cell* series);
// Elements in the whole buffer, the index ignored.
uint32_t series_buffer_length(const Cell* series);
// Elements from the position (or from index 0 with from_head) to the tail; a
// negative index counts as 0; an index past the tail is set to the buffer
// length and 0 is returned.
uint32_t series_length_at(Cell* series, bool from_head);
// Moves the index by n only when the new position does not pass the tail;
// true when index + n is at or past the tail, moved or not.
bool series_skip(Cell* series, int32_t n);
// The position clamped to 0 .. buffer length.
uint32_t series_index_clamped(const Cell* series);
// A series value of the given type on a node at an index (word 3 cleared).
void series_make_at(Cell* cell, uint8_t type, Node node, int32_t index);

// The count a /part argument gives from the series' position: an integer!
// as it is, or a series of the same type on the same buffer as the
// difference of the indexes; anything else raises script error
// invalid-refine-arg with /part and the value.
int32_t series_part_count(const Cell* series, const Cell* part);

// How a /skip size is checked beyond its type: the count of elements it must
// split into whole records (-1: any count), and which error a size below 1
// raises.
struct SkipRule {
    int64_t records = -1;
    bool below_one_invalid = false;  // invalid-refine-arg instead of out-of-range
};

// The record size a /skip argument gives; 1 when skip is null (not given). A
// value that is not an integer!, or a size larger than rule.records or not
// dividing it, raises script error invalid-refine-arg with /skip and the
// value; a size below 1 raises out-of-range with the size, or
// invalid-refine-arg with rule.below_one_invalid.
int32_t series_skip_size(const Cell* skip, SkipRule rule = {});

// Owner notification around a change (word: a RuntimeWord of the change or of
// its past form). series_notify answers whether an owner was told;
// series_notify_after runs only when it was.
bool series_notify(const Cell* series, uint32_t word, int32_t index, int32_t count);
inline void series_notify_after(bool owned, const Cell* series, uint32_t word, int32_t index,
                                int32_t count) {
    if (owned) series_notify(series, word, index, count);
}

// ---- hash! index upkeep ------------------------------------------------------------
// A hash! keeps an index of its cells beside its block (word 3). Each of
// these does nothing for any other value. Positions count from the buffer head.

// Before cells [at, at + count) leave the series.
void hash_index_drop(const Cell* series, uint32_t at, uint32_t count);
// After cells were inserted (delta > 0) or removed (delta < 0) at from: the
// positions of the cells behind them follow; rebuilds when shifting gives up.
void hash_index_shift(const Cell* series, int32_t delta, uint32_t from, uint32_t behind);
// Enters the cells [at, at + count).
void hash_index_enter(const Cell* series, uint32_t at, uint32_t count);
// Re-indexes every cell of the series.
void hash_index_rebuild(const Cell* series);
// Gives a hash! value a new index of its own over its buffer.
void hash_index_new(Cell* series);

// ---- action functions ------------------------------------------------------------
// Signatures of the slots that core/registry.hpp does not type: each writes
// its result into the first argument cell unless it returns the result cell.
// The argument of a refinement that was not given is null.

using SeriesMoveFn = void (*)(Cell* series, const Cell* arg);          // at, skip
using SeriesStepFn = void (*)(Cell* series);                           // back, next, head, tail,
                                                                       // head?, tail?, index?
using PickFn = void (*)(Cell* series, const Cell* index);              // pick
using PokeFn = void (*)(Cell* series, const Cell* index, const Cell* value);
using MoveFn = void (*)(Cell* origin, Cell* target, const Cell* part);  // result in origin
using ReverseFn = void (*)(Cell* series, const Cell* part, const Cell* skip);
using CopyFn = void (*)(Cell* series, const Cell* part, bool deep, const Cell* types);
using ReflectFn = void (*)(Cell* value, const Cell* field);
using ModifyFn = void (*)(Cell* value, const Cell* field, const Cell* arg);

void series_random(Cell* series, bool seed, bool secure, bool only);
void series_reflect(Cell* series, const Cell* field);
void series_at(Cell* series, const Cell* index);
void series_skip_by(Cell* series, const Cell* offset);
void series_back(Cell* series);
void series_next(Cell* series);
void series_head(Cell* series);
void series_tail(Cell* series);
void series_head_q(Cell* series);
void series_tail_q_action(Cell* series);
void series_index_q(Cell* series);
int32_t series_length_q(const Cell* series);
void series_pick(Cell* series, const Cell* index);
void series_poke(Cell* series, const Cell* index, const Cell* value);
void series_clear(Cell* series);
void series_remove(Cell* series, Cell* part, Cell* key);
// Removes element runs given as (index, count) pairs, ascending and apart,
// in one pass; the caller keeps any hash! index and owner up to date.
void series_remove_runs(const Cell* series, const std::vector<std::pair<uint32_t, uint32_t>>& runs);
void series_move(Cell* origin, Cell* target, const Cell* part);
void series_reverse(Cell* series, const Cell* part, const Cell* skip);
const Cell* series_take(Cell* series, Cell* part, bool deep, bool last);
void series_copy(Cell* series, const Cell* part, bool deep, const Cell* types);
// A new series of the same type holding count elements from an absolute index
// (both inside the buffer), written into out: what copy/part makes of a string,
// binary or vector series.
void series_copy_range(const Cell* series, uint32_t from, uint32_t count, Cell* out);
void series_modify(Cell* series, const Cell* field, const Cell* value);

// The element at an absolute index turned into a value (the cell for the
// block family, a char! for strings, an integer! byte for binary!), written
// into out.
void series_element_value(const Cell* series, uint32_t index, Cell* out);

void init_series();

} // namespace kel
