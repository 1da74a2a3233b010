// The parse dialect: an engine that walks a block of rules against an input
// series (any string kind, binary! or any block kind), matching, skipping,
// copying, collecting and modifying the input. It is an explicit state
// machine over two work stacks shared by every parse call (nested calls
// from parens or trace callbacks included), so rule nesting is bounded by
// the stacks' limit and never by the machine stack.
#pragma once
#include "runtime/cell.hpp"
#include "core/exits.hpp"
#include <cstdint>

namespace kel {

// Each work stack holds at most this many cells (rule entries take three).
constexpr uint32_t PARSE_STACK_LIMIT = 10000;

// Comparison codes of literal matching.
constexpr int32_t PARSE_CASE_INSENSITIVE = 0;  // equal?
constexpr int32_t PARSE_CASE_SENSITIVE = 2;    // strict-equal?

// Makes the input and rule work stacks as blocks of the root block. Once at
// start-up, after the root block and the runtime's words exist.
void parse_init();

// Runs the rules over the input. cmp is PARSE_CASE_INSENSITIVE or
// PARSE_CASE_SENSITIVE; part_end an absolute index of the input's buffer
// that ends matching, 0 for none; callback a function! called at every step
// (null for none). Both cells must be seen by the collector. Pushes the
// result (logic!, or the block an outermost collect produced) and answers
// EXIT_CODE_NONE, or answers the exit a paren or the callback raised (break,
// continue, return, exit, throw) with nothing pushed. The work stacks are
// left as they were on entry on every way out, errors included.
ExitCode parse_rules(const Cell* input, const Cell* rules, int32_t cmp, uint32_t part_end,
                     const Cell* callback);

// The parse native (index 40): parse input rules /case /part length /trace callback.
ExitCode native_parse(bool check, const int32_t* refinements);

} // namespace kel
