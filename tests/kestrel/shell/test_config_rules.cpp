// The Configuration pages' rules that need no window: the processor count, the memory size and
// the video-memory type.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "kestrel/shell/config_rules.h"
#include "tests/support/isolation.h"

namespace {

TEST(ConfigRules, ProcessorTextFollowsTheMachinesCount) {
    const std::string name = "Intel Pentium Microprocessor";
    struct Row {
        std::string stored;
        int count;
        std::string expected;
    };
    const std::string ten_words = "2 a b c d e f g h i js";
    const Row rows[] = {
        {"2 " + name + "s", 1, "1 " + name},           // plural to singular
        {"1 " + name, 4, "4 " + name + "s"},           // singular to plural
        {"2 " + name + "s", 4, "4 " + name + "s"},     // plural stays plural
        {"4 " + name + "s", 4, "4 " + name + "s"},     // the same count: unchanged
        {name, 2, name},                               // no count: unchanged
        {"", 2, ""},
        {"  3   Two  Blanks ", 2, "2 Two Blanks"},     // one blank between the words
        {"3", 1, "1"},                                 // a count alone
        {ten_words, 1, "1 a b c d e f g h i j"},       // words after the ninth are kept
    };
    for (const Row& r : rows) EXPECT_EQ(RebuildProcessorCount(r.stored, r.count), r.expected) << r.stored;

    // Long words: the text is cut to the field's width, the words before the cut kept.
    std::string stored = "1";
    for (int k = 0; k < 9; ++k) stored += ' ' + std::string(49, char('a' + k));
    const std::string rebuilt = RebuildProcessorCount(stored, 16);
    ASSERT_EQ(rebuilt.size(), 119u);
    EXPECT_EQ(rebuilt, ("16" + stored.substr(1)).substr(0, 119));
}

TEST(ConfigRules, MemorySizeByEitherRule) {
    constexpr double kMB = 1048576.0;
    struct Row {
        double megabytes;
        bool floor_plus_one;
        const char* expected;
    };
    const Row rows[] = {
        {31.7, true, "32"},  {32.0, true, "33"},  {63.4, false, "63"},
        {63.6, false, "64"}, {63.5, false, "64"}, {0.2, false, "0"},
        // Beyond 4 GB.
        {6144.0, false, "6144"}, {6143.6, true, "6144"}, {65536.0, false, "65536"},
    };
    for (const Row& r : rows) {
        const auto bytes = uint64_t(r.megabytes * kMB);
        EXPECT_EQ(MemorySizeText(bytes, r.floor_plus_one), r.expected) << r.megabytes << " " << r.floor_plus_one;
    }
}

TEST(ConfigRules, PhysicalMemoryOfTheProcTree) {
    const std::string root = kt::FreshDir("proc");
    kt::WriteFile(root + "/meminfo", "MemTotal:       16315940 kB\nMemFree:         1000 kB\n");
    setenv("KESTREL_PROC_ROOT", root.c_str(), 1);
    EXPECT_EQ(TotalPhysicalMemory(), uint64_t(16315940) * 1024);
    EXPECT_EQ(MemorySizeText(TotalPhysicalMemory(), true), "15934");
    // Without a figure there: the system's own.
    kt::WriteFile(root + "/meminfo", "MemFree: 1000 kB\n");
    EXPECT_GT(TotalPhysicalMemory(), 0u);
    unsetenv("KESTREL_PROC_ROOT");
}

TEST(ConfigRules, AdaptersWithWram) {
    struct Row {
        const char* adapter;
        int ramvalue;
        int expected;
    };
    const Row rows[] = {{"mga64", 0, 3}, {"mgax64", 0, 3}, {"mga_mil", 0, 3}, {"mga64", 2, 2},
                        {"MGA64", 0, 0}, {"mga", 0, 0},    {"i915", 0, 0},    {"", 0, 0}};
    for (const Row& r : rows) EXPECT_EQ(VideoRamTypeFor(r.adapter, r.ramvalue), r.expected) << r.adapter;
}

TEST(ConfigRules, OperatingSystemText) {
    EXPECT_EQ(DefaultOsText("6.8.0-45-generic", "Ubuntu 24.04.1 LTS"), "Linux 6.8.0-45-generic Ubuntu 24.04.1 LTS");
}

}  // namespace
