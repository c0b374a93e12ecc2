// The memory test's sequential 8-byte loops beside the C library on the same buffers: test 2
// (8-byte move) beside memcpy and test 1 (8-byte copy) beside memset, each pass moving the
// buffer size of the memory level, as the test counts it.
//
//   bench_memory [level 0..6] [passes]     (default: every level, 100 passes)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kestrel/engine/memory_loops.h"
#include "platform/clock.h"
#include "shared/helpers.h"

namespace {

template <class Pass>
double Seconds(int passes, const Pass& pass) {
    pass();  // pages touched and caches warm before the clock starts
    int64_t t1 = 0, t2 = 0;
    kp::QueryCounter(&t1);
    for (int i = 0; i < passes; ++i) pass();
    kp::QueryCounter(&t2);
    return double(t2 - t1) / double(kp::kCounterFrequency);
}

double GBps(double bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e9 : 0; }

void Compare(const char* ours, double ours_s, const char* library, double library_s, double bytes) {
    const double a = GBps(bytes, ours_s), b = GBps(bytes, library_s);
    std::printf("  %-22s %8.2f GB/s   %-7s %8.2f GB/s   ratio %.3f\n", ours, a, library, b,
                b > 0 ? a / b : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    int first = 0, last = 6;
    if (argc > 1) first = last = std::atoi(argv[1]);
    const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    if (first < 0 || last > 6) {
        std::fprintf(stderr, "usage: bench_memory [level 0..6] [passes]\n");
        return 2;
    }
    for (int level = first; level <= last; ++level) {
        const size_t size = size_t(1048576) << level;
        int error = 0;
        auto* source = static_cast<double*>(AllocateMemory(size, &error));
        auto* dest = static_cast<double*>(AllocateMemory(size, &error));
        if (source == nullptr || dest == nullptr) {
            std::fprintf(stderr, "no memory for %zu bytes\n", size);
            return 1;
        }
        const long n = long(size / 8);
        const double bytes = double(size) * passes;
        std::printf("level %d: %zu MB buffers, %d passes of %zu bytes\n", level, size >> 20, passes, size);

        const double move = Seconds(passes, [&] { MemMove8(dest, source, n); });
        const double copy = Seconds(passes, [&] {
            std::memcpy(dest, source, size);
            asm volatile("" : : "r"(dest) : "memory");
        });
        Compare("test 2 (8-byte move)", move, "memcpy", copy, bytes);

        const double fill = Seconds(passes, [&] { MemCopy8(source, n); });
        const double set = Seconds(passes, [&] {
            std::memset(source, 'a', size);
            asm volatile("" : : "r"(source) : "memory");
        });
        Compare("test 1 (8-byte copy)", fill, "memset", set, bytes);

        PublishChecksum(dest[n - 1] + source[n / 2]);
        FreeMemory(source, &error);
        FreeMemory(dest, &error);
    }
    return 0;
}
