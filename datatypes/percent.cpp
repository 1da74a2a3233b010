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
    const ActionRow actions[] = {
        {A_FORM, percent_form},
        {A_MOLD, percent_form},
        {A_MAKE, ACTION_INHERIT}, {A_RANDOM, ACTION_INHERIT}, {A_TO, ACTION_INHERIT},
        {A_COMPARE, A_ODD_Q, ACTION_INHERIT},
    };
    datatype_register(T_PERCENT, T_FLOAT, "percent!", actions);
}

} // namespace kel
