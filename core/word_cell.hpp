// The payload of a word-family cell (word!, set-word!, lit-word!, get-word!,
// refinement!, issue!): word 1 the context node the word is bound to (0 for
// none), word 2 the symbol id, word 3 the slot index in that context
// (WORD_UNBOUND until resolved). Kept apart from core/word.hpp so that the
// stack and context headers, which word.hpp builds on, read words the same way.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

inline Node word_context(const Cell* word) { return word->w1; }
inline uint32_t word_symbol(const Cell* word) { return word->w2; }
inline uint32_t word_index(const Cell* word) { return word->w3; }
// Binds the word to slot index of the context (the symbol kept).
inline void word_bind_set(Cell* word, Node context, uint32_t index) {
    word->w1 = context;
    word->w3 = index;
}
// Records the word's slot index in the context it is bound to.
inline void word_index_set(Cell* word, uint32_t index) { word->w3 = index; }
inline void word_symbol_set(Cell* word, uint32_t symbol) { word->w2 = symbol; }
// Rebinds the word to another context at the same slot index.
inline void word_context_set(Cell* word, Node context) { word->w1 = context; }
// The context word itself, for the collector to mark and re-point.
inline Node* word_context_slot(Cell* word) { return &word->w1; }

} // namespace kel
