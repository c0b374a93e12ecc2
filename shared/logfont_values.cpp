#include "shared/logfont_values.h"

#include <iterator>
#include <string>

namespace {

constexpr size_t kFaceChars = 31;

const LogFontValue kValues[] = {
    {"LogFont Underline", nullptr, &LogFont::Underline},
    {"LogFont Italic", nullptr, &LogFont::Italic},
    {"LogFont FaceName"},
    {"LogFont Height", &LogFont::Height},
    {"LogFont Width", &LogFont::Width},
    {"LogFont Weight", &LogFont::Weight},
    {"LogFont Escapement", &LogFont::Escapement},
    {"LogFont Orientation", &LogFont::Orientation},
    {"LogFont StrikeOut", nullptr, &LogFont::StrikeOut},
    {"LogFont CharSet", nullptr, &LogFont::CharSet},
    {"LogFont OutPrecision", nullptr, &LogFont::OutPrecision},
    {"LogFont ClipPrecision", nullptr, &LogFont::ClipPrecision},
    {"LogFont Quality", nullptr, &LogFont::Quality},
    {"LogFont PitchAndFamily", nullptr, &LogFont::PitchAndFamily},
};

}  // namespace

std::span<const LogFontValue> LogFontValues() { return {kValues, std::size(kValues)}; }

bool WriteLogFontValue(kp::reg::Key& key, const LogFont& font, const LogFontValue& f) {
    if (f.number != nullptr) return key.SetDword(f.name, static_cast<uint32_t>(font.*f.number));
    if (f.byte != nullptr) return key.SetDword(f.name, font.*f.byte);
    return key.SetString(f.name, font.FaceName.substr(0, kFaceChars));
}

bool ReadLogFontValue(const std::optional<kp::reg::Key>& key, LogFont& font, const LogFontValue& f) {
    if (!key) return false;
    if (f.number == nullptr && f.byte == nullptr) {
        auto s = key->QueryString(f.name);
        if (s) font.FaceName = s->substr(0, kFaceChars);
        return s.has_value();
    }
    auto n = key->QueryDword(f.name);
    if (!n) return false;
    if (f.number != nullptr) font.*f.number = static_cast<int32_t>(*n);
    else font.*f.byte = static_cast<uint8_t>(*n & 0xff);
    return true;
}
