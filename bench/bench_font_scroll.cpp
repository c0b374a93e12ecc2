// The font scrolling test beside plain Qt drawing of the same work: lines per second of the test
// as it runs (a font made per line, the line added to the text window's list, the list painted in
// the updated band through the window's surface, the window scrolled up a line when the new line
// falls below the bottom, and shown) and of a plain QWidget of the text window's client size in
// the same process: a QFont made per line from the same description, the widget scrolled with
// QWidget::scroll when the line falls below the bottom, and the band repainted at once by a
// paintEvent that draws the lines of the list that meet the band, clipped to it, with the line's font, a
// whole repaint per face group as the test's window update. Rounds alternate test and peer.
#include <QApplication>
#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/spread.h"
#include "lumen/font_bitmap_rules.h"
#include "lumen/frame.h"
#include "lumen/lumen_state.h"
#include "lumen/video_tests.h"
#include "shared/gdi/font.h"
#include "shared/gdi/present.h"

namespace {

constexpr int kRounds = 9;

// The plain text window: a list of lines painted in one font and colour, scrolled by the widget.
class PlainText : public QWidget {
public:
    explicit PlainText(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }
    std::vector<QString> lines;
    QFont font;
    QColor ink;
    int cell_w = 9, cell_h = 18, vpos = 0;

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        p.fillRect(e->rect(), Qt::white);
        p.setClipRect(e->rect());
        p.setFont(font);
        p.setPen(ink);
        p.setBackgroundMode(Qt::OpaqueMode);
        p.setBackground(Qt::white);
        const int ascent = p.fontMetrics().ascent();
        for (size_t k = 0; k < lines.size(); ++k) {
            const int yy = (int(k) - vpos - 1) * cell_h;
            if (yy + cell_h > e->rect().top() && yy < e->rect().bottom() + 1) p.drawText(cell_w, yy + ascent, lines[k]);
        }
    }
};

// One run of the plain peer's lines; returns lines per second.
double PlainRun(PlainText& w, const lumen::LineRange& range) {
    const QStringList installed = QFontDatabase::families();
    const QFont fallback;
    const auto& buf = lumen::textbuf();
    w.lines.clear();
    w.vpos = 0;
    unsigned seed = 0;
    int drawn = 0;
    lumen::TextCell cell = lumen::StartCell();
    const auto t0 = std::chrono::steady_clock::now();
    for (int pass = 0; pass < lumen::kWeightPasses; ++pass) {
        for (const lumen::FaceGroup& group : lumen::kFaceGroups) {
            w.setWindowTitle(QString::fromLatin1(group.title));
            w.repaint();
            for (int k = range.first; k <= range.last; ++k) {
                w.font = FontFromLogFont(lumen::LineFont(cell, pass * 10, group.face), fallback, installed);
                w.cell_w = cell.nXChar;
                w.cell_h = cell.nYChar;
                seed = seed * 1103515245u + 12345u;
                w.ink = QColor::fromRgb(seed >> 8 & 0xFF, seed >> 16 & 0xFF, seed >> 24);
                const int last_yy = (int(w.lines.size()) - w.vpos - 1) * cell.nYChar;
                w.lines.push_back(QString::fromStdString(buf[size_t(k)]));
                QRect exposed;
                for (size_t j = 0; j < w.lines.size(); ++j) {
                    if ((int(j) - w.vpos - 1) * cell.nYChar > w.height()) {
                        ++w.vpos;
                        w.scroll(0, -cell.nYChar);
                        exposed |= QRect(0, w.height() - cell.nYChar, w.width(), cell.nYChar);
                    }
                }
                const lumen::Rect b =
                    lumen::OutputBand(w.width(), last_yy, cell.nYChar, w.vpos, int(w.lines.size()));
                w.repaint(QRect(b.left, b.top, b.Width(), b.Height()) | exposed);
                ++drawn;
            }
        }
        cell = lumen::GrownCell(cell);
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return drawn / s;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    lumen::VideoTestSettings settings;
    settings.laptop = 0;  // 1024 x 768
    const lumen::Rect r{0, 0, 1024, 768};
    const lumen::LineRange range = lumen::FontTestLines(r, lumen::kMainWindowCell, 0);
    const int lines_per_run = lumen::kWeightPasses * 4 * range.Count();
    // The peer's widget: the text window's client area inside a top-level of the main window's size.
    QWidget top;
    top.setAttribute(Qt::WA_OpaquePaintEvent);
    top.resize(r.Width(), r.Height());
    PlainText plain(&top);
    plain.setGeometry(gdi::ChildFrame::ClientRectFor(QSize(r.Width(), r.Height())));
    top.show();
    std::printf("Font scrolling, lines per second: the font scrolling test (%d lines a run, 1024 x 768) beside a "
                "plain QWidget drawing and scrolling the same lines with the same fonts, platform %s; %d rounds, "
                "alternating (min / median / max)\n",
                lines_per_run, qPrintable(QGuiApplication::platformName()), kRounds);
    std::vector<double> test_rates, plain_rates;
    for (int round = 0; round < kRounds; ++round) {
        top.hide();
        const lumen::VideoTestOutcome out = lumen::RunVideoTestForTest("FontScrollDraw", settings);
        if (out.ms <= 0.0) {
            std::printf("round %d: the font test failed (%.3f)\n", round, out.ms);
            return 1;
        }
        top.show();
        QCoreApplication::processEvents();
        const double test_rate = lines_per_run / (out.ms / 1000.0);
        const double plain_rate = PlainRun(plain, range);
        test_rates.push_back(test_rate);
        plain_rates.push_back(plain_rate);
        std::printf("round %d: test %8.0f lines/s (%.1f ms)   plain %8.0f lines/s   test / plain %.2f\n", round,
                    test_rate, out.ms, plain_rate, test_rate / plain_rate);
    }
    const Spread t = Of(test_rates), p = Of(plain_rates);
    std::printf("font scrolling test %8.0f / %8.0f / %8.0f lines/s\n", t.min, t.median, t.max);
    std::printf("plain QWidget       %8.0f / %8.0f / %8.0f lines/s\n", p.min, p.median, p.max);
    std::printf("test / plain (medians): %.2f\n", t.median / p.median);
    return 0;
}
