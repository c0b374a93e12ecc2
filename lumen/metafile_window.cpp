#include "lumen/metafile_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "lumen/bitmaps/bitmaps.h"
#include "lumen/generator.h"
#include "lumen/lumen_state.h"
#include "platform/error_text.h"
#include "platform/msgbox.h"
#include "shared/gdi/dib.h"

namespace lumen {

namespace {

std::atomic<int> g_fail_error{0};

// True (with errno set) when a test asked for the next builder to fail.
bool TakeFailure() {
    const int error = g_fail_error.exchange(0);
    if (error == 0) return false;
    errno = error;
    return true;
}

void Apply(QTransform& world, XformMode mode, const QTransform& m) {
    world = mode == XformMode::Set ? m : world * m;
}

// MulDiv(a, b, c): a x b / c rounded half away from zero.
int MulDiv(int a, int b, int c) { return int(std::lround(double(a) * double(b) / double(c))); }

// A recording on a new picture, its frame from the rectangle in pixels.
struct Recording {
    std::unique_ptr<EnhMetaFile> emf = std::make_unique<EnhMetaFile>();
    QPainter painter;
    bool Begin() {
        if (!painter.begin(&emf->picture)) {
            errno = ENOMEM;
            return false;
        }
        return true;
    }
    std::unique_ptr<EnhMetaFile> End(const QRect& source) {
        if (painter.isActive()) painter.end();
        emf->source = source;
        QPoint corners[2] = {source.topLeft(), QPoint(source.left() + source.width(), source.top() + source.height())};
        PixToMm(ScreenDevice(), corners, 2);
        emf->frame = QRect(corners[0], QSize(corners[1].x() - corners[0].x(), corners[1].y() - corners[0].y()));
        return std::move(emf);
    }
};

// A font as its description asks: the face, the cell height in pixels, the weight and the
// family's style hint (the character set and precisions mean nothing here).
QFont FontOf(const char* face, int height, int weight, QFont::StyleHint hint) {
    QFont f(QString::fromLatin1(face));
    f.setPixelSize(height);
    f.setWeight(QFont::Weight(weight));
    f.setStyleHint(hint);
    return f;
}

}  // namespace

void SetTransformDefaults(tagSETTINGS* s) { *s = tagSETTINGS{}; }

void Shift(QTransform& world, XformMode mode, double x, double y) {
    Apply(world, mode, QTransform(1, 0, 0, 1, x, y));
}
void Shear(QTransform& world, XformMode mode, double sx, double sy) {
    Apply(world, mode, QTransform(1, sy, sx, 1, 0, 0));
}
void Scale(QTransform& world, XformMode mode, double sx, double sy) {
    Apply(world, mode, QTransform(sx, 0, 0, sy, 0, 0));
}
void Reflect(QTransform& world, XformMode mode, bool flip_x, bool flip_y) {
    Apply(world, mode, QTransform(flip_x ? -1 : 1, 0, 0, flip_y ? -1 : 1, 0, 0));
}
void Rotate(QTransform& world, XformMode mode, double degrees, bool pixel_mapping) {
    const double r = degrees * M_PI / 180.0;
    const double c = std::cos(r), s = std::sin(r);
    Apply(world, mode, pixel_mapping ? QTransform(c, -s, s, c, 0, 0) : QTransform(c, s, -s, c, 0, 0));
}
void RotateInPlace(QTransform& world, double x, double y, double degrees, bool pixel_mapping) {
    Shift(world, XformMode::Set, -x, -y);
    Rotate(world, XformMode::RightMultiply, degrees, pixel_mapping);
    Shift(world, XformMode::RightMultiply, x, y);
}
void DefaultXform(QTransform& world) { world = QTransform(); }

QTransform DoTransform(const tagSETTINGS& s) {
    QTransform world;
    bool first = true;
    auto mode = [&first] {
        const XformMode m = first ? XformMode::Set : XformMode::RightMultiply;
        first = false;
        return m;
    };
    if (s.bShift) Shift(world, mode(), s.iShiftX, s.iShiftY);
    if (s.bShear) Shear(world, mode(), s.flShearX, s.flShearY);
    if (s.bScale) {
        Scale(world, XformMode::RightMultiply, s.flScaleX, s.flScaleY);
        first = false;
    }
    if (s.bReflect) Reflect(world, mode(), s.bFlipX != 0, s.bFlipY != 0);
    // The window paints in 0.01 mm, y up.
    if (s.bRotate) Rotate(world, mode(), s.iAngle, false);
    return world;
}

DeviceSize ScreenDevice() {
    DeviceSize d{0, 0, 1024, 768};
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        d.horzres = screen->geometry().width();
        d.vertres = screen->geometry().height();
        d.horzsize = int(screen->physicalSize().width());
        d.vertsize = int(screen->physicalSize().height());
    }
    if (d.horzsize <= 0 || d.vertsize <= 0) {
        d.horzsize = int(d.horzres * 25.4 / 96.0);
        d.vertsize = int(d.vertres * 25.4 / 96.0);
    }
    return d;
}

void PixToMm(const DeviceSize& d, QPoint* points, int count) {
    for (int i = 0; i < count; ++i) {
        points[i].setX(int(int64_t(points[i].x()) * d.horzsize * 100 / d.horzres));
        points[i].setY(int(int64_t(points[i].y()) * d.vertsize * 100 / d.vertres));
    }
}

std::unique_ptr<EnhMetaFile> MakeBitmapMF() {
    if (TakeFailure()) return nullptr;
    const std::optional<gdi::Dib> dib = LoadDIBResource("varden");
    if (!dib) {
        errno = ENOENT;
        return nullptr;
    }
    // The picture's own colours (a palette would only matter on an 8-bit display).
    const QImage image = gdi::DIBtoDDB(*dib);
    Recording r;
    if (!r.Begin()) return nullptr;
    r.painter.drawImage(0, 0, image);
    return r.End(QRect(0, 0, image.width(), image.height()));
}

std::unique_ptr<EnhMetaFile> MakeFontsMF() {
    if (TakeFailure()) return nullptr;
    const QFont fonts[3] = {FontOf("Arial", 22, 400, QFont::SansSerif), FontOf("Modern", 22, 400, QFont::TypeWriter),
                            FontOf("Ms Serif", 22, 400, QFont::Serif)};
    const char* const lines[3] = {"TrueType font", "Vector font", "Raster font"};
    Recording r;
    if (!r.Begin()) return nullptr;
    r.painter.setPen(Qt::black);
    const int x = QFontMetrics(fonts[0]).averageCharWidth();
    int y = 0;
    QRect covered;
    for (int i = 0; i < 3; ++i) {
        r.painter.setFont(fonts[i]);
        const QFontMetrics m(fonts[i]);
        const QString text = QString::fromLatin1(lines[i]);
        r.painter.drawText(x, y + m.ascent(), text);
        covered |= QRect(x, y, m.horizontalAdvance(text), m.height());
        y += m.height() + m.leading();
    }
    // Recorded with an empty frame: the frame becomes what the lines cover.
    return r.End(covered);
}

std::unique_ptr<EnhMetaFile> MakePathMF() {
    if (TakeFailure()) return nullptr;
    const QFont font = FontOf("Arial", 108, 700, QFont::SansSerif);
    const QFontMetrics m(font);
    const QRect extent(0, 0, m.horizontalAdvance(QLatin1Char('Q')), m.height());
    Recording r;
    if (!r.Begin()) return nullptr;
    QTransform world;
    RotateInPlace(world, extent.width() / 2.0, extent.height() / 2.0, 30.0, true);
    r.painter.setWorldTransform(world);
    QPainterPath path;
    path.addText(0, m.ascent(), font, QStringLiteral("Q"));
    r.painter.strokePath(path, QPen(Qt::black, 1));
    r.painter.setBackgroundMode(Qt::OpaqueMode);
    r.painter.setBackground(Qt::black);
    r.painter.fillPath(path, QBrush(Qt::white, Qt::DiagCrossPattern));
    return r.End(extent);
}

std::unique_ptr<EnhMetaFile> MakePensMF() {
    if (TakeFailure()) return nullptr;
    const DeviceSize d = ScreenDevice();
    const QRect frame(0, 0, d.horzres / 5, d.vertres / 5);
    const int left = frame.left(), top = frame.top();
    const int right = left + frame.width(), bottom = top + frame.height();
    Recording r;
    if (!r.Begin()) return nullptr;
    QPainter& p = r.painter;
    p.setPen(QPen(Qt::black, 1, Qt::DotLine, Qt::FlatCap));
    p.drawLine(left, top, right, top);
    p.drawLine(right, top, right, bottom);
    p.setPen(QPen(Qt::black, 0));
    p.drawLine(right, bottom, left, bottom);
    p.drawLine(left, bottom, left, top);
    const int w = frame.width() / 5;
    SeedThreadGenerator();
    const int red = Rand() % 255, green = Rand() % 255, blue = Rand() % 255;
    p.setPen(QPen(QColor(red, green, blue), w, Qt::SolidLine, Qt::FlatCap));
    int x = left + w;
    const int tops[3] = {top + w / 2, top + w, top + int(1.5 * w)};
    for (int i = 0; i < 3; ++i) {
        p.drawLine(x, bottom, x, tops[i]);
        x += MulDiv(3, w, 2);
    }
    return r.End(frame);
}

std::unique_ptr<EnhMetaFile> MakeBezierMF() {
    if (TakeFailure()) return nullptr;
    Recording r;
    if (!r.Begin()) return nullptr;
    QPainterPath path(QPointF(0, 0));
    path.cubicTo(20, 80, 80, 0, 100, 80);
    r.painter.setPen(QPen(Qt::black, 0));
    r.painter.drawPath(path);
    return r.End(QRect(0, 0, 100, 100));
}

std::string ErrorMsg2Text(int error, const char* source, unsigned line) {
    char text[512];
    std::snprintf(text, sizeof text, "%s (%s : %u)", kp::ErrorText(error).c_str(), source, line);
    return text;
}

void ShowErrorMsg2(const char* source, unsigned line) {
    const std::string text = ErrorMsg2Text(errno, source, line);
    char caption[64];
    std::snprintf(caption, sizeof caption, "VideoKestrel %s Exception", kVersion);
    kp::MessageBox(kp::Owner::None, text, caption, kp::Icon::Exclamation);
}

MetafileWindow::MetafileWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SpecEffect2"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
}

MetafileWindow::~MetafileWindow() = default;

int MetafileWindow::InitEMF() {
    emf_ = MakeFontsMF();
    if (!emf_) {
        kp::MessageBox(kp::Owner::Main, "Couldn't make the metafile", "VideoKestrel Exception", kp::Icon::Stop);
        return 0;
    }
    return 1;
}

void MetafileWindow::Command(int id) {
    struct Builder {
        int id;
        std::unique_ptr<EnhMetaFile> (*make)();
        unsigned line;
    };
    static const Builder kBuilders[] = {{100, &MakeBitmapMF, 5122}, {110, &MakeFontsMF, 5137},
                                        {120, &MakePathMF, 5166},   {130, &MakePensMF, 5180},
                                        {140, &MakeBezierMF, 5151}};
    for (const Builder& b : kBuilders) {
        if (b.id != id) continue;
        std::unique_ptr<EnhMetaFile> made = b.make();
        if (!made) {
            ShowErrorMsg2("LUMEN", b.line);
            return;
        }
        emf_ = std::move(made);
        repaint();
        return;
    }
}

void MetafileWindow::DoTransformDlg(const tagSETTINGS& settings) {
    SetData(settings);
    repaint();
}

void MetafileWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!emf_) return;
    const DeviceSize d = ScreenDevice();
    // 0.01 mm, y up, the origin at the client's lower left corner.
    const QTransform page = QTransform::fromScale(double(d.horzres) / (d.horzsize * 100.0),
                                                  -double(d.vertres) / (d.vertsize * 100.0)) *
                            QTransform::fromTranslate(0, height());
    const QTransform world = DoTransform(current_);
    // The play rectangle: left 0, top the frame's height, right its width, bottom 0.
    const QRect& src = emf_->source;
    if (src.isEmpty()) return;
    const double fw = emf_->frame.width(), fh = emf_->frame.height();
    const QTransform play = QTransform::fromTranslate(-src.left(), -src.top()) *
                            QTransform::fromScale(fw / src.width(), -fh / src.height()) *
                            QTransform::fromTranslate(0, fh);
    p.setTransform(play * world * page);
    p.drawPicture(0, 0, emf_->picture);
}

void MetafileWindow::closeEvent(QCloseEvent* e) {
    emf_.reset();
    QWidget::closeEvent(e);
}

MetafileWindow* OpenMetafileWindow() {
    auto* w = new MetafileWindow;
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowTitle(QStringLiteral("SpecEffect2"));
    w->resize(crect.Width() / 2, crect.Height() / 2);
    w->InitEMF();
    w->show();
    return w;
}

void FailNextMetafile(int error) { g_fail_error.store(error); }

}  // namespace lumen
