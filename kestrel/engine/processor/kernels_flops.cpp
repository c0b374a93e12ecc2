#include "kestrel/engine/processor/kernels_flops.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "kestrel/engine/run/host.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "platform/clock.h"
#include "platform/pages.h"
#include "shared/helpers.h"

flopcount kflopcount;
std::mutex gMutex;
double clicks = 0.0;

namespace flops {

int thesize = 200;

int LeadingSize(int level) {
    static constexpr int kSizes[7] = {200, 300, 400, 500, 725, 1000, 1450};
    return kSizes[std::clamp(level, 0, 6)];
}

double TimeLimit(int level) {
    static constexpr double kSeconds[7] = {20, 40, 80, 160, 240, 320, 640};
    return kSeconds[std::clamp(level, 0, 6)];
}

}  // namespace flops

double FlopOps(int n) {
    const double d = n;
    return 2.0 * d * d * d / 3.0 + 2.0 * d * d;
}

double FlopRate(double ops, double seconds) {
    if (!(seconds > 0.0)) return 0.0;
    return std::max(ops / (seconds * 1000.0), 0.0);
}

void AddFlopRate(double rate) {
    const uint64_t rounded = uint64_t(std::clamp(rate, 0.0, 1e15) + 0.5);
    std::lock_guard<std::mutex> lock(gMutex);
    kflopcount.flops += rounded;
}

// ---- level-1 routines ----

void ddaxpy(int n, float da, const float* dx, int incx, float* dy, int incy) {
    if (n <= 0 || da == 0.0f) return;
    if (incx == 1 && incy == 1) {
        for (int i = 0; i < n; ++i) dy[i] += da * dx[i];
        return;
    }
    int ix = incx < 0 ? (1 - n) * incx : 0;
    int iy = incy < 0 ? (1 - n) * incy : 0;
    for (int i = 0; i < n; ++i, ix += incx, iy += incy) dy[iy] += da * dx[ix];
}

float ddot(int n, const float* dx, int incx, const float* dy, int incy) {
    float sum = 0.0f;
    if (n <= 0) return sum;
    if (incx == 1 && incy == 1) {
        for (int i = 0; i < n; ++i) sum += dx[i] * dy[i];
        return sum;
    }
    int ix = incx < 0 ? (1 - n) * incx : 0;
    int iy = incy < 0 ? (1 - n) * incy : 0;
    for (int i = 0; i < n; ++i, ix += incx, iy += incy) sum += dx[ix] * dy[iy];
    return sum;
}

void dscal(int n, float da, float* dx, int incx) {
    if (n <= 0 || incx <= 0) return;
    for (int i = 0; i < n * incx; i += incx) dx[i] *= da;
}

int idamax(int n, const float* dx, int incx) {
    if (n < 1 || incx <= 0) return -1;
    int best = 0;
    float largest = std::fabs(dx[0]);
    for (int i = 1; i < n; ++i) {
        const float v = std::fabs(dx[i * incx]);
        if (v > largest) {
            largest = v;
            best = i;
        }
    }
    return best;
}

void dmxpy(int n1, float* y, int n2, int ldm, const float* x, const float* m) {
    for (int j = 0; j < n2; ++j) {
        const float xj = x[j];
        const float* column = m + ptrdiff_t(ldm) * j;
        for (int i = 0; i < n1; ++i) y[i] += xj * column[i];
    }
}

float epslon(float x) {
    // The distance from 1 to the nearest float above it, found by rounding 4/3.
    const float a = 4.0f / 3.0f;
    float eps = 0.0f;
    while (eps == 0.0f) {
        const float b = a - 1.0f;
        const float c = b + b + b;
        eps = std::fabs(c - 1.0f);
    }
    return eps * std::fabs(x);
}

// ---- the linear system ----

void matgen(float* a, int lda, int n, float* norma, float* b) {
    int32_t init = 1325;
    *norma = 0.0f;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            init = 3125 * init % 65536;
            float& e = a[ptrdiff_t(lda) * j + i];
            e = float((init - 32768.0) * 6.1035156e-5);
            *norma = std::max(*norma, e);
        }
    }
    for (int i = 0; i < n; ++i) b[i] = 0.0f;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) b[i] += a[ptrdiff_t(lda) * j + i];
    }
}

// Column k holds, below the diagonal, the negated multipliers of elimination step k; the upper
// triangle holds U. Row interchanges are applied to the columns to the right as they are made.
void dgefa(float* a, int lda, int n, int* ipvt, int* info) {
    auto col = [a, lda](int j) { return a + ptrdiff_t(lda) * j; };
    *info = 0;
    for (int k = 0; k < n - 1; ++k) {
        float* ck = col(k);
        const int l = idamax(n - k, ck + k, 1) + k;
        ipvt[k] = l;
        if (ck[l] == 0.0f) {
            *info = k;
            continue;
        }
        if (l != k) std::swap(ck[l], ck[k]);
        dscal(n - k - 1, -1.0f / ck[k], ck + k + 1, 1);
        for (int j = k + 1; j < n; ++j) {
            float* cj = col(j);
            const float t = cj[l];
            if (l != k) {
                cj[l] = cj[k];
                cj[k] = t;
            }
            ddaxpy(n - k - 1, t, ck + k + 1, 1, cj + k + 1, 1);
        }
    }
    ipvt[n - 1] = n - 1;
    if (col(n - 1)[n - 1] == 0.0f) *info = n - 1;
}

void dgesl(const float* a, int lda, int n, const int* ipvt, float* b, int job) {
    auto col = [a, lda](int j) { return a + ptrdiff_t(lda) * j; };
    if (job == 0) {
        // L y = P b, then U x = y.
        for (int k = 0; k < n - 1; ++k) {
            const int l = ipvt[k];
            const float t = b[l];
            if (l != k) {
                b[l] = b[k];
                b[k] = t;
            }
            ddaxpy(n - k - 1, t, col(k) + k + 1, 1, b + k + 1, 1);
        }
        for (int k = n - 1; k >= 0; --k) {
            b[k] /= col(k)[k];
            ddaxpy(k, -b[k], col(k), 1, b, 1);
        }
        return;
    }
    // U' y = b, then L' z = y and the interchanges in reverse.
    for (int k = 0; k < n; ++k) {
        const float t = ddot(k, col(k), 1, b, 1);
        b[k] = (b[k] - t) / col(k)[k];
    }
    for (int k = n - 2; k >= 0; --k) {
        b[k] += ddot(n - k - 1, col(k) + k + 1, 1, b + k + 1, 1);
        const int l = ipvt[k];
        if (l != k) std::swap(b[l], b[k]);
    }
}

// ---- timing ----

double dtime() {
    if (prefs.use_high_precision == 0) return kp::MillisecondsSinceStart() * 0.001;
    int64_t frequency = 0;
    int64_t count = 0;
    if (!kp::QueryCounterFrequency(&frequency) || !kp::QueryCounter(&count)) return -1.0;
    return double(count) / (double(frequency) * 1e-6 * 1000.0) * 0.001;
}

void print_time(int /*row*/) {}

// ---- the worker ----

int DoBeginFlops(const int32_t* /*ignored*/) {
    const int n = 100;
    const int lda = flops::thesize + 1;
    const double ops = FlopOps(n);
    const size_t vector_bytes = sizeof(float) * size_t(lda);
    const size_t matrix_bytes = vector_bytes * size_t(lda);
    int error = 0;
    auto* b = static_cast<float*>(AllocateMemory2(vector_bytes, &error));
    auto* x = b ? static_cast<float*>(AllocateMemory2(vector_bytes, &error)) : nullptr;
    auto* ipvt = x ? static_cast<int*>(AllocateMemory2(sizeof(int) * size_t(lda), &error)) : nullptr;
    auto* a = ipvt ? static_cast<float*>(AllocateMemory2(matrix_bytes, &error)) : nullptr;
    auto* aa = a ? static_cast<float*>(AllocateMemory2(matrix_bytes, &error)) : nullptr;
    auto release = [&] {
        for (void* p : {static_cast<void*>(aa), static_cast<void*>(a), static_cast<void*>(ipvt),
                        static_cast<void*>(x), static_cast<void*>(b)}) {
            if (p != nullptr) FreeMemory(p, &error);
        }
    };
    if (aa == nullptr) {
        release();
        return -1;
    }
    std::memset(b, 0, vector_bytes);
    std::memset(x, 0, vector_bytes);
    std::memset(ipvt, 0, sizeof(int) * size_t(lda));
    std::memset(a, 0, matrix_bytes);
    std::memset(aa, 0, matrix_bytes);

    bool clock_ok = true;
    auto now = [&clock_ok] {
        const double t = dtime();
        if (t < 0.0) clock_ok = false;
        return t;
    };
    float norma = 0.0f;
    int info = 0;
    // One timed factorisation and solve of a fresh matrix; its time is not used further.
    auto timed_solve = [&] {
        matgen(a, lda, n, &norma, b);
        const double t0 = now();
        dgefa(a, lda, n, ipvt, &info);
        const double t1 = now();
        dgesl(a, lda, n, ipvt, b, 0);
        return now() - t1 + (t1 - t0);
    };
    // 100 factorisations (less the time to regenerate the matrix) and 100 solves.
    auto repeated_rate = [&] {
        double generating = 0.0;
        const double start = now();
        for (int i = 0; i < 100; ++i) {
            const double g0 = now();
            matgen(a, lda, n, &norma, b);
            generating += now() - g0;
            dgefa(a, lda, n, ipvt, &info);
        }
        const double factor_time = (now() - start - generating) / 100.0;
        const double s0 = now();
        for (int i = 0; i < 100; ++i) dgesl(a, lda, n, ipvt, b, 0);
        const double solve_time = (now() - s0) / 100.0;
        return FlopRate(ops, factor_time + solve_time);
    };

    double checksum = timed_solve();
    // Residual of the first solution: b - a x with x the computed solution.
    for (int i = 0; i < n; ++i) x[i] = b[i];
    matgen(a, lda, n, &norma, b);
    for (int i = 0; i < n; ++i) b[i] = -b[i];
    dmxpy(n, b, n, lda, x, a);
    float resid = 0.0f;
    float normx = 0.0f;
    for (int i = 0; i < n; ++i) {
        resid = std::max(resid, std::fabs(b[i]));
        normx = std::max(normx, std::fabs(x[i]));
    }
    const float eps = epslon(1.0f);
    checksum += resid / (n * norma * normx * eps);

    checksum += timed_solve();
    checksum += timed_solve();
    const double rate1 = repeated_rate();
    for (int row = 0; row < 3; ++row) print_time(row);
    for (int i = 0; i < 3; ++i) checksum += timed_solve();
    const double rate2 = repeated_rate();
    const double rate = std::min(rate1, rate2);
    PublishChecksum(checksum + b[0]);

    if (clock_ok) AddFlopRate(rate);
    release();
    return clock_ok ? 0 : -1;
}

// ---- iteration and driver ----

double DoFlopIteration() {
    const int n = std::max(FLOPSIZE, run.numprocessors);
    kp::TrimHeap();
    clicks = 0.0;
    const int level = prefs.memory_load_value;
    flops::thesize = flops::LeadingSize(level);
    const double limit = flops::TimeLimit(level) * measuring_times.flops_scale;
    kflopcount.flops = 0;
    int passes = 0;

    WorkerIteration pass;
    pass.n = n;
    pass.trim_heap = false;
    pass.priority = run.numprocessors == 1 ? -1 : run.tpriority;
    pass.work = [](int32_t) { DoBeginFlops(nullptr); };
    // However the passes are timed, the measurement ends after its time plus the drivers' margin
    // of wall time.
    const uint32_t wall_start = kp::MillisecondsSinceStart();
    const double wall_limit = limit * 1000.0 + kDriverWallLimitMs;
    do {
        const double elapsed = RunWorkerIteration(pass);
        if (elapsed == -1.0) return -1.0;
        { std::lock_guard<std::mutex> settled(gMutex); }  // every worker's addition is in
        Host().PumpPending();
        if (run.testend.load() == 1) return -1.0;
        clicks += elapsed;
        ++passes;
    } while (TicksToFracSecs(clicks) < limit && kp::MillisecondsSinceStart() - wall_start < wall_limit);
    return double(kflopcount.flops) / passes;
}

int DoFlops() {
    const double result = DoFlopIteration();
    if (run.testend.load() == 1 || result == -1.0) {
        passtring("Test aborted!");
        return -1;
    }
    global_flopstruct.flops = result;
    return 0;
}
