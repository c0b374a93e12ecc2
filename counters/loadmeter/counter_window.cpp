#include "counters/loadmeter/counter_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QStyle>
#include <QThread>

#include <algorithm>

namespace {

// Runs f on the user-interface thread and waits for it.
template <typename F>
void OnGuiThread(F f) {
    if (QThread::currentThread() == qApp->thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
    }
}

}  // namespace

CounterWindow::CounterWindow(const CounterPlace& place)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      perProcessor_(place.perProcessor),
      enabled_(place.enabled) {
    setWindowTitle(QString::fromStdString(place.title));
    setCursor(Qt::ArrowCursor);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    // The place is the whole window, caption included.
    const int caption = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    move(place.x, place.y);
    resize(place.width, std::max(1, place.height - caption));
}

void CounterWindow::SetText(const QString& text) {
    text_ = text;
    update();
}

void CounterWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setClipRect(rect());
    p.fillRect(rect(), Qt::white);
    p.setPen(Qt::black);
    const int x = CounterTextX(width(), size_t(text_.size()), perProcessor_, enabled_);
    p.drawText(x, kCounterTextY + p.fontMetrics().ascent(), text_);
}

void CounterWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

QtAnalyserHost::~QtAnalyserHost() {
    for (CounterWindow* w : windows_) delete w;
}

void QtAnalyserHost::Box(const kp::BoxRequest& box) {
    OnGuiThread([&box] { kp::MessageBox(box); });
}

bool QtAnalyserHost::CreateCounterWindows(const std::vector<CounterPlace>& places) {
    OnGuiThread([this, &places] {
        for (const CounterPlace& place : places) {
            auto* w = new CounterWindow(place);
            w->show();
            std::lock_guard<std::mutex> lock(mutex_);
            windows_.push_back(w);
        }
    });
    return true;
}

void QtAnalyserHost::ShowCounterText(int window, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window < 0 || size_t(window) >= windows_.size()) return;
    CounterWindow* w = windows_[size_t(window)];
    const QString t = QString::fromStdString(text);
    // Dropped when the window has gone by the time the call arrives.
    QMetaObject::invokeMethod(w, [w, t] { w->SetText(t); }, Qt::QueuedConnection);
}

void QtAnalyserHost::DestroyCounterWindows() {
    OnGuiThread([this] {
        std::vector<CounterWindow*> gone;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            gone.swap(windows_);
        }
        for (CounterWindow* w : gone) delete w;
    });
}
