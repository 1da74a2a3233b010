// The natives: their entries in the natives table (index order fixed, see
// core/natives_table.hpp) and the words of the language's built-in functions.
#pragma once
#include "runtime/cell.hpp"
#include "core/natives_table.hpp"
#include <cstdint>
#include <string>

namespace kel {

// One native: its index in the natives table (fixed: native! values, boot
// data and serialised data carry it), its word, its spec block's text and
// its entry.
struct NativeRow {
    uint32_t index;
    const char* name;
    const char* spec;
    NativeFn fn;
};

// The natives one module defines; it exports its table, the library of
// natives lists the tables.
struct NativeTable {
    const NativeRow* rows;
    uint32_t count;
};
extern const NativeTable CONTROL_NATIVES;  // natives/control.cpp
extern const NativeTable FUNCTIONS_NATIVES;  // natives/functions.cpp
extern const NativeTable EVAL_NATIVES;  // natives/eval.cpp
extern const NativeTable WORDS_NATIVES;  // natives/words.cpp
extern const NativeTable PRINT_NATIVES;  // natives/print.cpp
extern const NativeTable COMPARE_NATIVES;  // natives/compare.cpp
extern const NativeTable PARSE_NATIVES;  // natives/parse.cpp
extern const NativeTable SETOPS_NATIVES;  // natives/setops.cpp
extern const NativeTable ENCODING_NATIVES;  // natives/encoding.cpp
extern const NativeTable SIGN_SHIFT_NATIVES;  // natives/sign_shift.cpp
extern const NativeTable MAXMIN_NATIVES;  // natives/maxmin.cpp
extern const NativeTable MATHS_NATIVES;  // natives/maths.cpp
extern const NativeTable CONSTRUCT_NATIVES;  // natives/construct.cpp
extern const NativeTable COERCE_NATIVES;  // natives/coerce.cpp
extern const NativeTable SYSTEM_NATIVES;  // natives/system.cpp
extern const NativeTable QUERY_NATIVES;  // natives/query.cpp

// Adds the table of natives a layer above defines (io/): natives_init fills
// the natives table from these too. Adding a table twice adds it once.
void natives_table_add(const NativeTable* table);

// Fills the natives table with the 107 natives at their indexes. A table
// that leaves an index empty or fills one twice raises internal error
// limit-hit.
void natives_init();

// The natives' set-words and spec blocks in index order, one per line, as
// source text.
std::string natives_spec_text();

// Sets the global words of the built-in values: every datatype, the standard
// typesets, the logic and none words, the 107 natives, the actions and the
// infix operators. Needs the lexer and the stacks; evaluates nothing.
void natives_words_define();

// ---- entries, by file --------------------------------------------------------------------
// Each follows the calling convention of core/natives_table.hpp.

// natives/control.cpp
ExitCode native_if(bool check, const int32_t* refinements);
ExitCode native_unless(bool check, const int32_t* refinements);
ExitCode native_either(bool check, const int32_t* refinements);
ExitCode native_any(bool check, const int32_t* refinements);
ExitCode native_all(bool check, const int32_t* refinements);
ExitCode native_while(bool check, const int32_t* refinements);
ExitCode native_until(bool check, const int32_t* refinements);
ExitCode native_loop(bool check, const int32_t* refinements);
ExitCode native_repeat(bool check, const int32_t* refinements);
ExitCode native_forever(bool check, const int32_t* refinements);
ExitCode native_switch(bool check, const int32_t* refinements);
ExitCode native_case(bool check, const int32_t* refinements);

// natives/eval.cpp
ExitCode native_do(bool check, const int32_t* refinements);
ExitCode native_try(bool check, const int32_t* refinements);
ExitCode native_break(bool check, const int32_t* refinements);
ExitCode native_continue(bool check, const int32_t* refinements);
ExitCode native_exit(bool check, const int32_t* refinements);
ExitCode native_return(bool check, const int32_t* refinements);
ExitCode native_throw(bool check, const int32_t* refinements);
ExitCode native_catch(bool check, const int32_t* refinements);

// natives/words.cpp
ExitCode native_get(bool check, const int32_t* refinements);
ExitCode native_set(bool check, const int32_t* refinements);
ExitCode native_reduce(bool check, const int32_t* refinements);
ExitCode native_compose(bool check, const int32_t* refinements);
ExitCode native_stats(bool check, const int32_t* refinements);
ExitCode native_bind(bool check, const int32_t* refinements);
ExitCode native_in(bool check, const int32_t* refinements);

// ---- shared steps ------------------------------------------------------------------------

// With check set, tests ARGS[n] against the type set of the native's n-th
// argument (counted over every argument of its spec, refinement arguments
// included) and raises script error expect-arg when its type is not in it.
void native_arg_check(uint32_t native_index, uint32_t n);
// The same for the first count arguments (the mandatory ones).
void native_args_check(bool check, uint32_t native_index, uint32_t count);
// The argument cell of the k-th refinement with an argument, null when absent.
Cell* native_refinement_arg(const int32_t* refinements, uint32_t k);
// Raises script error expect-arg for ARGS[n] of the running native (its word,
// the value's datatype, the argument's word): the answer of a native to a
// value its spec excludes, also met when no spec check ran before the call.
[[noreturn]] void native_expect_arg(uint32_t n);

// Assigns values to the first n elements of the words block (set and the
// block step of foreach): a series of values gives each word the value at
// its place (none past the tail), anything else (or only) gives every word
// the value itself. Checks every pair before assigning when values is a
// series: an element that is not a word raises invalid-arg, an unset value
// (without any) need-value. With some, a none value leaves its word alone.
// Both cells must be seen by the collector (data stack or roots).
void set_words(const Cell* words, const Cell* values, uint32_t n, bool any, bool only, bool some);

// try-result of compiled code: the caught error is the last value pushed;
// with keep its stack field is filled. An error standing for a throw that
// found no catch (category and id both throw) is raised again; any other
// error becomes ARGS[0] with top := ARGS + 1.
void try_result(bool keep);

} // namespace kel
