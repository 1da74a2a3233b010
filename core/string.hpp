// String buffers: the character-level functions every module uses to read,
// build and compare text.
//
// A string value (string!, file!, url!, tag!, email!, ref!) is a series cell:
// word 1 the index in characters, word 2 the series node, word 3 the node of
// its conversion buffer or 0. The buffer's unit is the size of every character
// in it: 1 (Latin-1, 0..255), 2 (UCS-2, 0..0xFFFF) or 4 (any code point).
// A buffer only ever widens, the whole buffer at once and before the write;
// only string_ks_reset brings it back to unit 1.
//
// Writers take the string cell and return the buffer, which may have moved.
// Any writer can allocate, so the cell given to it must not lie in a series
// buffer: keep it on the data stack or in a CellRoot. A buffer address or a
// character address is valid only until the next allocation of a series.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

struct FindOptions;  // core/registry.hpp

// True for the string family, whose values hold characters.
inline bool string_family_q(uint8_t type) {
    constexpr uint64_t family = 1ull << T_STRING | 1ull << T_FILE | 1ull << T_URL | 1ull << T_TAG |
                                1ull << T_EMAIL | 1ull << T_REF;
    return type < 64 && (family >> type & 1);
}

// ---- reading and positions ------------------------------------------------------

// Characters from the position to the tail; a negative index counts as 0 and an
// index past the tail is written back as the buffer length (answering 0).
uint32_t string_ks_length_q(Cell* string);
// Address of the character at the position; an index past the tail is set to
// the tail.
uint8_t* string_ks_head(Cell* string);
uint8_t* string_ks_tail(const Cell* string);
bool string_ks_tail_q(const Cell* string);
// The code point at an absolute index from the buffer's head.
uint32_t string_ks_char_at(const Cell* string, uint32_t index);
// Whether the character at the position is a member of the bitset (false at
// the tail); code points beyond the stored bits answer the bitset's negation.
bool string_char_in_bitset_q(const Cell* string, const Cell* bitset);
// How many characters from an absolute index, before limit and at most max,
// are members of the bitset (the membership string_char_in_bitset_q tests).
uint32_t string_bitset_span(const Cell* string, uint32_t from, uint32_t limit, const Cell* bitset,
                            uint32_t max);
// string_bitset_span over the string's and the bitset's buffers, for a
// caller that holds them already (valid until the next allocation).
uint32_t string_buffer_bitset_span(SeriesBuffer* string, uint32_t from, uint32_t limit, SeriesBuffer* bitset,
                                   uint32_t max);
// The code point stored at an address of a buffer of the given unit; any unit
// but 1, 2 or 4 is a fatal runtime error.
uint32_t string_get_char(const uint8_t* at, uint32_t unit);
// Empties the buffer, sets unit 1 and the index 0.
void string_ks_reset(Cell* string);
// Sets the tail to head + count characters when that lies inside the capacity
// and below the current tail.
void string_ks_truncate(SeriesBuffer* buffer, uint32_t count);
// Index from the position of the first character equal to the code point; -1
// when absent.
int32_t string_ks_find_char(const Cell* string, uint32_t codepoint);
// True when the character at the position, or one a multiple of step after it,
// equals the code point; both are folded to one case unless case_ is set.
bool string_has_char_q(const Cell* string, uint32_t codepoint, uint32_t step, bool case_);
// True when the string at its position starts with the NUL-terminated byte
// text; a character above 255 never matches.
bool string_ks_match_text_q(const Cell* string, const char* text);
// True when the character at the position is "<" and the character one past
// the tag's length after it is ">".
bool string_tag_form_q(const Cell* string, const Cell* tag);

// ---- writing (each returns the buffer, which may have moved) --------------------

// Appends a code point at the tail; a unit-1 buffer widens for any code point
// above 127, so that unit-1 buffers built by appending stay ASCII.
SeriesBuffer* string_append_char(Cell* string, uint32_t codepoint);
// Writes a code point at an absolute character index; writing at the tail
// extends the tail by one character.
SeriesBuffer* string_poke_char(Cell* string, uint32_t index, uint32_t codepoint);
// Inserts a code point at an absolute character index, the rest moving up.
SeriesBuffer* string_insert_char(Cell* string, uint32_t index, uint32_t codepoint);
// Stores a code point at a byte offset from the buffer's head (the character
// index times the unit), widening the whole buffer first when its unit is too
// small; the offset is recomputed at the new unit. An offset at or past the
// tail appends, as string_poke_char does.
SeriesBuffer* string_write_char(Cell* string, uint32_t offset, uint32_t codepoint);
// Removes count characters at an absolute index, the rest moving down.
SeriesBuffer* string_remove_chars(Cell* string, uint32_t index, uint32_t count);
// Makes the count characters at an absolute index (clipped to the tail) take
// replacement characters' room, the rest moving once; the characters in that
// room are left for the caller to write.
SeriesBuffer* string_resize_span(Cell* string, uint32_t index, uint32_t count, uint32_t replacement);
// Appends every byte of a NUL-terminated text as a code point 0..255; an empty
// text appends nothing.
SeriesBuffer* string_concatenate_text(Cell* string, const char* text);
// Appends count bytes of text likewise; a count of 0 appends nothing.
SeriesBuffer* string_concatenate_bytes(Cell* string, const char* text, uint32_t count);
// Decodes UTF-8 text (held outside every series buffer) at the tail, widening
// as needed; invalid UTF-8 raises access error invalid-utf8. This is the
// appender of the lexer and of error forming.
SeriesBuffer* string_append_utf8(Cell* string, const uint8_t* text, uint32_t length);

// Modes of string_concatenate.
enum ConcatMode : int32_t { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };

// Joins the text of source (a string value from its position, or a symbol!
// cell whose cached string exists, as symbol_get leaves it) into target: appended, inserted at offset or written over from
// offset, at most part characters (part < 0: all). With keep_unit a narrower
// source is converted while copying; without it the source buffer itself is
// widened to the target's unit. Source and target may share a buffer.
SeriesBuffer* string_concatenate(Cell* target, const Cell* source, int32_t part, uint32_t offset,
                                 bool keep_unit, ConcatMode mode);
// Inserts count characters of origin (from its position) into target at its
// position, converting units one character at a time, then removes them from
// origin. The caller notifies owners.
void string_move_chars(Cell* origin, Cell* target, uint32_t count);

// ---- constructors -----------------------------------------------------------------

// An empty string! of unit 1 with room for capacity characters (at least 1),
// written into cell; returns the cell.
Cell* string_make_at(Cell* cell, uint32_t capacity);
Cell* string_make_at_unit(Cell* cell, uint32_t capacity, uint32_t unit);
// Pushes the string value (the same buffer and position) on the data stack.
Cell* string_push(const Cell* string);

// Encodings of string_load.
constexpr int32_t ENCODING_UTF8 = 0;
constexpr int32_t ENCODING_UTF16LE = -1;
// Bytes from the OS (a name, an argument, a variable): never fails, see
// load_os_text in core/unicode.hpp.
constexpr int32_t ENCODING_OS = 1;

// A new string! at index 0 decoded from byte text (held outside every series
// buffer), written into result or, when result is null, into a new stack
// slot. Any other encoding writes "*** Loading Error: input encoding
// unsupported" to standard output and ends the process with status 0.
Cell* string_load(const uint8_t* text, uint32_t length, int32_t encoding, Cell* result);
// The same, appended at the tail of a block; the cell is valid until the next
// allocation.
Cell* string_load_in(const uint8_t* text, uint32_t length, Node block, int32_t encoding);
Cell* string_load_push(const uint8_t* text, uint32_t length, int32_t encoding);

// ---- hexadecimal and number text --------------------------------------------------

// Two uppercase hexadecimal digits of a byte, NUL-terminated, in a static
// buffer that the next call overwrites.
const char* byte_to_hex(uint8_t byte);
// Eight uppercase hexadecimal digits of a 32-bit value; with trim the leading
// zeros are dropped, keeping at least two digits ("00" for 0). Static buffer.
const char* int_to_hex(uint32_t value, bool trim);
// The decimal text of count characters at start (unit 1, 2 or 4) read as a
// double; a character above 127 ends the number.
double string_span_to_float(const uint8_t* start, uint32_t count, uint32_t unit);

// ---- comparison kernels -------------------------------------------------------------

// Compares two strings (or symbol! cells with their cached string, read from
// index 0) by a
// CompareOp: -1, 0 or 1. Case is folded unless op is CMP_STRICT_EQUAL or
// CMP_SORT_CASE. In match mode (find) only the length of s2 is compared and 1
// means "no match".
int32_t string_compare_values(const Cell* s1, const Cell* s2, int32_t op, bool match);
// The characters of a string from its position (or of a symbol!'s name): the
// address of the first (valid until the next allocation), the unit and the count.
struct TextSpan {
    const uint8_t* start;
    uint32_t unit;
    uint32_t count;
};
// A buffer whose unit is no character unit: the runtime's error exit.
[[noreturn]] void string_unit_broken(const SeriesBuffer* buffer);
inline TextSpan string_span(const Cell* value) {
    SeriesBuffer* b = series_buffer(value->w2);
    uint32_t unit = b->unit();
    if (!(0x16u >> unit & 1)) string_unit_broken(b);  // units 1, 2 and 4 only
    uint32_t length = (b->tail - b->head) >> (unit >> 1);  // units 1, 2, 4: shifts 0, 1, 2
    int32_t index = cell_type(value) == T_SYMBOL ? 0 : int32_t(value->w1);
    uint32_t at = index < 0 ? 0 : uint32_t(index) > length ? length : uint32_t(index);
    return TextSpan{b->head_ptr() + (size_t(at) << (unit >> 1)), unit, length - at};
}
// Whether two spans hold the same text, case folded unless strict: what
// string_compare_values answers 0 for under CMP_EQUAL or CMP_STRICT_EQUAL.
bool text_equal_q(const TextSpan& a, const TextSpan& b, bool strict);
// True when value matches the string at its position: a string-family value
// by its text (a tag! as "<" text ">"), a char! by the one character.
bool string_match_at_q(const Cell* string, const Cell* value, int32_t op);

// Flags word of the sort kernels.
constexpr uintptr_t SORT_REVERSE = 1;
constexpr uintptr_t SORT_ALL = 2;
constexpr uint32_t SORT_FIELD_SHIFT = 2;  // field offset (or record size with SORT_ALL)
// Character kernels over records of characters of one unit: context1 is the
// case flag, context2 the flags word. Case is folded through core/casefold at
// every unit unless the case flag is set.
int string_sort_compare_1(const void* a, const void* b, uintptr_t case_, uintptr_t flags);
int string_sort_compare_2(const void* a, const void* b, uintptr_t case_, uintptr_t flags);
int string_sort_compare_4(const void* a, const void* b, uintptr_t case_, uintptr_t flags);
// Sorts count elements of a string or vector from an absolute index, in
// records of size elements, by a user function! comparator called with two
// elements (char! values or vector items) or, with all, two new series
// holding whole records; the second record is passed first unless reverse.
void string_sort_by_function(Cell* series, uint32_t index, uint32_t count, uint32_t size,
                             const Cell* function, bool all, bool reverse, bool stable);
// Float kernels for vector! items; an unordered pair compares equal. context1
// is unused, context2 the flags word.
int sort_compare_float32(const void* a, const void* b, uintptr_t unused, uintptr_t flags);
int sort_compare_float64(const void* a, const void* b, uintptr_t unused, uintptr_t flags);

// ---- mold support ------------------------------------------------------------------------

// Counts the double quotes and the line feeds from start to end at a unit.
void string_mold_scan(const uint8_t* start, const uint8_t* end, uint32_t unit, uint32_t* quotes,
                      uint32_t* lines);
// True when the "{" at `at` is closed by a matching "}" before end (nesting
// counted).
bool string_braces_balanced_q(const uint8_t* at, const uint8_t* end, uint32_t unit);
// Appends one character in molded form: a caret escape, "^(hex)", or itself.
// With all, every code point above 127 is written as "^(hex)".
SeriesBuffer* string_append_escaped_char(Cell* target, uint32_t codepoint, bool all);
// Appends the molded escape of one character (without the quotes), or the
// character itself when it needs none; returns the characters written.
int32_t char_append_escaped(Cell* target, int32_t codepoint, bool all);

// ---- actions (core/string_actions.cpp) ------------------------------------------------
// The string! action functions, also reached by the other string types. Each
// writes its result into its first argument cell; refinement argument
// pointers are null when the refinement was not given.

const Cell* string_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* string_to(Cell* proto, const Cell* spec, uint8_t type);
int32_t string_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
int32_t string_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                    int32_t budget, int32_t indent);
void string_eval_path(const Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                      bool case_, Cell* out);
int32_t string_compare(const Cell* value1, const Cell* value2, int32_t op);
const Cell* string_find(Cell* series, const Cell* value, const FindOptions& options);
const Cell* string_select(Cell* series, const Cell* value, const FindOptions& options);
void string_sort(Cell* series, bool case_, const Cell* skip, const Cell* compare, const Cell* part,
                 bool all, bool reverse, bool stable);
// append (append set: the series at its head) and insert (the series past the
// inserted text); part is the /part count, -1 when absent.
void string_insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup, bool append);
// part is the count of characters replaced, -1 when absent.
void string_change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
void string_swap(Cell* series1, const Cell* series2);
void string_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with);
// unique, union, intersect, exclude, difference (SetOp of core/block.hpp) over
// records of /skip characters; the new string (of a's type) replaces a.
void string_set_op(Cell* a, const Cell* b, bool case_, const Cell* skip, int32_t op);

// Registers string! (parent series!).
void init_string();

} // namespace kel
