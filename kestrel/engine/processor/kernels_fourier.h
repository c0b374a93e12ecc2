// The Fourier kernels of the processor test, in single precision: test 4 "Integrations" (a
// Fourier integral by a real transform with end corrections) and test 5 "Filters" (three
// transform exercises), with their drivers and worker-thread iterations, and the radix-2
// transforms, Neville interpolation and end corrections they are built from.
//
// Vectors are 1-based: data[1..2 nn] holds nn complex values as (real, imaginary) pairs. The
// forward transform (sign +1) is H_k = sum_j h_j exp(+2 pi i j k / N); the inverse (sign -1) uses
// the opposite sign and no scaling, so forward then inverse gives N times the input (realft:
// N / 2 times).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// A zero-filled float vector indexed low..high (low >= 0). A vector that cannot be had shows the
// allocation box and ends the program.
float* nr_vector(int64_t low, int64_t high);
void free_vector(float* v, int64_t low, int64_t high);

// ---- Transforms -----------------------------------------------------------------------------

// Complex transform of nn points (nn a power of two for a true transform) in place.
void four1(float data[], size_t nn, int isign);
inline void four12(float data[], size_t nn, int isign) { four1(data, nn, isign); }
// Real transform of n values in place: data[1] = H_0, data[2] = H_{n/2} (both real), then
// data[2k+1], data[2k+2] = H_k for k = 1 .. n/2 - 1. The inverse takes that layout back.
void realft(float data[], size_t n, int isign);
inline void realft2(float data[], size_t n, int isign) { realft(data, n, isign); }
// The transforms of two real sequences of n values at once: fft1 and fft2 get n complex values
// each (2 n floats).
void twofft(const float data1[], const float data2[], float fft1[], float fft2[], size_t n);

// The highest float index four1 on nn points and realft on n values touch. For a length that is
// not a power of two this lies beyond 2 nn (and n).
size_t four1_extent(size_t nn);
size_t realft_extent(size_t n);

// Neville's polynomial through (xa[i], ya[i]), i = 1..n, at x; dy is the last correction made.
void polint(const float xa[], const float ya[], int n, float x, float* y, float* dy);

// ---- The Fourier integral -------------------------------------------------------------------

using Integrand = float (*)(float);

// The integrand cos(CC t + DD) and the closed forms of its two integrals against cos(w t) and
// sin(w t) over [a, b]. Every Integrations worker sets CC = 2 and DD = 4.
extern std::atomic<float> CC;
extern std::atomic<float> DD;
float coscxd(float t);
void getans(float* cosint, float* sinint, float w, float a, float b);

// The end corrections of the integral for the step delta and the eight end values (endpts[1..4]
// at the lower end, [5..8] at the upper): corfac multiplies the transform, corre and corim are
// added. Outputs untouched unless a < b and 0 <= w delta <= 3.01416.
void dftcor(float w, float delta, float a, float b, const float endpts[], float* corre, float* corim,
            float* corfac);

// What the integral keeps between calls: the limits and integrand it last sampled, the step and
// the end values. Filled once per integrand and limits; the first worker that finds it stale
// fills it while the others wait.
struct DftIntCache {
    int init = 0;
    float aold = 0.0f;
    float bold = 0.0f;
    Integrand funcold = nullptr;
    float delta = 0.0f;
    float endpts[9] = {};  // 1..8
};
extern DftIntCache dftint_cache;
// Empties the cache (tests).
void ResetIntegralCache();

// Where the integral reads its transform: en (1-based, fractional) is the point of frequency w;
// the transform points first .. first + points - 2 are taken and polint receives `points`
// values (the last one never filled, so zero).
struct InterpolationWindow {
    float en = 0.0f;
    int32_t first = 0;
    int32_t points = 0;
};
InterpolationWindow dftint_window(float w, float delta, int32_t ndft);

// The top index of the integral's transform buffer (1..top): every index the transform of ndft
// points touches, and the 65 samples.
int64_t dftint_buffer_high(int32_t ndft);

// The integrals of func(t) cos(w t) and func(t) sin(w t) over [a, b] from 64 intervals, a real
// transform of ndft points and interpolation at the frequency w.
void dftint(Integrand func, float a, float b, float w, float* cosint, float* sinint, int32_t ndft);

// ---- Workers, iterations and drivers --------------------------------------------------------

// Integrations worker: the integral of cos(2 t + 4) against cos and sin of 2 pi t over [0, 5].
int DoFourierIntegral(int32_t* ndft);
// Filters worker and its three exercises on n values (a power of two). Each exercise returns a
// figure of its results (DoFourierTransform3: the largest spectrum value of its 100 passes).
int StartFourierTransforms(int32_t* size);
float DoFourierTransform1(int32_t n);
float DoFourierTransform2(int32_t n);
float DoFourierTransform3(int32_t n);

// One timed run of n workers: elapsed milliseconds, or -1.0 on failure. A worker of the
// Integrations iteration that ends without finishing its integral gives the line "Integration
// Test failed to finish this iteration" (the time still counts); worker is for tests.
double DoFPUTransIteration(int n, int32_t size, int (*worker)(int32_t*) = &DoFourierIntegral);
double DoFourierTransformIteration(int n, int32_t size);

// Drivers: 0 with the rate stored in the test's record, -1 when stopped or failed.
int DoFourier();
int DoFourierTransform();
