#include "core/sort.hpp"
#include "core/error.hpp"
#include "runtime/heap.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace kel;

namespace {

// A record whose key is compared and whose sequence number tells the input
// order, so stability and record loss are both visible.
struct Rec {
    uint32_t key;
    uint32_t seq;
};

int compare_key(const void* a, const void* b, uintptr_t, uintptr_t) {
    uint32_t x = static_cast<const Rec*>(a)->key, y = static_cast<const Rec*>(b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}

using SortFn = void (*)(void*, uint32_t, uint32_t, uintptr_t, uintptr_t, SortCompare);

// Input shapes that reach the different paths: runs, presorted data with
// noise, heavy duplication, plain random data.
enum class Shape { random, few_keys, sorted, reverse, reverse_dups, sawtooth, organ_pipe,
                   equal, sorted_noise, reverse_noise, runs };

std::vector<Rec> make_records(Shape shape, uint32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Rec> v(n);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t k = 0;
        switch (shape) {
        case Shape::random: k = rng(); break;
        case Shape::few_keys: k = rng() % 5; break;
        case Shape::sorted: k = i; break;
        case Shape::reverse: k = n - i; break;
        case Shape::reverse_dups: k = (n - i) / 3; break;
        case Shape::sawtooth: k = i % 37; break;
        case Shape::organ_pipe: k = i < n / 2 ? i : n - i; break;
        case Shape::equal: k = 7; break;
        case Shape::sorted_noise: k = i * 4; break;
        case Shape::reverse_noise: k = (n - i) * 4; break;
        case Shape::runs: k = (i / 50) % 2 ? 100000 - i : i; break;
        }
        v[i] = Rec{k, i};
    }
    if ((shape == Shape::sorted_noise || shape == Shape::reverse_noise) && n > 1)
        for (uint32_t t = 0; t < n / 100 + 1; t++) std::swap(v[rng() % n], v[rng() % n]);
    if (shape == Shape::runs)
        for (uint32_t t = 0; t < n / 500; t++) v[rng() % n].key = rng() % 100000;
    return v;
}

const Shape ALL_SHAPES[] = {Shape::random, Shape::few_keys, Shape::sorted, Shape::reverse,
                            Shape::reverse_dups, Shape::sawtooth, Shape::organ_pipe, Shape::equal,
                            Shape::sorted_noise, Shape::reverse_noise, Shape::runs};
const uint32_t SIZES[] = {0, 1, 2, 3, 7, 8, 23, 24, 25, 48, 100, 511, 512, 700, 5000, 70000};

bool same_records(std::vector<Rec> a, std::vector<Rec> b) {
    auto by_seq = [](const Rec& x, const Rec& y) { return x.seq < y.seq; };
    std::sort(a.begin(), a.end(), by_seq);
    std::sort(b.begin(), b.end(), by_seq);
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](const Rec& x, const Rec& y) { return x.key == y.key && x.seq == y.seq; });
}

} // namespace

TEST(Sort, StableKeepsInputOrderOfEqualRecords) {
    for (Shape shape : ALL_SHAPES)
        for (uint32_t n : SIZES) {
            std::vector<Rec> v = make_records(shape, n, n * 31 + uint32_t(shape));
            std::vector<Rec> expect = v;
            std::stable_sort(expect.begin(), expect.end(),
                             [](const Rec& a, const Rec& b) { return a.key < b.key; });
            sort_stable(v.data(), n, sizeof(Rec), 0, 0, compare_key);
            for (uint32_t i = 0; i < n; i++) {
                ASSERT_EQ(v[i].key, expect[i].key) << "shape " << int(shape) << " n " << n << " at " << i;
                ASSERT_EQ(v[i].seq, expect[i].seq) << "shape " << int(shape) << " n " << n << " at " << i;
            }
        }
}

TEST(Sort, UnstableSortsEveryShapeAndKeepsEveryRecord) {
    for (Shape shape : ALL_SHAPES)
        for (uint32_t n : SIZES) {
            std::vector<Rec> v = make_records(shape, n, n * 17 + uint32_t(shape));
            std::vector<Rec> input = v;
            sort_unstable(v.data(), n, sizeof(Rec), 0, 0, compare_key);
            for (uint32_t i = 1; i < n; i++)
                ASSERT_LE(v[i - 1].key, v[i].key) << "shape " << int(shape) << " n " << n << " at " << i;
            ASSERT_TRUE(same_records(v, input)) << "shape " << int(shape) << " n " << n;
        }
}

namespace {

// Signed keys, descending when context1 is set: the answers the keyed sorts give.
int compare_signed(const void* a, const void* b, uintptr_t reverse, uintptr_t) {
    int32_t x = int32_t(static_cast<const Rec*>(a)->key), y = int32_t(static_cast<const Rec*>(b)->key);
    if (reverse) std::swap(x, y);
    return (x > y) - (x < y);
}

} // namespace

TEST(Sort, KeyedSortsLeaveTheOrderOfTheGeneralSorts) {
    for (bool stable : {false, true})
        for (bool reverse : {false, true})
            for (Shape shape : ALL_SHAPES)
                for (uint32_t n : SIZES) {
                    std::vector<Rec> v = make_records(shape, n, n * 13 + uint32_t(shape));
                    std::vector<SortKeyRecord> keyed(n);
                    for (uint32_t i = 0; i < n; i++) keyed[i] = SortKeyRecord{int32_t(v[i].key), v[i].seq};
                    SortFn general = stable ? sort_stable : sort_unstable;
                    general(v.data(), n, sizeof(Rec), reverse, 0, compare_signed);
                    (stable ? sort_stable_keys : sort_unstable_keys)(keyed.data(), n, reverse);
                    for (uint32_t i = 0; i < n; i++)
                        ASSERT_EQ(keyed[i].tag, v[i].seq) << "stable " << stable << " reverse " << reverse
                                                          << " shape " << int(shape) << " n " << n << " at " << i;
                }
}

namespace {

// Counts comparisons and notes whether any compared record lay outside the
// array (in the stable sort's scratch buffer, which only merges use).
struct Probe {
    const uint8_t* lo;
    const uint8_t* hi;
    uint32_t calls = 0;
    bool outside = false;
};

int compare_probe(const void* a, const void* b, uintptr_t context1, uintptr_t) {
    auto* p = reinterpret_cast<Probe*>(context1);
    p->calls++;
    for (const void* r : {a, b}) {
        auto* q = static_cast<const uint8_t*>(r);
        if (q < p->lo || q >= p->hi) p->outside = true;
    }
    return compare_key(a, b, 0, 0);
}

Probe run_probed(std::vector<Rec>& v) {
    Probe p{reinterpret_cast<uint8_t*>(v.data()), reinterpret_cast<uint8_t*>(v.data() + v.size())};
    sort_stable(v.data(), uint32_t(v.size()), sizeof(Rec), reinterpret_cast<uintptr_t>(&p), 0, compare_probe);
    return p;
}

} // namespace

TEST(Sort, StablePresortedInputIsOneRunWithoutMerges) {
    for (Shape shape : {Shape::sorted, Shape::reverse}) {
        std::vector<Rec> v = make_records(shape, 1000, 1);
        Probe p = run_probed(v);
        EXPECT_EQ(p.calls, 999u) << int(shape);
        EXPECT_FALSE(p.outside) << int(shape);
        EXPECT_EQ(v.front().key, shape == Shape::sorted ? 0u : 1u);
    }
}

TEST(Sort, StableShortArrayIsOneInsertionRun) {
    std::vector<Rec> v = make_records(Shape::random, 23, 5);
    EXPECT_FALSE(run_probed(v).outside);
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), [](const Rec& a, const Rec& b) { return a.key < b.key; }));
    // Two runs of random data do go through the scratch buffer.
    std::vector<Rec> w = make_records(Shape::random, 48, 5);
    EXPECT_TRUE(run_probed(w).outside);
}

TEST(Sort, RecordWidthsOtherThanWordMultiples) {
    // Width 1 (bytes), 3 (swapped byte by byte) and 16 (cells); the key is the first byte.
    auto compare_first_byte = [](const void* a, const void* b, uintptr_t, uintptr_t) {
        return int(*static_cast<const uint8_t*>(a)) - int(*static_cast<const uint8_t*>(b));
    };
    for (uint32_t width : {1u, 3u, 16u})
        for (SortFn sort : {SortFn(sort_stable), SortFn(sort_unstable)}) {
            const uint32_t n = 3000;
            std::vector<uint8_t> data(size_t(n) * width);
            std::mt19937 rng(width);
            for (uint32_t i = 0; i < n; i++) {
                data[size_t(i) * width] = uint8_t(rng());
                for (uint32_t j = 1; j < width; j++) data[size_t(i) * width + j] = uint8_t(i >> (8 * ((j - 1) % 2)));
            }
            std::vector<std::string> before;
            for (uint32_t i = 0; i < n; i++) before.emplace_back(reinterpret_cast<char*>(&data[size_t(i) * width]), width);
            sort(data.data(), n, width, 0, 0, compare_first_byte);
            std::vector<std::string> after;
            for (uint32_t i = 0; i < n; i++) after.emplace_back(reinterpret_cast<char*>(&data[size_t(i) * width]), width);
            for (uint32_t i = 1; i < n; i++) ASSERT_LE(uint8_t(after[i - 1][0]), uint8_t(after[i][0])) << width;
            std::sort(before.begin(), before.end());
            std::sort(after.begin(), after.end());
            EXPECT_EQ(before, after) << "records lost or altered, width " << width;
        }
}

TEST(Sort, ContextWordsReachTheComparator) {
    // context1 = 1 sorts descending, context2 is a key offset that must not change the order.
    auto compare = [](const void* a, const void* b, uintptr_t descending, uintptr_t offset) {
        uint32_t x = static_cast<const Rec*>(a)->key + uint32_t(offset);
        uint32_t y = static_cast<const Rec*>(b)->key + uint32_t(offset);
        int r = x < y ? -1 : x > y ? 1 : 0;
        return descending ? -r : r;
    };
    for (SortFn sort : {SortFn(sort_stable), SortFn(sort_unstable)}) {
        std::vector<Rec> v = make_records(Shape::random, 1000, 9);
        for (Rec& r : v) r.key %= 1000000;
        sort(v.data(), 1000, sizeof(Rec), 1, 5, compare);
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), [](const Rec& a, const Rec& b) { return a.key > b.key; }));
    }
}

namespace {

// Raises a language error at a chosen comparison.
struct Failing {
    uint32_t left;
};

int compare_failing(const void* a, const void* b, uintptr_t context1, uintptr_t) {
    auto* f = reinterpret_cast<Failing*>(context1);
    if (f->left-- == 0) error_raise(ERR_INVALID_ARG);
    return compare_key(a, b, 0, 0);
}

} // namespace

TEST(Sort, ComparatorErrorUnwindsKeepingEveryRecordAndFreeingScratch) {
    for (SortFn sort : {SortFn(sort_stable), SortFn(sort_unstable)})
        for (Shape shape : {Shape::random, Shape::few_keys, Shape::runs, Shape::sorted_noise})
            for (uint32_t at : {0u, 1u, 30u, 500u, 4000u, 20000u, 60000u}) {
                std::vector<Rec> v = make_records(shape, 6000, at);
                std::vector<Rec> input = v;
                size_t blocks = heap_block_count();
                Failing f{at};
                bool raised = false;
                try {
                    sort(v.data(), 6000, sizeof(Rec), reinterpret_cast<uintptr_t>(&f), 0, compare_failing);
                } catch (const LanguageError& e) {
                    raised = true;
                    EXPECT_EQ(e.code(), 309);
                }
                EXPECT_TRUE(raised || at >= 4000) << "error at comparison " << at << " not raised";
                EXPECT_EQ(heap_block_count(), blocks);
                EXPECT_TRUE(same_records(v, input)) << "records lost, error at comparison " << at;
            }
}

TEST(Sort, InconsistentComparatorStaysInBoundsAndKeepsRecords) {
    auto compare_random = [](const void*, const void*, uintptr_t context1, uintptr_t) {
        auto* rng = reinterpret_cast<std::mt19937*>(context1);
        return int((*rng)() % 3) - 1;
    };
    for (SortFn sort : {SortFn(sort_stable), SortFn(sort_unstable)})
        for (uint32_t n : {5u, 30u, 600u, 20000u}) {
            std::vector<Rec> v = make_records(Shape::random, n, n);
            std::vector<Rec> input = v;
            std::mt19937 rng(n);
            sort(v.data(), n, sizeof(Rec), reinterpret_cast<uintptr_t>(&rng), 0, compare_random);
            EXPECT_TRUE(same_records(v, input)) << n;
        }
}

TEST(Sort, StableScratchBeyond32BitsIsTooLong) {
    // Checked before any record is touched, so no array is needed.
    try {
        sort_stable(nullptr, 0x80000000u, 4, 0, 0, compare_key);
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.category, ErrorCategory::script);
        EXPECT_EQ(e.id, ERR_TOO_LONG);
    }
}
