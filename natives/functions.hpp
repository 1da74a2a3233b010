// Natives that make functions (func, function, does, has) and natives that
// walk a series (foreach, forall, remove-each), with the step operations the
// series loops run once per iteration.
//
// A series loop keeps its state on the data stack, below its loop frame:
// the series copy whose position is the cursor two cells below the loop
// frame's ARGS, the word (or block of words) one cell below, and for
// remove-each an integer! with the word count three cells below. The step
// operations read them there, so they run while the loop frame is current.
#pragma once
#include "runtime/cell.hpp"
#include "core/natives_table.hpp"
#include <cstdint>

namespace kel {

ExitCode native_foreach(bool check, const int32_t* refinements);
ExitCode native_forall(bool check, const int32_t* refinements);
ExitCode native_remove_each(bool check, const int32_t* refinements);
ExitCode native_func(bool check, const int32_t* refinements);
// refinements[0]: /extern (its spec's own /extern words are what count).
ExitCode native_function(bool check, const int32_t* refinements);
ExitCode native_does(bool check, const int32_t* refinements);
ExitCode native_has(bool check, const int32_t* refinements);

// ---- step operations (the loop frame current) ----------------------------------------------

// One word: when the cursor is before its tail, sets the word to the element
// there and advances the cursor by one; false at the tail.
bool foreach_next();
// n words: when the cursor is before its tail, sets the n words from the
// cursor on (none past the tail) and advances the cursor by n; false at the
// tail or for n = 0. A map! needs exactly two words; a word position that
// holds no word, or (for lists) an unset value, raises an error first.
bool foreach_next_block(uint32_t n);
// After a remove-each body: when ARGS[0] is neither none nor false, removes
// the n items just iterated and leaves the cursor where they stood.
void remove_each_next(uint32_t n);
// After a forall body: the word must still refer to the loop's series
// (bad-loop-series otherwise); moves its position by one; false at the tail.
bool forall_next_q();
// Sets the forall word back to the series at its starting position.
void forall_end();

} // namespace kel
