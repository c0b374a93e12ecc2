// A logical font record: the fields of a font as the settings store keeps it and as the report,
// the viewer and the video tests ask for one.
#pragma once

#include <cstdint>
#include <string>

// The fields of a logical font record (the report font as stored). Height < 0 is the character
// height in pixels; Weight 0 is normal; an all-zero record means the default application font.
struct LogFont {
    int32_t Height = 0;
    int32_t Width = 0;
    int32_t Escapement = 0;
    int32_t Orientation = 0;
    int32_t Weight = 0;
    uint8_t Italic = 0;
    uint8_t Underline = 0;
    uint8_t StrikeOut = 0;
    uint8_t CharSet = 0;
    uint8_t OutPrecision = 0;
    uint8_t ClipPrecision = 0;
    uint8_t Quality = 0;
    uint8_t PitchAndFamily = 0;
    std::string FaceName;  // at most 31 characters
    bool operator==(const LogFont&) const = default;
};
