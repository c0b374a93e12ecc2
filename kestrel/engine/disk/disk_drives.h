// The drives of the disk test: the machine's mounted file systems, read from the mount table.
// A drive is named by its mount point with a trailing "/" ("/", "/home/").
#pragma once

#include <string>
#include <vector>

// One line of the mount table.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;         // the part of the file system mounted here
    std::string mount_point;  // absolute path
    std::string fstype;
    std::string source;       // device or server path
};

struct MountTable {
    bool read = false;               // the table could be read
    std::vector<MountEntry> mounts;  // in mount order
    int malformed = 0;               // lines that could not be understood
    int relative = 0;                // lines whose mount point is not an absolute path
};

// Reads <proc root>/self/mountinfo.
MountTable ReadMountTable();

// Where the block-device tree and the file-system label links are found (tests point these at
// fixture trees).
struct SystemRoots {
    std::string sys = "/sys";
    std::string labels = "/dev/disk/by-label";
};
extern SystemRoots system_roots;

enum class DriveKind { Fixed, Removable, Network };

struct DriveEntry {
    std::string root;  // mount point with a trailing "/"
    DriveKind kind = DriveKind::Fixed;
};

// The drives of the table in mount order, at most 26: local disk file systems (removable when
// their block device says so) and network file systems. RAM, CD, pseudo and read-only image
// file systems, floppies, mounts of a file, and further mounts of a device already listed are
// left out.
std::vector<DriveEntry> ListDrives(const MountTable& table);

// The mount that holds path (the longest mount point above it); nullptr when none does.
const MountEntry* MountHolding(const MountTable& table, const std::string& path);

// dir is an existing folder on the file system of the drive at drive_root: the mount that holds
// dir's real path (the longest mount point above it, so a file system mounted below the drive's
// mount point is another one) has the drive's device (so a bind mount of the drive's device
// elsewhere counts as the drive's own).
bool OnDriveFileSystem(const MountTable& table, const std::string& dir, const std::string& drive_root);

// dir's path below its own mount, placed below drive_root ("/tmp/x" on "/" becomes
// "/data/tmp/x/" for the drive "/data/"); on the drive that holds it, dir itself. The result
// ends with "/".
std::string ReRootDirectory(const MountTable& table, const std::string& dir, const std::string& drive_root);

// File system type and volume label of the file system holding root; false when the mount
// table cannot tell.
bool VolumeInformation(const std::string& root, std::string* fstype, std::string* label);
