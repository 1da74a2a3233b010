#include "datatypes/money.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "core/mold_text.hpp"
#include "core/stack.hpp"
#include "tests/core/symbol_fixture.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <cstring>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

struct Money : RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        money_digits_option = INT32_MIN;
        money_currency_reset();
    }
    void TearDown() override {
        money_digits_option = INT32_MIN;
        RuntimeTest::TearDown();
    }
};

int script(ScriptError id) { return int(ErrorCategory::script) * 100 + id; }

Cell money(const char* text) {
    Cell c;
    cell_init(&c, T_NONE);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    EXPECT_TRUE(scan_money(p, p + std::strlen(text), &c)) << text;
    return c;
}

bool loads(const char* text) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    return scan_money(p, p + std::strlen(text), nullptr);
}

// The text of a value: form (grouped) or mold, with /all.
std::string text_of(const Cell& value, bool mold = true, bool all = false) {
    CellRoot target;
    string_make_empty_at(&target.cell, 8);
    int32_t left = mold ? money_mold(&value, &target.cell, false, all, false, false, 100, 0)
                        : money_form(&value, &target.cell, false, false, false, false, 100, 0);
    SeriesBuffer* b = series_buffer(target.cell.w2);
    std::string text(reinterpret_cast<const char*>(b->head_ptr()), b->tail - b->head);
    EXPECT_EQ(left, 100 - int32_t(text.size()));
    return text;
}

// A money value in a cell that stays put (money holds no series).
const Cell* held(const char* text) {
    static Cell slots[4];
    static int next = 0;
    Cell* c = &slots[next++ % 4];
    *c = money(text);
    return c;
}


} // namespace

TEST_F(Money, ArithmeticIsExactDecimal) {
    struct Case { const char* a; int op; Cell b; const char* mold_all; };
    const Case cases[] = {
        {"$0.1", OP_ADD, money("$0.2"), "$0.30000"},
        {"$10", OP_DIVIDE, integer_cell(3), "$3.33333"},
        {"USD$1", OP_ADD, money("$1"), "USD$2.00000"},
        {"$1", OP_ADD, money("EUR$1"), "EUR$2.00000"},
        {"$1", OP_ADD, number(T_FLOAT, 0.1), "$1.10000"},
        {"$1", OP_ADD, number(T_FLOAT, 1.234567), "$2.23456"},
        {"-$5", OP_SUBTRACT, money("$2.5"), "-$7.50000"},
        {"$2", OP_SUBTRACT, money("$5"), "-$3.00000"},
        {"$1.5", OP_MULTIPLY, integer_cell(-3), "-$4.50000"},
        {"$0.00001", OP_MULTIPLY, number(T_FLOAT, 0.5), "$0.00000"},
        {"$10", OP_REMAINDER, integer_cell(3), "$1.00000"},
        {"-$10", OP_REMAINDER, integer_cell(3), "-$1.00000"},
    };
    for (const Case& c : cases) {
        Cell a = money(c.a);
        money_do_math(&a, &c.b, c.op);
        EXPECT_EQ(text_of(a, true, true), c.mold_all) << c.a << " op " << c.op;
    }
    Cell sum = money("$0.1"), b = money("$0.2");
    money_add(&sum, &b);
    EXPECT_EQ(text_of(sum), "$0.30");
    Cell third = money("$10"), three = integer_cell(3);
    money_divide(&third, &three);
    EXPECT_EQ(text_of(third), "$3.33");  // the hidden digits stay in the value
    EXPECT_EQ(text_of(third, true, true), "$3.33333");
}

TEST_F(Money, MoneyByMoneyDivisionIsAFloat) {
    Cell a = money("$1"), b = money("$3");
    money_divide(&a, &b);
    EXPECT_EQ(cell_type(&a), T_FLOAT);
    EXPECT_EQ(cell_double(&a), 0.33333);
}

TEST_F(Money, NumbersHandTheirOperationToTheMoneyKernel) {
    Cell n = integer_cell(3), m = money("USD$1.5");
    integer_add(&n, &m);
    EXPECT_EQ(text_of(n), "USD$4.50");
    Cell x = number(T_FLOAT, 0.5), two = money("$2");
    float_multiply(&x, &two);
    EXPECT_EQ(text_of(x), "$1.00");
}

TEST_F(Money, ArithmeticErrors) {
    struct Case { const char* a; int op; Cell b; int code; };
    const Case cases[] = {
        {"USD$1", OP_ADD, money("EUR$1"), script(ERR_WRONG_DENOM)},
        {"$99999999999999999", OP_ADD, money("$1"), script(ERR_TYPE_LIMIT)},
        {"$10000000000000000", OP_DIVIDE, number(T_FLOAT, 0.5), script(ERR_TYPE_LIMIT)},
        {"$99999999999", OP_MULTIPLY, integer_cell(1000000000), script(ERR_TYPE_LIMIT)},
        {"$2", OP_MULTIPLY, money("$3"), script(ERR_INVALID_TYPE)},
        {"$1", OP_DIVIDE, money("$0"), int(ErrorCategory::math) * 100 + ERR_ZERO_DIVIDE},
        {"$1", OP_REMAINDER, integer_cell(0), int(ErrorCategory::math) * 100 + ERR_ZERO_DIVIDE},
        {"$1", OP_AND, integer_cell(1), script(ERR_INVALID_TYPE)},
        {"$1", OP_ADD, Cell{T_CHAR, 0, 65, 0}, script(ERR_INVALID_TYPE)},
    };
    for (const Case& c : cases) {
        Cell a = money(c.a);
        EXPECT_EQ(raised_code([&] { money_do_math(&a, &c.b, c.op); }), c.code) << c.a;
    }
    Cell five = integer_cell(5), dollar = money("$1");
    EXPECT_EQ(raised_code([&] { money_do_math(&five, &dollar, OP_DIVIDE); }), script(ERR_INVALID_TYPE));
}

TEST_F(Money, FormGroupsAndMoldShowsDigits) {
    Cell v = money("USD$1234567.891");
    money_negate(&v);
    EXPECT_EQ(text_of(v, false), "-USD$1'234'567.89");
    EXPECT_EQ(text_of(v), "-USD$1234567.89");
    EXPECT_EQ(text_of(v, true, true), "-USD$1234567.89100");

    Cell big = money("$1234567");
    EXPECT_EQ(text_of(big, false), "$1'234'567.00");
    EXPECT_EQ(text_of(money("$99999999999999999"), false), "$99'999'999'999'999'999.00");
    Cell zero = money("$0");
    money_negate(&zero);
    EXPECT_EQ(text_of(zero), "$0.00");

    money_digits_option = 0;
    EXPECT_EQ(text_of(big, false), "$1'234'567");
    money_digits_option = 9;
    EXPECT_EQ(text_of(big), "$1234567.00000");
}

TEST_F(Money, Round) {
    struct Case { const char* value; RoundFlags flags; const Cell* scale; const char* result; };
    Cell ten = money("$10"), dime = money("$0.10"), cent = money("$0.01");
    const RoundFlags none{}, even{true}, down{false, true}, half_down{false, false, true},
        floor{false, false, false, true};
    const Case cases[] = {
        {"$2.5", none, nullptr, "$3.00"},        {"$2.5", even, nullptr, "$2.00"},
        {"$3.5", even, nullptr, "$4.00"},        {"$25", even, &ten, "$20.00"},
        {"$0.25", half_down, &dime, "$0.20"},    {"$0.25", none, &dime, "$0.30"},
        {"$1.234", none, &cent, "$1.23"},        {"-$1.99", down, nullptr, "-$1.00"},
        {"-$1.01", floor, nullptr, "-$2.00"},    {"-$2.5", none, nullptr, "-$3.00"},
    };
    for (const Case& c : cases) {
        Cell v = money(c.value);
        const RoundFlags& f = c.flags;
        money_round(&v, c.scale, f.even, f.down, f.half_down, f.floor, f.ceiling, f.half_ceiling);
        EXPECT_EQ(text_of(v), c.result) << c.value;
    }
    Cell v = money("$1.234"), float_scale = number(T_FLOAT, 0.01);
    EXPECT_EQ(raised_code([&] {
                  money_round(&v, &float_scale, false, false, false, false, false, false);
              }),
              script(ERR_BAD_MAKE_ARG));
}

TEST_F(Money, ConversionsFromFloatsAreStrict) {
    struct Case { double x; const char* result; };  // null: bad-make-arg
    const Case cases[] = {
        {1.5, "$1.50"}, {1.25, "$1.25"}, {-2.0, "-$2.00"}, {0.1, nullptr}, {1.23, nullptr},
        {0.000001, nullptr}, {1e17, nullptr}, {1.0 / 0.0, nullptr},
    };
    for (const Case& c : cases) {
        CellRoot proto;
        Cell spec = number(T_FLOAT, c.x);
        if (c.result == nullptr) {
            EXPECT_EQ(raised_code([&] { money_to(&proto.cell, &spec, T_MONEY); }),
                      script(ERR_BAD_MAKE_ARG)) << c.x;
        } else {
            EXPECT_EQ(text_of(*money_to(&proto.cell, &spec, T_MONEY)), c.result);
        }
    }
    EXPECT_EQ(money_to_float(held("-$1234.56789")), -1234.56789);
}

TEST_F(Money, ToInteger) {
    EXPECT_EQ(money_to_integer(held("$2147483647.99")), 2147483647);
    EXPECT_EQ(money_to_integer(held("-$2147483648")), INT32_MIN);
    Cell over = money("$2147483648");
    EXPECT_EQ(raised_code([&] { money_to_integer(&over); }), script(ERR_TYPE_LIMIT));
    CellRoot proto;
    Cell m = money("-$7.9");
    EXPECT_EQ(int32_t(integer_to(&proto.cell, &m, T_INTEGER)->w2), -7);
    EXPECT_EQ(cell_double(float_make(&proto.cell, &m, T_FLOAT)), -7.9);
    CellRoot text;
    string_make_empty_at(&text.cell, 8);
    string_append_ascii(&text.cell, "USD$1'000.5", 11);
    EXPECT_EQ(text_of(*money_to(&proto.cell, &text.cell, T_MONEY)), "USD$1000.50");
    string_append_ascii(&text.cell, "x", 1);
    EXPECT_EQ(raised_code([&] { money_to(&proto.cell, &text.cell, T_MONEY); }),
              script(ERR_BAD_TO_ARG));
}

TEST_F(Money, MakeFromWordsAndBlocks) {
    Cell usd = word_cell(T_WORD, symbol_make("USD")), xyz = word_cell(T_WORD, symbol_make("XYZ"));
    struct Case { std::initializer_list<Cell> values; const char* result; };
    const Case cases[] = {
        {{usd, integer_cell(12)}, "USD$12.00000"},
        {{integer_cell(1), integer_cell(50000)}, "$1.50000"},
        {{integer_cell(-1), integer_cell(50000)}, "-$1.50000"},
        {{usd, number(T_FLOAT, 2.5)}, "USD$2.50000"},
        {{usd}, nullptr},
        {{xyz, integer_cell(1)}, nullptr},
        {{number(T_FLOAT, 1.5), integer_cell(1)}, nullptr},
        {{integer_cell(1), integer_cell(100000)}, nullptr},
        {{integer_cell(1), integer_cell(1), integer_cell(1)}, nullptr},
        {{}, nullptr},
    };
    for (const Case& c : cases) {
        CellRoot block, proto;
        block_of_cells(&block.cell, c.values.begin(), uint32_t(c.values.size()));
        if (c.result == nullptr) {
            EXPECT_EQ(raised_code([&] { money_make_action(&proto.cell, &block.cell, T_MONEY); }),
                      script(ERR_BAD_MAKE_ARG));
        } else {
            EXPECT_EQ(text_of(*money_make_action(&proto.cell, &block.cell, T_MONEY), true, true),
                      c.result);
        }
    }
    CellRoot proto;
    EXPECT_EQ(text_of(*money_make_action(&proto.cell, &usd, T_MONEY)), "USD$0.00");
    EXPECT_EQ(raised_code([&] { money_make_action(&proto.cell, &xyz, T_MONEY); }),
              script(ERR_BAD_MAKE_ARG));
}

TEST_F(Money, Compare) {
    Cell one = money("$1"), usd = money("USD$1"), eur = money("EUR$1"), dime = money("$0.10");
    EXPECT_EQ(money_compare(&one, &usd, CMP_EQUAL), 0);
    EXPECT_EQ(money_compare(&usd, &eur, CMP_EQUAL), 1);
    EXPECT_EQ(money_compare(&usd, &one, CMP_FIND), 0);
    EXPECT_EQ(money_compare(&one, &usd, CMP_FIND), 1);  // a currency asked for must match
    EXPECT_EQ(raised_code([&] { money_compare(&usd, &eur, CMP_LESSER); }), script(ERR_WRONG_DENOM));
    EXPECT_EQ(money_compare(&one, &eur, CMP_SORT), -1);  // no currency sorts first
    EXPECT_EQ(money_compare(&usd, &eur, CMP_SORT), 1);
    Cell neg = money("-$2"), two = integer_cell(2), tiny = number(T_FLOAT, 1e-6), huge = number(T_FLOAT, 1e18);
    EXPECT_EQ(money_compare(&neg, &one, CMP_LESSER), -1);
    EXPECT_EQ(money_compare(&neg, &two, CMP_LESSER), -1);
    EXPECT_EQ(money_compare(&one, &two, CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(money_compare(&one, &tiny, CMP_LESSER), 1);
    EXPECT_EQ(money_compare(&one, &huge, CMP_LESSER), -1);
    Cell point_one = number(T_FLOAT, 0.1);
    EXPECT_EQ(raised_code([&] { money_compare(&dime, &point_one, CMP_EQUAL); }),
              script(ERR_BAD_MAKE_ARG));
    // From the number side.
    Cell n = integer_cell(1);
    EXPECT_EQ(integer_compare(&n, &one, CMP_EQUAL), 0);
    Cell half = number(T_FLOAT, 0.5);
    EXPECT_EQ(float_compare(&half, &one, CMP_LESSER), -1);
    EXPECT_EQ(float_compare(&huge, &one, CMP_GREATER), 1);
}

TEST_F(Money, PredicatesAndSigns) {
    EXPECT_TRUE(money_even_q(held("$2.50")));
    EXPECT_TRUE(money_odd_q(held("$3")));
    Cell m = money("-$5");
    money_absolute(&m);
    EXPECT_EQ(text_of(m), "$5.00");
    EXPECT_EQ(money_signum(&m), 1);
    Cell z = money("-$0");
    EXPECT_TRUE(money_zero_q(&z));
    EXPECT_FALSE(money_negative_q(&z));
}

TEST_F(Money, PathAndPick) {
    Cell v = money("USD$5"), out;
    Cell code = word_cell(T_WORD, runtime_symbol(SYM_CODE));
    Cell amount = word_cell(T_WORD, runtime_symbol(SYM_AMOUNT));
    money_eval_path(&v, &code, nullptr, nullptr, false, &out);
    ASSERT_EQ(cell_type(&out), T_WORD);
    EXPECT_EQ(symbol_text(out.w2), "USD");
    money_eval_path(&v, &amount, nullptr, nullptr, false, &out);
    EXPECT_EQ(text_of(out), "$5.00");
    Cell picked = v, two = integer_cell(2), one = integer_cell(1);
    money_pick(&picked, &two);
    EXPECT_EQ(text_of(picked), "$5.00");
    Cell plain = money("$1");
    money_pick(&plain, &one);
    EXPECT_EQ(cell_type(&plain), T_NONE);
    Cell three = integer_cell(3);
    EXPECT_EQ(raised_code([&] { money_pick(&v, &three); }), script(ERR_OUT_OF_RANGE));
    EXPECT_EQ(raised_code([&] { money_eval_path(&v, &three, nullptr, nullptr, false, &out); }),
              script(ERR_INVALID_PATH));
    EXPECT_EQ(raised_code([&] { money_eval_path(&v, &code, &three, nullptr, false, &out); }),
              script(ERR_BAD_PATH_SET));
}

TEST_F(Money, Literals) {
    struct Case { const char* text; const char* mold_all; };  // null: invalid
    const Case cases[] = {
        {"$1'000.50", "$1000.50000"}, {"-$5", "-$5.00000"}, {"+$5", "$5.00000"},
        {"$0", "$0.00000"}, {"$000.5", "$0.50000"}, {"$1,5", "$1.50000"},
        {"usd$10", "USD$10.00000"}, {"$12345678901234567", "$12345678901234567.00000"},
        {"$00012345678901234567", "$12345678901234567.00000"}, {"$0.12345", "$0.12345"},
        {"$1''000", nullptr}, {"$1'.5", nullptr}, {"$.5", nullptr}, {"$1.", nullptr},
        {"$0.123456", nullptr}, {"$123456789012345678", nullptr}, {"US$10", nullptr},
        {"XYZ$10", nullptr}, {"$", nullptr}, {"$'1", nullptr}, {"$1'", nullptr},
        {"$1.2'3", nullptr}, {"$1x", nullptr}, {"1", nullptr},
    };
    for (const Case& c : cases) {
        if (c.mold_all == nullptr) {
            EXPECT_FALSE(loads(c.text)) << c.text;
        } else {
            EXPECT_TRUE(loads(c.text)) << c.text;
            EXPECT_EQ(text_of(money(c.text), true, true), c.mold_all) << c.text;
        }
    }
    EXPECT_TRUE(money_currency_append("XYZ"));
    EXPECT_TRUE(loads("XYZ$10"));
    EXPECT_FALSE(money_currency_append("xyz"));
}

TEST_F(Money, ScanString) {
    struct Case { const char* text; const char* mold_all; };
    const Case cases[] = {
        {"$1.50", "$1.50000"}, {"USD$1'000.5", "USD$1000.50000"}, {"1.5", "$1.50000"},
        {"-eur$2", "-EUR$2.00000"}, {"+$3", "$3.00000"},
        {"", nullptr}, {"$", nullptr}, {"US$1", nullptr}, {"USD1", nullptr}, {"$'1", nullptr},
        {"1'", nullptr}, {"1.", nullptr}, {".5", nullptr}, {"1..2", nullptr}, {"1,5", nullptr},
        {"1'.5", nullptr}, {"1.5'0", nullptr}, {"123456789012345678", nullptr},
        {"1.123456", nullptr}, {"XYZ$1", nullptr},
    };
    for (const Case& c : cases) {
        Cell out;
        cell_init(&out, T_NONE);
        bool ok = money_scan_string(reinterpret_cast<const uint8_t*>(c.text),
                                    uint32_t(std::strlen(c.text)), 1, &out);
        EXPECT_EQ(ok, c.mold_all != nullptr) << c.text;
        if (ok && c.mold_all) EXPECT_EQ(text_of(out, true, true), c.mold_all) << c.text;
    }
    // Wide characters are read at their unit.
    const uint32_t wide[] = {'$', '4', '.', '2'};
    Cell out;
    ASSERT_TRUE(money_scan_string(reinterpret_cast<const uint8_t*>(wide), 4, 4, &out));
    EXPECT_EQ(text_of(out), "$4.20");
}

TEST_F(Money, RandomStaysBetweenZeroAndTheValue) {
    Cell seed = money("$42");
    money_random(&seed, true, false, false);
    EXPECT_EQ(cell_type(&seed), T_UNSET);
    Cell limit = money("-EUR$123.45");
    std::string first;
    for (int i = 0; i < 200; ++i) {
        Cell v = limit;
        money_random(&v, false, i % 2 == 1, false);
        EXPECT_EQ(money_currency_index(&v), money_currency_index(&limit));
        EXPECT_TRUE(money_sign(&v));
        EXPECT_GE(money_compare(&v, &limit, CMP_SORT), 0) << text_of(v);
        EXPECT_LE(money_to_float(&v), 0.0);
        if (i == 0) first = text_of(v, true, true);
    }
    // The same seed gives the same draws.
    Cell again = money("$42");
    money_random(&again, true, false, false);
    Cell v = limit;
    money_random(&v, false, false, false);
    EXPECT_EQ(text_of(v, true, true), first);
}
