// path!, lit-path!, set-path!, get-path! and paren!: blocks that the
// interpreter treats differently. They share block!'s cell (word 1 the head
// index in cells, word 2 the node of a buffer of value cells) and inherit
// almost every action from it; this module gives their construction and their
// printed forms.
#pragma once
#include "runtime/cell.hpp"
#include "core/registry.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// Whether the type id is one of the four path types.
inline bool path_type_q(uint8_t type) { return type >= T_PATH && type <= T_GET_PATH; }

// Pushes a copy of a series cell retyped to the path type or paren! (flags kept).
Cell* path_push_as(const Cell* source, uint8_t type);
inline Cell* path_push(const Cell* source) { return path_push_as(source, T_PATH); }
inline Cell* lit_path_push(const Cell* source) { return path_push_as(source, T_LIT_PATH); }
inline Cell* set_path_push(const Cell* source) { return path_push_as(source, T_SET_PATH); }
inline Cell* get_path_push(const Cell* source) { return path_push_as(source, T_GET_PATH); }
inline Cell* paren_push(const Cell* source) { return path_push_as(source, T_PAREN); }

// An empty path! with room for the given number of cells (0 is taken as 1).
void path_make_at(Cell* out, uint32_t capacity);

// ---- actions ----------------------------------------------------------------------------------

const Cell* path_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* path_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t path_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t path_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t lit_path_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent);
int32_t set_path_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent);
int32_t get_path_mold(const Cell* value, Cell* target, bool only, bool all, bool flat,
                      bool part, int32_t budget, int32_t indent);
int32_t paren_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);

void init_path();
void init_lit_path();
void init_set_path();
void init_get_path();
void init_paren();

} // namespace kel
