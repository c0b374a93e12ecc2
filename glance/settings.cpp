#include "glance/settings.h"

#include <optional>

#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/logfont_values.h"

namespace glance {

namespace {

using kp::reg::Key;
using kp::reg::Root;

void Complain(const std::string& text) {
    kp::MessageBox(kp::Owner::Main, text, "Registry Exception", kp::Icon::Exclamation);
}

}  // namespace

int LoadViewerSettings(ViewerSettings& s) {
    auto key = Key::Open(Root::CurrentUser, kViewerKey);
    if (!key) {
        SaveViewerSettings(s);
        return 1;
    }
    for (const RectValue& v : kViewerRectValues)
        if (auto n = key->QueryDword(v.name)) s.*v.side = static_cast<int32_t>(*n);
    if (s.Right <= 100 || s.Bottom <= 100) {
        s.Left = 200;
        s.Top = 150;
        s.Right = 800;
        s.Bottom = 600;
    }
    auto fonts = Key::Open(Root::CurrentUser, kViewerFontsKey);
    if (!fonts) {
        SaveViewerSettings(s);
        return 1;
    }
    s.font = LogFont{};
    for (const LogFontValue& f : LogFontValues()) ReadLogFontValue(fonts, s.font, f);
    return 0;
}

int SaveViewerSettings(const ViewerSettings& s) {
    auto key = Key::Create(Root::CurrentUser, kViewerKey);
    if (!key) {
        Complain("Error in creating the Glance key in the registry");
        return 10;
    }
    auto fonts = Key::Create(Root::CurrentUser, kViewerFontsKey);
    if (!fonts) {
        Complain("Error in creating Kestrel fonts key in the registry");
        return 10;
    }
    for (const RectValue& v : kViewerRectValues) {
        if (!key->SetDword(v.name, static_cast<uint32_t>(s.*v.side))) {
            Complain(std::string("Error in setting the ") + v.name + " value in the registry");
            return 11;
        }
    }
    for (const LogFontValue& f : LogFontValues()) {
        if (!WriteLogFontValue(*fonts, s.font, f)) {
            Complain(std::string("Error in setting the ") + f.name + " value in the registry");
            return 11;
        }
    }
    return 0;
}

Placement PlaceFrame(const ViewerSettings& s, int screen_width, int screen_height) {
    if (s.Right < screen_width - 1 || s.Bottom < screen_height - 1)
        return s.Right > 49 ? Placement::Stored : Placement::Maximised;
    return Placement::Maximised;
}

std::string ResultDirectory() {
    auto key = Key::Open(Root::CurrentUser, kKestrelKey);
    if (!key) return {};
    return key->QueryString("Kes Files Directory").value_or(std::string());
}

}  // namespace glance
