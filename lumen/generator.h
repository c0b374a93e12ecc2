// The random numbers of the drawing tests: a small linear congruential generator per thread,
// values 0..32767, and the one seed counter every drawing call takes its seed from.
#pragma once

#include <cstdint>

namespace lumen {

struct Generator {
    uint32_t seed = 0;
    // seed := seed x 22695477 + 1; the value is bits 16..30 of the new seed.
    int Next() {
        seed = seed * 22695477u + 1u;
        return int((seed >> 16) & 0x7fffu);
    }
};

// The calling thread's generator.
Generator& ThreadGenerator();
// Seeds the calling thread's generator with the seed counter and advances the counter by one
// (one indivisible step, so every call of every thread takes a seed of its own).
void SeedThreadGenerator();
// The next value of the calling thread's generator.
int Rand();

}  // namespace lumen
