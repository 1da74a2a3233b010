// block!: the series of value cells in which code and data are written.
// paren!, hash! and the path types reuse these functions. The cell-array
// functions below walk and build blocks for every module; they trust their
// callers (no type checks, no errors).
//
// A returned Cell* into a block buffer is valid only until the next call that
// can allocate a series or evaluate.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

struct FindOptions;  // core/registry.hpp

// ---- cell-array functions ---------------------------------------------------------

// The cells of a block-family buffer from its head, which is index 0 of every
// value on it. Valid until the next allocation.
inline Cell* block_cells(SeriesBuffer* buffer) { return reinterpret_cast<Cell*>(buffer->head_ptr()); }
inline Cell* block_cells(Node node) { return block_cells(series_buffer(node)); }
// One past the last cell in use: where the next appended cell goes.
inline Cell* block_tail_cells(SeriesBuffer* buffer) { return reinterpret_cast<Cell*>(buffer->tail_ptr()); }

// Cells from the position to the tail (the index is not clamped: negative
// when the position lies past the tail).
int32_t block_ks_length_q(const Cell* block);
// Advances the index by one when a cell remains; true when the new position is the tail.
bool block_ks_next(Cell* block);
// The cell at the position; an index past the tail is first set to the tail.
Cell* block_ks_head(Cell* block);
// One past the last cell.
Cell* block_ks_tail(const Cell* block);
// True when the position is exactly the tail.
bool block_ks_tail_q(const Cell* block);
// The cell at an absolute index (from the buffer start).
Cell* block_ks_abs_at(const Cell* block, uint32_t index);
// Sets the tail to the position (no owner notification).
void block_ks_clear(const Cell* block);
// Sets the tail to an absolute index.
void block_ks_tail_at(const Cell* block, uint32_t index);
// Appends a copy of a cell at the tail (growing the buffer; the value may lie
// in the same buffer) and returns the new cell.
Cell* block_ks_append(const Cell* block, const Cell* value);
// Appends copies of the source's cells, from its position, at the target's tail.
void block_copy_cells(const Cell* target, const Cell* source);
// Whether a cell matches a key under a comparison op, through the key
// type's comparison slot (a type without one matches identical payloads).
bool block_value_matches(const Cell* key, const Cell* cell, int32_t op);
// The cell after the first cell from the position equal to the key in the
// default find mode; none_cell when there is none or the match is the last cell.
const Cell* block_select_value(const Cell* block, const Cell* key);
// The cell after the first word of any word type with the word's symbol,
// exactly with case_, else by resolved alias; none_cell when absent or last.
const Cell* block_select_word(const Cell* block, const Cell* word, bool case_);
// Finds a value (default find mode) from the head or from the position and
// removes that cell. Returns -1 when absent, 1 when it lay at or before the
// position, else 0.
int32_t block_remove_value(Cell* block, const Cell* value, bool from_head);
// A new block pushed on the data stack holding copies of the cells from the
// position to the tail, typed like the source (capacity at least 1). With
// deep, every nested block! is cloned too; with parens also every paren! and path.
Cell* block_clone(const Cell* block, bool deep, bool parens);
// Inserts a copy of a cell at the position (or at the head), growing the
// buffer to twice the need when short; a hash! shifts and enters. With
// advance the position moves past the new cell.
void block_insert_cell(Cell* block, const Cell* value, bool at_head, bool advance);
// Inserts each cell of source (from its position) at the position of block,
// advancing it.
void block_insert_block(Cell* block, const Cell* source);
// Appends a copy of ARGS[1] at the tail of the block in ARGS[0].
void block_append_arg();
// Appends the stack top to the block just below it, and pops it.
void block_append_last();
// Inserts the stack top into the block just below it, advancing that block, and pops it.
void block_insert_last();

// ---- constructors -------------------------------------------------------------------

// An empty block! with room for capacity cells (negative counts as 1).
Cell* block_make_at(Cell* cell, int32_t capacity);
// The same; with fixed the buffer lives outside the frames and never moves,
// else the cells of the capacity are initialised to unset.
Cell* block_make_sized(Cell* cell, int32_t capacity, bool fixed);
// A new empty block in a new cell appended to parent (the root block when 0).
Cell* block_make_in(Node parent, int32_t capacity);
Cell* block_make_in_root();
// Pushes a copy of a block value.
Cell* block_push(const Cell* block);
// Pushes a new empty block (capacity 0 counts as 1).
Cell* block_push_only(int32_t capacity);

// ---- actions ------------------------------------------------------------------------

const Cell* block_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* block_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t block_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t block_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
// Writes the cells from the position with line layout; used by paren! and paths.
int32_t block_mold_each(const Cell* value, Cell* target, bool only, bool all, bool flat,
                        bool part, int32_t budget, int32_t indent);
int32_t block_compare(const Cell* value1, const Cell* value2, int32_t op);

// Path selection: get (set_value null) or set through an element. Writes the
// result of a get into out.
using EvalPathFn = void (*)(const Cell* parent, const Cell* element, const Cell* set_value,
                            const Cell* path, bool case_, Cell* out);
void block_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                     const Cell* path, bool case_, Cell* out);

// Search and modification (core/block_search.cpp). The argument of a
// refinement that was not given is null.
// find, select and take write their result into the series cell and return it.
const Cell* block_find(Cell* series, const Cell* value, const FindOptions& options);
const Cell* block_select(Cell* series, const Cell* value, const FindOptions& options);
using PutFn = void (*)(Cell* series, const Cell* key, const Cell* value, bool case_);
void block_put(Cell* series, const Cell* key, const Cell* value, bool case_);
// insert and append: part count -1 when absent; the result is written into series.
using InsertFn = void (*)(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup,
                          bool append);
void block_insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup,
                  bool append);
using ChangeFn = void (*)(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
void block_change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
using SortFn = void (*)(Cell* series, bool case_, const Cell* skip, const Cell* compare,
                        const Cell* part, bool all, bool reverse, bool stable);
void block_sort(Cell* series, bool case_, const Cell* skip, const Cell* compare,
                const Cell* part, bool all, bool reverse, bool stable);
const Cell* block_take(Cell* series, Cell* part, bool deep, bool last);
using SwapFn = void (*)(Cell* series1, const Cell* series2);
void block_swap(Cell* series1, const Cell* series2);
// trim: the refinements of the string family are ignored.
void block_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                const Cell* with);
void block_copy(Cell* series, const Cell* part, bool deep, const Cell* types);

// Set operations on the first two argument cells a and b (b ignored by
// unique); the result, a new series at index 0, replaces a.
enum SetOp : int32_t { SET_UNIQUE = 8, SET_UNION, SET_INTERSECT, SET_EXCLUDE, SET_DIFFERENCE };
void block_set_op(Cell* a, const Cell* b, bool case_, const Cell* skip, int32_t op);

// A user comparator of sort is a function!: the interpreter installs how it is
// called with two values, writing its result into out.
using SortCallFn = void (*)(const Cell* function, const Cell* a, const Cell* b, Cell* out);
void block_sort_call_set(SortCallFn call);
// Calls a sort comparator with two values through the installed path
// (internal error feature-na when none is installed).
void block_sort_call(const Cell* function, const Cell* a, const Cell* b, Cell* out);

void init_block();

} // namespace kel
