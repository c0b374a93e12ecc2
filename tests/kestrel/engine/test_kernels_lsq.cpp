// The integer least-squares kernel of the Factorizations test.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "kestrel/engine/processor/kernels_lsq.h"
#include "kestrel/engine/processor/nr_alloc.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/ui_thread.h"
#include "shared/helpers.h"

namespace {

using Rows = std::vector<std::vector<int32_t>>;

// A 1-based integer matrix and the vectors of one problem, released at the end.
struct Problem {
    Problem(const Rows& rows, int constraints) : n(int(rows.size())), m(int(rows[0].size())), c(constraints) {
        a = allocate_long_matrix(1, n, 1, m);
        qr = allocate_long_matrix(1, n, 1, m);
        for (int i = 1; i <= n; ++i) {
            for (int j = 1; j <= m; ++j) a[i][j] = qr[i][j] = rows[size_t(i - 1)][size_t(j - 1)];
        }
        b = allocate_long_vector(1, n);
        x = allocate_long_vector(1, m);
        res = allocate_long_vector(1, n);
        aux = allocate_long_vector(1, 7);
        aid = allocate_long_vector(1, m);
        ci = allocate_int_vector(1, m);
        aux[2] = 1;
        aux[6] = 5;
    }
    ~Problem() {
        free_int_vector(ci, 1);
        free_long_vector(aid, 1);
        free_long_vector(aux, 1);
        free_long_vector(res, 1);
        free_long_vector(x, 1);
        free_long_vector(b, 1);
        free_long_matrix(qr, 1, n, 1);
        free_long_matrix(a, 1, n, 1);
    }
    int Decompose() { return lsqdecomp(qr, n, m, c, aux, aid, ci); }
    int Solve(const std::vector<int32_t>& rhs) {
        for (int i = 1; i <= n; ++i) b[i] = rhs[size_t(i - 1)];
        return lsqrefsol(a, qr, n, m, c, aux, aid, ci, b, &ldx, x, res);
    }
    std::vector<int32_t> Vec(const int32_t* v, int count) const { return {v + 1, v + count + 1}; }
    std::vector<int32_t> Column(int32_t** mat, int j) const {
        std::vector<int32_t> col;
        for (int i = 1; i <= n; ++i) col.push_back(mat[i][j]);
        return col;
    }

    int n, m, c;
    int32_t** a;
    int32_t** qr;
    int32_t *b, *x, *res, *aux, *aid;
    int* ci;
    int32_t ldx = -1;
};

TEST(LsqArithmetic, OverflowWrapsToTheTwosComplementResult) {
    const int32_t big = std::numeric_limits<int32_t>::max();
    const int32_t small = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(lsq_add(big, 1), small);
    EXPECT_EQ(lsq_sub(small, 1), big);
    EXPECT_EQ(lsq_mul(65536, 65536), 0);
    EXPECT_EQ(lsq_mul(46341, 46341), int32_t(int64_t(46341) * 46341 - (int64_t(1) << 32)));
    EXPECT_EQ(lsq_mul(-3, 7), -21);

    // A dot product whose sum passes the 32-bit range several times: the low 32 bits of the
    // exact sum, read as signed.
    std::vector<int32_t> u = {0, 40000, -50000, 60000, 70000};
    int64_t exact = 0;
    for (int k = 1; k <= 4; ++k) exact += int64_t(u[size_t(k)]) * u[size_t(k)];
    EXPECT_EQ(vecvec(1, 4, 0, u.data(), u.data()), int32_t(uint32_t(uint64_t(exact))));
    EXPECT_LT(vecvec(1, 4, 0, u.data(), u.data()), 0);  // this one wraps to a negative "norm"
}

TEST(LsqArithmetic, DivisorsBelowOneCountAsOneAndRootsTakeTheMagnitude) {
    EXPECT_EQ(lsq_div(7, 2), 3);
    EXPECT_EQ(lsq_div(-7, 2), -3);  // truncation toward zero
    EXPECT_EQ(lsq_div(7, 0), 7);
    EXPECT_EQ(lsq_div(7, -3), 7);
    EXPECT_EQ(lsq_div(std::numeric_limits<int32_t>::min(), -1), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(lsq_root(15), 3);
    EXPECT_EQ(lsq_root(16), 4);
    EXPECT_EQ(lsq_root(-16), 4);
    EXPECT_EQ(lsq_root(std::numeric_limits<int32_t>::max()), 46340);
}

TEST(LsqProducts, RowsColumnsAndRanges) {
    Problem p({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 0);
    int32_t** a = p.a;
    std::vector<int32_t> v = {0, 1, -1, 2};  // 1-based: v[1..3]
    EXPECT_EQ(vecvec(1, 3, 0, v.data(), v.data()), 6);
    EXPECT_EQ(vecvec(1, 2, 1, v.data(), v.data()), -3);  // v1 v2 + v2 v3
    EXPECT_EQ(vecvec(2, 1, 0, v.data(), v.data()), 0);   // empty range
    EXPECT_EQ(matvec(1, 3, 2, a, v.data()), 4 - 5 + 12);
    EXPECT_EQ(matvec(2, 3, 2, a, v.data()), -5 + 12);
    EXPECT_EQ(tamvec(1, 3, 2, a, v.data()), 2 - 5 + 16);
    EXPECT_EQ(matmat(1, 3, 1, 2, a, a), 1 * 2 + 2 * 5 + 3 * 8);
    EXPECT_EQ(tammat(2, 3, 1, 3, a, a), 4 * 6 + 7 * 9);

    elmcol(2, 3, 1, 3, a, a, -2);  // column 1 -= 2 column 3, rows 2..3
    EXPECT_EQ(p.Column(a, 1), (std::vector<int32_t>{1, 4 - 12, 7 - 18}));
    elmveccol(1, 2, 2, v.data(), a, 3);  // v += 3 column 2, rows 1..2
    EXPECT_EQ(v, (std::vector<int32_t>{0, 1 + 6, -1 + 15, 2}));
    ichcol(1, 2, 1, 3, a);
    EXPECT_EQ(p.Column(a, 1), (std::vector<int32_t>{3, 6, -11}));
    EXPECT_EQ(p.Column(a, 3), (std::vector<int32_t>{1, -8, 9}));
}

// One constraint row and five others, chosen so that every reflection and division is exact:
// after the constraint row is eliminated, the other rows' columns 2 and 3 are orthogonal with
// squared lengths 25, and every diagonal entry met is negative (so every divisor is positive).
const Rows kConstrained = {
    {-2, 2, -2},
    {2, -6, 2},
    {0, 0, -3},
    {-2, -1, -2},
    {4, -4, 0},
    {0, 0, 0},
};

TEST(LsqDecomposition, ExactHouseholderStepsWithAConstraintRow) {
    Problem p(kConstrained, 1);
    ASSERT_EQ(p.Decompose(), 0);
    EXPECT_EQ(p.aux[3], 3);  // full rank
    EXPECT_EQ(p.Vec(p.aid, 3), (std::vector<int32_t>{2, 5, 5}));
    EXPECT_EQ(std::vector<int>(p.ci + 1, p.ci + 4), (std::vector<int>{1, 2, 3}));
    // Row 1: the constraint's reflection vector and the rest of its triangular row; rows 2..6,
    // column 1: the multipliers of the constrained unknown; the rest: the reduced rows' factor.
    EXPECT_EQ(p.Column(p.qr, 1), (std::vector<int32_t>{-4, 1, 0, -1, 2, 0}));
    EXPECT_EQ(p.Column(p.qr, 2), (std::vector<int32_t>{-2, -9, 0, -3, 0, 0}));
    EXPECT_EQ(p.Column(p.qr, 3), (std::vector<int32_t>{2, 0, -8, 0, -4, 0}));
}

TEST(LsqRefinement, RecoversTheSolutionAndTheResidualExactly) {
    Problem p(kConstrained, 1);
    ASSERT_EQ(p.Decompose(), 0);
    // b = A (3, -1, 2) plus 7 in the last row, which no column reaches.
    ASSERT_EQ(p.Solve({-12, 16, -6, -9, 16, 7}), 0);
    EXPECT_EQ(p.Vec(p.x, 3), (std::vector<int32_t>{3, -1, 2}));
    EXPECT_EQ(p.Vec(p.res, 6), (std::vector<int32_t>{0, 0, 0, 0, 0, 7}));
    EXPECT_EQ(p.aux[7], 2);  // three passes: the least; the last two corrected nothing
    EXPECT_EQ(p.ldx, 0);
}

TEST(LsqRefinement, ColumnInterchangesAreUndoneInTheSolution) {
    // No constraint; column 2 is the longer one, so it is taken first.
    Problem p({{0, -6}, {-3, 0}, {0, -8}, {-4, 0}, {0, 0}}, 0);
    ASSERT_EQ(p.Decompose(), 0);
    EXPECT_EQ(p.aux[3], 2);
    EXPECT_EQ(p.ci[1], 2);
    EXPECT_EQ(p.ci[2], 2);
    EXPECT_EQ(p.Vec(p.aid, 2), (std::vector<int32_t>{10, 5}));
    ASSERT_EQ(p.Solve({18, -6, 24, -8, 5}), 0);  // A (2, -3) plus 5 in the last row
    EXPECT_EQ(p.Vec(p.x, 2), (std::vector<int32_t>{2, -3}));
    EXPECT_EQ(p.Vec(p.res, 5), (std::vector<int32_t>{0, 0, 0, 0, 5}));
    EXPECT_EQ(p.aux[7], 2);
}

TEST(LsqDecomposition, EqualColumnsStopAtTheRankFound) {
    Problem p({{-3, -3, 1}, {0, 0, 0}, {-4, -4, 0}}, 0);
    ASSERT_EQ(p.Decompose(), 0);
    // Column 3 has the smallest norm; the second equal column is reflected to (5, 0, 0) by the
    // first step and has nothing left below its first row.
    EXPECT_EQ(p.aux[3], 1);
    EXPECT_EQ(p.aid[1], 5);
    EXPECT_EQ(p.qr[1][2], 5);
    // The columns not reached keep their places, so the refinement exchanges nothing with them.
    EXPECT_EQ(std::vector<int>(p.ci + 1, p.ci + 4), (std::vector<int>{1, 2, 3}));
}

TEST(LsqDecomposition, ConstantRowsMeetTheDivisorRule) {
    // The Factorizations data in small: a[i][j] = i. The constraint's diagonal entry 1 gives the
    // divisor aid[1] = -1, taken as 1, so the multipliers keep their sign.
    Problem p({{1, 1}, {2, 2}, {3, 3}, {4, 4}}, 1);
    ASSERT_EQ(p.Decompose(), 0);
    EXPECT_EQ(p.Vec(p.aid, 2), (std::vector<int32_t>{-1, -10}));  // root of 4^2 + 6^2 + 8^2 = 116
    EXPECT_EQ(p.Column(p.qr, 1), (std::vector<int32_t>{2, 2, 3, 4}));
    EXPECT_EQ(p.Column(p.qr, 2), (std::vector<int32_t>{-1, 14, 6, 8}));
    EXPECT_EQ(p.aux[3], 2);
}

class LsqWorker : public ::testing::Test {
protected:
    void SetUp() override { kp::MarkUiThread(); }
    kp::BoxRecorder boxes;
};

TEST_F(LsqWorker, EveryLevelFindsRankTwoInThreeToSixPasses) {
    const size_t blocks = kp::LivePageBlocks();
    for (int32_t level = 0; level <= 6; ++level) {
        LsqOutcome first;
        ASSERT_EQ(DoQuDecompTest(&level, &first), 0) << level;
        const double checksum = LastChecksum();
        // Every column equals (1, ..., n): the constraint step and one more leave nothing.
        EXPECT_EQ(first.rank, 2) << level;
        EXPECT_GE(first.passes, 3) << level;
        EXPECT_LE(first.passes, 6) << level;
        LsqOutcome second;
        ASSERT_EQ(DoQuDecompTest(&level, &second), 0);
        EXPECT_EQ(second.passes, first.passes);  // wrapping arithmetic is deterministic
        EXPECT_EQ(second.ldx, first.ldx);
        EXPECT_EQ(LastChecksum(), checksum);
    }
    EXPECT_EQ(LsqRows(0), 75);
    EXPECT_EQ(LsqRows(6), 650);
    EXPECT_EQ(kp::LivePageBlocks(), blocks);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(LsqWorker, AllocationFailureSolvesNothingAndLeaksNothing) {
    const size_t blocks = kp::LivePageBlocks();
    int32_t level = 0;
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(DoQuDecompTest(&level), -1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Allocation Error!");
    EXPECT_EQ(kp::LivePageBlocks(), blocks);

    // The kernels' own scratch vectors.
    Problem p(kConstrained, 1);
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(p.Decompose(), -1);
    ASSERT_EQ(p.Decompose(), 0);
    kp::FailNextPageAllocations(2);
    EXPECT_EQ(p.Solve({-12, 16, -6, -9, 16, 7}), -1);
}

}  // namespace
