// Checksums computed here (CRC-32, Adler-32, TCP) and digests computed by
// libcrypto's EVP interface (MD5, SHA-1, SHA-256/384/512), with HMAC built on
// those digests. Buffers are plain bytes outside the series frames: nothing
// here allocates a series or evaluates.
#include "natives/checksum.hpp"
#include "core/error.hpp"
#include "core/symbol.hpp"
#include "core/word.hpp"
#include "datatypes/integer.hpp"
#include "runtime/platform/library_api.hpp"
#include "runtime/stdout.hpp"

#include <openssl/evp.h>

#include <cstring>
#include <memory>

namespace kel {

// Names of the method words, in ChecksumMethod order.
static const char* const checksum_method_names[CHECKSUM_METHOD_COUNT] = {
    "tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash",
};
// Symbol ids of the method words; 0 until checksum_init.
static uint32_t checksum_method_symbols[CHECKSUM_METHOD_COUNT];

// Code of each method word (ChecksumMethod order); -1 for the words that have
// no code (adler32, hash).
static const int32_t checksum_method_codes[CHECKSUM_METHOD_COUNT] = {
    CHECKSUM_TCP, CHECKSUM_MD5, CHECKSUM_SHA1, CHECKSUM_CRC32, -1,
    CHECKSUM_SHA256, CHECKSUM_SHA384, CHECKSUM_SHA512, -1,
};

// The reflected CRC-32 polynomial of IEEE 802.3.
constexpr uint32_t CRC32_POLYNOMIAL = 0xEDB88320u;
static uint32_t crc32_table[256];
static bool crc32_table_built = false;

// Largest run of Adler-32 bytes summed before both sums are reduced; well below
// the 5,552 at which s2 could pass 32 bits.
constexpr size_t ADLER32_RUN = 3854;
constexpr uint32_t ADLER32_MODULUS = 65521;

void checksum_init() {
    for (uint32_t i = 0; i < CHECKSUM_METHOD_COUNT; ++i)
        checksum_method_symbols[i] = symbol_make(checksum_method_names[i]);
}

uint32_t checksum_method_symbol(ChecksumMethod method) { return checksum_method_symbols[method]; }

// The method of a word, or CHECKSUM_METHOD_COUNT when it names none.
static uint32_t checksum_method_of(const Cell* word) {
    if (!word_type_q(cell_type(word))) return CHECKSUM_METHOD_COUNT;
    uint32_t symbol = symbol_resolve(word_symbol(word));
    for (uint32_t i = 0; i < CHECKSUM_METHOD_COUNT; ++i)
        if (checksum_method_symbols[i] != 0 && symbol_resolve(checksum_method_symbols[i]) == symbol)
            return i;
    return CHECKSUM_METHOD_COUNT;
}

bool checksum_method_q(const Cell* word) { return checksum_method_of(word) < CHECKSUM_METHOD_COUNT; }

int32_t checksum_method_code(const Cell* word) {
    uint32_t method = checksum_method_of(word);
    if (method == CHECKSUM_METHOD_COUNT || checksum_method_codes[method] < 0)
        error_raise(ERR_INVALID_ARG, word);
    return checksum_method_codes[method];
}

uint32_t checksum_digest_size(int32_t code) {
    switch (code) {
    case CHECKSUM_MD5: return 16;
    case CHECKSUM_SHA1: return 20;
    case CHECKSUM_SHA256: return 32;
    case CHECKSUM_SHA384: return 48;
    case CHECKSUM_SHA512: return 64;
    default: return 0;
    }
}

// ---- checksums computed here -------------------------------------------------------------

const uint32_t* checksum_crc32_table() {
    if (!crc32_table_built) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t entry = i;
            for (int bit = 0; bit < 8; ++bit)
                entry = (entry & 1) ? (entry >> 1) ^ CRC32_POLYNOMIAL : entry >> 1;
            crc32_table[i] = entry;
        }
        crc32_table_built = true;
    }
    return crc32_table;
}

uint32_t checksum_crc32(const uint8_t* bytes, size_t length) {
    const uint32_t* table = checksum_crc32_table();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) crc = (crc >> 8) ^ table[(crc ^ bytes[i]) & 0xFF];
    return ~crc;
}

uint32_t checksum_adler32(const uint8_t* bytes, size_t length) {
    uint32_t s1 = 1, s2 = 0;
    while (length > 0) {
        size_t run = length < ADLER32_RUN ? length : ADLER32_RUN;
        length -= run;
        for (; run >= 16; run -= 16) {
            for (int i = 0; i < 16; ++i) { s1 += bytes[i]; s2 += s1; }
            bytes += 16;
        }
        for (; run > 0; --run) { s1 += *bytes++; s2 += s1; }
        s1 %= ADLER32_MODULUS;
        s2 %= ADLER32_MODULUS;
    }
    return (s2 << 16) | s1;
}

uint16_t checksum_tcp(const uint8_t* bytes, size_t length) {
    // 64 bits hold the sum of any buffer the memory can hold, so no carry is
    // lost; folding until 16 bits remain gives the one's-complement sum.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (i < length) sum += bytes[i];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

// ---- digests through libcrypto ------------------------------------------------------------

// The method word of a digest code, for error reports.
static ChecksumMethod checksum_code_method(int32_t code) {
    switch (code) {
    case CHECKSUM_MD5: return CHECKSUM_W_MD5;
    case CHECKSUM_SHA1: return CHECKSUM_W_SHA1;
    case CHECKSUM_SHA256: return CHECKSUM_W_SHA256;
    case CHECKSUM_SHA384: return CHECKSUM_W_SHA384;
    default: return CHECKSUM_W_SHA512;
    }
}

// libcrypto is opened on the first digest, not at start.
#define LIBCRYPTO_API(X)                                                                           \
    X(EVP_md5) X(EVP_sha1) X(EVP_sha256) X(EVP_sha384) X(EVP_sha512) X(EVP_MD_CTX_new)             \
    X(EVP_MD_CTX_free) X(EVP_DigestInit_ex) X(EVP_DigestUpdate) X(EVP_DigestFinal_ex)
static struct {
    LIBCRYPTO_API(LIBRARY_API_SLOT)
    bool load(std::string* error) {
        const LibrarySymbol symbols[] = {LIBCRYPTO_API(LIBRARY_API_SYMBOL)};
        return library_api_load("libcrypto.so.3", symbols, std::size(symbols), error);
    }
} libcrypto;

static bool libcrypto_ready() {
    static const bool ready = [] {
        std::string error;
        return libcrypto.load(&error);
    }();
    return ready;
}

static const EVP_MD* checksum_evp_md(int32_t code) {
    switch (code) {
    case CHECKSUM_MD5: return libcrypto.EVP_md5();
    case CHECKSUM_SHA1: return libcrypto.EVP_sha1();
    case CHECKSUM_SHA256: return libcrypto.EVP_sha256();
    case CHECKSUM_SHA384: return libcrypto.EVP_sha384();
    case CHECKSUM_SHA512: return libcrypto.EVP_sha512();
    default: return nullptr;
    }
}

[[noreturn]] static void checksum_crypto_fail(int32_t code) {
    Cell word;
    word_make_at(&word, T_WORD, checksum_method_symbols[checksum_code_method(code)]);
    error_raise(ERR_NOT_HERE, &word);
}

// One contiguous piece of a digest's input.
struct DigestPiece {
    const uint8_t* bytes;
    size_t length;
};

// The digest of the pieces taken one after the other, so that HMAC needs no
// buffer joining its key block and message.
static ChecksumDigest checksum_digest_pieces(int32_t code, const DigestPiece* pieces, int count) {
    if (!libcrypto_ready()) checksum_crypto_fail(code);
    const EVP_MD* md = checksum_evp_md(code);
    if (md == nullptr) {
        Cell arg;
        cell_init(&arg, T_INTEGER);
        integer_make_at(&arg, code);
        error_raise(ERR_INVALID_ARG, &arg);
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(libcrypto.EVP_MD_CTX_new(), libcrypto.EVP_MD_CTX_free);
    if (!ctx || libcrypto.EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) checksum_crypto_fail(code);
    for (int i = 0; i < count; ++i)
        if (pieces[i].length > 0 &&
            libcrypto.EVP_DigestUpdate(ctx.get(), pieces[i].bytes, pieces[i].length) != 1)
            checksum_crypto_fail(code);
    ChecksumDigest digest{};
    unsigned int size = 0;
    if (libcrypto.EVP_DigestFinal_ex(ctx.get(), digest.bytes, &size) != 1 ||
        size != checksum_digest_size(code))
        checksum_crypto_fail(code);
    digest.size = size;
    return digest;
}

ChecksumDigest checksum_digest(const uint8_t* bytes, size_t length, int32_t code) {
    DigestPiece piece{bytes, length};
    return checksum_digest_pieces(code, &piece, 1);
}

// HMAC key block: 128 bytes for the SHA-384 and SHA-512 digests, 64 for the others.
static size_t checksum_hmac_block(int32_t code) {
    return code == CHECKSUM_SHA384 || code == CHECKSUM_SHA512 ? 128 : 64;
}

ChecksumDigest checksum_hmac_digest(const uint8_t* message, size_t length, const uint8_t* key,
                                    size_t key_length, int32_t code) {
    size_t block = checksum_hmac_block(code);
    uint8_t key_block[128] = {};
    if (key_length > block) {
        ChecksumDigest key_digest = checksum_digest(key, key_length, code);
        std::memcpy(key_block, key_digest.bytes, key_digest.size);
    } else if (key_length > 0) {
        std::memcpy(key_block, key, key_length);
    }
    uint8_t pad[128];
    for (size_t i = 0; i < block; ++i) pad[i] = key_block[i] ^ 0x36;
    DigestPiece inner_pieces[2] = {{pad, block}, {message, length}};
    ChecksumDigest inner = checksum_digest_pieces(code, inner_pieces, 2);
    for (size_t i = 0; i < block; ++i) pad[i] = key_block[i] ^ 0x5C;
    DigestPiece outer_pieces[2] = {{pad, block}, {inner.bytes, inner.size}};
    return checksum_digest_pieces(code, outer_pieces, 2);
}

std::optional<ChecksumDigest> checksum_hmac(const uint8_t* message, size_t length,
                                            const uint8_t* key, size_t key_length,
                                            const Cell* method) {
    switch (checksum_method_of(method)) {
    case CHECKSUM_W_CRC32:
    case CHECKSUM_W_TCP:
    case CHECKSUM_W_HASH:
    case CHECKSUM_W_ADLER32:
        stdout_write_c_string("The selected algorithm doesn't support HMAC calculation\n");
        return std::nullopt;
    default:
        return checksum_hmac_digest(message, length, key, key_length,
                                    checksum_method_code(method));
    }
}

} // namespace kel
