#include "lumen/video_tests.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

#include "lumen/animation.h"
#include "lumen/effects_test.h"
#include "lumen/figure_tests.h"
#include "lumen/font_bitmap_tests.h"
#include "lumen/fractal_test.h"
#include "lumen/three_d_test.h"
#include "lumen/window_invocation.h"
#include "lumen/windows.h"
#include "platform/processors.h"

namespace lumen {

const VideoTest videofunc[9] = {
    {"KESTREL Figure Drawing Test", "FigureDraw", &FigureDraw},
    {"KESTREL Animation Test", "AnimationDraw", &AnimationDraw},
    {"KESTREL Font Scrolling Test", "FontScrollDraw", &FontScrollDraw},
    {"KESTREL Line/Arc Drawing Test", "LineArcDraw", &LineArcDraw},
    {"KESTREL BMP Drawing Test", "BMPDraw", &BMPDraw},
    {"KESTREL Special Effects Test", "DoSpecEffect", &DoSpecEffect},
    {"KESTREL Window Invocation Test", "WindowDraw", &WindowDraw},
    {"KESTREL Fractal Draw Test", "FractalTestDraw", &FractalTestDraw},
    {"KESTREL 3-D Render Test", "Three_D_Draw", &Three_D_Draw},
};

int FindVideoTest(const std::string& name) {
    for (int i = 0; i < 9; ++i) {
        if (name == videofunc[i].name) return i;
    }
    return -1;
}

double& ElapsedOf(TIMES& record, int i) {
    double* const slot[9] = {&record.elapsed1, &record.elapsed2, &record.elapsed3, &record.elapsed4, &record.elapsed5,
                             &record.elapsed6, &record.elapsed7, &record.elapsed8, &record.elapsed9};
    return *slot[i];
}

std::string TestTitle(int i) {
    char title[128];
    std::snprintf(title, sizeof title, "%s - %d%% finished", videofunc[i].title, int(i * (1.0 / 9.0) * 100.0));
    return title;
}

VideoTestOutcome RunVideoTestForTest(const std::string& name, const VideoTestSettings& settings) {
    VideoTestOutcome outcome;
    const int index = FindVideoTest(name);
    if (index < 0 || videofunc[index].run == nullptr) return outcome;

    laptop_mode_on = settings.laptop;
    ApplyLaptopMode();
    if (settings.rect) crect = *settings.rect;
    count = settings.repeat;
    pnumber = settings.processors;
    tpriority = settings.priority;
    use_high_precision = settings.high_precision;
    times = TIMES{};
    times.count = count;
    times.processor_number = pnumber;
    times.priority = tpriority;
    times.use_highfreq_timer = use_high_precision;
    for (auto& t : terminate) t = 0;

    Window* main = CreateMainWindow();
    main->InvalidateAndUpdate();
    main->SetTitle(TestTitle(index));
    if (settings.before) settings.before();
    test_end_hook = settings.at_end;
    clock_start_hook = settings.at_clock_start;

    std::atomic<bool> done{false};
    double ms = -1.0;
    std::thread sequencer([&] {
        kp::SetCurrentThreadPriority(1);
        ms = videofunc[index].run();
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done) {
            loop.quit();
            return;
        }
        if (clock.elapsed() > settings.deadline_ms) {
            // A test that does not end by itself: its threads are stopped through their flags.
            outcome.finished_in_time = false;
            for (auto& t : terminate) t = 1;
        }
    });
    poll.start(10);
    loop.exec();
    sequencer.join();
    test_end_hook = nullptr;
    clock_start_hook = nullptr;
    outcome.ms = ms;
    ElapsedOf(times, index) = ms;
    // As the sequencer does after the special effects test.
    if (index == 5) times.num_effects_rendered = int32_t(num_effects_rendered);
    outcome.record = times;
    return outcome;
}

}  // namespace lumen
