// The lexer: tokens to values, nesting, new-line flags, errors with their
// category, id and arguments, trace events and the number readers. Every test
// also runs with KEL_GC_TORTURE=1.
#include "core/lexer.hpp"

#include "core/block.hpp"
#include "core/error_catalog.hpp"
#include "core/logic.hpp"
#include "core/string.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "tests/core/words_fixture.hpp"

#include <cmath>
#include <string>
#include <vector>

namespace kel::testing {
namespace {

struct LexerTest : RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        lexer_init();
    }
    void TearDown() override {
        lexer_callback_caller_set(nullptr);
        RuntimeTest::TearDown();
    }
};

// The text loaded into a block pushed on the data stack.
Cell* load(const std::string& text, const LexerOptions& options = {}, int32_t* consumed = nullptr) {
    Cell* dest = stack_push_new(T_NONE);
    lexer_transcode(dest, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), options,
                    consumed);
    return dest;
}

Cell* item(Cell* block, uint32_t i) { return block_ks_abs_at(block, block->w1 + i); }

std::string name_of(const Cell* word) { return symbol_text(word->w2); }

// The error a load raises: category, id and its arguments as the record in
// flight holds them.
struct Raised {
    int code = 0;
    std::string arg2;  // the missing character, or the datatype's name
    uint8_t arg2_type = 0;
    std::string excerpt;
};

Raised load_error(const std::string& text) {
    Raised r;
    try {
        load(text);
    } catch (const LanguageError& e) {
        r.code = e.code();
        const Cell* a2 = &error_in_flight.args[1];
        r.arg2_type = cell_type(a2);
        if (cell_type(a2) == T_STRING) r.arg2 = string_utf8(a2);
        if (cell_type(a2) == T_DATATYPE) r.arg2 = datatype_name(uint8_t(a2->w1))->name;
        const Cell* last = &error_in_flight.args[error_in_flight.arg_count - 1];
        if (cell_type(last) == T_STRING) r.excerpt = string_utf8(last);
    }
    return r;
}

int syntax(SyntaxError id) { return error_code(ErrorCategory::syntax, id); }

TEST_F(LexerTest, NumbersKeepTheirRangeAndSeparators) {
    Cell* b = load("FFh 80000000h 2147483648 -2147483648 1'000 1,5 FFFFFFFFh 0Ah -0 +7");
    ASSERT_EQ(block_ks_length_q(b), 10);
    struct { uint8_t type; double value; } expected[] = {
        {T_INTEGER, 255}, {T_INTEGER, -2147483648.0}, {T_FLOAT, 2147483648.0},
        {T_INTEGER, -2147483648.0}, {T_INTEGER, 1000}, {T_FLOAT, 1.5}, {T_INTEGER, -1},
        {T_INTEGER, 10}, {T_INTEGER, 0}, {T_INTEGER, 7},
    };
    for (uint32_t i = 0; i < 10; i++) {
        Cell* c = item(b, i);
        ASSERT_EQ(cell_type(c), expected[i].type) << i;
        double got = cell_type(c) == T_INTEGER ? double(integer_get(c)) : cell_double(c);
        EXPECT_EQ(got, expected[i].value) << i;
    }
}

TEST_F(LexerTest, FloatsPercentsAndSpecialValues) {
    Cell* b = load("1.5e3 .5 -2.25 12.5% 1.#INF -1.#INF 1.#NaN 1e-2");
    ASSERT_EQ(block_ks_length_q(b), 8);
    EXPECT_EQ(cell_double(item(b, 0)), 1500.0);
    EXPECT_EQ(cell_double(item(b, 1)), 0.5);
    EXPECT_EQ(cell_double(item(b, 2)), -2.25);
    EXPECT_EQ(cell_type(item(b, 3)), T_PERCENT);
    EXPECT_EQ(cell_double(item(b, 3)), 0.125);
    EXPECT_TRUE(std::isinf(cell_double(item(b, 4))) && cell_double(item(b, 4)) > 0);
    EXPECT_TRUE(std::isinf(cell_double(item(b, 5))) && cell_double(item(b, 5)) < 0);
    EXPECT_TRUE(std::isnan(cell_double(item(b, 6))));
    EXPECT_EQ(cell_double(item(b, 7)), 0.01);
}

TEST_F(LexerTest, SyntaxErrorsNameTheirCategoryIdAndArgument) {
    struct Case { const char* text; SyntaxError id; const char* arg2; } cases[] = {
        {"Fh", ERR_INVALID, "word!"},
        {"1h", ERR_INVALID, "integer!"},
        {"123456789h", ERR_INVALID, "integer!"},
        {"[1 2", ERR_MISSING, "]"},
        {"1 ]", ERR_MISSING, "["},
        {"[1 2)", ERR_MISSING, "]"},
        {"(a", ERR_MISSING, ")"},
        {"(1, 2", ERR_MISSING, ")"},
        {"(1, x)", ERR_INVALID, "point2D!"},
        {"{abc", ERR_INVALID, "string!"},
        {"{a {b} c", ERR_INVALID, "string!"},
        {"\"abc", ERR_INVALID, "string!"},
        {"\"^(110000)\"", ERR_INVALID, "string!"},
        {"\"^(zz)\"", ERR_INVALID, "string!"},
        {"#\"ab\"", ERR_INVALID, "char!"},
        {"#", ERR_INVALID, "issue!"},
        {"1.2.3.x", ERR_INVALID, "tuple!"},
        {"64#{AB=C}", ERR_INVALID, "binary!"},
        {"#{ABC}", ERR_INVALID, "binary!"},
        {"999999999999#{00}", ERR_INVALID, "binary!"},
        {"%\"abc", ERR_INVALID, "file!"},
        {"a,b", ERR_INVALID, "word!"},
        {"<a", ERR_INVALID, "tag!"},
        {"a/", ERR_INVALID, "path!"},
        {"'a:", ERR_INVALID, "lit-word!"},
        {"%{abc}%%", ERR_INVALID, "string!"},
        {"#[a]", ERR_INVALID, "map!"},
        {"#[a 1 [b] 2]", ERR_INVALID, "map!"},
        {"#[#(none) 1]", ERR_INVALID, "map!"},
    };
    for (const Case& c : cases) {
        Raised r = load_error(c.text);
        EXPECT_EQ(r.code, syntax(c.id)) << c.text;
        EXPECT_EQ(r.arg2, c.arg2) << c.text;
    }
    EXPECT_EQ(load_error("#(foo)").code, syntax(ERR_MALCONSTRUCT));
    EXPECT_EQ(load_error("a \x01 b").code, 0) << "control bytes are blanks between tokens";
    EXPECT_EQ(load_error("\xC0").code, syntax(ERR_BAD_CHAR));
}

TEST_F(LexerTest, ErrorsCarryTheLineAndAShortExcerpt) {
    try {
        load("a\nb\n[x \"unclosed and long enough to be cut at thirty bytes\n");
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.code(), syntax(ERR_INVALID));
        EXPECT_EQ(string_utf8(&error_in_flight.args[0]), "(line 3)");
        std::string excerpt = string_utf8(&error_in_flight.args[2]);
        EXPECT_EQ(excerpt.rfind("\"unclosed", 0), 0u);
        EXPECT_LE(excerpt.size(), 31u);
        EXPECT_EQ(excerpt.find('\n'), std::string::npos);
    }
    // a multi-byte character at the cut is never split
    Raised r = load_error("\"\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9\xCE\xA9");
    EXPECT_EQ(r.code, syntax(ERR_INVALID));
    EXPECT_EQ(r.excerpt.find("\xEF\xBF\xBD"), std::string::npos);
}

TEST_F(LexerTest, UnicodeSpacesSeparateTokens) {
    // U+00A0 no-break space, U+3000 ideographic space, U+2009 thin space
    Cell* b = load("a\xC2\xA0" "b\xE3\x80\x80" "1\xE2\x80\x89\"s\"\xC2\xA0" "2");
    ASSERT_EQ(block_ks_length_q(b), 5);
    EXPECT_EQ(name_of(item(b, 0)), "a");
    EXPECT_EQ(name_of(item(b, 1)), "b");
    EXPECT_EQ(integer_get(item(b, 2)), 1);
    EXPECT_EQ(cell_type(item(b, 3)), T_STRING);
    EXPECT_EQ(integer_get(item(b, 4)), 2);
    // inside a string it stays text
    Cell* s = load("\"x\xC2\xA0y\"");
    EXPECT_EQ(string_utf8(item(s, 0)), "x\xC2\xA0y");
}

TEST_F(LexerTest, NewLineFlagsMarkValuesAfterALineBreak) {
    Cell* b = load("a b\n  c ; note\n[d\ne] {x\ny} z");
    ASSERT_EQ(block_ks_length_q(b), 6);
    bool flags[] = {false, false, true, true, false, false};
    for (uint32_t i = 0; i < 6; i++) EXPECT_EQ((item(b, i)->header & CELL_NEWLINE) != 0, flags[i]) << i;
    Cell* inner = item(b, 3);
    EXPECT_FALSE(item(inner, 0)->header & CELL_NEWLINE);
    EXPECT_TRUE(item(inner, 1)->header & CELL_NEWLINE);
    EXPECT_FALSE(load("\n\n1")->header & CELL_NEWLINE);
}

TEST_F(LexerTest, ConstructionsMakeLogicNoneUnsetAndDatatypes) {
    Cell* b = load("#(true) #(none) #(FALSE) #(unset) #(integer!) #(TRUE)");
    ASSERT_EQ(block_ks_length_q(b), 6);
    EXPECT_EQ(cell_type(item(b, 0)), T_LOGIC);
    EXPECT_TRUE(logic_get(item(b, 0)));
    EXPECT_EQ(cell_type(item(b, 1)), T_NONE);
    EXPECT_FALSE(logic_get(item(b, 2)));
    EXPECT_EQ(cell_type(item(b, 3)), T_UNSET);
    EXPECT_EQ(cell_type(item(b, 4)), T_DATATYPE);
    EXPECT_EQ(item(b, 4)->w1, uint32_t(T_INTEGER));
    EXPECT_TRUE(logic_get(item(b, 5)));
}

TEST_F(LexerTest, CharsDecodeEveryEscapeForm) {
    Cell* b = load("#\"^(line)\" #\"^(esc)\" #\"^(del)\" #\"^@\" #\"^A\" #\"^a\" #\"a\" #\"^(3A9)\" "
                   "#\"^(01)\" #\"^/\" #\"^-\" #\"^^\" #\"^\"\" #\"\xCE\xA9\" #\"^(10FFFF)\" #\"^(TAB)\"");
    uint32_t expected[] = {10, 27, 127, 0, 1, 1, 'a', 0x3A9, 1, 10, 9, '^', '"', 0x3A9, 0x10FFFF, 9};
    ASSERT_EQ(block_ks_length_q(b), int32_t(std::size(expected)));
    for (uint32_t i = 0; i < std::size(expected); i++) {
        EXPECT_EQ(cell_type(item(b, i)), T_CHAR) << i;
        EXPECT_EQ(uint32_t(integer_get(item(b, i))), expected[i]) << i;
    }
}

TEST_F(LexerTest, StringsWidenForTheCharactersTheyHold) {
    Cell* b = load("\"abc^(3A9)\" \"^(1F600)x\" \"caf\xC3\xA9\" {a {b} ^} c} %{raw ^ } }%");
    ASSERT_EQ(block_ks_length_q(b), 5);
    SeriesBuffer* omega = series_buffer(item(b, 0)->w2);
    EXPECT_EQ(omega->unit(), 2u);
    EXPECT_EQ(string_ks_char_at(item(b, 0), 3), 0x3A9u);
    EXPECT_EQ(series_buffer(item(b, 1)->w2)->unit(), 4u);
    EXPECT_EQ(string_ks_char_at(item(b, 1), 0), 0x1F600u);
    EXPECT_EQ(series_buffer(item(b, 2)->w2)->unit(), 1u);
    EXPECT_EQ(string_utf8(item(b, 2)), "caf\xC3\xA9");
    EXPECT_EQ(string_utf8(item(b, 3)), "a {b} } c");
    EXPECT_EQ(string_utf8(item(b, 4)), "raw ^ } ");
    Cell* lines = load("\"^(line)^/^(0A)^(LINE)\"");
    EXPECT_EQ(string_utf8(item(lines, 0)), "\n\n\n\n");
}

TEST_F(LexerTest, WordFamilyAndPaths) {
    Cell* b = load("a: :b 'c /d #e f/g 'h/i :j/k l/m: / /: <= <> + -x a/(b)/c");
    uint8_t types[] = {T_SET_WORD, T_GET_WORD, T_LIT_WORD, T_REFINEMENT, T_ISSUE, T_PATH,
                       T_LIT_PATH, T_GET_PATH, T_SET_PATH, T_WORD, T_SET_WORD, T_WORD, T_WORD,
                       T_WORD, T_WORD, T_PATH};
    ASSERT_EQ(block_ks_length_q(b), int32_t(std::size(types)));
    for (uint32_t i = 0; i < std::size(types); i++) EXPECT_EQ(cell_type(item(b, i)), types[i]) << i;
    const char* names[] = {"a", "b", "c", "d", "e"};
    for (uint32_t i = 0; i < 5; i++) EXPECT_EQ(name_of(item(b, i)), names[i]);
    EXPECT_EQ(name_of(item(b, 9)), "/");
    EXPECT_EQ(name_of(item(b, 10)), "/");
    Cell* path = item(b, 5);
    ASSERT_EQ(block_ks_length_q(path), 2);
    EXPECT_EQ(name_of(item(path, 0)), "f");
    EXPECT_EQ(name_of(item(path, 1)), "g");
    Cell* set_path = item(b, 8);
    EXPECT_EQ(name_of(item(set_path, 1)), "m");
    Cell* paren_path = item(b, 15);
    ASSERT_EQ(block_ks_length_q(paren_path), 3);
    EXPECT_EQ(cell_type(item(paren_path, 1)), T_PAREN);
    // words are bound to the global context
    EXPECT_EQ(item(b, 0)->w1, global_context);
}

TEST_F(LexerTest, TextLiteralsKeepOrDecodeTheirText) {
    Cell* b = load("<a href=x> <b ^(line)> http://x.org/a%20b^c me@host.org @ref %my%20file "
                   "%\"a^/b%20\" %plain");
    struct { uint8_t type; const char* text; } expected[] = {
        {T_TAG, "a href=x"}, {T_TAG, "b ^(line)"}, {T_URL, "http://x.org/a b^c"},
        {T_EMAIL, "me@host.org"}, {T_REF, "ref"}, {T_FILE, "my file"}, {T_FILE, "a\nb%20"},
        {T_FILE, "plain"},
    };
    ASSERT_EQ(block_ks_length_q(b), int32_t(std::size(expected)));
    for (uint32_t i = 0; i < std::size(expected); i++) {
        EXPECT_EQ(cell_type(item(b, i)), expected[i].type) << i;
        EXPECT_EQ(string_utf8(item(b, i)), expected[i].text) << i;
    }
}

TEST_F(LexerTest, PercentEscapesDecodeAsUtf8AndQuotedFilesKeepCaretEscapes) {
    Cell* b = load("http://x/%C3%A9 http://x/%C3 %a%C3%A9%41 %a%C3 %\"a b\" %\"q^\"x\" %\"\" %%41");
    struct { uint8_t type; const char* text; } expected[] = {
        {T_URL, "http://x/\xC3\xA9"}, {T_URL, "http://x/%C3"}, {T_FILE, "a\xC3\xA9" "A"},
        {T_FILE, "a%C3"}, {T_FILE, "a b"}, {T_FILE, "q\"x"}, {T_FILE, ""}, {T_FILE, "A"},
    };
    ASSERT_EQ(block_ks_length_q(b), int32_t(std::size(expected)));
    for (uint32_t i = 0; i < std::size(expected); i++) {
        EXPECT_EQ(cell_type(item(b, i)), expected[i].type) << i;
        EXPECT_EQ(string_utf8(item(b, i)), expected[i].text) << i;
    }
    // an escaped lead byte whose continuation is not one is malformed UTF-8
    int invalid_utf8 = error_code(ErrorCategory::access, ERR_INVALID_UTF8);
    EXPECT_EQ(load_error("http://x/%C3%28").code, invalid_utf8);
    EXPECT_EQ(load_error("%f%E2%82%28").code, invalid_utf8);
    EXPECT_EQ(string_utf8(item(load("%f%E2%82"), 0)), "f%E2%82") << "an incomplete sequence stays as text";
    // raw bytes that are not UTF-8 stay a syntax error of the literal's type
    for (const char* text : {"http://x/\xFF", "%a\xFF", "<a\xFF>", "a\xFF@b.c"}) {
        EXPECT_EQ(load_error(text).code, syntax(ERR_INVALID)) << text;
    }
}

TEST_F(LexerTest, MapLiteralsBuildMaps) {
    Cell* b = load("#[a 1 \"k\" [x y] b 2 a 3]\n#[] [#[n #[m 1]]]");
    ASSERT_EQ(block_ks_length_q(b), 3);
    Cell* map = item(b, 0);
    ASSERT_EQ(cell_type(map), T_MAP);
    EXPECT_EQ(map_size(map), 3u) << "a repeated key keeps one pair";
    Cell* key = stack_push_new(T_NONE);
    string_load(reinterpret_cast<const uint8_t*>("k"), 1, ENCODING_UTF8, key);
    int32_t at = map_find_key(item(b, 0), key, MAP_LOOKUP_STRICT);
    ASSERT_GE(at, 0);
    EXPECT_EQ(cell_type(&block_cells(item(b, 0))[at + 1]), T_BLOCK);
    Cell* empty = item(b, 1);
    EXPECT_EQ(cell_type(empty), T_MAP);
    EXPECT_EQ(map_size(empty), 0u);
    EXPECT_TRUE(empty->header & CELL_NEWLINE);
    Cell* nested = item(item(b, 2), 0);
    ASSERT_EQ(cell_type(nested), T_MAP);
    EXPECT_EQ(map_size(nested), 1u);
    collector_cycle();
    EXPECT_EQ(map_size(item(b, 0)), 3u);
}

TEST_F(LexerTest, BinariesInEveryBase) {
    Cell* b = load("#{0aff} 16#{01 02 ; note\n 03} 2#{00000001 11111111} 64#{AQID} #{}");
    ASSERT_EQ(block_ks_length_q(b), 5);
    std::vector<std::vector<uint8_t>> expected = {{0x0A, 0xFF}, {1, 2, 3}, {1, 255}, {1, 2, 3}, {}};
    for (uint32_t i = 0; i < 5; i++) {
        ASSERT_EQ(cell_type(item(b, i)), T_BINARY);
        SeriesBuffer* buf = series_buffer(item(b, i)->w2);
        std::vector<uint8_t> got(buf->head_ptr(), buf->tail_ptr());
        EXPECT_EQ(got, expected[i]) << i;
    }
}

TEST_F(LexerTest, ALiteralWhoseTypeSetNoReaderIsASyntaxError) {
    // These literals are read through hooks their datatypes set when they
    // register; without one the literal is invalid, never a call through null.
    struct Case { uint8_t type; const char* text; const char* name; };
    const Case cases[] = {
        {T_DATE, "1-Jan-2000", "date!"}, {T_MAP, "#[a 1]", "map!"},
        {T_POINT2D, "(1, 2)", "point2D!"}, {T_FILE, "%plain", "file!"},
    };
    for (const Case& c : cases) {
        datatype_hooks_set(c.type, {});
        Raised r = load_error(c.text);
        EXPECT_EQ(r.code, syntax(ERR_INVALID)) << c.text;
        EXPECT_EQ(r.arg2, c.name) << c.text;
    }
}

TEST_F(LexerTest, LiteralsOfOtherDatatypes) {
    Cell* b = load("10x20 1.2.3 1:30 $1'000.50 (1, 2) 1-Jan-2000");
    uint8_t types[] = {T_PAIR, T_TUPLE, T_TIME, T_MONEY, T_POINT2D, T_DATE};
    ASSERT_EQ(block_ks_length_q(b), int32_t(std::size(types)));
    for (uint32_t i = 0; i < std::size(types); i++) EXPECT_EQ(cell_type(item(b, i)), types[i]) << i;
    EXPECT_EQ(cell_double(item(b, 2)), 5400.0);
}

TEST_F(LexerTest, OneValueModeStopsAfterTheFirstValue) {
    LexerOptions one;
    one.one = true;
    int32_t consumed = 0;
    Cell* v = load("12 2 3", one, &consumed);
    EXPECT_EQ(cell_type(v), T_INTEGER);
    EXPECT_EQ(integer_get(v), 12);
    EXPECT_EQ(consumed, 2);
    Cell* block = load(" [1 [2]] 3", one, &consumed);
    EXPECT_EQ(cell_type(block), T_BLOCK);
    EXPECT_EQ(consumed, 8);
}

TEST_F(LexerTest, IntoAppendsToAGivenBlock) {
    Cell* target = load("a");
    LexerOptions into;
    into.into = target;
    Cell* result = load("b 1", into);
    EXPECT_EQ(result->w2, target->w2);
    ASSERT_EQ(block_ks_length_q(target), 3);
    EXPECT_EQ(name_of(item(target, 1)), "b");
    EXPECT_EQ(integer_get(item(target, 2)), 1);
}

TEST_F(LexerTest, LargeNestedInputSurvivesCollections) {
    std::string text;
    for (int i = 0; i < 1500; i++) text += "[" + std::to_string(i) + " \"s" + std::to_string(i) + "\" w" +
                                         std::to_string(i % 7) + "] ";
    Cell* b = load(text);
    ASSERT_EQ(block_ks_length_q(b), 1500);
    collector_cycle();
    Cell* last = item(b, 1499);
    EXPECT_EQ(integer_get(item(last, 0)), 1499);
    EXPECT_EQ(string_utf8(item(last, 1)), "s1499");
    EXPECT_EQ(name_of(item(last, 2)), "w1");
}

// The error report's texts are made in fresh stack slots: whatever the cells
// above the stack top still hold (here strings of a node that no longer
// exists) is never marked by the collections that making them runs.
TEST_F(LexerTest, ErrorReportIgnoresWhatLiesAboveTheStackTop) {
    bool torture = memory.torture;
    memory_torture_set(true);
    Cell* base = data_stack.top;
    for (int i = 0; i < 64; i++) {
        Cell* stale = stack_push_new(T_STRING);
        stale->w2 = (NODE_SLOTS - 1) << NODE_INDEX_BITS;
    }
    data_stack.top = base;
    Raised r = load_error(std::string(400, '1') + ".5");
    memory_torture_set(torture);
    EXPECT_EQ(r.code, syntax(ERR_INVALID));
}

TEST_F(LexerTest, WideStringSourceIsScannedWhole) {
    // A unit-4 string whose UTF-8 form is far longer than its character count.
    std::string text = "[";
    for (int i = 0; i < 3000; i++) text += "\"\xF0\x9F\x98\x80\" ";
    text += "] rest";
    CellRoot source;
    string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), ENCODING_UTF8, &source.cell);
    ASSERT_EQ(series_buffer(source.cell.w2)->unit(), 4u);
    Cell* dest = stack_push_new(T_NONE);
    LexerOptions one;
    one.one = true;
    int32_t consumed = 0;
    lexer_scan_string(dest, &source.cell, -1, one, &consumed);
    ASSERT_EQ(cell_type(dest), T_BLOCK);
    EXPECT_EQ(block_ks_length_q(dest), 3000);
    EXPECT_EQ(string_ks_char_at(item(dest, 2999), 0), 0x1F600u);
    EXPECT_EQ(consumed, 1 + 3000 * 4 + 1);
}

// ---- trace events ------------------------------------------------------------------------------

struct Seen {
    uint32_t event;
    uint8_t type;
};
std::vector<Seen>* seen = nullptr;
const Cell* decline_event = nullptr;  // the event word answered with false

bool record_event(const Cell* callback, Cell* args) {
    uint32_t event = symbol_resolve(args[0].w2);
    uint8_t type = cell_type(&args[2]) == T_DATATYPE ? uint8_t(args[2].w1) : 0;
    seen->push_back({event, type});
    return !(decline_event && symbol_resolve(decline_event->w2) == event);
}

TEST_F(LexerTest, CallbacksSeeEventsAndMayDropValuesOrErrors) {
    std::vector<Seen> log;
    seen = &log;
    lexer_callback_caller_set(record_event);
    Cell callback;
    none_make_at(&callback);
    LexerOptions traced;
    traced.callback = &callback;
    traced.event_mask = LEX_EVENT_LOAD | LEX_EVENT_ERROR | LEX_EVENT_OPEN | LEX_EVENT_CLOSE;

    decline_event = runtime_word(W_LOAD);
    Cell* b = load("[1 x]", traced);
    EXPECT_EQ(block_ks_length_q(b), 1);
    EXPECT_EQ(block_ks_length_q(item(b, 0)), 0) << "declined loads leave nothing";
    uint32_t open = symbol_resolve(runtime_word(W_OPEN)->w2);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().event, open);
    EXPECT_EQ(log.front().type, T_BLOCK);

    decline_event = runtime_word(W_ERROR);
    Cell* dest = stack_push_new(T_NONE);
    std::string bad = "1 [2";
    int32_t result = lexer_transcode(dest, reinterpret_cast<const uint8_t*>(bad.data()), uint32_t(bad.size()),
                                     traced, nullptr);
    EXPECT_EQ(result, LEXER_STOPPED);
    EXPECT_EQ(cell_type(dest), T_NONE);
    decline_event = nullptr;
    seen = nullptr;
}

// A callback that runs the lexer again on a text large enough to grow the
// shared value buffer under the enclosing run's values.
int32_t nested_lengths = 0;
bool nested_run(const Cell* callback, Cell* args) {
    std::string text;
    for (int i = 0; i < 1200; i++) text += std::to_string(i) + " ";
    Cell* inner = load(text);
    nested_lengths += block_ks_length_q(inner);
    return true;
}

TEST_F(LexerTest, CallbacksMayRunTheLexerAgain) {
    lexer_callback_caller_set(nested_run);
    Cell callback;
    none_make_at(&callback);
    LexerOptions traced;
    traced.callback = &callback;
    traced.event_mask = LEX_EVENT_LOAD;
    nested_lengths = 0;
    Cell* b = load("[1 \"two\" 3] x", traced);
    EXPECT_EQ(nested_lengths, 4 * 1200);  // one per loaded token: 1 "two" 3 x
    ASSERT_EQ(block_ks_length_q(b), 2);
    Cell* inner = item(b, 0);
    ASSERT_EQ(block_ks_length_q(inner), 3);
    EXPECT_EQ(integer_get(item(inner, 0)), 1);
    EXPECT_EQ(string_utf8(item(inner, 1)), "two");
    EXPECT_EQ(integer_get(item(inner, 2)), 3);
    EXPECT_EQ(name_of(item(b, 1)), "x");
}

TEST_F(LexerTest, EventMaskComesFromTheSpecsFirstBlock) {
    EXPECT_EQ(lexer_event_mask(load("[load error scan] x")), uint32_t(LEX_EVENT_LOAD | LEX_EVENT_ERROR | LEX_EVENT_SCAN));
    EXPECT_EQ(lexer_event_mask(load("x [load]")), uint32_t(LEX_EVENTS_ALL));
    EXPECT_EQ(lexer_event_mask(load("[1 open close]")), uint32_t(LEX_EVENT_OPEN | LEX_EVENT_CLOSE));
}

TEST_F(LexerTest, PrescanChecksStructureWithoutRaising) {
    LexerOptions prescan;
    prescan.scan = false;
    prescan.load = false;
    Cell* dest = stack_push_new(T_NONE);
    std::string open = "[1 \"a";
    EXPECT_EQ(lexer_transcode(dest, reinterpret_cast<const uint8_t*>(open.data()), uint32_t(open.size()), prescan,
                              nullptr),
              LEXER_STOPPED);
    std::string fine = "[1 [2]] x";
    int32_t consumed = 0;
    EXPECT_EQ(lexer_transcode(dest, reinterpret_cast<const uint8_t*>(fine.data()), uint32_t(fine.size()), prescan,
                              &consumed),
              T_BLOCK);
    EXPECT_EQ(consumed, 7);
}

// ---- number readers ------------------------------------------------------------------------------

TEST(LexerNumbers, ScanIntegerAndScanFloat) {
    struct { const char* text; int32_t value; int32_t error; } ints[] = {
        {"42", 42, 0}, {"-2147483648", INT32_MIN, 0}, {"2147483647", INT32_MAX, 0},
        {"2147483648", 0, -2}, {"-2147483649", 0, -2}, {"1'000'000", 1000000, 0}, {"+7", 7, 0},
        {"12a", 0, -1}, {"", 0, -1}, {"-", 0, -1}, {"99999999999999999999", 0, -2},
    };
    for (const auto& c : ints) {
        int32_t error = 99;
        int32_t n = scan_integer(reinterpret_cast<const uint8_t*>(c.text), uint32_t(std::strlen(c.text)), 1, &error);
        EXPECT_EQ(error, c.error) << c.text;
        if (!c.error) {
            EXPECT_EQ(n, c.value) << c.text;
        }
    }
    // unit 2 text: "-12"
    uint16_t wide[] = {'-', '1', '2'};
    int32_t error = 0;
    EXPECT_EQ(scan_integer(reinterpret_cast<const uint8_t*>(wide), 3, 2, &error), -12);
    EXPECT_EQ(error, 0);

    struct { const char* text; double value; int32_t error; } floats[] = {
        {"1.5", 1.5, 0}, {"1,5", 1.5, 0}, {"1'000.25", 1000.25, 0}, {"-2e3", -2000.0, 0},
        {"abc", 0, -1}, {"1.5x", 0, -1}, {"", 0, -1},
    };
    for (const auto& c : floats) {
        int32_t e = 99;
        double d = scan_float(reinterpret_cast<const uint8_t*>(c.text), uint32_t(std::strlen(c.text)), 1, &e);
        EXPECT_EQ(e, c.error) << c.text;
        if (!c.error) {
            EXPECT_EQ(d, c.value) << c.text;
        } else {
            EXPECT_TRUE(std::isnan(d)) << c.text;
        }
    }
    std::string too_long(313, '1');
    EXPECT_TRUE(std::isnan(scan_float(reinterpret_cast<const uint8_t*>(too_long.data()), 313, 1, &error)));
    EXPECT_EQ(error, -1);
}

} // namespace
} // namespace kel::testing
