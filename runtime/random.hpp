// The process-wide pseudo-random generator (MT19937, 32-bit) behind every
// random action, and the secure source behind random/secure (the operating
// system's random bytes).
#pragma once
#include <cstdint>

namespace kel {

// Seed the generator starts with.
constexpr uint32_t RANDOM_START_SEED = 19650218u;

// Seeds the generator with RANDOM_START_SEED; runs once during runtime
// initialisation.
void random_init();
// Reseeds the generator; the next draw regenerates the whole state first.
void random_mt_seed(uint32_t seed);
// The next 32-bit output of the generator.
uint32_t random_mt_next();
// 31 random bits from the operating system's secure source. A failure of the
// source raises internal error feature-na.
int32_t random_secure_int();
// A uniform draw from 1 to n for n > 0, from -n to -1 for n < 0 (any 32-bit
// value for the smallest integer), 0 for n = 0; secure takes the bits from
// the secure source instead of the generator.
int32_t random_in_range(bool secure, int32_t n);

} // namespace kel
