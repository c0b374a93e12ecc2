// The progress window's geometry, label and painting, on its surface (offscreen).
#include <gtest/gtest.h>

#include <QPaintEvent>
#include <QTest>
#include <vector>

#include "shared/ui/scroller.h"
#include "tests/support/qt_test_main.h"

namespace {

TEST(ScrollerLayout, GeometryOfAFixedClient) {
    // 280 x 60: m = 10, H/6 = 10.
    ScrollerGeometry g = ScrollerLayout(QRect(0, 0, 280, 60), 0.0);
    EXPECT_EQ(g.bar, QRect(QPoint(10, 10), QPoint(269, 49)));
    EXPECT_EQ(g.filled.right(), 9);  // at 0: nothing beyond the margin
    EXPECT_EQ(g.penWidth, (60 - 15) - 10);
    g = ScrollerLayout(QRect(0, 0, 280, 60), 0.5);
    EXPECT_EQ(g.filled.right(), int((280 - 10) * 0.5 + 10) - 10);
    g = ScrollerLayout(QRect(0, 0, 280, 60), 1.0);
    EXPECT_EQ(g.filled.right(), 270);
    EXPECT_EQ(ScrollerLayout(QRect(0, 0, 100, 20), 0.0).penWidth, 0);  // never negative
}

TEST(ScrollerPercent, LongTestsRoundHalfUpShortTestsDoNot) {
    EXPECT_EQ(ScrollerPercent(0.995, false), 99);
    EXPECT_EQ(ScrollerPercent(0.995, true), 100);
    EXPECT_EQ(ScrollerPercent(5.0 / 9.0, true), 56);
    EXPECT_EQ(ScrollerPercent(5.0 / 9.0, false), 55);
    EXPECT_EQ(ScrollerPercent(0.0, false), 0);
    EXPECT_EQ(ScrollerPercent(1.0, true), 100);
}

class ScrollerTest : public ::testing::Test {
protected:
    void SetUp() override {
        w.resize(w.WindowRectFor(QRect(0, 0, 280, 60)).size());  // a client area of 280 x 60
        w.show();
    }
    QRgb At(int x, int y) const { return w.surface().pixel(x, y); }
    // The label box's middle, left of the text.
    QPoint LabelCorner() const { return {140 - 6, 30}; }
    Scroller w{QStringLiteral("Testing Memory"), false};
};

TEST_F(ScrollerTest, StartsGreyWithAWhiteBar) {
    EXPECT_EQ(w.windowTitle(), "Testing Memory");
    EXPECT_EQ(At(2, 2), qRgb(192, 192, 192));
    EXPECT_EQ(At(20, 15), qRgb(255, 255, 255));
}

TEST_F(ScrollerTest, TheFilledPartGrowsOnlyUntilTheNextTest) {
    w.SetPercent(0.4);
    EXPECT_EQ(At(100, 15), qRgb(0, 0, 0));
    EXPECT_EQ(At(200, 15), qRgb(255, 255, 255));
    w.SetPercent(0.2);  // a paint never clears the filled part
    EXPECT_EQ(At(100, 15), qRgb(0, 0, 0));
    w.ScrollProc(10);
    EXPECT_EQ(w.windowTitle(), "Starting Next Test ...");
    EXPECT_EQ(w.percent(), 0.0);
    EXPECT_EQ(At(100, 15), qRgb(255, 255, 255));
}

TEST_F(ScrollerTest, LabelColoursSwitchAtFiftyThreePercent) {
    w.SetPercent(0.2);
    const QPoint c = LabelCorner();
    EXPECT_EQ(At(c.x(), c.y()), qRgb(255, 255, 255));  // white box, black text
    w.SetPercent(0.9);
    EXPECT_EQ(At(c.x(), c.y()), qRgb(0, 0, 0));  // black box, white text
    const QImage before = w.surface().copy();
    w.SetPercent(0.53);  // exactly: the label is not drawn, the box is left as it was
    const int filledTo = ScrollerLayout(QRect(0, 0, 280, 60), 0.53).filled.right();
    for (int y = 20; y < 40; ++y) {
        for (int x = filledTo + 1; x < 180; ++x) ASSERT_EQ(At(x, y), before.pixel(x, y)) << x << "," << y;
    }
}

TEST_F(ScrollerTest, TheLabelShowsOnlyTheNumberOfItsLastPaint) {
    Scroller fresh{QStringLiteral("Testing Memory"), false};
    fresh.resize(w.size());
    fresh.show();
    for (double later : {0.24, 0.88}) {
        w.SetPercent(later - 0.07);
        w.SetPercent(later);
        fresh.SetPercent(later);
        EXPECT_EQ(w.surface(), fresh.surface()) << later;
    }
}

// The regions the window was asked to paint.
class PaintLog : public QObject {
public:
    std::vector<QRegion> regions;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) regions.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }
};

// A paint of what the window already shows would make the next one wait for the display (the
// thread leaves the processor between the memory test's passes): only what changed is painted.
TEST_F(ScrollerTest, APaintShowsOnlyWhatChanged) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.SetPercent(0.2);
    PaintLog log;
    w.installEventFilter(&log);
    const QRect client(0, 0, 280, 60);
    const int filled = ScrollerLayout(client, 0.2).filled.right();
    ASSERT_EQ(ScrollerLayout(client, 0.201).filled.right(), filled);
    w.SetPercent(0.201);  // neither the filled part nor the label moves
    EXPECT_TRUE(log.regions.empty());
    const ScrollerGeometry g = ScrollerLayout(client, 0.205);  // one column more, the same label
    ASSERT_EQ(g.filled.right(), filled + 1);
    w.SetPercent(0.205);
    ASSERT_EQ(log.regions.size(), 1u);
    const QPoint at = w.ClientRect().topLeft();  // the picture lies below the caption
    EXPECT_EQ(log.regions[0], QRegion(QRect(QPoint(filled + 1, g.filled.top()), g.filled.bottomRight()).translated(at)));
    w.SetPercent(0.3);  // a new label: painted with the part filled
    ASSERT_EQ(log.regions.size(), 2u);
    EXPECT_FALSE(log.regions[1].contains(at + QPoint(2, 2)));  // the grey margin stays as shown
    Scroller fresh{QStringLiteral("Testing Memory"), false};
    fresh.resize(w.size());
    fresh.show();
    fresh.SetPercent(0.3);
    EXPECT_EQ(w.surface(), fresh.surface());
    w.removeEventFilter(&log);
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }
