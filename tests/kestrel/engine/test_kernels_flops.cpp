// The floating-point kernel of the MegaFlops test.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <thread>
#include <vector>

#include "kestrel/engine/processor/kernels_flops.h"
#include "kestrel/engine/run/settings.h"
#include "platform/pages.h"
#include "platform/ui_thread.h"

namespace {

// A column-major n x n system of leading dimension lda.
struct System {
    System(int order, int leading) : n(order), lda(leading), a(size_t(lda) * lda), b(size_t(lda)), ipvt(size_t(lda)) {}
    float& at(int i, int j) { return a[size_t(lda) * size_t(j) + size_t(i)]; }
    int n, lda;
    std::vector<float> a, b;
    std::vector<int> ipvt;
};

TEST(FlopKernel, MatrixGeneratorIsTheFixedPseudoRandomSequence) {
    System s(100, 201);
    float norma = 0.0f;
    matgen(s.a.data(), s.lda, s.n, &norma, s.b.data());
    // 1325 -> 11857 -> 25285 -> 44745 -> 39837, each entry (init - 32768) / 16384.
    EXPECT_FLOAT_EQ(s.at(0, 0), -1.27630615234375f);
    EXPECT_FLOAT_EQ(s.at(1, 0), -0.45672607421875f);
    EXPECT_FLOAT_EQ(s.at(2, 0), 0.73101806640625f);
    EXPECT_FLOAT_EQ(s.at(3, 0), 0.43145751953125f);
    EXPECT_FLOAT_EQ(norma, 1.99859619140625f);  // the largest entry, at row 78 of column 43
    EXPECT_FLOAT_EQ(s.at(78, 43), norma);
    EXPECT_EQ(s.at(100, 0), 0.0f);  // rows beyond the order are not touched
    float row0 = 0.0f;
    for (int j = 0; j < 100; ++j) row0 += s.at(0, j);
    EXPECT_FLOAT_EQ(s.b[0], row0);
}

TEST(FlopKernel, SolvesTheOrder100SystemWithASmallResidual) {
    for (int lda : {101, 201, 1451}) {
        System s(100, lda);
        float norma = 0.0f;
        matgen(s.a.data(), lda, 100, &norma, s.b.data());
        int info = -1;
        dgefa(s.a.data(), lda, 100, s.ipvt.data(), &info);
        EXPECT_EQ(info, 0);
        dgesl(s.a.data(), lda, 100, s.ipvt.data(), s.b.data(), 0);
        // b holds the row sums, so the solution is all ones.
        std::vector<float> x(s.b.begin(), s.b.begin() + 100);
        for (int i = 0; i < 100; ++i) ASSERT_NEAR(x[size_t(i)], 1.0f, 1e-3f) << i;
        matgen(s.a.data(), lda, 100, &norma, s.b.data());
        for (int i = 0; i < 100; ++i) s.b[size_t(i)] = -s.b[size_t(i)];
        dmxpy(100, s.b.data(), 100, lda, x.data(), s.a.data());
        float resid = 0.0f, normx = 0.0f;
        for (int i = 0; i < 100; ++i) {
            resid = std::max(resid, std::fabs(s.b[size_t(i)]));
            normx = std::max(normx, std::fabs(x[size_t(i)]));
        }
        const float normalised = resid / (100 * norma * normx * epslon(1.0f));
        EXPECT_LT(normalised, 20.0f) << lda;
    }
}

TEST(FlopKernel, PivotingAndTheTransposedSolve) {
    // [[0, 2, 1], [1, 1, 0], [2, 0, 3]] needs a row interchange at the first step.
    System s(3, 4);
    const float m[3][3] = {{0, 2, 1}, {1, 1, 0}, {2, 0, 3}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) s.at(i, j) = m[i][j];
    }
    int info = -1;
    dgefa(s.a.data(), 4, 3, s.ipvt.data(), &info);
    EXPECT_EQ(info, 0);
    EXPECT_EQ(s.ipvt[0], 2);
    EXPECT_EQ(s.ipvt[2], 2);
    // A (1, 2, 3) = (7, 3, 11); A' (1, 2, 3) = (8, 4, 10).
    std::vector<float> b = {7, 3, 11};
    dgesl(s.a.data(), 4, 3, s.ipvt.data(), b.data(), 0);
    EXPECT_NEAR(b[0], 1.0f, 1e-5f);
    EXPECT_NEAR(b[1], 2.0f, 1e-5f);
    EXPECT_NEAR(b[2], 3.0f, 1e-5f);
    b = {8, 4, 10};
    dgesl(s.a.data(), 4, 3, s.ipvt.data(), b.data(), 1);
    EXPECT_NEAR(b[0], 1.0f, 1e-5f);
    EXPECT_NEAR(b[1], 2.0f, 1e-5f);
    EXPECT_NEAR(b[2], 3.0f, 1e-5f);

    System singular(2, 2);
    singular.at(0, 0) = 1;
    singular.at(0, 1) = 2;
    singular.at(1, 0) = 2;
    singular.at(1, 1) = 4;
    dgefa(singular.a.data(), 2, 2, singular.ipvt.data(), &info);
    EXPECT_EQ(info, 1);  // the zero pivot
}

TEST(FlopKernel, LevelOneRoutinesWithStrides) {
    const std::vector<float> x = {1, -7, 2, 5, -3, 0};
    EXPECT_EQ(idamax(6, x.data(), 1), 1);
    EXPECT_EQ(idamax(3, x.data(), 2), 2);  // 1, 2, -3
    EXPECT_EQ(idamax(0, x.data(), 1), -1);
    EXPECT_FLOAT_EQ(ddot(3, x.data(), 2, x.data() + 1, 2), 1 * -7 + 2 * 5 + -3 * 0);
    std::vector<float> y = {1, 1, 1, 1};
    ddaxpy(2, 2.0f, x.data(), 3, y.data(), 2);  // y0 += 2 x0, y2 += 2 x3
    EXPECT_EQ(y, (std::vector<float>{3, 1, 11, 1}));
    ddaxpy(4, 0.0f, x.data(), 1, y.data(), 1);
    EXPECT_EQ(y, (std::vector<float>{3, 1, 11, 1}));
    dscal(2, -0.5f, y.data(), 2);
    EXPECT_EQ(y, (std::vector<float>{-1.5f, 1, -5.5f, 1}));
    EXPECT_EQ(epslon(1.0f), FLT_EPSILON);
    EXPECT_EQ(epslon(-4.0f), 4 * FLT_EPSILON);
}

TEST(FlopKernel, RatesAndTheLevelTable) {
    EXPECT_NEAR(FlopOps(100), 686666.7, 0.05);
    EXPECT_DOUBLE_EQ(FlopRate(686666.7, 0.001), 686666.7);
    EXPECT_EQ(FlopRate(686666.7, 0.0), 0.0);  // no division by a zero time
    EXPECT_EQ(FlopRate(686666.7, -0.002), 0.0);
    EXPECT_EQ(flops::LeadingSize(0) + 1, 201);
    EXPECT_EQ(flops::TimeLimit(0), 20.0);
    EXPECT_EQ(flops::LeadingSize(6) + 1, 1451);
    EXPECT_EQ(flops::TimeLimit(6), 640.0);
    EXPECT_EQ(flops::LeadingSize(4), 725);
    EXPECT_EQ(flops::TimeLimit(4), 240.0);
}

TEST(FlopKernel, RatesAreRoundedAndAddedUnderTheLock) {
    kflopcount.flops = 0;
    AddFlopRate(1234.4);
    AddFlopRate(1234.6);
    EXPECT_EQ(kflopcount.flops, 2469u);
    kflopcount.flops = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) AddFlopRate(1.0);
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(kflopcount.flops, 16000u);  // no addition lost
    EXPECT_TRUE(gMutex.try_lock());       // and nothing left locked
    gMutex.unlock();
}

TEST(FlopKernel, WorkerAddsItsRateWithEitherClock) {
    kp::MarkUiThread();
    flops::thesize = 200;
    kflopcount.flops = 0;
    EXPECT_EQ(DoBeginFlops(nullptr), 0);
    EXPECT_GT(kflopcount.flops, 0u);

    // Without Timer Precision the millisecond clock times the repeated runs.
    prefs.use_high_precision = 0;
    kflopcount.flops = 0;
    EXPECT_EQ(DoBeginFlops(nullptr), 0);
    EXPECT_GT(kflopcount.flops, 0u);
    prefs.use_high_precision = 1;
}

TEST(FlopKernel, WorkerWithoutItsArraysAddsNothing) {
    kp::MarkUiThread();
    const size_t blocks = kp::LivePageBlocks();
    kflopcount.flops = 5;
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(DoBeginFlops(nullptr), -1);
    EXPECT_EQ(kflopcount.flops, 5u);
    EXPECT_EQ(kp::LivePageBlocks(), blocks);
}

}  // namespace
