// The fractal test's Mandelbrot arithmetic beside a plain loop: points per second of the test's
// row routine (every second row of the four views at the laptop client size, 300 iterations)
// drawing into private images, the same routine with its drawing calls left out, and a plain
// loop of the same iteration over the same points, each on the same four threads (one view each).
#include <QImage>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "bench/spread.h"
#include "lumen/fractal_test.h"
#include "shared/gdi/surface.h"

namespace {

constexpr int kRounds = 7;
constexpr int kW = 398;  // a view's client in laptop mode
constexpr int kH = 280;

void MakeView(lumen::_PerWndInfo& info, int v) {
    lumen::bInitInfo(&info);
    info.xFrom = lumen::kViews[v].xFrom;
    info.xTo = lumen::kViews[v].xTo;
    info.yFrom = lumen::kViews[v].yFrom;
    info.yTo = lumen::kViews[v].yTo;
    info.prghPen = lumen::MakePenTable(lumen::PenDisplay{}, 1);
}

// The same iteration written plainly, over the same points.
__attribute__((noinline)) long PlainRows(const lumen::_PerWndInfo& v, int W, int H, long* sink) {
    long points = 0;
    long sum = 0;
    for (int y = 0; y <= H; y += 2) {
        const double ci = double(y) / double(H) * (v.yTo - v.yFrom) + v.yFrom;
        for (int x = 0; x <= W; ++x) {
            const double cr = double(x) / double(W) * (v.xTo - v.xFrom) + v.xFrom;
            double zr = cr, zi = ci;
            int m = v.iIteration + 1;
            for (int k = 1; k <= v.iIteration; ++k) {
                const double nr = (zr - zi) * (zr + zi) + cr;
                zi = 2.0 * zr * zi + ci;
                zr = nr;
                if (zr * zr + zi * zi > 4.0) {
                    m = k;
                    break;
                }
            }
            sum += m;
            ++points;
        }
    }
    *sink += sum;
    return points;
}

enum Kind { kSurface, kDrawn, kUndrawn, kPlain, kKinds };
const char* const kNames[kKinds] = {"test's rows, one surface call each", "test's rows, drawn into images", "test's rows, drawing left out",
                                    "plain loop of the same iteration"};

}  // namespace

int main() {
    std::printf("Fractal arithmetic: points per second of the test's row routine (through a surface's context "
                "per call as the test draws, into a private image, and with its drawing calls left out) beside a plain loop of the same iteration; 4 threads, one view each, %d x %d, "
                "every second row, 300 iterations; %d rounds (min/median/max)\n",
                kW, kH, kRounds);
    lumen::_PerWndInfo views[4];
    for (int v = 0; v < 4; ++v) MakeView(views[v], v);
    std::vector<double> rates[kKinds];
    std::barrier start(5), end(5);
    std::atomic<int> kind{0};
    std::atomic<bool> quit{false};
    long points[4] = {};
    long sink[4] = {};
    std::vector<std::thread> threads;
    for (int v = 0; v < 4; ++v) {
        threads.emplace_back([&, v] {
            QImage image(kW + 1, kH + 1, QImage::Format_RGB32);
            gdi::Surface surface(QSize(kW + 1, kH + 1), 0xFF000000u);
            gdi::DcState state;
            for (;;) {
                start.arrive_and_wait();
                if (quit) break;
                switch (Kind(kind.load())) {
                    case kSurface:
                        // As the test draws: the window's lock and context for each call.
                        surface.Erase();
                        points[v] = lumen::DrawViewRows(views[v], kW, kH, [&](const std::function<void(gdi::GdiDc&)>& fn) {
                            gdi::Surface::Dc dc = surface.GetDC(state);
                            fn(*dc);
                        });
                        break;
                    case kDrawn: {
                        image.fill(0xFF000000u);
                        gdi::GdiDc dc(&image);
                        points[v] = lumen::DrawViewRows(views[v], kW, kH,
                                                        [&](const std::function<void(gdi::GdiDc&)>& fn) { fn(dc); });
                        break;
                    }
                    case kUndrawn:
                        points[v] = lumen::DrawViewRows(views[v], kW, kH, [](const std::function<void(gdi::GdiDc&)>&) {});
                        break;
                    default: points[v] = PlainRows(views[v], kW, kH, &sink[v]); break;
                }
                end.arrive_and_wait();
            }
        });
    }
    for (int r = 0; r < kRounds; ++r) {
        for (int k = 0; k < kKinds; ++k) {
            kind = k;
            const auto t0 = std::chrono::steady_clock::now();
            start.arrive_and_wait();
            end.arrive_and_wait();
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            rates[k].push_back(double(points[0] + points[1] + points[2] + points[3]) / s);
        }
    }
    quit = true;
    start.arrive_and_wait();
    for (auto& t : threads) t.join();
    for (int k = 0; k < kKinds; ++k) {
        const Spread s = Of(rates[k]);
        std::printf("  %-36s %10.0f %10.0f %10.0f points/s\n", kNames[k], s.min, s.median, s.max);
    }
    std::printf("  (checksum %ld)\n", sink[0] + sink[1] + sink[2] + sink[3]);
    return 0;
}
