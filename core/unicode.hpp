// Unicode codecs. Strings live in memory as Latin-1, UCS-2 or UCS-4 buffers
// (unit 1, 2 or 4 bytes a character); text is converted at the edges: UTF-8
// (files, the lexer, binary!, Kelbin) and NUL-terminated UTF-16LE where a
// format needs it. A string buffer only ever widens, the whole buffer at once.
//
// The first half works on plain byte and unit ranges and never allocates; the
// second half works on string values and series buffers. Every pointer these
// return into a series buffer (a conversion buffer, a string's data) is valid
// only until the next allocation of a series.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include "runtime/utf8.hpp"

namespace kel {

// ---- UTF-8 over byte ranges ------------------------------------------------

// Number of characters from start to end; each invalid byte counts as one.
uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end);

// The address n characters after start, never past end.
const uint8_t* utf8_skip_chars(const uint8_t* start, const uint8_t* end, uint32_t n);

// Length of the sequence a lead byte announces: 4 for 0xF0 and above, 3 for
// 0xE0-0xEF, 2 for 0xC0-0xDF, else 0.
uint32_t utf8_lead_size(uint8_t byte);

// Bytes of the UTF-8 form of a code point; above 0x10FFFF raises script error
// invalid-char.
uint32_t utf8_encoded_size(uint32_t codepoint);

// UTF-8 byte size of the code units from start to end (unit 1, 2 or 4); a
// surrogate unit of a UCS-2 buffer is measured as it stands (3 bytes).
uint32_t utf8_measure_units(const uint8_t* start, const uint8_t* end, uint32_t unit);

// Writes the 1 to 4 bytes of a code point; returns their count. Above
// 0x10FFFF raises script error invalid-char.
uint32_t utf8_encode_char(uint32_t codepoint, uint8_t* out);

// Writes the code point only when its whole sequence fits in budget bytes;
// returns the bytes written (0 when it does not fit).
uint32_t utf8_encode_char_limited(uint32_t codepoint, uint8_t* out, uint32_t budget);

// Strict decoding of one sequence of at most *length bytes. Returns the code
// point and sets *length to the sequence's size, or returns -1 when the bytes
// end inside the sequence (more input wanted). An invalid sequence (a stray
// continuation byte, a lead byte of 0xF8 and up, a missing continuation byte,
// an overlong form, a surrogate, a value above 0x10FFFF) raises access error
// invalid-utf8.
int32_t utf8_decode_char_checked(const uint8_t* bytes, uint32_t* length);

// Encodes count characters of unit 1, 2 or 4 as UTF-8 (each LF as CR LF when
// crlf is set); returns the bytes written. The output needs room for
// (unit + 1, or 4 for unit 4) bytes a character.
uint32_t utf8_encode_units(const uint8_t* src, uint32_t count, uint32_t unit, uint8_t* out, bool crlf);

// What decoding a run of UTF-8 bytes will produce; see utf8_scan.
struct Utf8Scan {
    uint32_t start;  // bytes of a skipped byte-order mark (0 or 3)
    uint32_t used;   // bytes from start that form whole sequences
    uint32_t rest;   // bytes at the end that begin an unfinished sequence
    uint32_t chars;  // characters the used bytes decode to
    uint32_t unit;   // the narrowest unit that holds them: 1, 2 or 4
};

// Validates UTF-8 bytes (strict decoding) without writing anything: a leading
// byte-order mark is skipped when at least 3 bytes are given; with crlf, CR LF
// counts as LF and a lone CR as LF. Raises access error invalid-utf8.
Utf8Scan utf8_scan(const uint8_t* bytes, uint32_t length, bool crlf);

// Writes the characters of bytes that utf8_scan accepted (from scan.start,
// scan.used of them) at the given unit; returns the characters written.
uint32_t utf8_decode_units(const uint8_t* bytes, const Utf8Scan& scan, uint8_t* out, uint32_t unit, bool crlf);

// ---- UTF-16LE over unit ranges ---------------------------------------------

// What decoding units UTF-16LE code units will produce.
struct Utf16Scan {
    uint32_t chars;  // characters after pairing surrogates and line-end handling
    uint32_t unit;   // 4 when a surrogate occurs, else 2 when a unit is above 255, else 1
};

// Scans UTF-16LE text given as bytes (two a unit, any alignment).
Utf16Scan utf16_scan(const uint8_t* text, uint32_t units, bool crlf);

// Writes the characters of UTF-16LE text at the given unit: a high surrogate
// followed by a low one becomes one character; an unpaired surrogate is kept as
// its own code point; with crlf, CR LF and a lone CR become LF. Returns the
// characters written.
uint32_t utf16_decode_units(const uint8_t* text, uint32_t units, uint8_t* out, uint32_t unit, bool crlf);

// UTF-16 units needed for count characters (each LF as CR LF with crlf),
// without the NUL; -1 when a character exceeds 0x10FFFF.
int64_t utf16_measure_units(const uint8_t* src, uint32_t count, uint32_t unit, bool crlf);

// Writes count characters as UTF-16 (characters above 0xFFFF as surrogate
// pairs, LF as CR LF with crlf) followed by a NUL unit; returns the units
// written without the NUL. Characters must not exceed 0x10FFFF.
uint32_t utf16_encode_units(const uint8_t* src, uint32_t count, uint32_t unit, uint16_t* out, bool crlf);

// Zero-extends each byte of a NUL-terminated text, then writes a NUL unit;
// returns the units written without the NUL.
uint32_t latin1_to_utf16(const uint8_t* text, uint16_t* out);

// ---- units -----------------------------------------------------------------

// Widens count characters stored at data from unit `from` to unit `to` in
// place, last to first; the memory must hold count x to bytes.
void units_widen(uint8_t* data, uint32_t count, uint32_t from, uint32_t to);

// The narrowest unit (1, 2 or 4) that holds a code point.
inline uint32_t codepoint_unit(uint32_t codepoint) {
    return codepoint <= 0xFF ? 1 : codepoint <= 0xFFFF ? 2 : 4;
}

// The value of an ASCII hexadecimal digit of either case, or -1.
inline int hex_digit_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// ---- string values and buffers ---------------------------------------------
// A string value (any of the string family) is a series cell: word 1 the index
// in characters, word 2 the node, word 3 the node of its conversion buffer or 0.
// Cells given to these functions must not lie in a series buffer (keep them on
// the data stack or in a root), since conversions allocate.

// The cell's conversion buffer with room for at least bytes, made or grown as
// needed; returns its data.
uint8_t* string_conversion_buffer(Cell* string, uint32_t bytes);

// UTF-8 of count characters from the position (-1: to the tail) in the
// conversion buffer, NUL-terminated; *count becomes the byte count.
const uint8_t* to_utf8(Cell* string, int32_t* count);
// The same, each LF written as CR LF when crlf is set.
const uint8_t* to_utf8_data(Cell* string, int32_t* count, bool crlf);

// UTF-8 of count characters from the position (-1: all) into caller memory,
// NUL-terminated when nul is set; returns the bytes without the NUL.
uint32_t string_to_utf8_into(const Cell* string, uint8_t* out, int32_t count, bool nul);
// The same, writing at most budget bytes (the NUL included) and only whole
// characters.
uint32_t string_to_utf8_limited(const Cell* string, uint8_t* out, uint32_t budget, int32_t count, bool nul);
// UTF-8 of a string value from its position to its tail, for text handed to
// C++ and C libraries: a lone surrogate is written as U+FFFD, NUL and LF stay
// as they are. Allocates no series memory, so the cell may lie anywhere.
std::string string_utf8(const Cell* string);

// Widens a string buffer in place to a wider unit (1 to 2, 1 to 4, 2 to 4),
// growing it first when it lacks room for one more character at the new unit.
// Returns the buffer, which may have moved.
SeriesBuffer* string_widen(SeriesBuffer* buffer, uint32_t unit);

// Decodes UTF-8 bytes held outside every series buffer, appending them at the
// tail of target (widened as needed) or, with target 0, into a new string
// buffer of the narrowest unit. Returns the string's node. When the bytes end
// inside a sequence, decoding stops there and *remainder receives the count of
// unread bytes; without a remainder slot that is an error (invalid-utf8). With
// crlf, CR LF and a lone CR become LF. A returned node, like any node id, is
// stale after the next allocation unless a root holds it.
Node load_utf8(const uint8_t* bytes, uint32_t length, Node target, uint32_t* remainder, bool crlf);
// The same for bytes held in a series buffer (a binary!): offset is counted in
// bytes from the source's head.
Node load_utf8_series(Node source, uint32_t offset, uint32_t length, Node target, uint32_t* remainder,
                      bool crlf);

// Decodes UTF-16LE units (two bytes each) appending at the tail of target or
// into a new string. The text is copied before anything is allocated, so it
// may lie in a series buffer; with text null the target's own data from its
// head is the text, and the decoded characters replace it.
Node load_utf16(const uint8_t* text, uint32_t units, Node target, bool crlf);

// Text to and from the OS (file names, arguments, environment, process
// output): bytes that are not UTF-8 are kept as the reserved characters of
// runtime/platform/os_text.hpp, so that any bytes come back as they were.
// Decodes bytes held outside every series buffer, appending at the tail of
// target or, with target 0, into a new string of the narrowest unit; returns
// the string's node. Never fails.
Node load_os_text(const uint8_t* bytes, uint32_t length, Node target);
// The OS bytes of count characters of a string from its position (-1: to the
// tail).
std::string os_text_of(const Cell* string, int32_t count);

// NUL-terminated UTF-16 of the whole value from its position, LF as CR LF.
const uint16_t* to_utf16(Cell* string);
// UTF-16 of count characters (-1: all) in the conversion buffer; *count
// becomes the units written. Null (no text) when a character exceeds 0x10FFFF.
const uint16_t* to_utf16_part(Cell* string, int32_t* count, bool crlf);

} // namespace kel
