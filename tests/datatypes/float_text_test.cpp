#include "core/float_text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace kel;

namespace {

double read_all(const std::string& text, int32_t extra = 0, int32_t* left = nullptr) {
    int32_t unused;
    return string_to_float(text.data(), text.data() + text.size(), extra, left ? left : &unused);
}

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

} // namespace

TEST(FloatText, FormLayout) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { double x; int32_t ndigits; bool dot_zero; const char* text; };
    const Case cases[] = {
        {0.1, 0, true, "0.1"},
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e16, 0, false, "10000000000000000"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {1.5e-8, 0, false, "1.5e-8"},
        {-2.5e300, 0, true, "-2.5e300"},
        {123456.0, 6, false, "123456"},
        {12.3456789, 6, false, "12.3457"},
        {9.9999999, 6, true, "10.0"},
        {0.000123, 0, true, "0.000123"},
        {123.45, 0, true, "123.45"},
        {1000.0, 0, true, "1000.0"},
        {1000.0, 0, false, "1000"},
        {-1.5, 0, true, "-1.5"},
        {-0.0, 0, true, "-0.0"},
        {-0.0, 0, false, "-0"},
        {0.0, 0, true, "0.0"},
        {5e-324, 0, true, "5.0e-324"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        {0.1, 22, true, "0.1000000000000000055511"},
        {2.5, 1, false, "2"},  // ties to even
        {3.5, 1, false, "4"},
        {inf, 0, true, "1.#INF"},
        {-inf, 6, false, "-1.#INF"},
        {std::nan(""), 0, true, "1.#NaN"},
        {-std::nan(""), 0, true, "1.#NaN"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(float_form(c.x, c.ndigits, c.dot_zero), c.text)
            << c.x << " ndigits " << c.ndigits << " dot_zero " << c.dot_zero;
}

TEST(FloatText, DigitsAndPointPosition) {
    FloatDigits d = float_to_digits(0.1, 0, true);
    EXPECT_STREQ(d.text, "1");
    EXPECT_EQ(d.point, 0);
    EXPECT_EQ(d.count, 1);
    EXPECT_FALSE(d.negative);

    d = float_to_digits(-(0.1 + 0.2), 0, false);
    EXPECT_STREQ(d.text, "30000000000000004");
    EXPECT_EQ(d.point, 0);
    EXPECT_EQ(d.count, 17);
    EXPECT_TRUE(d.negative);

    d = float_to_digits(-0.0, 0, false);
    EXPECT_STREQ(d.text, "-0");
    EXPECT_EQ(d.point, FLOAT_POINT_ZERO);

    d = float_to_digits(-std::numeric_limits<double>::infinity(), 0, false);
    EXPECT_STREQ(d.text, "-1.#INF");
    EXPECT_EQ(d.point, FLOAT_POINT_SPECIAL);

    // More digits than a double has give its exact value, trailing zeros dropped.
    d = float_to_digits(std::ldexp(1.0, -1074), 5000, false);
    EXPECT_EQ(d.point, -323);
    EXPECT_EQ(d.count, 751);
    EXPECT_EQ(std::string(d.text).substr(0, 10), "4940656458");
    EXPECT_EQ(std::string(d.text).substr(741), "3447265625");
}

TEST(FloatText, GeneralLayoutAsPrintfG) {
    struct Case { double x; int32_t precision; const char* text; };
    const Case cases[] = {
        {1e20, 16, "1e+20"},     {0.1 + 0.2, 16, "0.3"},       {1.5e-5, 16, "1.5e-05"},
        {2.0, 16, "2"},          {0.1 + 0.7, 16, "0.7999999999999999"},
        {0.1 + 0.7, 14, "0.8"},  {100.0, 7, "100"},            {123456789.0, 7, "1.234568e+08"},
        {-0.0, 13, "-0"},        {1e-300, 0, "1e-300"},
        {std::numeric_limits<double>::infinity(), 7, "1.#INF"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(float_form_general(c.x, c.precision), c.text) << c.x << " %." << c.precision << "g";
}

TEST(FloatText, ReadingValuesAndUnconsumedCount) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { const char* text; int32_t extra; double value; int32_t left; };
    const Case cases[] = {
        {"1.5", 0, 1.5, 0},
        {"+1.5e3", 0, 1500.0, 0},
        {"-.25", 0, -0.25, 0},
        {"000", 0, 0.0, 0},
        {"0.000", 0, 0.0, 0},
        {"15", -1, 1.5, 0},
        {"1.5E-2", 2, 1.5, 0},
        {"0.30000000000000004", 0, 0.1 + 0.2, 0},
        {"9007199254740993", 0, 9007199254740992.0, 0},  // halfway: to even
        {"9007199254740995", 0, 9007199254740996.0, 0},
        {"1.7976931348623157e308", 0, 1.7976931348623157e308, 0},
        {"1.7976931348623159e308", 0, inf, 0},
        {"1e400", 0, inf, 0},
        {"-1e99999999999999", 0, -inf, 0},
        {"1e-400", 0, 0.0, 0},
        {"2.4703282292062328e-324", 0, 5e-324, 0},
        {"1.#INF", 0, inf, 0},
        {"-1.#INF", 0, -inf, 0},
        {"1.#inf", 0, inf, 0},
        {"1.#Ixyz", 0, inf, 3},
        {"12x", 0, 12.0, 1},
        {"1e5x", 0, 1e5, 1},
        {"1e", 0, 1.0, 1},
        {"1e+", 0, 1.0, 2},
        {"2.5.1", 0, 2.5, 2},
        {"", 0, 0.0, 0},
        {"-", 0, 0.0, 1},
        {".", 0, 0.0, 1},
        {"abc", 0, 0.0, 3},
    };
    for (const Case& c : cases) {
        int32_t left = -1;
        double v = read_all(c.text, c.extra, &left);
        EXPECT_EQ(bits(v), bits(c.value)) << '"' << c.text << "\" read " << v;
        EXPECT_EQ(left, c.left) << '"' << c.text << '"';
    }
    int32_t left = -1;
    EXPECT_TRUE(std::isnan(read_all("1.#NaN", 0, &left)));
    EXPECT_EQ(left, 0);
    EXPECT_TRUE(std::signbit(read_all("-0.0")));
}

TEST(FloatText, ReadingLongDigitStringsRoundsOnEveryDigit) {
    // 2^-1075 lies exactly halfway between 0 and the smallest double: it rounds
    // to 0 (even), and anything above it, however far down, to 2^-1074.
    std::string digits = float_to_digits(std::ldexp(1.0, -1074), FLOAT_DIGITS_EXACT, false).text;
    std::string half;
    int carry = 0;
    for (char c : digits) {
        int v = carry * 10 + (c - '0');
        half += char('0' + v / 2);
        carry = v % 2;
    }
    half += char('0' + carry * 5);  // "2470328...", one digit longer
    std::string text = "0." + half + "e-323";
    EXPECT_EQ(bits(read_all(text)), 0u);
    EXPECT_EQ(bits(read_all("0." + half + std::string(300, '0') + "1e-323")), 1u);
    EXPECT_EQ(bits(read_all("-0." + half + "1e-323")), bits(-5e-324));

    // The same for 2^53 + 1 with the deciding digit a thousand places down.
    EXPECT_EQ(read_all("9007199254740993." + std::string(1000, '0')), 9007199254740992.0);
    EXPECT_EQ(read_all("9007199254740993." + std::string(1000, '0') + "1"), 9007199254740994.0);
    EXPECT_EQ(read_all("9007199254740993" + std::string(1000, '0') + "e-1000"), 9007199254740992.0);
}

TEST(FloatText, ShortestFormReadsBackToTheSameDouble) {
    std::mt19937_64 rng(42);
    for (int i = 0; i < 200000; i++) {
        double x = std::bit_cast<double>(rng());
        if (std::isnan(x)) continue;
        for (bool dot_zero : {true, false}) {
            std::string text = float_form(x, 0, dot_zero);
            int32_t left = -1;
            double back = read_all(text, 0, &left);
            ASSERT_EQ(bits(back), bits(x)) << text;
            ASSERT_EQ(left, 0) << text;
        }
    }
}

namespace {

const char* PYTHON = "/usr/bin/python3";

// The oracle reads lines "d <bits> <ndigits>" (digits of a double: shortest
// for ndigits 0, else ndigits significant) and "s <text>" (a decimal text
// read as a double) and answers "<digits> <point>" or "<bits>".
const char* ORACLE = R"(
import sys, struct, decimal
decimal.getcontext().prec = 2000
for line in sys.stdin:
    f = line.split()
    if f[0] == 'd':
        x = abs(struct.unpack('<d', struct.pack('<Q', int(f[1])))[0])
        n = int(f[2])
        t = decimal.Decimal(repr(x) if n <= 0 else '%.*e' % (n - 1, x)).normalize().as_tuple()
        ds = ''.join(map(str, t.digits))
        print(ds, len(ds) + t.exponent)
    else:
        print(struct.unpack('<Q', struct.pack('<d', float(f[1])))[0])
)";

std::vector<std::string> run_oracle(const std::vector<std::string>& requests) {
    std::string dir = ::testing::TempDir();
    std::string script = dir + "float_text_oracle.py", input = dir + "float_text_oracle.in";
    std::ofstream(script) << ORACLE;
    {
        std::ofstream in(input);
        for (const std::string& r : requests) in << r << '\n';
    }
    std::string command = std::string(PYTHON) + " " + script + " < " + input;
    std::vector<std::string> lines;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        while (std::fgets(buf, sizeof buf, p)) {
            std::string line(buf);
            if (!line.empty() && line.back() == '\n') line.pop_back();
            lines.push_back(line);
        }
        pclose(p);
    }
    std::remove(script.c_str());
    std::remove(input.c_str());
    return lines;
}

} // namespace

TEST(FloatText, AgreesWithPythonOracle) {
    if (access(PYTHON, X_OK) != 0) GTEST_SKIP() << PYTHON << " is not available";
    std::mt19937_64 rng(7);
    std::vector<std::string> requests;
    std::vector<std::string> mine;

    // Digits: random bit patterns and short decimal fractions, in the shortest
    // mode and with a number of digits.
    const int32_t NDIGITS[] = {0, 0, 1, 2, 6, 15, 16, 17, 22, 40};
    for (int i = 0; i < 6000; i++) {
        double x = i % 2 ? std::bit_cast<double>(rng()) : double(rng() % 100000000) / std::pow(10.0, double(rng() % 12));
        if (!std::isfinite(x) || x == 0) continue;
        int32_t n = NDIGITS[rng() % std::size(NDIGITS)];
        FloatDigits d = float_to_digits(x, n, false);
        requests.push_back("d " + std::to_string(bits(x)) + " " + std::to_string(n));
        mine.push_back(std::string(d.text) + " " + std::to_string(d.point));
    }
    // Reading: random digit strings, some far longer than a double's precision.
    for (int i = 0; i < 6000; i++) {
        std::string text;
        size_t length = i % 10 == 0 ? 700 + rng() % 400 : 1 + rng() % 25;
        for (size_t k = 0; k < length; k++) text += char('0' + rng() % 10);
        if (rng() % 2) text.insert(rng() % text.size(), ".");
        text += "e" + std::to_string(int(rng() % 700) - 350);
        requests.push_back("s " + text);
        mine.push_back(std::to_string(bits(read_all(text))));
    }

    std::vector<std::string> expected = run_oracle(requests);
    ASSERT_EQ(expected.size(), requests.size()) << "the oracle did not answer every request";
    int wrong = 0;
    for (size_t i = 0; i < requests.size() && wrong < 10; i++)
        if (mine[i] != expected[i]) {
            ADD_FAILURE() << requests[i].substr(0, 80) << ": got " << mine[i] << ", python says " << expected[i];
            wrong++;
        }
}
