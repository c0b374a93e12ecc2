// The setup companion's rules that need no window: the install directory's naming, the free
// space check, the version refusal, the grey palette of the backdrop, the chooser's lists.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The free space an installation needs: 12000000 bytes ("12000 KBs" to the user).
inline constexpr uint64_t kNeededSpace = 12000000;
// The version this companion installs, as the machine key stores it.
inline constexpr const char* kSetupVersion = "1.21";

// The chooser's OK: the directory chosen, with "/kestrel" appended unless it already contains
// "kestrel" (in any case); the case of the rest is kept, and a root gets no second "/".
std::string InstallDirectoryFor(const std::string& chosen);

// True when an installed version text is greater (byte-wise) than this one's and not empty.
bool IsNewerVersionInstalled(const std::string& installed);
// The installed version: the machine key's "Version" (empty when none is stored).
std::string InstalledVersion();
// An installation of an earlier version is present: one of the earlier versions' per-user keys.
bool OlderInstallationFound();

// The disk a directory lies on: its mount point and the bytes free for the user there (nothing
// when they cannot be read).
struct FreeSpace {
    std::string mountPoint;
    std::optional<uint64_t> freeBytes;
};
using FreeSpaceProvider = std::function<FreeSpace(const std::string& directory)>;
// statvfs of the nearest existing ancestor (f_bavail x f_frsize); the mount point from
// /proc/self/mountinfo.
FreeSpace FreeSpaceOf(const std::string& directory);

enum class DiskCheck { Passed, Shortage, Failed };
// The free space check and the creation of the chosen directory, with their boxes ("Error
// Accessing Drive %s!", "Not enough disk space on drive %s to complete setup!", "Space needed:
// %ld KBs, space available:  %.1f KBs."). The default directory's parents are made first. On a
// pass in normal mode *sourceDirectory becomes the current directory.
DiskCheck CheckDiskSpace(const std::string& chosen, const std::string& defaultDirectory, bool floppyMode,
                         std::string* sourceDirectory, const FreeSpaceProvider& freeSpace = FreeSpaceOf);

// The backdrop's 64 greys (entry i: red, green and blue 4 x i), as 0xAARRGGBB.
std::array<uint32_t, 64> CreateGreyPalette();

// The chooser's disks: $HOME first, then the mount point of every local block-device file
// system of a mountinfo text (source under /dev, a disk file system type), each once.
std::vector<std::string> LocalDisks(const std::string& mountinfo, const std::string& home);
// The chooser's list for a directory: its subdirectories (sorted, hidden ones left out) and
// "[..]" (not at the root).
std::vector<std::string> DirectoryList(const std::string& directory);

// The progress bar's text: "%d %%" of fraction x 100 + 0.3, truncated.
std::string PercentText(double fraction);

// Two paths name the same place (canonical paths, a trailing "/" left out; the case counts).
bool SamePlace(const std::string& a, const std::string& b);
