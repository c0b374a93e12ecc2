#include "counters/loadmeter/counter_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
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

namespace {

// The caption's font: the window's own, bold.
QFont CaptionFont(const QFont& base) {
    QFont f = base;
    f.setBold(true);
    return f;
}

constexpr int kCaptionMargin = 4;  // around the caption's text

}  // namespace

CounterWindow::CounterWindow(const CounterPlace& place)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint),
      perProcessor_(place.perProcessor),
      enabled_(place.enabled) {
    setWindowTitle(QString::fromStdString(place.title));
    setCursor(Qt::ArrowCursor);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    // The place is the whole window, caption included.
    PlaceOnScreen(this, QRect(place.x, place.y, std::max(1, place.width), std::max(CaptionHeight() + 1, place.height)));
}

int CounterWindow::CaptionHeight() const { return QFontMetrics(CaptionFont(font())).height() + kCaptionMargin; }

int CounterWindow::MinimumWidth(const CounterPlace& place) {
    const QFont font = QApplication::font("QWidget");
    const int caption = QFontMetrics(CaptionFont(font)).horizontalAdvance(QString::fromStdString(place.title));
    int width = caption + 2 * kCaptionMargin + 2;
    const QFontMetrics value(font);
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
    // The caption: the title on the selection colour, a frame line around the whole window.
    const int caption = CaptionHeight();
    p.fillRect(QRect(0, 0, width(), caption), palette().color(QPalette::Active, QPalette::Highlight));
    p.setFont(CaptionFont(font()));
    p.setPen(palette().color(QPalette::Active, QPalette::HighlightedText));
    p.drawText(QRect(kCaptionMargin + 1, 0, width() - 2 * kCaptionMargin - 2, caption), Qt::AlignLeft | Qt::AlignVCenter,
               windowTitle());
    p.setPen(palette().color(QPalette::Shadow));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    // The value below it, inside the frame line.
    p.setFont(font());
    p.setPen(Qt::black);
    const int x = CounterTextX(width() - 2, size_t(text_.size()), perProcessor_, enabled_) + 1;
    p.drawText(x, caption + kCounterTextY + p.fontMetrics().ascent(), text_);
}

void CounterWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

void CounterWindow::mousePressEvent(QMouseEvent* event) {
    grabbed_ = event->button() == Qt::LeftButton && event->position().y() < CaptionHeight()
                   ? event->globalPosition().toPoint() - pos()
                   : QPoint(-1, -1);
}

void CounterWindow::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && grabbed_ != QPoint(-1, -1)) move(event->globalPosition().toPoint() - grabbed_);
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
