#include "kestrel/shell/config_rules.h"

#include <sys/sysinfo.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/testswitch.h"
#include "shared/strformat.h"

std::string RebuildProcessorCount(const std::string& theproc, int count, size_t width) {
    // A leading count as "%d" reads it: blanks, a sign, digits.
    const char* text = theproc.c_str();
    char* end = nullptr;
    const long old = std::strtol(text, &end, 10);
    if (end == text || old != long(int(old))) return theproc;
    if (int(old) == count) return theproc;

    std::vector<std::string> words;
    for (size_t i = size_t(end - text); i < theproc.size();) {
        while (i < theproc.size() && std::isspace(static_cast<unsigned char>(theproc[i]))) ++i;
        const size_t start = i;
        while (i < theproc.size() && !std::isspace(static_cast<unsigned char>(theproc[i]))) ++i;
        if (i > start) words.push_back(theproc.substr(start, i - start));
    }
    if (!words.empty()) {
        std::string& last = words.back();
        if (count == 1) {
            if (last.back() == 's') last.pop_back();
        } else if (old == 1) {
            last += 's';
        }
    }
    std::string rebuilt = std::to_string(count);
    for (const std::string& word : words) rebuilt += ' ' + word;
    if (rebuilt.size() > width) rebuilt.resize(width);
    return rebuilt;
}

std::string MemorySizeText(uint64_t bytes, bool floor_plus_one) {
    constexpr uint64_t kMegabyte = 1048576;
    const uint64_t mb = floor_plus_one ? bytes / kMegabyte + 1 : (bytes + kMegabyte / 2) / kMegabyte;
    return std::to_string(mb);
}

int VideoRamTypeFor(const std::string& videoadapter, int ramvalue) {
    if (ramvalue == 0 && (videoadapter == "mgax64" || videoadapter == "mga_mil" || videoadapter == "mga64")) return 3;
    return ramvalue;
}

uint64_t TotalPhysicalMemory() {
    std::ifstream in(kp::ProcRoot() + "/meminfo");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("MemTotal:", 0) == 0) {
            const unsigned long long kb = std::strtoull(line.c_str() + 9, nullptr, 10);
            if (kb > 0) return uint64_t(kb) * 1024;
        }
    }
    struct sysinfo info {};
    if (sysinfo(&info) == 0) return uint64_t(info.totalram) * info.mem_unit;
    return 0;
}

std::string DefaultOsText(const std::string& osver, const std::string& servicepack) {
    return StrPrintf("Linux %s %s", osver.c_str(), servicepack.c_str());
}
