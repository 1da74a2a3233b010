// Blocks written as text for the tests of series and blocks: a tiny reader
// of words, integers, none, nested [ ] and a "/" that puts the new-line flag
// on the next value. Every value it makes is held on the data stack.
#pragma once
#include "core/block.hpp"
#include "core/series.hpp"
#include "tests/core/words_fixture.hpp"

#include <sstream>
#include <string>

namespace kel::testing {

// Reads the text into a new block pushed on the data stack and returns it.
inline Cell* load_block(const std::string& text) {
    Cell* outer = block_push_only(4);
    Cell* current = outer;
    std::istringstream in(text);
    std::string token;
    bool newline = false;
    while (in >> token) {
        if (token == "/") {
            newline = true;
            continue;
        }
        if (token == "[") {
            current = block_push_only(4);
            if (newline) current->header |= CELL_NEWLINE;
            newline = false;
            continue;
        }
        if (token == "]") {
            block_ks_append(current - 1, current);
            stack_pop(1);
            current = stack_top();
            continue;
        }
        Cell value;
        bool number = token.find_first_not_of("-0123456789") == std::string::npos && token != "-";
        if (number) value = integer_cell(std::stoi(token));
        else if (token == "none") cell_init(&value, T_NONE);
        else value = word_intern(token.c_str());
        if (newline) value.header |= CELL_NEWLINE;
        newline = false;
        block_ks_append(current, &value);
    }
    return outer;
}

// The block molded, as text.
inline std::string text_of(const Cell* block) { return mold_of(*block); }

// Pushes an integer! (a refinement argument must be a cell of its own).
inline Cell* push_integer(int32_t n) {
    Cell c = integer_cell(n);
    return stack_push(&c);
}

// Pushes a word! of the global context.
inline Cell* push_word(const char* name) {
    Cell* slot = stack_push_new(T_NONE);
    *slot = word_intern(name);
    return slot;
}

} // namespace kel::testing
