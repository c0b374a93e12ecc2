// The 3-D render test on a real X display (run under xvfb-run): its contexts come through Qt on
// native GL windows over the test windows; each scene's last frame, read back from its window,
// has drawn pixels and is kept in build/screenshots for a person to look at.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTest>

#include <map>
#include <mutex>
#include <string>

#include "lumen/gl_surface.h"
#include "lumen/lumen_state.h"
#include "lumen/three_d_test.h"
#include "lumen/video_tests.h"
#include "lumen/windows.h"
#include "tests/support/qt_test_main.h"

namespace lumen {
namespace {

TEST(ThreeDDisplay, RendersEverySceneOnX) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ASSERT_TRUE(UseNativeGlWindows());
    std::mutex mutex;
    std::map<std::string, QImage> last;
    std::map<std::string, int> frames;
    SetGlFrameHook([&](const std::string& scene, const QImage& frame) {
        std::lock_guard<std::mutex> lock(mutex);
        last[scene] = frame;
        ++frames[scene];
    });
    VideoTestSettings s;
    s.processors = 2;
    s.before = [] { ASSERT_TRUE(QTest::qWaitForWindowExposed(hwndParent->widget())); };
    const VideoTestOutcome out = RunVideoTestForTest("Three_D_Draw", s);
    SetGlFrameHook(nullptr);
    ASSERT_TRUE(out.finished_in_time);
    EXPECT_GT(out.ms, 0.0);
    EXPECT_GT(out.record.elapsed10_animation, 0.0);
    EXPECT_GT(out.record.triangles_per_sec, 0);
    EXPECT_GT(out.record.quads_per_sec, 0);
    EXPECT_EQ(numtriags[0], 9520);
    EXPECT_EQ(numquads[0], 9520);
    // Each wave thread shows its half; the other scenes every frame.
    EXPECT_EQ(frames["saddle"], 8);
    EXPECT_EQ(frames["gl_city"], 6);
    EXPECT_EQ(frames["InitTriags"], 180);
    EXPECT_EQ(frames["TPS"], 32 + 6 + 13 + 90);
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    for (const char* scene : {"saddle", "gl_city", "InitTriags", "TPS"}) {
        const QImage& f = last[scene];
        ASSERT_FALSE(f.isNull()) << scene;
        int drawn = 0;
        for (int y = 0; y < f.height(); y += 2) {
            for (int x = 0; x < f.width(); x += 2) drawn += (f.pixel(x, y) & 0xFFFFFFu) != 0 ? 1 : 0;
        }
        EXPECT_GT(drawn, 2000) << scene << ": nothing drawn";
        f.save(QStringLiteral(SCREENSHOT_DIR "/three_d-xcb-%1.png").arg(QLatin1String(scene)));
    }
    EXPECT_NE(GlRenderer(), "");
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }
