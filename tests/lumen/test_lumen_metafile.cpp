// The metafile effect window: its transforms, the pixel-to-0.01-mm rule, each picture drawn
// when chosen, the settings' transform applied, and a builder that fails.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTest>

#include <cerrno>
#include <cmath>

#include "lumen/metafile_window.h"
#include "platform/error_text.h"
#include "platform/msgbox.h"
#include "tests/support/qt_test_main.h"

namespace lumen {
namespace {

bool Near(const QPointF& a, const QPointF& b) { return std::abs(a.x() - b.x()) < 1e-9 && std::abs(a.y() - b.y()) < 1e-9; }

TEST(MetafileRules, TransformsComposeInPaintingOrder) {
    struct Row {
        const char* what;
        tagSETTINGS s;
        QPointF in, out;
    };
    tagSETTINGS shift_rotate;
    shift_rotate.bShift = shift_rotate.bRotate = 1;
    shift_rotate.iShiftX = 10;
    shift_rotate.iShiftY = 5;
    shift_rotate.iAngle = 90;
    tagSETTINGS scale_only;
    scale_only.bScale = 1;
    scale_only.flScaleX = 2.0f;
    scale_only.flScaleY = 3.0f;
    tagSETTINGS rotate_shift = shift_rotate;  // the order is fixed, whatever is set
    tagSETTINGS reflect;
    reflect.bReflect = reflect.bFlipX = 1;
    tagSETTINGS shear_scale;
    shear_scale.bShear = shear_scale.bScale = 1;
    shear_scale.flShearX = 1.0f;
    shear_scale.flScaleX = shear_scale.flScaleY = 2.0f;
    const Row rows[] = {
        // Row vectors: shifted first, then turned a quarter counter-clockwise (y up).
        {"shift then rotate", shift_rotate, {1, 0}, {-5, 11}},
        {"rotate after shift", rotate_shift, {0, 0}, {-5, 10}},
        {"scale alone", scale_only, {1, 1}, {2, 3}},
        {"reflect x", reflect, {3, 4}, {-3, 4}},
        {"shear then scale", shear_scale, {0, 1}, {2, 2}},
        {"nothing set", tagSETTINGS{}, {7, 8}, {7, 8}},
    };
    for (const Row& r : rows) {
        const QPointF got = DoTransform(r.s).map(r.in);
        EXPECT_TRUE(Near(got, r.out)) << r.what << ": " << got.x() << ", " << got.y();
    }
    // The turn's sign follows the mapping: counter-clockwise on the screen either way.
    QTransform t;
    Rotate(t, XformMode::Set, 90, false);
    EXPECT_TRUE(Near(t.map(QPointF(1, 0)), QPointF(0, 1)));
    Rotate(t, XformMode::Set, 90, true);
    EXPECT_TRUE(Near(t.map(QPointF(1, 0)), QPointF(0, -1)));
    // Turning in place keeps the centre, and a right-multiply composes after what is there.
    RotateInPlace(t, 50, 40, 30, true);
    EXPECT_TRUE(Near(t.map(QPointF(50, 40)), QPointF(50, 40)));
    Scale(t, XformMode::Set, 2, 2);
    Shift(t, XformMode::RightMultiply, 1, 0);
    EXPECT_TRUE(Near(t.map(QPointF(1, 1)), QPointF(3, 2)));
    DefaultXform(t);
    EXPECT_TRUE(t.isIdentity());
    tagSETTINGS s = shift_rotate;
    SetTransformDefaults(&s);
    EXPECT_TRUE(DoTransform(s).isIdentity());
    EXPECT_EQ(s.flScaleX, 1.0f);
}

TEST(MetafileRules, PixelsToHundredthsOfAMillimetre) {
    const DeviceSize d{320, 240, 1280, 1024};
    QPoint p[3] = {{640, 512}, {1, 1}, {1279, 1023}};
    PixToMm(d, p, 3);
    EXPECT_EQ(p[0], QPoint(16000, 12000));
    EXPECT_EQ(p[1], QPoint(25, 23));  // 23.4 truncated
    EXPECT_EQ(p[2], QPoint(31975, 23976));
}

TEST(MetafileRules, ErrorTextNamesTheSourceAndLine) {
    EXPECT_EQ(ErrorMsg2Text(ENOENT, "LUMEN", 5122), "No such file or directory (LUMEN : 5122)");
    EXPECT_EQ(ErrorMsg2Text(99999, "LUMEN", 5151), "Unknown error 99999 (LUMEN : 5151)");
}

// Non-white pixels of the window as painted.
int Drawn(MetafileWindow* w) {
    const QImage shot = w->grab().toImage();
    int n = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) n += (shot.pixel(x, y) & 0xFFFFFFu) != 0xFFFFFFu ? 1 : 0;
    }
    return n;
}

TEST(MetafileWindow, DrawsEachPictureWhenChosen) {
    MetafileWindow* w = OpenMetafileWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(SCREENSHOT_DIR)));
    ASSERT_NE(w->hEMF(), nullptr);
    EXPECT_GT(Drawn(w), 50) << "fonts picture";
    const DeviceSize d = ScreenDevice();
    for (int id : {100, 110, 120, 130, 140}) {
        w->Command(id);
        ASSERT_NE(w->hEMF(), nullptr) << id;
        EXPECT_GT(Drawn(w), 50) << id;
        w->grab().save(QStringLiteral(SCREENSHOT_DIR "/metafile-%1.png").arg(id));
        // The frame is the source rectangle in 0.01 mm.
        QPoint corner(w->hEMF()->source.width(), w->hEMF()->source.height());
        PixToMm(d, &corner, 1);
        EXPECT_EQ(w->hEMF()->frame.size(), QSize(corner.x(), corner.y())) << id;
    }
    EXPECT_EQ(w->hEMF()->source, QRect(0, 0, 100, 100));
    // A reflection about the y axis takes the Bezier curve out of the client area (but for the
    // pixel at its start, on the axis).
    tagSETTINGS flip;
    flip.bReflect = flip.bFlipX = 1;
    w->DoTransformDlg(flip);
    EXPECT_LE(Drawn(w), 2);
    w->DoTransformDlg(tagSETTINGS{});
    EXPECT_GT(Drawn(w), 50);
    w->close();
}

TEST(MetafileWindow, ABuilderThatFailsKeepsThePictureAndSaysWhy) {
    auto* w = new MetafileWindow;
    ASSERT_EQ(w->InitEMF(), 1);
    const EnhMetaFile* before = w->hEMF();
    kp::BoxRecorder boxes;
    FailNextMetafile(ENOMEM);
    w->Command(100);
    EXPECT_EQ(w->hEMF(), before);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, kp::ErrorText(ENOMEM) + " (LUMEN : 5122)");
    EXPECT_EQ(boxes.boxes()[0].caption, "VideoKestrel 1.21 Exception");
    EXPECT_EQ(boxes.boxes()[0].owner, kp::Owner::None);
    FailNextMetafile(EIO);
    EXPECT_EQ(w->InitEMF(), 0);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[1].text, "Couldn't make the metafile");
    delete w;
}

}  // namespace
}  // namespace lumen

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }
