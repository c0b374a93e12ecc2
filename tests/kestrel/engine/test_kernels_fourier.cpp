// The Fourier kernels: transforms on known signals, the real transform's buffer, interpolation,
// the end corrections and the Fourier integral against closed forms, the shared cache, and the
// Integrations and Filters drivers.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <random>
#include <thread>
#include <vector>

#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/processor/kernels_fourier.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/processors.h"
#include "platform/workers.h"
#include "tests/kestrel/engine/kernel_test_support.h"

namespace {

using cd = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

// 1-based float vector with room for `count` values.
std::vector<float> Vec(size_t count) { return std::vector<float>(count + 1, 0.0f); }

std::vector<float> Random(size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v = Vec(count);
    for (size_t i = 1; i <= count; ++i) v[i] = dist(gen);
    return v;
}

// The transform by its definition, sum_j f_j exp(+2 pi i j k / n), in double.
cd Dft(const std::vector<float>& real, size_t n, size_t k) {
    cd sum = 0.0;
    for (size_t j = 0; j < n; ++j) sum += double(real[j + 1]) * std::polar(1.0, 2.0 * kPi * double(j * k % n) / double(n));
    return sum;
}

// Composite Simpson rule in double over [a, b] of a complex function.
template <class F>
cd Simpson(F f, double a, double b, int intervals = 200000) {
    const double h = (b - a) / intervals;
    cd sum = f(a) + f(b);
    for (int i = 1; i < intervals; ++i) sum += (i % 2 ? 4.0 : 2.0) * f(a + i * h);
    return sum * h / 3.0;
}

// `count` floats (1-based) whose last one is the last float before an inaccessible page.
class GuardedFloats {
public:
    explicit GuardedFloats(size_t count) {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const size_t pages = ((count + 1) * sizeof(float) + page - 1) / page;
        total_ = (pages + 1) * page;
        base_ = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        char* guard = static_cast<char*>(base_) + pages * page;
        mprotect(guard, page, PROT_NONE);
        data = reinterpret_cast<float*>(guard) - (count + 1);
    }
    ~GuardedFloats() { munmap(base_, total_); }
    float* data;

private:
    void* base_;
    size_t total_;
};

// ---- Complex transform ----------------------------------------------------------------------

TEST(Transforms, ImpulseGivesEveryFrequencyWithItsPhase) {
    const size_t nn = 16;
    std::vector<float> data = Vec(2 * nn);
    data[3] = 1.0f;  // value 1 at position 1
    four1(data.data(), nn, 1);
    for (size_t k = 0; k < nn; ++k) {
        EXPECT_NEAR(data[2 * k + 1], std::cos(2.0 * kPi * double(k) / nn), 1e-6) << k;
        EXPECT_NEAR(data[2 * k + 2], std::sin(2.0 * kPi * double(k) / nn), 1e-6) << k;
    }
    std::vector<float> back = Vec(2 * nn);
    back[1] = 1.0f;  // at position 0: a flat spectrum
    four1(back.data(), nn, -1);
    for (size_t k = 0; k < nn; ++k) {
        EXPECT_NEAR(back[2 * k + 1], 1.0, 1e-6);
        EXPECT_NEAR(back[2 * k + 2], 0.0, 1e-6);
    }
}

TEST(Transforms, CosineHasItsEnergyAtItsOwnFrequency) {
    const size_t nn = 64;
    std::vector<float> data = Vec(2 * nn);
    for (size_t j = 0; j < nn; ++j) data[2 * j + 1] = float(std::cos(2.0 * kPi * 5.0 * double(j) / nn));
    four1(data.data(), nn, 1);
    for (size_t k = 0; k < nn; ++k) {
        const double magnitude = std::hypot(data[2 * k + 1], data[2 * k + 2]);
        EXPECT_NEAR(magnitude, (k == 5 || k == nn - 5) ? nn / 2.0 : 0.0, 1e-4) << k;
    }
}

TEST(Transforms, ForwardThenInverseGivesTheInputTimesTheLength) {
    for (size_t nn : {2u, 8u, 256u, 4096u}) {
        const std::vector<float> input = Random(2 * nn, unsigned(nn));
        std::vector<float> data = input;
        four12(data.data(), nn, 1);
        four12(data.data(), nn, -1);
        for (size_t i = 1; i <= 2 * nn; ++i) ASSERT_NEAR(data[i], nn * input[i], 2e-4 * nn) << nn << " " << i;
    }
}

// ---- Real transforms ------------------------------------------------------------------------

TEST(Transforms, RealTransformMatchesTheDefinitionAndInvertsToHalfTheLength) {
    for (size_t n : {8u, 64u, 1024u}) {
        const std::vector<float> input = Random(n, 7u + unsigned(n));
        std::vector<float> data = input;
        realft2(data.data(), n, 1);
        const double tol = 1e-5 * n;
        EXPECT_NEAR(data[1], Dft(input, n, 0).real(), tol);
        EXPECT_NEAR(data[2], Dft(input, n, n / 2).real(), tol);
        for (size_t k = 1; k < n / 2; ++k) {
            const cd h = Dft(input, n, k);
            ASSERT_NEAR(data[2 * k + 1], h.real(), tol) << n << " " << k;
            ASSERT_NEAR(data[2 * k + 2], h.imag(), tol) << n << " " << k;
        }
        realft(data.data(), n, -1);
        for (size_t i = 1; i <= n; ++i) ASSERT_NEAR(data[i], n / 2.0 * input[i], tol) << n << " " << i;
    }
}

TEST(Transforms, TwoRealTransformsAtOnce) {
    const size_t n = 32;
    const std::vector<float> a = Random(n, 1), b = Random(n, 2);
    std::vector<float> fa = Vec(2 * n + 1), fb = Vec(2 * n + 1);
    twofft(a.data(), b.data(), fa.data(), fb.data(), n);
    for (size_t k = 0; k < n; ++k) {
        const cd ha = Dft(a, n, k), hb = Dft(b, n, k);
        EXPECT_NEAR(fa[2 * k + 1], ha.real(), 1e-4) << k;
        EXPECT_NEAR(fa[2 * k + 2], ha.imag(), 1e-4) << k;
        EXPECT_NEAR(fb[2 * k + 1], hb.real(), 1e-4) << k;
        EXPECT_NEAR(fb[2 * k + 2], hb.imag(), 1e-4) << k;
    }
}

// ---- The transform buffer of the integral ---------------------------------------------------

TEST(Transforms, TransformOfTheIntegralsLengthsStaysInsideItsBuffer) {
    EXPECT_EQ(four1_extent(1024), 2048u);  // a power of two touches exactly its values
    EXPECT_EQ(realft_extent(2048), 2048u);
    EXPECT_EQ(four1_extent(1112), 4096u);  // 2225 / 2 points reach the next power of two
    for (int32_t ndft : {2225, 4444, 8888, 17777, 35555, 71111, 142222}) {
        GuardedFloats buffer(size_t(dftint_buffer_high(ndft)));  // the integral's own buffer
        for (int j = 1; j <= 65; ++j) buffer.data[j] = std::cos(0.1f * float(j));
        realft(buffer.data, size_t(ndft), 1);  // any access past the extent ends the test
        SUCCEED() << ndft;
    }
}

TEST(TransformsDeathTest, BufferOfTheWorkSizeAloneIsOverrun) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The work size plus one value is far too short for 2225 points ...
    EXPECT_DEATH(
        {
            GuardedFloats buffer(2225 + 1);
            realft(buffer.data, 2225, 1);
        },
        "");
    // ... and the extent is the very last index touched.
    EXPECT_DEATH(
        {
            GuardedFloats buffer(realft_extent(142222) - 1);
            realft(buffer.data, 142222, 1);
        },
        "");
}

TEST(VectorsDeathTest, VectorThatCannotBeHadEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            kp::SetMessageBoxBackend(nullptr);  // the log switch answers in the child
            kp::FailNextPageAllocations(1);
            nr_vector(1, 100);
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "");
}

// ---- Interpolation --------------------------------------------------------------------------

TEST(Interpolation, PolynomialsOfLowerDegreeAreReproduced) {
    const float xa[] = {0.0f, 1.0f, 2.0f, 4.0f, 5.0f, 7.0f};  // 1-based: 5 nodes
    std::vector<float> ya(6);
    auto p = [](float x) { return 2.0f - x + 0.5f * x * x - 0.25f * x * x * x; };
    for (int i = 1; i <= 5; ++i) ya[size_t(i)] = p(xa[i]);
    for (float x : {0.5f, 3.3f, 6.9f, 4.0f}) {
        float y = 0.0f, dy = 0.0f;
        polint(xa, ya.data(), 5, x, &y, &dy);
        EXPECT_NEAR(y, p(x), 1e-4f * (1.0f + std::fabs(p(x)))) << x;
        EXPECT_NEAR(dy, 0.0f, 1e-3f) << x;  // the cubic needs no fifth node
    }
    // Through 4 nodes of a sine the estimate of the error bounds the true one.
    const float xs[] = {0.0f, 0.0f, 0.3f, 0.6f, 0.9f};
    const float ys[] = {0.0f, std::sin(0.0f), std::sin(0.3f), std::sin(0.6f), std::sin(0.9f)};
    float y = 0.0f, dy = 0.0f;
    polint(xs, ys, 4, 0.45f, &y, &dy);
    EXPECT_NEAR(y, std::sin(0.45f), 1e-3);
    EXPECT_LE(std::fabs(y - std::sin(0.45f)), 2.0f * std::fabs(dy) + 1e-6f);
}

// ---- End corrections and the integral -------------------------------------------------------

// The corrected sum is exact for a cubic integrand: compare it with the integral in double.
void ExpectExactForACubic(double theta, double delta) {
    const double w = theta / delta, a = 0.3, b = a + 64 * delta;
    auto h = [](double t) { return 1.0 + t - 0.5 * t * t + 0.1 * t * t * t; };
    float endpts[9];
    for (int j = 1; j <= 4; ++j) {
        endpts[j] = float(h(a + (j - 1) * delta));
        endpts[j + 4] = float(h(a + (60 + j) * delta));
    }
    float corre = 0, corim = 0, corfac = 0;
    dftcor(float(w), float(delta), float(a), float(b), endpts, &corre, &corim, &corfac);
    cd sum = 0.0;
    for (int j = 0; j <= 64; ++j) sum += h(a + j * delta) * std::polar(1.0, j * theta);
    const cd approx = delta * std::polar(1.0, w * a) * (double(corfac) * sum + cd(corre, corim));
    const cd exact = Simpson([&](double t) { return h(t) * std::polar(1.0, w * t); }, a, b);
    EXPECT_NEAR(approx.real(), exact.real(), 2e-5 * std::abs(exact) + 1e-6) << theta;
    EXPECT_NEAR(approx.imag(), exact.imag(), 2e-5 * std::abs(exact) + 1e-6) << theta;
}

TEST(FourierIntegral, EndCorrectionsAreExactForCubicsInBothForms) {
    ExpectExactForACubic(0.49, 0.05);  // closed forms
    ExpectExactForACubic(2.5, 0.05);
    ExpectExactForACubic(0.02, 0.02);  // series
    ExpectExactForACubic(0.0499, 0.01);
}

TEST(FourierIntegral, EndCorrectionsLeaveTheirOutputsOutsideTheirRange) {
    float endpts[9] = {0, 1, 1, 1, 1, 1, 1, 1, 1};
    float corre = 7, corim = 8, corfac = 9;
    dftcor(1.0f, 0.1f, 1.0f, 1.0f, endpts, &corre, &corim, &corfac);  // a not below b
    dftcor(40.0f, 0.1f, 0.0f, 1.0f, endpts, &corre, &corim, &corfac);  // w delta = 4
    dftcor(-1.0f, 0.1f, 0.0f, 1.0f, endpts, &corre, &corim, &corfac);  // negative
    EXPECT_EQ(corre, 7.0f);
    EXPECT_EQ(corim, 8.0f);
    EXPECT_EQ(corfac, 9.0f);
}

TEST(FourierIntegral, ClosedFormsOfTheTestIntegrand) {
    CC = 2.0f;
    DD = 4.0f;
    float c = 0, s = 0;
    getans(&c, &s, 6.2831855f, 0.0f, 5.0f);
    const double w = 6.2831855;
    const cd exact = Simpson([&](double t) { return std::cos(2.0 * t + 4.0) * std::polar(1.0, w * t); }, 0.0, 5.0);
    EXPECT_NEAR(c, exact.real(), 1e-5);
    EXPECT_NEAR(s, exact.imag(), 1e-5);
}

TEST(FourierIntegral, IntegralOfAKnownFunction) {
    CC = 2.0f;
    DD = 4.0f;
    ResetIntegralCache();
    float cosint = 0, sinint = 0, c = 0, s = 0;
    // 128 points put the frequency on a transform point, so the interpolation is exact.
    dftint(coscxd, 0.0f, 5.0f, 6.2831855f, &cosint, &sinint, 128);
    getans(&c, &s, 6.2831855f, 0.0f, 5.0f);
    EXPECT_NEAR(cosint, c, 2e-4);
    EXPECT_NEAR(sinint, s, 2e-4);
    EXPECT_EQ(dftint_cache.init, 1);
    EXPECT_FLOAT_EQ(dftint_cache.delta, 5.0f / 64.0f);
    EXPECT_FLOAT_EQ(dftint_cache.endpts[1], std::cos(4.0f));
    EXPECT_FLOAT_EQ(dftint_cache.endpts[8], std::cos(14.0f));
}

TEST(FourierIntegral, TestSizesInterpolateOverTheirWindow) {
    // Level 0: en = 174.8, points 172 .. 276, and one more (never filled) handed to polint.
    const InterpolationWindow win = dftint_window(6.2831855f, 5.0f / 64.0f, 2225);
    EXPECT_NEAR(win.en, 174.83, 0.01);
    EXPECT_EQ(win.first, 172);
    EXPECT_EQ(win.points, 106);
    // Every level fills and transforms its buffer without harm.
    CC = 2.0f;
    DD = 4.0f;
    for (int32_t ndft : {2225, 4444, 8888, 17777, 35555, 71111, 142222}) {
        ResetIntegralCache();
        int32_t size = ndft;
        EXPECT_EQ(DoFourierIntegral(&size), 0);
    }
}

TEST(FourierIntegral, ConcurrentWorkersFillTheCacheOnce) {
    CC = 2.0f;
    DD = 4.0f;
    float c = 0, s = 0;
    getans(&c, &s, 6.2831855f, 0.0f, 5.0f);
    for (int round = 0; round < 5; ++round) {
        ResetIntegralCache();
        std::atomic<int> waiting{8};
        std::vector<float> cosint(8), sinint(8);
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                waiting.fetch_sub(1);
                while (waiting.load() > 0) {
                }
                dftint(coscxd, 0.0f, 5.0f, 6.2831855f, &cosint[size_t(t)], &sinint[size_t(t)], 128);
            });
        }
        for (auto& th : threads) th.join();
        // Only the filler transformed samples; the others interpolated over an empty buffer
        // with the step and end values it left, all alike.
        int accurate = 0;
        std::vector<std::pair<float, float>> others;
        for (int t = 0; t < 8; ++t) {
            if (std::fabs(cosint[size_t(t)] - c) < 2e-4f && std::fabs(sinint[size_t(t)] - s) < 2e-4f) {
                ++accurate;
            } else {
                others.emplace_back(cosint[size_t(t)], sinint[size_t(t)]);
            }
        }
        EXPECT_EQ(accurate, 1) << round;
        for (const auto& o : others) EXPECT_EQ(o, others.front()) << round;
    }
}

// ---- Filters --------------------------------------------------------------------------------

TEST(Filters, PowerSpectrumPassesPeakAtTheConstantSignal) {
    // Period 1 is a constant: all of its n lands in the first value, more than any other pass
    // can reach.
    EXPECT_NEAR(DoFourierTransform3(1024), 1024.0f, 0.5f);
}

// ---- Iterations and drivers -----------------------------------------------------------------

using FourierDriverTest = kt::KernelRunTest;

int g_calls_before_abort = 0;
int WorkerThatEndsEarly(int32_t*) {
    static std::atomic<int> calls{0};
    if (calls.fetch_add(1) == g_calls_before_abort) throw kp::WorkerAbort{};
    return 0;
}

TEST_F(FourierDriverTest, UnfinishedIntegrationWorkerIsReported) {
    EXPECT_GE(DoFPUTransIteration(8, 2225, &WorkerThatEndsEarly), 0.0);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Integration Test failed to finish this iteration"});
    EXPECT_TRUE(AllSlotsNull());
    report = ReportText{};
    g_calls_before_abort = -1;  // none ends early
    EXPECT_GE(DoFPUTransIteration(8, 2225, &WorkerThatEndsEarly), 0.0);
    EXPECT_EQ(report.num, 0);
}

TEST_F(FourierDriverTest, Integrations) {
    global_fourierstruct = FourierStruct{};
    ASSERT_EQ(DoFourier(), 0);
    EXPECT_GT(global_fourierstruct.fflops, 0.0);
    EXPECT_EQ(global_fourierstruct.arraysize, 8u);
    EXPECT_TRUE(AllSlotsNull());
    ExpectDealtInTurns(8);
    EXPECT_EQ(report.num, 0);
}

TEST_F(FourierDriverTest, FiltersLowerTheirThreadBelowTheWorkersAfterwards) {
    global_fftstruct = FFTstruct{};
    run.tpriority = 1;
    ASSERT_EQ(DoFourierTransform(), 0);
    EXPECT_GT(global_fftstruct.fflops, 0.0);
    EXPECT_TRUE(AllSlotsNull());
    ExpectDealtInTurns(8);
    // The thread is left at "below normal": setting that level again changes nothing.
    const int after = kp::CurrentThreadNice();
    kp::SetCurrentThreadPriority(-1);
    EXPECT_EQ(kp::CurrentThreadNice(), after);
}

TEST_F(FourierDriverTest, FiltersStoppedKeepTheirOldRate) {
    global_fftstruct.fflops = 12.5;
    host.on_pump = [](int) { run.testend = 1; };
    EXPECT_EQ(DoFourierTransform(), -1);
    EXPECT_EQ(global_fftstruct.fflops, 12.5);
    EXPECT_EQ(report.szGreeting, std::vector<std::string>{"Test aborted!"});
    EXPECT_TRUE(AllSlotsNull());
}

}  // namespace
