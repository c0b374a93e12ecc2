#include "kestrel/shell/settings_rules.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "kestrel/engine/disk/disk_drives.h"
#include "kestrel/engine/run/system_info.h"
#include "platform/process.h"
#include "platform/testswitch.h"
#include "shared/files_folder.h"

int MemoryLoadEntryCount(uint64_t total_bytes) {
    // Rounded half up, in 64 bits: machines have more than 4 GB.
    const uint64_t M = (total_bytes + 512000) / 1024000;
    if (M <= 17) return 2;
    if (M <= 21) return 3;
    if (M <= 25) return 4;
    if (M <= 41) return 5;
    if (M <= 76) return 6;
    return 7;
}

std::vector<int> ScalingSteps(int n) {
    std::vector<int> steps;
    for (int d = 1; d <= n / 2; ++d) {
        if (n % d == 0) steps.push_back(d);
    }
    return steps;
}

namespace {

// Width from the box count within the limits; the rows beyond the first.
SettingsWindowSize BoxWindow(int n, int min_width, int base_height, int row_height) {
    const int W = std::clamp(100 * n, min_width, 700);
    const int P = W / 100;
    const int R = n > P ? (n - P + P - 1) / P : 0;
    return {W, base_height + row_height * R};
}

}  // namespace

SettingsWindowSize UniProcWindowSize(int n) { return BoxWindow(n, 350, 160, 80); }
SettingsWindowSize DiskWindowSize(int n) { return BoxWindow(n, 400, 305, 125); }

bool NamesKestrelFiles(const std::string& path) {
    return search(kKestrelFilesFolder, path) != 0 || search(kKestrelFilesShortName, path) != 0;
}

std::string WithKestrelFiles(const std::string& path) {
    if (NamesKestrelFiles(path)) return path;
    std::string result = path;
    if (result.empty() || result.back() != '/') result += '/';
    return result + kKestrelFilesFolder;
}

std::string DefaultFilesDirectory(const std::string& base, const std::function<bool(const std::string&)>& exists,
                                  const std::function<bool(const std::string&)>& make) {
    const std::string dir = WithKestrelFiles(base);
    if (exists(dir) || make(dir)) return dir;
    return base;
}

std::string DefaultFilesDirectory() {
    const char* home = std::getenv("HOME");
    const std::string base = home != nullptr && *home != '\0' ? std::string(home) : kp::ProgramDirectory();
    return DefaultFilesDirectory(
        base,
        [](const std::string& p) {
            struct stat st{};
            return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        },
        [](const std::string& p) { return mkdir(p.c_str(), 0777) == 0; });
}

std::string SenderOf(const std::string& address, const std::string& name) {
    const std::string sender = name.empty() || name == " " ? address : address + " (" + name + ")";
    return sender.substr(0, 511);
}

std::string AddressOfSender(const std::string& sender) {
    std::istringstream words(sender);
    std::string first;
    words >> first;
    return first;
}

std::vector<std::string> BrowserDrives(const std::vector<DriveEntry>& drives, std::vector<std::string>* roots) {
    std::vector<std::string> entries;
    roots->clear();
    for (const DriveEntry& d : drives) {
        if (d.kind == DriveKind::Removable) continue;
        entries.push_back((d.kind == DriveKind::Network ? "Network Disk Drive - " : "Local Disk Drive - ") + d.root);
        roots->push_back(d.root);
    }
    return entries;
}
