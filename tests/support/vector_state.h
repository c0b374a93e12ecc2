// The processor's upper vector state as the hardware reports it, for the tests that every timed
// pass starts with it clean: whether the upper halves of the 256-bit registers are in use
// (XGETBV with ECX = 1, bit 2), and a way to put them in use as drawing code does.
#pragma once

#include <cstdint>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace kt {

// True where the processor has AVX and can tell which register state is in use.
inline bool CanReadVectorState() {
#if defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__builtin_cpu_supports("avx") || !__get_cpuid_count(0xD, 1, &a, &b, &c, &d)) return false;
    return (a & (1u << 2)) != 0;
#else
    return false;
#endif
}

// True while the upper halves of the 256-bit registers are in use (only where CanReadVectorState).
inline bool UpperVectorStateInUse() {
#if defined(__x86_64__)
    uint32_t lo = 0, hi = 0;
    asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
    return (lo & (1u << 2)) != 0;
#else
    return false;
#endif
}

// Puts the upper halves in use: all ones in ymm15 (only where CanReadVectorState).
inline void DirtyUpperVectorState() {
#if defined(__x86_64__)
    asm volatile("vcmpps $15, %%ymm15, %%ymm15, %%ymm15" ::: "xmm15");
#endif
}

}  // namespace kt
