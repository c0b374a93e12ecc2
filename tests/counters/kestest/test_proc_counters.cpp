// Counter values read from fixture /proc trees (KESTREL_PROC_ROOT) through the whole path: name
// lookup, block built from the files, walk. Then the dynamic statistics, and a look at the real
// /proc.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "counters/kestest/counter_core.h"
#include "platform/msgbox.h"
#include "tests/support/isolation.h"

namespace {

using namespace kestest;

// A /proc tree of our own for the length of a test.
class ProcTree {
public:
    ProcTree() : root_(kt::FreshDir("proc")) { setenv("KESTREL_PROC_ROOT", root_.c_str(), 1); }
    ~ProcTree() { unsetenv("KESTREL_PROC_ROOT"); }
    void Write(const std::string& name, const std::string& text) { kt::WriteFile(root_ + "/" + name, text); }
    void Dir(const std::string& name) { mkdir((root_ + "/" + name).c_str(), 0755); }

private:
    std::string root_;
};

const char* kStat =
    "cpu  3000 30 1500 24000 600 10 20 5 0 0\n"
    "cpu0 1000 10 500 8000 200 5 7 0 0 0\n"
    "cpu2 1000 10 500 7000 300 3 6 0 0 0\n"
    "cpu3 1000 10 500 9000 100 2 7 5 0 0\n"
    "intr 987654 1 2 3\n"
    "ctxt 4294968530\n"  // 2^32 + 1234
    "btime 1700000000\n"
    "processes 99999\n";

// CPU1 is offline: it has no column and no line.
const char* kInterrupts =
    "           CPU0       CPU2       CPU3       \n"
    "  0:         10          0          1   IO-APIC   2-edge      timer\n"
    "  8:          2          3          4   IO-APIC   8-edge      rtc0\n"
    "NMI:          5          6          7   Non-maskable interrupts\n"
    "LOC:        100        200        300   Local timer interrupts\n"
    "ERR:          9\n"
    "MIS:          9\n";

const char* kVmstat =
    "nr_free_pages 5000\n"
    "pgpgin 4000\n"
    "pgpgout 4192\n"
    "pswpin 11\n"
    "pswpout 22\n"
    "pgfault 4294967395\n"  // 2^32 + 99
    "pgmajfault 7\n";

const char* kMeminfo =
    "MemTotal:       16000000 kB\n"
    "MemFree:         1000000 kB\n"
    "MemAvailable:    6000000 kB\n"
    "Buffers:            1000 kB\n"
    "Cached:            50000 kB\n"
    "SwapCached:            0 kB\n"
    "Shmem:              3000 kB\n"
    "SReclaimable:       7000 kB\n";

void WriteMachine(ProcTree& t) {
    t.Write("stat", kStat);
    t.Write("interrupts", kInterrupts);
    t.Write("vmstat", kVmstat);
    t.Write("meminfo", kMeminfo);
    t.Write("loadavg", "0.50 0.40 0.30 3/456 7890\n");
    for (const char* d : {"1", "23", "4567", "self", "sys", "12a"}) t.Dir(d);
}

struct Reading {
    uint32_t result;
    uint64_t value;
    std::vector<std::string> boxes;
};

Reading Read(const char* object, const char* counter, const char* instance = nullptr) {
    kp::BoxRecorder rec;
    uint64_t value = ~0ull;
    Reading r{ReadCounterValueByNames(object, counter, instance, 0, &value), value, {}};
    for (const kp::BoxRequest& b : rec.boxes()) r.boxes.push_back(b.text);
    return r;
}

uint64_t Value(const char* object, const char* counter, const char* instance = nullptr) {
    Reading r = Read(object, counter, instance);
    EXPECT_TRUE(r.boxes.empty()) << object << " / " << counter << ": " << (r.boxes.empty() ? "" : r.boxes[0]);
    return r.value;
}

uint64_t IdleHundredNs(uint64_t ticks) { return ticks * 10000000 / ClockTicksPerSecond(); }

TEST(ProcCounters, ProcessorInstancesPerOnlineCpu) {
    ProcTree t;
    WriteMachine(t);
    EXPECT_EQ(Value("Processor", "% Processor Time", "0"), IdleHundredNs(8000 + 200));
    EXPECT_EQ(Value("Processor", "% Processor Time", "2"), IdleHundredNs(7000 + 300));
    EXPECT_EQ(Value("Processor", "% Processor Time", "3"), IdleHundredNs(9000 + 100));
    // Interrupt columns are found by their header, not by position; ERR and MIS are left out.
    EXPECT_EQ(Value("Processor", "Interrupts/sec", "0"), 10u + 2 + 5 + 100);
    EXPECT_EQ(Value("Processor", "Interrupts/sec", "2"), 0u + 3 + 6 + 200);
    EXPECT_EQ(Value("Processor", "Interrupts/sec", "3"), 1u + 4 + 7 + 300);
    EXPECT_EQ(Value("Processor", "Interrupts/sec", "_Total"), 117u + 209 + 312);
    Reading offline = Read("Processor", "% Processor Time", "1");
    EXPECT_EQ(offline.value, 0u);
    EXPECT_EQ(offline.boxes, std::vector<std::string>{"Instance Doesn't Exist"});
}

TEST(ProcCounters, InterruptsOfASingleProcessor) {
    ProcTree t;
    t.Write("stat", "cpu  1 0 1 50 0 0 0 0\ncpu0 1 0 1 50 0 0 0 0\nctxt 1\n");
    t.Write("interrupts",
            "           CPU0\n"
            "  0:         40   IO-APIC   2-edge      timer\n"
            "LOC:         60   Local timer interrupts\n"
            "ERR:          9\n"
            "MIS:          3\n");
    EXPECT_EQ(Value("Processor", "Interrupts/sec", "0"), 100u);
}

TEST(ProcCounters, SystemMemoryAndObjects) {
    ProcTree t;
    WriteMachine(t);
    // Four-byte counters carry the low 32 bits.
    EXPECT_EQ(Value("System", "Context Switches/sec"), 1234u);
    EXPECT_EQ(Value("Memory", "Page Faults/sec"), 99u);
    // Paging is counted in KiB by the kernel, in pages here.
    EXPECT_EQ(Value("Memory", "Pages/sec"), uint64_t(8192) * 1024 / uint64_t(sysconf(_SC_PAGESIZE)));
    // Byte counts are eight bytes wide: above 4 GiB nothing is lost.
    EXPECT_EQ(Value("Memory", "Available Bytes"), uint64_t(6000000) * 1024);
    EXPECT_EQ(Value("Memory", "Cache Bytes"), uint64_t(1000 + 50000 - 3000 + 7000) * 1024);
    EXPECT_EQ(Value("Memory", "System Cache Resident Bytes"), uint64_t(1000 + 50000 - 3000) * 1024);
    EXPECT_EQ(Value("Objects", "Processes"), 3u);
    EXPECT_EQ(Value("Objects", "Threads"), 456u);
}

TEST(ProcCounters, ReadsByNameFailLikeTheLookup) {
    ProcTree t;
    WriteMachine(t);
    EXPECT_EQ(Read("Disk", "Threads").result, 1u);
    EXPECT_EQ(Read("Objects", "Semaphores").result, 2u);
    // A counter of another object: the object is there, the counter is not.
    Reading wrong = Read("System", "Threads");
    EXPECT_EQ(wrong.value, 0u);
    EXPECT_EQ(wrong.boxes, std::vector<std::string>{"Counter not found"});
}

TEST(ProcCounters, MissingFilesReadAsZero) {
    ProcTree t;  // empty
    EXPECT_EQ(Value("Memory", "Available Bytes"), 0u);
    EXPECT_EQ(Value("Objects", "Threads"), 0u);
    // No processor lines: only the total instance is left.
    EXPECT_EQ(Read("Processor", "% Processor Time", "0").boxes, std::vector<std::string>{"Instance Doesn't Exist"});
}

std::vector<std::string> Texts(const kp::BoxRecorder& rec) {
    std::vector<std::string> texts;
    for (const kp::BoxRequest& b : rec.boxes()) {
        EXPECT_EQ(b.caption, "Performance Exception");
        texts.push_back(b.text);
    }
    return texts;
}

TEST(DynamicStatistics, ValuesFromProc) {
    ProcTree t;
    WriteMachine(t);
    kp::BoxRecorder rec;
    const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
    EXPECT_EQ(ReadStatistic("VMM", "cPageFaults"), 99u);
    EXPECT_EQ(ReadStatistic("VMM", "cPageIns"), 11u);
    EXPECT_EQ(ReadStatistic("VMM", "cPageOuts"), 22u);
    EXPECT_EQ(ReadStatistic("vmm", "CPGFREE"), uint32_t(uint64_t(1000000) * 1024 / page));
    EXPECT_EQ(ReadStatistic("VMM", "cpgDiskcache"), uint32_t(uint64_t(48000) * 1024 / page));
    EXPECT_EQ(InstantStatistic("KERNEL", "Threads"), 456u);
    EXPECT_EQ(StartStatistic("VMM", "cPageFaults"), 0);
    EXPECT_EQ(StopStatistic("VMM", "cPageFaults"), 0);
    EXPECT_TRUE(rec.boxes().empty());
}

TEST(DynamicStatistics, ProcessorUsageBetweenReadings) {
    ProcTree t;
    t.Write("stat", "cpu  1000 0 500 8000 500 0 0 0 0 0\n");
    kp::BoxRecorder rec;
    ASSERT_EQ(StartStatistic("KERNEL", "CPUUsage"), 0);
    // 1000 ticks later, 600 of them idle or waiting.
    t.Write("stat", "cpu  1300 0 600 8500 600 0 0 0 0 0\n");
    EXPECT_EQ(ReadStatistic("KERNEL", "CPUUsage"), 40u);
    // No time has passed: the previous value stands.
    EXPECT_EQ(ReadStatistic("KERNEL", "CPUUsage"), 40u);
    t.Write("stat", "cpu  1300 0 600 9500 600 0 0 0 0 0\n");
    EXPECT_EQ(ReadStatistic("KERNEL", "CPUUsage"), 0u);
    t.Write("stat", "cpu  1350 25 625 9500 600 0 0 0 0 0\n");
    EXPECT_EQ(ReadStatistic("KERNEL", "CPUUsage"), 100u);
    EXPECT_EQ(StopStatistic("KERNEL", "CPUUsage"), 0);
    EXPECT_TRUE(rec.boxes().empty());
}

TEST(DynamicStatistics, UnknownStatisticsBoxAndAnswerTwo) {
    ProcTree t;
    WriteMachine(t);
    kp::BoxRecorder rec;
    EXPECT_EQ(StartStatistic("VMM", "cDiskReads"), 2);
    EXPECT_EQ(StopStatistic("VMM", "cDiskReads"), 2);
    EXPECT_EQ(ReadStatistic("VMM", "cDiskReads"), 2u);
    EXPECT_EQ(StartStatistic(nullptr, "CPUUsage"), 2);
    EXPECT_EQ(Texts(rec), (std::vector<std::string>{"Error finding counter info",
                                                    "Unable to stop the performance statistics",
                                                    "Allocation Error", "Error finding counter info"}));
    EXPECT_EQ(rec.boxes()[0].icon, kp::Icon::None);
    EXPECT_EQ(rec.boxes()[1].icon, kp::Icon::None);
    EXPECT_EQ(rec.boxes()[2].icon, kp::Icon::Exclamation);
}

TEST(RealProc, ProcessorIdleTimeAndContextSwitches) {
    unsetenv("KESTREL_PROC_ROOT");
    EXPECT_GT(Value("Processor", "% Processor Time", "0"), 0u);
    uint64_t first = Value("System", "Context Switches/sec");
    usleep(10000);
    uint64_t second = Value("System", "Context Switches/sec");
    // The low 32 bits may wrap between the readings; the step forward is what counts.
    EXPECT_LT(uint32_t(second - first), 0x80000000u);
}

}  // namespace
