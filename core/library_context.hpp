// The library's own context. The library (the Kel files of library/, gui/view/
// and console/) is evaluated at start in the global context, like a script.
// Once it has loaded, library_seal gives it a context of its own holding the
// values its global words have then, and binds every word of its code to that
// context, so that a script that sets `first`, `next` or `head` changes its
// own words and never the library's. The global context keeps the same values
// for scripts; the two are separate slots from then on.
//
// Invariant: after the seal, a word of library code reads and writes the
// library's slot when the library held a value for it at the seal, and the
// global slot otherwise. What stays global, on purpose:
// - words unset at the seal: the library's reads of user globals and the
//   words it defines later for everyone (gui-console-ctx, font-fixed ...);
// - the output and input hooks, which the library calls and scripts may set
//   or the library reassigns after start-up for scripts to see: print and
//   prin (how a script captures what the library prints), the console front
//   end's ask, input and _save-cfg, the GUI's null-handle;
// - words made from text at run time (to word!, load), so that help, get
//   and set by name and user code handed to library functions reach the
//   script's words;
// - whatever values refer to: the system object and its sub-objects, faces,
//   actors and handlers are one value seen through both contexts.
// A library word costs the evaluator nothing: it is an ordinary bound word.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace kel {

// Makes the library's context from the global values and binds every word of
// the library's code reachable from them to it. Runs once, after the
// library's files were evaluated; allocates only while making the context.
void library_seal();

// The word of the text bound as library code binds it: to the library's
// context when the library holds the word, else to the global context. For
// runtime code that calls into the library by name.
Cell library_word(const char* text);

// Binds the words of a block fresh from the lexer (deep) that the library
// holds to the library's context, as if the block were library code; for
// runtime code that evaluates a text of library code. Allocates nothing.
void library_bind(const Cell* block);

} // namespace kel
