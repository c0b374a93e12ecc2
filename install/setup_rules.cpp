#include "install/setup_rules.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "install/registration.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/places.h"
#include "shared/strformat.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower((unsigned char)c));
    return s;
}

// mountinfo escapes blanks and the like as \ooo.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && std::isdigit((unsigned char)s[i + 1])) {
            out += char(std::stoi(s.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The mount points of a mountinfo text with their source and type.
struct Mount {
    std::string point, type, source;
};
std::vector<Mount> Mounts(const std::string& mountinfo) {
    std::vector<Mount> mounts;
    std::istringstream lines(mountinfo);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        std::vector<std::string> fields;
        for (std::string w; f >> w;) fields.push_back(w);
        const auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 3) continue;
        mounts.push_back({Unescape(fields[4]), *(dash + 1), Unescape(*(dash + 2))});
    }
    return mounts;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The path with links and "." and ".." resolved, without a trailing separator ("/a/b/" is "/a/b").
fs::path Normalised(const std::string& path, std::error_code& ec) {
    fs::path p = fs::weakly_canonical(path, ec);
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return p;
}

}  // namespace

std::string InstallDirectoryFor(const std::string& chosen) {
    if (Lower(chosen).find("kestrel") != std::string::npos) return chosen;
    return chosen + (chosen.ends_with("/") ? "" : "/") + "kestrel";
}

bool IsNewerVersionInstalled(const std::string& installed) {
    return !installed.empty() && installed > std::string(kSetupVersion);
}

std::string InstalledVersion() {
    auto key = kp::reg::Key::Open(kp::reg::Root::LocalMachine, kProductMachineKey);
    if (!key) return "";
    return key->QueryString("Version").value_or("");
}

bool OlderInstallationFound() {
    using kp::reg::Root;
    for (const char* key : {"Software\\Kestrel 1.20\\Kestrel", "Software\\Kestrel 1.10\\Kestrel",
                            "Software\\Shareware\\Kestrel"})
        if (kp::reg::KeyExists(Root::CurrentUser, key)) return true;
    return false;
}

FreeSpace FreeSpaceOf(const std::string& directory) {
    std::error_code ec;
    fs::path p = fs::absolute(directory, ec);
    if (ec) p = directory;
    while (!fs::exists(p, ec) && p.has_relative_path()) p = p.parent_path();
    FreeSpace space;
    struct statvfs sv {};
    if (statvfs(p.c_str(), &sv) == 0) space.freeBytes = uint64_t(sv.f_bavail) * uint64_t(sv.f_frsize);
    // The mount point: the longest one that holds the directory.
    const std::string real = fs::weakly_canonical(p, ec).string();
    space.mountPoint = "/";
    for (const Mount& m : Mounts(ReadAll("/proc/self/mountinfo"))) {
        const bool holds = m.point == "/" || real == m.point || real.rfind(m.point + "/", 0) == 0;
        if (holds && m.point.size() > space.mountPoint.size()) space.mountPoint = m.point;
    }
    return space;
}

DiskCheck CheckDiskSpace(const std::string& chosen, const std::string& defaultDirectory, bool floppyMode,
                         std::string* sourceDirectory, const FreeSpaceProvider& freeSpace) {
    // The drive of the messages is the chosen folder's mount point.
    const FreeSpace space = freeSpace(chosen);
    if (!space.freeBytes) {
        kp::MessageBox(kp::Owner::Active, StrPrintf("Error Accessing Drive %s!", space.mountPoint.c_str()),
                       "Disk Exception!", kp::Icon::Exclamation);
        return DiskCheck::Failed;
    }
    if (*space.freeBytes < kNeededSpace) {
        kp::MessageBox(kp::Owner::Active,
                       StrPrintf("Not enough disk space on drive %s to complete setup!", space.mountPoint.c_str()),
                       "Disk Exception!", kp::Icon::Stop);
        kp::MessageBox(kp::Owner::Active,
                       StrPrintf("Space needed:  %ld KBs, space available:  %.1f KBs.", long(kNeededSpace / 1000),
                              double(*space.freeBytes) / 1000.0),
                       "Disk Exception!", kp::Icon::Information);
        return DiskCheck::Shortage;
    }
    std::error_code ec;
    if (SamePlace(chosen, defaultDirectory))
        fs::create_directories(fs::path(chosen).parent_path(), ec);  // a failure shows below
    if (!floppyMode) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) *sourceDirectory = cwd;
    }
    if (mkdir(chosen.c_str(), 0755) != 0) {
        // An existing directory will do when it can be entered.
        if (chdir(chosen.c_str()) != 0) return DiskCheck::Failed;
        (void)!chdir(sourceDirectory->c_str());
    }
    return DiskCheck::Passed;
}

std::array<uint32_t, 64> CreateGreyPalette() {
    std::array<uint32_t, 64> greys {};
    for (uint32_t i = 0; i < 64; ++i) {
        const uint32_t v = 4 * i;
        greys[i] = 0xFF000000u | v << 16 | v << 8 | v;
    }
    return greys;
}

std::vector<std::string> LocalDisks(const std::string& mountinfo, const std::string& home) {
    static const char* const kTypes[] = {"ext2", "ext3", "ext4", "xfs", "btrfs", "f2fs", "vfat", "exfat", "ntfs3", "zfs"};
    std::vector<std::string> disks;
    if (!home.empty()) disks.push_back(home);
    for (const Mount& m : Mounts(mountinfo)) {
        if (m.source.rfind("/dev/", 0) != 0) continue;
        if (std::none_of(std::begin(kTypes), std::end(kTypes), [&](const char* t) { return m.type == t; })) continue;
        if (std::find(disks.begin(), disks.end(), m.point) == disks.end()) disks.push_back(m.point);
    }
    return disks;
}

std::vector<std::string> DirectoryList(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(directory, fs::directory_options::skip_permission_denied, ec)) {
        const std::string name = e.path().filename().string();
        std::error_code dirEc;
        if (!name.empty() && name[0] != '.' && e.is_directory(dirEc)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    if (fs::path(directory).has_relative_path()) names.insert(names.begin(), "[..]");
    return names;
}

std::string PercentText(double fraction) { return StrPrintf("%d %%", int(fraction * 100.0 + 0.3)); }

bool SamePlace(const std::string& a, const std::string& b) {
    std::error_code ea, eb;
    const fs::path pa = Normalised(a, ea), pb = Normalised(b, eb);
    if (ea || eb) return a == b;
    return pa == pb;
}
