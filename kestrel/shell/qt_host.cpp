#include "kestrel/shell/qt_host.h"

#include <unistd.h>

#include <cerrno>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/panes.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/testswitch.h"
#include "platform/ui_thread.h"
#include "shared/ui/qt_message_box.h"
#include "shared/ui/screen_place.h"

QWidget* BoxOwner(kp::Owner owner, ::MainWindow* window) {
    switch (owner) {
        case kp::Owner::None: return nullptr;
        case kp::Owner::Progress:
            if (window != nullptr && window->Progress() != nullptr) return window->Progress();
            break;
        case kp::Owner::Active:
            if (QWidget* active = QApplication::activeWindow()) return active;
            break;
        case kp::Owner::Main: break;
    }
    return window;
}

void InstallMainWindowBoxes(std::function<::MainWindow*()> window) {
    InstallQtMessageBoxes([window](kp::Owner owner) { return BoxOwner(owner, window()); },
                          [window]() -> QWidget* {
                              ::MainWindow* w = window();
                              return w != nullptr ? w->Progress() : nullptr;
                          });
    // A program ending without questions shows no box: each is answered at once by its most
    // passive button.
    kp::BoxBackend shown = kp::SetMessageBoxBackend(nullptr);
    if (!shown) return;  // the test log answers every box already
    kp::SetMessageBoxBackend([window, shown](const kp::BoxRequest& box) {
        ::MainWindow* w = window();
        if (w == nullptr || !w->AnswersWithoutAsking()) return shown(box);
        switch (box.buttons) {
            case kp::Buttons::Ok: return kp::Answer::Ok;
            case kp::Buttons::YesNo: return kp::Answer::No;
            case kp::Buttons::OkCancel:
            case kp::Buttons::YesNoCancel: break;
        }
        return kp::Answer::Cancel;
    });
}

QtHost::QtHost(::MainWindow& window) : window_(window) {
    qApp->installEventFilter(this);
    SetEngineHost(this);
}

QtHost::~QtHost() {
    SetEngineHost(nullptr);
    qApp->removeEventFilter(this);
    delete progress_;
}

// During a run the tests write their report lines and the status line between tests, never
// inside a timed pass: what that changes in the main window (the pane's scroll bars, the status
// line) is painted there and then, so the pump between passes finds nothing of the main window to
// paint and the passes run alone (the progress window shows the progress).
void QtHost::PaintMainWindowNow() {
    if (run.testrunning != 0 && kp::OnUiThread()) QCoreApplication::sendPostedEvents(&window_, QEvent::UpdateRequest);
}

void QtHost::ReportAppended(bool testRunning) {
    window_.Report()->LinesChanged(testRunning);
    PaintMainWindowNow();
}

void QtHost::ReportCleared() { window_.Report()->LinesCleared(); }

void QtHost::SetReportTitle(const std::string& title) {
    window_.Report()->SetCaption(QString::fromStdString(title));
}

void QtHost::EnableCommand(int id, bool enabled) {
    if (QAction* a = window_.Action(id)) a->setEnabled(enabled);
}

void QtHost::SetProgress(double fraction) {
    if (progress_) progress_->SetPercent(fraction);
}

void QtHost::SetProgressCaption(const std::string& caption) {
    if (progress_) progress_->setWindowTitle(QString::fromStdString(caption));
}

void QtHost::OpenProgress(const std::string& caption) {
    if (progress_) return;
    // Over the main window: a quarter in from its left, halfway down, half its client width; the
    // caption stands above that client area.
    const MainWindowFacts m = MainWindow();
    progress_ = new Scroller(QString::fromStdString(caption), prefs.valuelongtest != 0);
    PlaceOnScreen(progress_, progress_->WindowRectFor(QRect(m.left + m.clientWidth / 4, m.top + m.clientHeight / 2,
                                                            m.clientWidth / 2, std::max(m.clientHeight / 10, 70))));
    progress_->show();
}

void QtHost::CloseProgress() { delete progress_; }

namespace {

// Ends a wait once the watched window has painted while the window system shows it.
class PaintedOnScreen : public QObject {
public:
    PaintedOnScreen(QWidget* window, QEventLoop* wait) : window_(window), wait_(wait) { window->installEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Paint && window_->windowHandle() != nullptr &&
            window_->windowHandle()->isExposed()) {
            painted = true;
            wait_->quit();
        }
        return false;
    }

private:
    QWidget* window_;
    QEventLoop* wait_;
};

// How long a new progress window is waited for: a window system that does not show it by then
// gets on without it.
constexpr int kShownWaitMs = 2000;

}  // namespace

void QtHost::ShowProgressDrawn() {
    if (!progress_) return;
    // A window is drawn once the window system shows it (the window manager maps it), which it
    // tells by an event: until then what the window paints reaches no screen.
    QEventLoop wait;
    PaintedOnScreen watch(progress_, &wait);
    progress_->update();
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    QObject::connect(progress_, &QObject::destroyed, &wait, &QEventLoop::quit);
    limit.start(kShownWaitMs);
    wait.exec(QEventLoop::ExcludeSocketNotifiers);
    if (progress_) progress_->removeEventFilter(&watch);
}

void QtHost::ProgressNextTest() {
    if (progress_) progress_->ScrollProc(10);
}

void QtHost::PumpPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

// While a file is read, the windows are painted and take input; a command given meanwhile (a
// menu item, a key, a button, the close box) is held by the main window until the load is over.
// The program's sockets wait.
void QtHost::RepaintDuringRead() { QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers); }

void QtHost::Sleep(int ms) {
    if (run.testrunning == 0 || !kp::OnUiThread()) {
        kp::Sleep(ms);
        return;
    }
    const double scaled_ms = ms * kp::TestSleepScale();
    if (ms <= 0 || scaled_ms <= 0.0) return;
    using Clock = std::chrono::steady_clock;
    constexpr auto kSlice = std::chrono::milliseconds(10);
    const Clock::time_point end = Clock::now() + std::chrono::microseconds(int64_t(scaled_ms * 1000.0));
    for (;;) {
        PumpPending();
        const Clock::time_point now = Clock::now();
        if (now >= end) return;
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, kSlice));
    }
}

bool QtHost::eventFilter(QObject* watched, QEvent* event) {
    if (run.testrunning == 0) return false;
    switch (event->type()) {
        case QEvent::Shortcut: {
            // The main window's accelerators (its actions, the menu bar's mnemonics).
            const auto* w = qobject_cast<QWidget*>(watched);
            return qobject_cast<QAction*>(watched) != nullptr || (w != nullptr && w->window() == &window_);
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            // The menus stay shut.
            return qobject_cast<QMenuBar*>(watched) != nullptr || qobject_cast<QMenu*>(watched) != nullptr;
        default:
            return false;
    }
}

ScreenFacts QtHost::Screen() {
    ScreenFacts s;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        s.width = screen->geometry().width();
        s.height = screen->geometry().height();
        s.bitsPerPixel = screen->depth();
    }
    return s;
}

void QtHost::SetStatusText(const std::string& text) {
    window_.Status()->SetText(QString::fromStdString(text));
    PaintMainWindowNow();
}

MainWindowFacts QtHost::MainWindow() { return window_.Facts(); }

void QtHost::PostCommand(int id) { window_.PostCommand(id); }

void QtHost::RunGlance() {
    // The viewer runs on its own: it is neither waited for nor ended with this program (the
    // list is never destroyed, so no child is killed at exit). A viewer is reaped once it ends:
    // the event loop watches for its end, and only that viewer is waited for.
    static auto* viewers = new std::vector<kp::ChildProcess>;
    const auto reap = [](pid_t pid) {
        std::erase_if(*viewers, [pid](kp::ChildProcess& c) { return c.pid() == pid && !c.Alive(); });
    };
    std::erase_if(*viewers, [](kp::ChildProcess& c) { return !c.Alive(); });
    // A viewer that cannot be started is reported with the system's reason.
    const std::string path = SuiteProgramDirectory() + "/glance";
    int error = 0;
    auto child = kp::ChildProcess::Spawn(path, {path}, &error);
    if (!child) {
        ShowErrorMsg(error != 0 ? error : ENOENT);
        return;
    }
    const pid_t pid = child->pid();
    const int watch = child->OpenEndWatch();
    viewers->push_back(std::move(*child));
    if (watch >= 0) {
        auto* ended = new QSocketNotifier(watch, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(ended, &QSocketNotifier::activated, ended, [ended, watch, pid, reap] {
            reap(pid);
            ended->setEnabled(false);
            ended->deleteLater();
            close(watch);
        });
    } else {
        // No end to watch for (an old system): looked at every second until it has ended.
        auto* look = new QTimer(QCoreApplication::instance());
        QObject::connect(look, &QTimer::timeout, look, [look, pid, reap] {
            reap(pid);
            const auto same = [pid](const kp::ChildProcess& c) { return c.pid() == pid; };
            if (std::none_of(viewers->begin(), viewers->end(), same)) look->deleteLater();
        });
        look->start(1000);
    }
}

void QtHost::Beep() { QApplication::beep(); }

void QtHost::SetDriveMenuItem(int command, const std::string& text, bool checked) {
    window_.SetDriveMenuItem(command, text, checked);
}
