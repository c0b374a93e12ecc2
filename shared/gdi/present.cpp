#include "shared/gdi/present.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <mutex>

namespace gdi {

namespace {

bool OnGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

constexpr QRgb kFrameColour = 0xFF000000u;
constexpr QRgb kCaptionColour = 0xFF000080u;
constexpr QRgb kCaptionTextColour = 0xFFFFFFFFu;
constexpr QRgb kButtonColour = 0xFFC0C0C0u;

}  // namespace

void RunOnGuiThread(const std::function<void()>& fn) {
    if (OnGuiThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), fn, Qt::BlockingQueuedConnection);
}

void PresentAll() {
    RunOnGuiThread([] { Presenter::Instance().PresentNow(true); });
}

void PrepareAll() {
    if (QCoreApplication::instance() == nullptr) return;
    // Nothing made, sized or erased since the last preparing: no call into the user-interface
    // thread (a clock started inside another's time costs it nothing).
    if (OnGuiThread()) {
        if (Surface::TakeUnprepared()) Presenter::Instance().PrepareNow();
        return;
    }
    // Threads that start their clocks together wait until the one preparing is done.
    static std::mutex turn;
    std::lock_guard lock(turn);
    if (Surface::TakeUnprepared()) RunOnGuiThread([] { Presenter::Instance().PrepareNow(); });
}

Presenter& Presenter::Instance() {
    static Presenter* presenter = new Presenter();  // lives as long as the process
    return *presenter;
}

Presenter::Presenter() {
    if (QCoreApplication* app = QCoreApplication::instance()) moveToThread(app->thread());
    timer_.moveToThread(thread());
    timer_.setSingleShot(true);
    timer_.setInterval(kIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

void Presenter::RequestPresent() {
    // Coalesced: one request arms the timer; further ones until its tick change nothing.
    if (armed_.exchange(true, std::memory_order_acq_rel)) return;
    QMetaObject::invokeMethod(this, [this] { timer_.start(); }, Qt::QueuedConnection);
}

void Presenter::Tick() {
    armed_.store(false, std::memory_order_release);
    bool skipped = false;
    for (SurfaceWidget* w : widgets_) {
        if (!w->surface_->HasChanges()) continue;
        if (!w->Present(false, false) && w->surface_->HasChanges()) skipped = true;
    }
    // A surface that was locked is shown at a later tick.
    if (skipped) RequestPresent();
}

int Presenter::PresentNow(bool wait) {
    int shown = 0;
    for (SurfaceWidget* w : widgets_)
        if (w->surface_->HasChanges() && w->Present(wait, true)) ++shown;
    return shown;
}

void Presenter::PrepareNow() {
    for (SurfaceWidget* w : widgets_) w->Prepare();
}

void Presenter::Add(SurfaceWidget* w) { widgets_.push_back(w); }

void Presenter::Remove(SurfaceWidget* w) { widgets_.erase(std::remove(widgets_.begin(), widgets_.end(), w), widgets_.end()); }

SurfaceWidget::SurfaceWidget(std::shared_ptr<Surface> surface, QWidget* parent)
    : QWidget(parent), surface_(std::move(surface)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    Presenter& p = Presenter::Instance();
    p.Add(this);
    surface_->SetPresentSink(&p);
    Surface::MarkUnprepared();  // its copy of the picture is to be made
    if (!surface_->Size().isEmpty()) resize(surface_->Size());
}

SurfaceWidget::~SurfaceWidget() { Presenter::Instance().Remove(this); }

bool SurfaceWidget::Present(bool wait, bool repaint_now) {
    TakeSpare();
    QPoint moved;
    const uchar* const before = front_.image.constBits();
    const std::optional<QRect> r = surface_->TakeChanges(front_, wait, &moved);
    if (!r) return false;
    // A front made anew here is fresh memory (a swap gives it the picture's, which is written).
    if (front_.image.constBits() != before && front_.held != front_.image.rect()) front_made_ = false;
    if (!moved.isNull()) {
        if (isVisible()) {
            // What is on screen moves in place, within the picture (a widget larger than its
            // picture keeps the background beside it); parts not yet painted move along.
            scroll(moved.x(), moved.y(), rect() & front_.image.rect());
            if (!waiting_.isEmpty()) {
                waiting_ = waiting_.translated(moved) & rect();
                update(waiting_);
            }
        } else {
            update();
        }
    }
    if (r->isEmpty()) return true;
    if (repaint_now && isVisible()) {
        repaint(*r);
    } else {
        update(*r);
        waiting_ |= *r;
    }
    return true;
}

QImage SurfaceWidget::Shown() const {
    if (!front_.image.isNull()) return front_.Unrolled(surface_->Background());
    QImage plain(size(), QImage::Format_RGB32);
    plain.fill(surface_->Background());
    return plain;
}

void SurfaceWidget::TakeSpare() {
    if (spare_.isNull() || front_.image.size() == spare_.size() || surface_->Size() != spare_.size()) return;
    // The surface took the size its picture was reserved for: so does the copy (all of the widget
    // is painted again, as after any new size).
    front_ = FrontPicture{std::exchange(spare_, QImage()), 0, QRect()};
    front_made_ = true;
    update();
}

void SurfaceWidget::Prepare() {
    surface_->Prepare();
    TakeSpare();
    const QSize reserved = surface_->Reserved().size;
    if (reserved.isEmpty()) {
        spare_ = QImage();
    } else if (spare_.size() != reserved) {
        spare_ = QImage(reserved, QImage::Format_RGB32);
        spare_.fill(surface_->Background());
    }
    const QSize size = surface_->Size();
    if (size.isEmpty() || (front_made_ && front_.image.size() == size)) return;
    QImage image(size, QImage::Format_RGB32);
    image.fill(surface_->Background());
    if (front_.image.size() == size) {
        // The same picture in the new memory, its rows in order.
        const QRect p = front_.held;
        if (!p.isEmpty())
            front_.ForRuns(p.top(), p.bottom(), [&](int y, int from, int n) {
                for (int i = 0; i < n; ++i)
                    std::memcpy(image.scanLine(y + i) + p.left() * 4, front_.image.constScanLine(from + i) + p.left() * 4,
                                size_t(p.width()) * 4);
            });
        front_.image = std::move(image);
        front_.top = 0;
    } else {
        // Another size: nothing of the old copy is kept, and all of the widget is painted again.
        front_ = FrontPicture{std::move(image), 0, QRect()};
        update();
    }
    front_made_ = true;
}

PictureMemory SurfaceWidget::Front() const {
    return {front_.image.size(), front_.image.constBits(), front_.image.sizeInBytes()};
}

PictureMemory SurfaceWidget::Spare() const { return {spare_.size(), spare_.constBits(), spare_.sizeInBytes()}; }

void SurfaceWidget::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    const QRect r = e->rect();
    waiting_ -= e->region();
    p.setCompositionMode(QPainter::CompositionMode_Source);
    const QRect inside = r & front_.held;
    if (!inside.isEmpty())
        front_.ForRuns(inside.top(), inside.bottom(), [&](int y, int from, int n) {
            p.drawImage(QPoint(inside.left(), y), front_.image, QRect(inside.left(), from, inside.width(), n));
        });
    // Outside the part the front holds (or a size not yet taken): the surface's background.
    const QRegion rest = QRegion(r) - QRegion(front_.held);
    for (const QRect& b : rest) p.fillRect(b, QColor::fromRgb(surface_->Background()));
}

void SurfaceWidget::resizeEvent(QResizeEvent*) {
    if (surface_->Size() != size()) surface_->Resize(size());
}

ChildFrame::ChildFrame(std::shared_ptr<Surface> surface, QWidget* parent, bool caption_buttons)
    : QWidget(parent), client_(new SurfaceWidget(std::move(surface), this)), buttons_(caption_buttons) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect ChildFrame::ClientRectFor(QSize outer) {
    const int top = 1 + CaptionHeight();
    return QRect(1, top, std::max(0, outer.width() - 2), std::max(0, outer.height() - top - 1));
}

void ChildFrame::MoveWindow(const QRect& outer) {
    setGeometry(outer);
    const QRect client = ClientRectFor(outer.size());
    client_->setGeometry(client);
    if (client_->surface()->Size() != client.size()) client_->surface()->Resize(client.size());
}

void ChildFrame::resizeEvent(QResizeEvent*) { client_->setGeometry(ClientRectFor(size())); }

void ChildFrame::changeEvent(QEvent* e) {
    if (e->type() == QEvent::WindowTitleChange) update(0, 0, width(), 1 + CaptionHeight());
    QWidget::changeEvent(e);
}

void ChildFrame::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect outer = rect();
    p.fillRect(outer, QColor::fromRgb(kFrameColour));
    const int ch = CaptionHeight();
    const QRect caption(1, 1, std::max(0, width() - 2), ch);
    p.fillRect(caption, QColor::fromRgb(kCaptionColour));
    int text_right = caption.right() - 2;
    if (buttons_) {
        const int b = std::max(4, ch - 4);
        for (int i = 0; i < 3; ++i) {
            const QRect box(caption.right() - (i + 1) * (b + 2), caption.top() + 2, b, b);
            p.fillRect(box, QColor::fromRgb(kButtonColour));
            p.setPen(QColor::fromRgb(kFrameColour));
            if (i == 0) {  // close
                p.drawLine(box.topLeft() + QPoint(2, 2), box.bottomRight() - QPoint(2, 2));
                p.drawLine(box.topRight() + QPoint(-2, 2), box.bottomLeft() + QPoint(2, -2));
            } else if (i == 1) {  // maximise
                p.drawRect(box.adjusted(2, 2, -3, -3));
            } else {  // minimise
                p.drawLine(box.left() + 2, box.bottom() - 2, box.right() - 2, box.bottom() - 2);
            }
            text_right = box.left() - 2;
        }
    }
    p.setPen(QColor::fromRgb(kCaptionTextColour));
    const QRect text_box(caption.left() + 3, caption.top(), std::max(0, text_right - caption.left() - 3), ch);
    p.drawText(text_box, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
               p.fontMetrics().elidedText(windowTitle(), Qt::ElideRight, text_box.width()));
}

}  // namespace gdi
