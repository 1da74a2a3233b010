#include "core/sort.hpp"

#include "core/error.hpp"
#include "runtime/heap.hpp"

#include <algorithm>
#include <cstring>

namespace kel {

// Runs shorter than this are extended by insertion before merging.
constexpr uint32_t SORT_MIN_RUN = 24;

// Pending runs of the stable sort. The powers on the stack are distinct and at
// most 34 for a 32-bit count (1 plus the halvings of 2 x count), so the stack
// never holds more entries than this.
constexpr uint32_t SORT_STACK_SIZE = 40;

// Ranges of at most this many records are sorted by insertion.
constexpr uint32_t SORT_INSERTION_MAX = 7;

// Every this-many-th neighbour pair after the first run votes on the direction.
constexpr uint32_t SORT_PRESORT_STEP = 97;

// The nearly-sorted scan probes ahead by this many records and appends
// stretches of at least SORT_STRETCH_MIN records to the sorted prefix.
constexpr uint32_t SORT_PROBE_STEP = 10;
constexpr uint32_t SORT_STRETCH_MIN = 4;

// Without a usable sample, a range above SORT_SMALL_RANGE records first sorts
// a part of SORT_FIRST_PART records drawn from across it, which then serves
// as its sample.
constexpr uint32_t SORT_SMALL_RANGE = 511;
constexpr uint32_t SORT_FIRST_PART = 63;

// The records being sorted and the caller's comparison.
struct SortArray {
    uint8_t* base;
    uint32_t width;        // bytes per record
    uintptr_t context1, context2;
    SortCompare compare;

    uint8_t* at(uint32_t i) const { return base + size_t(i) * width; }
    int compare_at(const uint8_t* a, const uint8_t* b) const { return compare(a, b, context1, context2); }
    int cmp(uint32_t i, uint32_t j) const { return compare_at(at(i), at(j)); }
    void swap(uint32_t i, uint32_t j) const { sort_swap(at(i), at(j), width); }
};

// Keyed records ordered by their key alone, compared and exchanged in line.
// The algorithms below see only the answers of cmp, so they leave these in
// the same order as a SortArray whose comparator answers alike.
struct KeySortArray {
    uint8_t* base;
    bool reverse;
    static constexpr uint32_t width = sizeof(SortKeyRecord);

    uint8_t* at(uint32_t i) const { return base + size_t(i) * width; }
    int compare_at(const uint8_t* a, const uint8_t* b) const {
        int32_t x, y;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        if (reverse) std::swap(x, y);
        return (x > y) - (x < y);
    }
    int cmp(uint32_t i, uint32_t j) const { return compare_at(at(i), at(j)); }
    void swap(uint32_t i, uint32_t j) const {
        uint64_t x, y;
        std::memcpy(&x, at(i), 8);
        std::memcpy(&y, at(j), 8);
        std::memcpy(at(i), &y, 8);
        std::memcpy(at(j), &x, 8);
    }
};
static_assert(sizeof(SortKeyRecord) == 8, "key and tag");

void sort_swap(void* a, void* b, uint32_t width) {
    auto* p = static_cast<uint8_t*>(a);
    auto* q = static_cast<uint8_t*>(b);
    if (p == q) return;
    if ((width & 3) == 0) {
        for (uint32_t i = 0; i < width; i += 4) {
            uint32_t x, y;
            std::memcpy(&x, p + i, 4);
            std::memcpy(&y, q + i, 4);
            std::memcpy(p + i, &y, 4);
            std::memcpy(q + i, &x, 4);
        }
    } else {
        for (uint32_t i = 0; i < width; i++) std::swap(p[i], q[i]);
    }
}

template <class S>
static void sort_reverse(const S& s, uint32_t lo, uint32_t hi) {
    while (lo + 1 < hi) s.swap(lo++, --hi);
}

// Exchanges the k records at a with the k records at b (a + k <= b).
template <class S>
static void sort_swap_blocks(const S& s, uint32_t a, uint32_t b, uint32_t k) {
    for (uint32_t t = 0; t < k; t++) s.swap(a + t, b + t);
}

// Moves [mid, hi) in front of [lo, mid), keeping the order inside both.
template <class S>
static void sort_rotate(const S& s, uint32_t lo, uint32_t mid, uint32_t hi) {
    sort_reverse(s, lo, mid);
    sort_reverse(s, mid, hi);
    sort_reverse(s, lo, hi);
}

// Sorts [lo, hi) by insertion, given that [lo, from) is already sorted: each
// record moves back while its predecessor compares greater, so equal records
// keep their order.
template <class S>
static void sort_insert(const S& s, uint32_t lo, uint32_t from, uint32_t hi) {
    for (uint32_t i = from; i < hi; i++)
        for (uint32_t j = i; j > lo && s.cmp(j - 1, j) >= 1; j--) s.swap(j - 1, j);
}

// ---------------------------------------------------------------- stable sort

// The end of the run that starts at lo: a non-descending run, or a strictly
// descending one reversed in place (strictness keeps equal records in order),
// extended by insertion to SORT_MIN_RUN records or the end of the array.
template <class S>
static uint32_t sort_run_end(const S& s, uint32_t lo, uint32_t count) {
    uint32_t i = lo + 1;
    if (i >= count) return count;
    if (s.cmp(lo, i) < 1) {
        for (i++; i < count && s.cmp(i - 1, i) < 1; i++) {}
    } else {
        for (i++; i < count && s.cmp(i - 1, i) >= 1; i++) {}
        sort_reverse(s, lo, i);
    }
    uint32_t want = count - lo < SORT_MIN_RUN ? count : lo + SORT_MIN_RUN;
    if (i < want) {
        sort_insert(s, lo, i, want);
        i = want;
    }
    return i;
}

// Merges the adjacent sorted runs [lo, mid) and [mid, hi) through the scratch
// buffer, which holds the shorter run. Ties keep left records before right
// ones. If the comparator raises, the buffered records still unplaced are
// copied into the gap they left, so the array keeps every record.
template <class S>
static void sort_merge(const S& s, uint8_t* buffer, uint32_t lo, uint32_t mid, uint32_t hi) {
    size_t w = s.width;
    uint32_t left = mid - lo, right = hi - mid;
    if (right < left) {
        // From the back. Unplaced: left records [lo, i), buffered [0, j); the
        // gap [i, i + j) receives them.
        std::memcpy(buffer, s.at(mid), right * w);
        uint32_t i = mid, j = right;
        try {
            while (i > lo && j > 0) {
                uint8_t* dest = s.at(i + j - 1);
                uint8_t* r = buffer + (j - 1) * w;
                if (s.compare_at(s.at(i - 1), r) >= 1) {
                    std::memcpy(dest, s.at(i - 1), w);
                    i--;
                } else {
                    std::memcpy(dest, r, w);
                    j--;
                }
            }
        } catch (...) {
            std::memcpy(s.at(i), buffer, j * w);
            throw;
        }
        std::memcpy(s.at(i), buffer, j * w);
    } else {
        // From the front. Unplaced: buffered [b, left), right records [r, hi);
        // the gap [r - (left - b), r) receives the buffered ones.
        std::memcpy(buffer, s.at(lo), left * w);
        uint32_t b = 0, r = mid;
        try {
            while (b < left && r < hi) {
                uint8_t* dest = s.at(r - (left - b));
                uint8_t* l = buffer + b * w;
                if (s.compare_at(l, s.at(r)) < 1) {
                    std::memcpy(dest, l, w);
                    b++;
                } else {
                    std::memcpy(dest, s.at(r), w);
                    r++;
                }
            }
        } catch (...) {
            std::memcpy(s.at(r - (left - b)), buffer + b * w, (left - b) * w);
            throw;
        }
        std::memcpy(s.at(r - (left - b)), buffer + b * w, (left - b) * w);
    }
}

// The merge priority of the boundary between run A = [a, b) and run B = [b, c)
// in an array of n records: the depth of the first binary digit in which the
// two runs' midpoints, as fractions of n, differ. x and y are twice the
// midpoints, so both stay below 2n.
static uint32_t sort_boundary_power(uint64_t a, uint64_t b, uint64_t c, uint64_t n) {
    uint64_t x = a + b, y = b + c;
    uint32_t power = 1;
    while ((x >= n) == (y >= n)) {
        if (x >= n) {
            x -= n;
            y -= n;
        }
        x <<= 1;
        y <<= 1;
        power++;
    }
    return power;
}

// A heap block released when the sort ends, also by an error.
struct SortScratch {
    uint8_t* memory;
    explicit SortScratch(size_t size) : memory(static_cast<uint8_t*>(heap_alloc(size))) {
        if (!memory) error_raise(ERR_NO_MEMORY);
    }
    ~SortScratch() { heap_free(memory); }
    SortScratch(const SortScratch&) = delete;
    SortScratch& operator=(const SortScratch&) = delete;
};

struct SortPending {
    uint32_t start;  // first record of a run waiting to be merged
    uint32_t power;  // power of the boundary at the run's end
};

template <class S>
static void stable_sort(const S& s, uint32_t count) {
    uint64_t scratch_size = uint64_t(count / 2) * s.width;
    if (scratch_size > UINT32_MAX) error_raise(ERR_TOO_LONG);
    SortScratch scratch(scratch_size);

    SortPending stack[SORT_STACK_SIZE];
    uint32_t height = 0;
    uint32_t start = 0;
    uint32_t end = sort_run_end(s, 0, count);
    while (end < count) {
        uint32_t next_end = sort_run_end(s, end, count);
        uint32_t power = sort_boundary_power(start, end, next_end, count);
        while (height > 0 && stack[height - 1].power > power) {
            height--;
            sort_merge(s, scratch.memory, stack[height].start, start, end);
            start = stack[height].start;
        }
        stack[height++] = SortPending{start, power};
        start = end;
        end = next_end;
    }
    while (height > 0) {
        height--;
        sort_merge(s, scratch.memory, stack[height].start, start, count);
        start = stack[height].start;
    }
}

// -------------------------------------------------------------- unstable sort

// Exchanges the records [from, to) with records taken at even steps across
// [from, hi), so that a first part sorted on its own is a fair sample of the
// whole range.
template <class S>
static void sort_spread(const S& s, uint32_t from, uint32_t to, uint32_t hi) {
    uint32_t n = to - from;
    if (n == 0) return;
    uint32_t step = (hi - from) / n;
    for (uint32_t t = 0; t < n; t++) s.swap(from + t, from + t * step);
}

// Three-way partition of [pivot + 1, end) around the record at pivot:
// afterwards [pivot, *below_end) holds the smaller records, then come the
// records equal to the pivot (the pivot among them), and [*above_start, end)
// holds the larger ones. Equal records gather at both edges while scanning and
// are swapped into the middle at the end.
template <class S>
static void sort_three_way(const S& s, uint32_t pivot, uint32_t end,
                           uint32_t* below_end, uint32_t* above_start) {
    uint32_t a = pivot + 1, b = a;  // [pivot + 1, a) equal, [a, b) smaller
    uint32_t c = end, d = end;      // [c, d) larger, [d, end) equal
    for (;;) {
        int r;
        while (b < c && (r = s.cmp(b, pivot)) <= 0) {
            if (r == 0) s.swap(a++, b);
            b++;
        }
        while (b < c && (r = s.cmp(c - 1, pivot)) >= 0) {
            if (r == 0) s.swap(c - 1, --d);
            c--;
        }
        if (b >= c) break;
        s.swap(b++, --c);
    }
    uint32_t smaller = b - a, larger = d - b;
    uint32_t k = std::min(a - pivot, smaller);
    sort_swap_blocks(s, pivot, b - k, k);
    k = std::min(end - d, larger);
    sort_swap_blocks(s, b, end - k, k);
    *below_end = pivot + smaller;
    *above_start = end - larger;
}

// Puts the first, middle and last records of [lo, hi) in order and moves
// their median to lo.
template <class S>
static void sort_median_of_three(const S& s, uint32_t lo, uint32_t hi) {
    uint32_t a = lo, m = lo + (hi - lo) / 2, z = hi - 1;
    if (s.cmp(a, m) >= 1) s.swap(a, m);
    if (s.cmp(m, z) >= 1) {
        s.swap(m, z);
        if (s.cmp(a, m) >= 1) s.swap(a, m);
    }
    s.swap(lo, m);
}

// Sorts [lo, hi). A sorted sample of |sample| records stands at the front of
// the range (sample > 0) or at its end (sample < 0); its median is the pivot
// and its halves become the samples of the two parts. The smaller part is
// sorted by recursion and the larger by the loop, so the depth stays
// logarithmic whatever the pivots.
template <class S>
static void sort_partition(const S& s, uint32_t lo, uint32_t hi, int64_t sample) {
    while (hi - lo > SORT_INSERTION_MAX) {
        uint32_t n = hi - lo;
        uint32_t k = uint32_t(sample < 0 ? -sample : sample);
        if (k >= n) return;  // the sample is the whole range, already sorted

        uint32_t part_end = hi;  // end of the part partitioned in this pass
        uint32_t lower, upper;   // sizes of the sample halves beside the pivot
        if (k >= 3) {
            if (sample < 0) {
                if (2 * k <= n) sort_swap_blocks(s, lo, hi - k, k);
                else sort_rotate(s, lo, hi - k, hi);
            }
            if (uint64_t(k) * 256 <= n) {
                part_end = lo + 16 * k - 1;
                sort_spread(s, lo + k, part_end, hi);
            }
            lower = k / 2;
            upper = k - lower - 1;
            // The upper half goes to the end of the part; the pivot stays at lo + lower.
            uint32_t rest = part_end - (lo + k);
            if (rest >= upper) sort_swap_blocks(s, lo + lower + 1, part_end - upper, upper);
            else sort_rotate(s, lo + lower + 1, lo + k, part_end);
        } else {
            if (n > SORT_SMALL_RANGE) {
                part_end = lo + SORT_FIRST_PART;
                sort_spread(s, lo, part_end, hi);
            }
            sort_median_of_three(s, lo, part_end);
            lower = upper = 0;
        }

        uint32_t below_end, above_start;
        sort_three_way(s, lo + lower, part_end - upper, &below_end, &above_start);
        // The lower half of the sample now leads the part below, the upper
        // half ends the part above.

        if (part_end < hi) {
            // Only a first part was partitioned: sort it whole, then it is the
            // sample of the range.
            sort_partition(s, lo, below_end, lower);
            sort_partition(s, above_start, part_end, -int64_t(upper));
            sample = part_end - lo;
        } else if (below_end - lo <= part_end - above_start) {
            sort_partition(s, lo, below_end, lower);
            lo = above_start;
            sample = -int64_t(upper);
        } else {
            sort_partition(s, above_start, hi, -int64_t(upper));
            hi = below_end;
            sample = lower;
        }
    }
    sort_insert(s, lo, lo, hi);
}

// Lengthens the sorted prefix [0, prefix) (ascending when dir > 0, descending
// when dir < 0) with sorted stretches found by probing ahead every
// SORT_PROBE_STEP records. A stretch of at least SORT_STRETCH_MIN records is
// appended, by swapping it down behind the prefix, when its first record fits
// behind the prefix's last one, tolerating up to min(stretch / 2, prefix / 4)
// stray records: either the prefix's last records are given back to the
// unsorted part, or the stretch's first records are left out. Returns the new
// prefix length.
template <class S>
static uint32_t sort_lengthen_prefix(const S& s, uint32_t prefix, uint32_t count, int dir) {
    auto in_order = [&](uint32_t i, uint32_t j) {
        int r = s.cmp(i, j);
        return dir > 0 ? r <= 0 : r >= 0;
    };
    uint64_t scan = prefix;  // records before scan are in the prefix or already probed
    while (scan + SORT_PROBE_STEP < count) {
        uint32_t probe = uint32_t(scan + SORT_PROBE_STEP);
        uint32_t first = probe, end = probe + 1;
        while (first > scan && in_order(first - 1, first)) first--;
        while (end < count && in_order(end - 1, end)) end++;
        uint32_t length = end - first;
        if (length >= SORT_STRETCH_MIN) {
            uint32_t limit = std::min(length / 2, prefix / 4);
            uint32_t keep = prefix, skip = 0;
            bool fits = false;
            for (uint32_t t = 0; t <= limit && !fits; t++)
                if ((fits = in_order(prefix - 1 - t, first))) keep = prefix - t;
            for (uint32_t t = 1; t <= limit && !fits; t++)
                if ((fits = in_order(prefix - 1, first + t))) skip = t;
            if (fits) {
                uint32_t moved = length - skip;
                // Forward swaps: the destination never overtakes the source.
                sort_swap_blocks(s, keep, first + skip, moved);
                prefix = keep + moved;
            }
        }
        scan = end;
    }
    return prefix;
}

template <class S>
static void unstable_sort(const S& s, uint32_t count) {

    // The first run: the first unequal neighbours fix its direction.
    uint32_t i = 1;
    int r = 0;
    while (i < count && (r = s.cmp(i - 1, i)) == 0) i++;
    if (i == count) return;
    int dir = r < 0 ? 1 : -1;
    for (i++; i < count; i++) {
        r = s.cmp(i - 1, i);
        if (dir > 0 ? r > 0 : r < 0) break;
    }
    uint32_t prefix = i;

    if (prefix < count) {
        int64_t score = dir * int64_t(prefix);
        for (uint64_t k = uint64_t(prefix) + SORT_PRESORT_STEP; k < count; k += SORT_PRESORT_STEP) {
            r = s.cmp(uint32_t(k - 1), uint32_t(k));
            score += r < 0 ? 1 : r > 0 ? -1 : 0;
        }
        if ((score < 0 ? -score : score) > int64_t(count / 512)) {
            int want = score > 0 ? 1 : -1;
            if (want != dir) {
                // The prefix restarts with the run in the prevailing direction
                // that begins at the last record of the first run.
                dir = want;
                uint32_t from = prefix - 1, end = prefix;
                while (end < count) {
                    r = s.cmp(end - 1, end);
                    if (dir > 0 ? r > 0 : r < 0) break;
                    end++;
                }
                sort_rotate(s, 0, from, end);
                prefix = end - from;
            }
            prefix = sort_lengthen_prefix(s, prefix, count, dir);
        }
    }
    if (dir < 0) sort_reverse(s, 0, prefix);
    if (prefix < count) sort_partition(s, 0, count, prefix);
}

void sort_stable(void* base, uint32_t count, uint32_t width,
                 uintptr_t context1, uintptr_t context2, SortCompare compare) {
    if (count < 2 || width == 0) return;
    stable_sort(SortArray{static_cast<uint8_t*>(base), width, context1, context2, compare}, count);
}

void sort_unstable(void* base, uint32_t count, uint32_t width,
                   uintptr_t context1, uintptr_t context2, SortCompare compare) {
    if (count < 2 || width == 0) return;
    unstable_sort(SortArray{static_cast<uint8_t*>(base), width, context1, context2, compare}, count);
}

void sort_stable_keys(SortKeyRecord* records, uint32_t count, bool reverse) {
    if (count < 2) return;
    stable_sort(KeySortArray{reinterpret_cast<uint8_t*>(records), reverse}, count);
}

void sort_unstable_keys(SortKeyRecord* records, uint32_t count, bool reverse) {
    if (count < 2) return;
    unstable_sort(KeySortArray{reinterpret_cast<uint8_t*>(records), reverse}, count);
}

} // namespace kel
