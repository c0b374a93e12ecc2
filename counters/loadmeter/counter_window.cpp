#include "counters/loadmeter/counter_window.h"

#include <QApplication>
#include <QPainter>
#include <QThread>

#include <algorithm>

#include "shared/ui/screen_place.h"

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

CounterWindow::CounterWindow(const CounterPlace& place) : perProcessor_(place.perProcessor), enabled_(place.enabled) {
    setWindowTitle(QString::fromStdString(place.title));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    // The place is the whole window, caption included.
    PlaceOnScreen(this, QRect(place.x, place.y, std::max(1, place.width), std::max(CaptionHeight() + 1, place.height)));
}

int CounterWindow::MinimumWidth(const CounterPlace& place) {
    int width = CaptionWidth(QString::fromStdString(place.title));
    const QFontMetrics value(QApplication::font("QWidget"));
    for (const std::string& text : WidestCounterTexts(place)) {
        const int w = value.horizontalAdvance(QString::fromStdString(text));
        width = std::max(width, CounterClientWidth(w, text.size(), place.perProcessor, place.enabled) + 2);
    }
    return width;
}

void CounterWindow::SetText(const QString& text) {
    text_ = text;
    update();
}

void CounterWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setClipRect(rect());
    p.fillRect(rect(), Qt::white);
    PaintCaption(p);
    // The value below the caption, inside the frame line.
    p.setFont(font());
    p.setPen(Qt::black);
    const int x = CounterTextX(width() - 2, size_t(text_.size()), perProcessor_, enabled_) + 1;
    p.drawText(x, CaptionHeight() + kCounterTextY + p.fontMetrics().ascent(), text_);
}

QtAnalyserHost::~QtAnalyserHost() {
    for (CounterWindow* w : windows_) delete w;
}

void QtAnalyserHost::Box(const kp::BoxRequest& box) {
    OnGuiThread([&box] { kp::MessageBox(box); });
}

int QtAnalyserHost::CounterWindowWidth(const CounterPlace& place) {
    int width = 1;
    OnGuiThread([&] { width = CounterWindow::MinimumWidth(place); });
    return width;
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
