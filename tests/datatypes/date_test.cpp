#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/time.hpp"
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

using DateTest = RuntimeTest;

int script(ScriptError id) { return int(ErrorCategory::script) * 100 + id; }

std::string text(const Cell& date) {
    char buffer[128];
    return std::string(buffer, size_t(date_text(&date, buffer)));
}

// A date literal's value; the test fails when it does not load.
Cell date(const char* s) {
    Cell out;
    cell_init(&out, T_NONE);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
    EXPECT_TRUE(scan_date(p, p + std::strlen(s), &out)) << s;
    return out;
}

bool loads(const char* s) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
    return scan_date(p, p + std::strlen(s), nullptr);
}



Cell field_word(RuntimeSymbol symbol) { return word_cell(T_WORD, runtime_symbol(symbol)); }

// The field read through path selection; valid until the next call.
const Cell* get(Cell* d, RuntimeSymbol symbol) {
    static Cell out;
    Cell w = field_word(symbol);
    date_eval_path(d, &w, nullptr, nullptr, false, &out);
    return &out;
}

void set(Cell* d, RuntimeSymbol symbol, const Cell& value) {
    Cell w = field_word(symbol);
    Cell out;
    date_eval_path(d, &w, &value, nullptr, false, &out);
    EXPECT_EQ(std::memcmp(&out, &value, sizeof(Cell)), 0);
}

} // namespace

TEST_F(DateTest, Calendar) {
    EXPECT_EQ(text(date("1-Mar-0000")), "1-Mar-0000");
    EXPECT_EQ(date_day_number(date("1-Mar-0000").w1), 0);
    EXPECT_EQ(date_day_number(date("1-Jan-1970").w1), DATE_EPOCH_DAY);
    EXPECT_EQ(date_weekday(date("1-Jan-2000").w1), 6);
    for (int64_t y : {1900, 2100, 2001, -1}) EXPECT_FALSE(date_leap_year_q(y)) << y;
    for (int64_t y : {2000, 2024, 0, -4, -400}) EXPECT_TRUE(date_leap_year_q(y)) << y;
    // Day numbers and dates agree day by day across year 0, leap days included.
    static const int32_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int64_t d = date_day_number_of(-800, 1, 1); d < date_day_number_of(800, 1, 1); ++d) {
        uint32_t p = date_from_day_number(d, 0, false);
        ASSERT_EQ(date_day_number(p), d);
        int32_t m = date_month(p);
        int32_t length = lengths[m - 1] + (m == 2 && date_leap_year_q(date_year(p)) ? 1 : 0);
        ASSERT_TRUE(date_day(p) >= 1 && date_day(p) <= length) << d;
    }
    EXPECT_EQ(date_day_number_of(-4, 3, 1) - date_day_number_of(-4, 2, 28), 2);
    EXPECT_EQ(date_day_number_of(-3, 3, 1) - date_day_number_of(-3, 2, 28), 1);
    uint32_t leap = date_from_day_number(date_day_number_of(-4, 2, 29), 0, false);
    EXPECT_EQ(date_month(leap), 2);
    EXPECT_EQ(date_day(leap), 29);
}

TEST_F(DateTest, Weeks) {
    struct Case { const char* date; int32_t isoweek, week, yearday; };
    const Case cases[] = {
        {"1-Jan-2021", 53, 1, 1}, {"1-Jan-2022", 52, 1, 1}, {"31-Dec-2024", 1, 53, 366},
        {"4-Jan-2021", 1, 2, 4}, {"1-Jan-2017", 52, 1, 1}, {"3-Jan-2016", 53, 2, 3},
    };
    for (const Case& c : cases) {
        uint32_t p = date(c.date).w1;
        EXPECT_EQ(date_isoweek(p), c.isoweek) << c.date;
        EXPECT_EQ(date_week(p), c.week) << c.date;
        EXPECT_EQ(date_yearday(p), c.yearday) << c.date;
    }
}

TEST_F(DateTest, Text) {
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"5-Jan-2021", "5-Jan-2021"},
        {"5-Jan-2021/10:30", "5-Jan-2021/10:30:00"},
        {"5-Jan-2021/10:30+05:30", "5-Jan-2021/10:30:00+05:30"},
        {"5-Jan-2021/22:00-8:00", "5-Jan-2021/22:00:00-08:00"},
        {"1-Jan-0099", "1-Jan-0099"},
        {"1-Jan-100", "1-Jan-100"},
        {"1-Mar--44", "1/Mar/-0044"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(date(c.in)), c.out) << c.in;
    CellRoot target;
    string_make_empty_at(&target.cell, 4);
    Cell d = date("5-Jan-2021");
    EXPECT_EQ(date_form(&d, &target.cell, false, false, false, false, 20, 0), 10);
}

TEST_F(DateTest, Literals) {
    struct Case { const char* in; const char* out; };  // out null: invalid
    const Case cases[] = {
        {"1-Jan-2000", "1-Jan-2000"}, {"1/jan/2000", "1-Jan-2000"}, {"2000-01-01", "1-Jan-2000"},
        {"1-1-2000", "1-Jan-2000"}, {"01-January-2000", "1-Jan-2000"},
        {"1-Sept-2000", "1-Sep-2000"}, {"1-1-05", "1-Jan-2005"}, {"1-1-75", "1-Jan-1975"},
        {"1-1-075", "1-Jan-0075"}, {"29-Feb-2000", "29-Feb-2000"},
        {"2000-01-01T10:20:30+05:30", "1-Jan-2000/10:20:30+05:30"},
        {"2000-01-01/10:20", "1-Jan-2000/10:20:00"},
        {"1-Jan-2000/10:20:30.5Z", "1-Jan-2000/10:20:30.5"},
        {"1-Jan-2000/10:20-0:30", "1-Jan-2000/10:20:00-00:30"},
        {"20000101T102030Z", "1-Jan-2000/10:20:30"},
        {"20000101T1020Z", "1-Jan-2000/10:20:00"},
        {"20000101T102030-0130", "1-Jan-2000/10:20:30-01:30"},
        {"2020-W10-3", "4-Mar-2020"}, {"2020-W10", "2-Mar-2020"},
        {"2020-W10-3T10:00", "4-Mar-2020/10:00:00"},
        {"2020-060", "29-Feb-2020"}, {"2020-060T10:00+02:00", "29-Feb-2020/10:00:00+02:00"},
        {"1-Jan/2000", nullptr}, {"29-Feb-2001", nullptr}, {"31-Apr-2000", nullptr},
        {"1-13-2000", nullptr}, {"2000-01-01T10:20:30+16:00", nullptr},
        {"20000101T1020", nullptr}, {"2020-W10-8", nullptr}, {"2020-000", nullptr},
        {"1-Ma-2000", nullptr}, {"1-Mayo-2000", nullptr}, {"1-Jan-2000/24:00", nullptr},
        {"1-Jan-2000/10:60", nullptr}, {"1-Jan-2000/10:00:60", nullptr},
        {"1-Jan-2000x", nullptr}, {"1-Jan-2000/10:00+5:60", nullptr},
        {"2020-W54", nullptr}, {"2020-W00", nullptr}, {"2020-W10-3T25:00", nullptr},
        {"2021-366", nullptr}, {"2020-060T10:00+16:00", nullptr}, {"2000", nullptr},
        {"0-Jan-2000", nullptr}, {"1-Jan-10000", nullptr},
    };
    for (const Case& c : cases) {
        if (c.out == nullptr) EXPECT_FALSE(loads(c.in)) << c.in;
        else EXPECT_EQ(text(date(c.in)), c.out) << c.in;
    }
}

TEST_F(DateTest, MakeAndToFromBlocks) {
    struct Case { std::initializer_list<Cell> values; bool to; const char* out; };
    Cell i1 = integer_cell(1), i2 = integer_cell(2), i31 = integer_cell(31),
         i2000 = integer_cell(2000);
    const Case cases[] = {
        {{i31, i2, i2000}, true, "2-Mar-2000"},
        {{i31, i2, i2000}, false, nullptr},
        {{i2000, i2, integer_cell(29)}, false, "29-Feb-2000"},
        {{i1, i2, integer_cell(3)}, false, "1-Feb-0003"},
        {{i1, i2}, false, nullptr},
        {{i1, i1, i2000, number(T_TIME, 36000), i2, integer_cell(0)}, false,
         "1-Jan-2000/10:00:00+02:00"},
        {{i1, i1, i2000, integer_cell(10), integer_cell(30), integer_cell(0), integer_cell(-5),
          integer_cell(30)},
         false, "1-Jan-2000/10:30:00-05:30"},
        {{i1, i1, i2000, number(T_TIME, 25 * 3600.0)}, true, "2-Jan-2000/1:00:00"},
        {{i1, i1, i2000, number(T_TIME, 25 * 3600.0)}, false, nullptr},
        {{i1, i1, i2000, number(T_TIME, 3600), number(T_TIME, -1800)}, true, "1-Jan-2000/1:00:00-00:30"},
        {{i1, i1, i2000, number(T_TIME, 3600), integer_cell(16)}, true, nullptr},
        {{i1, i1, i2000, number(T_TIME, 3600), i1, integer_cell(60)}, true, nullptr},
        {{i1, i1, i2000, integer_cell(10), integer_cell(30), number(T_FLOAT, 1.5)}, false,
         "1-Jan-2000/10:30:01.5"},
        {{i1, number(T_TIME, 0), i2000}, true, nullptr},
        {{i1, i1, integer_cell(100000)}, true, nullptr},
    };
    for (const Case& c : cases) {
        CellRoot block, proto;
        block_of_cells(&block.cell, c.values.begin(), uint32_t(c.values.size()));
        auto run = [&] {
            return c.to ? date_to(&proto.cell, &block.cell, T_DATE)
                        : date_make(&proto.cell, &block.cell, T_DATE);
        };
        if (c.out == nullptr) {
            int code = raised_code(run);
            EXPECT_TRUE(code == script(ERR_BAD_TO_ARG) || code == script(ERR_TYPE_LIMIT))
                << c.values.size() << " values, code " << code;
        } else {
            const Cell* r = run();
            EXPECT_EQ(r->header, uint32_t(T_DATE));
            EXPECT_EQ(text(*r), c.out);
        }
    }
    CellRoot proto;
    Cell n = integer_cell(5);
    EXPECT_EQ(raised_code([&] { date_make(&proto.cell, &n, T_DATE); }), script(ERR_BAD_TO_ARG));
}

TEST_F(DateTest, EpochSeconds) {
    struct Case { int32_t n; const char* out; };
    const Case cases[] = {
        {0, "1-Jan-1970/0:00:00"}, {-1, "31-Dec-1969/23:59:59"}, {-86401, "30-Dec-1969/23:59:59"},
        {2147483647, "19-Jan-2038/3:14:07"}, {INT32_MIN, "13-Dec-1901/20:45:52"},
    };
    for (const Case& c : cases) {
        CellRoot proto;
        Cell spec = integer_cell(c.n);
        const Cell* d = date_to(&proto.cell, &spec, T_DATE);
        EXPECT_EQ(text(*d), c.out) << c.n;
        EXPECT_EQ(date_to_epoch(d), c.n);
    }
    Cell later = date("1-Jan-2100/0:00");
    EXPECT_EQ(raised_code([&] { date_to_epoch(&later); }), script(ERR_TYPE_LIMIT));
    Cell zoned = date("1-Jan-1970/2:00+02:00");
    CellRoot proto;
    EXPECT_EQ(int32_t(integer_to(&proto.cell, &zoned, T_INTEGER)->w2), 0);
}

TEST_F(DateTest, Zones) {
    Cell a = date("1-Jan-2000/1:00:00+02:00"), minus5 = integer_cell(-5);
    set(&a, SYM_TIMEZONE, minus5);
    EXPECT_EQ(text(a), "31-Dec-1999/18:00:00-05:00");
    Cell b = date("1-Jan-2000/1:00:00+02:00");
    set(&b, SYM_ZONE, minus5);
    EXPECT_EQ(text(b), "1-Jan-2000/1:00:00-05:00");
    Cell utc = date("1-Jan-2000/1:00:00+02:00");
    Cell zone = number(T_TIME, -1800);
    set(&utc, SYM_ZONE, zone);
    EXPECT_EQ(text(utc), "1-Jan-2000/1:00:00-00:30");
    EXPECT_EQ(cell_double(get(&b, SYM_ZONE)), -5 * 3600.0);
    Cell plain = date("1-Jan-2000");
    EXPECT_EQ(cell_type(get(&plain, SYM_ZONE)), T_NONE);
    EXPECT_EQ(cell_type(get(&plain, SYM_TIME)), T_NONE);
    Cell word = field_word(SYM_YEAR);
    EXPECT_EQ(raised_code([&] { set(&plain, SYM_ZONE, word); }), script(ERR_INVALID_ARG));
}

TEST_F(DateTest, Arithmetic) {
    Cell a = date("1-Jan-2000/23:50:00+05:30"), twenty = number(T_TIME, 1200);
    date_add(&a, &twenty);
    EXPECT_EQ(text(a), "2-Jan-2000/0:10:00+05:30");

    Cell m = date("1-Mar-2000"), j = date("1-Jan-2000");
    date_subtract(&m, &j);
    EXPECT_EQ(m.header, uint32_t(T_INTEGER));
    EXPECT_EQ(int32_t(m.w2), 60);

    Cell p = date("1-Jan-2000"), q = date("2-Jan-2000");
    EXPECT_EQ(raised_code([&] { date_add(&p, &q); }), script(ERR_NOT_RELATED));
    Cell f{T_FLOAT, 0, 0, 0};
    EXPECT_EQ(raised_code([&] { date_add(&p, &f); }), script(ERR_INVALID_TYPE));
    Cell hour = number(T_TIME, 3600);
    date_add(&p, &hour);
    EXPECT_EQ(text(p), "1-Jan-2000/1:00:00");
    Cell back = integer_cell(-31);
    date_add(&p, &back);
    EXPECT_EQ(text(p), "1-Dec-1999/1:00:00");

    Cell n = integer_cell(1), d = date("31-Dec-1999");
    integer_add(&n, &d);
    EXPECT_EQ(text(n), "1-Jan-2000");
    Cell k = integer_cell(1);
    EXPECT_EQ(raised_code([&] { integer_subtract(&k, &d); }), script(ERR_NOT_RELATED));

    Cell x = date("2-Jan-2000/1:00"), y = date("1-Jan-2000/0:30");
    date_difference(&x, &y);
    EXPECT_EQ(x.header, uint32_t(T_TIME));
    EXPECT_EQ(cell_double(&x), 86400 + 1800);
    Cell far, day = integer_cell(1);
    date_from_fields(&far, 16383, 12, 31, 0, 0, 0, 0);
    EXPECT_EQ(raised_code([&] { date_add(&far, &day); }), script(ERR_TYPE_LIMIT));
}

TEST_F(DateTest, Compare) {
    Cell a = date("1-Jan-2000/0:30+01:00"), b = date("31-Dec-1999/23:30");
    EXPECT_EQ(cell_double(&a), cell_double(&b) - 86400);  // one instant
    EXPECT_EQ(date_compare(&a, &b, CMP_EQUAL), 1);        // two local dates
    EXPECT_EQ(date_compare(&a, &b, CMP_GREATER), 1);
    Cell c = date("1-Jan-2000/10:00"), d = date("1-Jan-2000/10:00+02:00");
    EXPECT_EQ(date_compare(&c, &d, CMP_LESSER), 1);  // later UTC seconds
    Cell e = date("1-Jan-2000"), f = date("1-Jan-2000");
    EXPECT_EQ(date_compare(&e, &f, CMP_SAME), 0);
    Cell old = date("1-Jan--5"), n = integer_cell(1);
    EXPECT_EQ(date_compare(&old, &e, CMP_LESSER), -1);
    EXPECT_EQ(date_compare(&e, &n, CMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(DateTest, FieldsReadAndSet) {
    Cell d = date("5-Jan-2021/10:30:15.5+05:30");
    EXPECT_EQ(int32_t(get(&d, SYM_YEAR)->w2), 2021);
    EXPECT_EQ(int32_t(get(&d, SYM_HOUR)->w2), 10);
    EXPECT_EQ(int32_t(get(&d, SYM_MINUTE)->w2), 30);
    EXPECT_EQ(cell_double(get(&d, SYM_SECOND)), 15.5);
    EXPECT_EQ(int32_t(get(&d, SYM_WEEKDAY)->w2), 2);
    EXPECT_EQ(int32_t(get(&d, SYM_JULIAN)->w2), 5);
    EXPECT_EQ(text(*get(&d, SYM_DATE)), "5-Jan-2021");
    EXPECT_EQ(cell_double(get(&d, SYM_TIME)), 10 * 3600 + 30 * 60 + 15.5);
    Cell three = integer_cell(3);
    Cell picked = d;
    date_pick(&picked, &three);
    EXPECT_EQ(picked.header, uint32_t(T_INTEGER));
    EXPECT_EQ(int32_t(picked.w2), 1);

    struct Case { RuntimeSymbol field; int32_t n; const char* out; };
    const Case cases[] = {
        {SYM_MONTH, 0, "15-Dec-2020"}, {SYM_MONTH, 13, "15-Jan-2022"},
        {SYM_MONTH, -11, "15-Jan-2020"}, {SYM_DAY, 0, "31-Dec-2020"},
        {SYM_YEAR, 2019, "15-Jan-2019"}, {SYM_WEEKDAY, 7, "17-Jan-2021"},
        {SYM_YEARDAY, 60, "1-Mar-2021"}, {SYM_ISOWEEK, 1, "4-Jan-2021"},
        {SYM_WEEK, 2, "3-Jan-2021"}, {SYM_WEEK, 1, "1-Jan-2021"},
    };
    for (const Case& c : cases) {
        Cell v = date("15-Jan-2021");
        set(&v, c.field, integer_cell(c.n));
        EXPECT_EQ(text(v), c.out) << c.n;
    }
    Cell leap = date("29-Feb-2000");
    set(&leap, SYM_YEAR, integer_cell(2001));
    EXPECT_EQ(text(leap), "1-Mar-2001");
    Cell huge = date("1-Jan-2000");
    EXPECT_EQ(raised_code([&] { set(&huge, SYM_YEAR, integer_cell(20000)); }),
              script(ERR_TYPE_LIMIT));

    // Hour, minute and second are set in the local time of the zone.
    Cell z = date("1-Jan-2000/10:00+05:30");
    set(&z, SYM_MINUTE, integer_cell(10));
    EXPECT_EQ(text(z), "1-Jan-2000/10:10:00+05:30");
    set(&z, SYM_HOUR, integer_cell(23));
    EXPECT_EQ(text(z), "1-Jan-2000/23:10:00+05:30");
    set(&z, SYM_SECOND, integer_cell(59));
    EXPECT_EQ(text(z), "1-Jan-2000/23:10:59+05:30");
    set(&z, SYM_HOUR, integer_cell(25));
    EXPECT_EQ(text(z), "2-Jan-2000/1:10:59+05:30");

    Cell t = date("1-Jan-2000");
    set(&t, SYM_TIME, number(T_TIME, 3600));
    EXPECT_EQ(text(t), "1-Jan-2000/1:00:00");
    Cell none{T_NONE, 0, 0, 0};
    set(&t, SYM_TIME, none);
    EXPECT_EQ(text(t), "1-Jan-2000");
    Cell other = date("3-Feb-2001/5:00");
    set(&t, SYM_DATE, other);
    EXPECT_EQ(text(t), "3-Feb-2001/0:00:00");

    Cell fifteen = integer_cell(15), bad = word_cell(T_WORD, symbol_make("fortnight"));
    EXPECT_EQ(raised_code([&] { date_pick(&t, &fifteen); }), script(ERR_OUT_OF_RANGE));
    EXPECT_EQ(raised_code([&] { get(&t, SYM_AMOUNT); }), script(ERR_INVALID_PATH));
    EXPECT_EQ(raised_code([&] { date_pick(&t, &bad); }), script(ERR_OUT_OF_RANGE));
    EXPECT_EQ(raised_code([&] { set(&t, SYM_DAY, none); }), script(ERR_INVALID_ARG));
}

TEST_F(DateTest, Constructors) {
    Cell c;
    cell_init(&c, T_NONE);
    date_from_os_time(&c, 2021, 1, 5, 36000, -8, 0, true);
    EXPECT_EQ(text(c), "5-Jan-2021/10:00:00-08:00");
    date_from_fields(&c, 2021, 1, 5, 10, 30, 0, 500000000);
    EXPECT_EQ(text(c), "5-Jan-2021/10:30:00.5");
    Cell* pushed = date_push(c.w1, 60);
    EXPECT_EQ(text(*pushed), "5-Jan-2021/0:01:00");
    date_from_os_time(&c, 2021, 1, 5, 36000, 0, 0, false);
    EXPECT_EQ(text(c), "5-Jan-2021");
    EXPECT_EQ(cell_double(&c), 0.0);
}

TEST_F(DateTest, RandomDrawsUpToTheDate) {
    Cell seed = date("1-Jan-2000");
    date_random(&seed, true, false, false);
    EXPECT_EQ(cell_type(&seed), T_UNSET);
    Cell limit = date("5-Jan-2021"), timed = date("5-Jan-2021/10:00");
    for (int i = 0; i < 100; ++i) {
        Cell v = limit, t = timed;
        date_random(&v, false, i % 2 == 1, false);
        EXPECT_LE(date_day_number(v.w1), date_day_number(limit.w1));
        EXPECT_GE(date_day_number(v.w1), 0);
        EXPECT_FALSE(date_has_time(v.w1));
        date_random(&t, false, i % 2 == 1, false);
        EXPECT_TRUE(date_has_time(t.w1));
        double local = date_to_local(cell_double(&t), date_zone(t.w1));
        EXPECT_TRUE(local >= 0 && local < 86400) << text(t);
        EXPECT_EQ(std::fmod(local, 24.0), 0) << text(t);  // steps of 24 seconds
    }
}
