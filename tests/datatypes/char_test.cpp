#include "datatypes/char.hpp"
#include "datatypes/integer.hpp"
#include "core/error.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

struct Char : NumberTest {};

Cell ch(int32_t c) { return Cell{T_CHAR, 0, uint32_t(c), 0}; }

std::string molded(int32_t c, bool all) {
    Cell target, value = ch(c);
    string_make_empty_at(&target, 16);
    int32_t left = char_mold(&value, &target, false, all, false, false, 100, 0);
    EXPECT_EQ(left, 96);
    SeriesBuffer* b = series_buffer(target.w2);
    return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->tail - b->head);
}

// A text value of the given type holding Latin-1 bytes.
Cell text(uint8_t type, const std::string& bytes) {
    Cell cell;
    string_make_empty_at(&cell, 8);
    string_append_ascii(&cell, bytes.data(), uint32_t(bytes.size()));
    cell_type_set(&cell, type);
    return cell;
}

} // namespace

TEST_F(Char, ArithmeticStaysInRange) {
    struct Case { int32_t c; Cell other; int32_t op; int32_t result; };
    const Case cases[] = {
        {'a', integer(1), OP_ADD, 'b'}, {'b', ch('a'), OP_SUBTRACT, 1},
        {'a', integer(2), OP_DIVIDE, '0'}, {'a', number(T_FLOAT, 1.9), OP_MULTIPLY, 'a'},
        {'a', integer(0x20), OP_XOR, 'A'}, {'a', integer(10), OP_REMAINDER, 7},
    };
    for (const Case& c : cases) {
        Cell v = ch(c.c);
        char_do_math(&v, &c.other, c.op);
        EXPECT_EQ(cell_type(&v), T_CHAR);
        EXPECT_EQ(int32_t(v.w2), c.result);
    }
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] { Cell v = ch('a'), o = integer(98); char_subtract(&v, &o); });
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] { Cell v = ch(0x10FFFF), o = integer(1); char_add(&v, &o); });
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] { Cell v = ch(0x10FFFF), o = integer(0x10FFFF); char_multiply(&v, &o); });
    expect_error(ErrorCategory::math, ERR_OVERFLOW, [] { Cell v = ch(1), o = number(T_FLOAT, 1e12); char_add(&v, &o); });
    expect_error(ErrorCategory::math, ERR_ZERO_DIVIDE, [] { Cell v = ch('a'), o = integer(0); char_divide(&v, &o); });
    expect_error(ErrorCategory::script, ERR_INVALID_TYPE, [] { Cell v = ch('a'), o = number(T_PERCENT, 0.1); char_add(&v, &o); });
}

TEST_F(Char, MoldEscapes) {
    struct Case { int32_t c; bool all; const char* text; };
    const Case cases[] = {
        {10, false, "#\"^/\""}, {9, false, "#\"^-\""}, {0, false, "#\"^@\""},
        {27, false, "#\"^[\""}, {31, false, "#\"^_\""}, {0x1E, false, "#\"^(1E)\""},
        {0x7F, false, "#\"^~\""}, {'"', false, "#\"^\"\""}, {'^', false, "#\"^^\""},
        {'a', false, "#\"a\""}, {0x85, false, "#\"^(85)\""}, {0xE9, true, "#\"^(E9)\""},
        // Surrogates have no UTF-8 form, so molded text holds their escape.
        {0xD800, false, "#\"^(D800)\""}, {0xDCFF, false, "#\"^(DCFF)\""},
    };
    for (const Case& c : cases) EXPECT_EQ(molded(c.c, c.all), c.text) << c.c;
    EXPECT_EQ(molded(0xE9, false), "#\"\xE9\"");
}

TEST_F(Char, Compare) {
    Cell a = ch('a'), b = ch('b'), n97 = integer(97);
    EXPECT_EQ(char_compare(&a, &n97, CMP_EQUAL), 0);
    EXPECT_EQ(char_compare(&a, &n97, CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(char_compare(&a, &b, CMP_LESSER), -1);
    Cell f = number(T_FLOAT, 97.0);
    EXPECT_EQ(char_compare(&a, &f, CMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_TRUE(integer_even_q(&b));  // inherited, works on the codepoint
}

TEST_F(Char, MakeAndTo) {
    struct Case { Cell spec; int32_t c; };
    const Case cases[] = {
        {integer(65), 'A'}, {number(T_FLOAT, 65.9), 'A'}, {ch(0x10FFFF), 0x10FFFF},
        {text(T_STRING, "abc"), 'a'}, {text(T_BINARY, "\xE2\x82\xAC"), 0x20AC},
        {text(T_BINARY, "A"), 'A'},
    };
    for (const Case& c : cases) {
        Cell proto = ch(0);
        const Cell* r = char_make(&proto, &c.spec, T_CHAR);
        EXPECT_EQ(cell_type(r), T_CHAR);
        EXPECT_EQ(int32_t(r->w2), c.c);
    }
    for (int32_t n : {-1, 1114112}) {
        expect_error(ErrorCategory::script, ERR_OUT_OF_RANGE, [n] {
            Cell p = ch(0), s = integer(n);
            char_make(&p, &s, T_CHAR);
        });
    }
    expect_error(ErrorCategory::script, ERR_OUT_OF_RANGE, [] {
        Cell p = ch(0), s = number(T_FLOAT, 1e300);
        char_make(&p, &s, T_CHAR);
    });
    expect_error(ErrorCategory::script, ERR_BAD_TO_ARG, [] {
        Cell p = ch(0), s = text(T_STRING, "");
        char_make(&p, &s, T_CHAR);
    });
    expect_error(ErrorCategory::access, ERR_INVALID_UTF8, [] {
        Cell p = ch(0), s = text(T_BINARY, "\xE2\x82");
        char_make(&p, &s, T_CHAR);
    });
}

TEST_F(Char, RegistersOverIntegerAndInheritsItsSlots) {
    datatype_registry_init();
    init_integer();
    init_char();
    EXPECT_EQ(action_slot(T_CHAR, A_ABSOLUTE), action_slot(T_INTEGER, A_ABSOLUTE));
    EXPECT_EQ(action_slot(T_CHAR, A_ODD_Q), action_slot(T_INTEGER, A_ODD_Q));
    EXPECT_EQ(action_slot(T_CHAR, A_NEGATE), nullptr);
    EXPECT_EQ(action_slot(T_CHAR, A_ADD), action_fn(&char_add));
    EXPECT_STREQ(datatype_name(T_CHAR)->name, "char!");
}
