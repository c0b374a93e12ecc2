#include "shared/gdi/surface.h"

#include <cstring>

namespace gdi {

namespace {

QSize UsableSize(QSize size) { return size.isValid() && !size.isEmpty() ? size : QSize(); }

}  // namespace

Surface::Surface(QSize size, QRgb background) : size_(UsableSize(size)), background_(background | 0xFF000000u) {
    whole_ = true;
    Changed(QRect(QPoint(), size_));
}

void Surface::MakeImage() {
    if (!plain_ || size_.isEmpty()) return;
    if (image_.size() != size_) image_ = QImage(size_, QImage::Format_RGB32);
    image_.fill(Background());
    plain_ = false;
}

Surface::Dc& Surface::Dc::operator=(Dc&& other) noexcept {
    if (this != &other) {
        ReleaseDC();
        surface_ = std::exchange(other.surface_, nullptr);
    }
    return *this;
}

void Surface::Dc::ReleaseDC() {
    if (surface_ == nullptr) return;
    std::exchange(surface_, nullptr)->Release();
}

Surface::Dc Surface::GetDC() {
    mutex_.lock();
    MakeImage();
    dc_.emplace(&image_);
    return Dc(this);
}

Surface::Dc Surface::GetDC(DcState& state) {
    mutex_.lock();
    MakeImage();
    dc_.emplace(&image_, &state);
    return Dc(this);
}

void Surface::Release() {
    dc_->End();
    const QRect touched = dc_->Touched();
    dc_.reset();
    const bool changed = !touched.isEmpty();
    if (changed) Changed(touched);
    mutex_.unlock();
    if (changed) {
        if (PresentSink* sink = sink_.load(std::memory_order_acquire)) sink->RequestPresent();
    }
}

void Surface::Changed(const QRect& r) {
    changed_ |= r;
    changed_flag_.store(true, std::memory_order_release);
}

QSize Surface::Size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

void Surface::Resize(QSize size) {
    {
        std::lock_guard lock(mutex_);
        size_ = UsableSize(size);
        MakePlain();
    }
    if (PresentSink* sink = sink_.load(std::memory_order_acquire)) sink->RequestPresent();
}

void Surface::Erase() {
    {
        std::lock_guard lock(mutex_);
        MakePlain();
    }
    if (PresentSink* sink = sink_.load(std::memory_order_acquire)) sink->RequestPresent();
}

void Surface::MakePlain() {
    if (image_.size() != size_) image_ = QImage();  // an erase keeps the memory for the next drawing
    plain_ = true;
    whole_ = true;
    Changed(QRect(QPoint(), size_));
}

std::optional<QRect> Surface::TakeChanges(QImage& front, bool wait) {
    std::unique_lock lock(mutex_, std::defer_lock);
    if (wait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return std::nullopt;
    }
    if (!changed_flag_.load(std::memory_order_relaxed)) return QRect();
    QRect r = changed_ & QRect(QPoint(), size_);
    if (plain_) {
        // Nothing drawn since the last size or erase: the widget shows the background alone.
        front = QImage();
        r = QRect(QPoint(), size_);
        whole_ = false;
    } else if (whole_ || front.size() != image_.size() || front.format() != image_.format()) {
        front = image_.copy();
        r = image_.rect();
        whole_ = false;
    } else if (!r.isEmpty()) {
        const qsizetype row = qsizetype(r.width()) * 4;
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(front.scanLine(y) + r.left() * 4, image_.constScanLine(y) + r.left() * 4, size_t(row));
    }
    changed_ = QRect();
    changed_flag_.store(false, std::memory_order_release);
    return r;
}

}  // namespace gdi
