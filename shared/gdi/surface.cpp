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
    const QPoint moved = dc_->Scrolled();
    dc_.reset();
    const bool changed = !touched.isEmpty() || !moved.isNull();
    if (!moved.isNull()) {
        // What changed before the move moved with the picture.
        changed_ = changed_.translated(moved) & QRect(QPoint(), size_);
        scroll_ += moved;
    }
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

QImage FrontPicture::Unrolled() const {
    if (top == 0 || image.isNull()) return image;
    QImage out(image.size(), image.format());
    const qsizetype row = qsizetype(image.width()) * 4;
    ForRuns(0, image.height() - 1, [&](int y, int from, int n) {
        for (int i = 0; i < n; ++i) std::memcpy(out.scanLine(y + i), image.constScanLine(from + i), size_t(row));
    });
    return out;
}

std::optional<QRect> Surface::TakeChanges(QImage& front, bool wait) {
    FrontPicture f{std::move(front), 0};
    const std::optional<QRect> r = Take(f, wait, nullptr);
    front = std::move(f.image);
    return r;
}

std::optional<QRect> Surface::TakeChanges(FrontPicture& front, bool wait, QPoint* scrolled) {
    return Take(front, wait, scrolled);
}

std::optional<QRect> Surface::Take(FrontPicture& front, bool wait, QPoint* scrolled) {
    if (scrolled != nullptr) *scrolled = QPoint();
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
        front = FrontPicture();
        r = QRect(QPoint(), size_);
        whole_ = false;
    } else if (whole_ || front.image.size() != image_.size() || front.image.format() != image_.format()) {
        front = FrontPicture{image_.copy(), 0};
        r = image_.rect();
        whole_ = false;
    } else {
        if (!scroll_.isNull()) {
            // The front picture moves as the picture did, when the caller can move what it shows
            // alike; otherwise all of it is taken as changed.
            if (scrolled != nullptr) {
                const int h = image_.height();
                if (scroll_.x() != 0) ScrollPixels(front.image, scroll_.x(), 0, Background());
                front.top = ((front.top - scroll_.y()) % h + h) % h;
                *scrolled = scroll_;
            } else {
                r = image_.rect();
            }
        }
        const qsizetype row = qsizetype(r.width()) * 4;
        if (!r.isEmpty())
            front.ForRuns(r.top(), r.bottom(), [&](int y, int from, int n) {
                for (int i = 0; i < n; ++i)
                    std::memcpy(front.image.scanLine(from + i) + r.left() * 4,
                                image_.constScanLine(y + i) + r.left() * 4, size_t(row));
            });
    }
    changed_ = QRect();
    scroll_ = QPoint();
    changed_flag_.store(false, std::memory_order_release);
    return r;
}

}  // namespace gdi
