// The graphs drawn on pictures through the drawing layer, one of each form, kept in
// build/screenshots (graphs-*.png) for a person to look at: the bars come out in their set's
// colour at their recorded place, the turned axis caption inside its turned cell.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <string>

#include "kestrel/graphs/efficiency_graphs.h"
#include "kestrel/graphs/stat_graphs.h"
#include "tests/kestrel/graphs/graph_fixtures.h"
#include "tests/support/qt_test_main.h"

namespace {

using graphs::GraphDc;
using graphs::GraphOp;

void Save(const QImage& image, const std::string& name) {
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    ASSERT_TRUE(image.save(QStringLiteral(SCREENSHOT_DIR "/") + QString::fromStdString(name)));
}

// Every solid 5-wide bar of the list (pen and line in order) has its set's colour at its middle.
void ExpectBarsInTheirColours(const GraphDc& dc, const QImage& image) {
    gdi::Pen pen;
    int bars = 0;
    for (const GraphOp& op : dc.Ops()) {
        if (op.kind == GraphOp::kPen) pen = op.pen;
        if (op.kind != GraphOp::kLine || pen.width != 5 || (pen.style & gdi::PS_STYLE_MASK) != gdi::PS_SOLID ||
            op.to.x() - op.from.x() < 4)
            continue;
        const QPoint mid((op.from.x() + op.to.x()) / 2, op.from.y());
        if (!image.rect().contains(mid)) continue;
        EXPECT_EQ(image.pixel(mid) | 0xFF000000u, pen.colour) << mid.x() << "," << mid.y();
        ++bars;
    }
    EXPECT_GT(bars, 9);
}

TEST(GraphPictures, EachFormDrawnOnAPicture) {
    struct Stat {
        const char* name;
        void (*store)();
        int32_t efficiency_showing;
    } stats[] = {
        {"uniprocessor", kt::UniprocessorStore, 0},
        {"plain", kt::PlainStore, 0},
        {"scaling", [] { kt::ScalingStore(false); }, 1},
        {"os-scaling", [] { kt::ScalingStore(true); }, 1},
        {"10000x", kt::TenThousandfoldStore, 1},
    };
    for (const Stat& c : stats) {
        c.store();
        GraphDc dc(800);
        DrawStatGraphs(nullptr, QRect(0, 0, 800, 610), dc, c.efficiency_showing, 1);
        const QImage image = graphs::GraphPicture(dc, QSize(800, 610));
        Save(image, std::string("graphs-stat-") + c.name + ".png");
        ExpectBarsInTheirColours(dc, image);
    }

    for (int32_t regression : {0, 1}) {
        kt::ScalingStore(true);
        graph_view.regression = regression;
        GraphDc dc(800);
        DrawEfficiencyGraphs(nullptr, dc, 1, 0, 0, 800, 610);
        const QImage image = graphs::GraphPicture(dc, QSize(800, 610));
        Save(image, regression != 0 ? "graphs-scaling-regression-os.png" : "graphs-scaling-distribution-os.png");
        // "Scores" runs up from (10, 261) with its 12-pixel cell to the right (the axis labels stand
        // right of x 26).
        int ink = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < 26; ++x) {
                if (qGray(image.pixel(x, y)) > 128) continue;
                ++ink;
                EXPECT_TRUE(QRect(9, 200, 15, 63).contains(x, y)) << x << "," << y;
            }
        EXPECT_GT(ink, 20);
    }

    // A printer page at scale 6 (a 4800-pixel-wide page).
    kt::ScalingStore(true);
    GraphDc dc(4800);
    DrawStatGraphs(nullptr, QRect(0, 0, 800, 610), dc, 1, 0);
    const QImage page = graphs::GraphPicture(dc, QSize(4800, 3400));
    Save(page.scaled(1200, 850, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "graphs-stat-os-scaling-printer6.png");
    ExpectBarsInTheirColours(dc, page);
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }
