// The viewer's own settings: its window rectangle and its font, in the "Glance" subkey of
// kestrel's per-user key (and "Glance\fonts"), and where result files are opened and saved.
#pragma once

#include <cstdint>
#include <string>

#include "shared/logfont.h"

namespace glance {

inline constexpr const char* kKestrelKey = "Software\\Kestrel 1.21\\Kestrel";
inline constexpr const char* kViewerKey = "Software\\Kestrel 1.21\\Kestrel\\Glance";
inline constexpr const char* kViewerFontsKey = "Software\\Kestrel 1.21\\Kestrel\\Glance\\fonts";

struct ViewerSettings {
    // The frame as stored: Right holds the width and Bottom the height.
    int32_t Left = 0;
    int32_t Right = 0;
    int32_t Top = 0;
    int32_t Bottom = 0;
    LogFont font;  // the font of every document window
};

// The frame rectangle's values, in the order they are written.
struct RectValue {
    const char* name;
    int32_t ViewerSettings::*side;
};
inline constexpr RectValue kViewerRectValues[] = {
    {"Main Window Rect Left", &ViewerSettings::Left},
    {"Main Window Rect Right", &ViewerSettings::Right},
    {"Main Window Rect Top", &ViewerSettings::Top},
    {"Main Window Rect Bottom", &ViewerSettings::Bottom},
};

// Reads the settings. A missing key writes the settings as they are and gives 1; a stored width
// or height of 100 or less gives 200, 150, 800 by 600. 0 when both keys were read.
int LoadViewerSettings(ViewerSettings& settings);
// Writes the rectangle and the font. 0; 10 when a key cannot be made; 11 when a value cannot be
// written (after a box naming it; the values after it are not written).
int SaveViewerSettings(const ViewerSettings& settings);

// Where the frame opens: at the stored rectangle, or maximised (over 200, 150, 800 by 600).
enum class Placement { Stored, Maximised };
Placement PlaceFrame(const ViewerSettings& settings, int screen_width, int screen_height);

// The mail settings, kestrel's own values in its per-user key (each held to its buffer's size).
struct MailPreferences {
    std::string LastUser;           // "Last User": the last To text (1023 bytes, whole characters)
    std::string SMTPServer;         // "SMTP server"
    std::string Sender;             // "Sender": the From text
    std::string YourName;           // "Your Name"
    std::string KestrelDirectory;   // "Kestrel directory"
    std::string SignatureFile;      // "Signiature File": a text file added to every message
    std::string KesFilesDirectory;  // "Kes Files Directory": where result files are
};
// Reads the mail settings (a missing value reads as empty). 0 all there; 1 no key; else, in this
// order, 2 no "SMTP server", 3 no "Sender", 7 no "Kes Files Directory", 6 no "Signiature File",
// 7 no "Kestrel directory".
int ReadMailPreferences(MailPreferences& prefs);
// Writes "SMTP server", "Sender", "Your Name", "Kestrel directory", "Signiature File" and
// "Last User". 0; 10 when the key cannot be made; 11 when a value cannot be written (after a box
// naming it; a failed signature value is shown and the writing goes on).
int WriteMailPreferences(const MailPreferences& prefs);

// kestrel's result-file folder ("Kes Files Directory"), where Open and Save as start; empty when
// kestrel has not stored one.
std::string ResultDirectory();

}  // namespace glance
