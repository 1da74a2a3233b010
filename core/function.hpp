// Callable values: native!, action!, op!, function! and routine!.
//
// native! and action!: word 1 the index of the entry in the natives table
// (1..120) or the action entry table (1..62); word 2 its spec block's node;
// word 3 the "more" node, a block of two cells: a copy of the context! cell of
// a context made from its spec (kind function, values on the stack), and the
// argument cache (none until the interpreter first calls the value).
//
// op!: a copy of the source value (native, action, function or routine) with
// type 23 and the source's type id in header bits 16-23.
//
// function!: header flags FUNCTION_NO_TRACE and FUNCTION_TRACE from its spec's
// attribute block; word 1 the context node (kind function, values on the data
// stack while a call runs); word 2 its spec node (index 0); word 3 the "more"
// node, a block of five cells (MORE_*). The function cell is also the owner
// cell of its context.
//
// routine!: header flag ROUTINE_CELLS and its spec's word count in bits
// 25-29; words 1-3 as for function!, the third more cell holding the entry.
#pragma once
#include "core/block.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t FUNCTION_NO_TRACE = 0x200;  // tracing off while the body runs
constexpr uint32_t FUNCTION_TRACE = 0x400;     // tracing on while the body runs (do/trace only)
constexpr uint32_t ROUTINE_CELLS = 0x8000;     // routine takes and returns value cells
constexpr uint32_t OP_SOURCE_SHIFT = 16;       // op!: the source's type id in bits 16-23
constexpr uint32_t ROUTINE_WORDS_SHIFT = 25;   // routine!: spec word count, 5 bits

constexpr uint32_t ACTIONS_TABLE_SLOTS = 62;

// Cells of a function's or routine's more block.
enum MoreCell : uint32_t {
    MORE_BODY = 0,        // the bound body copy, or none
    MORE_ARGS_CACHE = 1,  // the argument cache (a block!) once built, else unset or none
    MORE_ENTRY = 2,       // integer! entry of compiled code, or unset
    MORE_OP = 3,          // a copy of the function once an op was made from it, or unset
    MORE_EXTRA = 4,       // integer! given by the maker, or unset
};
constexpr uint32_t MORE_CELLS = 5;
constexpr uint32_t MORE_NATIVE_CELLS = 2;
constexpr uint32_t MORE_NATIVE_CONTEXT = 0;  // native!/action!: its spec's context! cell

// Whether the type is one of the four that the interpreter calls.
inline bool callable_type_q(uint8_t type) {
    constexpr uint64_t callable =
        1ull << T_NATIVE | 1ull << T_ACTION | 1ull << T_FUNCTION | 1ull << T_ROUTINE;
    return type < 64 && ((callable >> type) & 1);
}
inline Node function_spec(const Cell* fn) { return fn->w2; }
inline Node function_more(const Cell* fn) { return fn->w3; }
inline Node function_context(const Cell* fn) { return fn->w1; }  // function!, routine!
inline uint32_t function_index(const Cell* fn) { return fn->w1; }  // native!, action!
inline void function_spec_set(Cell* fn, Node spec) { fn->w2 = spec; }
// Writes the whole payload of a function! or routine!, the header kept.
inline void function_set(Cell* fn, Node context, Node spec, Node more) {
    fn->w1 = context;
    fn->w2 = spec;
    fn->w3 = more;
}
// The type an op! was made from.
inline uint8_t op_source_type(const Cell* op) { return uint8_t(op->header >> OP_SOURCE_SHIFT); }
// Cell n of the more block; valid until the next allocation.
inline Cell* function_more_cell(const Cell* fn, uint32_t n) {
    return block_cells(function_more(fn)) + n;
}

// ---- constructors --------------------------------------------------------------------

// A native! or action! of its spec block (from its position) and table index,
// written into out (which the collector must see). The index is not checked;
// once start-up has set the references below, an argument block that does not
// fit the entry of its index raises script error bad-make-arg with arg (that
// block when null).
void native_make_at(Cell* out, const Cell* spec, uint32_t index, uint8_t type,
                    const Cell* arg = nullptr);

// The native! (or action!) values start-up made, as a block in table order
// (none where an index has none); set once per start-up, after a reset that
// lets start-up make them unchecked.
void callable_references_reset();
void callable_references_set(uint8_t type, const Cell* block);
// The value start-up made for the index, or null; valid until the next allocation.
const Cell* callable_reference(uint8_t type, uint32_t index);

// A function! written into out (which the collector must see). The spec and
// body are clamped to their tails; a spec not at index 0 is copied from its
// position; the body (when given, else none) is copied deep. Without a context
// (context 0) one is made from its spec and the body copy is bound to it.
// entry and extra, when not null, become the third and fifth more cells.
void function_make_at(Cell* out, const Cell* spec, const Cell* body, Node context,
                      const Cell* entry, const Cell* extra, uint32_t flags);

// A routine! pushed on the data stack (start-up only).
Cell* routine_make(const Cell* spec, const Cell* body, const Cell* entry, const Cell* extra,
                   bool cells);

// ---- specs ---------------------------------------------------------------------------

// Checks a function spec from its position; returns its attribute flags
// (FUNCTION_TRACE, FUNCTION_NO_TRACE). Violations raise script error
// bad-func-def with its spec; a later duplicate name dup-vars.
uint32_t function_check_spec(const Cell* spec);
// Whether a spec describes an operator: exactly two arguments, the first a
// word!, no refinement other than /local or /extern before the end.
bool function_op_spec_q(const Cell* spec);
// Cells the /local part of a spec takes from the start index: 1 for /local and
// one per word! after it; 0 without /local, -1 then when need_local.
int32_t function_count_locals(Node spec, uint32_t start, bool need_local);
// The n-th word, get-word, lit-word or refinement of a callable's spec (from
// 0), as a word!; none when its spec has fewer.
void function_parameter_word(const Cell* fn, uint32_t n, Cell* out);
// Pushes false and n - 1 none cells (an unused refinement and its arguments,
// or /local and its words).
void push_unused_refinement(uint32_t n);
// The locals of the `function` native: extends its spec block (in place) with
// /local and the set-words and loop words of the body not named in its spec.
void function_collect_locals(Cell* spec, const Cell* body);

// ---- actions of the five types -------------------------------------------------------

const Cell* native_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* op_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* function_make(Cell* proto, const Cell* spec, uint8_t type);
void native_reflect(Cell* value, const Cell* field);
void function_reflect(Cell* value, const Cell* field);
int32_t callable_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                      int32_t budget, int32_t indent);
int32_t callable_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                      int32_t budget, int32_t indent);
int32_t callable_compare(const Cell* value1, const Cell* value2, int32_t op);

void init_native();
void init_action();
void init_op();
void init_function();
void init_routine();

} // namespace kel
