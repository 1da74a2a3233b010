// The runtime's pre-interned vocabulary: the symbols, global words,
// refinements and issue that the runtime's own code compares against, made
// once at start-up (the lists are in core/words_table.inc).
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

#include "core/words_table.inc"

namespace kel {

#define KEL_ENUM_SYMBOL(id, text) SYM_##id,
enum RuntimeSymbol : uint32_t { KEL_RUNTIME_SYMBOLS(KEL_ENUM_SYMBOL) SYM_COUNT };
#undef KEL_ENUM_SYMBOL

#define KEL_ENUM_WORD(id, source) W_##id,
enum RuntimeWord : uint32_t {
    KEL_SYMBOL_WORDS(KEL_ENUM_WORD)
    KEL_TEXT_WORDS(KEL_ENUM_WORD)
    W_COUNT
};
#undef KEL_ENUM_WORD

#define KEL_ENUM_REFINEMENT(id, text) REF_##id,
enum RuntimeRefinement : uint32_t { KEL_RUNTIME_REFINEMENTS(KEL_ENUM_REFINEMENT) REF_COUNT };
#undef KEL_ENUM_REFINEMENT

#define KEL_ENUM_ISSUE(id, text) ISSUE_##id,
enum RuntimeIssue : uint32_t { KEL_RUNTIME_ISSUES(KEL_ENUM_ISSUE) ISSUE_COUNT };
#undef KEL_ENUM_ISSUE

// Interns the symbols, then the words, the refinements and the issue, in
// that order. The refinements and the issue are also appended to the root
// block (the issue only while startup_logging is set).
void runtime_words_build();

// The symbol id (0 before runtime_words_build).
uint32_t runtime_symbol(RuntimeSymbol id);
// The values; the cells stay at their addresses for the whole run and the
// collector keeps their nodes current.
const Cell* runtime_word(RuntimeWord id);
const Cell* runtime_refinement(RuntimeRefinement id);
const Cell* runtime_issue(RuntimeIssue id);

} // namespace kel
