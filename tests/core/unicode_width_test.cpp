// Terminal column widths of characters.
#include "core/unicode_width.hpp"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(UnicodeWidth, ColumnsOfCharacters) {
    struct Case {
        uint32_t c;
        int width;
    } cases[] = {
        {'a', 1},      {0xE9, 1},    {0x0416, 1},   // Latin, Latin-1, Cyrillic
        {0x0301, 0},   {0x20D7, 0},  {0x200D, 0},   // combining marks, joiner
        {0xFE0F, 0},   {0x00AD, 1},  {0x07, 0},     // variation selector, soft hyphen, a control
        {0x85, 0},     {0x65E5, 2},  {0xAC00, 2},   // C1 control, CJK ideograph, Hangul syllable
        {0xFF21, 2},   {0xFF61, 1},  {0x3000, 2},   // fullwidth A, halfwidth dot, ideographic space
        {0x1F600, 2},  {0x2B50, 2},  {0x2764, 1},   // emoji shown wide, a text-style heart
        {0x20000, 2},  {0x2FFFD, 2}, {0xE0100, 0},  // ideograph planes, a variation selector
    };
    for (const Case& c : cases) EXPECT_EQ(unicode_char_width(c.c), c.width) << std::hex << c.c;
}

}  // namespace
}  // namespace kel
