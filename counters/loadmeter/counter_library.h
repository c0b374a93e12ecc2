// The counter library the analyser reads through, loaded from the program's own folder.
#pragma once

#include <memory>
#include <string>

#include "counters/kestest/kestest.h"
#include "counters/loadmeter/sampling.h"

class CounterLibrary : public CounterProvider {
public:
    enum class Status { Loaded, Missing, EntryPointMissing };
    // Loads the library at path and binds its five entry points.
    static std::unique_ptr<CounterLibrary> Load(const std::string& path, Status* status);
    ~CounterLibrary() override;

    int32_t GetCounterIds(const char* object, const char* counter, uint32_t* objectIndex,
                          uint32_t* counterIndex) override;
    uint32_t GetCounterValue(uint32_t objectIndex, uint32_t counterIndex, const char* instance,
                             int32_t parentSelector, void* value) override;
    uint32_t GetWin95Data(const char* object, const char* counter) override;
    int32_t StartCounters(const char* object, const char* counter) override;
    int32_t StopCounters(const char* object, const char* counter) override;

private:
    explicit CounterLibrary(void* handle) : handle_(handle) {}
    void* handle_;
    GetCounterValueFn getValue_ = nullptr;
    GetCounterIdsFn getIds_ = nullptr;
    GetWin95DataFn getWin95_ = nullptr;
    StartStopCountersFn start_ = nullptr;
    StartStopCountersFn stop_ = nullptr;
};
