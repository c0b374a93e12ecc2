#include "glance/settings.h"

#include <iterator>
#include <optional>
#include <utility>

#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/logfont_values.h"
#include "shared/strformat.h"

namespace glance {

namespace {

using kp::reg::Key;
using kp::reg::Root;

void Complain(const std::string& text, kp::Owner owner = kp::Owner::Main) {
    kp::MessageBox(owner, text, "Registry Exception", kp::Icon::Exclamation);
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

namespace {

struct MailValue {
    const char* name;
    std::string MailPreferences::*text;
    size_t buffer;        // characters the value is held to, less one
    const char* failure;  // the box of a failed write; nullptr: not written
};
constexpr MailValue kMailValues[] = {
    {"Last User", &MailPreferences::LastUser, 1024, "Error in setting Last User value in the registry"},
    {"SMTP server", &MailPreferences::SMTPServer, 512, "Error in creating SMTP server value in the registry"},
    {"Sender", &MailPreferences::Sender, 512, "Error in setting sender address value in the registry"},
    {"Your Name", &MailPreferences::YourName, 1024, "Error in setting name value in the registry"},
    {"Kestrel directory", &MailPreferences::KestrelDirectory, 512,
     "Error in creating Kestrel directory value in the registry"},
    {"Signiature File", &MailPreferences::SignatureFile, 256,
     "Error in setting the signiature file value in the registry"},
    {"Kes Files Directory", &MailPreferences::KesFilesDirectory, 512, nullptr},
};

const MailValue& Mail(const char* name) {
    for (const MailValue& v : kMailValues)
        if (std::string(v.name) == name) return v;
    return kMailValues[0];
}

}  // namespace

int ReadMailPreferences(MailPreferences& prefs) {
    auto key = Key::Open(Root::CurrentUser, kKestrelKey);
    if (!key) return 1;
    bool missing[std::size(kMailValues)] = {};
    for (size_t i = 0; i < std::size(kMailValues); ++i) {
        const MailValue& v = kMailValues[i];
        const std::optional<std::string> text = key->QueryString(v.name);
        missing[i] = !text;
        // The recipients are held whole characters: a list kept longer (kestrel keeps more) is
        // cut where a character ends.
        if (!text) prefs.*v.text = std::string();
        else if (v.text == &MailPreferences::LastUser) prefs.*v.text = Utf8Head(*text, v.buffer - 1);
        else prefs.*v.text = text->substr(0, v.buffer - 1);
    }
    // The first missing value of this order decides.
    constexpr std::pair<int, int> kOrder[] = {{1, 2}, {2, 3}, {6, 7}, {5, 6}, {4, 7}};
    for (const auto& [index, code] : kOrder)
        if (missing[index]) return code;
    return 0;
}

int WriteMailPreferences(const MailPreferences& prefs) {
    auto key = Key::Create(Root::CurrentUser, kKestrelKey);
    if (!key) {
        Complain("Error in creating Kestrel key in the registry", kp::Owner::Active);
        return 10;
    }
    for (const char* name : {"SMTP server", "Sender", "Your Name", "Kestrel directory", "Signiature File", "Last User"}) {
        const MailValue& v = Mail(name);
        if (key->SetString(v.name, prefs.*v.text)) continue;
        Complain(v.failure, kp::Owner::Active);
        // A signature file that cannot be stored does not stop the others.
        if (v.text != &MailPreferences::SignatureFile) return 11;
    }
    return 0;
}

std::string ResultDirectory() {
    auto key = Key::Open(Root::CurrentUser, kKestrelKey);
    if (!key) return {};
    return key->QueryString("Kes Files Directory").value_or(std::string());
}

}  // namespace glance
