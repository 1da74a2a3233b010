// Kelbin: the binary serialisation format of values. A stream starts with an
// eight-byte prefix ("KELBIN", a version byte, a flags byte) and a body of
// counts, an optional symbol table and a record area. Two variants share that
// layout: the compact one (varints, one-byte codes for small values) and the
// fixed-width one (every number a 32-bit little-endian word). This header
// holds the constants both the decoder and the encoder read.
#pragma once
#include <cstdint>

namespace kel {

constexpr char KELBIN_MAGIC[] = "KELBIN";
constexpr uint32_t KELBIN_MAGIC_SIZE = 6;
constexpr uint32_t KELBIN_PREFIX_SIZE = 8;  // magic, version, flags
constexpr uint8_t KELBIN_VERSION = 2;       // what the encoders write; readers ignore it

// Flags byte (offset 7); other bits are ignored.
constexpr uint8_t KELBIN_COMPACT = 0x01;     // clear: fixed-width variant
constexpr uint8_t KELBIN_COMPRESSED = 0x02;  // the body is one LZ77 stream
constexpr uint8_t KELBIN_SYMBOLS = 0x04;     // a symbol table precedes the records

// ---- compact records ---------------------------------------------------------------------

// Prefix bytes, in any number and order before a lead byte.
constexpr uint8_t KB_PREFIX_NEWLINE = 0xC0;    // the value starts a new line in its block
constexpr uint8_t KB_PREFIX_REFERENCE = 0xC1;  // content replaced by a path to its first holder
constexpr uint8_t KB_PREFIX_DEFINE = 0xC4;     // boot dialect: word definition

// Lead bytes at 0x80 and above.
constexpr uint8_t KB_SMALL_INTEGER = 0x80;  // 0x80-0xBF: integer! 0 to 63
constexpr uint8_t KB_TRUE = 0xC2;
constexpr uint8_t KB_FALSE = 0xC3;
constexpr uint8_t KB_PATH_COPY = 0xFF;      // a copy of the cell a path reaches

// A typed lead byte: the type in bits 0-5 (0x3F: a varint type follows),
// the record's variant flag in bit 6.
constexpr uint8_t KB_TYPE_MASK = 0x3F;
constexpr uint8_t KB_TYPE_EXTENDED = 0x3F;
constexpr uint8_t KB_FLAG = 0x40;

// Context flags byte.
constexpr uint8_t KB_CONTEXT_KIND = 0x03;      // context kind (cell header bits 11-12)
constexpr uint8_t KB_CONTEXT_ON_STACK = 0x04;  // values live on the data stack
constexpr uint8_t KB_CONTEXT_OBJECT = 0x08;    // header flag 0x1000000
constexpr uint8_t KB_CONTEXT_VALUES = 0x10;    // the values follow the words

// Paths of references hold 1 to this many steps.
constexpr uint32_t KB_PATH_MAX = 65536;

// Values nest at most this deep, one inside the other, in a stream: the
// encoder refuses deeper data and the decoder deeper streams (internal error
// too-deep), so what is written can always be read back within the data
// stack and the machine stack.
constexpr uint32_t KELBIN_DEPTH_MAX = 4096;

// Floats take the integer form within these bounds (float!, time!; percent!).
constexpr double KB_FLOAT_INT_LIMIT = 2147483000.0;
constexpr double KB_PERCENT_INT_LIMIT = 21474836.0;

// ---- fixed-width records ---------------------------------------------------------------------

// Record header word: the type id in bits 0-7 and these flags. A header word
// of 0 is padding.
constexpr uint32_t KBF_NEWLINE = 0x80000000;    // the cell's new-line flag
constexpr uint32_t KBF_REFERENCE = 0x80000;     // content replaced by a path
constexpr uint32_t KBF_UNIT_SHIFT = 8;          // strings, vector!: unit; tuple!: length
constexpr uint32_t KBF_OP_SHIFT = 16;           // op!: the inner type
constexpr uint32_t KBF_MONEY_NEGATIVE = 0x400000;
constexpr uint32_t KBF_BITSET_COMPLEMENT = 0x800000;
constexpr uint32_t KBF_HANDLERS = 0x1000000;    // object!: change-function indexes follow
constexpr uint32_t KBF_DEFINE = 0x2000000;      // words: definition (boot) / global (codec)
constexpr uint32_t KBF_PATH_MARK = 255;         // the word before a reference's path

// Context header word.
constexpr uint32_t KBF_CONTEXT_KIND_SHIFT = 26;  // kind in bits 26-27
constexpr uint32_t KBF_CONTEXT_OBJECT = 0x10000000;
constexpr uint32_t KBF_CONTEXT_ON_STACK = 0x20000000;
constexpr uint32_t KBF_CONTEXT_VALUES = 0x40000000;

// Names of the fixed variant's symbol table are padded to this many bytes.
constexpr uint32_t KBF_NAME_ALIGN = 8;

} // namespace kel
