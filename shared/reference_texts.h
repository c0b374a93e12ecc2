// The reference report texts as the build embeds them from data/reference/: one table of lines
// per text file ("tableN.txt" in data/reference/), found by its table's name ("specifics1",
// "specifics7_win95", ...).
#pragma once

#include <cstddef>

namespace reference {

struct EmbeddedText {
    const char* name;
    const char* const* lines;
    size_t count;
};
extern const EmbeddedText embedded_texts[];
extern const size_t embedded_text_count;

}  // namespace reference
