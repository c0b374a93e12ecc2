// The windows of the video tests. Every window class that a test creates has its widget type
// (the main window "lumen", the captioned children "KESTRELCHILD", "Animate", "GL1",
// "SpecEffect3", the uncaptioned "julia" and the top-level "GL2"), each showing a surface in its
// class background colour. A child of a captioned child window sits in that window's client area.
//
// A `Window` is the handle every thread holds: drawing threads draw into its surface through the
// window's own drawing state (one per window, kept between openings, as a class with its own
// device context keeps it) and read its sizes; everything that touches the widget is a blocking
// call into the user-interface thread (direct there). No thread makes such a call while it holds
// a surface's context.
#pragma once

#include <QPointer>
#include <QRgb>
#include <QSize>
#include <QWidget>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "lumen/lumen_state.h"
#include "shared/gdi/present.h"
#include "shared/gdi/surface.h"

namespace lumen {

enum class WindowClass { Main, KestrelChild, Julia, Animate, Gl1, Gl2, SpecEffect3 };

struct WindowClassInfo {
    const char* name;
    QRgb background;
};
const WindowClassInfo& ClassInfo(WindowClass cls);

class Window {
public:
    Window(WindowClass cls, std::shared_ptr<gdi::Surface> surface);
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    WindowClass Class() const { return cls_; }
    gdi::Surface& surface() const { return *surface_; }
    // A context on the surface with the window's own drawing state.
    gdi::Surface::Dc GetDC() { return surface_->GetDC(state_); }
    // The client size (the surface's), read under its lock.
    QSize ClientSize() const { return surface_->Size(); }
    // The window's outer rectangle on the screen, as the user-interface thread last saw it.
    Rect ScreenRect() const;

    // The widget (user-interface thread only; null once destroyed).
    QWidget* widget() const { return widget_; }

    // Blocking calls into the user-interface thread.
    void SetTitle(const std::string& title);
    // Places the window (outer rectangle, in its parent, or on the screen for a top-level window);
    // the surface takes the new client size, cleared to the class background.
    void Move(const Rect& outer);
    void Show();
    // Shows what has been drawn and not yet shown, now.
    void Update();
    // Paints the whole window again, now (a move to the same place with repaint).
    void Repaint();
    // Invalidate with erase, then update: the surface is cleared to the class background and shown.
    void InvalidateAndUpdate();
    // Invalidate a band without erase, then update: the window's paint procedure (when it has one)
    // paints the band, then what it drew is shown.
    void UpdateRect(const Rect& band);
    // Asks for a paint of the whole window and returns at once.
    void PostRepaint();

    // User-interface thread: the widget's place changed.
    void RefreshScreenRect();
    // User-interface thread: how often the widget has been painted since it was made.
    int Paints() const { return paints_; }
    void CountPaint() { ++paints_; }

    // User-interface thread: the window's paint procedure (its class's handler of a paint), called
    // with the band that UpdateRect invalidated; an empty procedure removes it.
    using PaintProc = std::function<void(Window* window, const Rect& band)>;
    void SetPaintProc(PaintProc proc) { paint_ = std::move(proc); }

private:
    friend Window* CreateMainWindow();
    friend Window* CreateWindowOf(WindowClass, const std::string&, const Rect&, Window*, bool);
    friend void DestroyWindow(Window*&);

    WindowClass cls_;
    std::shared_ptr<gdi::Surface> surface_;
    gdi::DcState state_;
    QPointer<QWidget> widget_;
    PaintProc paint_;
    mutable std::mutex rect_mutex_;
    Rect screen_rect_;
    int paints_ = 0;
};

// One drawing call on a window's context, holding the window's lock for that call only: threads
// that share a window take turns call by call, with the window's one drawing state.
template <class F>
auto OneCall(Window* w, F&& call) {
    gdi::Surface::Dc dc = w->GetDC();
    return call(*dc);
}

// The main window (class "lumen"): at (0, 0) with the size of crect, title "KESTREL Figure
// Drawing Test - 0% finished"; sets hwndParent and ghWnd, measures the depth and the text
// metrics. User-interface thread. A second call places the existing window at crect again.
Window* CreateMainWindow();

// A window of a test class: a captioned child of `parent` at `outer` (its caption bar with the
// window buttons when `overlapped`), or for "GL2" a top-level window that stays on top. Hidden
// until Show(). Any thread (blocking). Null when it could not be made.
Window* CreateWindowOf(WindowClass cls, const std::string& title, const Rect& outer, Window* parent,
                       bool overlapped = false);
// Destroys the window (any thread, blocking) and clears the handle.
void DestroyWindow(Window*& window);

// User-interface thread: lets events through until the top-level window of `window` is on the
// screen (the window system has shown it: nothing is painted into a window before that), at most
// `limit_ms`; false when it is not on the screen (hidden, or not shown in that time).
bool WaitUntilOnScreen(Window* window, int limit_ms);

// The colour depth check made when the main window is created: below 8 bits per pixel the
// palette box is shown and terminate_flag set.
void CheckDepth(int bits);

// The main window's close: stops the analyser and ends the process at once (threads may be
// inside a drawing or window call).
[[noreturn]] void Main_OnDestroy();

// The client rectangle last seen by `resize` (shared with the 3-D test).
extern Rect oldrect;
// Whether a client of `client` size asks for a paint after `old`: wider or taller.
bool ResizeWantsPaint(const Rect& old, QSize client);
// Sets the current OpenGL viewport (when this thread has a current context) to the client size,
// asks for a paint of the window when its client grew past oldrect, and stores the client size
// in oldrect.
void resize(Window* window);

}  // namespace lumen
