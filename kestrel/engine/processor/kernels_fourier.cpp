#include "kestrel/engine/processor/kernels_fourier.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include "kestrel/engine/processor/kernel_rate.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/processor/workers.h"
#include "shared/helpers.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

int Level() { return std::clamp(int(prefs.memory_load_value), 0, 6); }
int Workers(int least) { return std::max(least, run.numprocessors); }

// Scratch of the squaring step, one per thread.
thread_local float sqrarg = 0.0f;
float sqr(float a) { return (sqrarg = a) == 0.0f ? 0.0f : sqrarg * sqrarg; }

// Complex value c (0-based) of a 1-based interleaved vector.
inline float& Re(float* d, size_t c) { return d[2 * c + 1]; }
inline float& Im(float* d, size_t c) { return d[2 * c + 2]; }

// exp(i theta m) for m = 0, 1, 2, ... by a recurrence that keeps its accuracy over many steps:
// w <- w + w (cos theta - 1 + i sin theta), with cos theta - 1 formed as -2 sin^2(theta / 2).
class Twiddle {
public:
    explicit Twiddle(double theta) {
        const double half = std::sin(0.5 * theta);
        step_re_ = -2.0 * half * half;
        step_im_ = std::sin(theta);
    }
    double re() const { return re_; }
    double im() const { return im_; }
    void Next() {
        const double r = re_;
        re_ += r * step_re_ - im_ * step_im_;
        im_ += im_ * step_re_ + r * step_im_;
    }

private:
    double re_ = 1.0, im_ = 0.0, step_re_, step_im_;
};

std::mutex g_cache_mutex;  // guards dftint_cache

}  // namespace

float* nr_vector(int64_t low, int64_t high) {
    int error = 0;
    const int64_t entries = std::max<int64_t>(high, std::max<int64_t>(low, 0)) + 1;
    auto* v = static_cast<float*>(AllocateMemory(sizeof(float) * size_t(entries), &error));
    if (v == nullptr) FatalError();
    return v;  // indices 0..high are inside the block, so low..high are
}

void free_vector(float* v, int64_t, int64_t) {
    int error = 0;
    if (v != nullptr) FreeMemory(v, &error);
}

// ---- Transforms -----------------------------------------------------------------------------

void four1(float data[], size_t nn, int isign) {
    // Put the values into bit-reversed order: rev runs through the reversed binary counter.
    size_t rev = 0;
    for (size_t c = 0; c < nn; ++c) {
        if (rev > c) {
            std::swap(Re(data, c), Re(data, rev));
            std::swap(Im(data, c), Im(data, rev));
        }
        size_t bit = nn >> 1;
        while (bit > 0 && (rev & bit) != 0) {
            rev ^= bit;
            bit >>= 1;
        }
        rev |= bit;
    }
    // Danielson-Lanczos: two transforms of `half` points make one of 2 half points,
    // X_k = E_k + W^k O_k and X_{k+half} = E_k - W^k O_k with W = exp(isign 2 pi i / (2 half)).
    for (size_t half = 1; half < nn; half <<= 1) {
        Twiddle w(isign * kPi / double(half));
        for (size_t m = 0; m < half; ++m) {
            for (size_t i = m; i < nn; i += 2 * half) {
                const size_t j = i + half;
                const float tr = float(w.re() * Re(data, j) - w.im() * Im(data, j));
                const float ti = float(w.re() * Im(data, j) + w.im() * Re(data, j));
                Re(data, j) = Re(data, i) - tr;
                Im(data, j) = Im(data, i) - ti;
                Re(data, i) += tr;
                Im(data, i) += ti;
            }
            w.Next();
        }
    }
}

size_t four1_extent(size_t nn) {
    size_t top = nn;  // complex values 0..top-1
    for (size_t half = 1; half < nn; half <<= 1) {
        const size_t span = 2 * half;
        const size_t last = nn - 1;
        const size_t i = last - last % span + std::min(last % span, half - 1);
        top = std::max(top, i + half + 1);
    }
    return 2 * top;
}

size_t realft_extent(size_t n) { return std::max(n, four1_extent(n >> 1)); }

// The real transform of f_0..f_{n-1} from the complex transform Z of the n/2 values
// z_k = f_2k + i f_2k+1: with E_m = (Z_m + conj Z_{n/2-m}) / 2 and
// O_m = -i (Z_m - conj Z_{n/2-m}) / 2 (the transforms of the even and the odd values),
// F_m = E_m + W^m O_m and F_{n/2-m} = conj(E_m - W^m O_m), W = exp(isign 2 pi i / n).
// The inverse undoes each step and leaves n/2 times the input.
void realft(float data[], size_t n, int isign) {
    const size_t half = n >> 1;
    if (isign == 1) four1(data, half, 1);
    Twiddle w(isign * kPi / double(half));
    w.Next();
    for (size_t m = 1; m < (n >> 2); ++m, w.Next()) {
        const size_t i1 = 2 * m + 1, i2 = i1 + 1;  // value m
        const size_t i3 = n + 3 - i2, i4 = i3 + 1;  // value n/2 - m
        const double ar = data[i1], ai = data[i2], br = data[i3], bi = data[i4];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        if (isign == 1) {
            const double orr = 0.5 * (ai + bi), oi = -0.5 * (ar - br);
            const double tr = w.re() * orr - w.im() * oi, ti = w.re() * oi + w.im() * orr;
            data[i1] = float(er + tr);
            data[i2] = float(ei + ti);
            data[i3] = float(er - tr);
            data[i4] = float(ti - ei);
        } else {
            const double dr = 0.5 * (ar - br), di = 0.5 * (ai + bi);
            const double orr = w.re() * dr - w.im() * di, oi = w.re() * di + w.im() * dr;
            data[i1] = float(er - oi);
            data[i2] = float(ei + orr);
            data[i3] = float(er + oi);
            data[i4] = float(orr - ei);
        }
    }
    const float first = data[1];
    if (isign == 1) {
        data[1] = first + data[2];
        data[2] = first - data[2];
    } else {
        data[1] = 0.5f * (first + data[2]);
        data[2] = 0.5f * (first - data[2]);
        four1(data, half, -1);
    }
}

void twofft(const float data1[], const float data2[], float fft1[], float fft2[], size_t n) {
    for (size_t j = 0; j < n; ++j) {
        Re(fft1, j) = data1[j + 1];
        Im(fft1, j) = data2[j + 1];
    }
    four1(fft1, n, 1);
    // With Z = X + i Y for the transforms X, Y of two real sequences:
    // X_k = (Z_k + conj Z_{n-k}) / 2 and Y_k = -i (Z_k - conj Z_{n-k}) / 2.
    Re(fft2, 0) = Im(fft1, 0);
    Im(fft2, 0) = 0.0f;
    Im(fft1, 0) = 0.0f;
    for (size_t k = 1; k <= n / 2; ++k) {
        const size_t l = n - k;
        const float zr = Re(fft1, k), zi = Im(fft1, k), yr = Re(fft1, l), yi = Im(fft1, l);
        const float xr = 0.5f * (zr + yr), xi = 0.5f * (zi - yi);
        const float vr = 0.5f * (zi + yi), vi = -0.5f * (zr - yr);
        Re(fft1, k) = xr;
        Im(fft1, k) = xi;
        Re(fft1, l) = xr;
        Im(fft1, l) = -xi;
        Re(fft2, k) = vr;
        Im(fft2, k) = vi;
        Re(fft2, l) = vr;
        Im(fft2, l) = -vi;
    }
}

// Neville's scheme in differences: C[m][i] and D[m][i] are what the polynomial through nodes
// i..i+m adds to the ones through i..i+m-1 and i+1..i+m. The estimate starts at the node nearest
// x and grows by one node at a time, on the side that keeps x central.
void polint(const float xa[], const float ya[], int n, float x, float* y, float* dy) {
    float* c = nr_vector(1, n);
    float* d = nr_vector(1, n);
    int s = 1;
    float nearest = std::fabs(x - xa[1]);
    for (int i = 1; i <= n; ++i) {
        const float gap = std::fabs(x - xa[i]);
        if (gap < nearest) {
            s = i;
            nearest = gap;
        }
        c[i] = ya[i];
        d[i] = ya[i];
    }
    float estimate = ya[s];
    float last = 0.0f;
    for (int m = 1; m < n; ++m) {
        bool distinct = true;
        for (int i = 1; i <= n - m; ++i) {
            const float lo = xa[i] - x, hi = xa[i + m] - x;
            const float span = lo - hi;
            if (span == 0.0f) {
                distinct = false;  // two equal nodes: no higher degree can be formed
                break;
            }
            const float diff = (c[i + 1] - d[i]) / span;
            d[i] = hi * diff;
            c[i] = lo * diff;
        }
        if (!distinct) break;
        const int left = s - 1, right = n - (s + m - 1);
        last = left < right ? c[s] : d[--s];
        estimate += last;
    }
    *y = estimate;
    *dy = last;
    free_vector(d, 1, n);
    free_vector(c, 1, n);
}

// ---- The Fourier integral -------------------------------------------------------------------

std::atomic<float> CC{2.0f};
std::atomic<float> DD{4.0f};
DftIntCache dftint_cache;

float coscxd(float t) {
    return std::cos(CC.load(std::memory_order_relaxed) * t + DD.load(std::memory_order_relaxed));
}

void getans(float* cosint, float* sinint, float w, float a, float b) {
    const float c = CC.load(std::memory_order_relaxed), d = DD.load(std::memory_order_relaxed);
    // The integrals over [a, b] of cos(k t + d) and sin(k t + d).
    auto cos_integral = [&](float k) {
        return k == 0.0f ? (b - a) * std::cos(d) : (std::sin(k * b + d) - std::sin(k * a + d)) / k;
    };
    auto sin_integral = [&](float k) {
        return k == 0.0f ? (b - a) * std::sin(d) : -(std::cos(k * b + d) - std::cos(k * a + d)) / k;
    };
    // cos(ct + d) cos(wt) = (cos((c - w) t + d) + cos((c + w) t + d)) / 2,
    // cos(ct + d) sin(wt) = (sin((c + w) t + d) - sin((c - w) t + d)) / 2.
    *cosint = 0.5f * (cos_integral(c - w) + cos_integral(c + w));
    *sinint = 0.5f * (sin_integral(c + w) - sin_integral(c - w));
}

// The integral is approximated by integrating the piecewise cubic through the samples h_j
// (centred four-point stencils, one-sided in the two end intervals):
//   I = delta e^{iwa} [W(t) sum_j h_j e^{ijt} + sum_{j<4} a_j(t) h_j
//                      + e^{iw(b-a)} sum_{j<4} conj(a_j(t)) h_{M-j}],   t = w delta,
// with W the transform of the interpolation kernel and a_j the end corrections. Their closed
// forms lose all accuracy for small t, where their series take over.
void dftcor(float w, float delta, float a, float b, const float endpts[], float* corre, float* corim,
            float* corfac) {
    if (!(a < b)) return;
    const double t = double(w) * double(delta);
    if (t < 0.0 || t > 3.01416) return;
    double W, a0r, a0i, a1r, a1i, a2r, a2i, a3r, a3i;
    if (std::fabs(t) < 5.0e-2) {
        const double t2 = t * t, t4 = t2 * t2, t6 = t4 * t2;
        W = 1.0 - (11.0 / 720.0) * t4 + (23.0 / 15120.0) * t6;
        a0r = -2.0 / 3.0 + t2 / 45.0 + (103.0 / 15120.0) * t4 - (169.0 / 226800.0) * t6;
        a1r = 7.0 / 24.0 - (7.0 / 180.0) * t2 + (5.0 / 3456.0) * t4 - (7.0 / 259200.0) * t6;
        a2r = -1.0 / 6.0 + t2 / 45.0 - (5.0 / 6048.0) * t4 + t6 / 64800.0;
        a3r = 1.0 / 24.0 - t2 / 180.0 + (5.0 / 24192.0) * t4 - t6 / 259200.0;
        a0i = t * (2.0 / 45.0 + (2.0 / 105.0) * t2 - (8.0 / 2835.0) * t4 + (86.0 / 467775.0) * t6);
        a1i = t * (7.0 / 72.0 - t2 / 168.0 + (11.0 / 72576.0) * t4 - (13.0 / 5987520.0) * t6);
        a2i = t * (-7.0 / 90.0 + t2 / 210.0 - (11.0 / 90720.0) * t4 + (13.0 / 7484400.0) * t6);
        a3i = t * (7.0 / 360.0 - t2 / 840.0 + (11.0 / 362880.0) * t4 - (13.0 / 29937600.0) * t6);
    } else {
        const double ct = std::cos(t), st = std::sin(t), c2t = std::cos(2.0 * t), s2t = std::sin(2.0 * t);
        const double t2 = t * t, t4 = t2 * t2, p = 6.0 + t2, q = 3.0 - t2;
        W = p * (3.0 - 4.0 * ct + c2t) / (3.0 * t4);
        a0r = (-42.0 + 5.0 * t2 + p * (8.0 * ct - c2t)) / (6.0 * t4);
        a0i = (-12.0 * t + 6.0 * t2 * t + p * s2t) / (6.0 * t4);
        a1r = (14.0 * q - 7.0 * p * ct) / (6.0 * t4);
        a1i = (30.0 * t - 5.0 * p * st) / (6.0 * t4);
        a2r = (-4.0 * q + 2.0 * p * ct) / (3.0 * t4);
        a2i = (-12.0 * t + 2.0 * p * st) / (3.0 * t4);
        a3r = (2.0 * q - p * ct) / (6.0 * t4);
        a3i = (6.0 * t - p * st) / (6.0 * t4);
    }
    const double lower_re = a0r * endpts[1] + a1r * endpts[2] + a2r * endpts[3] + a3r * endpts[4];
    const double lower_im = a0i * endpts[1] + a1i * endpts[2] + a2i * endpts[3] + a3i * endpts[4];
    const double upper_re = a0r * endpts[8] + a1r * endpts[7] + a2r * endpts[6] + a3r * endpts[5];
    const double upper_im = -(a0i * endpts[8] + a1i * endpts[7] + a2i * endpts[6] + a3i * endpts[5]);
    const double turn = double(w) * double(b - a);
    const double c = std::cos(turn), s = std::sin(turn);
    *corfac = float(W);
    *corre = float(lower_re + c * upper_re - s * upper_im);
    *corim = float(lower_im + s * upper_re + c * upper_im);
}

void ResetIntegralCache() {
    std::lock_guard<std::mutex> lock(g_cache_mutex);
    dftint_cache = DftIntCache{};
}

InterpolationWindow dftint_window(float w, float delta, int32_t ndft) {
    InterpolationWindow win;
    win.en = float(double(w * delta * float(ndft)) / (2.0 * 3.14159265) + 1.0);
    int32_t nn = std::max(1, int32_t(double(win.en) - 3.0 + 1.0));
    nn = std::min(nn, ndft / 10 - 5);
    win.first = nn;
    win.points = 1 + std::max(0, (ndft / 8 - 1) - nn);
    return win;
}

namespace {
constexpr int kSamples = 65;  // the integral's 64 intervals
}

int64_t dftint_buffer_high(int32_t ndft) {
    // The transform runs on ndft points, not a power of two: its butterflies reach far beyond
    // ndft.
    return std::max<int64_t>({int64_t(realft_extent(size_t(ndft))), int64_t(ndft) + 1, kSamples});
}

void dftint(Integrand func, float a, float b, float w, float* cosint, float* sinint, int32_t ndft) {
    const int64_t top = dftint_buffer_high(ndft);
    float* cpol = nr_vector(1, ndft);
    float* spol = nr_vector(1, ndft);
    float* xpol = nr_vector(1, ndft);
    float* data = nr_vector(1, top);

    float delta = 0.0f;
    float endpts[9] = {};
    {
        std::lock_guard<std::mutex> lock(g_cache_mutex);
        DftIntCache& cache = dftint_cache;
        if (cache.init != 1 || a != cache.aold || b != cache.bold || func != cache.funcold) {
            cache.init = 1;
            cache.aold = a;
            cache.bold = b;
            cache.funcold = func;
            cache.delta = (b - a) * 0.015625f;
            for (int j = 1; j <= kSamples; ++j) data[j] = func(a + float(j - 1) * cache.delta);
            for (int32_t j = kSamples + 1; j < ndft; ++j) data[j] = 0.0f;
            for (int j = 1; j <= 4; ++j) {
                cache.endpts[j] = data[j];
                cache.endpts[j + 4] = data[61 + j];
            }
            realft2(data, size_t(ndft), 1);
            data[2] = 0.0f;
        }
        delta = cache.delta;
        std::copy(std::begin(cache.endpts), std::end(cache.endpts), endpts);
    }

    const InterpolationWindow win = dftint_window(w, delta, ndft);
    int k = 1;
    for (int32_t nn = win.first; nn < ndft / 8 - 1; ++nn, ++k) {
        cpol[k] = data[2 * nn - 1];
        spol[k] = data[2 * nn];
        xpol[k] = float(nn);
    }
    float cdft = 0.0f, sdft = 0.0f, err = 0.0f;
    polint(xpol, cpol, k, win.en, &cdft, &err);
    polint(xpol, spol, k, win.en, &sdft, &err);
    float corre = 0.0f, corim = 0.0f, corfac = 1.0f;
    dftcor(w, delta, a, b, endpts, &corre, &corim, &corfac);
    cdft = cdft * corfac + corre;
    sdft = sdft * corfac + corim;
    const float c = delta * std::cos(w * a), s = delta * std::sin(w * a);
    *cosint = c * cdft - s * sdft;
    *sinint = s * cdft + c * sdft;

    free_vector(data, 1, top);
    free_vector(xpol, 1, ndft);
    free_vector(spol, 1, ndft);
    free_vector(cpol, 1, ndft);
}

// ---- Workers --------------------------------------------------------------------------------

int DoFourierIntegral(int32_t* ndft) {
    CC = 2.0f;
    DD = 4.0f;
    const float a = 0.0f, b = 5.0f, w = 6.2831855f;
    float cosint = 0.0f, sinint = 0.0f, cosans = 0.0f, sinans = 0.0f;
    dftint(coscxd, a, b, w, &cosint, &sinint, *ndft);
    getans(&cosans, &sinans, w, a, b);
    PublishChecksum(double(cosint) + double(sinint) + double(cosans) + double(sinans));
    return 0;
}

float DoFourierTransform1(int32_t n) {
    float* data = nr_vector(1, n + 1);
    float* copy = nr_vector(1, n);
    const size_t points = size_t(n) / 2;
    auto x_of = [n](int32_t i) { return float(i - n - 1) / float(n); };

    for (int32_t i = 1; i < n; i += 2) {
        data[i] = 1.0f / (sqr(x_of(i)) + 1.0f);
        data[i + 1] = 0.0f;
    }
    four1(data, points, 1);
    for (int32_t i = 1; i < n; i += 2) {
        data[i] = 0.0f;
        data[i + 1] = 1.0f / (sqr(x_of(i)) + 1.0f);
    }
    data[1] = 0.0f;
    four1(data, points, 1);
    for (int32_t i = 1; i < n; i += 2) {
        const float x = x_of(i);
        data[i] = 0.0f;
        data[i + 1] = x / (sqr(x) + 1.0f);
    }
    data[2] = 0.0f;
    four1(data, points, 1);
    for (int32_t i = 1; i < n; i += 2) {
        const float y = 0.5f * x_of(i);
        data[i] = 1.0f / (sqr(y) + 1.0f);
        data[i + 1] = 0.25f * x_of(i) * std::exp(-sqr(y));
        copy[i] = data[i];
        copy[i + 1] = data[i + 1];
    }
    four1(data, points, 1);
    four1(data, points, -1);
    const float figure = data[1] + data[2] - float(points) * copy[1];
    free_vector(copy, 1, n);
    free_vector(data, 1, n + 1);
    return figure;
}

float DoFourierTransform2(int32_t n) {
    float* data1 = nr_vector(1, n);
    float* data2 = nr_vector(1, n);
    float* fft1 = nr_vector(1, 2 * int64_t(n) + 1);
    float* fft2 = nr_vector(1, 2 * int64_t(n) + 1);
    for (int32_t i = 1; i <= n; ++i) {
        const float angle = float(i) * 2.0f * 3.1415926f * 0.125f;
        data1[i] = std::floor(0.5f + std::cos(angle));
        data2[i] = std::floor(0.5f + std::sin(angle));
    }
    twofft(data1, data2, fft1, fft2, size_t(n));
    four1(fft1, size_t(n), -1);
    four1(fft2, size_t(n), -1);
    const float figure = fft1[1] + fft2[2];
    free_vector(fft2, 1, 2 * int64_t(n) + 1);
    free_vector(fft1, 1, 2 * int64_t(n) + 1);
    free_vector(data2, 1, n);
    free_vector(data1, 1, n);
    return figure;
}

float DoFourierTransform3(int32_t n) {
    float* data = nr_vector(1, n + 1);
    float* spectrum = nr_vector(1, n / 2 + 1);
    float largest_overall = -1e10f;
    float smallest = 1e10f, largest = -1e10f;
    for (float p = 100.0f; p >= 1.0f; p -= 1.0f) {  // 100 periods
        for (int32_t i = 1; i <= n; ++i) data[i] = std::cos(6.2831852f * float(i - 1) / p);
        realft(data, size_t(n), 1);
        float peak = -1e10f;
        for (int32_t k = 2; k <= n / 2; ++k) {
            spectrum[k] = std::sqrt(sqr(data[2 * k - 1]) + sqr(data[2 * k]));
            peak = std::max(peak, spectrum[k]);
        }
        spectrum[1] = std::fabs(data[1]);
        spectrum[n / 2 + 1] = std::fabs(data[2]);
        peak = std::max({peak, spectrum[1], spectrum[n / 2 + 1]});
        largest_overall = std::max(largest_overall, peak);
        realft(data, size_t(n), -1);
        smallest = 1e10f;
        largest = -1e10f;
        for (int32_t i = 1; i <= n; ++i) {
            smallest = std::min(smallest, data[i]);
            largest = std::max(largest, data[i]);
        }
    }
    PublishChecksum(double(smallest) + double(largest));
    free_vector(spectrum, 1, n / 2 + 1);
    free_vector(data, 1, n + 1);
    return largest_overall;
}

int StartFourierTransforms(int32_t* size) {
    const int32_t n = *size;
    double figure = DoFourierTransform1(n);
    figure += DoFourierTransform2(n);
    figure += DoFourierTransform3(n);
    PublishChecksum(figure);
    return 0;
}

// ---- Iterations and drivers -----------------------------------------------------------------

double DoFPUTransIteration(int n, int32_t size, int (*worker)(int32_t*)) {
    std::atomic<int> finished{0};
    WorkerIteration it;
    it.n = n;
    it.argument = [size](int) { return size; };
    it.work = [worker, &finished](int32_t ndft) {
        worker(&ndft);
        finished.fetch_add(1);
    };
    const double elapsed = RunWorkerIteration(it);
    if (elapsed != -1.0 && finished.load() < std::clamp(n, 1, kMaxWorkers)) {
        passtring("Integration Test failed to finish this iteration");
    }
    return elapsed;
}

double DoFourierTransformIteration(int n, int32_t size) {
    WorkerIteration it;
    it.n = n;
    it.argument = [size](int) { return size; };
    it.work = [](int32_t s) { StartFourierTransforms(&s); };
    return RunWorkerIteration(it);
}

int DoFourier() {
    static constexpr int32_t kSizes[7] = {2225, 4444, 8888, 17777, 35555, 71111, 142222};
    const int n = Workers(8);
    const int32_t size = kSizes[Level()];
    global_fourierstruct.arraysize = uint32_t(n);
    DriverLoop loop;
    loop.iteration = [n, size] { return DoFPUTransIteration(n, size); };
    loop.count_per_iteration = n;
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    global_fourierstruct.fflops = RatePerSecond(totals.count, totals.seconds);
    return 0;
}

int DoFourierTransform() {
    const int n = Workers(4);
    const int32_t size = 8192 << Level();
    DriverLoop loop;
    loop.iteration = [n, size] { return DoFourierTransformIteration(n, size); };
    loop.count_per_iteration = n * 3.0 * 100.0;
    loop.ui_priority_during = run.tpriority;
    loop.ui_priority_after = run.tpriority - 2;
    DriverTotals totals;
    if (RunDriverLoop(loop, &totals) != 0) return -1;
    global_fftstruct.fflops = RatePerSecond(totals.count, totals.seconds);
    return 0;
}
