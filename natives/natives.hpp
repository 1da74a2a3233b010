// The natives: their entries in the natives table (index order fixed, see
// core/natives_table.hpp) and the words of the language's built-in functions.
#pragma once
#include "core/cell.hpp"
#include "core/natives_table.hpp"
#include <cstdint>

namespace kel {

// Fills the natives table with the 107 natives in index order.
void natives_init();

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
