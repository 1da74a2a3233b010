#include "datatypes/handle.hpp"
#include "datatypes/triple.hpp"
#include "tests/core/words_fixture.hpp"
#include <gtest/gtest.h>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

struct TripleHandle : RuntimeTest {};

Cell handle(uint32_t value, uint32_t type_index) {
    Cell c;
    return *handle_init(&c, value, type_index);
}

// The molded text with /all.
std::string mold_all(const Cell& value) {
    CellRoot target;
    string_make_at(&target.cell, 4);
    int32_t left = handle_mold(&value, &target.cell, false, true, false, false, 100, 0);
    std::string text = string_utf8(&target.cell);
    EXPECT_EQ(left, 100 - int32_t(text.size()));
    return text;
}

} // namespace

TEST_F(TripleHandle, TripleFormsAsItsConstruction) {
    Cell t;
    triple_make_at(&t, 1, -2, -2147483647 - 1);
    int32_t left = 0;
    EXPECT_EQ(print_value(t, false, false, false, 100, &left), "make triple! [1 -2 -2147483648]");
    EXPECT_EQ(left, 100 - 31);
    EXPECT_EQ(print_value(t, true), "make triple! [1 -2 -2147483648]");
}

TEST_F(TripleHandle, HandleText) {
    struct Case { Cell value; const char* form; const char* mold_all; };
    const Case cases[] = {
        {handle(0, HANDLE_NULL), "00000000h", "#[handle! 00000000h]"},
        {handle(0x1A2B4, HANDLE_WINDOW), "0001A2B4h", "#[handle! 0001A2B4h window]"},
        {handle(0xFFFFFFFF, HANDLE_RICH_TEXT), "FFFFFFFFh", "#[handle! FFFFFFFFh rich-text]"},
        {handle(3, HANDLE_FD), "00000003h", "#[handle! 00000003h fd]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(print_value(c.value, false), c.form);
        EXPECT_EQ(print_value(c.value, true), "handle!");
        EXPECT_EQ(mold_all(c.value), c.mold_all);
    }
    Cell h = handle(5, HANDLE_FONT);
    EXPECT_EQ(h.header, uint32_t(T_HANDLE));
    EXPECT_EQ(h.w3, UINT32_MAX);
}

TEST_F(TripleHandle, HandleCompareByValueOnly) {
    Cell a = handle(7, HANDLE_WINDOW), b = handle(7, HANDLE_FONT), c = handle(0xFFFFFFFF, HANDLE_FD);
    Cell n = integer_cell(7);
    EXPECT_EQ(handle_compare(&a, &b, CMP_EQUAL), 0);
    EXPECT_EQ(handle_compare(&c, &a, CMP_LESSER), -1);  // signed 32-bit values
    EXPECT_EQ(handle_compare(&a, &n, CMP_EQUAL), 1);
    EXPECT_EQ(handle_compare(&a, &n, CMP_GREATER), 1);
}

TEST_F(TripleHandle, HandleMakers) {
    Cell* pushed = handle_push_null();
    EXPECT_EQ(pushed->header, uint32_t(T_HANDLE));
    EXPECT_EQ(pushed->w1, 0u);
    EXPECT_EQ(pushed->w2, 0u);
    stack_pop(1);
    CellRoot block;
    block_of_cells(&block.cell, nullptr, 0);
    handle_make_in(block.cell.w2, 42, HANDLE_MONITOR);
    ASSERT_EQ(block_length(&block.cell), 1u);
    Cell made = block_cells(&block.cell)[0];
    EXPECT_EQ(mold_all(made), "#[handle! 0000002Ah monitor]");
}

TEST_F(TripleHandle, MoldsAHandleHeldInABlock) {
    // Appending the text may move the block's buffer under the value.
    Cell cells[1] = {handle(0xBEEF, HANDLE_RICH_TEXT)};
    CellRoot block, target;
    block_of_cells(&block.cell, cells, 1);
    string_make_at(&target.cell, 1);
    handle_mold(&block_cells(&block.cell)[0], &target.cell, false, true, false, false, 0, 0);
    EXPECT_EQ(string_utf8(&target.cell), "#[handle! 0000BEEFh rich-text]");
}
