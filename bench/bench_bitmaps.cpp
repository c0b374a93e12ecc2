// The bitmap test beside plain painting: parallelogram transfers per second of the test as it runs
// (each transfer one call on the main window's surface under its lock, the picture shown and the
// window erased after each bitmap, all inside the time) and of the same transfers painted with a
// bare QPainter (the same transforms, drawImage without smoothing) into a private image that is
// cleared after each bitmap, on one thread; and of the same transfers painted into a plain
// QWidget's picture that is shown after each bitmap (repaint) and erased (cleared, repaint), as
// the test shows and erases its window.
#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTransform>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/spread.h"
#include "lumen/font_bitmap_rules.h"
#include "lumen/font_bitmap_tests.h"
#include "lumen/lumen_state.h"
#include "lumen/video_tests.h"

namespace {

constexpr int kDefaultRounds = 9;

struct Pictures {
    std::vector<QImage> images;
    std::vector<std::vector<lumen::Transfer>> transfers;
    int count = 0;
};

Pictures Load(int right, int bottom) {
    Pictures p;
    for (const char* name : lumen::kBitmapNames) {
        p.images.push_back(lumen::LoadTestBitmap(name));
        p.transfers.push_back(
            lumen::BitmapTransfers(name, p.images.back().width(), p.images.back().height(), right, bottom));
        p.count += int(p.transfers.back().size());
    }
    return p;
}

// A plain widget showing its own picture.
class PictureWidget : public QWidget {
public:
    explicit PictureWidget(QSize size) : picture(size, QImage::Format_RGB32) {
        picture.fill(Qt::white);
        setAttribute(Qt::WA_OpaquePaintEvent);
        resize(size);
    }
    QImage picture;

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(e->rect().topLeft(), picture, e->rect());
    }
};

// The plain peers: one round's transfers per second. `painter_per_transfer`: a painter is begun and
// ended around every transfer, as the test opens the surface's context for every call. `shown`:
// the target is a widget's picture, shown after each bitmap and erased (then shown cleared).
double PlainRound(const Pictures& p, QImage& target, bool painter_per_transfer, QWidget* shown = nullptr) {
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < p.images.size(); ++i) {
        const QImage& picture = p.images[i];
        {
            QPainter painter;
            for (const lumen::Transfer& t : p.transfers[i]) {
                if (!painter.isActive()) {
                    painter.begin(&target);
                    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
                    painter.setCompositionMode(QPainter::CompositionMode_Source);
                }
                const double w = t.w, h = t.h;
                painter.setTransform(QTransform((t.p[1].x - t.p[0].x) / w, (t.p[1].y - t.p[0].y) / w,
                                                (t.p[2].x - t.p[0].x) / h, (t.p[2].y - t.p[0].y) / h, t.p[0].x,
                                                t.p[0].y));
                painter.drawImage(QRectF(0, 0, w, h), picture, QRectF(0, 0, w, h));
                if (painter_per_transfer) painter.end();
            }
        }
        if (shown != nullptr) shown->repaint();
        target.fill(Qt::white);
        if (shown != nullptr) shown->repaint();
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return p.count / s;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    // Optional: the number of rounds.
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRounds;
    const lumen::Rect r = lumen::crectlaptop;
    const Pictures pictures = Load(r.Width(), r.Height());
    std::printf("Bitmap drawing, parallelogram transfers per second: the bitmap test (each transfer one call on the "
                "main window's surface, shown and erased after each bitmap, inside the time) beside plain QPainter "
                "drawImage with the same transforms into a private image (one painter per bitmap, and one per "
                "transfer) and into a plain widget's picture shown and erased after each bitmap; %d rounds, "
                "%d transfers a round, 800 x 600 (min / median / max)\n",
                rounds, pictures.count);
    QImage target(r.Width(), r.Height(), QImage::Format_RGB32);
    target.fill(Qt::white);
    PictureWidget widget(QSize(r.Width(), r.Height()));
    widget.show();
    std::vector<double> test_rates, plain_rates, per_call_rates, shown_rates;
    for (int round = 0; round < rounds; ++round) {
        const lumen::VideoTestOutcome out = lumen::RunVideoTestForTest("BMPDraw", lumen::VideoTestSettings{});
        if (out.ms <= 0.0) {
            std::printf("round %d: the bitmap test failed (%.3f)\n", round, out.ms);
            return 1;
        }
        const double test_rate = pictures.count / (out.ms / 1000.0);
        const double plain_rate = PlainRound(pictures, target, false);
        const double per_call_rate = PlainRound(pictures, target, true);
        const double shown_rate = PlainRound(pictures, widget.picture, false, &widget);
        test_rates.push_back(test_rate);
        plain_rates.push_back(plain_rate);
        per_call_rates.push_back(per_call_rate);
        shown_rates.push_back(shown_rate);
        std::printf("round %d: test %9.0f transfers/s (%.2f ms)   plain %9.0f   plain, a painter per transfer %9.0f   "
                    "plain widget, shown and erased %9.0f\n",
                    round, test_rate, out.ms, plain_rate, per_call_rate, shown_rate);
    }
    const Spread t = Of(test_rates);
    const Spread p = Of(plain_rates);
    std::printf("bitmap test   %9.0f / %9.0f / %9.0f transfers/s\n", t.min, t.median, t.max);
    const Spread c = Of(per_call_rates);
    std::printf("plain painter %9.0f / %9.0f / %9.0f transfers/s\n", p.min, p.median, p.max);
    std::printf("plain, a painter per transfer %9.0f / %9.0f / %9.0f transfers/s\n", c.min, c.median, c.max);
    const Spread w = Of(shown_rates);
    std::printf("plain widget, shown and erased %9.0f / %9.0f / %9.0f transfers/s\n", w.min, w.median, w.max);
    std::printf("test / plain (medians): %.2f\n", t.median / p.median);
    std::printf("test / plain widget, shown and erased (medians): %.2f\n", t.median / w.median);
    return 0;
}
