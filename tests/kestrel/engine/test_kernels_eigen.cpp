// The eigenvalue kernel of the Matrix Operations test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "kestrel/engine/processor/kernels_elimination.h"
#include "kestrel/engine/processor/nr_alloc.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/ui_thread.h"
#include "shared/helpers.h"

namespace {

using Rows = std::vector<std::vector<float>>;

// A 1-based square matrix with its eigenvalue vectors.
struct Square {
    explicit Square(const Rows& rows) : n(int(rows.size())) {
        a = allocate_float_matrix(1, n, 1, n);
        for (int i = 1; i <= n; ++i) {
            for (int j = 1; j <= n; ++j) a[i][j] = rows[size_t(i - 1)][size_t(j - 1)];
        }
        wr = allocate_float_vector(1, n);
        wi = allocate_float_vector(1, n);
    }
    ~Square() {
        free_float_vector(wi, 1);
        free_float_vector(wr, 1);
        free_float_matrix(a, 1, n, 1);
    }
    // Balance, reduce, iterate; the eigenvalues sorted by real, then imaginary part.
    std::vector<std::complex<double>> Eigenvalues() {
        balanc(a, n);
        elmhes(a, n);
        hqr(a, n, wr, wi);
        std::vector<std::complex<double>> values;
        for (int i = 1; i <= n; ++i) values.emplace_back(wr[i], wi[i]);
        std::sort(values.begin(), values.end(), [](auto x, auto y) {
            return x.real() != y.real() ? x.real() < y.real() : x.imag() < y.imag();
        });
        return values;
    }
    int n;
    float** a;
    float *wr, *wi;
};

void ExpectNear(const std::vector<std::complex<double>>& got, const std::vector<std::complex<double>>& want,
                double tolerance) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].real(), want[i].real(), tolerance) << i;
        EXPECT_NEAR(got[i].imag(), want[i].imag(), tolerance) << i;
    }
}

TEST(Eigenvalues, SymmetricTridiagonalMatrix) {
    // The second-difference matrix of order 6: eigenvalues 2 - 2 cos(k pi / 7).
    Rows rows(6, std::vector<float>(6, 0.0f));
    for (int i = 0; i < 6; ++i) {
        rows[size_t(i)][size_t(i)] = 2.0f;
        if (i > 0) rows[size_t(i)][size_t(i - 1)] = rows[size_t(i - 1)][size_t(i)] = -1.0f;
    }
    Square m(rows);
    std::vector<std::complex<double>> want;
    for (int k = 1; k <= 6; ++k) want.emplace_back(2.0 - 2.0 * std::cos(k * M_PI / 7.0), 0.0);
    ExpectNear(m.Eigenvalues(), want, 1e-5);
}

TEST(Eigenvalues, SymmetricMatrixWithARepeatedEigenvalue) {
    // 3I + 2 J (J all ones, order 4): 11 once and 3 three times.
    Rows rows(4, std::vector<float>(4, 2.0f));
    for (int i = 0; i < 4; ++i) rows[size_t(i)][size_t(i)] = 5.0f;
    Square m(rows);
    ExpectNear(m.Eigenvalues(), {{3, 0}, {3, 0}, {3, 0}, {11, 0}}, 1e-4);
}

TEST(Eigenvalues, CompanionMatrixNeedsPivotingAndBalancing) {
    // (t - 1)(t - 2)(t - 3)(t - 4) = t^4 - 10 t^3 + 35 t^2 - 50 t + 24.
    Square m({{10, -35, 50, -24}, {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}});
    ExpectNear(m.Eigenvalues(), {{1, 0}, {2, 0}, {3, 0}, {4, 0}}, 1e-3);
}

TEST(Eigenvalues, ComplexPairsComeWithOppositeImaginaryParts) {
    // A rotation block (eigenvalues 1 +- 2i) beside a real eigenvalue 5, mixed by a similarity.
    Square m({{1, -2, 0}, {2, 1, 0}, {1, 1, 5}});
    ExpectNear(m.Eigenvalues(), {{1, -2}, {1, 2}, {5, 0}}, 1e-5);
    // A pair is stored with the negative imaginary part first.
    bool pair_found = false;
    for (int i = 1; i < 3; ++i) {
        if (m.wi[i] != 0.0f) {
            EXPECT_FLOAT_EQ(m.wi[i], -m.wi[i + 1]);
            EXPECT_LT(m.wi[i], 0.0f);
            pair_found = true;
            break;
        }
    }
    EXPECT_TRUE(pair_found);
}

TEST(Eigenvalues, BalancingLeavesABalancedMatrixAlone) {
    const Rows symmetric = {{4, 1, -2}, {1, 3, 0.5f}, {-2, 0.5f, 1}};
    Square m(symmetric);
    balanc(m.a, 3);
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) EXPECT_EQ(m.a[i][j], symmetric[size_t(i - 1)][size_t(j - 1)]);
    }
}

TEST(Eigenvalues, BalancingScalesByPowersOfTwoUntilRowAndColumnNormsMatch) {
    Square m({{1, 1024}, {1.0f / 1024, 2}});
    balanc(m.a, 2);
    // The diagonal stays; the off-diagonal pair becomes equal (scaled by 2^-10 and 2^10).
    EXPECT_EQ(m.a[1][1], 1.0f);
    EXPECT_EQ(m.a[2][2], 2.0f);
    EXPECT_EQ(m.a[1][2], 1.0f);
    EXPECT_EQ(m.a[2][1], 1.0f);
}

TEST(Eigenvalues, HessenbergReductionKeepsSmallMultipliersAndTheSpectrum) {
    Square m({{2, 1, 0, 3}, {4, -1, 2, 0}, {1, 0, 3, 1}, {0, 5, 1, 2}});
    const float trace = 2 - 1 + 3 + 2;
    elmhes(m.a, 4);
    // Below the subdiagonal are the multipliers, each at most 1 in magnitude (pivoting).
    for (int i = 3; i <= 4; ++i) {
        for (int j = 1; j <= i - 2; ++j) EXPECT_LE(std::fabs(m.a[i][j]), 1.0f);
    }
    EXPECT_NEAR(m.a[1][1] + m.a[2][2] + m.a[3][3] + m.a[4][4], trace, 1e-5);
    hqr(m.a, 4, m.wr, m.wi);
    double sum = 0.0;
    for (int i = 1; i <= 4; ++i) sum += m.wr[i];
    EXPECT_NEAR(sum, trace, 1e-4);
}

TEST(Eigenvalues, IterationLimitReturnsWithTheRestUnset) {
    // Nothing can ever be found in a matrix of NaNs: after 30 iterations on the last eigenvalue
    // the routine gives up and returns.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Square m(Rows(4, std::vector<float>(4, nan)));
    for (int i = 1; i <= 4; ++i) m.wr[i] = m.wi[i] = 99.0f;
    hqr(m.a, 4, m.wr, m.wi);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(m.wr[i], 99.0f);
        EXPECT_EQ(m.wi[i], 99.0f);
    }
}

class EigenWorker : public ::testing::Test {
protected:
    void SetUp() override { kp::MarkUiThread(); }
    kp::BoxRecorder boxes;
};

TEST_F(EigenWorker, FindsEveryEigenvalueOfTheTestMatrix) {
    // Rows 1..s-1 hold i + 2 in columns 1..s-1, row and column s are zero: the eigenvalues sum to
    // the trace 3 + 4 + ... + (s + 1) (it would be s + 2 more with a full last row).
    const size_t blocks = kp::LivePageBlocks();
    for (int32_t size : {12, 90}) {
        ASSERT_EQ(DoEigenRoutine(&size), 0);
        const double trace = (size - 1) * (size + 4) / 2.0;
        EXPECT_NEAR(LastChecksum(), trace, trace * 1e-4) << size;
    }
    EXPECT_EQ(MatrixOpsSize(0), 90);
    EXPECT_EQ(MatrixOpsSize(6), 700);
    EXPECT_EQ(kp::LivePageBlocks(), blocks);
}

TEST_F(EigenWorker, AllocationFailureComputesNothing) {
    const size_t blocks = kp::LivePageBlocks();
    int32_t size = 20;
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(DoEigenRoutine(&size), -1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Fatal Memory Exception");
    EXPECT_EQ(kp::LivePageBlocks(), blocks);
}

}  // namespace
