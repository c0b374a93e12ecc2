// The figure drawing test beside plain painting: figures per second of the test as it runs
// (drawing threads bound to processors, each window's surface under its lock, the phases' window
// moves, the showing on screen inside the time) and of the same random figures painted with a
// bare QPainter into private images on the same number of threads bound the same way.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/spread.h"
#include "lumen/draw_rules.h"
#include "lumen/lumen_state.h"
#include "lumen/video_tests.h"
#include "platform/processors.h"
#include "platform/workers.h"
#include "shared/gdi/dc.h"

namespace {

constexpr int kRounds = 7;
constexpr int kGroupsPerPhase = (lumen::kSecondPhaseFigures / 2) / lumen::kFiguresPerGroup;  // 200

// One thread's figures in one client area: the groups the test's thread draws there.
void PaintGroups(QImage& image, int groups, uint32_t seed) {
    lumen::Generator gen{seed};
    QPainter p(&image);
    p.setPen(QPen(Qt::black, 0));
    const int w = image.width();
    const int h = image.height();
    for (int k = 0; k < groups; ++k) {
        const lumen::FigureGroup f = lumen::MakeFigureGroup(gen, w, h, k * lumen::kFiguresPerGroup);
        p.setBrush(QColor(f.r, f.g, f.b));
        p.drawRect(QRect(QPoint(f.x1, f.y1), QPoint(f.x2 - 1, f.y2 - 1)));
        const QRect box = QRect(QPoint(f.x1, f.x2), QPoint(f.y1 - 1, f.y2 - 1)).normalized();
        p.drawEllipse(box);
        const gdi::ArcAngles a = gdi::RadialToQtAngles(QRectF(box), QPointF(2 * f.y1 / 3, 2 * f.y1),
                                                        QPointF(2 * f.x1 / 3, 2 * f.x1));
        p.drawPie(box, a.start16, a.span16);
    }
}

// The plain peer: 4 threads (each bound as the test binds a window's threads), each painting a
// vertical tile's groups and then a quarter tile's, into its own images. Figures per second.
double PlainRound(int processors) {
    const int tile_w = lumen::crect.right / 4 - 2;
    const int tile_h = lumen::crect.bottom - 20;
    const int quarter_w = lumen::crect.right / 2 - 2;
    const int quarter_h = lumen::crect.bottom / 2 - 20;
    std::vector<QImage> first(4), second(4);
    for (int i = 0; i < 4; ++i) {
        first[size_t(i)] = QImage(tile_w, tile_h, QImage::Format_RGB32);
        first[size_t(i)].fill(Qt::white);
        second[size_t(i)] = QImage(quarter_w, quarter_h, QImage::Format_RGB32);
        second[size_t(i)].fill(Qt::white);
    }
    kp::WorkerTeam team(4);
    int p = 1;
    for (int i = 0; i < 4; ++i) {
        team.Create(i, [&, i] {
            PaintGroups(first[size_t(i)], kGroupsPerPhase, uint32_t(i));
            PaintGroups(second[size_t(i)], kGroupsPerPhase, uint32_t(i + 4));
        }, 0);
        kp::BindWorker(team.worker(i), p);
        p = p >= processors ? 1 : p + 1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    team.ReleaseAll();
    team.Join();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return 4.0 * 2 * kGroupsPerPhase * lumen::kFiguresPerGroup / s;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int processors = std::min(4, kp::GetNumProcessors());
    std::printf("Figure drawing, figures per second: the figure test (4 windows' surfaces, 8 bound threads in two "
                "phases, shown before the clock stops) beside plain QPainter into private images on 4 threads bound "
                "the same way; %d rounds, %d processors, 800 x 600 (min / median / max)\n",
                kRounds, processors);
    std::vector<double> test_rates, plain_rates;
    for (int r = 0; r < kRounds; ++r) {
        lumen::VideoTestSettings s;
        s.processors = processors;
        const lumen::VideoTestOutcome out = lumen::RunVideoTestForTest("FigureDraw", s);
        if (out.ms <= 0.0) {
            std::printf("round %d: the figure test failed (%.3f)\n", r, out.ms);
            return 1;
        }
        const double test_rate = out.record.rectcount1 / (out.ms / 1000.0);
        const double plain_rate = PlainRound(processors);
        test_rates.push_back(test_rate);
        plain_rates.push_back(plain_rate);
        std::printf("round %d: test %9.0f figures/s (%d figures in %.2f ms)   plain %9.0f figures/s\n", r, test_rate,
                    out.record.rectcount1, out.ms, plain_rate);
    }
    const Spread t = Of(test_rates);
    const Spread p = Of(plain_rates);
    std::printf("figure test   %9.0f / %9.0f / %9.0f figures/s\n", t.min, t.median, t.max);
    std::printf("plain painter %9.0f / %9.0f / %9.0f figures/s\n", p.min, p.median, p.max);
    std::printf("test / plain (medians): %.2f\n", t.median / p.median);
    return 0;
}
