#include "shared/gdi/surface.h"

#include <cstring>

namespace gdi {

Surface::Surface(QSize size, QRgb background) : background_(background | 0xFF000000u) {
    if (size.isValid() && !size.isEmpty()) {
        image_ = QImage(size, QImage::Format_RGB32);
        image_.fill(Background());
    }
    whole_ = true;
    Changed(image_.rect());
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
    dc_.emplace(&image_);
    return Dc(this);
}

Surface::Dc Surface::GetDC(DcState& state) {
    mutex_.lock();
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
    return image_.size();
}

void Surface::Resize(QSize size) {
    {
        std::lock_guard lock(mutex_);
        if (size.isValid() && !size.isEmpty()) {
            image_ = QImage(size, QImage::Format_RGB32);
            image_.fill(Background());
        } else {
            image_ = QImage();
        }
        whole_ = true;
        Changed(image_.rect());
        changed_flag_.store(true, std::memory_order_release);
    }
    if (PresentSink* sink = sink_.load(std::memory_order_acquire)) sink->RequestPresent();
}

void Surface::Erase() {
    {
        std::lock_guard lock(mutex_);
        image_.fill(Background());
        Changed(image_.rect());
    }
    if (PresentSink* sink = sink_.load(std::memory_order_acquire)) sink->RequestPresent();
}

std::optional<QRect> Surface::TakeChanges(QImage& front, bool wait) {
    std::unique_lock lock(mutex_, std::defer_lock);
    if (wait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return std::nullopt;
    }
    if (!changed_flag_.load(std::memory_order_relaxed)) return QRect();
    QRect r = changed_ & image_.rect();
    if (whole_ || front.size() != image_.size() || front.format() != image_.format()) {
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
