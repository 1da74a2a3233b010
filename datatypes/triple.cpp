#include "datatypes/triple.hpp"
#include "datatypes/integer.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include <cstring>

namespace kel {

void triple_make_at(Cell* cell, int32_t a, int32_t b, int32_t c) {
    cell_init(cell, T_TRIPLE);
    cell->w1 = uint32_t(a);
    cell->w2 = uint32_t(b);
    cell->w3 = uint32_t(c);
}

int32_t triple_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget, int32_t) {
    char text[48] = "make triple! [";  // the prefix, three "-2147483648 " and "]"
    const uint32_t words[3] = {value->w1, value->w2, value->w3};
    for (int i = 0; i < 3; ++i) {
        if (i > 0) std::strcat(text, " ");
        std::strcat(text, integer_form_buffer(int32_t(words[i])));
    }
    std::strcat(text, "]");
    uint32_t length = uint32_t(std::strlen(text));
    string_append_ascii(target, text, length);
    return budget - int32_t(length);
}

void init_triple() {
    const ActionRow actions[] = {
        {A_FORM, triple_form},
        {A_MOLD, triple_form},
    };
    datatype_register(T_TRIPLE, 0, "triple!", actions);
}

} // namespace kel
