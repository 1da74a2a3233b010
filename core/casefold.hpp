// Case folding: upper- and lower-case mapping of single code points and of
// strings, for case-insensitive comparison and hashing of text and for the
// natives uppercase and lowercase. The mappings are one-to-one simple case
// mappings; a character whose case form needs several code points keeps itself.
#pragma once
#include <cstdint>
#include "runtime/cell.hpp"

namespace kel {

// One mapping of a sorted pair list.
struct CasePair {
    uint32_t from;
    uint32_t to;
};

// Pair lists of the Basic Multilingual Plane (copied into the direct tables at
// start) and of the supplementary planes (searched directly).
constexpr uint32_t CASE_UPPER_COUNT = 1250;
constexpr uint32_t CASE_LOWER_COUNT = 1158;
constexpr uint32_t CASE_WIDE_COUNT = 225;
extern const CasePair case_upper_pairs[CASE_UPPER_COUNT];
extern const CasePair case_lower_pairs[CASE_LOWER_COUNT];
extern const CasePair case_upper_wide_pairs[CASE_WIDE_COUNT];
extern const CasePair case_lower_wide_pairs[CASE_WIDE_COUNT];

// Allocates the two direct tables (65,536 entries of 32 bits each, from the
// general-purpose heap) and fills them from the pair lists. Called once at
// start, before any other function here.
void case_folding_init();

// Direct tables of the Basic Multilingual Plane: entry cp holds the mapped
// code point, 0 when cp maps to itself (filled by case_folding_init).
extern uint32_t* case_upper_table;
extern uint32_t* case_lower_table;
// The lower-case mapping of the first 256 code points with no hole (entry c
// is c itself when it has no mapping): the fold of one-byte text, read with
// one load per character (filled by case_folding_init).
extern uint32_t case_lower_latin1[256];

// change_char_case above the Basic Multilingual Plane.
uint32_t change_wide_char_case(uint32_t codepoint, bool upper);

// The code point mapped to upper case (upper set) or lower case, or the code
// point itself when it has no mapping.
inline uint32_t change_char_case(uint32_t codepoint, bool upper) {
    if (codepoint < 0x10000) {
        uint32_t mapped = (upper ? case_upper_table : case_lower_table)[codepoint];
        return mapped ? mapped : codepoint;
    }
    return change_wide_char_case(codepoint, upper);
}

// Changes a char! value, or the characters of a string from its position, in
// place. part is the /part argument or null: an integer! count, or a position
// in the same buffer of the same type (script error invalid-refine-arg
// otherwise); a negative count changes nothing and a count past the tail stops
// at the tail. The string widens when a mapped character does not fit its unit.
// Returns the value.
Cell* change_string_case(Cell* value, const Cell* part, bool upper);

} // namespace kel
