// Showing surfaces on screen (library kgdi_widgets): the widget that shows a surface, the
// captioned child window around one, and the presenter that puts changed surfaces on screen.
//
// Threading rules (with surface.h's):
// - Widgets are made, moved, shown and destroyed on the user-interface thread only; other threads
//   reach them through RunOnGuiThread.
// - The presenter runs on the user-interface thread. After a surface's context ends, the
//   presenter's timer shows the changed surfaces at most every 16 ms, all changes of that interval
//   together. The timer never waits for a surface's lock: a surface that is locked at the tick is
//   shown at a later tick.
// - PresentAll() is one blocking showing of every changed surface; from another thread it waits
//   until the user-interface thread has done it. The user-interface thread never waits for other
//   threads, so a thread that holds no surface context cannot deadlock in it.
#pragma once

#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "shared/gdi/surface.h"

namespace gdi {

// Runs `fn` on the user-interface thread and returns when it has run (directly when called there).
void RunOnGuiThread(const std::function<void()>& fn);
// Shows every changed surface now and returns when that is done (see above).
void PresentAll();
// Makes and touches, for every surface shown, what drawing into it and showing it take at its
// present size (its picture while it is plain, the widget's copy), and returns when that is done.
// A thread that holds no surface context; nothing when there is no application, and no call into
// the user-interface thread when no surface was made, sized or erased since the last time.
void PrepareAll();

class SurfaceWidget;

class Presenter : public QObject, public PresentSink {
    Q_OBJECT
public:
    // The one presenter (made on first use; it lives on the user-interface thread).
    static Presenter& Instance();

    // Any thread: a surface changed. Starts the 16-ms timer when it is not running.
    void RequestPresent() override;
    // User-interface thread: shows every changed surface; `wait` takes locked surfaces' locks.
    // Returns how many surfaces were shown.
    int PresentNow(bool wait);
    // User-interface thread: SurfaceWidget::Prepare of every widget.
    void PrepareNow();
    // The interval of the timer.
    static constexpr int kIntervalMs = 16;

private:
    friend class SurfaceWidget;
    Presenter();
    void Add(SurfaceWidget* w);
    void Remove(SurfaceWidget* w);
    void Tick();

    QTimer timer_;
    std::atomic<bool> armed_{false};
    std::vector<SurfaceWidget*> widgets_;
};

// Shows a surface: the part that changed is copied (under the surface's lock, by the presenter)
// into the widget's own picture, which paintEvent draws; a scrolled surface is scrolled in that
// picture (a vertical move turns its rows) and on screen in place (QWidget::scroll), so that only
// what the scroll uncovered and what was drawn is copied and painted. Resizing the widget resizes the surface
// (cleared to its background).
class SurfaceWidget : public QWidget {
    Q_OBJECT
public:
    explicit SurfaceWidget(std::shared_ptr<Surface> surface, QWidget* parent = nullptr);
    ~SurfaceWidget() override;
    const std::shared_ptr<Surface>& surface() const { return surface_; }
    // The picture last shown (user-interface thread): the background alone while nothing has
    // been drawn since the surface's last size or erase.
    QImage Shown() const;
    // User-interface thread: the surface's Prepare, and a copy of the picture of the surface's
    // size whose memory is all written, made now when the widget has none (what is shown stays);
    // when the surface has a picture reserved for another size, a written copy for that size too.
    void Prepare();
    // The memory of the widget's copy of the picture, and of its copy for the reserved size (for
    // checks).
    PictureMemory Front() const;
    PictureMemory Spare() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    friend class Presenter;
    // Takes the surface's changes; `repaint`: paint them now, else schedule.
    bool Present(bool wait, bool repaint);
    // The spare becomes the copy when the surface has taken its size.
    void TakeSpare();

    std::shared_ptr<Surface> surface_;
    FrontPicture front_;
    // front_.image was made by Prepare (all of its memory written), not fresh by TakeChanges.
    bool front_made_ = false;
    // Made by Prepare for the size the surface has a picture reserved for; the front when the
    // surface takes that size.
    QImage spare_;
    QRegion waiting_;  // asked to be painted (update) and not painted yet
};

// A captioned child window: a 1-pixel border, a caption bar with the window title (and, when
// asked, minimise/maximise/close buttons drawn in it) around a SurfaceWidget as client area.
class ChildFrame : public QWidget {
    Q_OBJECT
public:
    ChildFrame(std::shared_ptr<Surface> surface, QWidget* parent, bool caption_buttons = false);
    SurfaceWidget* client() const { return client_; }
    const std::shared_ptr<Surface>& surface() const { return client_->surface(); }
    // Places the whole frame (outer rectangle in the parent) and resizes the surface to the new
    // client size at once (cleared to its background), shown or not.
    void MoveWindow(const QRect& outer);
    // The caption bar's height: fixed, so that client sizes do not depend on the font.
    static constexpr int kCaptionHeight = 18;
    static int CaptionHeight() { return kCaptionHeight; }
    // The client rectangle for an outer size (inside the border, below the caption).
    static QRect ClientRectFor(QSize outer);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    SurfaceWidget* client_;
    bool buttons_;
};

}  // namespace gdi
