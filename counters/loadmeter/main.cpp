// loadmeter: the real-time analyser. Started by the main program or the video test program
// with its token line, it samples the counters the caller enables while a test runs, shows them
// in a strip of small top-most windows and answers every record of the caller with the averages
// of the interval the record ends.
#include <QApplication>
#include <QSocketNotifier>
#include <QStyle>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "counters/loadmeter/analyser.h"
#include "counters/loadmeter/counter_library.h"
#include "counters/loadmeter/counter_window.h"
#include "platform/end_signals.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"
#include "platform/process.h"
#include "platform/processors.h"
#include "shared/perf_link.h"
#include "shared/ui/program_start.h"
#include "shared/ui/qt_message_box.h"

namespace {

kp::BoxRequest LibraryBox(const char* text) {
    kp::BoxRequest box;
    box.owner = kp::Owner::None;
    box.text = text;
    box.caption = "Library Exception";
    box.icon = kp::Icon::Exclamation;
    return box;
}

// Loads the counter library and runs the analyser; the exit code.
int RunLoadmeter(AnalyserHost& host, Analyser& analyser, int h) {
    CounterLibrary::Status status = CounterLibrary::Status::Missing;
    std::unique_ptr<CounterLibrary> library =
        CounterLibrary::Load(kp::ProgramDirectory() + "/" + kAnalyserCounterLibrary, &status);
    if (status == CounterLibrary::Status::Missing) {
        host.Box(LibraryBox("Library file keschk.dll failed to load (if condition persists, reinstall the file)"));
        return 0;
    }
    if (status == CounterLibrary::Status::EntryPointMissing) {
        // Without its counters the analyser would never connect: it ends.
        host.Box(LibraryBox("Library functions failed to load at perf_id"));
        return 1;
    }
    return analyser.RunAnalyser(*library, h);
}

}  // namespace

int main(int argc, char** argv) {
    // The analyser does not outlive the program that started it.
    kp::EndWithParent();
    ChooseX11WhenDisplayed();
    RequireDisplay();
    QApplication app(argc, argv);
    setlocale(LC_NUMERIC, "C");
    kp::MarkUiThread();
    InstallQtMessageBoxes(nullptr);
    app.setQuitOnLastWindowClosed(false);

    if (std::optional<kp::BoxRequest> refusal = CheckCommandLine(std::vector<std::string>(argv + 1, argv + argc))) {
        kp::MessageBox(*refusal);
        return 1;
    }

    kp::SetCurrentThreadPriority(1);
    const int h = WindowHeight(app.style()->pixelMetric(QStyle::PM_TitleBarButtonSize));
    QtAnalyserHost host;
    Analyser analyser(host);

    // The end of the session (SIGTERM, SIGHUP, the desktop's quit) stops the run, which then
    // closes its windows; the program ends with exit code 1, in any case within 3 s. The
    // desktop's request to save its state comes also at a mere checkpoint: nothing ends there.
    std::atomic<bool> sessionEnded{false};
    const int signal_pipe = kp::CatchEndSignals({SIGTERM, SIGHUP});
    if (signal_pipe < 0) return 1;
    QSocketNotifier notifier(signal_pipe, QSocketNotifier::Read);
    auto endSession = [&] {
        if (sessionEnded.exchange(true)) return;
        analyser.StopAnalyser();
        QTimer::singleShot(3000, &app, [&app] { app.exit(1); });
    };
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        if (kp::TakeEndSignals()) endSession();
    });
    WhenAskedToQuit(&app, [&] {
        endSession();
        return true;
    });

    // Boxes that the counter library raised on the sampling threads are shown here.
    QTimer deferred;
    QObject::connect(&deferred, &QTimer::timeout, &app, [] { kp::RunDeferredUiActions(); });
    deferred.start(200);

    // The run goes on a thread of its own; this thread keeps the windows.
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread controller([&] {
        const int code = RunLoadmeter(host, analyser, h);
        QMetaObject::invokeMethod(&app, [&app, &sessionEnded, code] { app.exit(sessionEnded ? 1 : code); },
                                  Qt::QueuedConnection);
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        done.notify_all();
    });
    const int code = app.exec();
    // The run has ended, or is held up in a box: it is not waited for long.
    {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait_for(lock, std::chrono::seconds(1), [&] { return finished; });
        if (finished) {
            lock.unlock();
            controller.join();
        } else {
            controller.detach();
        }
    }
    std::fflush(nullptr);
    std::_Exit(code);
}
