#include "datatypes/percent.hpp"
#include "datatypes/float.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/stack.hpp"
#include <cstring>

namespace kel {

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
