// Building the runtime's vocabulary from the tables of core/words_table.inc.
#include "core/vocabulary.hpp"
#include "core/context.hpp"
#include "core/hashtable.hpp"
#include "core/series.hpp"
#include "core/symbol.hpp"
#include "core/word_cell.hpp"
#include "runtime/collector.hpp"
#include "runtime/start.hpp"

namespace kel {

static uint32_t symbols[SYM_COUNT];
static Cell words[W_COUNT];
static Cell refinements[REF_COUNT];
static Cell issues[ISSUE_COUNT];

#define KEL_TEXT(id, text) text,
static const char* const symbol_texts[SYM_COUNT] = {KEL_RUNTIME_SYMBOLS(KEL_TEXT)};
static const char* const word_texts[] = {KEL_TEXT_WORDS(KEL_TEXT)};
static const char* const refinement_texts[REF_COUNT] = {KEL_RUNTIME_REFINEMENTS(KEL_TEXT)};
static const char* const issue_texts[ISSUE_COUNT] = {KEL_RUNTIME_ISSUES(KEL_TEXT)};
#undef KEL_TEXT

#define KEL_SOURCE(id, symbol) SYM_##symbol,
static const RuntimeSymbol word_symbols[] = {KEL_SYMBOL_WORDS(KEL_SOURCE)};
#undef KEL_SOURCE

constexpr uint32_t SYMBOL_WORD_COUNT = sizeof word_symbols / sizeof word_symbols[0];
static_assert(SYMBOL_WORD_COUNT + sizeof word_texts / sizeof word_texts[0] == W_COUNT);

static void vocabulary_mark() {
    collector_mark_values(words, words + W_COUNT);
    collector_mark_values(refinements, refinements + REF_COUNT);
    collector_mark_values(issues, issues + ISSUE_COUNT);
}

// A word-family cell {context, symbol, index -1} (bound to the global context
// or to none), kept and also appended to the root block.
static void root_word_make(Cell* out, uint8_t type, bool global, uint32_t symbol) {
    Cell* logged = cell_series_append(series_node(&root_cell));
    cell_init(out, type);
    word_symbol_set(out, symbol);
    word_bind_set(out, global ? global_context : 0, WORD_UNBOUND);
    *logged = *out;
}

void runtime_words_build() {
    for (Cell& c : words) cell_init(&c, T_NONE);
    for (Cell& c : refinements) cell_init(&c, T_NONE);
    for (Cell& c : issues) cell_init(&c, T_NONE);
    collector_remove_root(vocabulary_mark);
    collector_add_root(vocabulary_mark);

    for (uint32_t i = 0; i < SYM_COUNT; i++) symbols[i] = symbol_make(symbol_texts[i]);
    for (uint32_t i = 0; i < SYMBOL_WORD_COUNT; i++) {
        Cell word = word_intern_symbol(symbols[word_symbols[i]]);
        words[i] = word;
    }
    for (uint32_t i = SYMBOL_WORD_COUNT; i < W_COUNT; i++) {
        Cell word = word_intern(word_texts[i - SYMBOL_WORD_COUNT]);
        words[i] = word;
    }
    for (uint32_t i = 0; i < REF_COUNT; i++) {
        uint32_t symbol = symbol_make(refinement_texts[i]);
        root_word_make(&refinements[i], T_REFINEMENT, false, symbol);
    }
    for (uint32_t i = 0; i < ISSUE_COUNT; i++) {
        uint32_t symbol = symbol_make(issue_texts[i]);
        if (startup_logging) {
            root_word_make(&issues[i], T_ISSUE, true, symbol);
        } else {
            cell_init(&issues[i], T_ISSUE);
            word_symbol_set(&issues[i], symbol);
            word_bind_set(&issues[i], global_context, WORD_UNBOUND);
        }
    }
}

uint32_t runtime_symbol(RuntimeSymbol id) { return symbols[id]; }
const Cell* runtime_word(RuntimeWord id) { return &words[id]; }
const Cell* runtime_refinement(RuntimeRefinement id) { return &refinements[id]; }
const Cell* runtime_issue(RuntimeIssue id) { return &issues[id]; }

} // namespace kel
