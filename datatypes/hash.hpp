// hash!: a block with a hash index over its cells (word 3 holds the index, a
// table of kind HASH_BLOCK). It behaves as a block in every respect: the
// block functions keep the index in step with every change (hash_index_* of
// core/series.hpp), and find, select and their relatives look values up
// through it.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

// Turns a block value (at index 0, not shared with any other value) into a
// hash! in place, indexing every cell. The cell must be on the data stack or
// rooted.
void hash_make_in_place(Cell* block);

const Cell* hash_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* hash_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t hash_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
void hash_copy(Cell* series, const Cell* part, bool deep, const Cell* types);
void hash_sort(Cell* series, bool case_, const Cell* skip, const Cell* compare, const Cell* part,
               bool all, bool reverse, bool stable);
void hash_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all,
               const Cell* with);

void init_hash();

} // namespace kel
