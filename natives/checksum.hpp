// Checksums and digests over a byte buffer, the values behind the methods of
// the checksum native: CRC-32, Adler-32 and the TCP checksum computed here,
// MD5, SHA-1 and SHA-2 digests (and their HMAC) computed by libcrypto. The
// native converts strings to UTF-8 and reads files before it calls these.
#pragma once
#include "runtime/cell.hpp"
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kel {

// Method codes of the digest-capable methods (and of tcp and crc32).
enum ChecksumCode : int32_t {
    CHECKSUM_TCP = 0, CHECKSUM_CRC32 = 1, CHECKSUM_MD5 = 2, CHECKSUM_SHA1 = 3,
    CHECKSUM_SHA256 = 4, CHECKSUM_SHA384 = 5, CHECKSUM_SHA512 = 6,
};

// The method words, in the order checksum_init interns them.
enum ChecksumMethod : uint32_t {
    CHECKSUM_W_TCP, CHECKSUM_W_MD5, CHECKSUM_W_SHA1, CHECKSUM_W_CRC32, CHECKSUM_W_ADLER32,
    CHECKSUM_W_SHA256, CHECKSUM_W_SHA384, CHECKSUM_W_SHA512, CHECKSUM_W_HASH,
    CHECKSUM_METHOD_COUNT
};

// Room for the largest digest (SHA-512); size is the digest's own byte count,
// 0 when there is no digest.
constexpr uint32_t CHECKSUM_DIGEST_ROOM = 64;
struct ChecksumDigest {
    uint8_t bytes[CHECKSUM_DIGEST_ROOM];
    uint32_t size;
};

// Interns the nine method words; runs once during runtime initialisation,
// after the symbol table exists.
void checksum_init();

// The symbol id of a method word (0 before checksum_init).
uint32_t checksum_method_symbol(ChecksumMethod method);
// Whether the word (any word type) names one of the nine methods, ignoring case.
bool checksum_method_q(const Cell* word);
// The code of tcp, crc32, md5, sha1, sha256, sha384 or sha512; any other word
// raises script error invalid-arg with the word.
int32_t checksum_method_code(const Cell* word);
// Digest size in bytes of codes 2 to 6; 0 for other codes.
uint32_t checksum_digest_size(int32_t code);

// The 256 entries of the reflected CRC-32 table, built on first use.
const uint32_t* checksum_crc32_table();
// CRC-32 of IEEE 802.3 (the zlib, gzip and PNG one); 0 for no bytes.
uint32_t checksum_crc32(const uint8_t* bytes, size_t length);
// Adler-32 of RFC 1950; 1 for no bytes.
uint32_t checksum_adler32(const uint8_t* bytes, size_t length);
// The Internet (TCP) checksum of big-endian 16-bit words; an odd last byte is
// added as its own value. 0xFFFF for no bytes.
uint16_t checksum_tcp(const uint8_t* bytes, size_t length);

// The digest of codes 2 to 6 (md5 to sha512); another code raises script error
// invalid-arg with the code. A failure of libcrypto raises internal error
// not-here with the method word.
ChecksumDigest checksum_digest(const uint8_t* bytes, size_t length, int32_t code);

// HMAC (RFC 2104) of the message under the key with the digest of code 2 to 6.
ChecksumDigest checksum_hmac_digest(const uint8_t* message, size_t length, const uint8_t* key,
                                    size_t key_length, int32_t code);
// HMAC selected by method word. The methods crc32, tcp, hash and adler32 write
// "The selected algorithm doesn't support HMAC calculation" to standard output
// and give nothing.
std::optional<ChecksumDigest> checksum_hmac(const uint8_t* message, size_t length,
                                            const uint8_t* key, size_t key_length,
                                            const Cell* method);

} // namespace kel
