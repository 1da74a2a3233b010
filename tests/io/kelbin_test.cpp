// The Kelbin decoder at the C++ level: streams the codec routine never sees
// (empty bodies, compressed bodies, boot data) and a sweep of damaged
// streams, each of which must end in a language error or a value, never in
// a fault.
#include "io/kelbin/decoder.hpp"
#include "io/kelbin/encoder.hpp"
#include "core/context.hpp"
#include "core/word.hpp"
#include "runtime/native_guard.hpp"
#include "tests/natives/natives_fixture.hpp"

#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include <vector>

namespace kel::testing {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes prefix(uint8_t flags) { return {'K', 'E', 'L', 'B', 'I', 'N', 2, flags}; }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An LZ77 stream of one block of literal items (flag bit 0, then the byte,
// least significant bit first).
Bytes lz_literals(const Bytes& data) {
    Bytes items;
    uint32_t acc = 0, bits = 0;
    for (uint8_t b : data) {
        acc |= uint32_t(b) << (bits + 1);
        bits += 9;
        while (bits >= 8) {
            items.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits) items.push_back(uint8_t(acc));
    auto le32 = [](Bytes& out, uint32_t v) {
        for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
    };
    Bytes out;
    le32(out, uint32_t(items.size() + 4));
    le32(out, uint32_t(data.size()));
    le32(out, uint32_t(data.size()));
    return out + items;
}

struct KelbinTest : NativesTest {
    // Decodes bytes in codec mode into a new block; the block's mold, or the
    // error's id as "error:<code>".
    static std::string decode(const Bytes& bytes) {
        StackState saved = stack_save();
        std::string result;
        try {
            Cell* block = block_push_only(1);
            kelbin_decode(bytes.data(), block, true, int64_t(bytes.size()));
            result = mold_of(*block);
        } catch (const LanguageError& e) {
            result = "error:" + std::to_string(e.code());
        }
        stack_restore(saved);
        return result;
    }

    // The value of the last expression of the text, left on the data stack.
    static Cell* evaluate(const std::string& text) {
        try {
            Cell* code = load(text);
            EXPECT_EQ(eval_block(code, false), EXIT_CODE_NONE);
        } catch (const LanguageError& e) {
            ADD_FAILURE() << "error " << e.code() << " in " << text;
        }
        return stack_top();
    }

    static Bytes stream_of(const Cell* binary) {
        SeriesBuffer* b = series_buffer(binary->w2);
        return Bytes(b->head_ptr(), b->tail_ptr());
    }
};

TEST_F(KelbinTest, BodiesWithoutRecordsDecodeToNothing) {
    EXPECT_EQ(decode(prefix(0x01) + Bytes{0, 0}), "[]");
    EXPECT_EQ(decode(prefix(0x00) + Bytes{1, 0, 0, 0, 0, 0, 0, 0}), "[]");
    EXPECT_EQ(decode(prefix(0x05) + Bytes{1, 0, 0, 0}), "[]");  // an empty symbol table
    // A fixed-width body must hold its two counts.
    EXPECT_EQ(decode(prefix(0x00) + Bytes{1, 0, 0, 0}), "error:" + std::to_string(script(ERR_INVALID_DATA)));
    EXPECT_EQ(decode(Bytes{'K', 'E', 'L', 'B', 'I', 'X', 2, 1, 0, 0}),
              "error:" + std::to_string(script(ERR_INVALID_DATA)));
    // Names that do not end in a NUL.
    EXPECT_EQ(decode(prefix(0x05) + Bytes{1, 0, 1, 1, 0, 0, 0, 0, 'a'}),
              "error:" + std::to_string(script(ERR_KB_INVALID_RECORD)));
}

TEST_F(KelbinTest, CompressedBodiesDecode) {
    Cell* value = evaluate(R"([a "text" [1 2] a])");
    Bytes stream = stream_of(kelbin_encode_cp(value));
    Bytes body(stream.begin() + 8, stream.end());
    EXPECT_EQ(decode(prefix(0x07) + lz_literals(body)), R"([[a "text" [1 2] a]])");
    Bytes corrupt = lz_literals(body);
    corrupt[8] = 0;  // a block length of 0
    EXPECT_EQ(decode(prefix(0x07) + corrupt), "error:" + std::to_string(script(ERR_INVALID_DATA)));
}

TEST_F(KelbinTest, BootDataDefinesWordsAndBindsToHolders) {
    // Symbols "a" and "x"; an object holding a: 7, a word a bound to it by
    // literal position 0 and slot 0, the same word looked up by slot -1, and
    // the definition x: 5, which leaves no cell.
    Bytes symbols = {2, 4, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'x', 0};
    Bytes records = {0x20, 0x00, 0x0E, 0x12, 0x01, 0x00, 0x87,
                     0x4F, 0x00, 0x00, 0x00,
                     0x4F, 0x00, 0x00, 0x01,
                     0xC4, 0x0F, 0x01, 0x85};
    Bytes stream = prefix(0x05) + Bytes{4, uint8_t(records.size())} + symbols + records;
    uint32_t before = series_buffer(root_cell.w2)->length();
    uint32_t first = kelbin_boot_load(stream.data(), false);
    EXPECT_EQ(first, before);
    EXPECT_EQ(kelbin_first_new, before);
    EXPECT_FALSE(kelbin_codec_q);
    ASSERT_EQ(series_buffer(root_cell.w2)->length(), before + 3);
    for (uint32_t k = 1; k <= 2; k++) {
        Cell word = *block_ks_abs_at(&root_cell, before + k);
        ASSERT_EQ(cell_type(&word), T_WORD);
        EXPECT_EQ(word.w1, block_ks_abs_at(&root_cell, before)->w1);
        EXPECT_EQ(mold_of(*word_get(&word)), "7");
    }
    EXPECT_EQ(run("x"), "5");
    // keep: the recorded first cell stays that of the earlier load
    Bytes again = prefix(0x01) + Bytes{1, 1, 0x81};
    EXPECT_EQ(kelbin_boot_load(again.data(), true), before + 3);
    EXPECT_EQ(kelbin_first_new, before);
}

TEST_F(KelbinTest, BootDataRepeatsGlobalWordsAsTheirKindAndLine) {
    // Symbols "a" and "b"; the word a, then a block of a: (on a new line),
    // 'a and :b, then /a and a symbol index past the table.
    Bytes symbols = {2, 4, 0, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'b', 0};
    Bytes records = {0x0F, 0x00,
                     0x05, 0x03, 0xC0, 0x10, 0x00, 0x11, 0x00, 0x12, 0x01,
                     0x13, 0x00};
    Bytes stream = prefix(0x05) + Bytes{3, uint8_t(records.size())} + symbols + records;
    uint32_t before = series_buffer(root_cell.w2)->length();
    kelbin_boot_load(stream.data(), false);
    ASSERT_EQ(series_buffer(root_cell.w2)->length(), before + 3);
    Cell first = *block_ks_abs_at(&root_cell, before);
    ASSERT_EQ(cell_type(&first), T_WORD);
    Cell* block = block_ks_abs_at(&root_cell, before + 1);
    ASSERT_EQ(series_buffer_of(block)->length(), 3u);
    const Cell inner[3] = {*block_ks_abs_at(block, 0), *block_ks_abs_at(block, 1), *block_ks_abs_at(block, 2)};
    struct Expected {
        const Cell* cell;
        uint8_t type;
        bool new_line;
    };
    const Expected cases[] = {
        {&inner[0], T_SET_WORD, true},
        {&inner[1], T_LIT_WORD, false},
        {block_ks_abs_at(&root_cell, before + 2), T_REFINEMENT, false},
    };
    for (const Expected& e : cases) {
        EXPECT_EQ(cell_type(e.cell), e.type);
        EXPECT_EQ((e.cell->header & CELL_NEWLINE) != 0, e.new_line) << int(e.type);
        EXPECT_EQ(word_symbol(e.cell), word_symbol(&first));
        EXPECT_EQ(word_context(e.cell), word_context(&first));
        EXPECT_EQ(word_index(e.cell), word_index(&first));
    }
    EXPECT_EQ(cell_type(&inner[2]), T_GET_WORD);
    EXPECT_NE(word_symbol(&inner[2]), word_symbol(&first));

    // A repeated word whose symbol index lies past the table fails cleanly.
    Bytes bad = {0x0F, 0x00, 0x0F, 0x02};
    Bytes damaged = prefix(0x05) + Bytes{2, uint8_t(bad.size())} + symbols + bad;
    try {
        kelbin_boot_load(damaged.data(), false);
        ADD_FAILURE() << "a symbol index past the table decoded";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.code(), script(ERR_KB_INVALID_RECORD));
    }
}

TEST_F(KelbinTest, BootDataWithoutMagicEndsTheProcess) {
    Bytes stream = {'N', 'O', 'P', 'E', 0, 0, 2, 1};
    EXPECT_EXIT(kelbin_boot_load(stream.data(), false), ::testing::ExitedWithCode(0), "");
}

// Nesting past the depth both sides accept is refused with too-deep, before
// either runs out of stack. The collector stays off: the limits, not the
// collector, are under test.
TEST_F(KelbinTest, DeepNestingRaisesTooDeep) {
    collector.enabled = false;
    native_stack_guard_init(nullptr);
    const uint32_t depth = 60000;
    Bytes records;
    for (uint32_t i = 0; i < depth; i++) records.insert(records.end(), {0x05, 0x01});
    records.insert(records.end(), {0x05, 0x00});
    Bytes size;
    for (uint32_t v = uint32_t(records.size()); ; v >>= 7) {
        size.push_back(uint8_t(v >= 0x80 ? (v & 0x7F) | 0x80 : v));
        if (v < 0x80) break;
    }
    std::string too_deep = "error:" + std::to_string(int(ErrorCategory::internal) * 100 + ERR_TOO_DEEP);
    EXPECT_EQ(decode(prefix(0x01) + Bytes{1} + size + records), too_deep);

    StackState saved = stack_save();
    Cell* nested = evaluate("b: copy [] loop 60000 [b: reduce [b]] b");
    EXPECT_EQ(raised_code([&] { kelbin_encode_cp(nested); }),
              int(ErrorCategory::internal) * 100 + ERR_TOO_DEEP);
    stack_restore(saved);
}

// Every truncation and many single-byte changes of real streams: each decode
// gives values or raises a language error; the sanitizers catch any read
// outside the stream or the tables.
TEST_F(KelbinTest, DamagedStreamsFailCleanly) {
    Cell* value = evaluate(R"(
        s: "shared ∑😀"
        inner: [1 2]
        o: make object! [a: 1 b: [x y] f: func [n /local m] [m: n + a m * 2]]
        cyclic: copy [0]
        append/only cyclic cyclic
        reduce [
            s next s inner inner o :o/f cyclic #[k: "v" 3 [4]] make hash! [h 1]
            1.5 0.5% 12:00 1-Jan-2000/10:00 $1.25 1.2.3.4 (1, 2) 10x20 #"c" integer!
            #{00FF} make bitset! "ab" make vector! [1 2] 'lit :o/a /ref #iss <t> %f @r
            try [1 / 0] :append :+ to paren! [x] 'a/b
        ]
    )");
    CellRoot root(*value);
    bool torture = std::getenv("KEL_GC_TORTURE") != nullptr;
    for (bool compact : {true, false}) {
        Bytes stream = stream_of(compact ? kelbin_encode_cp(&root.cell) : kelbin_encode(&root.cell));
        std::string whole = decode(stream);
        ASSERT_EQ(whole.rfind("error", 0), std::string::npos) << whole;
        // Under torture every allocation collects: a sample keeps it short.
        size_t step = torture ? 31 : 1;
        for (size_t n = 8; n < stream.size(); n += step)
            decode(Bytes(stream.begin(), stream.begin() + long(n)));
        const uint8_t changes[] = {0x00, 0x01, 0x3F, 0x7F, 0x80, 0xC1, 0xC4, 0xFF};
        for (size_t i = 8; i < stream.size(); i += step) {
            for (uint8_t c : changes) {
                Bytes damaged = stream;
                damaged[i] = c;
                decode(damaged);
            }
            Bytes flipped = stream;
            flipped[i] ^= 0x40;
            decode(flipped);
        }
    }
}

} // namespace
} // namespace kel::testing
