#include "kestrel/engine/run/analyser_link.h"

#include <dlfcn.h>

#include <algorithm>
#include <iterator>

#include "counters/kestest/kestest.h"
#include "platform/msgbox.h"
#include "shared/perf_link.h"



int64_t getperfdata(const int* selector) {
    struct Counter {
        const char* object;
        const char* counter;
    };
    static const Counter kCounters[] = {
        {"Memory", "Cache Bytes"},
        {"Memory", "System Cache Resident Bytes"},
        {"Objects", "Processes"},
        {"Memory", "Available Bytes"},
        {"Objects", "Threads"},
    };
    void* lib = dlopen((SuiteProgramDirectory() + "/" + kCounterLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        kp::MessageBox(kp::Owner::Main,
                       "Library file kestest.dll failed to load (if condition persists, reinstall the file).",
                       "Library Exception", kp::Icon::Exclamation);
        return -1;
    }
    auto value_fn = reinterpret_cast<GetCounterValueFn>(dlsym(lib, "GetCounterValueForIdNumberKestrelA"));
    auto ids_fn = reinterpret_cast<GetCounterIdsFn>(dlsym(lib, "GetCounterIdsKestrelA"));
    if (value_fn == nullptr || ids_fn == nullptr) {
        kp::MessageBox(kp::Owner::Main, "Library functions failed to load at Perf_id",
                       "Library Exception", kp::Icon::Exclamation);
        dlclose(lib);
        return -1;
    }
    int64_t result = 0;
    const int s = selector != nullptr ? *selector : -1;
    if (s >= 0 && s < int(std::size(kCounters))) {
        uint32_t object = 0, counter = 0;
        ids_fn(kCounters[s].object, kCounters[s].counter, &object, &counter);
        unsigned char value[8] = {};
        value_fn(object, counter, nullptr, 0, value);
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | value[i];
        result = int64_t(std::min<uint64_t>(v, uint64_t(INT64_MAX)));
    }
    dlclose(lib);
    return result;
}
