#include "shared/strformat.h"

#include <cstdarg>
#include <cstdio>

std::string StrPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (n > 0) {
        text.resize(size_t(n));
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return {};
    return text.substr(start, text.find_last_not_of(" \t") + 1 - start);
}

std::string WithLfLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

std::string Utf8Head(const std::string& text, size_t max) {
    if (text.size() <= max) return text;
    // The start of the character the cut falls in: back over its continuation bytes (at most
    // three) to its first byte.
    size_t start = max;
    while (start > 0 && max - start < 3 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const bool split = start < max && static_cast<unsigned char>(text[start]) >= 0xC0;
    return text.substr(0, split ? start : max);
}
