#include "tests/core/symbol_fixture.hpp"

#include <string>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

struct SymbolTest : RuntimeTest {};

TEST_F(SymbolTest, SpellingsThatDifferInAsciiCaseShareOneAlias) {
    uint32_t before = symbol_count();
    uint32_t foo = symbol_make("Foo");
    uint32_t upper = symbol_make("FOO");
    uint32_t lower = symbol_make("foo");
    EXPECT_EQ(symbol_count(), before + 3);
    EXPECT_EQ(symbol_alias(foo), -1);
    EXPECT_EQ(symbol_alias(upper), int32_t(foo));
    EXPECT_EQ(symbol_alias(lower), int32_t(foo));
    for (uint32_t id : {foo, upper, lower}) EXPECT_EQ(symbol_resolve(id), foo);
    EXPECT_EQ(symbol_text(upper), "FOO");  // each keeps its spelling

    EXPECT_EQ(symbol_make("foo"), lower);
    EXPECT_EQ(symbol_count(), before + 3);
}

TEST_F(SymbolTest, FlaggedInternReturnsAnExistingSpelling) {
    uint32_t top = symbol_make("top");
    uint32_t before = symbol_count();
    EXPECT_EQ(symbol_make_flagged("TOP"), top);
    EXPECT_EQ(symbol_count(), before);
    uint32_t upper = symbol_make("TOP");
    EXPECT_NE(upper, top);
    EXPECT_EQ(symbol_alias(upper), int32_t(top));
    uint32_t fresh = symbol_make_flagged("Pen");
    EXPECT_EQ(symbol_alias(fresh), -1);
}

TEST_F(SymbolTest, OnlyAsciiLettersFold) {
    uint32_t small = symbol_make("caf\xC3\xA9");  // café
    uint32_t capital = symbol_make("CAF\xC3\x89");  // CAFÉ
    EXPECT_EQ(symbol_alias(capital), -1);
    EXPECT_NE(symbol_resolve(small), symbol_resolve(capital));
    uint32_t mixed = symbol_make("Caf\xC3\xA9");
    EXPECT_EQ(symbol_resolve(mixed), small);
}

TEST_F(SymbolTest, AnyBytesMakeAName) {
    uint32_t empty = symbol_make_counted(reinterpret_cast<const uint8_t*>(""), 0);
    EXPECT_EQ(symbol_make(""), empty);
    EXPECT_EQ(symbol_text(empty), "");
    const uint8_t odd[] = {'a', 0xE9, 'b'};  // not UTF-8
    uint32_t id = symbol_make_counted(odd, 3);
    EXPECT_EQ(symbol_make_counted(odd, 3), id);
    const Cell* symbol = symbol_get(id);
    SeriesBuffer* text = series_buffer(symbol->w2);
    ASSERT_EQ(text->length(), 3u);
    EXPECT_EQ(text->unit(), 1u);
    EXPECT_EQ(text->head_ptr()[1], 0xE9);
}

TEST_F(SymbolTest, CachedStringDecodesUtf8AtTheNarrowestUnit) {
    uint32_t id = symbol_make("\xE2\x82\xAC" "5");  // €5
    const Cell* symbol = symbol_get(id);
    SeriesBuffer* text = series_buffer(symbol->w2);
    ASSERT_EQ(text->length(), 2u);
    EXPECT_EQ(text->unit(), 2u);
    uint16_t first;
    std::memcpy(&first, text->head_ptr(), 2);
    EXPECT_EQ(first, 0x20AC);
    EXPECT_EQ(symbol_get(id)->w2, symbol->w2);  // made once
}

TEST_F(SymbolTest, ManyNamesSurviveGrowthAndCollections) {
    // In the torture pass the first 300 names intern with a collection at
    // each allocation; the rest, there to make the index grow, intern
    // without, since each tortured collection copies every name so far.
    bool torture = memory.torture;
    std::vector<uint32_t> ids;
    for (int i = 0; i < 6000; i++) {
        if (i == 300) memory_torture_set(false);
        ids.push_back(symbol_make(("name-" + std::to_string(i)).c_str()));
    }
    uint32_t alias = symbol_make("NAME-42");
    memory_torture_set(true);
    collector_cycle();
    memory_torture_set(torture);
    for (int i = 0; i < 6000; i++) {
        std::string name = "name-" + std::to_string(i);
        ASSERT_EQ(symbol_make(name.c_str()), ids[i]) << name;
        ASSERT_EQ(symbol_text(ids[i]), name);
    }
    EXPECT_EQ(symbol_resolve(alias), ids[42]);
    EXPECT_GE(hashtable_record(symbol_index())->buckets, 16384u);
}

TEST_F(SymbolTest, VocabularyIsInterned) {
    EXPECT_EQ(symbol_text(runtime_symbol(SYM_SELF)), "self");
    EXPECT_EQ(symbol_text(runtime_symbol(SYM_ANY_TYPE)), "any-type!");
    EXPECT_EQ(symbol_text(runtime_symbol(SYM_COORD_Z)), "z");
    EXPECT_EQ(runtime_symbol(SYM_COORD_X) + 1, runtime_symbol(SYM_COORD_Y));

    const Cell* linux_word = runtime_word(W_LINUX);
    EXPECT_EQ(cell_type(linux_word), T_WORD);
    EXPECT_EQ(linux_word->w1, global_context);
    EXPECT_EQ(linux_word->w2, runtime_symbol(SYM_LINUX));
    const Cell* anon = runtime_word(W_LABEL_ANON);
    EXPECT_EQ(symbol_text(anon->w2), "<anon>");
    EXPECT_EQ(context_find_word(global_context, anon->w2, false), int32_t(anon->w3));

    const Cell* part = runtime_refinement(REF_PART);
    EXPECT_EQ(cell_type(part), T_REFINEMENT);
    EXPECT_EQ(part->w1, 0u);
    EXPECT_EQ(symbol_text(part->w2), "part");
    const Cell* ooo = runtime_issue(ISSUE_OOO);
    EXPECT_EQ(cell_type(ooo), T_ISSUE);
    EXPECT_EQ(ooo->w1, global_context);
    EXPECT_EQ(ooo->w3, WORD_UNBOUND);
}

TEST_F(SymbolTest, StartupLoggingAppendsWordsToTheRootBlock) {
    startup_logging = true;
    uint32_t before = block_length(&root_cell);
    Cell word = word_intern("logged-word");
    startup_logging = false;
    ASSERT_EQ(block_length(&root_cell), before + 1);
    Cell logged = block_cells(&root_cell)[before];
    EXPECT_EQ(logged.w2, word.w2);
    EXPECT_EQ(logged.w3, word.w3);
    word_intern("not-logged");
    EXPECT_EQ(block_length(&root_cell), before + 1);
}

} // namespace

// Type names become words once the symbol table exists, and a type registered
// after that (as event! is) gets its word at once.
TEST_F(RuntimeTest, DatatypeNamesBecomeWords) {
    datatype_build_words();
    for (uint8_t type : {T_INTEGER, T_BLOCK, T_POINT2D}) {
        const DatatypeName* entry = datatype_name(type);
        ASSERT_NE(entry->word, 0u);
        uint32_t length = 0;
        const uint8_t* name = symbol_name(entry->word, &length);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(name), length), entry->name);
    }
    static const ActionFn none_slots[ACTION_COUNT] = {};
    datatype_register(T_EVENT, 0, "event!", none_slots, ACTION_COUNT);
    uint32_t length = 0;
    const uint8_t* name = symbol_name(datatype_name(T_EVENT)->word, &length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(name), length), "event!");
}
