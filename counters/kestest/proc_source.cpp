// Readers of the /proc files the counters come from. Every path lies below kp::ProcRoot(), so
// tests can point them at a fixture tree. A file that cannot be read gives zero values.
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "counters/kestest/counter_core.h"
#include "platform/testswitch.h"

namespace kestest {
namespace {

std::string ProcPath(const std::string& name) { return kp::ProcRoot() + "/" + name; }

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// A decimal count; false when the text is not one.
bool ParseCount(const std::string& text, uint64_t* value) {
    if (!AllDigits(text)) return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

uint64_t CpuLine::TotalTicks() const {
    uint64_t sum = 0;
    for (uint64_t f : fields) sum += f;
    return sum;
}

ProcStat ReadProcStat() {
    ProcStat stat;
    std::ifstream in(ProcPath("stat"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key.rfind("cpu", 0) == 0) {
            CpuLine cpu;
            std::string number = key.substr(3);
            if (!number.empty()) {
                if (!AllDigits(number)) continue;
                cpu.cpu = std::atoi(number.c_str());
            }
            for (uint64_t& f : cpu.fields) {
                std::string w;
                if (!(words >> w) || !ParseCount(w, &f)) break;
            }
            if (cpu.cpu < 0) {
                stat.total = cpu;
            } else {
                stat.cpus.push_back(cpu);
            }
        } else if (key == "ctxt") {
            std::string w;
            words >> w;
            ParseCount(w, &stat.ctxt);
        }
    }
    return stat;
}

std::map<int, uint64_t> ReadInterruptsPerCpu() {
    std::map<int, uint64_t> sums;
    std::ifstream in(ProcPath("interrupts"));
    std::string line;
    if (!std::getline(in, line)) return sums;
    // The header names the columns; an offline processor has none.
    std::vector<int> columns;
    {
        std::istringstream words(line);
        std::string w;
        while (words >> w) {
            if (w.rfind("CPU", 0) == 0 && AllDigits(w.substr(3))) {
                columns.push_back(std::atoi(w.c_str() + 3));
                sums[columns.back()] = 0;
            }
        }
    }
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string label;
        words >> label;
        // These two rows carry one total for the whole machine.
        if (label == "ERR:" || label == "MIS:") continue;
        std::vector<uint64_t> counts;
        std::string w;
        while (counts.size() < columns.size() && words >> w) {
            uint64_t v = 0;
            if (!ParseCount(w, &v)) break;
            counts.push_back(v);
        }
        if (counts.size() != columns.size()) continue;
        for (size_t i = 0; i < columns.size(); ++i) sums[columns[i]] += counts[i];
    }
    return sums;
}

std::map<std::string, uint64_t> ReadNamedNumbers(const std::string& file) {
    std::map<std::string, uint64_t> values;
    std::ifstream in(ProcPath(file));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name, w;
        if (!(words >> name >> w)) continue;
        if (name.back() == ':') name.pop_back();
        uint64_t v = 0;
        if (ParseCount(w, &v)) values[name] = v;
    }
    return values;
}

uint64_t NamedNumber(const std::map<std::string, uint64_t>& values, const char* name) {
    auto it = values.find(name);
    return it != values.end() ? it->second : 0;
}

uint64_t ResidentFileCacheKiB(const std::map<std::string, uint64_t>& meminfo) {
    uint64_t cached = NamedNumber(meminfo, "Buffers") + NamedNumber(meminfo, "Cached");
    uint64_t shmem = NamedNumber(meminfo, "Shmem");
    return cached > shmem ? cached - shmem : 0;
}

uint64_t CountProcesses() {
    uint64_t count = 0;
    DIR* dir = opendir(kp::ProcRoot().c_str());
    if (dir == nullptr) return 0;
    while (dirent* e = readdir(dir)) {
        if (AllDigits(e->d_name)) ++count;
    }
    closedir(dir);
    return count;
}

uint64_t ReadThreadCount() {
    std::ifstream in(ProcPath("loadavg"));
    std::string a, b, c, tasks;
    in >> a >> b >> c >> tasks;
    size_t slash = tasks.find('/');
    uint64_t v = 0;
    if (slash != std::string::npos) ParseCount(tasks.substr(slash + 1), &v);
    return v;
}

uint64_t ClockTicksPerSecond() {
    long hz = sysconf(_SC_CLK_TCK);
    return hz > 0 ? uint64_t(hz) : 100;
}

uint64_t PageBytes() {
    long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? uint64_t(page) : 4096;
}

}  // namespace kestest
