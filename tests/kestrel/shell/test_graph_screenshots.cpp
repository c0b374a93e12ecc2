// The graph windows on a real X display (run under xvfb-run): a saved stepwise scaling run with
// its OS pass and statistics opened from the command line, then pictures of the totals,
// statistics and scaling windows in build/screenshots (graph-*.png) for a person to look at, and
// the statistics window again at today's scores.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QSet>
#include <QTest>

#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/graph_windows.h"
#include "kestrel/shell/main_window.h"
#include "tests/kestrel/graphs/graph_fixtures.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/qt_test_main.h"

namespace {

QImage Shot(QWidget* w, const char* name) {
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    const QImage shot = kt::ShownPicture(w);
    EXPECT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    EXPECT_TRUE(shot.save(QStringLiteral(SCREENSHOT_DIR "/") + QString::fromLatin1(name)));
    EXPECT_EQ(shot.size(), w->size() * w->devicePixelRatio()) << name;
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3) colours.insert(shot.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 8) << name;
    return shot;
}

// Pixels of a colour in a rectangle of a picture.
int Count(const QImage& shot, QRect r, QRgb colour) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) n += (shot.pixel(x, y) | 0xFF000000u) == colour ? 1 : 0;
    }
    return n;
}

TEST(GraphScreenshots, TotalsStatisticsAndScalingWindows) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    InstallBenchmarkReader();
    MainWindow w;
    w.Init(KESTREL_CORPUS_DIR "/stepwise_os.bmf");
    ASSERT_TRUE(kt::Until([&] { return w.StartupDone(); }));
    prefs.graphvalue = 1;
    w.Command(CMD_RESULT_COMPARISONS);
    TotalsWindow* totals = TotalsGraphWindow();
    ASSERT_NE(totals, nullptr);
    const QImage t = Shot(totals, "graph-totals.png");
    // The own (magenta) and comparison (blue) processor bars.
    EXPECT_GT(Count(t, QRect(83, 300, 25, 150), 0xFFFF00FFu), 100);
    EXPECT_GT(Count(t, QRect(108, 450, 25, 40), 0xFF0000FFu), 100);

    QTest::mouseClick(totals->Button("Scaling Chart"), Qt::LeftButton);
    ASSERT_NE(ScalingGraphWindow(), nullptr);
    Shot(ScalingGraphWindow(), "graph-scaling.png");
    ScalingGraphWindow()->close();

    QTest::mouseClick(totals->Button("Show Statistics"), Qt::LeftButton);
    ASSERT_NE(StatisticsGraphWindow(), nullptr);
    const QImage s = Shot(StatisticsGraphWindow(), "graph-statistics.png");
    // Bars in each of the four graphs (the system set is blue on the screen).
    for (QRect quarter : {QRect(100, 0, 300, 320), QRect(500, 0, 300, 320), QRect(100, 330, 300, 300),
                          QRect(500, 330, 300, 300)}) {
        EXPECT_GT(Count(s, quarter & s.rect(), 0xFF0000FFu), 200) << quarter.x() << "," << quarter.y();
    }
    StatisticsGraphWindow()->close();

    // At today's scores, 10^4 times the reference machine's: six- and seven-digit axis labels.
    kt::TenThousandfoldStore();
    QTest::mouseClick(totals->Button("Show Statistics"), Qt::LeftButton);
    ASSERT_NE(StatisticsGraphWindow(), nullptr);
    Shot(StatisticsGraphWindow(), "graph-statistics-today.png");
    CloseGraphWindows();
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }
