// MT19937 as its authors published it (all arithmetic unsigned 32-bit), the
// secure source read from the kernel, and uniform draws in a range by
// rejection sampling.
#include "runtime/random.hpp"
#include "runtime/raise.hpp"
#include "runtime/platform/platform.hpp"

#include <climits>
#include <cstring>

namespace kel {

constexpr uint32_t MT_WORDS = 624;           // words of generator state
constexpr uint32_t MT_SHIFT = 397;           // distance of the word mixed in at regeneration
constexpr uint32_t MT_MATRIX = 0x9908B0DFu;  // twist matrix, applied when y is odd
constexpr uint32_t MT_UPPER = 0x80000000u;   // the bit taken from state[i]
constexpr uint32_t MT_LOWER = 0x7FFFFFFFu;   // the bits taken from state[i + 1]

// Generator state; mt_index is the next word to hand out, MT_WORDS when the
// state must be regenerated first, and above MT_WORDS until the first seeding.
static uint32_t mt_state[MT_WORDS];
static uint32_t mt_index = MT_WORDS + 1;

void random_init() { random_mt_seed(RANDOM_START_SEED); }

void random_mt_seed(uint32_t seed) {
    mt_state[0] = seed;
    for (uint32_t i = 1; i < MT_WORDS; ++i)
        mt_state[i] = 1812433253u * (mt_state[i - 1] ^ (mt_state[i - 1] >> 30)) + i;
    mt_index = MT_WORDS;
}

static void random_mt_regenerate() {
    for (uint32_t i = 0; i < MT_WORDS; ++i) {
        uint32_t y = (mt_state[i] & MT_UPPER) | (mt_state[(i + 1) % MT_WORDS] & MT_LOWER);
        mt_state[i] = mt_state[(i + MT_SHIFT) % MT_WORDS] ^ (y >> 1) ^ ((y & 1) ? MT_MATRIX : 0);
    }
    mt_index = 0;
}

uint32_t random_mt_next() {
    if (mt_index > MT_WORDS) random_init();
    if (mt_index == MT_WORDS) random_mt_regenerate();
    uint32_t y = mt_state[mt_index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}

int32_t random_secure_int() {
    uint32_t value;
    if (!secure_random_fill(&value, sizeof value)) error_raise(ERR_FEATURE_NA);
    return int32_t(value & 0x7FFFFFFFu);
}

// 31 uniform bits from the chosen source.
static uint32_t random_bits31(bool secure) {
    return secure ? uint32_t(random_secure_int()) : random_mt_next() & 0x7FFFFFFFu;
}

int32_t random_in_range(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return int32_t(-1 - int64_t(random_bits31(secure)));
    bool negative = n < 0;
    uint32_t range = uint32_t(negative ? -n : n);
    // The draws below limit are a whole number of copies of 0 to range - 1,
    // so every result is equally likely.
    uint32_t limit = (uint32_t(INT32_MAX) / range) * range;
    uint32_t v;
    do v = random_bits31(secure); while (v >= limit);
    int32_t result = int32_t(v % range) + 1;
    return negative ? -result : result;
}

} // namespace kel
