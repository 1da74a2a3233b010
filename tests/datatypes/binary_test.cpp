#include "datatypes/binary.hpp"
#include "core/series.hpp"
#include "datatypes/bitset.hpp"
#include "tests/core/string_fixture.hpp"
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kel;
using namespace kel::testing;

namespace {

using Binary = RuntimeTest;

using Bytes = std::vector<uint8_t>;

Bytes hex_bytes(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Cell* bin_push(const Bytes& bytes) { return binary_push_bytes(bytes.data(), uint32_t(bytes.size())); }

// The bytes of a binary from its position.
Bytes bytes_of(Cell* binary) {
    uint32_t n = binary_length(binary);
    const uint8_t* p = binary_head_pointer(binary);
    return Bytes(p, p + n);
}

Bytes node_bytes(Node node) {
    SeriesBuffer* b = series_buffer(node);
    return Bytes(b->head_ptr(), b->tail_ptr());
}

std::string encode(char* (*encoder)(char*, const uint8_t*, uint32_t), const Bytes& bytes) {
    std::string out(bytes.size() * 8 + 4, '\0');
    char* end = encoder(out.data(), bytes.data(), uint32_t(bytes.size()));
    out.resize(size_t(end - out.data()));
    return out;
}

// Decodes ASCII text; "invalid" when the decoder rejects it.
std::string decode_hex(Node (*decoder)(const uint8_t*, uint32_t, uint32_t), const std::string& text) {
    Node node = decoder(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 1);
    if (!node) return "invalid";
    std::string out;
    for (uint8_t b : node_bytes(node)) out += byte_to_hex(b);
    return out;
}

std::string mold(Cell* binary, bool only = false, bool flat = false, int32_t indent = 0) {
    Cell* out = text_push("");
    binary_mold(binary, out, only, false, flat, false, 0, indent);
    std::string text = text_of(out);
    stack_pop(1);
    return text;
}

TEST_F(Binary, CodecsRoundTripOnATableOfInputs) {
    // Base-64 texts as Python's base64 module writes them.
    struct Case {
        std::string hex, base64;
    };
    const Case cases[] = {
        {"", ""},           {"66", "Zg=="},         {"666F", "Zm8="},         {"666F6F", "Zm9v"},
        {"666F6F62", "Zm9vYg=="}, {"666F6F6261", "Zm9vYmE="}, {"666F6F626172", "Zm9vYmFy"},
        {"00FF8001", "AP+AAQ=="}, {"FAFBFCFDFEFF", "+vv8/f7/"},
    };
    for (const Case& c : cases) {
        Bytes bytes = hex_bytes(c.hex);
        EXPECT_EQ(encode(base64_encode, bytes), c.base64) << c.hex;
        EXPECT_EQ(decode_hex(base64_decode, c.base64), c.hex) << c.base64;
        EXPECT_EQ(encode(base16_encode, bytes), c.hex);
        EXPECT_EQ(decode_hex(base16_decode, c.hex), c.hex);
        EXPECT_EQ(decode_hex(base2_decode, encode(base2_encode, bytes)), c.hex);
        EXPECT_EQ(decode_hex(base58_decode, encode(base58_encode, bytes)), c.hex);
    }
    // Base-58 with the Bitcoin alphabet; leading zero bytes are "1"s.
    EXPECT_EQ(encode(base58_encode, Bytes{'H', 'e', 'l', 'l', 'o', ' ', 'W', 'o', 'r', 'l', 'd', '!'}),
              "2NEpo7TZRRrLZSi2U");
    EXPECT_EQ(encode(base58_encode, hex_bytes("0000287FB4CD")), "11233QC4");
    EXPECT_EQ(encode(base58_encode, Bytes{0}), "1");
    EXPECT_EQ(decode_hex(base58_decode, "1"), "00");
    EXPECT_EQ(encode(base2_encode, Bytes{0xA5}), "10100101");
}

TEST_F(Binary, DecodersSkipBlanksAndCommentsAndRejectBadText) {
    struct Case {
        Node (*decoder)(const uint8_t*, uint32_t, uint32_t);
        std::string text, expected;
    };
    const Case cases[] = {
        {base64_decode, "Zm9v\n YmFy", "666F6F626172"},
        {base64_decode, "Zm8=ignored!", "666F"},         // the first "=" ends the text
        {base64_decode, "Zm9vY", "666F6F"},              // a lone last digit is dropped
        {base64_decode, "Zm8", "666F"},                  // padding left out
        {base64_decode, "Zm9vYg", "666F6F62"},
        {base64_decode, "Zm9v=", "invalid"},             // "=" after no digit of a group
        {base64_decode, "Zm9v*", "invalid"},
        {base64_decode, "Zm ; note\n8=", "666F"},
        {base16_decode, "0a Ff ; comment\n 1", "0AFF"},  // an odd last digit is dropped
        {base16_decode, "0G", "invalid"},
        {base2_decode, "0000 0001\t11111111", "01FF"},
        {base2_decode, "0000001", "invalid"},            // not a multiple of 8 bits
        {base2_decode, "00000002", "invalid"},
        {base58_decode, "0", "invalid"},                 // outside the alphabet
        {base58_decode, "11 '2", "000001"},
    };
    for (const Case& c : cases) EXPECT_EQ(decode_hex(c.decoder, c.text), c.expected) << c.text;
}

TEST_F(Binary, CodesAbove127AreInvalidDigitsNotFolded) {
    // U+00C1 folded to 7 bits would read as "A"; U+00E1 as "a".
    const uint8_t latin[] = {'0', 0xC1};
    EXPECT_EQ(base16_decode(latin, 2, 1), 0u);
    const uint32_t wide[] = {'Z', 'm', 0x100 + 'Z', '='};
    EXPECT_EQ(base64_decode(reinterpret_cast<const uint8_t*>(wide), 4, 4), 0u);
    const uint8_t high[] = {'Z', 'm', 0xE1, '8', '='};
    EXPECT_EQ(base64_decode(high, 5, 1), 0u);
    // Base 58 ends its input at such a character.
    const uint8_t b58[] = {'2', 0xC1, 'z'};
    EXPECT_EQ(node_bytes(base58_decode(b58, 3, 1)), Bytes{1});
}

TEST_F(Binary, LexerLoaderIsStrictAboutDigitCounts) {
    auto scan = [](const std::string& text, int base) -> std::string {
        Cell* out = stack_push_new(T_NONE);
        bool ok = scan_binary(reinterpret_cast<const uint8_t*>(text.data()),
                              reinterpret_cast<const uint8_t*>(text.data() + text.size()), base, out);
        std::string hex = ok ? "" : "invalid";
        if (ok) {
            EXPECT_EQ(cell_type(out), T_BINARY);
            for (uint8_t b : bytes_of(out)) hex += byte_to_hex(b);
        }
        stack_pop(1);
        return hex;
    };
    EXPECT_EQ(scan("DE AD\nbe ef", 16), "DEADBEEF");
    EXPECT_EQ(scan("ABC", 16), "invalid");
    EXPECT_EQ(scan("00000001 ; one\n", 2), "01");
    EXPECT_EQ(scan("0101", 2), "invalid");
    EXPECT_EQ(scan("Zm9vYg==", 64), "666F6F62");
    EXPECT_EQ(scan("Zm9vYg", 64), "invalid");
    EXPECT_EQ(scan("Zm9vYg=", 64), "invalid");
    EXPECT_EQ(scan("Zm8=x", 64), "invalid");
    EXPECT_EQ(scan("", 16), "");
    EXPECT_EQ(scan("11", 8), "invalid");
}

TEST_F(Binary, MoldBreaksLongBinariesIntoLinesOf32Bytes) {
    EXPECT_EQ(mold(bin_push({})), "#{}");
    EXPECT_EQ(mold(bin_push({0x01, 0xAB})), "#{01AB}");
    EXPECT_EQ(mold(bin_push({0x01, 0xAB}), true), "01AB");
    EXPECT_EQ(mold(bin_push(Bytes(30, 0xFF))), "#{" + std::string(60, 'F') + "}");
    EXPECT_EQ(mold(bin_push(Bytes(31, 0))), "#{\n    " + std::string(62, '0') + "\n}");
    EXPECT_EQ(mold(bin_push(Bytes(32, 0))), "#{\n    " + std::string(64, '0') + "\n    }");
    EXPECT_EQ(mold(bin_push(Bytes(33, 0)), false, false, 1),
              "#{\n        " + std::string(64, '0') + "\n        00\n    }");
    EXPECT_EQ(mold(bin_push(Bytes(40, 0)), false, true), "#{" + std::string(80, '0') + "}");
    Cell* from_second = bin_push({1, 2, 3});
    from_second->w1 = 1;
    EXPECT_EQ(mold(from_second), "#{0203}");
    // Form frames the bytes too; a part budget stops at once without the brace.
    Cell* out = text_push("");
    binary_form(bin_push({1, 2, 3, 4}), out, false, false, false, true, 5, 0);
    EXPECT_EQ(text_of(out), "#{0102");
}

TEST_F(Binary, BitwiseActionsCoverTheLongerOperand) {
    struct Case {
        void (*op)(Cell*, const Cell*);
        std::string expected;
    };
    const Case cases[] = {
        {binary_and, "F0000000"},  // the rest of the longer one is zero
        {binary_or, "FF0FABCD"},   // and copied for or~ and xor~
        {binary_xor, "0F0FABCD"},
    };
    for (const Case& c : cases) {
        Cell* a = bin_push(hex_bytes("F00FABCD"));
        Cell* b = bin_push(hex_bytes("FF00"));
        c.op(a, b);
        std::string hex;
        for (uint8_t x : bytes_of(a)) hex += byte_to_hex(x);
        EXPECT_EQ(hex, c.expected);
        Cell* short_first = bin_push(hex_bytes("FF00"));
        c.op(short_first, bin_push(hex_bytes("F00FABCD")));
        EXPECT_EQ(bytes_of(short_first).size(), 4u);
    }
    Cell* a = bin_push({1, 2});
    Cell text = *text_push("x");
    EXPECT_EQ(raised_code([&] { binary_and(a, &text); }), SCRIPT_ERROR + ERR_INVALID_ARG);

    Cell* c = bin_push({0x00, 0x0F, 0xF0});
    c->w1 = 1;
    EXPECT_EQ(binary_complement(c), c);
    c->w1 = 0;
    EXPECT_EQ(bytes_of(c), (Bytes{0x00, 0xF0, 0x0F}));
}

TEST_F(Binary, AppendAndInsertWriteTheBytesOfValues) {
    Cell* bin = bin_push({0xAA});
    Cell n255 = integer_cell(255), n_1 = integer_cell(-1), n256 = integer_cell(256);
    binary_insert(bin, &n255, -1, false, 1, true);
    binary_insert(bin, &n_1, -1, false, 1, true);
    EXPECT_EQ(bytes_of(bin), (Bytes{0xAA, 0xFF, 0xFF}));
    EXPECT_EQ(raised_code([&] { binary_insert(bin, &n256, -1, false, 1, true); }), SCRIPT_ERROR + ERR_INVALID_ARG);
    EXPECT_EQ(bytes_of(bin), (Bytes{0xAA, 0xFF, 0xFF}));

    Cell e_acute = char_cell(0xE9);
    Cell* b2 = bin_push({});
    binary_insert(b2, &e_acute, -1, false, 1, true);
    Cell* text = text_push("h\xC3\xA9");
    binary_insert(b2, text, -1, false, 1, true);
    EXPECT_EQ(bytes_of(b2), (Bytes{0xC3, 0xA9, 'h', 0xC3, 0xA9}));

    // A block: its integers and texts in order, nested blocks flattened.
    CellRoot block;
    {
        Cell items[2] = {integer_cell(1), integer_cell(2)};
        block_of_cells(&block.cell, items, 2);
        CellRoot s(*text_push("ab"));
        block_append(block, s);
        CellRoot inner;
        Cell three = integer_cell(3);
        block_of_cells(&inner.cell, &three, 1);
        block_append(block, inner);
    }
    Cell* b3 = bin_push({9});
    binary_insert(b3, &block.cell, -1, false, 1, true);
    EXPECT_EQ(bytes_of(b3), (Bytes{9, 1, 2, 'a', 'b', 3}));
    // Without /only a part counts cells; with it, bytes.
    Cell* b4 = bin_push({});
    binary_insert(b4, &block.cell, 3, false, 1, true);
    EXPECT_EQ(bytes_of(b4), (Bytes{1, 2, 'a', 'b'}));
    Cell* b5 = bin_push({});
    binary_insert(b5, &block.cell, 3, true, 1, true);
    EXPECT_EQ(bytes_of(b5), (Bytes{1, 2, 'a'}));

    // Insert returns the binary past the insertion; dup repeats the pattern.
    Cell* b6 = bin_push({1, 2});
    b6->w1 = 1;
    Cell* ab = bin_push({0xA, 0xB});
    binary_insert(b6, ab, -1, false, 3, false);
    EXPECT_EQ(b6->w1, 7u);
    b6->w1 = 0;
    EXPECT_EQ(bytes_of(b6), (Bytes{1, 0xA, 0xB, 0xA, 0xB, 0xA, 0xB, 2}));

    // A binary appended to itself; a value of an unsupported type.
    Cell* self = bin_push({1, 2});
    binary_insert(self, self, -1, false, 1, true);
    EXPECT_EQ(bytes_of(self), (Bytes{1, 2, 1, 2}));
    Cell none;
    cell_init(&none, T_NONE);
    EXPECT_EQ(raised_code([&] { binary_insert(self, &none, -1, false, 1, true); }), SCRIPT_ERROR + ERR_BAD_TO_ARG);
}

TEST_F(Binary, AppendGrowsPastManyCollections) {
    Cell* bin = bin_push({});
    Cell* chunk = text_push(std::string(100, 'x'));
    for (int i = 0; i < 50; i++) binary_insert(bin, chunk, -1, false, 1, true);
    EXPECT_EQ(binary_length(bin), 5000u);
    uint8_t bytes[3] = {7, 8, 9};
    binary_append_bytes(bin, bytes, 3);
    binary_insert_bytes(bin, 1, bytes, 2);
    binary_append_int32_be(0x01020304, bin);
    Bytes all = bytes_of(bin);
    ASSERT_EQ(all.size(), 5009u);
    EXPECT_EQ((Bytes(all.begin(), all.begin() + 3)), (Bytes{'x', 7, 8}));
    EXPECT_EQ((Bytes(all.end() - 7, all.end())), (Bytes{7, 8, 9, 1, 2, 3, 4}));
}

TEST_F(Binary, ChangeReplacesBytesAndFormsOtherValues) {
    Cell* bin = bin_push({1, 2, 3, 4, 5});
    bin->w1 = 1;
    Cell* ab = bin_push({0xA, 0xB});
    binary_change(bin, ab, -1, false, 1);
    EXPECT_EQ(bin->w1, 3u);
    bin->w1 = 0;
    EXPECT_EQ(bytes_of(bin), (Bytes{1, 0xA, 0xB, 4, 5}));
    // A part replaces that many bytes whatever the value's length.
    bin->w1 = 1;
    Cell x = char_cell('x');
    binary_change(bin, &x, 3, false, 1);
    bin->w1 = 0;
    EXPECT_EQ(bytes_of(bin), (Bytes{1, 'x', 5}));
    // Any value is accepted: a word is formed.
    Cell word = word_cell(T_WORD, symbol_make("hi"));
    binary_change(bin, &word, -1, false, 1);
    bin->w1 = 0;
    EXPECT_EQ(bytes_of(bin), (Bytes{'h', 'i', 5}));
    // The value may be this binary itself.
    Cell* same = bin_push({1, 2, 3});
    same->w1 = 1;
    Cell whole = *same;
    whole.w1 = 0;
    binary_change(same, &whole, -1, false, 1);
    same->w1 = 0;
    EXPECT_EQ(bytes_of(same), (Bytes{1, 1, 2, 3}));
    Cell big = integer_cell(300);
    EXPECT_EQ(raised_code([&] { binary_change(same, &big, -1, false, 1); }), SCRIPT_ERROR + ERR_INVALID_ARG);
    EXPECT_EQ(bytes_of(same), (Bytes{1, 1, 2, 3}));
}

TEST_F(Binary, TrimRemovesZerosOrAGivenSet) {
    struct Case {
        bool head, tail, all;
        std::string expected;
    };
    const Case cases[] = {
        {false, false, false, "01000203"},  // from the position: 00 00 01 00 02 03 00 00
        {true, false, false, "010002030000"},
        {false, true, false, "000001000203"},
        {false, false, true, "010203"},
    };
    for (const Case& c : cases) {
        Cell* bin = bin_push({0xEE, 0, 0, 1, 0, 2, 3, 0, 0});
        bin->w1 = 1;
        binary_trim(bin, c.head, c.tail, false, false, c.all, nullptr);
        std::string hex;
        for (uint8_t b : bytes_of(bin)) hex += byte_to_hex(b);
        EXPECT_EQ(hex, c.expected);
    }
    Cell* bin = bin_push({1, 2, 3, 1});
    Cell* set = bin_push({1, 3});
    binary_trim(bin, false, false, false, false, false, set);
    EXPECT_EQ(bytes_of(bin), (Bytes{2}));
    EXPECT_EQ(raised_code([&] { binary_trim(bin, false, false, true, false, false, nullptr); }),
              INTERNAL_ERROR + ERR_NOT_DONE);
}

TEST_F(Binary, CompareWalksUnsignedBytes) {
    struct Case {
        Bytes a, b;
        int32_t op;
        int32_t expected;
    };
    const Case cases[] = {
        {{1, 2}, {1, 2}, CMP_EQUAL, 0},
        {{1, 2}, {1, 2, 3}, CMP_EQUAL, 1},
        {{1, 2}, {1, 2, 3}, CMP_LESSER, -1},
        {{0x80}, {0x7F}, CMP_LESSER, 1},  // unsigned
        {{2}, {1, 9}, CMP_SORT, 1},
        {{}, {}, CMP_EQUAL, 0},
    };
    for (const Case& c : cases) {
        Cell* a = bin_push(c.a);
        Cell* b = bin_push(c.b);
        EXPECT_EQ(binary_compare(a, b, c.op), c.expected);
    }
    Cell* a = bin_push({'a', 'b', 'c'});
    Cell* text = text_push("ab");
    EXPECT_EQ(binary_compare(a, text, CMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_TRUE(binary_match_value_q(a, text, CMP_EQUAL));
    EXPECT_FALSE(binary_match_value_q(a, text_push("abcd"), CMP_EQUAL));
    Cell b = char_cell('a');
    EXPECT_TRUE(binary_match_value_q(a, &b, CMP_EQUAL));
    EXPECT_EQ(binary_compare(a, a, CMP_SAME), 0);
    Cell* copy = bin_push({'a', 'b', 'c'});
    EXPECT_EQ(binary_compare(a, copy, CMP_SAME), -1);
}

TEST_F(Binary, ToBinaryConvertsEachKind) {
    auto to = [](const Cell& spec) {
        Cell* proto = stack_push_new(T_NONE);
        Cell* held = stack_push(&spec);
        binary_to(proto, held, T_BINARY);
        Bytes out = bytes_of(proto);
        stack_pop(2);
        return out;
    };
    EXPECT_EQ(to(integer_cell(1)), (Bytes{0, 0, 0, 1}));
    Cell f;
    cell_init(&f, T_FLOAT);
    cell_set_double(&f, 1.0);
    EXPECT_EQ(to(f), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(to(char_cell(0x20AC)), (Bytes{0xE2, 0x82, 0xAC}));
    EXPECT_EQ(to(*text_push("h\xC3\xA9")), (Bytes{'h', 0xC3, 0xA9}));
    Cell issue = word_cell(T_ISSUE, symbol_make("DEad"));
    EXPECT_EQ(to(issue), (Bytes{0xDE, 0xAD}));
    Cell bad_issue = word_cell(T_ISSUE, symbol_make("xyz"));
    EXPECT_EQ(raised_code([&] { to(bad_issue); }), SCRIPT_ERROR + ERR_INVALID_DATA);
    Cell none;
    cell_init(&none, T_NONE);
    EXPECT_EQ(raised_code([&] { to(none); }), SCRIPT_ERROR + ERR_BAD_TO_ARG);
    Cell* bin = bin_push({1, 2, 3});
    bin->w1 = 2;
    Bytes copied = to(*bin);
    EXPECT_EQ(copied, Bytes{3});
}

TEST_F(Binary, ByteInBitsetAndByteFromValue) {
    Cell* set = stack_push_new(T_NONE);
    bitset_make_at(set, 1);
    bitset_data(set)[0] = 0x40;  // bit 1
    Cell* bin = bin_push({1, 200});
    EXPECT_TRUE(binary_byte_in_bitset_q(bin, set));
    bin->w1 = 1;
    EXPECT_FALSE(binary_byte_in_bitset_q(bin, set));  // past the bits: not negated
    uint8_t byte = 0;
    Cell n = integer_cell(0x1FF);
    binary_byte_from_value(&byte, &n);
    EXPECT_EQ(byte, 0xFF);
    Cell none;
    cell_init(&none, T_NONE);
    EXPECT_EQ(raised_code([&] { binary_byte_from_value(&byte, &none); }), SCRIPT_ERROR + ERR_INVALID_ARG);
}

} // namespace
