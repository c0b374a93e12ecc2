// The metafile effect window (class "SpecEffect2"): shows one recorded picture at a time, chosen
// by command, drawn through a world transform that a settings record describes, in 0.01-mm units
// with the origin at the client's lower left corner. The test sequence opens none; a window of
// the class behaves as below when one exists.
//
// The picture is a QPicture recorded with QPainter in the reference device's pixels, kept with
// its frame in 0.01 mm; playing it maps the frame onto the play rectangle. World transforms are
// QTransforms: their fields (m11, m12, m21, m22, dx, dy) are those of the transforms below, and
// both multiply row vectors, so a right-multiply is world = world * m.
#pragma once

#include <QPicture>
#include <QRect>
#include <QTransform>
#include <QWidget>

#include <memory>
#include <string>

namespace lumen {

// The transform settings.
struct tagSETTINGS {
    float flShearX = 0.0f, flShearY = 0.0f;
    float flScaleX = 1.0f, flScaleY = 1.0f;
    int iShiftX = 0, iShiftY = 0;
    int iAngle = 0;  // degrees
    int bShift = 0, bShear = 0, bScale = 0, bReflect = 0, bFlipX = 0, bFlipY = 0, bRotate = 0;
};
// Shear 0, scale 1, shift 0, angle 0, every flag 0.
void SetTransformDefaults(tagSETTINGS* settings);

// ---- world transforms ---------------------------------------------------------------------------

// Each sets the world transform, or right-multiplies it.
enum class XformMode { Set, RightMultiply };
void Shift(QTransform& world, XformMode mode, double x, double y);
void Shear(QTransform& world, XformMode mode, double sx, double sy);
void Scale(QTransform& world, XformMode mode, double sx, double sy);
void Reflect(QTransform& world, XformMode mode, bool flip_x, bool flip_y);
// Counter-clockwise in a y-up mapping: (c, s, -s, c); in pixels (y down): (c, -s, s, c).
void Rotate(QTransform& world, XformMode mode, double degrees, bool pixel_mapping);
// Set Shift(-x, -y), right-multiply Rotate, right-multiply Shift(x, y).
void RotateInPlace(QTransform& world, double x, double y, double degrees, bool pixel_mapping);
void DefaultXform(QTransform& world);
// The painting's world transform: Shift, Shear, Scale, Reflect, Rotate in that order, each only
// when its flag is set; the first sets, the later ones right-multiply (Scale always does).
QTransform DoTransform(const tagSETTINGS& s);

// ---- device sizes ------------------------------------------------------------------------------

struct DeviceSize {
    int horzsize = 0;  // millimetres
    int vertsize = 0;
    int horzres = 0;   // pixels
    int vertres = 0;
};
// The screen's (a screen that reports no physical size counts as 96 pixels per inch).
DeviceSize ScreenDevice();
// Points in pixels to 0.01 mm: x times horzsize x 100 / horzres, y likewise, truncated.
void PixToMm(const DeviceSize& d, QPoint* points, int count);

// ---- pictures -----------------------------------------------------------------------------------

struct EnhMetaFile {
    QPicture picture;
    QRect source;  // the picture's rectangle in the reference device's pixels
    QRect frame;   // the same in 0.01 mm
};

// The builders (the screen is the reference device). Null when the picture, a font or the
// recording cannot be had.
std::unique_ptr<EnhMetaFile> MakeBitmapMF();
std::unique_ptr<EnhMetaFile> MakeFontsMF();
std::unique_ptr<EnhMetaFile> MakePathMF();
std::unique_ptr<EnhMetaFile> MakePensMF();
std::unique_ptr<EnhMetaFile> MakeBezierMF();

// "%s (%s : %u)": the system's English text of the error, the source name and the line.
std::string ErrorMsg2Text(int error, const char* source, unsigned line);
// Shows it for errno, caption "VideoKestrel 1.21 Exception", no owner.
void ShowErrorMsg2(const char* source, unsigned line);

class MetafileWindow : public QWidget {
public:
    explicit MetafileWindow(QWidget* parent = nullptr);
    ~MetafileWindow() override;

    // Builds the fonts picture into the window: 1, or 0 after the "Couldn't make the metafile" box.
    int InitEMF();
    // Commands 100 (bitmap), 110 (fonts), 120 (path), 130 (pens), 140 (Bezier): a new picture
    // replaces the old one and the window is painted again; a builder that fails leaves the
    // picture as it was and shows ShowErrorMsg2. Other commands do nothing.
    void Command(int id);
    // Command 300: new transform settings (copied), then the window is painted again.
    void DoTransformDlg(const tagSETTINGS& settings);

    const EnhMetaFile* hEMF() const { return emf_.get(); }
    const tagSETTINGS& Current() const { return current_; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void SetData(const tagSETTINGS& settings) { current_ = settings; }

    std::unique_ptr<EnhMetaFile> emf_;
    tagSETTINGS current_;
};

// Opens a window of the class with the fonts picture (user-interface thread).
MetafileWindow* OpenMetafileWindow();

// For tests: the next builder fails with errno set to `error`.
void FailNextMetafile(int error);

}  // namespace lumen
