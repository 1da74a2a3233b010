#include "datatypes/handle.hpp"
#include "core/hashtable.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include "core/string.hpp"
#include <cstring>

namespace kel {

// Names of the handle type indices; index 0 has none.
static const char* const handle_type_names[] = {nullptr, "fd", "monitor", "window", "font", "rich-text"};
constexpr uint32_t HANDLE_TYPE_COUNT = sizeof handle_type_names / sizeof handle_type_names[0];

Cell* handle_init(Cell* cell, uint32_t value, uint32_t type_index) {
    cell->header = T_HANDLE;
    cell->w1 = type_index;
    cell->w2 = value;
    cell->w3 = UINT32_MAX;
    return cell;
}

Cell* handle_make_in(Node block, uint32_t value, uint32_t type_index) {
    return handle_init(cell_series_append(block), value, type_index);
}

Cell* handle_push(uint32_t value, uint32_t type_index) {
    return handle_init(stack_box_new(T_HANDLE), value, type_index);
}

Cell* handle_stack_push(uint32_t value, uint32_t type_index) {
    return handle_init(stack_push_new(T_HANDLE), value, type_index);
}

Cell* handle_push_null() { return handle_stack_push(0, HANDLE_NULL); }

static int32_t append_text(Cell* target, const char* text, int32_t budget) {
    uint32_t length = uint32_t(std::strlen(text));
    string_append_ascii(target, text, length);
    return budget - int32_t(length);
}

int32_t handle_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget, int32_t) {
    char text[10];  // eight digits, "h" and the NUL
    std::memcpy(text, int_to_hex(value->w2, false), 8);
    std::memcpy(text + 8, "h", 2);
    return append_text(target, text, budget);
}

int32_t handle_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent) {
    if (!all) return append_text(target, "handle!", budget);
    // The value may lie in a block buffer that appending moves: work on a copy.
    const Cell handle = *value;
    budget = append_text(target, "#[handle! ", budget);
    budget = handle_form(&handle, target, only, all, flat, part, budget, indent);
    // Index 0 (null) and indices no registry hands out print no name.
    if (handle.w1 > 0 && handle.w1 < HANDLE_TYPE_COUNT) {
        budget = append_text(target, " ", budget);
        budget = append_text(target, handle_type_names[handle.w1], budget);
    }
    return append_text(target, "]", budget);
}

int32_t handle_compare(const Cell* value1, const Cell* value2, int32_t) {
    if (cell_type(value2) != T_HANDLE) return 1;
    int32_t a = int32_t(handle_value(value1)), b = int32_t(handle_value(value2));
    return (a > b) - (a < b);
}

void init_handle() {
    const ActionRow actions[] = {
        {A_FORM, handle_form},
        {A_MOLD, handle_mold},
        {A_COMPARE, handle_compare},
    };
    datatype_register(T_HANDLE, T_INTEGER, "handle!", actions);
}

} // namespace kel
