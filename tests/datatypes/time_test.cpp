#include "datatypes/time.hpp"
#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "core/mold_text.hpp"
#include "core/stack.hpp"
#include "tests/core/symbol_fixture.hpp"
#include "tests/support/number_fixture.hpp"
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <string>

using namespace kel;
using namespace kel::testing;

namespace {

using TimeTest = RuntimeTest;

int script(ScriptError id) { return int(ErrorCategory::script) * 100 + id; }

std::string text(double t) {
    char buffer[64];
    return std::string(buffer, size_t(time_text(t, buffer)));
}



// The seconds of a time literal; NaN when it is invalid.
double literal(const char* s) {
    Cell out;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
    if (!scan_time(p, p + std::strlen(s), &out)) return std::nan("");
    EXPECT_EQ(cell_type(&out), T_TIME);
    return cell_double(&out);
}

} // namespace

TEST_F(TimeTest, Text) {
    struct Case { double t; const char* text; };
    const Case cases[] = {
        {0, "0:00:00"}, {3900, "1:05:00"}, {37805.25, "10:30:05.25"}, {-30, "-0:00:30"},
        {90000, "25:00:00"}, {0.0000004, "0:00:00"}, {3600.5, "1:00:00.5"}, {5, "0:00:05"},
        {3599.99996, "1:00:00"},  // seconds that print as 60 carry into the minutes
        {-3599.99996, "-1:00:00"}, {59.5, "0:00:59.5"}, {1e15 * 3600, "1000000000000000:00:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(c.t), c.text) << c.t;
    CellRoot target;
    string_make_empty_at(&target.cell, 4);
    Cell t = number(T_TIME, 5400);
    EXPECT_EQ(time_form(&t, &target.cell, false, false, false, false, 50, 0), 50 - 7);
}

TEST_F(TimeTest, MakeAndTo) {
    struct Case { std::initializer_list<Cell> values; double seconds; };  // NaN: bad-to-arg
    const double bad = std::nan("");
    const Case cases[] = {
        {{integer_cell(1), integer_cell(30)}, 5400},
        {{integer_cell(-1), integer_cell(30), integer_cell(15)}, -5415},
        {{integer_cell(0), integer_cell(0), number(T_FLOAT, 1.5)}, 1.5},
        {{}, 0},
        {{integer_cell(1), integer_cell(-30)}, bad},
        {{integer_cell(1), integer_cell(2), integer_cell(3), integer_cell(4)}, bad},
        {{number(T_FLOAT, 1.5)}, bad},
    };
    for (const Case& c : cases) {
        CellRoot block, proto;
        block_of_cells(&block.cell, c.values.begin(), uint32_t(c.values.size()));
        if (std::isnan(c.seconds)) {
            EXPECT_EQ(raised_code([&] { time_make(&proto.cell, &block.cell, T_TIME); }),
                      script(ERR_BAD_TO_ARG));
        } else {
            const Cell* r = time_make(&proto.cell, &block.cell, T_TIME);
            EXPECT_EQ(r->header, uint32_t(T_TIME));
            EXPECT_EQ(cell_double(r), c.seconds);
        }
    }
    CellRoot proto;
    Cell ninety = integer_cell(90), f = number(T_FLOAT, 3600.5);
    EXPECT_EQ(text(cell_double(time_make(&proto.cell, &ninety, T_TIME))), "0:01:30");
    EXPECT_EQ(text(cell_double(time_make(&proto.cell, &f, T_TIME))), "1:00:00.5");
    Cell logic{T_LOGIC, 0, 1, 0};
    EXPECT_EQ(raised_code([&] { time_make(&proto.cell, &logic, T_TIME); }), script(ERR_BAD_TO_ARG));
}

TEST_F(TimeTest, MakeFromText) {
    struct Case { const char* text; double seconds; };
    const Case cases[] = {{"10:30", 37800}, {" 1:30:15.5 ", 5415.5}, {"10", std::nan("")},
                          {"", std::nan("")}, {"10:30x", std::nan("")}};
    for (const Case& c : cases) {
        CellRoot spec, proto;
        string_make_empty_at(&spec.cell, 8);
        string_append_ascii(&spec.cell, c.text, uint32_t(std::strlen(c.text)));
        if (std::isnan(c.seconds)) {
            EXPECT_EQ(raised_code([&] { time_make(&proto.cell, &spec.cell, T_TIME); }),
                      script(ERR_BAD_TO_ARG)) << c.text;
        } else {
            EXPECT_EQ(cell_double(time_make(&proto.cell, &spec.cell, T_TIME)), c.seconds);
        }
    }
}

TEST_F(TimeTest, Literals) {
    struct Case { const char* text; double seconds; };
    const double bad = std::nan("");
    const Case cases[] = {
        {"1:30", 5400},      {"-1:30", -5400},    {"+1:30", 5400},      {"1:30:15.5", 5415.5},
        {"10:20.5", 620.5},  {"-10:20.5", -620.5}, {"10:20,5", 620.5},   {"100:00", 360000},
        {"1:75", 8100},      {"1'000:00", 3600000},
        {"1:30:60", bad},    {"1:30:", bad},      {"1:-5", bad},        {"1:30:1e1", bad},
        {"1", bad},          {":30", bad},        {"1:30:15:2", bad},   {"3000000000:00", bad},
        {"1:30x", bad},
    };
    for (const Case& c : cases) {
        double got = literal(c.text);
        if (std::isnan(c.seconds)) EXPECT_TRUE(std::isnan(got)) << c.text;
        else EXPECT_EQ(got, c.seconds) << c.text;
    }
}

TEST_F(TimeTest, Fields) {
    Cell t = number(T_TIME, -5400), out;  // -1:30:00
    Cell hour = word_cell(T_WORD, runtime_symbol(SYM_HOUR));
    Cell minute = word_cell(T_WORD, runtime_symbol(SYM_MINUTE));
    time_eval_path(&t, &hour, nullptr, nullptr, false, &out);
    EXPECT_EQ(out.header, uint32_t(T_INTEGER));
    EXPECT_EQ(int32_t(out.w2), -1);
    Cell picked = t;
    time_pick(&picked, &minute);
    EXPECT_EQ(int32_t(picked.w2), 30);
    Cell two = integer_cell(2);
    time_eval_path(&t, &hour, &two, nullptr, false, &out);
    EXPECT_EQ(text(cell_double(&t)), "2:30:00");
    EXPECT_EQ(int32_t(out.w2), 2);

    Cell s = number(T_TIME, 3725.5);
    Cell third = integer_cell(3);
    time_eval_path(&s, &third, nullptr, nullptr, false, &out);
    EXPECT_EQ(out.header, uint32_t(T_FLOAT));
    EXPECT_EQ(cell_double(&out), 5.5);
    Cell f = number(T_FLOAT, 7.25);
    time_eval_path(&s, &third, &f, nullptr, false, &out);
    EXPECT_EQ(text(cell_double(&s)), "1:02:07.25");

    Cell other = word_cell(T_WORD, symbol_make("other"));
    Cell four = integer_cell(4);
    EXPECT_EQ(raised_code([&] { time_pick(&s, &other); }), script(ERR_CANNOT_USE));
    EXPECT_EQ(raised_code([&] { time_pick(&s, &four); }), script(ERR_OUT_OF_RANGE));
    EXPECT_EQ(raised_code([&] { time_eval_path(&s, &four, nullptr, nullptr, false, &out); }),
              script(ERR_INVALID_PATH));
    EXPECT_EQ(raised_code([&] { time_eval_path(&s, &hour, &f, nullptr, false, &out); }),
              script(ERR_INVALID_ARG));
}

TEST_F(TimeTest, Arithmetic) {
    Cell a = number(T_TIME, 36000), b = number(T_TIME, 7200);
    time_divide(&a, &b);
    EXPECT_EQ(a.header, uint32_t(T_FLOAT));
    EXPECT_EQ(cell_double(&a), 5.0);

    Cell c = number(T_TIME, 36000), two = integer_cell(2);
    time_divide(&c, &two);
    EXPECT_EQ(cell_type(&c), T_TIME);
    EXPECT_EQ(text(cell_double(&c)), "5:00:00");

    Cell d = number(T_TIME, 36000), e = number(T_TIME, 7200);
    EXPECT_EQ(raised_code([&] { time_multiply(&d, &e); }), script(ERR_NOT_RELATED));
    Cell date;
    cell_init(&date, T_DATE);
    date.w1 = (2000u << 17) | (1u << 12) | (1u << 7);
    EXPECT_EQ(raised_code([&] { time_subtract(&d, &date); }), script(ERR_NOT_RELATED));

    Cell sum = number(T_TIME, 3600);
    time_add(&sum, &date);  // the date kernel adds with the date first
    ASSERT_EQ(cell_type(&sum), T_DATE);
    char buffer[96];
    EXPECT_EQ(std::string(buffer, size_t(date_text(&sum, buffer))), "1-Jan-2000/1:00:00");
}

TEST_F(TimeTest, RoundAndParity) {
    Cell t = number(T_TIME, 3725), unit = number(T_TIME, 60);
    time_round(&t, &unit, false, false, false, false, false, false);
    EXPECT_EQ(t.header, uint32_t(T_TIME));
    EXPECT_EQ(cell_double(&t), 3720);
    Cell u = number(T_TIME, 90.5), ten = integer_cell(10);
    time_round(&u, &ten, false, false, false, false, false, false);
    EXPECT_EQ(u.header, uint32_t(T_TIME));
    EXPECT_EQ(cell_double(&u), 90);
    Cell money{T_MONEY, 0, 0, 0};
    EXPECT_EQ(raised_code([&] { time_round(&u, &money, false, false, false, false, false, false); }),
              script(ERR_NOT_RELATED));

    struct Case { double t; bool even; };
    const Case cases[] = {{36001, false}, {36002, true}, {36001.9999999, true}, {-36001, false}};
    for (const Case& c : cases) {
        Cell v = number(T_TIME, c.t);
        EXPECT_EQ(time_even_q(&v), c.even) << c.t;
        EXPECT_EQ(time_odd_q(&v), !c.even) << c.t;
    }
}
