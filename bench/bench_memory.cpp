// The memory test's eight timed loops, each beside the same loop written plainly
// (memory_twins.cpp, built so that every access keeps the element's width) and, for the
// sequential tests, beside memcpy or memset. Every buffer is written before the first timing; the
// two sides of a comparison run pass by pass in turn (A B A B ...) on the same buffers, and each
// pair gives one ratio.
//
//   bench_memory [-p pairs] [MB ...]     (default: 21 pairs at 1, 4, 16 and 64 MB)
//
// The sizes are the memory test's buffer sizes; the patterned tests run on the size the test gives
// them (a quarter above 1 MB, at least 1 MB), with the test's index patterns over 100 passes.
//
// Each loop also runs clean and dirty, pass by pass: every pass starts after the clear of the
// upper vector state that the test makes before its passes, or after the upper halves of the
// 256-bit registers were put in use (as the drawing and library code run before a pass can leave
// them), so the figures show what the clear is worth.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/memory_twins.h"
#include "kestrel/engine/memory/memory_loops.h"
#include "kestrel/engine/memory/memory_test.h"
#include "platform/clock.h"
#include "shared/helpers.h"

namespace {

int64_t Now() {
    int64_t t = 0;
    kp::QueryCounter(&t);
    return t;
}

// The seconds of `reps` passes of a loop.
double Seconds(const std::function<void()>& pass, int reps) {
    const int64_t t1 = Now();
    for (int r = 0; r < reps; ++r) pass();
    const int64_t t2 = Now();
    return double(t2 - t1) / double(kp::kCounterFrequency);
}

struct Spread {
    double min = 0, median = 0, max = 0;
};

Spread SpreadOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

// A B A B ...: per pair the speed of a over the speed of b (b's time over a's time); also a's
// median rate in GB/s.
struct Pairing {
    Spread ratio;
    double a_gbps = 0;
    double b_gbps = 0;
};

Pairing Pair(const std::function<void()>& a, const std::function<void()>& b, int pairs, int reps,
             double bytes_per_pass) {
    a();  // caches and branch predictors settled
    b();
    std::vector<double> ratios, a_rates, b_rates;
    for (int p = 0; p < pairs; ++p) {
        const double ta = Seconds(a, reps);
        const double tb = Seconds(b, reps);
        ratios.push_back(tb / ta);
        a_rates.push_back(bytes_per_pass * reps / ta / 1e9);
        b_rates.push_back(bytes_per_pass * reps / tb / 1e9);
    }
    return {SpreadOf(ratios), SpreadOf(a_rates).median, SpreadOf(b_rates).median};
}

void* Take(int64_t size) {
    int error = 0;
    void* p = AllocateMemory(size_t(size), &error);
    if (p == nullptr) {
        std::fprintf(stderr, "no memory for %lld bytes\n", static_cast<long long>(size));
        std::exit(1);
    }
    std::memset(p, 0, size_t(size));  // every page written before anything is timed
    return p;
}

void Release(void* p) {
    int error = 0;
    FreeMemory(p, &error);
}

void Keep(void* p) { asm volatile("" : : "r"(p) : "memory"); }

// The upper halves of the 256-bit registers put in use (where the processor has AVX).
void DirtyUpperVectorState() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx")) asm volatile("vcmpps $15, %%ymm15, %%ymm15, %%ymm15" ::: "xmm15");
#endif
}

std::string Figures(const Spread& s) {
    char text[64];
    std::snprintf(text, sizeof text, "%5.3f %5.3f %5.3f", s.min, s.median, s.max);
    return text;
}

void RunSize(int64_t size, int pairs) {
    const int64_t patterned = PatternedSize(size);
    // Each timing covers at least 64 MB of passes, so short passes are not lost in the clock.
    const int reps_seq = int(std::max<int64_t>(1, (64 * kMegabyte) / size));
    const int reps_pat = int(std::max<int64_t>(1, (64 * kMegabyte) / patterned));

    auto* ds = static_cast<double*>(Take(size));
    auto* dd = static_cast<double*>(Take(size));
    auto* cs = static_cast<char*>(Take(size));
    auto* cd = static_cast<char*>(Take(size));
    // The index arrays as the test has them: index1 over doubles for tests 5 and 6 and over bytes
    // for tests 7 and 8, index2 over doubles (and zero beyond) for tests 6 and 8.
    auto* i1d = static_cast<uint32_t*>(Take(patterned));
    auto* i1b = static_cast<uint32_t*>(Take(patterned));
    auto* i2 = static_cast<uint32_t*>(Take(patterned));
    BuildDoublePattern(i1d, i2, patterned / 8);
    BuildBytePattern(i1b, patterned, 100);

    const long n8 = long(size / 8), n1 = long(size);
    const long p8 = long(patterned / 8), p1 = long(patterned);
    std::printf("%lld MB (patterned tests %lld MB), %d pairs of %d passes (patterned %d)\n",
                static_cast<long long>(size / kMegabyte), static_cast<long long>(patterned / kMegabyte),
                pairs, reps_seq, reps_pat);
    std::printf("  %-29s %7s   %-23s   %-30s   %s\n", "", "GB/s", "vs plain twin min/med/max",
                "vs library min/med/max", "clean GB/s, dirty GB/s, clean/dirty min/med/max");

    struct Test {
        const char* name;
        std::function<void()> loop, plain, library;
        const char* library_name;
        bool patterned;
    };
    const Test tests[8] = {
        {"test 1 8-byte copy", [&] { MemCopy8(ds, n8); }, [&] { twin::Copy8(ds, n8); },
         [&] { std::memset(ds, 'a', size_t(size)); Keep(ds); }, "memset", false},
        {"test 2 8-byte move", [&] { MemMove8(dd, ds, n8); }, [&] { twin::Move8(dd, ds, n8); },
         [&] { std::memcpy(dd, ds, size_t(size)); Keep(dd); }, "memcpy", false},
        {"test 3 1-byte copy", [&] { MemCopy1(cs, n1); }, [&] { twin::Copy1(cs, n1); },
         [&] { std::memset(cs, 'a', size_t(size)); Keep(cs); }, "memset", false},
        {"test 4 1-byte move", [&] { MemMove1(cd, cs, n1); }, [&] { twin::Move1(cd, cs, n1); },
         [&] { std::memcpy(cd, cs, size_t(size)); Keep(cd); }, "memcpy", false},
        {"test 5 8-byte patterned copy", [&] { MemCopy8Patterned(dd, i1d, p8); },
         [&] { twin::Copy8Patterned(dd, i1d, p8); }, nullptr, nullptr, true},
        {"test 6 8-byte patterned move", [&] { MemMove8Patterned(dd, ds, i1d, i2, p8); },
         [&] { twin::Move8Patterned(dd, ds, i1d, i2, p8); }, nullptr, nullptr, true},
        {"test 7 1-byte patterned copy", [&] { MemCopy1Patterned(cd, i1b, p1); },
         [&] { twin::Copy1Patterned(cd, i1b, p1); }, nullptr, nullptr, true},
        {"test 8 1-byte patterned move", [&] { MemMove1Patterned(cd, cs, i1b, i2, p1); },
         [&] { twin::Move1Patterned(cd, cs, i1b, i2, p1); }, nullptr, nullptr, true},
    };
    for (const Test& t : tests) {
        const double bytes = double(t.patterned ? patterned : size);
        const int reps = t.patterned ? reps_pat : reps_seq;
        kp::ClearUpperVectorState();  // the dirty passes of the test before leave nothing behind
        const Pairing twin_pair = Pair(t.loop, t.plain, pairs, reps, bytes);
        std::string library = "-";
        if (t.library) {
            library = Figures(Pair(t.loop, t.library, pairs, reps, bytes).ratio) + " " + t.library_name;
        }
        // One pass of the loop per timing, each started clean or dirty.
        const std::function<void()>& loop = t.loop;
        const Pairing state = Pair([&] { for (int r = 0; r < reps; ++r) { kp::ClearUpperVectorState(); loop(); } },
                                   [&] { for (int r = 0; r < reps; ++r) { DirtyUpperVectorState(); loop(); } },
                                   pairs, 1, bytes * reps);
        std::printf("  %-29s %7.2f   %-23s   %-30s   %6.2f %6.2f   %s\n", t.name, twin_pair.a_gbps,
                    Figures(twin_pair.ratio).c_str(), library.c_str(), state.a_gbps, state.b_gbps,
                    Figures(state.ratio).c_str());
    }
    PublishChecksum(ds[n8 - 1] + dd[p8 / 2] + cd[p1 / 3] + cs[n1 - 1]);
    for (void* p : {static_cast<void*>(ds), static_cast<void*>(dd), static_cast<void*>(cs),
                    static_cast<void*>(cd), static_cast<void*>(i1d), static_cast<void*>(i1b),
                    static_cast<void*>(i2)}) {
        Release(p);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int pairs = 21;
    std::vector<int64_t> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-p") == 0 && i + 1 < argc) {
            pairs = std::max(1, std::atoi(argv[++i]));
        } else if (std::atoi(argv[i]) > 0) {
            sizes.push_back(int64_t(std::atoi(argv[i])) * kMegabyte);
        } else {
            std::fprintf(stderr, "usage: bench_memory [-p pairs] [MB ...]\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {kMegabyte, 4 * kMegabyte, 16 * kMegabyte, 64 * kMegabyte};
    std::printf("bench_memory: each memory-test loop (engine) against the same loop written plainly "
                "(kept at its element width) and against memcpy/memset, pass by pass A B A B on the "
                "same pre-written buffers; ratio = speed of the engine loop / speed of its peer, "
                "min/median/max over the pairs\n");
    for (int64_t size : sizes) RunSize(size, pairs);
    return 0;
}
