#include "shared/gdi/font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kFixedPitch = 0x01;
constexpr int kFamilyRoman = 0x10, kFamilySwiss = 0x20, kFamilyModern = 0x30, kFamilyScript = 0x40,
              kFamilyDecorative = 0x50;

QFont::StyleHint HintOf(int family) {
    switch (family) {
        case kFamilyRoman: return QFont::Serif;
        case kFamilySwiss: return QFont::SansSerif;
        case kFamilyModern: return QFont::TypeWriter;
        case kFamilyScript: return QFont::Cursive;
        case kFamilyDecorative: return QFont::Decorative;
        default: return QFont::AnyStyle;
    }
}

// The old system faces and the kind of family that takes their place.
struct OldFace {
    const char* face;
    const char* substitute;
};
constexpr const char* kSans = "DejaVu Sans";
constexpr const char* kSerif = "DejaVu Serif";
constexpr OldFace kOldFaces[] = {
    {"Helv", kSans},           {"Helvetica", kSans},         {"Arial", kSans},
    {"MS Sans Serif", kSans},  {"System", kSans},            {"Modern", kSans},
    {"Tms Rmn", kSerif},       {"Times Roman", kSerif},      {"Times New Roman", kSerif},
    {"Times", kSerif},         {"MS Serif", kSerif},         {"Courier", kFixedPitchFamily},
    {"Courier New", kFixedPitchFamily}, {"Fixedsys", kFixedPitchFamily}, {"Terminal", kFixedPitchFamily},
};

}  // namespace

QString SubstituteFace(const QString& face, const QStringList& installed) {
    if (face.isEmpty() || installed.contains(face, Qt::CaseInsensitive)) return face;
    for (const OldFace& old : kOldFaces) {
        if (face.compare(QLatin1String(old.face), Qt::CaseInsensitive) != 0) continue;
        const QString substitute = QString::fromLatin1(old.substitute);
        return installed.contains(substitute, Qt::CaseInsensitive) ? substitute : face;
    }
    return face;
}

QFont DefaultFixedFont(const QStringList& installed) {
    const QString family = QString::fromLatin1(kFixedPitchFamily);
    if (!installed.contains(family, Qt::CaseInsensitive)) return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QFont f(family);
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    return f;
}

QFont DefaultFixedFont() { return DefaultFixedFont(QFontDatabase::families()); }

QFont FontFromLogFont(const LogFont& lf, const QFont& fallback) {
    if (lf.Height == 0) return fallback;
    return FontFromLogFont(lf, fallback, QFontDatabase::families());
}

QFont FontFromLogFont(const LogFont& lf, const QFont& fallback, const QStringList& installed) {
    if (lf.Height == 0) return fallback;
    const int family = lf.PitchAndFamily & 0xF0;
    QFont f = lf.FaceName.empty() && family == kFamilyModern ? DefaultFixedFont(installed) : fallback;
    if (!lf.FaceName.empty()) f.setFamily(SubstituteFace(QString::fromStdString(lf.FaceName), installed));
    f.setStyleHint(HintOf(family));
    if ((lf.PitchAndFamily & kFixedPitch) != 0) f.setFixedPitch(true);
    f.setWeight(QFont::Weight(lf.Weight <= 0 ? 400 : std::clamp<int>(lf.Weight, 1, 1000)));
    f.setItalic(lf.Italic != 0);
    f.setUnderline(lf.Underline != 0);
    f.setStrikeOut(lf.StrikeOut != 0);
    if (lf.Height < 0) {
        f.setPixelSize(-lf.Height);
    } else {
        // A positive height is the whole cell: the largest size whose lines fit in it.
        int size = lf.Height;
        f.setPixelSize(size);
        while (size > 1 && QFontMetrics(f).height() > lf.Height) f.setPixelSize(--size);
    }
    // The width asked for over the font's own average width at this height.
    if (lf.Width != 0) f = WithAverageCharWidth(f, std::abs(lf.Width));
    return f;
}

QFont WithAverageCharWidth(QFont font, int width) {
    if (width <= 0) return font;
    font.setStretch(QFont::Unstretched);
    const int natural = QFontMetrics(font).averageCharWidth();
    if (natural > 0) font.setStretch(std::clamp((width * 100 + natural / 2) / natural, 1, 4000));
    return font;
}

LogFont LogFontFromFont(const QFont& font) {
    const QFontInfo info(font);
    LogFont lf;
    lf.Height = -std::max(1, info.pixelSize());
    lf.Weight = font.weight();
    lf.Italic = font.italic() ? 1 : 0;
    lf.Underline = font.underline() ? 1 : 0;
    lf.StrikeOut = font.strikeOut() ? 1 : 0;
    lf.PitchAndFamily = uint8_t((info.fixedPitch() ? kFixedPitch : 0) |
                                (font.styleHint() == QFont::TypeWriter ? kFamilyModern : 0));
    lf.FaceName = info.family().left(31).toStdString();
    return lf;
}

QString StyleFor(int weight, bool sloped, const std::vector<FaceStyle>& styles, const QString& inUse) {
    const bool slantListed =
        std::any_of(styles.begin(), styles.end(), [sloped](const FaceStyle& s) { return s.sloped == sloped; });
    const FaceStyle* best = nullptr;
    const auto worse = [&](const FaceStyle& a, const FaceStyle& b) {  // a is worse than b
        const int da = std::abs(a.weight - weight), db = std::abs(b.weight - weight);
        return da != db ? da > db : a.name != inUse && b.name == inUse;
    };
    for (const FaceStyle& s : styles) {
        if (slantListed && s.sloped != sloped) continue;
        if (best == nullptr || worse(*best, s)) best = &s;
    }
    return best != nullptr ? best->name : QString();
}

QFont ForFontDialog(QFont font) {
    const QFontInfo info(font);
    const QString family = info.family();
    std::vector<FaceStyle> styles;
    for (const QString& name : QFontDatabase::styles(family)) {
        const QFont face = QFontDatabase::font(family, name, 12);
        styles.push_back({name, QFontDatabase::weight(family, name), face.style() != QFont::StyleNormal});
    }
    const QString style = StyleFor(font.weight(), font.italic(), styles, info.styleName());
    if (style.isEmpty()) return font;
    font.setFamily(family);
    font.setStyleName(style);
    return font;
}
