// Fonts from logical-font records: the old system faces' substitutes, the width as a stretch, and
// the records the report font stores, which come out as they always did.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

#include "shared/gdi/font.h"
#include "tests/support/qt_test_main.h"

namespace {

const QString kSans = QStringLiteral("DejaVu Sans");
const QString kSerif = QStringLiteral("DejaVu Serif");
const QString kMono = QStringLiteral("DejaVu Sans Mono");

TEST(GdiFont, OldFacesTakeInstalledFamilies) {
    const QStringList dejavu = {kSans, kSerif, kMono};
    struct Case {
        const char* face;
        QStringList installed;
        QString want;
    };
    const Case cases[] = {
        {"Helv", dejavu, kSans},
        {"Tms Rmn", dejavu, kSerif},
        {"Courier New", dejavu, kMono},
        {"Arial", dejavu, kSans},
        {"tms rmn", dejavu, kSerif},  // names are matched without case
        {"MS Sans Serif", dejavu, kSans},
        {"Times Roman", dejavu, kSerif},
        {"Courier", dejavu, kMono},
        // An installed face is kept, as is any other name and an old face whose substitute is missing.
        {"Arial", {QStringLiteral("Arial"), kSans}, QStringLiteral("Arial")},
        {"Nimbus Sans", dejavu, QStringLiteral("Nimbus Sans")},
        {"Helv", {kSerif, kMono}, QStringLiteral("Helv")},
        {"", dejavu, QString()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SubstituteFace(QString::fromLatin1(c.face), c.installed).toStdString(), c.want.toStdString()) << c.face;
    }
}

TEST(GdiFont, LineFontsOfTheFontTest) {
    // The faces are looked up in a list of our own, so that a machine with a real "Arial" or
    // "Courier New" gives the same families.
    const QStringList installed = {kSans, kSerif, kMono};
    struct Case {
        const char* face;
        int height, width, weight;
        QString family;
    };
    const Case cases[] = {
        {"Helv", 18, 9, 0, kSans},        {"Tms Rmn", 28, 19, 100, kSerif}, {"Courier New", 38, 29, 200, kMono},
        {"Arial", 48, 39, 300, kSans},    {"Helv", 58, 49, 400, kSans},
    };
    // Measuring the fonts needs the families themselves: DejaVu, which scripts/deps installs (no
    // font's metrics can be checked without a real font).
    ASSERT_TRUE(QFontDatabase::families().contains(kSans)) << "scripts/deps installs fonts-dejavu-core";
    for (const Case& c : cases) {
        LogFont lf;
        lf.Height = c.height;
        lf.Width = c.width;
        lf.Weight = c.weight;
        lf.Italic = 1;
        lf.Underline = 1;
        lf.PitchAndFamily = 0x30;
        lf.FaceName = c.face;
        const QFont f = FontFromLogFont(lf, QFont(), installed);
        EXPECT_EQ(f.family().toStdString(), c.family.toStdString()) << c.face;
        EXPECT_EQ(f.weight(), c.weight == 0 ? QFont::Normal : QFont::Weight(c.weight)) << c.face;
        EXPECT_TRUE(f.italic());
        EXPECT_TRUE(f.underline());
        EXPECT_FALSE(f.strikeOut());
        // The cell height holds the font's lines; the width stretches the font from its own
        // average width at that size to the one asked for.
        EXPECT_EQ(QFontInfo(f).family().toStdString(), c.family.toStdString()) << c.face;
        EXPECT_LE(QFontMetrics(f).height(), c.height) << c.face;
        EXPECT_NEAR(QFontMetrics(f).averageCharWidth(), c.width, 1) << c.face;
    }
}

TEST(GdiFont, StoredReportRecordsComeOutAsBefore) {
    // The records the report font stores: no width, an installed face or none (the modern family).
    const QFont fallback(QStringLiteral("Serif"), 9);
    const QStringList installed = {kSans, kMono};
    LogFont stored;
    stored.Height = -17;
    stored.Weight = 700;
    stored.Italic = 1;
    stored.PitchAndFamily = 0x31;
    stored.FaceName = "DejaVu Sans Mono";
    QFont want = fallback;
    want.setFamily(kMono);
    want.setStyleHint(QFont::TypeWriter);
    want.setFixedPitch(true);
    want.setWeight(QFont::Bold);
    want.setItalic(true);
    want.setUnderline(false);
    want.setStrikeOut(false);
    want.setPixelSize(17);
    EXPECT_EQ(FontFromLogFont(stored, fallback, installed), want);

    LogFont empty_face;
    empty_face.Height = -12;
    empty_face.PitchAndFamily = 0x30;
    QFont want_fixed = DefaultFixedFont(installed);
    want_fixed.setStyleHint(QFont::TypeWriter);
    want_fixed.setWeight(QFont::Normal);
    want_fixed.setItalic(false);
    want_fixed.setUnderline(false);
    want_fixed.setStrikeOut(false);
    want_fixed.setPixelSize(12);
    EXPECT_EQ(FontFromLogFont(empty_face, fallback, installed), want_fixed);
    EXPECT_EQ(FontFromLogFont(LogFont{}, fallback, installed), fallback);
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }
