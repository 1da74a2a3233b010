#include "tests/core/string_fixture.hpp"
#include "core/stack.hpp"
#include "datatypes/bitset.hpp"

using namespace kel;
using namespace kel::testing;

namespace {

using StringBitsetTest = RuntimeTest;

// The character at the position against the set; past the stored bits the
// negation flag answers, and the tail is never a member.
TEST_F(StringBitsetTest, CharacterAtThePositionInABitset) {
    Cell* set = bitset_make_at(stack_push_new(T_NONE), 0);
    bitset_make_from_spec(text_push("b"), BITS_MAKE, set);
    Cell* s = text_push("abé");
    EXPECT_FALSE(string_char_in_bitset_q(s, set));
    s->w1 = 1;
    EXPECT_TRUE(string_char_in_bitset_q(s, set));
    s->w1 = 2;
    EXPECT_FALSE(string_char_in_bitset_q(s, set));
    bitset_negate(set);
    EXPECT_TRUE(string_char_in_bitset_q(s, set));
    s->w1 = 3;
    EXPECT_FALSE(string_char_in_bitset_q(s, set));
}

} // namespace
