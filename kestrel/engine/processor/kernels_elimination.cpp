#include "kestrel/engine/processor/kernels_elimination.h"
#include "kestrel/engine/processor/kernel_rate.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <functional>
#include <utility>

#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/processor/kernels_lsq.h"
#include "kestrel/engine/processor/nr_alloc.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "shared/helpers.h"

// ---- eigenvalue kernel ----

void balanc(float** a, int n) {
    const float radix = 2.0f;
    const float radix2 = radix * radix;
    bool done = false;
    while (!done) {
        done = true;
        for (int i = 1; i <= n; ++i) {
            float c = 0.0f;  // column norm
            float r = 0.0f;  // row norm
            for (int j = 1; j <= n; ++j) {
                if (j == i) continue;
                c += std::fabs(a[j][i]);
                r += std::fabs(a[i][j]);
            }
            if (c == 0.0f || r == 0.0f) continue;
            const float before = c + r;
            float f = 1.0f;
            float limit = r / radix;
            while (c < limit) {
                f *= radix;
                c *= radix2;
            }
            limit = r * radix;
            while (c > limit) {
                f /= radix;
                c /= radix2;
            }
            if ((c + r) / f < 0.95f * before) {
                done = false;
                const float g = 1.0f / f;
                for (int j = 1; j <= n; ++j) a[i][j] *= g;
                for (int j = 1; j <= n; ++j) a[j][i] *= f;
            }
        }
    }
}

void elmhes(float** a, int n) {
    for (int m = 2; m < n; ++m) {
        // Pivot: the largest entry of column m - 1 from row m down.
        float pivot = 0.0f;
        int row = m;
        for (int j = m; j <= n; ++j) {
            if (std::fabs(a[j][m - 1]) > std::fabs(pivot)) {
                pivot = a[j][m - 1];
                row = j;
            }
        }
        if (row != m) {
            for (int j = m - 1; j <= n; ++j) std::swap(a[row][j], a[m][j]);
            for (int j = 1; j <= n; ++j) std::swap(a[j][row], a[j][m]);
        }
        if (pivot == 0.0f) continue;
        for (int i = m + 1; i <= n; ++i) {
            float y = a[i][m - 1];
            if (y == 0.0f) continue;
            y /= pivot;
            a[i][m - 1] = y;
            for (int j = m; j <= n; ++j) a[i][j] -= y * a[m][j];  // row i -= y row m
            for (int j = 1; j <= n; ++j) a[j][m] += y * a[j][i];  // column m += y column i
        }
    }
}

namespace {

float WithSignOf(float magnitude, float sign) {
    return sign >= 0.0f ? std::fabs(magnitude) : -std::fabs(magnitude);
}

// One double-shift QR step on the active block lo..hi of the Hessenberg matrix a. The two shifts
// are the roots of t^2 - (x + y) t + (x y - w).
void FrancisStep(float** a, int lo, int hi, float x, float y, float w) {
    // Start the step at the lowest row m from which the first column of the shifted product
    // (p, q, r) has a negligible coupling to the row above.
    float p = 0.0f, q = 0.0f, r = 0.0f, z = 0.0f;
    int m = hi - 2;
    for (;; --m) {
        z = a[m][m];
        const float dx = x - z;
        const float dy = y - z;
        p = (dx * dy - w) / a[m + 1][m] + a[m][m + 1];
        q = a[m + 1][m + 1] - z - dx - dy;
        r = a[m + 2][m + 1];
        const float scale = std::fabs(p) + std::fabs(q) + std::fabs(r);
        p /= scale;
        q /= scale;
        r /= scale;
        if (m == lo) break;
        const float coupling = std::fabs(a[m][m - 1]) * (std::fabs(q) + std::fabs(r));
        const float size = std::fabs(p) * (std::fabs(a[m - 1][m - 1]) + std::fabs(z) + std::fabs(a[m + 1][m + 1]));
        if (coupling + size == size) break;
    }
    for (int i = m + 2; i <= hi; ++i) {
        a[i][i - 2] = 0.0f;
        if (i != m + 2) a[i][i - 3] = 0.0f;
    }
    // Chase the bulge down the block with 3-row reflections (2-row at the last row).
    for (int k = m; k < hi; ++k) {
        const bool three = k != hi - 1;
        float scale = 1.0f;
        if (k != m) {
            p = a[k][k - 1];
            q = a[k + 1][k - 1];
            r = three ? a[k + 2][k - 1] : 0.0f;
            scale = std::fabs(p) + std::fabs(q) + std::fabs(r);
            if (scale != 0.0f) {
                p /= scale;
                q /= scale;
                r /= scale;
            }
        }
        const float s = WithSignOf(std::sqrt(p * p + q * q + r * r), p);
        if (s == 0.0f) continue;
        if (k == m) {
            if (lo != m) a[k][k - 1] = -a[k][k - 1];
        } else {
            a[k][k - 1] = -s * scale;
        }
        // The reflection I - v u' with v = (p + s, q, r) / s and u = (p + s, q, r) / (p + s).
        p += s;
        const float v1 = p / s, v2 = q / s, v3 = r / s;
        const float u2 = q / p, u3 = r / p;
        for (int j = k; j <= hi; ++j) {
            float d = a[k][j] + u2 * a[k + 1][j];
            if (three) {
                d += u3 * a[k + 2][j];
                a[k + 2][j] -= d * v3;
            }
            a[k + 1][j] -= d * v2;
            a[k][j] -= d * v1;
        }
        const int last = std::min(hi, k + 3);
        for (int i = lo; i <= last; ++i) {
            float d = v1 * a[i][k] + v2 * a[i][k + 1];
            if (three) {
                d += v3 * a[i][k + 2];
                a[i][k + 2] -= d * u3;
            }
            a[i][k + 1] -= d * u2;
            a[i][k] -= d;
        }
    }
}

}  // namespace

void hqr(float** a, int n, float* wr, float* wi) {
    float anorm = 0.0f;
    for (int i = 1; i <= n; ++i) {
        for (int j = std::max(i - 1, 1); j <= n; ++j) anorm += std::fabs(a[i][j]);
    }
    int hi = n;          // eigenvalues hi + 1 .. n are found
    float shift = 0.0f;  // exceptional shifts taken so far, subtracted from the diagonal
    while (hi >= 1) {
        int its = 0;
        int lo;
        for (;;) {
            // The unreduced block lo..hi: the nearest negligible subdiagonal entry above hi.
            for (lo = hi; lo >= 2; --lo) {
                float s = std::fabs(a[lo - 1][lo - 1]) + std::fabs(a[lo][lo]);
                if (s == 0.0f) s = anorm;
                if (std::fabs(a[lo][lo - 1]) + s == s) {
                    a[lo][lo - 1] = 0.0f;
                    break;
                }
            }
            if (lo >= hi - 1) break;
            if (its == 30) return;
            float x = a[hi][hi];
            float y = a[hi - 1][hi - 1];
            float w = a[hi][hi - 1] * a[hi - 1][hi];
            if (its == 10 || its == 20) {
                shift += x;
                for (int i = 1; i <= hi; ++i) a[i][i] -= x;
                const float s = std::fabs(a[hi][hi - 1]) + std::fabs(a[hi - 1][hi - 2]);
                x = y = 0.75f * s;
                w = -0.4375f * s * s;
            }
            ++its;
            FrancisStep(a, lo, hi, x, y, w);
        }
        const float x = a[hi][hi];
        if (lo == hi) {
            wr[hi] = x + shift;
            wi[hi] = 0.0f;
            hi -= 1;
            continue;
        }
        // A 2 x 2 block: its two eigenvalues.
        const float y = a[hi - 1][hi - 1];
        const float w = a[hi][hi - 1] * a[hi - 1][hi];
        const float p = 0.5f * (y - x);
        const float q = p * p + w;
        float z = std::sqrt(std::fabs(q));
        const float base = x + shift;
        if (q >= 0.0f) {
            z = p + WithSignOf(z, p);
            wr[hi - 1] = wr[hi] = base + z;
            if (z != 0.0f) wr[hi] = base - w / z;
            wi[hi - 1] = wi[hi] = 0.0f;
        } else {
            wr[hi - 1] = wr[hi] = base + p;
            wi[hi - 1] = -z;
            wi[hi] = z;
        }
        hi -= 2;
    }
}

float** convert_matrix(float* a, int nrl, int nrh, int ncl, int nch) {
    const int columns = nch - ncl + 1;
    int error = 0;
    auto* rows = static_cast<float**>(AllocateMemory(sizeof(float*) * size_t(std::max(nrh - nrl + 1, 0)), &error));
    if (rows == nullptr) return nullptr;
    // Row i starts at a + (i - nrl) * columns and is addressed from column ncl.
    for (int i = nrl; i <= nrh; ++i) {
        rows[i - nrl] = reinterpret_cast<float*>(reinterpret_cast<uintptr_t>(a + ptrdiff_t(i - nrl) * columns) -
                                                 uintptr_t(intptr_t(ncl) * intptr_t(sizeof(float))));
    }
    return reinterpret_cast<float**>(reinterpret_cast<uintptr_t>(rows) - uintptr_t(intptr_t(nrl) * intptr_t(sizeof(float*))));
}

void free_convert_matrix(float** b, int nrl, int /*nrh*/, int /*ncl*/, int /*nch*/) {
    if (b == nullptr) return;
    int error = 0;
    FreeMemory(reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(b) + uintptr_t(intptr_t(nrl) * intptr_t(sizeof(float*)))), &error);
}

int MatrixOpsSize(int level) {
    static constexpr int kSizes[7] = {90, 125, 175, 250, 350, 500, 700};
    return kSizes[std::clamp(level, 0, 6)];
}

int DoEigenRoutine(const int32_t* size) {
    const int s = *size;
    float** a = allocate_float_matrix(0, s + 1, 0, s + 1);
    float** b = a ? allocate_float_matrix(0, s + 1, 0, s + 1) : nullptr;
    float* wr = b ? allocate_float_vector(1, s + 1) : nullptr;
    float* wi = wr ? allocate_float_vector(1, s + 1) : nullptr;
    int result = -1;
    if (wi != nullptr) {
        for (int i = 0; i < s; ++i) {
            for (int j = 0; j < s; ++j) {
                a[i][j] = float(i + 2);
                b[i][j] = a[i][j];
            }
        }
        balanc(b, s);
        elmhes(b, s);
        hqr(b, s, wr, wi);
        double sum = 0.0;
        for (int i = 1; i <= s; ++i) sum += double(wr[i]) + double(wi[i]);
        PublishChecksum(sum);
        result = 0;
    }
    free_float_vector(wi, 1);
    free_float_vector(wr, 1);
    free_float_matrix(b, 0, s + 1, 0);
    free_float_matrix(a, 0, s + 1, 0);
    return result;
}

// ---- iterations and drivers ----

namespace {

double Rate(const DriverTotals& totals) { return RatePerSecond(totals.count, totals.seconds); }

}  // namespace

double DoElimIteration(int n) {
    WorkerIteration it;
    it.n = n;
    it.argument = [](int) { return prefs.memory_load_value; };
    it.subtract_kernel_time = true;
    return RunFailableIteration(it, [](int32_t level) { return DoQuDecompTest(&level); });
}

double DoMatrixOpsIteration(int n, int size) {
    WorkerIteration it;
    it.n = n;
    it.argument = [size](int) { return size; };
    it.subtract_creation_time = true;
    return RunFailableIteration(it, [](int32_t s) { return DoEigenRoutine(&s); });
}

int DoElimination() {
    const int n = std::max(4, run.numprocessors);
    DriverLoop loop;
    loop.iteration = [n] { return DoElimIteration(n); };
    loop.count_per_iteration = double(n) * 100.0;
    loop.ui_priority_during = 1;
    loop.ui_priority_after = -1;
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    global_elimstruct.iterspersec = Rate(totals);
    return 0;
}

int DoMatrixOps() {
    const int n = std::max(16, run.numprocessors);
    const int size = MatrixOpsSize(prefs.memory_load_value);
    DriverLoop loop;
    loop.iteration = [n, size] { return DoMatrixOpsIteration(n, size); };
    loop.count_per_iteration = double(n) * 100.0;
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    global_matrixopsstruct.iterspersec = Rate(totals);
    return 0;
}
