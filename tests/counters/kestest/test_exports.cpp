// The two shared libraries as their callers see them: exactly their entry points exported, and
// the entry points reaching the counter core (with the library's boxes shown by this program).
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "counters/kestest/kestest.h"
#include "platform/msgbox.h"
#include "tests/support/isolation.h"

namespace {

// The defined dynamic symbols of a shared library, as nm lists them.
std::set<std::string> Exports(const std::string& library) {
    std::set<std::string> names;
    std::string command = "nm -D --defined-only '" + library + "'";
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return names;
    char line[512];
    while (std::fgets(line, sizeof(line), p) != nullptr) {
        std::istringstream words(line);
        std::string address, type, name;
        if (words >> address >> type >> name) names.insert(name);
    }
    EXPECT_EQ(pclose(p), 0) << command;
    return names;
}

TEST(CounterLibraries, ExportExactlyTheirEntryPoints) {
    EXPECT_EQ(Exports(KESTEST_LIBRARY),
              (std::set<std::string>{"DoSort", "GetCounterIdsKestrelA", "GetCounterValueForIdNumberKestrelA",
                                     "GetCounterWin95DataKestrelA", "InstantCountA", "StartCountersA",
                                     "StopCountersA"}));
    EXPECT_EQ(Exports(KESCHK_LIBRARY),
              (std::set<std::string>{"GetCounterIdsKestrelA", "GetCounterValueForIdNumberKestrelA",
                                     "GetCounterWin95DataKestrelA", "StartCountersA", "StopCountersA"}));
}

template <class Fn>
Fn Bind(void* lib, const char* name) {
    void* f = dlsym(lib, name);
    EXPECT_NE(f, nullptr) << name;
    return reinterpret_cast<Fn>(f);
}

class Library : public testing::TestWithParam<const char*> {};

TEST_P(Library, EntryPointsReadTheCounters) {
    std::string root = kt::FreshDir("proc");
    kt::WriteFile(root + "/loadavg", "0.00 0.01 0.05 1/321 99\n");
    kt::WriteFile(root + "/vmstat", "pgfault 77\n");
    setenv("KESTREL_PROC_ROOT", root.c_str(), 1);
    kp::BoxRecorder rec;
    void* lib = dlopen(GetParam(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto ids = Bind<GetCounterIdsFn>(lib, "GetCounterIdsKestrelA");
    auto read = Bind<GetCounterValueFn>(lib, "GetCounterValueForIdNumberKestrelA");
    auto start = Bind<StartStopCountersFn>(lib, "StartCountersA");
    auto stop = Bind<StartStopCountersFn>(lib, "StopCountersA");
    auto stat = Bind<GetWin95DataFn>(lib, "GetCounterWin95DataKestrelA");
    ASSERT_TRUE(ids && read && start && stop && stat);

    uint32_t object = 0, counter = 0;
    EXPECT_EQ(ids("OBJECTS", "threads", &object, &counter), 0);
    uint64_t value = ~0ull;
    read(object, counter, nullptr, 0, &value);
    EXPECT_EQ(value, 321u);
    EXPECT_EQ(ids(nullptr, "Threads", &object, &counter), 64);
    EXPECT_EQ(read(0, counter, nullptr, 0, &value), 64u);

    // The object index given as the counter's: the library's box reaches this program's service.
    read(counter, counter, nullptr, 0, &value);
    EXPECT_EQ(value, 0u);
    ASSERT_EQ(rec.boxes().size(), 1u);
    EXPECT_EQ(rec.boxes()[0].text, "Oject Not Found");
    EXPECT_EQ(rec.boxes()[0].caption, "Performance Exception");

    EXPECT_EQ(start("VMM", "cPageFaults"), 0);
    EXPECT_EQ(stat("VMM", "cPageFaults"), 77u);
    EXPECT_EQ(stop("VMM", "cPageFaults"), 0);
    EXPECT_EQ(rec.boxes().size(), 1u);
    dlclose(lib);
    unsetenv("KESTREL_PROC_ROOT");
}

INSTANTIATE_TEST_SUITE_P(Both, Library, testing::Values(KESTEST_LIBRARY, KESCHK_LIBRARY),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? std::string("kestest") : std::string("keschk");
                         });

}  // namespace
