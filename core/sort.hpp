// Generic sorts over arrays of fixed-width records, used by `sort` on blocks
// and strings. Both take the comparison as a function and never look inside
// the records.
//
// The comparator may raise a language error (a C++ exception): the sort then
// unwinds, its scratch memory is released and the array holds the same
// records as before, partly sorted.
//
// The records are addressed directly, so the array must not move while the
// sort runs: a comparator that evaluates code (and can therefore allocate and
// start a collection) must not be given records inside a series buffer.
#pragma once
#include <cstdint>

namespace kel {

// Compares two records: negative, 0 or positive for a before, equal to or
// after b. The two context words are passed through unchanged from the sort
// call (the callers put the comparison op, the record size, the /compare
// function or the /all flag there). During a stable sort one of the two
// addresses may lie in the sort's scratch buffer.
using SortCompare = int (*)(const void* a, const void* b, uintptr_t context1, uintptr_t context2);

// Exchanges two records of width bytes, 32 bits at a time when the width is a
// multiple of 4, else byte by byte.
void sort_swap(void* a, void* b, uint32_t width);

// Stable run-based merge sort: records that compare equal keep their order.
// Takes a scratch buffer of (count / 2) x width bytes from the general-purpose
// heap; raises script error `too-long` when that size does not fit in 32 bits.
void sort_stable(void* base, uint32_t count, uint32_t width,
                 uintptr_t context1, uintptr_t context2, SortCompare compare);

// Unstable in-place sample sort: faster, but equal records end in any order.
void sort_unstable(void* base, uint32_t count, uint32_t width,
                   uintptr_t context1, uintptr_t context2, SortCompare compare);

// A record of the keyed sorts: an integer key and a tag carried along.
struct SortKeyRecord {
    int32_t key;
    uint32_t tag;
};

// The two sorts for records ordered by key alone (greater keys first with
// reverse), compared in line. They run the same algorithms, so the records
// end in exactly the order sort_stable and sort_unstable give them under a
// comparator with the same answers.
void sort_stable_keys(SortKeyRecord* records, uint32_t count, bool reverse);
void sort_unstable_keys(SortKeyRecord* records, uint32_t count, bool reverse);

} // namespace kel
