// A surface: the picture behind a window that threads draw into and the user-interface thread
// shows. It holds a Format_RGB32 image of the window's client size, a lock, the window class's
// background colour and the part drawn since the last showing.
//
// Threading rules:
// - Any thread may draw: GetDC() takes the lock and opens a drawing context on the image; the
//   context's end (ReleaseDC(), or the Dc's destructor) ends the painter, adds what was drawn to
//   the changed part, lets the lock go and asks for a showing. Hold a context for one drawing call
//   (or a few) at a time: the user-interface thread waits for the lock to show the picture.
// - A thread never holds a surface's context while it makes a blocking call into the user-
//   interface thread (present.h's PresentAll and RunOnGuiThread), nor holds two surfaces' contexts
//   at once in different orders.
// - Size(), Resize() and Erase() take the lock themselves; they must not be called while the
//   same thread holds the surface's context.
// This part has no widgets: the widget that shows a surface, and the showing itself, are in
// present.h.
#pragma once

#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

#include "shared/gdi/dc.h"

namespace gdi {

// The showing side's copy of a surface's picture, whose rows a vertical scroll turns instead of
// moving them: row y of the picture is row (y + top) mod height of `image`. Only the part `held`
// of the picture is in `image`; the rest of it is the surface's background (all of it while
// nothing has been drawn since the last size or erase). An erase keeps `image`'s memory.
struct FrontPicture {
    QImage image;
    int top = 0;
    QRect held;
    // Picture rows y0..y1 (inclusive, inside the image) as runs of consecutive image rows:
    // calls fn(first picture row, first image row, row count) once or twice.
    template <class F>
    void ForRuns(int y0, int y1, F&& fn) const {
        const int wrap = image.height() - top;  // the first picture row stored at image row 0
        if (y0 < wrap) fn(y0, y0 + top, std::min(y1, wrap - 1) - y0 + 1);
        if (y1 >= wrap) {
            const int from = std::max(y0, wrap);
            fn(from, from - wrap, y1 - from + 1);
        }
    }
    // The picture with its rows in order, `background` outside the part held (a null image when
    // `image` is null).
    QImage Unrolled(QRgb background) const;
};

// A picture's memory as it is (for checks): its size and bytes, without a share of the image.
struct PictureMemory {
    QSize size;
    const uchar* bits = nullptr;
    qsizetype bytes = 0;
};

// Who shows surfaces: told (from any thread, without the surface's lock) that one has changed.
class PresentSink {
public:
    virtual void RequestPresent() = 0;

protected:
    ~PresentSink() = default;
};

class Surface {
public:
    explicit Surface(QSize size = QSize(), QRgb background = 0xFFFFFFFFu);
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // An open drawing context on the surface, holding its lock. Move-only.
    class Dc {
    public:
        Dc() = default;
        Dc(Dc&& other) noexcept : surface_(other.surface_) { other.surface_ = nullptr; }
        Dc& operator=(Dc&& other) noexcept;
        ~Dc() { ReleaseDC(); }
        GdiDc* operator->() const { return &*surface_->dc_; }
        GdiDc& operator*() const { return *surface_->dc_; }
        explicit operator bool() const { return surface_ != nullptr; }
        // Ends the context: see the header's rules. Safe to call twice.
        void ReleaseDC();

    private:
        friend class Surface;
        explicit Dc(Surface* s) : surface_(s) {}
        Surface* surface_ = nullptr;
    };

    // Opens a context with the defaults, or with a state the caller keeps between openings.
    Dc GetDC();
    Dc GetDC(DcState& state);

    QSize Size() const;
    // A new size, all of it the background colour (the picture is made at the next GetDC, or is
    // the one reserved for that size); all of it changed.
    void Resize(QSize size);
    // All of it the background colour again; all of it changed.
    void Erase();
    QRgb Background() const { return background_.load(std::memory_order_relaxed); }
    void SetBackground(QRgb c) {
        background_.store(c | 0xFF000000u, std::memory_order_relaxed);
        MarkUnprepared();
    }

    // Makes the picture for the present size and writes all of it while the surface is plain, so
    // that the first drawing finds its memory made and touched (no allocation, no page faults,
    // no fill). A drawn picture is left as it is. Any thread not holding the surface's context.
    void Prepare();
    // The picture's memory (a null size when none is made at the present size).
    PictureMemory Picture() const;
    // Makes and writes a picture for a size the surface is to take (a window moved inside a
    // test's time): a Resize to that size then takes it instead of new memory. One at a time.
    void Reserve(QSize size);
    // The memory of the picture kept by Reserve and not yet taken.
    PictureMemory Reserved() const;
    // Whether any surface may have something for Prepare (or its widget's) to make since the
    // last TakeUnprepared: one was made, sized, erased, or its showing side's copy made anew.
    // TakeUnprepared answers and clears it.
    static bool TakeUnprepared() { return unprepared_.exchange(false); }
    static void MarkUnprepared() { unprepared_.store(true); }

    // For the showing side. Brings `front` up to the picture and forgets the changes: only the
    // part drawn since the last call is copied; after an erase the front's part held goes back to
    // the background (its memory kept) and only what was drawn since is copied into it; a new
    // size makes the front's image anew (none while the surface is plain); when all of the picture
    // changed, the front's image and the picture swap instead of a copy. `wait`: take the lock
    // even when that means waiting; otherwise a locked surface returns nullopt at once. Returns
    // the part of the front picture that changed (empty when nothing did). A picture scrolled
    // since the last call is scrolled in `front` too, a vertical move by turning its rows, and the
    // move is told in `scrolled`; the part changed is then only what the scroll uncovered and what
    // was drawn. Without `scrolled` a scrolled picture counts as changed all over.
    std::optional<QRect> TakeChanges(FrontPicture& front, bool wait, QPoint* scrolled = nullptr);
    // The same into a whole image (a null image while the picture is all background).
    std::optional<QRect> TakeChanges(QImage& front, bool wait);
    // Whether anything changed since the last TakeChanges (a hint; no lock).
    bool HasChanges() const { return changed_flag_.load(std::memory_order_acquire); }
    // Who is told of changes (nullptr: nobody). The sink must outlive the surface's drawing.
    void SetPresentSink(PresentSink* sink) { sink_.store(sink, std::memory_order_release); }

private:
    void Changed(const QRect& r);  // under the lock
    void MakeImage();              // under the lock: the picture, when still plain or handed over
    void MakePlain();              // under the lock: back to the background alone
    void Release();

    mutable std::mutex mutex_;
    // A surface is "plain" (all background) from a new size or an erase until it is first drawn
    // into: only then is its picture made, so windows nobody draws into cost no picture. An erase
    // keeps the picture's memory (unread while plain), so a test that erases and draws again each
    // frame makes no new picture per frame.
    QImage image_;
    QSize size_;
    bool plain_ = true;
    // While plain: the colour that Prepare wrote all over the picture (the first drawing then
    // has nothing to fill).
    std::optional<QRgb> filled_;
    // Made by Reserve for a size to come, all of it reserved_colour_.
    QImage reserved_;
    QRgb reserved_colour_ = 0;
    std::atomic<QRgb> background_;  // read without the lock by the showing widget
    QRect changed_;  // drawn since the last TakeChanges (or since the erase, when erased_)
    QPoint scroll_;  // the picture's move since the last TakeChanges (changed_ moved with it)
    // Erased (or sized) since the last TakeChanges: the picture is the background outside changed_.
    bool erased_ = true;
    // A showing that changes the whole picture hands the picture itself to the front (shared with
    // it here) and takes the front's old memory as image_, stale until the next drawing copies the
    // picture back from here; an erase first makes that copy needless.
    QImage handed_;
    std::atomic<bool> changed_flag_{false};
    std::atomic<PresentSink*> sink_{nullptr};
    static inline std::atomic<bool> unprepared_{true};
    std::optional<GdiDc> dc_;
};

}  // namespace gdi
