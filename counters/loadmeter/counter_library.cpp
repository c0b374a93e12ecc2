#include "counters/loadmeter/counter_library.h"

#include <dlfcn.h>

namespace {

template <typename Fn>
bool Bind(void* handle, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(dlsym(handle, name));
    return *fn != nullptr;
}

}  // namespace

std::unique_ptr<CounterLibrary> CounterLibrary::Load(const std::string& path, Status* status) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        *status = Status::Missing;
        return nullptr;
    }
    std::unique_ptr<CounterLibrary> lib(new CounterLibrary(handle));
    const bool all = Bind(handle, "GetCounterValueForIdNumberKestrelA", &lib->getValue_) &
                     Bind(handle, "GetCounterIdsKestrelA", &lib->getIds_) &
                     Bind(handle, "GetCounterWin95DataKestrelA", &lib->getWin95_) &
                     Bind(handle, "StartCountersA", &lib->start_) & Bind(handle, "StopCountersA", &lib->stop_);
    if (!all) {
        *status = Status::EntryPointMissing;
        return nullptr;
    }
    *status = Status::Loaded;
    return lib;
}

CounterLibrary::~CounterLibrary() { dlclose(handle_); }

int32_t CounterLibrary::GetCounterIds(const char* object, const char* counter, uint32_t* objectIndex,
                                      uint32_t* counterIndex) {
    return getIds_(object, counter, objectIndex, counterIndex);
}

uint32_t CounterLibrary::GetCounterValue(uint32_t objectIndex, uint32_t counterIndex, const char* instance,
                                         int32_t parentSelector, void* value) {
    return getValue_(objectIndex, counterIndex, instance, parentSelector, value);
}

uint32_t CounterLibrary::GetWin95Data(const char* object, const char* counter) {
    return getWin95_(object, counter);
}

int32_t CounterLibrary::StartCounters(const char* object, const char* counter) { return start_(object, counter); }

int32_t CounterLibrary::StopCounters(const char* object, const char* counter) { return stop_(object, counter); }
