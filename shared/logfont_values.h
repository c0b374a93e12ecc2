// A logical font record as registry values: the fourteen "LogFont ..." values of a fonts key.
// kestrel's report font and the viewer's font are stored the same way: the 32-bit fields as
// numbers, each byte field alone in the low byte of a number (read back from the low byte only),
// and the face name as a string.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/registry.h"
#include "shared/logfont.h"

// One value of the record: a 32-bit field, a byte field, or (neither) the face name.
struct LogFontValue {
    const char* name;
    int32_t LogFont::*number = nullptr;
    uint8_t LogFont::*byte = nullptr;
};

// The fourteen values in the order they are written and read.
std::span<const LogFontValue> LogFontValues();

// Writes one value of the record; false when the store refuses it.
bool WriteLogFontValue(kp::reg::Key& key, const LogFont& font, const LogFontValue& value);
// Reads one value into the record; false (the field unchanged) when it is missing or has
// another type, or when there is no key.
bool ReadLogFontValue(const std::optional<kp::reg::Key>& key, LogFont& font, const LogFontValue& value);
