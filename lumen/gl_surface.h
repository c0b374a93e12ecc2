// OpenGL drawing into the test windows, by platform: on X (the "xcb" platform) a native GL window
// lies over the test window's client area and each rendering context comes through Qt; on any
// other platform ("offscreen" among them) each context renders into an EGL pbuffer of its own on
// the surfaceless platform, and the frames are read back into the window's surface, which its
// plain widget shows. The path follows the platform's name, never the environment.
//
// A context is made and made current on the thread that renders with it, and deleted there.
#pragma once

#include <QImage>
#include <QSize>

#include <functional>
#include <memory>
#include <string>

#include "lumen/three_d_rules.h"

class QWindow;
class QWidget;

namespace lumen {

class Window;

// True when contexts come through Qt on a native GL window (the "xcb" platform).
bool UseNativeGlWindows();

// Where a test's scenes render: the client area of `window` with one pixel format (a window's
// format is fixed when it is made). Made and removed through the user-interface thread.
class GlDrawable {
public:
    GlDrawable(Window* window, const PixelFormat& format);
    ~GlDrawable();
    GlDrawable(const GlDrawable&) = delete;
    GlDrawable& operator=(const GlDrawable&) = delete;

    Window* window() const { return window_; }
    const PixelFormat& format() const { return format_; }
    // The client size when the drawable was made.
    QSize size() const { return size_; }
    // The native GL window (null on the pbuffer path, or when it could not be made).
    QWindow* native() const { return native_; }

private:
    Window* window_;
    PixelFormat format_;
    QSize size_;
    QWindow* native_ = nullptr;
    QWidget* container_ = nullptr;
};

// A rendering context current on the calling thread on a drawable. Create shows the pixel-format
// box naming `func` ("Failed to Get Pixel information for func %s!" when no format or context can
// be had, "Failed to Set Pixel information for func %s!" when it cannot be made current; caption
// "Pallette Exception") and answers null. The destructor releases and deletes the context on the
// calling thread.
class GlContext {
public:
    static std::unique_ptr<GlContext> Create(GlDrawable* drawable, const char* func);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    bool MakeCurrent();
    void DoneCurrent();
    // The end of a frame (SwapBuffers): a double-buffered native window swaps; on the pbuffer
    // path the frame is read back and shown in the window. `scene` names it for the frame hook.
    void SwapBuffers(const char* scene);
    // The frame as rendered (glFinish, then read back), top row first.
    QImage ReadFrame();
    // Puts a frame into the window's surface (pbuffer path).
    static void ShowFrame(Window* window, const QImage& frame);
    bool DoubleBuffered() const { return double_buffered_; }
    GlDrawable* drawable() const { return drawable_; }

    struct Impl;

private:
    GlContext() = default;
    GlDrawable* drawable_ = nullptr;
    bool double_buffered_ = false;
    std::unique_ptr<Impl> impl_;
};

// The renderer string of the first context made (GL_RENDERER), empty before.
std::string GlRenderer();

// For tests: called with every frame shown and its scene's name (the frame is read back for it,
// on any path). Set it before the test starts, clear it after.
using GlFrameHook = std::function<void(const std::string& scene, const QImage& frame)>;
void SetGlFrameHook(GlFrameHook hook);
void CallGlFrameHook(const std::string& scene, GlContext& context);
void CallGlFrameHook(const std::string& scene, const QImage& frame);
// For tests: the next n contexts fail to be made (the pixel-format box is shown as for a
// format the driver refuses).
void FailNextPixelFormats(int n);

}  // namespace lumen
