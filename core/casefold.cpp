#include "core/casefold.hpp"
#include "core/error.hpp"
#include "core/ownership.hpp"
#include "core/series.hpp"
#include "core/unicode.hpp"
#include "core/vocabulary.hpp"
#include "runtime/heap.hpp"
#include "runtime/memory.hpp"
#include "runtime/start.hpp"

#include <algorithm>
#include <cstring>

namespace kel {

#include "core/casefold_data.inc"

constexpr uint32_t BMP_SIZE = 0x10000;

uint32_t* case_upper_table = nullptr;
uint32_t* case_lower_table = nullptr;
uint32_t case_lower_latin1[256];

static uint32_t* case_table_new(const CasePair* pairs, uint32_t count) {
    auto* table = static_cast<uint32_t*>(heap_alloc_zeroed(BMP_SIZE * sizeof(uint32_t)));
    for (uint32_t i = 0; i < count; ++i)
        if (pairs[i].to != pairs[i].from) table[pairs[i].from] = pairs[i].to;
    return table;
}

void case_folding_init() {
    case_upper_table = case_table_new(case_upper_pairs, CASE_UPPER_COUNT);
    case_lower_table = case_table_new(case_lower_pairs, CASE_LOWER_COUNT);
    for (uint32_t c = 0; c < 256; c++) case_lower_latin1[c] = change_char_case(c, false);
}

// Supplementary planes: a binary search of the sorted list; outside the range
// of its first and last entries the code point is returned at once.
static uint32_t case_wide_lookup(const CasePair* pairs, uint32_t codepoint) {
    if (codepoint < pairs[0].from || codepoint > pairs[CASE_WIDE_COUNT - 1].from) return codepoint;
    const CasePair* end = pairs + CASE_WIDE_COUNT;
    const CasePair* p = std::lower_bound(pairs, end, codepoint,
                                         [](const CasePair& pair, uint32_t cp) { return pair.from < cp; });
    return p != end && p->from == codepoint ? p->to : codepoint;
}

uint32_t change_wide_char_case(uint32_t codepoint, bool upper) {
    return case_wide_lookup(upper ? case_upper_wide_pairs : case_lower_wide_pairs, codepoint);
}

// ---- strings ---------------------------------------------------------------------

template <typename T> static inline uint32_t char_at(const uint8_t* p) {
    T c;
    std::memcpy(&c, p, sizeof c);
    return c;
}

// The narrowest unit that holds every mapped character of a run.
template <typename T> static uint32_t case_run_unit(const uint8_t* p, uint32_t count, bool upper) {
    uint32_t widest = 0;
    for (uint32_t i = 0; i < count; ++i, p += sizeof(T))
        widest = std::max(widest, change_char_case(char_at<T>(p), upper));
    return codepoint_unit(widest);
}

template <typename T> static void case_run_change(uint8_t* p, uint32_t count, bool upper) {
    for (uint32_t i = 0; i < count; ++i, p += sizeof(T)) {
        T c = T(change_char_case(char_at<T>(p), upper));
        std::memcpy(p, &c, sizeof c);
    }
}

// Changes characters in place while their mappings fit the unit; answers
// how many it changed (count when all did).
template <typename T> static uint32_t case_run_fitting(uint8_t* p, uint32_t count, bool upper) {
    constexpr uint32_t largest = sizeof(T) == 1 ? 0xFF : sizeof(T) == 2 ? 0xFFFF : 0xFFFFFFFF;
    for (uint32_t i = 0; i < count; ++i, p += sizeof(T)) {
        uint32_t mapped = change_char_case(char_at<T>(p), upper);
        if (mapped > largest) return i;
        T c = T(mapped);
        std::memcpy(p, &c, sizeof c);
    }
    return count;
}

static uint32_t case_run_in_place(uint8_t* p, uint32_t count, uint32_t unit, bool upper) {
    switch (unit) {
    case 1: return case_run_fitting<uint8_t>(p, count, upper);
    case 2: return case_run_fitting<uint16_t>(p, count, upper);
    default: return case_run_fitting<uint32_t>(p, count, upper);
    }
}

static uint32_t case_unit(const uint8_t* p, uint32_t count, uint32_t unit, bool upper) {
    switch (unit) {
    case 1: return case_run_unit<uint8_t>(p, count, upper);
    case 2: return case_run_unit<uint16_t>(p, count, upper);
    default: return case_run_unit<uint32_t>(p, count, upper);
    }
}

static void case_change(uint8_t* p, uint32_t count, uint32_t unit, bool upper) {
    switch (unit) {
    case 1: case_run_change<uint8_t>(p, count, upper); break;
    case 2: case_run_change<uint16_t>(p, count, upper); break;
    default: case_run_change<uint32_t>(p, count, upper); break;
    }
}

Cell* change_string_case(Cell* value, const Cell* part, bool upper) {
    if (cell_type(value) == T_CHAR) {
        cell_set_int(value, int32_t(change_char_case(uint32_t(cell_int(value)), upper)));
        return value;
    }
    SeriesBuffer* b = series_buffer_of(value);
    uint32_t length = b->length();
    int32_t index = series_index(value);
    uint32_t at = index < 0 ? 0 : uint32_t(index) > length ? length : uint32_t(index);
    uint32_t count = length - at;
    if (part) {
        int64_t n;
        if (cell_type(part) == T_INTEGER)
            n = cell_int(part);
        else if (cell_type(part) == cell_type(value) && series_node(part) == series_node(value))
            n = int64_t(series_index(part)) - at;
        else
            error_raise(ERR_INVALID_REFINE_ARG, runtime_refinement(REF_PART), part);
        // A count past the tail stops at the tail.
        count = n < 0 ? 0 : uint64_t(n) < count ? uint32_t(n) : count;
    }
    if (count == 0) return value;
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) runtime_error_exit(RUNTIME_NO_SWITCH_MATCH, b);
    // Characters whose mapping fits the unit change in place at once; from
    // the first that does not, the rest is measured, the buffer widened and
    // the rest changed.
    uint32_t done = case_run_in_place(b->head_ptr() + at * unit, count, unit, upper);
    if (done < count) {
        uint32_t rest = at + done;
        uint32_t wanted = case_unit(b->head_ptr() + rest * unit, count - done, unit, upper);
        b = string_widen(b, wanted);
        unit = wanted;
        case_change(b->head_ptr() + rest * unit, count - done, unit, upper);
    }
    if (ownership_possible_q(value))
        series_notify(value, upper ? W_UPPERCASE : W_LOWERCASE, int32_t(at), int32_t(count));
    return value;
}

} // namespace kel
