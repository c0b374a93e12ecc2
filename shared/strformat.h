// printf-style formatting into a std::string (report lines, box texts, value names). The
// programs run with LC_NUMERIC "C", so numbers read back the same in every locale.
#pragma once

#include <string>

std::string StrPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text without the blanks and tabs at its ends.
std::string Trimmed(const std::string& text);

// The text with each CR LF made a plain LF (a lone CR stays).
std::string WithLfLineEnds(const std::string& text);

// The text's first `max` bytes at most, never part of a UTF-8 character: a character that the
// cut would split is left out whole.
std::string Utf8Head(const std::string& text, size_t max);
