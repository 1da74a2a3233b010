// The interpreter: evaluates a block expression by expression on the data
// stack. Every entry reports how evaluation ended: EXIT_CODE_NONE, or the
// pending exit (break, continue, return, exit, throw) that a callee raised and
// that the caller must hand on at once, touching neither stack (see
// core/exits.hpp). Errors travel as LanguageError exceptions.
//
// Code positions are element indexes counted from the head of the block's
// buffer (not from the block value's own index). A block cell handed to an
// entry must be one the collector sees: on the data stack, in a root holder,
// or in a series that stays reachable; the entries copy what they keep.
#pragma once
#include "runtime/cell.hpp"
#include "core/exits.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// A stretch of code: the block (a rooted cell, see above) and the current and
// end positions, both counted from its buffer's head.
struct EvalCursor {
    const Cell* block;
    uint32_t position;
    uint32_t end;
};

// Refinements named by a path after a function: the path cell (rooted) and
// the position of its first refinement element; no path when path is null.
struct PathRefinements {
    const Cell* path;
    uint32_t from;
};

// ---- set-up and state --------------------------------------------------------------

// Makes the current position cell (a collector root).
void interpreter_init();

// The block being evaluated with its index at the expression being evaluated;
// errors read it for their `near` field. Blocks of library code are passed
// over for the user's block that called into them. Unset outside any
// evaluation.
Cell* interp_position();

// ---- evaluation --------------------------------------------------------------------

// Evaluates every expression of the block from its index in a block frame.
// The block cell is copied before anything is allocated, so it may lie anywhere.
// The value of the last expression (unset for an empty block) is copied into
// the caller's ARGS[0] when last is set, else left pushed.
ExitCode eval_block(const Cell* block, bool last);

// Calls a function value with count argument values from C++, by evaluating
// the block [function arg1 arg2 ...], and copies its result into out. An exit
// that leaves the call (throw, halt, quit) is carried on by exit_throw. The
// function and the arguments lie on the data stack or in roots.
void function_apply(const Cell* function, const Cell* args, uint32_t count, Cell* out);

// Evaluates one expression at the cursor in a native frame (word <body>) and
// advances the cursor past it. With push the value is pushed, else it goes to
// ARGS[0] with top := ARGS + 1.
ExitCode eval_next(EvalCursor& cursor, bool push);
// eval_next with push, where the code at the cursor is a value that needs no
// evaluation (value, read from the code or a word's slot) followed by the
// operator op (see operator_of), found while nothing is traced: the value is
// pushed as the evaluator would push it and the operators applied.
ExitCode eval_next_operators(EvalCursor& cursor, const Cell* value, const Cell* op);

// Evaluates the expression at *index (from the buffer's head) and stores the
// index after it; at the tail ARGS[0] := unset and the index stays (do/next).
ExitCode do_next_index(const Cell* block, uint32_t* index);

// Evaluates the expression at the cursor and advances it past the expression
// (and any infix operators after it unless no_infix). With push the value is
// pushed, else written into ARGS[0] with top := ARGS + 1. With
// literal_functions a function value met literally is the value itself.
ExitCode eval_expression(EvalCursor& cursor, bool no_infix, bool push, bool literal_functions);

// How a call is made, as flag bits: CALL_PUSH puts the result on the data
// stack (else it is written into ARGS[0] and becomes the last value); with
// CALL_INFIX the function is an operator whose left operand is the last
// pushed value; with CALL_NO_INFIX its arguments stop before an operator that
// follows them.
constexpr uint32_t CALL_PUSH = 1;
constexpr uint32_t CALL_INFIX = 2;
constexpr uint32_t CALL_NO_INFIX = 4;

// Calls a native!, action!, function! or routine! (or op! with infix), its
// arguments fetched from the cursor. word names the call (null: the cell
// before the position when it is a word); owner is the object the function was
// found in by a path (null when none).
ExitCode eval_code(const Cell* function, EvalCursor& cursor, const PathRefinements& path,
                   const Cell* word, const Cell* owner, uint32_t flags);

// Fetches, checks and places the arguments and refinements of the function
// in the frame just marked; for natives and actions also makes the call.
ExitCode fetch_arguments(const Cell* function, EvalCursor& cursor, const PathRefinements& path,
                         const Cell* name, bool infix);

// The argument cache of a function value (built on first use, kept in its
// "more" block): its node.
Node args_cache_build(const Cell* function);
// Whether a spec's argument cache fits the entry's own: the same arguments in
// the same order, each fetched the same way and accepting no type the entry's
// own does not, and the same refinements with the same arguments.
bool args_cache_fits(Node given, Node own);

// Runs a function! whose arguments are in place in the running frame. The
// trace mask turns tracing off for the call when it shares no bit with the
// tracer's settings (0: no test).
ExitCode exec_function(const Cell* function, Node self_context, const Cell* word,
                       uint32_t trace_mask);

// Runs the function's interpreted body (its first more cell) in the running
// frame, which it flags as the target of return and exit; those two end here.
ExitCode eval_function_body(const Cell* function, const Cell* word);

// Calls a routine! whose arguments are in place: its registered C++
// function (library/routines.hpp).
ExitCode exec_routine(const Cell* routine);

// How a path is evaluated: set writes ARGS[0] at its end (a set-path!), get
// reads without calling a function reached (a get-path!), push puts the
// result on the data stack (else in ARGS[0]), case_ selects case-sensitive
// keys.
struct PathOptions {
    bool set = false;
    bool get = false;
    bool push = false;
    bool case_ = false;
};

// Evaluates a path!, set-path! or get-path! (path: a rooted cell); a function
// it reaches fetches its arguments from the cursor.
ExitCode interp_eval_path(const Cell* path, EvalCursor& cursor, PathOptions options);

// The same for natives (get, set): the path cell (rooted), set? and case?.
// The result is written into ARGS[0]; for a set the value is ARGS[0].
ExitCode path_eval_for_native(const Cell* path, bool set, bool case_);

// ---- words ---------------------------------------------------------------------------

// The address of a bound word's value slot (a data-stack cell for a running
// function's context, else in the context's value block; valid until the
// next allocation). Unbound words raise no-value, a finished function's
// context not-in-context.
Cell* interp_word_slot(const Cell* word);

// The address of slot index of a context: in the running frame's cells for a
// context whose values live on the data stack, else in its value block
// (valid until the next allocation). A function context whose function is
// not running raises script error not-defined with the slot's word.
Cell* context_slot_at(Node context, uint32_t index);

// Cell n of the root block (valid until the next allocation).
Cell* root_cell_at(uint32_t n);

// ---- argument checks -------------------------------------------------------------------
// For natives called with check set (from C++ code outside the interpreter).
// A failure raises script error expect-arg with the running call's word, the
// value's datatype and the word of parameter param (counted in its spec from 0).

// Raises expect-arg naming the caller word, the type and the caller's parameter.
[[noreturn]] void expect_arg_raise(const Cell* caller, uint8_t type, uint32_t param);
void typeset_check(const Cell* typeset, uint32_t param, const Cell* value);
// Checks ARGS[position]; a negative position (absent refinement) passes.
void native_arg_check(const Cell* typeset, uint32_t param, int32_t position);
// The value itself unless it is unset.
const Cell* not_unset_check(uint32_t param, const Cell* value);

} // namespace kel
