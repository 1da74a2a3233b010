// handle!: an operating-system resource handed to language code as a 32-bit
// id from the runtime's own registries (a window, a monitor, a font, a
// rich-text layout or a file descriptor), printed and compared but never
// computed with.
//
// Cell: header exactly handle!; word 1 the handle type index, word 2 the
// value, word 3 always -1.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// Handle type indices; their names print in the molded form.
enum HandleType : uint32_t {
    HANDLE_NULL = 0,  // no name printed
    HANDLE_FD = 1,
    HANDLE_MONITOR = 2,
    HANDLE_WINDOW = 3,
    HANDLE_FONT = 4,
    HANDLE_RICH_TEXT = 5,
};

// The handle type index and the value of a handle cell.
inline uint32_t handle_type_index(const Cell* handle) { return handle->w1; }
inline uint32_t handle_value(const Cell* handle) { return handle->w2; }

// Writes the handle cell; returns it.
Cell* handle_init(Cell* cell, uint32_t value, uint32_t type_index);
// A new handle at the block's tail; valid until the next allocation.
Cell* handle_make_in(Node block, uint32_t value, uint32_t type_index);
// The handle in the arguments slot (the running call's result).
Cell* handle_push(uint32_t value, uint32_t type_index);
// The handle on a new data-stack cell; the null handle (value 0, index 0).
Cell* handle_stack_push(uint32_t value, uint32_t type_index);
Cell* handle_push_null();

// form: the value as 8 hexadecimal digits and "h" (0001A2B4h).
int32_t handle_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
// mold: with all "#[handle! 0001A2B4h window]" (no name for index 0), else "handle!".
int32_t handle_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
// Values compared as signed 32-bit integers whatever the op; the type index
// is not compared; anything but a handle! gives 1.
int32_t handle_compare(const Cell* value1, const Cell* value2, int32_t op);

// Registers handle! (type 46, parent integer!, inheriting nothing).
void init_handle();

} // namespace kel
