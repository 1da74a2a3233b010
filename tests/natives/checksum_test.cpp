// Checksums and digests against values computed by zlib, python3's hashlib
// and hmac, and the coreutils digest tools.
#include "natives/checksum.hpp"
#include "core/word.hpp"
#include "tests/core/symbol_fixture.hpp"
#include "tests/support/number_fixture.hpp"

#include <string>
#include <vector>

namespace kel::testing {
namespace {

struct ChecksumTest : RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        checksum_init();
    }
};

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string hex(const ChecksumDigest& d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint32_t i = 0; i < d.size; ++i) {
        out += digits[d.bytes[i] >> 4];
        out += digits[d.bytes[i] & 15];
    }
    return out;
}

Cell word_of(const char* text) {
    Cell w;
    word_make_at(&w, T_WORD, symbol_make(text));
    return w;
}

// 256 byte values repeated 40 times: longer than an Adler-32 run, every byte value.
std::string all_bytes() {
    std::string s;
    for (int r = 0; r < 40; ++r)
        for (int b = 0; b < 256; ++b) s += char(b);
    return s;
}

TEST_F(ChecksumTest, Crc32MatchesZlib) {
    EXPECT_EQ(int32_t(checksum_crc32(bytes_of("123456789"), 9)), -873187034);
    EXPECT_EQ(checksum_crc32(bytes_of("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(checksum_crc32(nullptr, 0), 0u);
    std::string data = all_bytes();
    EXPECT_EQ(checksum_crc32(bytes_of(data), data.size()), 3150855069u);
}

TEST_F(ChecksumTest, Adler32MatchesZlibAcrossRuns) {
    EXPECT_EQ(checksum_adler32(bytes_of("Wikipedia"), 9), 300286872u);
    EXPECT_EQ(checksum_adler32(nullptr, 0), 1u);
    std::string data = all_bytes();
    EXPECT_EQ(checksum_adler32(bytes_of(data), data.size()), 4101369118u);
    // All-0xFF bytes push both sums hardest between reductions.
    std::string ff(100000, '\xff');
    EXPECT_EQ(checksum_adler32(bytes_of(ff), ff.size()), 345649196u);
}

TEST_F(ChecksumTest, TcpChecksum) {
    struct Case { std::vector<uint8_t> bytes; uint16_t expected; };
    const Case cases[] = {
        {{}, 0xFFFF},
        {{0x00, 0x01}, 0xFFFE},
        {{0x01}, 0xFFFE},                               // odd last byte added as its own value
        {{0x45, 0x00, 0x00, 0x1C}, uint16_t(~0x451Cu)},
        {{0xFF, 0xFF, 0x00, 0x01}, 0xFFFE},             // end-around carry
    };
    for (const Case& c : cases)
        EXPECT_EQ(checksum_tcp(c.bytes.data(), c.bytes.size()), c.expected);
}

TEST_F(ChecksumTest, TcpChecksumKeepsCarriesOfLargeBuffers) {
    // 65,538 words of 0xFFFF sum past 32 bits; their one's-complement sum is
    // 0xFFFF, so the checksum is 0 only when no carry was lost.
    std::string ff(2 * 65538, '\xff');
    EXPECT_EQ(checksum_tcp(bytes_of(ff), ff.size()), 0);
    ff += '\x01';
    EXPECT_EQ(checksum_tcp(bytes_of(ff), ff.size()), 0xFFFE);
}

TEST_F(ChecksumTest, DigestsMatchCoreutils) {
    struct Case { int32_t code; const char* abc; };
    const Case cases[] = {
        {CHECKSUM_MD5, "900150983cd24fb0d6963f7d28e17f72"},
        {CHECKSUM_SHA1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {CHECKSUM_SHA256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {CHECKSUM_SHA384, "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
                          "8086072ba1e7cc2358baeca134c825a7"},
        {CHECKSUM_SHA512, "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                          "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases) {
        ChecksumDigest d = checksum_digest(bytes_of("abc"), 3, c.code);
        EXPECT_EQ(d.size, checksum_digest_size(c.code));
        EXPECT_EQ(hex(d), c.abc) << "code " << c.code;
    }
    EXPECT_EQ(hex(checksum_digest(nullptr, 0, CHECKSUM_SHA256)),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(ChecksumTest, DigestOfOtherCodesIsAnError) {
    for (int32_t code : {int32_t(CHECKSUM_TCP), int32_t(CHECKSUM_CRC32), 7, -1})
        expect_error(ErrorCategory::script, ERR_INVALID_ARG,
                     [&] { checksum_digest(bytes_of("abc"), 3, code); });
    EXPECT_EQ(checksum_digest_size(CHECKSUM_CRC32), 0u);
    EXPECT_EQ(checksum_digest_size(7), 0u);
}

TEST_F(ChecksumTest, HmacMatchesPython) {
    const std::string fox = "The quick brown fox jumps over the lazy dog";
    Cell sha256 = word_of("sha256"), sha384 = word_of("SHA384"), sha512 = word_of("sha512"),
         sha1 = word_of("sha1");
    auto d = checksum_hmac(bytes_of(fox), fox.size(), bytes_of("key"), 3, &sha256);
    ASSERT_TRUE(d);
    EXPECT_EQ(hex(*d), "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8");
    d = checksum_hmac(bytes_of(fox), fox.size(), bytes_of("key"), 3, &sha384);
    ASSERT_TRUE(d);
    EXPECT_EQ(hex(*d), "d7f4727e2c0b39ae0f1e40cc96f60242d5b7801841cea6fc592c5d3e1ae50700"
                       "582a96cf35e1e554995fe4e03381c237");
    // A 200-byte key is longer than SHA-512's 128-byte block.
    std::string long_key(200, 'k');
    d = checksum_hmac(bytes_of("msg"), 3, bytes_of(long_key), long_key.size(), &sha512);
    ASSERT_TRUE(d);
    EXPECT_EQ(hex(*d), "b5245971beb52a5a986812c4666a05c735bf5bb7aba32eae2192adad605df411"
                       "2d6c285d1c46cf81ccb7ab8c2c3b7b3c6793216909b5add05223ed21f24cdb1e");
    d = checksum_hmac(nullptr, 0, nullptr, 0, &sha1);
    ASSERT_TRUE(d);
    EXPECT_EQ(hex(*d), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

TEST_F(ChecksumTest, HmacLongKeyIsReplacedByItsDigest) {
    std::string key(100, '\x5a');
    ChecksumDigest key_digest = checksum_digest(bytes_of(key), key.size(), CHECKSUM_MD5);
    ChecksumDigest long_form =
        checksum_hmac_digest(bytes_of("data"), 4, bytes_of(key), key.size(), CHECKSUM_MD5);
    ChecksumDigest short_form =
        checksum_hmac_digest(bytes_of("data"), 4, key_digest.bytes, key_digest.size, CHECKSUM_MD5);
    EXPECT_EQ(hex(long_form), hex(short_form));
    EXPECT_EQ(long_form.size, 16u);
}

TEST_F(ChecksumTest, HmacOfChecksumMethodsIsRefused) {
    for (const char* name : {"crc32", "tcp", "hash", "adler32"}) {
        Cell method = word_of(name);
        ::testing::internal::CaptureStdout();
        auto d = checksum_hmac(bytes_of("m"), 1, bytes_of("k"), 1, &method);
        std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_FALSE(d) << name;
        EXPECT_EQ(out, "The selected algorithm doesn't support HMAC calculation\n");
    }
    Cell other = word_of("sha3");
    expect_error(ErrorCategory::script, ERR_INVALID_ARG,
                 [&] { checksum_hmac(bytes_of("m"), 1, bytes_of("k"), 1, &other); });
}

TEST_F(ChecksumTest, MethodWordsAndCodes) {
    struct Case { const char* name; int32_t code; };  // code -1: a method without a code
    const Case methods[] = {
        {"tcp", 0}, {"crc32", 1}, {"md5", 2}, {"sha1", 3}, {"sha256", 4}, {"sha384", 5},
        {"SHA512", 6}, {"adler32", -1}, {"hash", -1},
    };
    for (const Case& m : methods) {
        Cell w = word_of(m.name);
        EXPECT_TRUE(checksum_method_q(&w)) << m.name;
        if (m.code >= 0)
            EXPECT_EQ(checksum_method_code(&w), m.code) << m.name;
        else
            expect_error(ErrorCategory::script, ERR_INVALID_ARG, [&] { checksum_method_code(&w); });
    }
    Cell other = word_of("sha224");
    EXPECT_FALSE(checksum_method_q(&other));
    Cell not_a_word = integer(2);
    EXPECT_FALSE(checksum_method_q(&not_a_word));
    expect_error(ErrorCategory::script, ERR_INVALID_ARG, [&] { checksum_method_code(&other); });
}

} // namespace
} // namespace kel::testing
