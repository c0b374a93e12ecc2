#include "lumen/gl_surface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QWidget>
#include <QWindow>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "lumen/windows.h"
#include "platform/msgbox.h"
#include "shared/gdi/present.h"

#define EGL_NO_X11
#define MESA_EGL_NO_X11_HEADERS
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

namespace lumen {

namespace {

std::atomic<int> g_fail_formats{0};
std::mutex g_hook_mutex;
GlFrameHook g_hook;
std::mutex g_renderer_mutex;
std::string g_renderer;

bool TakeFormatFailure() {
    int pending = g_fail_formats.load();
    while (pending > 0) {
        if (g_fail_formats.compare_exchange_weak(pending, pending - 1)) return true;
    }
    return false;
}

void PixelFormatBox(const char* verb, const char* func) {
    char text[160];
    std::snprintf(text, sizeof text, "Failed to %s Pixel information for func %s!", verb, func);
    kp::MessageBox(kp::Owner::Main, text, "Pallette Exception", kp::Icon::Stop);
}

void KeepRenderer() {
    std::lock_guard<std::mutex> lock(g_renderer_mutex);
    if (!g_renderer.empty()) return;
    const auto* text = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    if (text != nullptr) g_renderer = text;
}

// The EGL display of the surfaceless platform, initialised once (EGL_NO_DISPLAY when missing).
EGLDisplay SurfacelessDisplay() {
    static EGLDisplay display = [] {
        auto get = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (get == nullptr) return EGL_NO_DISPLAY;
        EGLDisplay d = get(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d == EGL_NO_DISPLAY) return EGL_NO_DISPLAY;
        EGLint major = 0, minor = 0;
        if (!eglInitialize(d, &major, &minor)) return EGL_NO_DISPLAY;
        return d;
    }();
    return display;
}

// A configuration for the format: the colour sizes asked, the depth asked or (when the driver has
// none that deep) the deepest it has.
bool ChooseConfig(EGLDisplay d, const PixelFormat& f, EGLConfig* config) {
    const QSurfaceFormat s = SurfaceFormatOf(f);
    for (int depth : {f.depth_bits, 24, 16}) {
        if (depth > f.depth_bits) continue;
        const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                     EGL_RED_SIZE, s.redBufferSize(), EGL_GREEN_SIZE, s.greenBufferSize(),
                                     EGL_BLUE_SIZE, s.blueBufferSize(), EGL_DEPTH_SIZE, depth, EGL_NONE};
        EGLint n = 0;
        if (eglChooseConfig(d, attributes, config, 1, &n) && n > 0) return true;
    }
    return false;
}

}  // namespace

bool UseNativeGlWindows() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

GlDrawable::GlDrawable(Window* window, const PixelFormat& format)
    : window_(window), format_(format), size_(window->ClientSize()) {
    if (!UseNativeGlWindows()) return;
    gdi::RunOnGuiThread([this] {
        QWidget* host = window_->widget();
        if (host == nullptr) return;
        native_ = new QWindow;
        native_->setSurfaceType(QSurface::OpenGLSurface);
        native_->setFormat(SurfaceFormatOf(format_));
        container_ = QWidget::createWindowContainer(native_, host);
        container_->setGeometry(QRect(QPoint(0, 0), size_));
        container_->show();
        // Rendering starts once the window is on the screen.
        QElapsedTimer clock;
        clock.start();
        while (!native_->isExposed() && clock.elapsed() < 2000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
    });
}

GlDrawable::~GlDrawable() {
    if (container_ == nullptr) return;
    QWidget* container = container_;
    gdi::RunOnGuiThread([container] { delete container; });
}

struct GlContext::Impl {
    std::unique_ptr<QOpenGLContext> qt;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface pbuffer = EGL_NO_SURFACE;
    EGLContext egl = EGL_NO_CONTEXT;
};

std::unique_ptr<GlContext> GlContext::Create(GlDrawable* drawable, const char* func) {
    std::unique_ptr<GlContext> c(new GlContext);
    c->drawable_ = drawable;
    c->impl_ = std::make_unique<Impl>();
    Impl& impl = *c->impl_;
    const bool refused = TakeFormatFailure();
    if (UseNativeGlWindows()) {
        QWindow* native = drawable->native();
        impl.qt = std::make_unique<QOpenGLContext>();
        if (native != nullptr) impl.qt->setFormat(native->requestedFormat());
        if (refused || native == nullptr || !impl.qt->create()) {
            PixelFormatBox("Get", func);
            return nullptr;
        }
        if (!impl.qt->makeCurrent(native)) {
            PixelFormatBox("Set", func);
            return nullptr;
        }
        c->double_buffered_ = impl.qt->format().swapBehavior() == QSurfaceFormat::DoubleBuffer;
    } else {
        impl.display = SurfacelessDisplay();
        EGLConfig config = nullptr;
        if (refused || impl.display == EGL_NO_DISPLAY || !ChooseConfig(impl.display, drawable->format(), &config)) {
            PixelFormatBox("Get", func);
            return nullptr;
        }
        const QSize size = drawable->size();
        const EGLint pbuffer[] = {EGL_WIDTH, std::max(1, size.width()), EGL_HEIGHT, std::max(1, size.height()),
                                  EGL_NONE};
        eglBindAPI(EGL_OPENGL_API);
        impl.pbuffer = eglCreatePbufferSurface(impl.display, config, pbuffer);
        if (impl.pbuffer != EGL_NO_SURFACE) impl.egl = eglCreateContext(impl.display, config, EGL_NO_CONTEXT, nullptr);
        if (impl.egl == EGL_NO_CONTEXT) {
            PixelFormatBox("Set", func);
            return nullptr;
        }
        if (!eglMakeCurrent(impl.display, impl.pbuffer, impl.pbuffer, impl.egl)) {
            PixelFormatBox("Set", func);
            return nullptr;
        }
        c->double_buffered_ = false;
    }
    KeepRenderer();
    return c;
}

GlContext::~GlContext() {
    if (!impl_) return;
    Impl& impl = *impl_;
    if (impl.qt) {
        if (QOpenGLContext::currentContext() == impl.qt.get()) impl.qt->doneCurrent();
        impl.qt.reset();
    }
    if (impl.display != EGL_NO_DISPLAY) {
        if (eglGetCurrentContext() == impl.egl && impl.egl != EGL_NO_CONTEXT) {
            eglMakeCurrent(impl.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        }
        if (impl.egl != EGL_NO_CONTEXT) eglDestroyContext(impl.display, impl.egl);
        if (impl.pbuffer != EGL_NO_SURFACE) eglDestroySurface(impl.display, impl.pbuffer);
    }
}

bool GlContext::MakeCurrent() {
    if (impl_->qt) return drawable_->native() != nullptr && impl_->qt->makeCurrent(drawable_->native());
    return eglMakeCurrent(impl_->display, impl_->pbuffer, impl_->pbuffer, impl_->egl) == EGL_TRUE;
}

void GlContext::DoneCurrent() {
    if (impl_->qt) {
        impl_->qt->doneCurrent();
    } else {
        eglMakeCurrent(impl_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
}

void GlContext::SwapBuffers(const char* scene) {
    if (impl_->qt) {
        CallGlFrameHook(scene, *this);
        if (drawable_->native() != nullptr) impl_->qt->swapBuffers(drawable_->native());
        return;
    }
    const QImage frame = ReadFrame();
    ShowFrame(drawable_->window(), frame);
    CallGlFrameHook(scene, frame);
}

QImage GlContext::ReadFrame() {
    glFinish();
    const QSize size = drawable_->size();
    QImage frame(size, QImage::Format_RGB32);
    if (frame.isNull()) return frame;
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, size.width(), size.height(), GL_BGRA, GL_UNSIGNED_BYTE, frame.bits());
    // GL's rows run bottom-up; the alpha the scene cleared to is not the picture's.
    frame.mirror(false, true);
    for (int y = 0; y < frame.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < frame.width(); ++x) row[x] |= 0xFF000000u;
    }
    return frame;
}

void GlContext::ShowFrame(Window* window, const QImage& frame) {
    if (window == nullptr || frame.isNull()) return;
    OneCall(window, [&](gdi::GdiDc& dc) { dc.SetDIBitsToDevice(0, 0, frame); });
}

std::string GlRenderer() {
    std::lock_guard<std::mutex> lock(g_renderer_mutex);
    return g_renderer;
}

void SetGlFrameHook(GlFrameHook hook) {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    g_hook = std::move(hook);
}

void CallGlFrameHook(const std::string& scene, GlContext& context) {
    {
        std::lock_guard<std::mutex> lock(g_hook_mutex);
        if (!g_hook) return;
    }
    const QImage frame = context.ReadFrame();
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    if (g_hook) g_hook(scene, frame);
}

void CallGlFrameHook(const std::string& scene, const QImage& frame) {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    if (g_hook) g_hook(scene, frame);
}

void FailNextPixelFormats(int n) { g_fail_formats.store(n < 0 ? 0 : n); }

}  // namespace lumen
