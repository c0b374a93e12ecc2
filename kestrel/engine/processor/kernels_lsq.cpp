#include "kestrel/engine/processor/kernels_lsq.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "kestrel/engine/processor/nr_alloc.h"
#include "shared/helpers.h"

// ---- integer arithmetic of the kernel ----

int32_t lsq_add(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
int32_t lsq_sub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
int32_t lsq_mul(int32_t a, int32_t b) { return int32_t(uint32_t(a) * uint32_t(b)); }
int32_t lsq_div(int32_t a, int32_t b) { return a / (b < 1 ? 1 : b); }
int32_t lsq_root(int32_t a) { return int32_t(std::floor(ksqrt(double(a)))); }

namespace {
int32_t Neg(int32_t a) { return lsq_sub(0, a); }
}  // namespace

// ---- products ----

int32_t vecvec(int l, int u, int shift, const int32_t* a, const int32_t* b) {
    uint32_t s = 0;
    for (int k = l; k <= u; ++k) s += uint32_t(a[k]) * uint32_t(b[k + shift]);
    return int32_t(s);
}

int32_t matvec(int l, int u, int i, int32_t* const* a, const int32_t* b) {
    uint32_t s = 0;
    const int32_t* row = a[i];
    for (int k = l; k <= u; ++k) s += uint32_t(row[k]) * uint32_t(b[k]);
    return int32_t(s);
}

int32_t tamvec(int l, int u, int i, int32_t* const* a, const int32_t* b) {
    uint32_t s = 0;
    for (int k = l; k <= u; ++k) s += uint32_t(a[k][i]) * uint32_t(b[k]);
    return int32_t(s);
}

int32_t matmat(int l, int u, int i, int j, int32_t* const* a, int32_t* const* b) {
    uint32_t s = 0;
    const int32_t* row = a[i];
    for (int k = l; k <= u; ++k) s += uint32_t(row[k]) * uint32_t(b[k][j]);
    return int32_t(s);
}

int32_t tammat(int l, int u, int i, int j, int32_t* const* a, int32_t* const* b) {
    uint32_t s = 0;
    for (int k = l; k <= u; ++k) s += uint32_t(a[k][i]) * uint32_t(b[k][j]);
    return int32_t(s);
}

void elmcol(int l, int u, int i, int j, int32_t** a, int32_t* const* b, int32_t x) {
    for (int k = l; k <= u; ++k) a[k][i] = lsq_add(a[k][i], lsq_mul(b[k][j], x));
}

void elmveccol(int l, int u, int i, int32_t* a, int32_t* const* b, int32_t x) {
    for (int k = l; k <= u; ++k) a[k] = lsq_add(a[k], lsq_mul(b[k][i], x));
}

void ichcol(int l, int u, int i, int j, int32_t** a) {
    for (int k = l; k <= u; ++k) std::swap(a[k][i], a[k][j]);
}

// ---- decomposition ----
//
// Step k reflects column k (rows k..nr) onto a multiple of the k-th unit vector: with the
// column's squared length sigma and length w, the diagonal d becomes d - aid[k] where
// aid[k] = -sign(d) w, and the column (as stored) is the reflection's vector v. The reflection
// I - v v' / h, h = -(new diagonal) * aid[k] (= w (w + |d|)), is applied to the later columns.
// The first c steps work on the constraint rows alone; after them the constrained unknowns are
// eliminated from the other rows, whose part in columns 1..c then holds the multipliers.

int lsqdecomp(int32_t** a, int n, int m, int c, int32_t* aux, int32_t* aid, int* ci) {
    int32_t* sum = allocate_long_vector(1, m);
    if (sum == nullptr) return -1;
    int32_t norm = 0;
    aux[3] = m;
    for (int k = 1; k <= m; ++k) {
        const int nr = k <= c ? c : n;
        if (k == 1 || k == c + 1) {
            for (int j = k; j <= m; ++j) {
                sum[j] = tammat(k, nr, j, j, a, a);
                norm = std::max(norm, sum[j]);
            }
        }
        int pivot = k;
        for (int j = k + 1; j <= m; ++j) {
            if (sum[j] > sum[pivot]) pivot = j;
        }
        ci[k] = pivot;
        if (pivot != k) {
            sum[pivot] = sum[k];
            ichcol(1, n, k, pivot, a);
        }
        const int32_t w = lsq_root(tammat(k, nr, k, k, a, a));
        if (w < double(lsq_root(norm)) * aux[2] * 1e-6) {
            aux[3] = k - 1;
            for (int j = k + 1; j <= m; ++j) ci[j] = j;  // the columns not reached stay in place
            break;
        }
        const int32_t d = a[k][k];
        aid[k] = d >= 0 ? Neg(w) : w;
        a[k][k] = lsq_sub(d, aid[k]);
        const int32_t h = Neg(lsq_mul(a[k][k], aid[k]));
        for (int j = k + 1; j <= m; ++j) {
            elmcol(k, nr, j, k, a, a, Neg(lsq_div(tammat(k, nr, k, j, a, a), h)));
            sum[j] = lsq_sub(sum[j], lsq_mul(a[k][j], a[k][j]));
        }
        if (k == c) {
            for (int i = c + 1; i <= n; ++i) {
                for (int s = 1; s <= m; ++s) {
                    const int32_t v = lsq_sub(a[i][s], matmat(1, s > c ? c : s - 1, i, s, a, a));
                    a[i][s] = s > c ? v : lsq_div(v, aid[s]);
                }
            }
        }
    }
    free_long_vector(sum, 1);
    return 0;
}

// ---- refinement ----
//
// Solution x and residual r satisfy the augmented system
//     D r + A x = b,   A' r = 0,
// D being 0 on the constraint rows and 1 elsewhere (on the constraint rows r carries the
// multipliers). Each pass forms the system's residual (f, g) for the current (r, x), solves the
// system for the corrections with the factorisation, and adds them. With A1 the constraint rows,
// Q1 [R11 R12] = A1, L the multipliers and Q2 R22 the factor of the reduced rows:
//   h1 = Q1' f1;  f2 <- f2 - L h1;  z = R11'^-1 g1;  g2 <- g2 - R12' z;  [e1; e2] = Q2' f2;
//   u = R22'^-1 g2;  R22 dx2 = e1 - u;  R11 dx1 = h1 - R12 dx2;
//   dr2 = Q2 [u; e2];  dr1 = Q1 (z - L' dr2).

int lsqrefsol(int32_t** a, int32_t** qr, int n, int m, int c, int32_t* aux, int32_t* aid,
              int* ci, const int32_t* b, int32_t* ldx, int32_t* x, int32_t* res) {
    int32_t* f = allocate_long_vector(1, n);
    int32_t* g = allocate_long_vector(1, m);
    int32_t* dx = allocate_long_vector(1, m);
    if (f == nullptr || g == nullptr || dx == nullptr) {
        free_long_vector(dx, 1);
        free_long_vector(g, 1);
        free_long_vector(f, 1);
        return -1;
    }
    for (int k = 1; k <= m; ++k) {
        if (ci[k] != k) ichcol(1, n, k, ci[k], a);
    }
    std::fill(x + 1, x + m + 1, 0);
    std::fill(res + 1, res + n + 1, 0);

    // The k-th reflection of the factorisation, on f over rows k..last.
    auto reflect = [&](int k, int last) {
        const int32_t h = Neg(lsq_mul(qr[k][k], aid[k]));
        elmveccol(k, last, k, f, qr, Neg(lsq_div(tamvec(k, last, k, qr, f), h)));
    };

    int passes = 0;
    for (;;) {
        ++passes;
        for (int i = 1; i <= n; ++i) {
            int32_t v = lsq_sub(b[i], matvec(1, m, i, a, x));
            f[i] = i > c ? lsq_sub(v, res[i]) : v;
        }
        for (int s = 1; s <= m; ++s) g[s] = Neg(tamvec(1, n, s, a, res));
        const int32_t start = lsq_root(lsq_add(vecvec(1, m, 0, x, x), vecvec(1, n, 0, res, res)));

        for (int k = 1; k <= c; ++k) reflect(k, c);
        for (int i = c + 1; i <= n; ++i) f[i] = lsq_sub(f[i], matvec(1, c, i, qr, f));
        for (int s = 1; s <= c; ++s) g[s] = lsq_div(lsq_sub(g[s], tamvec(1, s - 1, s, qr, g)), aid[s]);
        for (int s = c + 1; s <= m; ++s) g[s] = lsq_sub(g[s], tamvec(1, c, s, qr, g));
        for (int k = c + 1; k <= m; ++k) reflect(k, n);
        for (int s = c + 1; s <= m; ++s) {
            g[s] = lsq_div(lsq_sub(g[s], tamvec(c + 1, s - 1, s, qr, g)), aid[s]);
        }

        for (int s = m; s > c; --s) {
            const int32_t v = lsq_sub(lsq_sub(f[s], g[s]), matvec(s + 1, m, s, qr, dx));
            dx[s] = lsq_div(v, aid[s]);
        }
        for (int s = c; s >= 1; --s) dx[s] = lsq_div(lsq_sub(f[s], matvec(s + 1, m, s, qr, dx)), aid[s]);

        for (int s = c + 1; s <= m; ++s) f[s] = g[s];
        for (int k = m; k > c; --k) reflect(k, n);
        for (int s = 1; s <= c; ++s) f[s] = lsq_sub(g[s], tamvec(c + 1, n, s, qr, f));
        for (int k = c; k >= 1; --k) reflect(k, c);

        for (int s = 1; s <= m; ++s) x[s] = lsq_add(x[s], dx[s]);
        for (int i = 1; i <= n; ++i) res[i] = lsq_add(res[i], f[i]);
        const int32_t dxx = vecvec(1, m, 0, dx, dx);
        const int32_t correction = lsq_root(lsq_add(dxx, vecvec(1, n, 0, f, f)));
        *ldx = lsq_root(dxx);
        if (passes >= 3 && !(correction > double(aux[2]) * start * 1e-6 && passes <= aux[6])) break;
    }
    aux[7] = passes - 1;
    for (int k = m; k >= 1; --k) {
        if (ci[k] != k) std::swap(x[k], x[ci[k]]);
    }
    free_long_vector(dx, 1);
    free_long_vector(g, 1);
    free_long_vector(f, 1);
    return 0;
}

// ---- the worker ----

int LsqRows(int level) {
    static constexpr int kRows[7] = {75, 125, 185, 245, 350, 500, 650};
    return kRows[std::clamp(level, 0, 6)];
}

int DoQuDecompTest(const int32_t* level, LsqOutcome* outcome) {
    const int n = LsqRows(*level);
    const int m = n - 2;
    int32_t** a = allocate_long_matrix(1, n, 1, m);
    int32_t** qr = a ? allocate_long_matrix(1, n, 1, m) : nullptr;
    int32_t* b = qr ? allocate_long_vector(1, n + 1) : nullptr;
    int32_t* x = b ? allocate_long_vector(1, n + 1) : nullptr;
    int32_t* aux = x ? allocate_long_vector(1, n + 3) : nullptr;
    int32_t* aid = aux ? allocate_long_vector(1, n - 1) : nullptr;
    // The residual has a value for every row.
    int32_t* res = aid ? allocate_long_vector(1, n) : nullptr;
    int* ci = res ? allocate_int_vector(1, n - 1) : nullptr;

    int result = -1;
    if (ci != nullptr) {
        for (int i = 1; i <= n; ++i) {
            for (int j = 1; j <= m; ++j) a[i][j] = i;
        }
        static constexpr int32_t kHead[5] = {2016, 25, 12, 5, 1};
        for (int i = 1; i <= n; ++i) b[i] = i <= 5 ? kHead[i - 1] : i;
        aux[2] = 1;
        aux[6] = 5;
        for (int i = 1; i <= n; ++i) std::copy(a[i] + 1, a[i] + m + 1, qr[i] + 1);
        int32_t ldx = 0;
        if (lsqdecomp(qr, n, m, 1, aux, aid, ci) == 0 &&
            lsqrefsol(a, qr, n, m, 1, aux, aid, ci, b, &ldx, x, res) == 0) {
            result = 0;
            PublishChecksum(double(vecvec(1, m, 0, x, x)) + ldx + aux[3] + aux[7]);
            if (outcome != nullptr) *outcome = {aux[3], aux[7] + 1, ldx};
        }
    }
    free_int_vector(ci, 1);
    free_long_vector(res, 1);
    free_long_vector(aid, 1);
    free_long_vector(aux, 1);
    free_long_vector(x, 1);
    free_long_vector(b, 1);
    free_long_matrix(qr, 1, n, 1);
    free_long_matrix(a, 1, n, 1);
    return result;
}
