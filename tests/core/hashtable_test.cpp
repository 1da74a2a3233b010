#include "tests/core/symbol_fixture.hpp"
#include "core/casefold.hpp"
#include "core/mold_text.hpp"

#include <algorithm>
#include <string>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

struct HashTableTest : RuntimeTest {};

// A name hashes as the murmur hash of its bytes with A-Z folded: every byte
// next to the letter ranges, and the same bytes with the top bit set, in each
// position of a block and of the tail.
TEST(SymbolNameHash, HashesTheNameWithAsciiLettersFolded) {
    const uint8_t edges[] = {'@', 'A', 'M', 'Z', '[', '`', 'a', 'z', '{', 0x00, 0x7F,
                             0xC0, 0xC1, 0xDA, 0xDB, 0xE1, 0xFF};
    for (uint32_t length = 0; length <= 9; length++) {
        for (uint8_t edge : edges) {
            for (uint32_t at = 0; at < std::max<uint32_t>(length, 1); at++) {
                std::string name(length, 'Q');
                if (length) name[at] = char(edge);
                std::string folded = name;
                for (char& c : folded)
                    if (c >= 'A' && c <= 'Z') c = char(c + 32);
                EXPECT_EQ(symbol_name_hash(reinterpret_cast<const uint8_t*>(name.data()), length),
                          murmur3_hash(folded.data(), folded.size()))
                    << "length " << length << " byte " << int(edge) << " at " << at;
            }
        }
    }
}

TEST(MurmurHash3, KnownVectors) {
    struct Case {
        std::string bytes;
        uint32_t seed;
        uint32_t hash;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7},
        {"", 0xFFFFFFFF, 0x81F16F39},
        {std::string("\0\0\0\0", 4), 0, 0x2362F9DE},
        {"\xFF\xFF\xFF\xFF", 0, 0x76293B50},
        {"\x21\x43\x65\x87", 0, 0xF55B516B},
        {"\x21\x43\x65\x87", 0x5082EDEE, 0x2362F9DE},
        {"\x21\x43\x65", 0, 0x7E4A8634},
        {"\x21\x43", 0, 0xA0F7B07A},
        {"\x21", 0, 0x72661CF4},
        {"aaaa", 0x9747B28C, 0x5A97808A},
        {"abc", 0x9747B28C, 0xC84A62DD},
        {"Hello, world!", 0x9747B28C, 0x24884CBA},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
    };
    for (const Case& c : cases)
        EXPECT_EQ(murmur3_32(c.bytes.data(), c.bytes.size(), c.seed), c.hash) << c.bytes;
}

TEST_F(HashTableTest, SizesFollowTheLoadFactor) {
    struct Case {
        uint32_t size, kind, buckets, threshold;
    };
    const Case cases[] = {
        {0, HASH_BLOCK, 8, 6},
        {3, HASH_MAP, 8, 6},
        {4, HASH_WORDS, 8, 6},
        {100, HASH_NODES, 256, 197},
        {4000, HASH_WORDS, 16384, 12615},  // the symbol kind sizes for 8,000
        {4000, HASH_MAP, 8192, 6307},
    };
    for (const Case& c : cases) {
        HashTableRoot table(hashtable_init(0, c.size, c.kind, 1));
        HashTable* t = hashtable_record(table.node);
        EXPECT_EQ(t->buckets, c.buckets) << c.size << " kind " << c.kind;
        EXPECT_EQ(t->threshold, c.threshold) << c.size << " kind " << c.kind;
        EXPECT_EQ(t->count, 0u);
    }
}

// A string! of code points at the given unit.
Cell text_cell(const std::vector<uint32_t>& chars, uint32_t unit) {
    Node node = series_new_units(uint32_t(chars.size()), unit);
    SeriesBuffer* b = series_buffer(node);
    for (size_t i = 0; i < chars.size(); i++) std::memcpy(b->data() + i * unit, &chars[i], unit);
    b->tail = uint32_t(chars.size()) * unit;
    Cell c;
    cell_init(&c, T_STRING);
    c.w2 = node;
    return c;
}

TEST_F(HashTableTest, TextHashesFoldCaseUnlessAsked) {
    CellRoot lower, upper;
    string_make_empty_at(&lower.cell, 8);
    string_append_ascii(&lower.cell, "abc", 3);
    string_make_empty_at(&upper.cell, 8);
    string_append_ascii(&upper.cell, "ABC", 3);
    EXPECT_EQ(string_hash(&lower.cell, false), string_hash(&upper.cell, false));
    EXPECT_NE(string_hash(&lower.cell, true), string_hash(&upper.cell, true));
    EXPECT_EQ(hash_value(&lower.cell, false), hash_value(&upper.cell, false));

    // Hashing folds to lower case, as comparison does: the Kelvin sign is
    // equal to k and must hash alike, whatever the unit of the buffer.
    CellRoot kelvin(text_cell({0x212A}, 2));
    CellRoot k(text_cell({'k'}, 1));
    CellRoot e_acute(text_cell({0xC9}, 1));
    CellRoot e_small(text_cell({0xE9}, 4));
    EXPECT_EQ(string_hash(&kelvin.cell, false), string_hash(&k.cell, false));
    EXPECT_EQ(string_hash(&e_acute.cell, false), string_hash(&e_small.cell, false));
    EXPECT_NE(string_hash(&e_acute.cell, true), string_hash(&e_small.cell, true));

    // A string is hashed from its position.
    lower.cell.w1 = 1;
    CellRoot tail(text_cell({'b', 'c'}, 1));
    EXPECT_EQ(string_hash(&lower.cell, true), string_hash(&tail.cell, true));
}

TEST_F(HashTableTest, TextHashesAlikeAtEveryUnitAndLength) {
    // Lengths around the four-character groups; the same code points at
    // units 1, 2 and 4 hash alike, folded or not.
    for (uint32_t length = 0; length <= 13; length++) {
        std::vector<uint32_t> upper, lower;
        for (uint32_t i = 0; i < length; i++) {
            upper.push_back(i % 3 == 2 ? 0xC0 + i : 'A' + i);  // Latin-1 capitals too
            lower.push_back(change_char_case(upper.back(), false));
        }
        CellRoot narrow(text_cell(upper, 1));
        for (uint32_t unit : {2u, 4u}) {
            CellRoot same(text_cell(upper, unit)), folded(text_cell(lower, unit));
            EXPECT_EQ(string_hash(&narrow.cell, true), string_hash(&same.cell, true))
                << length << " " << unit;
            EXPECT_EQ(string_hash(&narrow.cell, false), string_hash(&folded.cell, false))
                << length << " " << unit;
        }
    }
    // A wide character that folds below 256 (the Kelvin sign to k), at every
    // place of a group, hashes as the one-byte text it folds to.
    for (uint32_t at = 0; at < 6; at++) {
        std::vector<uint32_t> wide = {'a', 'b', 'c', 'd', 'e', 'f'}, narrow = wide;
        wide[at] = 0x212A;
        narrow[at] = 'k';
        CellRoot w(text_cell(wide, 2)), n(text_cell(narrow, 1));
        EXPECT_EQ(string_hash(&w.cell, false), string_hash(&n.cell, false)) << at;
        EXPECT_NE(string_hash(&w.cell, true), string_hash(&n.cell, true)) << at;
    }
}

TEST_F(HashTableTest, ZeroHashesAlikeWhateverItsSign) {
    Cell plus, minus;
    cell_init(&plus, T_FLOAT);
    cell_set_double(&plus, 0.0);
    cell_init(&minus, T_FLOAT);
    cell_set_double(&minus, -0.0);
    EXPECT_EQ(hash_value(&plus, false), hash_value(&minus, false));
}

// A hash! over integers: equal keys are chained, lookups honour start, skip
// and direction, deletions and shifts keep the index in step with the cells.
TEST_F(HashTableTest, BlockIndexChainsAndFindsByPosition) {
    std::vector<Cell> cells;
    for (int32_t n : {7, 3, 7, 5, 7, 3}) cells.push_back(integer_cell(n));
    CellRoot block;
    block_of_cells(&block.cell, cells.data(), uint32_t(cells.size()));
    HashTableRoot table(hashtable_init(block.cell.w2, 6, HASH_BLOCK));
    EXPECT_EQ(hashtable_record(table.node)->count, 3u);  // three distinct keys

    Cell seven = integer_cell(7), nine = integer_cell(9);
    struct Case {
        uint32_t start, skip;
        bool reverse, last;
        int32_t found;
    };
    const Case cases[] = {
        {0, 1, false, false, 0}, {1, 1, false, false, 2}, {5, 1, false, false, -1},
        {1, 2, false, false, -1}, {0, 2, false, false, 0}, {2, 2, false, false, 2},
        {4, 1, true, false, 2},  {0, 1, true, false, -1}, {6, 1, false, true, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hashtable_get(table.node, &seven, c.start, c.skip, CMP_EQUAL, c.reverse, c.last), c.found)
            << "start " << c.start << " skip " << c.skip;
    EXPECT_EQ(hashtable_get(table.node, &nine, 0, 1, CMP_EQUAL, false, false), -1);

    HashCursor cursor;
    std::vector<int32_t> all;
    for (int32_t p; (p = hashtable_find_next(table.node, &seven, &cursor)) >= 0;) all.push_back(p);
    EXPECT_EQ(all, (std::vector<int32_t>{0, 2, 4}));

    // Removing the first 7: the chain keeps the others.
    hashtable_delete_cell(table.node, 0);
    EXPECT_EQ(hashtable_get(table.node, &seven, 0, 1, CMP_EQUAL, false, false), 2);
    // Cells 1..5 move down by one, as a block removal leaves them.
    SeriesBuffer* b = series_buffer(block.cell.w2);
    std::memmove(b->head_ptr(), b->head_ptr() + sizeof(Cell), 5 * sizeof(Cell));
    b->tail -= sizeof(Cell);
    EXPECT_EQ(hashtable_shift_indices(table.node, -1, 1, 5, true), 0);
    EXPECT_EQ(hashtable_get(table.node, &seven, 0, 1, CMP_EQUAL, false, false), 1);
    Cell five = integer_cell(5);
    EXPECT_EQ(hashtable_get(table.node, &five, 0, 1, CMP_EQUAL, false, false), 2);
    Cell three = integer_cell(3);
    EXPECT_EQ(hashtable_get(table.node, &three, 2, 1, CMP_EQUAL, false, false), 4);

    // Moving the last two cells (7 3) to the front.
    std::vector<int32_t> order{7, 3, 3, 7, 5};
    for (size_t i = 0; i < order.size(); i++) block_cells(&block.cell)[i] = integer_cell(order[i]);
    hashtable_move_indices(table.node, 0, 3, 2);
    EXPECT_EQ(hashtable_get(table.node, &seven, 0, 1, CMP_EQUAL, false, false), 0);
    EXPECT_EQ(hashtable_get(table.node, &seven, 1, 1, CMP_EQUAL, false, false), 3);
    EXPECT_EQ(hashtable_get(table.node, &five, 0, 1, CMP_EQUAL, false, false), 4);
    EXPECT_EQ(hashtable_get(table.node, &three, 0, 1, CMP_EQUAL, false, false), 1);
    EXPECT_EQ(hashtable_shift_indices(table.node, 1, 0, HASH_SHIFT_LIMIT + 1, true), 1);
    EXPECT_EQ(hashtable_get(table.node, &three, 0, 1, CMP_EQUAL, false, false), 1);

    hashtable_delete_range(table.node, 0, 99);
    EXPECT_EQ(hashtable_record(table.node)->count, 0u);
    EXPECT_EQ(hashtable_get(table.node, &three, 0, 1, CMP_EQUAL, false, false), -1);
}

// Appending past the threshold rebuilds the index with the new cell in it.
TEST_F(HashTableTest, BlockIndexRebuildsWhenFull) {
    CellRoot block;
    block_of_cells(&block.cell, nullptr, 0);
    HashTableRoot table(hashtable_init(block.cell.w2, 4, HASH_BLOCK));
    bool rebuilt = false;
    for (int32_t n = 0; n < 40; n++) {
        *cell_series_append(block.cell.w2) = integer_cell(n);
        int status;
        hashtable_put_cell(table.node, uint32_t(n), &status);
        rebuilt |= status == HASH_PUT_REBUILT;
    }
    EXPECT_TRUE(rebuilt);
    EXPECT_EQ(hashtable_record(table.node)->count, 40u);
    for (int32_t n = 0; n < 40; n++) {
        Cell key = integer_cell(n);
        EXPECT_EQ(hashtable_get(table.node, &key, 0, 1, CMP_EQUAL, false, false), n);
    }
}

// Block keys hash by node id: after collections that renumber every node the
// index is rebuilt and still finds them.
TEST_F(HashTableTest, BlockKeysAreFoundAfterNodesMove) {
    CellRoot outer;
    block_of_cells(&outer.cell, nullptr, 0);
    for (int i = 0; i < 5; i++) {
        CellRoot inner;
        block_of_cells(&inner.cell, nullptr, 0);
        block_append(outer, inner);
    }
    HashTableRoot table(hashtable_init(outer.cell.w2, 5, HASH_BLOCK));
    EXPECT_NE(hashtable_record(table.node)->stamp, 0u);
    bool torture = memory.torture;
    memory_torture_set(true);
    collector_cycle();
    memory_torture_set(torture);
    for (int32_t i = 0; i < 5; i++) {
        Cell key = block_cells(&outer.cell)[i];
        EXPECT_EQ(hashtable_get(table.node, &key, 0, 1, CMP_SAME, false, false), i);
    }
}

Cell set_word_cell(const char* name) { return word_cell(T_SET_WORD, symbol_make(name)); }

// A map! keeps the first position of a key and its last value; words look
// up set-words; a removed pair stays indexed and uncounted.
TEST_F(HashTableTest, MapKeysAreUniqueAndWordsFindSetWords) {
    Cell pairs[] = {set_word_cell("a"), integer_cell(1), set_word_cell("b"), integer_cell(2),
                    set_word_cell("a"), integer_cell(3)};
    CellRoot block;
    block_of_cells(&block.cell, pairs, 6);
    HashTableRoot table(hashtable_init(block.cell.w2, 3, HASH_MAP));
    ASSERT_EQ(block_length(&block.cell), 4u);
    EXPECT_EQ(block_cells(&block.cell)[1].w2, 3u);
    EXPECT_EQ(hashtable_record(table.node)->count, 2u);

    Cell a = word_cell(T_WORD, symbol_make("a"));
    EXPECT_EQ(hashtable_get(table.node, &a, 0, 1, CMP_EQUAL, false, false), 0);
    Cell b = word_cell(T_GET_WORD, symbol_make("b"));
    EXPECT_EQ(hashtable_get(table.node, &b, 0, 1, CMP_EQUAL, false, false), 2);
    HashCursor cursor;
    EXPECT_EQ(hashtable_find_next(table.node, &b, &cursor), 2);
    EXPECT_EQ(hashtable_find_next(table.node, &b, &cursor), -1);

    hashtable_delete_cell(table.node, 2);
    EXPECT_EQ(hashtable_record(table.node)->count, 1u);
    EXPECT_EQ(block_cells(&block.cell)[3].header, 0u);
    EXPECT_EQ(hashtable_get(table.node, &b, 0, 1, CMP_EQUAL, false, false), 2);

    // An integer key is not a word key.
    Cell one = integer_cell(1);
    EXPECT_EQ(hashtable_get(table.node, &one, 0, 1, CMP_EQUAL, false, false), -1);
}

TEST_F(HashTableTest, MapGrowsAndKeepsEveryKey) {
    CellRoot block;
    block_of_cells(&block.cell, nullptr, 0);
    HashTableRoot table(hashtable_init(block.cell.w2, 2, HASH_MAP));
    for (int32_t n = 0; n < 50; n++) {
        *cell_series_append(block.cell.w2) = integer_cell(n);
        *cell_series_append(block.cell.w2) = integer_cell(n * 10);
        EXPECT_EQ(hashtable_put_cell(table.node, uint32_t(2 * n)), -1);
    }
    Cell again = integer_cell(17);
    *cell_series_append(block.cell.w2) = again;
    EXPECT_EQ(hashtable_put_cell(table.node, 100), 34);  // already present
    EXPECT_GE(hashtable_record(table.node)->buckets, 64u);
    for (int32_t n = 0; n < 50; n++) {
        Cell key = integer_cell(n);
        EXPECT_EQ(hashtable_get(table.node, &key, 0, 1, CMP_STRICT_EQUAL, false, false), 2 * n);
    }
}

TEST_F(HashTableTest, CopyIndexesItsOwnSeries) {
    Cell pairs[] = {integer_cell(4), integer_cell(40), integer_cell(5), integer_cell(50)};
    CellRoot block;
    block_of_cells(&block.cell, pairs, 4);
    HashTableRoot table(hashtable_init(block.cell.w2, 2, HASH_MAP));
    CellRoot copy;
    block_of_cells(&copy.cell, pairs, 4);
    HashTableRoot twin(hashtable_copy(table.node, copy.cell.w2));
    EXPECT_EQ(hashtable_record(twin.node)->data, copy.cell.w2);
    hashtable_clear(table.node);
    Cell five = integer_cell(5);
    EXPECT_EQ(hashtable_get(table.node, &five, 0, 1, CMP_EQUAL, false, false), -1);
    EXPECT_EQ(hashtable_get(twin.node, &five, 0, 1, CMP_EQUAL, false, false), 2);
}

// Node keys: entries follow their nodes through collections that renumber
// them; deleting and re-inserting cleans up at the same bucket count.
TEST_F(HashTableTest, NodeKeysFollowTheirNodes) {
    HashTableRoot table(hashtable_init(0, 3, HASH_NODES, 1));
    CellRoot keys;
    block_of_cells(&keys.cell, nullptr, 0);
    for (int32_t n = 0; n < 20; n++) {
        NodeRoot key(series_new_bytes(8), ROOT_SERIES);
        Cell* entry = hashtable_put_key(table.node, key.node);
        EXPECT_EQ(cell_type(entry), T_UNSET);
        *entry = integer_cell(n);
        Cell* held = cell_series_append(keys.cell.w2);
        cell_init(held, T_BINARY);
        held->w2 = key.node;
    }
    bool torture = memory.torture;
    memory_torture_set(true);
    collector_cycle();
    memory_torture_set(torture);
    for (int32_t n = 0; n < 20; n++) {
        Cell* entry = hashtable_get_key(table.node, block_cells(&keys.cell)[n].w2);
        ASSERT_NE(entry, nullptr) << n;
        EXPECT_EQ(cell_int(entry), n);
    }
    EXPECT_EQ(hashtable_get_key(table.node, keys.cell.w2), nullptr);
    EXPECT_NE(hashtable_remove_key(table.node, block_cells(&keys.cell)[3].w2), nullptr);
    EXPECT_EQ(hashtable_get_key(table.node, block_cells(&keys.cell)[3].w2), nullptr);
    EXPECT_EQ(hashtable_record(table.node)->count, 19u);
}

// Repeated keys share chains (series of positions listed in the table): with
// every allocation collecting and renumbering nodes, entering, finding,
// shifting and copying them keeps every chain reachable and its positions right.
TEST_F(HashTableTest, ChainsOfRepeatedKeysSurviveTortureCollections) {
    bool torture = memory.torture;
    memory_torture_set(true);
    CellRoot block;
    block_of_cells(&block.cell, nullptr, 0);
    HashTableRoot table(hashtable_init(block.cell.w2, 4, HASH_BLOCK));
    for (int32_t i = 0; i < 50; i++) {
        *cell_series_append(block.cell.w2) = integer_cell(i % 7);
        hashtable_put_cell(table.node, uint32_t(i));
    }
    HashTableRoot twin(hashtable_copy(table.node, block.cell.w2));
    memory_torture_set(torture);
    // The positions holding key, from a start upward and from the end downward.
    auto first_from = [](int32_t key, int32_t p) { while (p % 7 != key) p++; return p; };
    auto last = [](int32_t key) { int32_t p = 49; while (p % 7 != key) p--; return p; };
    for (int32_t key = 0; key < 7; key++) {
        Cell k = integer_cell(key);
        EXPECT_EQ(hashtable_get(table.node, &k, 0, 1, CMP_EQUAL, false, false), key);
        EXPECT_EQ(hashtable_get(table.node, &k, 0, 1, CMP_EQUAL, false, true), last(key));
        EXPECT_EQ(hashtable_get(twin.node, &k, 10, 1, CMP_EQUAL, false, false), first_from(key, 10));
    }
}

TEST_F(HashTableTest, ChurnCleansUpAtTheSameSize) {
    HashTableRoot table(hashtable_init(0, 4, HASH_NODES, 1));
    for (int i = 0; i < 200; i++) {
        NodeRoot key(series_new_bytes(8), ROOT_SERIES);
        hashtable_put_key(table.node, key.node);
        EXPECT_NE(hashtable_remove_key(table.node, key.node), nullptr);
    }
    EXPECT_EQ(hashtable_record(table.node)->buckets, 8u);
    EXPECT_EQ(hashtable_record(table.node)->count, 0u);
}

TEST(IntMap, PutGetRemoveAndGrow) {
    IntMap* map = intmap_make(4);
    EXPECT_EQ(map->buckets, 8u);
    for (uintptr_t k = 1; k <= 1000; k++) intmap_put(map, k << 32 | k, k * 3);
    EXPECT_EQ(map->count, 1000u);
    EXPECT_EQ(map->buckets, 2048u);
    for (uintptr_t k = 1; k <= 1000; k++) {
        uintptr_t* v = intmap_get(map, k << 32 | k);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(*v, k * 3);
    }
    EXPECT_EQ(intmap_get(map, 1), nullptr);  // the high half matters
    EXPECT_TRUE(intmap_remove(map, uintptr_t(5) << 32 | 5));
    EXPECT_FALSE(intmap_remove(map, uintptr_t(5) << 32 | 5));
    uint32_t seen = 0, bucket = 0;
    while (intmap_next(map, &bucket)) seen++;
    EXPECT_EQ(seen, 999u);
    intmap_clear(map);
    EXPECT_EQ(intmap_get(map, uintptr_t(7) << 32 | 7), nullptr);
    // Churn at a steady size re-hashes in place rather than growing.
    for (uintptr_t k = 0; k < 5000; k++) {
        intmap_put(map, k, k);
        intmap_remove(map, k);
    }
    EXPECT_EQ(map->buckets, 2048u);
    intmap_free(map);
}

// Keys sharing one home bucket: a lookup walks past a removed key's bucket to
// those behind it, and an insert takes the first removed bucket it passed
// rather than the empty one where its walk ends.
TEST(IntMap, WalksPastRemovedKeysAndReusesTheirBuckets) {
    IntMap* map = intmap_make(4);
    ASSERT_EQ(map->buckets, 8u);
    std::vector<uintptr_t> keys;  // below 2^32: the intmap hash is hash_int of the key
    for (uint32_t k = 1; keys.size() < 4; k++)
        if ((hash_int(k) & 7) == (hash_int(1) & 7)) keys.push_back(k);
    for (int i = 0; i < 3; i++) intmap_put(map, keys[size_t(i)], uintptr_t(i));
    EXPECT_EQ(map->used, 3u);
    EXPECT_TRUE(intmap_remove(map, keys[0]));
    ASSERT_NE(intmap_get(map, keys[2]), nullptr);
    EXPECT_EQ(*intmap_get(map, keys[2]), 2u);
    intmap_put(map, keys[3], 3);
    EXPECT_EQ(map->used, 3u);  // no empty bucket was taken
    uint32_t bucket = 0;
    IntMapPair* pair;
    while ((pair = intmap_next(map, &bucket)) && pair->key != keys[3]) {}
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(bucket - 1, hash_int(1) & 7);  // the home bucket, freed by the removal
    intmap_free(map);
}

} // namespace
