// The analyser's counter library with a tally of its samples, for the tests that run the real
// analyser. Every call goes on to the suite's own library (REAL_KESCHK). Each reading of a
// counter that was read before (the analyser's first reading of each counter only primes it)
// adds a line to the file named by KESCHK_SAMPLE_TALLY: the counter's name, a tab, and 1 when
// its value moved since its last reading, else 0. The analyser takes its readings under the
// lock its interval's averages are taken under, so a line in the file is a sample that the
// current interval counts: a test waits for the line instead of waiting for time.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "counters/kestest/kestest.h"

namespace {

struct Real {
    decltype(&GetCounterIdsKestrelA) ids = nullptr;
    decltype(&GetCounterValueForIdNumberKestrelA) value = nullptr;
    decltype(&GetCounterWin95DataKestrelA) win95 = nullptr;
    decltype(&StartCountersA) start = nullptr;
    decltype(&StopCountersA) stop = nullptr;
};

template <typename Fn>
void Bind(void* handle, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(dlsym(handle, name));
    if (*fn == nullptr) {
        std::fprintf(stderr, "sample tally: %s missing in %s\n", name, REAL_KESCHK);
        std::abort();
    }
}

const Real& Library() {
    static const Real real = [] {
        Real r;
        void* handle = dlopen(REAL_KESCHK, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "sample tally: %s\n", dlerror());
            std::abort();
        }
        Bind(handle, "GetCounterIdsKestrelA", &r.ids);
        Bind(handle, "GetCounterValueForIdNumberKestrelA", &r.value);
        Bind(handle, "GetCounterWin95DataKestrelA", &r.win95);
        Bind(handle, "StartCountersA", &r.start);
        Bind(handle, "StopCountersA", &r.stop);
        return r;
    }();
    return real;
}

std::mutex g_mutex;
std::map<std::pair<uint32_t, uint32_t>, std::string> g_names;  // counter indices -> the counter's name
std::map<std::string, uint64_t> g_last;                         // the last value of each counter and instance

void Tally(uint32_t objectIndex, uint32_t counterIndex, const char* instanceName, const void* value) {
    uint64_t v = 0;
    std::memcpy(&v, value, sizeof v);
    const std::string key = std::to_string(objectIndex) + "/" + std::to_string(counterIndex) + "/" +
                            (instanceName != nullptr ? instanceName : "-");
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto last = g_last.find(key);
    const bool primed = last != g_last.end();
    const bool moved = primed && last->second != v;
    g_last[key] = v;
    const char* path = std::getenv("KESCHK_SAMPLE_TALLY");
    if (!primed || path == nullptr) return;
    const std::string line = g_names[{objectIndex, counterIndex}] + (moved ? "\t1\n" : "\t0\n");
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    (void)!write(fd, line.data(), line.size());
    close(fd);
}

}  // namespace

extern "C" {

int32_t GetCounterIdsKestrelA(const char* objectName, const char* counterName, uint32_t* objectIndex,
                              uint32_t* counterIndex) {
    const int32_t r = Library().ids(objectName, counterName, objectIndex, counterIndex);
    if (r == 0 && counterName != nullptr) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_names[{*objectIndex, *counterIndex}] = counterName;
    }
    return r;
}

uint32_t GetCounterValueForIdNumberKestrelA(uint32_t objectIndex, uint32_t counterIndex, const char* instanceName,
                                            int32_t parentSelector, void* value) {
    const uint32_t t = Library().value(objectIndex, counterIndex, instanceName, parentSelector, value);
    if (value != nullptr) Tally(objectIndex, counterIndex, instanceName, value);
    return t;
}

uint32_t GetCounterWin95DataKestrelA(const char* objectName, const char* counterName) {
    return Library().win95(objectName, counterName);
}
int32_t StartCountersA(const char* objectName, const char* counterName) {
    return Library().start(objectName, counterName);
}
int32_t StopCountersA(const char* objectName, const char* counterName) {
    return Library().stop(objectName, counterName);
}

}  // extern "C"
