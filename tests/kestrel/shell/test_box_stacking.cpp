// Boxes raised while the progress window is up, on a real X display with a window manager that
// keeps stay-on-top windows above the others (run under xvfb-run; the manager is started here):
// what the screen shows where the box and the progress window overlap must be the box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/report/benchmark_reader.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/qt_host.h"
#include "platform/process.h"
#include "tests/kestrel/shell/shell_test_support.h"
#include "tests/support/qt_test_main.h"
#include "tests/support/window_manager.h"

namespace {

// The share of pixels in `area` (global coordinates) where the screen differs from the box's own
// picture of itself.
double ShareNotShowingTheBox(QMessageBox* mb, const QRect& area) {
    const QImage own = mb->grab().toImage();
    const QRect box(mb->mapToGlobal(QPoint(0, 0)), mb->size());
    const QRect part = area.intersected(box);
    if (part.isEmpty()) return -1.0;
    const QImage screen = mb->screen()->grabWindow(0, part.x(), part.y(), part.width(), part.height()).toImage();
    const qreal ratio = mb->devicePixelRatio();
    int differing = 0, all = 0;
    for (int y = 0; y < part.height(); ++y) {
        for (int x = 0; x < part.width(); ++x) {
            const QPoint at(x, y);
            const QPoint in_box = (part.topLeft() - box.topLeft() + at) * ratio;
            differing += screen.pixel(at * ratio) != own.pixel(in_box) ? 1 : 0;
            ++all;
        }
    }
    return double(differing) / std::max(1, all);
}

TEST(BoxStacking, BoxesStandAboveTheProgressWindow) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X display (xvfb-run -a)";
    if (kt::WindowManager().empty()) GTEST_SKIP() << "no window manager (scripts/deps installs openbox)";
    std::optional<kp::ChildProcess> wm = kt::StartWindowManager();
    ASSERT_TRUE(wm.has_value()) << "no window manager took a window";

    InstallBenchmarkReader();
    perflink.program_directory = KESTREL_BIN_DIR;
    MainWindow w;
    w.Init("");
    ASSERT_TRUE(kt::Until([&] { return w.StartupDone(); }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    InstallMainWindowBoxes([&w] { return &w; });

    w.host().OpenProgress("Memory Test");
    QWidget* progress = w.Progress();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(progress));
    // A counter window of the analyser stands in its place, shown after the progress window.
    QWidget counter(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    counter.setWindowTitle(QStringLiteral("% Processor Time"));
    counter.setGeometry(progress->mapToGlobal(QPoint(progress->width() / 2, -60)).x(),
                        progress->mapToGlobal(QPoint(0, -60)).y(), 150, 150);
    counter.setAutoFillBackground(true);
    counter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&counter));
    kt::Settle(300);

    // A box of the main window and one of the progress window: each stands above both.
    for (kp::Owner owner : {kp::Owner::Main, kp::Owner::Progress}) {
        std::vector<double> hidden;
        QTimer::singleShot(0, [&] {
            auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (mb == nullptr) return;
            if (QTest::qWaitForWindowExposed(mb)) {
                // What the screen shows once the manager has stacked the box (or after 10 s).
                kt::Until([&] {
                    hidden.clear();
                    for (QWidget* other : {progress, static_cast<QWidget*>(&counter)}) {
                        hidden.push_back(ShareNotShowingTheBox(mb, QRect(other->mapToGlobal(QPoint(0, 0)), other->size())));
                    }
                    return std::all_of(hidden.begin(), hidden.end(), [](double h) { return h >= 0.0 && h < 0.05; });
                });
            }
            mb->accept();
        });
        kp::MessageBox(owner, "Allocation Error!", "Memory Exception");
        ASSERT_EQ(hidden.size(), 2u) << "owner " << int(owner);
        for (size_t i = 0; i < 2; ++i) {
            const char* other = i == 0 ? "progress window" : "counter window";
            ASSERT_GE(hidden[i], 0.0) << "the box and the " << other << " do not overlap (owner " << int(owner) << ")";
            EXPECT_LT(hidden[i], 0.05) << "the " << other << " covers the box (owner " << int(owner) << ")";
        }
    }
    kp::SetMessageBoxBackend(nullptr);
    w.host().CloseProgress();
}

}  // namespace

int main(int argc, char** argv) {
    // Without a display the test is skipped rather than the program refused.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return kt::RunQtTests(argc, argv);
}
