// The rules of the preferences and settings windows: memory-load entries, scaling steps, window
// sizes, the result directory and the sender.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "kestrel/engine/disk/disk_drives.h"
#include "kestrel/shell/settings_rules.h"

namespace {

TEST(SettingsRules, MemoryLoadEntryCountFromTotalMemory) {
    // M = bytes / 1,024,000 rounded half up, against the steps 17, 21, 25, 41, 76.
    constexpr uint64_t U = 1024000;
    const struct {
        uint64_t bytes;
        int entries;
    } cases[] = {
        {16ull * 1048576, 2},                  // 16 MB: M = 16
        {17 * U + U / 2 - 1, 2},               // M = 17
        {17 * U + U / 2, 3},                   // M = 18
        {21 * U, 3},        {22 * U, 4},        {25 * U, 4},  {26 * U, 5}, {41 * U, 5},
        {42 * U, 6},        {76 * U, 6},        {77 * U, 7},
        {80ull * 1048576, 7},                  // 80 MB
        {(4ull << 30) + 16 * U, 7},            // above 4 GB: no 32-bit wrap to 16 MB
        {64ull << 30, 7},
    };
    for (const auto& c : cases) EXPECT_EQ(MemoryLoadEntryCount(c.bytes), c.entries) << c.bytes;
}

TEST(SettingsRules, ScalingStepsAreTheDivisorsUpToHalf) {
    const struct {
        int n;
        std::vector<int> steps;
    } cases[] = {{1, {}}, {2, {1}}, {3, {1}}, {4, {1, 2}}, {6, {1, 2, 3}}, {8, {1, 2, 4}}, {12, {1, 2, 3, 4, 6}},
                 {32, {1, 2, 4, 8, 16}}};
    for (const auto& c : cases) EXPECT_EQ(ScalingSteps(c.n), c.steps) << c.n;
}

TEST(SettingsRules, WindowSizesOfTheProcessorAndDriveWindows) {
    const struct {
        int n;
        SettingsWindowSize uniproc, disk;
    } cases[] = {
        {1, {350, 160}, {400, 305}},  {3, {350, 160}, {400, 305}},  {4, {400, 160}, {400, 305}},
        {5, {500, 160}, {500, 305}},  {7, {700, 160}, {700, 305}},  {8, {700, 240}, {700, 430}},
        {14, {700, 240}, {700, 430}}, {15, {700, 320}, {700, 555}}, {26, {700, 400}, {700, 680}},
        {32, {700, 480}, {700, 805}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UniProcWindowSize(c.n), c.uniproc) << c.n;
        EXPECT_EQ(DiskWindowSize(c.n), c.disk) << c.n;
    }
}

TEST(SettingsRules, ResultFolderWithinAPath) {
    const struct {
        const char* path;
        const char* result;
    } cases[] = {
        {"/home/ann", "/home/ann/Kestrel Files"},
        {"/data/", "/data/Kestrel Files"},
        {"/", "/Kestrel Files"},  // a drive root: no second slash
        {"/data/kestrel files/2024", "/data/kestrel files/2024"},
        {"/mnt/c/KESTRE~1", "/mnt/c/KESTRE~1"},
        {"/data/Kestrel", "/data/Kestrel/Kestrel Files"},
    };
    for (const auto& c : cases) EXPECT_EQ(WithKestrelFiles(c.path), c.result) << c.path;
}

TEST(SettingsRules, DefaultResultDirectory) {
    // Found, made, or neither (then the base itself).
    const struct {
        bool exists, makes;
        const char* result;
        int made;
    } cases[] = {{true, false, "/home/ann/Kestrel Files", 0},
                 {false, true, "/home/ann/Kestrel Files", 1},
                 {false, false, "/home/ann", 1}};
    for (const auto& c : cases) {
        int made = 0;
        const std::string dir = DefaultFilesDirectory(
            "/home/ann", [&](const std::string&) { return c.exists; },
            [&](const std::string& p) {
                EXPECT_EQ(p, "/home/ann/Kestrel Files");
                ++made;
                return c.makes;
            });
        EXPECT_EQ(dir, c.result);
        EXPECT_EQ(made, c.made);
    }
    // On this machine: below the (private) home directory, made there.
    const std::string home = std::getenv("HOME");
    EXPECT_EQ(DefaultFilesDirectory(), home + "/Kestrel Files");
    EXPECT_TRUE(std::filesystem::is_directory(home + "/Kestrel Files"));
}

TEST(SettingsRules, SenderFromAddressAndName) {
    const std::string long_address(400, 'a'), long_name(400, 'n');
    const struct {
        std::string address, name, sender;
    } cases[] = {
        {"ann@example.org", "", "ann@example.org"},
        {"ann@example.org", " ", "ann@example.org"},
        {"ann@example.org", "Ann Lee", "ann@example.org (Ann Lee)"},
        // Cut to the stored width: 511 characters.
        {long_address, long_name, (long_address + " (" + long_name).substr(0, 511)},
    };
    for (const auto& c : cases) {
        const std::string sender = SenderOf(c.address, c.name);
        EXPECT_EQ(sender, c.sender);
        EXPECT_EQ(AddressOfSender(sender), c.address.substr(0, 511));
    }
}

TEST(SettingsRules, BrowserDrivesAreFixedAndNetworkDrives) {
    const std::vector<DriveEntry> drives = {
        {"/", DriveKind::Fixed}, {"/media/stick/", DriveKind::Removable}, {"/net/share/", DriveKind::Network}};
    std::vector<std::string> roots;
    EXPECT_EQ(BrowserDrives(drives, &roots),
              (std::vector<std::string>{"Local Disk Drive - /", "Network Disk Drive - /net/share/"}));
    EXPECT_EQ(roots, (std::vector<std::string>{"/", "/net/share/"}));
}

}  // namespace
