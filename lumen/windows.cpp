#include "lumen/windows.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QLinearGradient>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "lumen/frame.h"
#include "lumen/generator.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"

namespace lumen {

const WindowClassInfo& ClassInfo(WindowClass cls) {
    static const WindowClassInfo kClasses[] = {
        {"lumen", 0xFFFFFFFFu},         {"KESTRELCHILD", 0xFFFFFFFFu}, {"julia", 0xFF000000u},
        {"Animate", qRgb(82, 46, 51)},  {"GL1", 0xFFFFFFFFu},          {"GL2", 0xFF000000u},
        {"SpecEffect3", 0xFF000000u},
    };
    return kClasses[int(cls)];
}

namespace {

// A widget of a window class: keeps its handle's screen rectangle in step with its place.
template <class Base, WindowClass kClass>
class ClassWidget : public Base {
public:
    static constexpr WindowClass kWindowClass = kClass;
    template <class... Args>
    explicit ClassWidget(Window* handle, Args&&... args) : Base(std::forward<Args>(args)...), handle_(handle) {}

protected:
    void moveEvent(QMoveEvent* e) override {
        Base::moveEvent(e);
        handle_->RefreshScreenRect();
    }
    void resizeEvent(QResizeEvent* e) override {
        Base::resizeEvent(e);
        handle_->RefreshScreenRect();
    }
    void paintEvent(QPaintEvent* e) override {
        handle_->CountPaint();
        Base::paintEvent(e);
    }
    Window* handle_;
};

// The program icon ("videoicon"): a screen showing a picture, on its stand.
QIcon VideoIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 70));
    p.drawRect(QRectF(12, 24, 8, 4));
    p.drawRoundedRect(QRectF(6, 27, 20, 4), 1.5, 1.5);
    p.drawRoundedRect(QRectF(1, 3, 30, 22), 3, 3);
    QLinearGradient sky(0, 6, 0, 22);
    sky.setColorAt(0, QColor(30, 60, 160));
    sky.setColorAt(1, QColor(80, 190, 230));
    p.setBrush(sky);
    p.drawRect(QRectF(4, 6, 24, 16));
    p.setBrush(QColor(255, 200, 40));
    p.drawEllipse(QRectF(19, 8, 6, 6));
    p.setBrush(QColor(200, 40, 50));
    const QPointF hill[3] = {QPointF(5, 22), QPointF(13, 11), QPointF(21, 22)};
    p.drawPolygon(hill, 3);
    return QIcon(pm);
}

// A top-level window whose whole client area is a surface. Every top-level window of the program
// carries the program icon.
class SurfaceTopLevel : public QWidget {
public:
    explicit SurfaceTopLevel(std::shared_ptr<gdi::Surface> surface)
        : client_(new gdi::SurfaceWidget(std::move(surface), this)) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setWindowIcon(VideoIcon());
    }
    gdi::SurfaceWidget* client() const { return client_; }

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        client_->setGeometry(rect());
    }

private:
    gdi::SurfaceWidget* client_;
};

// "lumen": the main window. Its close ends the program; its timer shows the boxes that other
// threads asked for.
class MainWindowWidget : public ClassWidget<SurfaceTopLevel, WindowClass::Main> {
public:
    MainWindowWidget(Window* handle, std::shared_ptr<gdi::Surface> surface)
        : ClassWidget(handle, std::move(surface)) {
        QObject::connect(&deferred_, &QTimer::timeout, this, [] { kp::RunDeferredUiActions(); });
        deferred_.start(200);
    }

protected:
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        // Gone from the screen at once, while the end waits for the sequencer to let go of the
        // analyser link.
        hide();
        Main_OnDestroy();
    }

private:
    QTimer deferred_;
};

// "GL2": the 3-D test's top-level window, above every other. Only the test destroys it: a close
// asked for by the user is refused.
class Gl2Widget : public ClassWidget<SurfaceTopLevel, WindowClass::Gl2> {
public:
    Gl2Widget(Window* handle, std::shared_ptr<gdi::Surface> surface) : ClassWidget(handle, std::move(surface)) {
        setWindowFlag(Qt::WindowStaysOnTopHint);
    }

protected:
    void closeEvent(QCloseEvent* e) override { e->ignore(); }
};

// The captioned child windows, one type per class.
using KestrelChildWidget = ClassWidget<gdi::ChildFrame, WindowClass::KestrelChild>;
// "julia": a bordered child without a caption, all of it the surface.
using JuliaWidget = ClassWidget<gdi::SurfaceWidget, WindowClass::Julia>;
using AnimateWidget = ClassWidget<gdi::ChildFrame, WindowClass::Animate>;
using Gl1Widget = ClassWidget<gdi::ChildFrame, WindowClass::Gl1>;
using SpecEffect3Widget = ClassWidget<gdi::ChildFrame, WindowClass::SpecEffect3>;

QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

template <class W>
QWidget* MakeChild(Window* handle, const std::shared_ptr<gdi::Surface>& surface, QWidget* parent, bool overlapped) {
    return new W(handle, surface, parent, overlapped);
}

void PlaceWidget(QWidget* w, const Rect& outer) {
    if (auto* frame = qobject_cast<gdi::ChildFrame*>(w)) {
        frame->MoveWindow(ToQRect(outer));
    } else if (auto* plain = qobject_cast<gdi::SurfaceWidget*>(w)) {
        // The surface takes the new size at once, shown or not.
        plain->setGeometry(ToQRect(outer));
        const QSize size(outer.Width(), outer.Height());
        if (plain->surface()->Size() != size) plain->surface()->Resize(size);
    } else if (auto* top = dynamic_cast<SurfaceTopLevel*>(w)) {
        top->move(outer.left, outer.top);
        top->resize(outer.Width(), outer.Height());
        // The surface takes the client size even when the size did not change (it may have been
        // emptied in between).
        const std::shared_ptr<gdi::Surface>& surface = top->client()->surface();
        if (surface->Size() != top->size()) surface->Resize(top->size());
    }
}

void TakeMainWindowMetrics(Window* w) {
    QScreen* screen = w->widget()->screen();
    bits_per_pixel = screen != nullptr ? screen->depth() : 32;
    CheckDepth(bits_per_pixel);
    if (w->ClientSize().isEmpty()) return;
    gdi::TextMetrics tm;
    {
        gdi::Surface::Dc dc = w->GetDC();
        tm = dc->GetTextMetrics();
    }
    const TextMetrics m = MakeTextMetrics(tm.ave_char_width, tm.height, tm.external_leading, !tm.fixed_pitch);
    nXChar = m.nXChar;
    nYChar = m.nYChar;
    nCaps = m.nCaps;
    nMaxWidth = m.nMaxWidth;
}

}  // namespace

Window::Window(WindowClass cls, std::shared_ptr<gdi::Surface> surface) : cls_(cls), surface_(std::move(surface)) {}

Rect Window::ScreenRect() const {
    std::lock_guard<std::mutex> lock(rect_mutex_);
    return screen_rect_;
}

void Window::RefreshScreenRect() {
    QWidget* w = widget_;
    if (w == nullptr) return;
    QRect r = w->isWindow() ? w->frameGeometry() : QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
    std::lock_guard<std::mutex> lock(rect_mutex_);
    screen_rect_ = Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void Window::SetTitle(const std::string& title) {
    gdi::RunOnGuiThread([this, &title] {
        if (widget_ != nullptr) widget_->setWindowTitle(QString::fromLatin1(title.c_str()));
    });
}

void Window::Move(const Rect& outer) {
    gdi::RunOnGuiThread([this, outer] {
        if (widget_ == nullptr) return;
        PlaceWidget(widget_, outer);
        RefreshScreenRect();
        gdi::Presenter::Instance().PresentNow(true);
        if (widget_->isVisible()) widget_->repaint();
    });
}

void Window::Show() {
    gdi::RunOnGuiThread([this] {
        if (widget_ != nullptr) widget_->show();
    });
}

void Window::Update() {
    gdi::RunOnGuiThread([this] {
        gdi::Presenter::Instance().PresentNow(true);
        if (widget_ != nullptr && widget_->isVisible()) widget_->repaint();
    });
}

void Window::Repaint() { Update(); }

void Window::InvalidateAndUpdate() {
    surface_->Erase();
    Update();
}

void Window::UpdateRect(const Rect& band) {
    gdi::RunOnGuiThread([this, band] {
        if (paint_) paint_(this, band);
        // What the paint procedure drew, and nothing else, is painted now.
        gdi::Presenter::Instance().PresentNow(true);
    });
}

void Window::PostRepaint() {
    QPointer<QWidget> w = widget_;
    if (w.isNull()) return;
    QMetaObject::invokeMethod(
        w.data(), [w] {
            if (!w.isNull()) w->update();
        },
        Qt::QueuedConnection);
}

Window* CreateMainWindow() {
    if (hwndParent != nullptr) {
        hwndParent->Move(crect);
        return hwndParent;
    }
    // Every run draws the same random figures: the generator starts from seed 0.
    SeedThreadGenerator();
    auto surface = std::make_shared<gdi::Surface>(QSize(crect.Width(), crect.Height()),
                                                  ClassInfo(WindowClass::Main).background);
    auto* handle = new Window(WindowClass::Main, surface);
    auto* widget = new MainWindowWidget(handle, surface);
    handle->widget_ = widget;
    widget->setWindowTitle(QStringLiteral("KESTREL Figure Drawing Test - 0% finished"));
    PlaceWidget(widget, crect);
    widget->show();
    handle->RefreshScreenRect();
    hwndParent = handle;
    ghWnd = handle;
    TakeMainWindowMetrics(handle);
    return handle;
}

Window* CreateWindowOf(WindowClass cls, const std::string& title, const Rect& outer, Window* parent,
                       bool overlapped) {
    Window* made = nullptr;
    gdi::RunOnGuiThread([&] {
        QWidget* parent_widget = parent != nullptr ? parent->widget() : nullptr;
        // A child of a captioned child window sits in its client area.
        if (auto* frame = qobject_cast<gdi::ChildFrame*>(parent_widget)) parent_widget = frame->client();
        if (cls != WindowClass::Gl2 && parent_widget == nullptr) return;
        auto surface = std::make_shared<gdi::Surface>(QSize(), ClassInfo(cls).background);
        auto* handle = new Window(cls, surface);
        QWidget* w = nullptr;
        switch (cls) {
            case WindowClass::KestrelChild: w = MakeChild<KestrelChildWidget>(handle, surface, parent_widget, overlapped); break;
            case WindowClass::Julia: w = new JuliaWidget(handle, surface, parent_widget); break;
            case WindowClass::Animate: w = MakeChild<AnimateWidget>(handle, surface, parent_widget, overlapped); break;
            case WindowClass::Gl1: w = MakeChild<Gl1Widget>(handle, surface, parent_widget, overlapped); break;
            case WindowClass::SpecEffect3: w = MakeChild<SpecEffect3Widget>(handle, surface, parent_widget, overlapped); break;
            case WindowClass::Gl2: w = new Gl2Widget(handle, surface); break;
            case WindowClass::Main: break;
        }
        if (w == nullptr) {
            delete handle;
            return;
        }
        handle->widget_ = w;
        w->setWindowTitle(QString::fromLatin1(title.c_str()));
        PlaceWidget(w, outer);
        handle->RefreshScreenRect();
        made = handle;
    });
    return made;
}

void DestroyWindow(Window*& window) {
    if (window == nullptr) return;
    Window* w = window;
    window = nullptr;
    gdi::RunOnGuiThread([w] {
        delete w->widget_.data();
        delete w;
    });
}

bool WaitUntilOnScreen(Window* window, int limit_ms) {
    QWidget* w = window != nullptr ? window->widget() : nullptr;
    if (w == nullptr) return false;
    QWidget* top = w->window();
    // A hidden window is never put on the screen by waiting.
    if (!top->isVisible()) return false;
    if (top->testAttribute(Qt::WA_Mapped)) return true;
    // Sleeps until an event comes (the window system's, or the limit's). The limit is over when
    // its timer has fired: a coarse timer may fire a little early, and a clock read after it
    // could then find time left with no event to come.
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(limit_ms);
    while (top->isVisible() && !top->testAttribute(Qt::WA_Mapped) && limit.isActive()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return top->isVisible() && top->testAttribute(Qt::WA_Mapped);
}

void CheckDepth(int bits) {
    if (bits >= 8) return;
    kp::MessageBox(kp::Owner::Main, "Not enough system colors in the palette; need at least 256.",
                   "Fatal Palette Exception", kp::Icon::Stop);
    terminate_flag = 1;
}

void Main_OnDestroy() {
    bTerminate = 1;
    StopAnalyser();
    kp::RunDeferredUiActions();
    std::fflush(nullptr);
    std::_Exit(0);
}

Rect oldrect;

bool ResizeWantsPaint(const Rect& old, QSize client) {
    return client.width() > old.Width() || client.height() > old.Height();
}

void resize(Window* window) {
    const QSize client = window->ClientSize();
    if (QOpenGLContext* context = QOpenGLContext::currentContext()) {
        context->functions()->glViewport(0, 0, client.width(), client.height());
    }
    if (ResizeWantsPaint(oldrect, client)) window->PostRepaint();
    oldrect = Rect{0, 0, client.width(), client.height()};
}

void output_string(Window* window, const std::string& text) {
    int num = 0;
    int yy = 0;
    {
        // The new line takes index num (lines emptied by a reset are written over).
        std::lock_guard<std::mutex> lock(text_list.mutex);
        const size_t at = size_t(text_list.num);
        if (at < text_list.szGreeting.size()) {
            text_list.szGreeting[at] = text;
        } else {
            text_list.szGreeting.push_back(text);
        }
        num = ++text_list.num;
        yy = text_list.yy;
    }
    if (window == nullptr) return;
    window->UpdateRect(OutputBand(window->ClientSize().width(), yy, nYChar, nVPos, num));
}

}  // namespace lumen

namespace lumen {

void AtTestEnd() {
    if (test_end_hook) gdi::RunOnGuiThread(test_end_hook);
}

}  // namespace lumen
