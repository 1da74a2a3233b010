// DEFLATE codec, gzip and zlib framing and the LZ77 block decompressor, on
// plain byte buffers: round trips, streams made by other encoders, the size
// protocol (a destination too small reports the size needed) and malformed
// input, which must give its result code without reading or writing out of
// bounds.
#include "io/compression/deflate.hpp"
#include "io/compression/framing.hpp"
#include "io/compression/lz77.hpp"
#include "natives/checksum.hpp"
#include "runtime/heap.hpp"

#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kel {
namespace {

using Bytes = std::vector<uint8_t>;
using Codec = int32_t (*)(uint8_t*, uint32_t*, const uint8_t*, uint32_t);

Bytes hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Runs a codec the way the natives do: a sizing pass without a destination,
// then a run into a buffer of exactly the size asked for. The buffer is
// heap-allocated at its exact size so that the sanitizer sees any overrun.
struct CodecRun {
    int32_t result;
    Bytes out;
};

CodecRun codec_run(Codec codec, const Bytes& in) {
    uint32_t need = 0;
    int32_t sizing = codec(nullptr, &need, in.data(), uint32_t(in.size()));
    if (sizing != COMPRESS_DONE && sizing != COMPRESS_DEST_SMALL) return {sizing, {}};
    std::unique_ptr<uint8_t[]> dest(new uint8_t[need ? need : 1]);
    uint32_t size = need;
    int32_t result = codec(dest.get(), &size, in.data(), uint32_t(in.size()));
    return {result, Bytes(dest.get(), dest.get() + (result == COMPRESS_DONE ? size : 0))};
}

// Inputs that exercise literals of both code lengths, long runs, matches at
// the far end of the window and data with nothing to match.
std::vector<Bytes> sample_inputs() {
    std::vector<Bytes> inputs = {{}, bytes("a"), bytes("abcde"), bytes("aaaaaa"),
                                 bytes("hello hello hello hello")};
    inputs.push_back(Bytes(1000, 0xFF));
    Bytes text;
    for (int i = 0; i < 3000; i++) {
        std::string line = "line " + std::to_string(i % 97) + " of the sample, \xC3\xA9t\xC3\xA9\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    inputs.push_back(text);
    std::mt19937 rng(7);
    Bytes noise(70000);
    for (auto& b : noise) b = uint8_t(rng());
    // A copy of the start 32,760 bytes later: matches near the window's limit.
    std::copy(noise.begin(), noise.begin() + 500, noise.begin() + 32760);
    inputs.push_back(noise);
    return inputs;
}

// ---- DEFLATE ---------------------------------------------------------------------------------

TEST(Deflate, RoundTripsAndSizeProtocol) {
    for (const Bytes& in : sample_inputs()) {
        CodecRun packed = codec_run(deflate_compress, in);
        ASSERT_EQ(packed.result, COMPRESS_DONE) << in.size();
        CodecRun unpacked = codec_run(deflate_inflate, packed.out);
        ASSERT_EQ(unpacked.result, COMPRESS_DONE) << in.size();
        EXPECT_EQ(unpacked.out, in) << in.size();
        // One byte short: the full size is still reported, nothing is written past the end.
        if (packed.out.empty() || in.empty()) continue;
        uint32_t size = uint32_t(in.size()) - 1;
        Bytes dest(size);
        EXPECT_EQ(deflate_inflate(dest.data(), &size, packed.out.data(), uint32_t(packed.out.size())),
                  COMPRESS_DEST_SMALL);
        EXPECT_EQ(size, in.size());
        EXPECT_TRUE(std::equal(dest.begin(), dest.end(), in.begin()));
        size = uint32_t(packed.out.size()) - 1;
        Bytes cdest(size);
        EXPECT_EQ(deflate_compress(cdest.data(), &size, in.data(), uint32_t(in.size())), COMPRESS_DEST_SMALL);
        EXPECT_EQ(size, packed.out.size());
    }
}

TEST(Deflate, CompressorOutputShape) {
    EXPECT_EQ(codec_run(deflate_compress, {}).out, hex("0300"));
    // Up to five bytes are literals only: 3 header bits, 8 per literal below
    // 144, 7 for the end code, padded to a byte.
    for (size_t n = 1; n <= 5; n++) {
        Bytes in(n, 'a');
        EXPECT_EQ(codec_run(deflate_compress, in).out.size(), (3 + 8 * n + 7 + 7) / 8) << n;
    }
    // Six equal bytes: three literals, then one match of length 3.
    EXPECT_LT(codec_run(deflate_compress, Bytes(6, 'a')).out.size(), (3 + 8 * 6 + 7 + 7) / 8);
    // A long run uses matches of the longest length.
    EXPECT_LT(codec_run(deflate_compress, Bytes(100000, 'z')).out.size(), 1000u);
    uint32_t size = 0;
    EXPECT_EQ(deflate_compress(nullptr, &size, nullptr, 0), COMPRESS_DEST_SMALL);
    EXPECT_EQ(size, 2u);
}

// The first 290 bytes of a novel, packed by another encoder as stored and as
// dynamic-Huffman blocks.
const char* const NOVEL =
    "It is a truth universally acknowledged, that a single man in possession of a good fortune, "
    "must be in want of a wife. However little known the feelings or views of such a man may be "
    "on his first entering a neighbourhood, this truth is so well fixed in the minds of the "
    "surrounding families.";
const char* const NOVEL_DYNAMIC =
    "258f519242210c04af9203589e633d06caf0482d2fd92241f4f69be81f143dd3c3cd898d0af95cde69093f31"
    "ad8cf1a6f2f815dd03f540bd90f7e28119cb3140671162a13f358319ab90b6783d542b359dbe04173a9739dd"
    "91e02ee25f6473c3957e74234434d83dea5224a100356084c248273d19db3265ebd1239ad2b3bcb332843d66"
    "379ea1803866840211f0d1efba668f25393aa0efcfe2604a1b6344ea859aab5278b2d48f242fb6e6d4253"
    "5cb5a397930ecfa0f";

TEST(Deflate, InflatesForeignStreams) {
    Bytes novel = bytes(NOVEL);
    Bytes stored = hex("012201ddfe");
    stored.insert(stored.end(), novel.begin(), novel.end());
    for (const Bytes& stream : {stored, hex(NOVEL_DYNAMIC)}) {
        CodecRun r = codec_run(deflate_inflate, stream);
        EXPECT_EQ(r.result, COMPRESS_DONE);
        EXPECT_EQ(r.out, novel);
    }
    // Two blocks, the second referring back into the first: a non-final
    // stored "abc" then a final fixed block of a match (length 3, distance 3).
    CodecRun r = codec_run(deflate_inflate, hex("000300fcff616263" "032200"));
    EXPECT_EQ(r.result, COMPRESS_DONE);
    EXPECT_EQ(r.out, bytes("abcabc"));
}

TEST(Deflate, MalformedStreams) {
    Bytes dynamic = hex(NOVEL_DYNAMIC);
    struct Case {
        const char* what;
        Bytes stream;
        int32_t result;
    } cases[] = {
        {"stored block longer than the input", hex("010a00f5ff616263"), COMPRESS_STORED_PAST_INPUT},
        {"stored header cut short", hex("0105"), COMPRESS_STORED_PAST_INPUT},
        {"block type 3", hex("07"), COMPRESS_BAD_BLOCK_TYPE},
        {"distance before the output start", hex("030200"), COMPRESS_BAD_DISTANCE},
        {"no final block", hex("000300fcff616263"), COMPRESS_BAD_DATA},
        {"empty input", {}, COMPRESS_BAD_DATA},
        {"fixed block cut before its end code", hex("4b4c02"), COMPRESS_BAD_DATA},
        {"dynamic block cut short", Bytes(dynamic.begin(), dynamic.begin() + 100), COMPRESS_BAD_DATA},
        {"dynamic header cut short", Bytes(dynamic.begin(), dynamic.begin() + 3), COMPRESS_BAD_DATA},
        // Code-length code: all 19 lengths 1, more codes than one bit can hold.
        {"over-subscribed code", hex("05e09324499224499200"), COMPRESS_BAD_DATA},
        // Fixed block with length symbol 286 (8-bit code 11000110).
        {"undefined length symbol", hex("1b03"), COMPRESS_BAD_DATA},
        // LEN 3 with an NLEN that is not its complement (fcff would be).
        {"stored NLEN not LEN's complement", hex("010300fdff616263"), COMPRESS_BAD_DATA},
    };
    for (const Case& c : cases) {
        Bytes dest(16);
        uint32_t size = 16;
        EXPECT_EQ(deflate_inflate(dest.data(), &size, c.stream.data(), uint32_t(c.stream.size())), c.result)
            << c.what;
    }
    // Result 5 reports the bytes produced before the bad distance: literal
    // 'a' then length 3 at distance 2.
    Bytes stream = hex("4b044200");
    uint32_t size = 16;
    Bytes dest(16);
    EXPECT_EQ(deflate_inflate(dest.data(), &size, stream.data(), uint32_t(stream.size())), COMPRESS_BAD_DISTANCE);
    EXPECT_EQ(size, 1u);
}

// Every prefix of a valid stream, and every single-byte corruption of it, is
// decoded without a fault and within the destination.
TEST(Deflate, CorruptedStreamsStayInBounds) {
    Bytes dynamic = hex(NOVEL_DYNAMIC);
    for (size_t cut = 0; cut < dynamic.size(); cut++) {
        Bytes part(dynamic.begin(), dynamic.begin() + cut);
        EXPECT_NE(codec_run(deflate_inflate, part).result, COMPRESS_DONE) << cut;
    }
    for (size_t i = 0; i < dynamic.size(); i++) {
        for (uint8_t flip : {0x01, 0x10, 0x80}) {
            Bytes bad = dynamic;
            bad[i] ^= flip;
            codec_run(deflate_inflate, bad);
        }
    }
}

// ---- gzip and zlib ---------------------------------------------------------------------------

TEST(Framing, RoundTrips) {
    for (const Bytes& in : sample_inputs()) {
        for (auto codecs : {std::pair<Codec, Codec>{gzip_wrap, gzip_unwrap}, {zlib_wrap, zlib_unwrap}}) {
            CodecRun packed = codec_run(codecs.first, in);
            ASSERT_EQ(packed.result, COMPRESS_DONE);
            CodecRun unpacked = codec_run(codecs.second, packed.out);
            ASSERT_EQ(unpacked.result, COMPRESS_DONE) << in.size();
            EXPECT_EQ(unpacked.out, in);
        }
    }
    Bytes in = bytes("hello hello hello hello");
    EXPECT_EQ(codec_run(zlib_wrap, in).out, hex("7801cb48cdc9c957c02001680308b1"));
    EXPECT_EQ(codec_run(gzip_wrap, in).out, hex("1f8b0800000000000404cb48cdc9c957c02001e3513d8d17000000"));
}

TEST(Framing, WrapSizes) {
    Bytes in = bytes("hello hello hello hello");
    for (Codec wrap : {gzip_wrap, zlib_wrap}) {
        uint32_t need = 0;
        EXPECT_EQ(wrap(nullptr, &need, in.data(), uint32_t(in.size())), COMPRESS_DEST_SMALL);
        // Too small for the header, for the data, or for the trailer alone.
        for (uint32_t capacity : {0u, 5u, need - 6, need - 1}) {
            Bytes dest(capacity);
            uint32_t size = capacity;
            EXPECT_EQ(wrap(dest.data(), &size, in.data(), uint32_t(in.size())), COMPRESS_DEST_SMALL) << capacity;
            EXPECT_EQ(size, need) << capacity;
        }
    }
    // Data already gzip-framed is returned as it is.
    CodecRun framed = codec_run(gzip_wrap, in);
    EXPECT_EQ(codec_run(gzip_wrap, framed.out).out, framed.out);
    uint32_t size = 4;
    Bytes small(4);
    EXPECT_EQ(gzip_wrap(small.data(), &size, framed.out.data(), uint32_t(framed.out.size())), COMPRESS_DEST_SMALL);
    EXPECT_EQ(size, framed.out.size());
}

// A gzip member with the given flags and header fields around the data.
Bytes gzip_member(uint8_t flags, const Bytes& fields, const Bytes& data) {
    Bytes deflated = codec_run(deflate_compress, data).out;
    Bytes out = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
    out.insert(out.end(), fields.begin(), fields.end());
    out.insert(out.end(), deflated.begin(), deflated.end());
    uint32_t crc = checksum_crc32(data.data(), data.size());
    for (uint32_t v : {crc, uint32_t(data.size())})
        for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
    return out;
}

TEST(Framing, GzipHeaderFields) {
    Bytes data = bytes("payload payload");
    Bytes extra = hex("0300414243");       // FEXTRA: 3 bytes
    Bytes name = bytes(std::string("name.txt") + '\0');
    Bytes comment = bytes(std::string("note") + '\0');
    Bytes all = extra;
    all.insert(all.end(), name.begin(), name.end());
    all.insert(all.end(), comment.begin(), comment.end());
    Bytes with_crc = gzip_member(4 | 8 | 16 | 2 | 1, all, data);
    // The header CRC covers the 10 fixed bytes and the fields before it.
    size_t at = 10 + all.size();
    uint32_t crc16 = checksum_crc32(with_crc.data(), at) & 0xFFFF;
    with_crc.insert(with_crc.begin() + at, {uint8_t(crc16), uint8_t(crc16 >> 8)});
    // gzip_member put the deflate data right after the fields; the CRC now precedes it.
    CodecRun r = codec_run(gzip_unwrap, with_crc);
    EXPECT_EQ(r.result, COMPRESS_DONE);
    EXPECT_EQ(r.out, data);
    with_crc[at] ^= 1;
    EXPECT_EQ(codec_run(gzip_unwrap, with_crc).result, COMPRESS_BAD_DATA);

    struct Case {
        const char* what;
        Bytes member;
    } bad[] = {
        {"flag 32", gzip_member(32, {}, data)},
        {"FEXTRA longer than the data", gzip_member(4, hex("ff00"), data)},
        {"FNAME without NUL", hex("1f8b0808000000000003616263" "0000000000000000")},
        {"too short", hex("1f8b080000000000000303000000000000")},
        {"header and trailer without data", hex("1f8b08000000000000030000000000000000")},
        {"not gzip", hex("1f8c0800000000000003030000000000000000")},
        {"method 7", hex("1f8b0700000000000003030000000000000000")},
    };
    for (const Case& c : bad) EXPECT_EQ(codec_run(gzip_unwrap, c.member).result, COMPRESS_BAD_DATA) << c.what;
}

TEST(Framing, GzipTrailerChecks) {
    Bytes data(5000, 'q');
    Bytes member = codec_run(gzip_wrap, data).out;
    // A capacity below ISIZE reports ISIZE without decoding anything.
    Bytes dest(100, 0xAA);
    uint32_t size = 100;
    EXPECT_EQ(gzip_unwrap(dest.data(), &size, member.data(), uint32_t(member.size())), COMPRESS_DEST_SMALL);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(dest, Bytes(100, 0xAA));
    auto corrupt = [&](size_t from_end, uint8_t flip) {
        Bytes bad = member;
        bad[bad.size() - from_end] ^= flip;
        return codec_run(gzip_unwrap, bad).result;
    };
    EXPECT_EQ(corrupt(8, 1), COMPRESS_BAD_DATA);  // CRC-32
    EXPECT_EQ(corrupt(4, 1), COMPRESS_BAD_DATA);  // ISIZE one less than the data
    // An ISIZE the data could never expand to is refused before any allocation.
    EXPECT_EQ(corrupt(1, 0x80), COMPRESS_BAD_DATA);
}

// Runs gzip_unwrap as the natives do, growing the destination to the size
// each run asks for.
CodecRun gzip_unwrap_grown(const Bytes& in) {
    uint32_t capacity = 0;
    int32_t result = COMPRESS_DEST_SMALL;
    std::unique_ptr<uint8_t[]> dest;
    for (int run = 0; run < 3 && result == COMPRESS_DEST_SMALL; run++) {
        dest.reset(new uint8_t[capacity ? capacity : 1]);
        uint32_t size = capacity;
        result = gzip_unwrap(run ? dest.get() : nullptr, &size, in.data(), uint32_t(in.size()));
        capacity = size;
    }
    return {result, Bytes(dest.get(), dest.get() + (result == COMPRESS_DONE ? capacity : 0))};
}

TEST(Framing, GzipMembersFollowEachOther) {
    Bytes first = gzip_member(8, bytes(std::string("a.txt") + '\0'), Bytes(3000, 'a'));
    Bytes second = gzip_member(0, {}, bytes("tail"));
    Bytes empty = gzip_member(0, {}, {});
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    Bytes expected = Bytes(3000, 'a');
    expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
    struct Case {
        const char* what;
        Bytes stream;
        int32_t result;
    } cases[] = {
        {"two members", join({first, second}), COMPRESS_DONE},
        {"an empty member between", join({first, empty, second}), COMPRESS_DONE},
        {"zero padding after the last", join({first, second, Bytes(7, 0)}), COMPRESS_DONE},
        {"other bytes after the last", join({first, second, bytes("xyz")}), COMPRESS_BAD_DATA},
        {"a second member cut short", join({first, Bytes(second.begin(), second.end() - 3)}), COMPRESS_BAD_DATA},
    };
    for (const Case& c : cases) {
        CodecRun r = gzip_unwrap_grown(c.stream);
        EXPECT_EQ(r.result, c.result) << c.what;
        if (c.result == COMPRESS_DONE) {
            EXPECT_EQ(r.out, expected) << c.what;
        }
    }
    // Each member's own CRC-32 is checked.
    Bytes bad = join({first, second});
    bad[first.size() + second.size() - 8] ^= 1;
    EXPECT_EQ(gzip_unwrap_grown(bad).result, COMPRESS_BAD_DATA);
}

TEST(Framing, ZlibHeaderAndTrailer) {
    Bytes deflated = codec_run(deflate_compress, bytes("zz")).out;
    auto stream = [&](uint8_t cmf, uint8_t flg) {
        Bytes s = {cmf, flg};
        s.insert(s.end(), deflated.begin(), deflated.end());
        uint32_t adler = checksum_adler32(reinterpret_cast<const uint8_t*>("zz"), 2);
        for (int i = 3; i >= 0; i--) s.push_back(uint8_t(adler >> (8 * i)));
        return s;
    };
    struct Case {
        uint8_t cmf, flg;
        int32_t result;
    } cases[] = {
        {0x78, 0x01, COMPRESS_DONE}, {0x78, 0x9C, COMPRESS_DONE}, {0x78, 0xDA, COMPRESS_DONE},
        {0x08, 0x1D, COMPRESS_DONE},       // 256-byte window
        {0x78, 0x20, COMPRESS_BAD_DATA},   // preset dictionary
        {0x78, 0x02, COMPRESS_BAD_DATA},   // header check
        {0x87, 0x1B, COMPRESS_BAD_DATA},   // method 7
        {0x88, 0x18, COMPRESS_BAD_DATA},   // window field 8
    };
    for (const Case& c : cases) {
        CodecRun r = codec_run(zlib_unwrap, stream(c.cmf, c.flg));
        EXPECT_EQ(r.result, c.result) << std::hex << int(c.cmf) << ' ' << int(c.flg);
        if (c.result == COMPRESS_DONE) {
            EXPECT_EQ(r.out, bytes("zz"));
        }
    }
    Bytes bad = stream(0x78, 0x01);
    bad.back() ^= 1;
    EXPECT_EQ(codec_run(zlib_unwrap, bad).result, COMPRESS_BAD_DATA);
    EXPECT_EQ(codec_run(zlib_unwrap, hex("7801030000")).result, COMPRESS_BAD_DATA);
    // Errors of the inner stream come through unchanged.
    EXPECT_EQ(codec_run(zlib_unwrap, hex("78010700000001")).result, COMPRESS_BAD_BLOCK_TYPE);
}

// ---- LZ77 ------------------------------------------------------------------------------------

// Writes LZ77 items: fields least significant bit first, blocks byte-aligned.
struct LzWriter {
    Bytes area;
    uint32_t acc = 0, count = 0;

    void bits(uint32_t v, uint32_t n) {
        for (uint32_t i = 0; i < n; i++) {
            acc |= ((v >> i) & 1) << count;
            if (++count == 8) flush();
        }
    }
    void flush() {
        if (count) area.push_back(uint8_t(acc));
        acc = count = 0;
    }
    void block(uint32_t length) {
        flush();
        for (int i = 0; i < 4; i++) area.push_back(uint8_t(length >> (8 * i)));
    }
    void literal(uint8_t byte) { bits(0, 1); bits(byte, 8); }
    // A copy of length bytes starting back bytes behind the output position.
    void match(uint32_t length, uint32_t back) {
        bits(1, 1);
        uint32_t n = length - 3;
        static const struct { uint32_t bits, base, end; } ranges[6] = {
            {2, 0, 4}, {2, 4, 8}, {2, 8, 12}, {3, 12, 20}, {5, 20, 52}, {9, 52, 564},
        };
        uint32_t k = 0;
        while (n >= ranges[k].end) k++;
        bits(k < 5 ? 1u << k : 0, k < 5 ? k + 1 : 5);
        bits(n - ranges[k].base, ranges[k].bits);
        uint32_t b = back - 1;
        if (b < 8) {
            bits(0, 4);
            bits(b, 3);
        } else {
            uint32_t top = 31 - __builtin_clz(b);
            bits(top - 2, 4);
            bits(b - (1u << top), top);
        }
    }
    Bytes stream(uint32_t unpacked) {
        flush();
        Bytes out;
        for (uint32_t v : {uint32_t(area.size()), unpacked})
            for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
        out.insert(out.end(), area.begin(), area.end());
        return out;
    }
};

struct LzResult {
    bool ok;
    Bytes out;
};

LzResult lz_run(const Bytes& stream) {
    uint32_t size = 0;
    uint8_t* out = lz_decompress(stream.data(), uint32_t(stream.size()), &size);
    if (!out) return {false, {}};
    Bytes result(out, out + size);
    heap_free(out);
    return {true, result};
}

TEST(Lz77, DecodesEveryFieldForm) {
    // Matches of lengths in each range and distances of each form, built
    // over a varied prefix; the expected output is rebuilt alongside.
    LzWriter w;
    Bytes expected;
    for (uint32_t i = 0; i < 300; i++) {
        uint8_t byte = uint8_t(i * 37 + (i >> 3));
        expected.push_back(byte);
    }
    const uint32_t lengths[] = {3, 6, 7, 10, 11, 14, 15, 22, 23, 54, 55, 566};
    const uint32_t backs[] = {1, 8, 9, 16, 17, 200, 300};
    uint32_t total = 300;
    for (uint32_t l : lengths) total += l * (sizeof backs / sizeof backs[0]);
    w.block(total);
    for (uint8_t b : expected) w.literal(b);
    for (uint32_t l : lengths) {
        for (uint32_t back : backs) {
            w.match(l, back);
            size_t from = expected.size() - back;
            for (uint32_t i = 0; i < l; i++) expected.push_back(expected[from + i]);
        }
    }
    // A second block decodes on its own: an overlapping run of one byte.
    w.block(10);
    w.literal('x');
    w.match(9, 1);
    expected.insert(expected.end(), 10, 'x');
    LzResult r = lz_run(w.stream(uint32_t(expected.size())));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, expected);
    // An empty stream is empty output.
    r = lz_run(LzWriter().stream(0));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.out.empty());
}

TEST(Lz77, CorruptStreams) {
    auto one_block = [](uint32_t length, auto items, uint32_t unpacked) {
        LzWriter w;
        w.block(length);
        items(w);
        return w.stream(unpacked);
    };
    auto abc = [](LzWriter& w) { w.literal('a'); w.literal('b'); w.literal('c'); };
    Bytes good = one_block(3, abc, 3);
    ASSERT_TRUE(lz_run(good).ok);
    Bytes packed_too_big = good;
    packed_too_big[0] += 1;
    Bytes cut = good;
    cut.pop_back();
    Bytes cross_block;
    {
        LzWriter w;
        w.block(3);
        abc(w);
        w.block(3);
        w.match(3, 3);  // reaches into the previous block
        cross_block = w.stream(6);
    }
    struct Case {
        const char* what;
        Bytes stream;
    } cases[] = {
        {"shorter than its header", hex("0100")},
        {"packed size past the input", packed_too_big},
        {"items past the packed size", cut},
        {"block length 0", one_block(0, [](LzWriter&) {}, 0)},
        {"block length above 1 MB", one_block(LZ_BLOCK_MAX + 1, abc, 3)},
        {"block past the unpacked size and slack", one_block(12, abc, 3)},
        {"match before the block start", one_block(4, [](LzWriter& w) { w.literal('a'); w.match(3, 2); }, 4)},
        {"match past the block length", one_block(4, [](LzWriter& w) { w.literal('a'); w.match(4, 1); }, 4)},
        {"match into an earlier block", cross_block},
        {"block length cut short", hex("0200000000000000" "0100")},
        {"unpacked size the blocks cannot produce", one_block(3, abc, 0x7FFFFFFF)},
    };
    for (const Case& c : cases) EXPECT_FALSE(lz_run(c.stream).ok) << c.what;
}

TEST(Lz77, CorruptedStreamsStayInBounds) {
    LzWriter w;
    w.block(40);
    for (int i = 0; i < 8; i++) w.literal(uint8_t('a' + i));
    w.match(32, 8);
    Bytes good = w.stream(40);
    ASSERT_TRUE(lz_run(good).ok);
    for (size_t i = 0; i < good.size(); i++)
        for (uint8_t flip : {0x01, 0x08, 0x80}) {
            Bytes bad = good;
            bad[i] ^= flip;
            lz_run(bad);
        }
}

} // namespace
} // namespace kel
