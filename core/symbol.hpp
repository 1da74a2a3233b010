// The symbol table: every name of the language is interned once and known by
// its symbol id, the 1-based position of its symbol! cell in one series that
// lives for the whole run (a block in the root block), indexed by a hash table
// of kind 2. Symbols are never removed, so ids are stable.
//
// The table preserves case: each spelling has its own symbol, and a spelling
// that differs from an earlier one only in ASCII letter case ("A"-"Z" against
// "a"-"z"; no other byte folds) records that earlier spelling as its alias.
// Two names are the same name when their resolved ids are equal.
//
// A symbol! cell: word 1 the alias (signed; -1 for a first spelling, else the
// id of the first-interned spelling), word 2 the node of the name decoded into
// a string! (0 until first asked for), word 3 the node of a byte series with
// the UTF-8 name, NUL-terminated, the NUL not counted by the tail.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t SYMBOL_SERIES_CELLS = 4000;  // room of the symbol series at start
constexpr uint32_t SYMBOL_INDEX_SIZE = 4000;    // entries the index is asked for

// Start-up: the symbol series as a block cell at the tail of the root block,
// then (after the global context and case folding) its hash index.
void symbol_series_new();
void symbol_index_new();

// Interns a name and returns its id. Any byte sequence is a name; the text
// may lie anywhere (it is copied before anything is allocated).
uint32_t symbol_make(const char* text);
uint32_t symbol_make_counted(const uint8_t* text, uint32_t length);
// The UTF-8 of a string value from its position. The cell must not lie in a
// series buffer.
uint32_t symbol_make_from_string(Cell* string);
// Returns any existing spelling that matches ignoring ASCII case as it is;
// interns the text only when there is none.
uint32_t symbol_make_flagged(const char* text);

// The symbol cell of an id, its cached string made first when missing. Valid
// until the next allocation.
const Cell* symbol_get(uint32_t id);
// The canonical id: the alias when it is greater than 0, else the id itself.
uint32_t symbol_resolve(uint32_t id);
// The symbol cells and their count, for loops that resolve many symbols and
// allocate nothing in between (the cells move with the next allocation).
const Cell* symbol_cells_now(uint32_t* count);
// symbol_resolve over cells from symbol_cells_now.
inline uint32_t symbol_resolve_in(const Cell* cells, uint32_t count, uint32_t id) {
    if (id == 0 || id > count) return id;
    int32_t alias = int32_t(cells[id - 1].w1);
    return alias > 0 ? uint32_t(alias) : id;
}
// A symbol cell's cached name string (0 until first asked for) and its UTF-8
// name series.
inline Node symbol_string_node(const Cell* symbol) { return symbol->w2; }
inline Node symbol_name_node(const Cell* symbol) { return symbol->w3; }
// The raw alias field.
int32_t symbol_alias(uint32_t id);
// Symbols interned so far (the highest id).
uint32_t symbol_count();
// The UTF-8 name and its byte length. Valid until the next allocation.
const uint8_t* symbol_name(uint32_t id, uint32_t* length);

// Appends a new symbol cell whose name is a copy of the given bytes (which must
// not lie in a series buffer); returns its id. Used by the index's intern.
uint32_t symbol_append(const uint8_t* name, uint32_t length, int32_t alias);
// The intern of the index: an exact match returns its id; otherwise a new
// symbol is made whose alias is the first-interned spelling that matches
// ignoring ASCII case (or -1). With fold_match, a spelling that matches
// ignoring ASCII case is returned as it is.
uint32_t symbol_table_intern_name(Node table, const uint8_t* text, uint32_t length, bool fold_match);

// The index's node (the collector re-points it).
Node symbol_index();

// symbol! registers its comparison only; symbol cells never reach user data.
int32_t symbol_compare(const Cell* value1, const Cell* value2, int32_t op);
void init_symbol();

} // namespace kel
