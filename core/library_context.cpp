// The library's own context: made from the global values once the library
// has loaded, and every word of the library's code bound to it (see the
// header for what stays global and why).
#include "core/block.hpp"
#include "core/library_context.hpp"
#include "core/context.hpp"
#include "core/function.hpp"
#include "core/hashtable.hpp"
#include "core/object.hpp"
#include "core/series.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "runtime/collector.hpp"

#include <memory>
#include <vector>

namespace kel {

// Words that stay global though the library defines them: output and input
// hooks. Scripts and the test dialect capture what the library prints by
// setting print and prin; the console front end installs its own ask and
// input (for the engine and for scripts alike) and _save-cfg (which quit
// calls); the GUI's first start replaces null-handle.
static const char* const SHARED_WORDS[] = {"print", "prin", "ask", "input", "_save-cfg", "null-handle"};

// ---- the walk ------------------------------------------------------------------------------

// Series nodes already walked: one bitmap of a node frame's indices per frame
// slot, made when the slot is first met.
class NodeSet {
public:
    // True when the node was not in the set (it is added).
    bool add(Node node) {
        uint32_t slot = node >> NODE_INDEX_BITS, index = node & NODE_INDEX_MASK;
        if (slot >= frames.size()) frames.resize(size_t(slot) + 1);
        if (!frames[slot]) frames[slot] = std::make_unique<uint64_t[]>(WORDS);
        uint64_t& word = frames[slot][index / 64];
        uint64_t bit = uint64_t(1) << (index % 64);
        if (word & bit) return false;
        word |= bit;
        return true;
    }

private:
    static constexpr uint32_t WORDS = (NODE_INDEX_MASK + 1) / 64;
    std::vector<std::unique_ptr<uint64_t[]>> frames;
};

// Rebinds the library's words in every block its values reach. Words bound to
// the global context whose slot the library holds move to the library's slot
// (by the global slot's index into slots: library index + 1, 0 for none).
// Followed: blocks, parens, paths, hashes, maps, object and port contexts,
// the specs of every function kind, function bodies, and the contexts that
// words are bound to with their owners. Nothing here allocates, so cells are
// rewritten in place.
struct SealWalk {
    Node global;
    Node library;
    std::vector<uint32_t> slots;
    NodeSet seen;
    std::vector<Node> pending;
    Node last_context = 0;

    // A series of cells (every series followed here is one), queued. The walk
    // is bound by memory latency: its buffer is fetched into the cache now,
    // while the series queued before it are walked.
    void follow(Node series) {
        if (series && seen.add(series)) {
            __builtin_prefetch(series_buffer(series));
            pending.push_back(series);
        }
    }

    // The value block of a context whose values live in one, and its owner
    // (a function's context leads to the function's body); a context is
    // looked at once.
    void follow_context(Node context) {
        last_context = context;
        if (!seen.add(context)) return;
        Cell* c = context_cell(context);
        if (!(c->header & CONTEXT_ON_STACK)) follow(context_values_of(c));
        uint8_t owner = cell_type(c + 1);
        if (owner == T_FUNCTION || owner == T_ROUTINE) follow_function(c + 1, owner);
    }

    // A function's spec (help reduces its type blocks) and its body.
    void follow_function(const Cell* c, uint8_t type) {
        follow(function_spec(c));
        if (type == T_OP) type = op_source_type(c);
        if (type != T_FUNCTION && type != T_ROUTINE) return;
        const Cell* body = function_more_cell(c, MORE_BODY);
        if (cell_type(body) == T_BLOCK) follow(series_node(body));
    }

    // Follows what a value refers to; a word is left as it is.
    void refer(const Cell* c) {
        uint8_t type = cell_type(c);
        if (type >= T_WORD && type <= T_REFINEMENT) {
            Node context = word_context(c);
            if (context && context != global && context != library && context != last_context)
                follow_context(context);
        } else if (type == T_BLOCK || type == T_PAREN) {
            follow(series_node(c));
        } else if (type >= T_NATIVE) {
            refer_other(c, type);
        }
    }

    void refer_other(const Cell* c, uint8_t type) {
        switch (type) {
        case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_HASH: case T_MAP:
            follow(series_node(c));
            break;
        case T_OBJECT: case T_PORT:
            if (object_context(c)) follow_context(object_context(c));
            break;
        case T_NATIVE: case T_ACTION: case T_OP: case T_FUNCTION: case T_ROUTINE:
            follow_function(c, type);
            break;
        default: break;
        }
    }

    // The cells of the queued series, first queued first. The rebinding is
    // spelt out with the walk's fields in locals, which the rewritten cells
    // cannot alias.
    void run() {
        const Node from = global, to = library;
        const uint32_t* map = slots.data();
        const uint32_t count = uint32_t(slots.size());
        for (size_t next = 0; next < pending.size(); next++) {
            SeriesBuffer* b = series_buffer(pending[next]);
            Cell* c = block_cells(b);
            for (Cell* end = c + b->length(); c < end; c++) {
                uint8_t type = cell_type(c);
                if (type >= T_WORD && type <= T_REFINEMENT && word_context(c) == from) {
                    uint32_t slot = word_index(c);
                    if (slot < count && map[slot]) {
                        word_bind_set(c, to, map[slot] - 1);
                    }
                } else {
                    refer(c);
                }
            }
        }
    }
};

// ---- the seal ------------------------------------------------------------------------------

// Whether the global word-list entry names one of the shared words.
static bool shared_word_q(const Cell* entry, const std::vector<uint32_t>& shared) {
    uint32_t symbol = symbol_resolve(word_symbol(entry));
    for (uint32_t s : shared)
        if (s == symbol) return true;
    return false;
}

// A global slot the library takes and the symbol of its first entry.
struct TakenSlot {
    uint32_t slot;
    uint32_t symbol;
};

// The global slots the library takes (each once, in word-list order): those
// holding a value, except the shared words.
static std::vector<TakenSlot> library_slots() {
    std::vector<uint32_t> shared;
    for (const char* name : SHARED_WORDS) shared.push_back(symbol_resolve(symbol_make(name)));
    uint32_t count = context_word_count(global_context);
    SeriesBuffer* block = series_buffer(context_values(global_context));
    const Cell* values = block_cells(block);
    std::vector<bool> taken(count, false);
    std::vector<TakenSlot> slots;
    for (uint32_t i = 0; i < count; i++) {
        const Cell* entry = context_word_at(global_context, i);
        uint32_t slot = word_index(entry);
        if (slot >= count || taken[slot] || cell_type(&values[slot]) == T_UNSET) continue;
        if (shared_word_q(entry, shared)) continue;
        taken[slot] = true;
        slots.push_back({slot, word_symbol(entry)});
    }
    return slots;
}

void library_seal() {
    if (library_context) return;
    std::vector<TakenSlot> taken = library_slots();
    NodeRoot library(context_create(uint32_t(taken.size()), false, false, 0, CONTEXT_PLAIN), ROOT_BLOCK);
    std::vector<uint32_t> slots(context_word_count(global_context), 0);
    for (const TakenSlot& t : taken) {
        int32_t added = -1;
        int32_t index = context_find_or_add(library.node, t.symbol, true, &added);
        if (index < 0) {
            // A new word: its value, copied as the values block grows.
            cell_series_append_value(context_values(library.node),
                                     context_value_address(global_context, t.slot));
            index = added;
        }
        slots[t.slot] = uint32_t(index) + 1;
    }
    library_context = library.node;

    SealWalk walk{global_context, library_context, std::move(slots), {}, {}, 0};
    // The global values themselves stay as they are (a word held by a global
    // is the script's data); the library's copies of them are the same cells.
    Node globals = context_values(global_context);
    walk.seen.add(globals);
    walk.seen.add(context_values(library_context));
    SeriesBuffer* b = series_buffer(globals);
    const Cell* cells = block_cells(b);
    for (uint32_t i = 0, n = b->length(); i < n; i++) walk.refer(&cells[i]);
    walk.run();
}

Cell library_word(const char* text) {
    Cell word = word_intern(text);
    if (!library_context) return word;
    int32_t index = context_find_word(library_context, word_symbol(&word), true);
    if (index >= 0) {
        word_bind_set(&word, library_context, uint32_t(index));
    }
    return word;
}

void library_bind(const Cell* block) {
    if (library_context) bind_block(block, library_context, false);
}

} // namespace kel
