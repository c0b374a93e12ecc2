#include "shared/gdi/surface.h"

#include <cstring>

namespace gdi {

namespace {

QSize UsableSize(QSize size) { return size.isValid() && !size.isEmpty() ? size : QSize(); }

}  // namespace

Surface::Surface(QSize size, QRgb background) : size_(UsableSize(size)), background_(background | 0xFF000000u) {
    changed_flag_.store(true, std::memory_order_release);
    MarkUnprepared();
}

void Surface::MakeImage() {
    if (!handed_.isNull()) {
        std::memcpy(image_.bits(), handed_.constBits(), size_t(handed_.sizeInBytes()));
        handed_ = QImage();
    }
    if (!plain_ || size_.isEmpty()) return;
    if (image_.size() != size_) {
        image_ = QImage(size_, QImage::Format_RGB32);
        filled_.reset();
    }
    if (filled_ != Background()) image_.fill(Background());
    filled_.reset();
    plain_ = false;
}

void Surface::Prepare() {
    std::lock_guard lock(mutex_);
    if (!plain_ || size_.isEmpty() || filled_ == Background()) return;
    if (image_.size() != size_) image_ = QImage(size_, QImage::Format_RGB32);
    image_.fill(Background());
    filled_ = Background();
}

void Surface::Reserve(QSize size) {
    {
        std::lock_guard lock(mutex_);
        size = UsableSize(size);
        if (size.isEmpty() || (reserved_.size() == size && reserved_colour_ == Background())) return;
        reserved_ = QImage(size, QImage::Format_RGB32);
        reserved_colour_ = Background();
        reserved_.fill(reserved_colour_);
    }
    MarkUnprepared();  // the widget's copy for that size is to be made too
}

PictureMemory Surface::Reserved() const {
    std::lock_guard lock(mutex_);
    return {reserved_.size(), reserved_.constBits(), reserved_.sizeInBytes()};
}

PictureMemory Surface::Picture() const {
    std::lock_guard lock(mutex_);
    if (size_.isEmpty() || image_.size() != size_) return {};
    return {image_.size(), image_.constBits(), image_.sizeInBytes()};
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
        const bool reserved = !size_.isEmpty() && reserved_.size() == size_;
        if (reserved) image_ = std::exchange(reserved_, QImage());
        MakePlain();
        if (reserved) filled_ = reserved_colour_;
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
    filled_.reset();
    erased_ = true;
    handed_ = QImage();
    changed_ = QRect();
    scroll_ = QPoint();
    changed_flag_.store(true, std::memory_order_release);
    MarkUnprepared();
}

QImage FrontPicture::Unrolled(QRgb background) const {
    if (image.isNull() || (top == 0 && held == image.rect())) return image;
    QImage out(image.size(), image.format());
    out.fill(background);
    const qsizetype row = qsizetype(held.width()) * 4;
    if (!held.isEmpty())
        ForRuns(held.top(), held.bottom(), [&](int y, int from, int n) {
            for (int i = 0; i < n; ++i)
                std::memcpy(out.scanLine(y + i) + held.left() * 4, image.constScanLine(from + i) + held.left() * 4,
                            size_t(row));
        });
    return out;
}

std::optional<QRect> Surface::TakeChanges(QImage& front, bool wait) {
    const QRect held = front.isNull() ? QRect() : front.rect();
    FrontPicture f{std::move(front), 0, held};
    const std::optional<QRect> r = TakeChanges(f, wait, nullptr);
    front = f.held.isEmpty() ? QImage() : f.Unrolled(Background());
    return r;
}

std::optional<QRect> Surface::TakeChanges(FrontPicture& front, bool wait, QPoint* scrolled) {
    if (scrolled != nullptr) *scrolled = QPoint();
    std::unique_lock lock(mutex_, std::defer_lock);
    if (wait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return std::nullopt;
    }
    if (!changed_flag_.load(std::memory_order_relaxed)) return QRect();
    const QRect all(QPoint(), size_);
    QRect copy = changed_ & all;  // the part of the picture to copy into the front
    QRect shown = copy;           // the part of the front picture that changes
    if (front.image.size() != size_ || front.image.format() != QImage::Format_RGB32) {
        // Another size: the front's image is made anew; it holds nothing yet. (Unless erased, the
        // picture outside the drawn part is what the front held.)
        if (!erased_ && !front.held.isEmpty()) copy = all;
        front = FrontPicture{plain_ || size_.isEmpty() ? QImage() : QImage(size_, QImage::Format_RGB32), 0, QRect()};
        shown = all;
        MarkUnprepared();
    } else if (erased_) {
        // What the front held goes back to the background; its memory stays for the next drawing.
        shown |= front.held;
        front.held = QRect();
        front.top = 0;
    } else if (!scroll_.isNull()) {
        // The front picture moves as the picture did, when the caller can move what it shows
        // alike; otherwise all of it is taken as changed.
        if (scrolled != nullptr) {
            const int h = image_.height();
            if (scroll_.x() != 0) ScrollPixels(front.image, scroll_.x(), 0, Background());
            front.top = ((front.top - scroll_.y()) % h + h) % h;
            front.held = front.held.translated(scroll_) & all;
            *scrolled = scroll_;
        } else {
            copy = shown = all;
        }
    }
    if (!plain_ && copy == all && !front.image.isNull()) {
        // All of it changed: the front takes the picture instead of a copy of it.
        std::swap(front.image, image_);
        handed_ = front.image;
        front.top = 0;
        front.held = all;
    } else if (!plain_ && !copy.isEmpty()) {
        // What the front did not hold and now does is the background in the picture too (or drawn):
        // it is copied with the drawn part, and the front then holds the rectangle around both.
        const QRect held = front.held | copy;
        const QRegion parts = (QRegion(held) - QRegion(front.held)) | QRegion(copy);
        for (const QRect& p : parts) {
            const qsizetype row = qsizetype(p.width()) * 4;
            front.ForRuns(p.top(), p.bottom(), [&](int y, int from, int n) {
                for (int i = 0; i < n; ++i)
                    std::memcpy(front.image.scanLine(from + i) + p.left() * 4,
                                image_.constScanLine(y + i) + p.left() * 4, size_t(row));
            });
        }
        front.held = held;
    }
    erased_ = false;
    changed_ = QRect();
    scroll_ = QPoint();
    changed_flag_.store(false, std::memory_order_release);
    return shown;
}

}  // namespace gdi
