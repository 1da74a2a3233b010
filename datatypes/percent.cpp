#include "datatypes/percent.hpp"
#include "datatypes/float.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include <cstring>

namespace kel {

void percent_init(Cell* cell, double value) {
    cell_init(cell, T_PERCENT);
    cell_set_double(cell, value);
}

void percent_init_bits(Cell* cell, uint32_t high, uint32_t low) {
    cell_init(cell, T_PERCENT);
    cell->w2 = low;
    cell->w3 = high;
}

Cell* percent_push(double value) {
    Cell* cell = stack_push_slot();
    percent_init(cell, value);
    return cell;
}

Cell* percent_push_bits(uint32_t high, uint32_t low) {
    Cell* cell = stack_push_slot();
    percent_init_bits(cell, high, low);
    return cell;
}

void percent_box(double value) {
    percent_init(data_stack.args, value);
    data_stack.top = data_stack.args + 1;
}

int32_t percent_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                     int32_t) {
    const char* text = float_to_text(cell_double(value) * 100.0, FLOAT_TEXT_PERCENT);
    uint32_t length = uint32_t(std::strlen(text));
    string_append_ascii(target, text, length);
    return budget - int32_t(length);
}

void init_percent() {
    static const int inherited[] = {
        A_MAKE, A_RANDOM, A_TO, A_COMPARE, A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY,
        A_NEGATE, A_POWER, A_REMAINDER, A_ROUND, A_SUBTRACT, A_EVEN_Q, A_ODD_Q,
    };
    ActionFn slots[ACTION_COUNT] = {};
    for (int action : inherited) slots[action - 1] = ACTION_INHERIT;
    slots[A_FORM - 1] = action_fn(&percent_form);
    slots[A_MOLD - 1] = action_fn(&percent_form);
    datatype_register(T_PERCENT, T_FLOAT, "percent!", slots, ACTION_COUNT);
}

} // namespace kel
