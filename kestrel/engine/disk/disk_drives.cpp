#include "kestrel/engine/disk/disk_drives.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include "platform/testswitch.h"

SystemRoots system_roots;

namespace {

constexpr size_t kMaxDrives = 26;

// File systems on local disks (the container's overlay root counts as one).
const std::set<std::string> kLocalTypes = {
    "ext2", "ext3", "ext4", "xfs", "btrfs", "f2fs", "jfs", "reiserfs", "vfat", "msdos", "exfat",
    "ntfs", "ntfs3", "fuseblk", "zfs", "bcachefs", "nilfs2", "hfs", "hfsplus", "overlay",
};
const std::set<std::string> kNetworkTypes = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "ceph", "glusterfs", "fuse.glusterfs",
    "afs", "9p",
};

// Undoes the octal escapes of the mount table (\040 for a space and so on).
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Undoes the \xHH escapes of a label link's name.
std::string UnescapeLabel(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(uint8_t(s[i + 2])) &&
            std::isxdigit(uint8_t(s[i + 3]))) {
            out += char(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool ParseLine(const std::string& line, MountEntry* entry) {
    std::istringstream in(line);
    std::vector<std::string> f;
    for (std::string w; in >> w;) f.push_back(w);
    size_t sep = 6;
    while (sep < f.size() && f[sep] != "-") ++sep;
    if (f.size() < 6 || sep + 2 >= f.size()) return false;
    unsigned major = 0, minor = 0;
    char colon = 0;
    std::istringstream dev(f[2]);
    if (!(dev >> major >> colon >> minor) || colon != ':') return false;
    entry->major = major;
    entry->minor = minor;
    entry->root = Unescape(f[3]);
    entry->mount_point = Unescape(f[4]);
    entry->fstype = f[sep + 1];
    entry->source = Unescape(f[sep + 2]);
    return true;
}

std::string Canonical(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string s = real;
    std::free(real);
    return s;
}

std::string ReadWord(const std::string& path) {
    std::ifstream in(path);
    std::string w;
    in >> w;
    return w;
}

// The block device's sysfs folder (a partition's or a whole disk's) says whether it is removable;
// a partition leaves the flag to its disk, the folder above it.
bool IsRemovable(const MountEntry& m) {
    if (m.major == 0) return false;
    std::string dir = system_roots.sys + "/dev/block/" + std::to_string(m.major) + ":" + std::to_string(m.minor);
    char* real = realpath(dir.c_str(), nullptr);
    if (real == nullptr) return false;
    dir = real;
    std::free(real);
    std::string flag = ReadWord(dir + "/removable");
    if (flag.empty()) flag = ReadWord(dir + "/../removable");
    return flag == "1";
}

bool IsUnder(const std::string& path, const std::string& mount_point) {
    if (mount_point == "/") return !path.empty() && path[0] == '/';
    return path.compare(0, mount_point.size(), mount_point) == 0 &&
           (path.size() == mount_point.size() || path[mount_point.size()] == '/');
}

std::string WithSlash(std::string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

}  // namespace

MountTable ReadMountTable() {
    MountTable table;
    std::ifstream in(kp::ProcRoot() + "/self/mountinfo");
    if (!in) return table;
    table.read = true;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        MountEntry entry;
        if (!ParseLine(line, &entry)) {
            ++table.malformed;
        } else if (entry.mount_point.empty() || entry.mount_point[0] != '/') {
            ++table.relative;
        } else {
            table.mounts.push_back(std::move(entry));
        }
    }
    return table;
}

std::vector<DriveEntry> ListDrives(const MountTable& table) {
    std::vector<DriveEntry> drives;
    std::set<std::pair<unsigned, unsigned>> devices;
    for (const MountEntry& m : table.mounts) {
        if (drives.size() >= kMaxDrives) break;
        const bool network = kNetworkTypes.count(m.fstype) != 0;
        if (!network) {
            if (kLocalTypes.count(m.fstype) == 0) continue;  // RAM, CD, pseudo: no drive
            if (m.source.rfind("/dev/fd", 0) == 0) continue; // floppies
            struct stat st{};
            if (stat(m.mount_point.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        }
        if (!devices.insert({m.major, m.minor}).second) continue;  // bind mount, second mount
        DriveEntry d;
        d.root = WithSlash(m.mount_point);
        d.kind = network ? DriveKind::Network : IsRemovable(m) ? DriveKind::Removable : DriveKind::Fixed;
        drives.push_back(std::move(d));
    }
    return drives;
}

const MountEntry* MountHolding(const MountTable& table, const std::string& path) {
    const MountEntry* best = nullptr;
    for (const MountEntry& m : table.mounts) {
        // A later mount on the same point covers the earlier one.
        if (IsUnder(path, m.mount_point) && (best == nullptr || m.mount_point.size() >= best->mount_point.size())) {
            best = &m;
        }
    }
    return best;
}

bool OnDriveFileSystem(const MountTable& table, const std::string& dir, const std::string& drive_root) {
    struct stat st{};
    if (dir.empty() || stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    const MountEntry* own = MountHolding(table, Canonical(dir));
    const MountEntry* drive = MountHolding(table, Canonical(drive_root));
    return own != nullptr && drive != nullptr && own->major == drive->major && own->minor == drive->minor;
}

std::string ReRootDirectory(const MountTable& table, const std::string& dir, const std::string& drive_root) {
    const std::string real = Canonical(dir);
    const MountEntry* own = MountHolding(table, real);
    const MountEntry* drive = MountHolding(table, Canonical(drive_root));
    if (own != nullptr && own == drive) return WithSlash(real);
    std::string rel = real;
    if (own != nullptr && own->mount_point != "/") rel = real.substr(own->mount_point.size());
    while (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
    return rel.empty() ? WithSlash(drive_root) : WithSlash(WithSlash(drive_root) + rel);
}

bool VolumeInformation(const std::string& root, std::string* fstype, std::string* label) {
    const MountTable table = ReadMountTable();
    const MountEntry* m = MountHolding(table, Canonical(root));
    if (m == nullptr) return false;
    *fstype = m->fstype;
    label->clear();
    const std::string device = Canonical(m->source);
    if (DIR* d = opendir(system_roots.labels.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (Canonical(system_roots.labels + "/" + name) == device) {
                *label = UnescapeLabel(name);
                break;
            }
        }
        closedir(d);
    }
    return true;
}
