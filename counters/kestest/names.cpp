// The English name list and the lookup of an object's and a counter's title index in it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "counters/kestest/counter_core.h"

namespace kestest {

using namespace std::string_view_literals;

const std::string_view kCounterNames =
    "2\0System\0"
    "4\0Memory\0"
    "6\0Processor\0"
    "8\0Objects\0"
    "10\0% Processor Time\0"
    "12\0Interrupts/sec\0"
    "14\0Context Switches/sec\0"
    "16\0Page Faults/sec\0"
    "18\0Pages/sec\0"
    "20\0Available Bytes\0"
    "22\0Cache Bytes\0"
    "24\0System Cache Resident Bytes\0"
    "26\0Processes\0"
    "28\0Threads\0"sv;

namespace {

// Longer names do not fit the name buffers of the lookup: they match nothing.
constexpr size_t kMaxNameLength = 255;

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool Matches(std::string_view entry, const char* name, bool usable) {
    return usable && SameName(entry, name);
}

int32_t Duplicate(const char* name, uint32_t first, const char* other, int32_t code) {
    std::printf("Duplicate Object name found: '%s'! (%d and: %s)\n", name, int(first), other);
    std::fflush(stdout);
    return code;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

int32_t FindCounterIds(const char* objectName, const char* counterName, uint32_t* objectIndex,
                       uint32_t* counterIndex, std::string_view nameList) {
    if (objectName == nullptr || counterName == nullptr || objectIndex == nullptr || counterIndex == nullptr) {
        return 64;
    }
    *objectIndex = 0;
    *counterIndex = 0;

    // The list is read into a buffer of its size plus 20 zero bytes, so it always ends in NULs.
    size_t bytes = nameList.size() + 20;
    char* list = static_cast<char*>(std::calloc(bytes, 1));
    if (list == nullptr) return 32;
    std::memcpy(list, nameList.data(), nameList.size());

    const bool objectUsable = std::strlen(objectName) <= kMaxNameLength;
    const bool counterUsable = std::strlen(counterName) <= kMaxNameLength;
    bool objectFound = false;
    bool counterFound = false;
    const char* previous = nullptr;  // the string before the current one: its index
    int32_t code = 0;
    for (const char* s = list; s < list + nameList.size() && *s != '\0'; s += std::strlen(s) + 1) {
        // A match on the very first string has no index before it: index 0.
        uint32_t index = previous != nullptr ? uint32_t(std::strtoul(previous, nullptr, 10)) : 0;
        if (Matches(s, counterName, counterUsable)) {
            if (counterFound) {
                code = Duplicate(counterName, *counterIndex, previous != nullptr ? previous : "", 256);
                break;
            }
            *counterIndex = index;
            counterFound = true;
        } else if (Matches(s, objectName, objectUsable)) {
            if (objectFound) {
                code = Duplicate(objectName, *objectIndex, previous != nullptr ? previous : "", 128);
                break;
            }
            *objectIndex = index;
            objectFound = true;
        }
        previous = s;
    }
    if (code == 0) code = !objectFound ? 1 : !counterFound ? 2 : 0;
    std::free(list);
    return code;
}

}  // namespace kestest
