#include "kestrel/engine/run/system_info.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <vector>

#include "kestrel/engine/run/settings.h"
#include "platform/msgbox.h"
#include "platform/screen_saver.h"
#include "platform/testswitch.h"

namespace fs = std::filesystem;

std::string sysfs_root = "/sys";

namespace {

// Widths the description's text fields had in the stored format, less the terminator.
constexpr size_t kHardDiskChars = 119;
constexpr size_t kVideoAdapterChars = 99;

std::string Trim(std::string s) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), space));
    s.erase(std::find_if_not(s.rbegin(), s.rend(), space).base(), s.end());
    return s;
}

std::string ReadAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text, '\0');
    return Trim(text);
}

// Names compared with their digit runs as numbers, so sdb comes before sdaa and nvme2n1 before
// nvme10n1.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit((unsigned char)a[i]) && std::isdigit((unsigned char)b[j])) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit((unsigned char)a[ei])) ++ei;
            while (ej < b.size() && std::isdigit((unsigned char)b[ej])) ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

struct DiskLists {
    std::vector<std::string> scsi;  // SCSI, SATA, NVMe, virtual and memory-card disks
    std::vector<std::string> ide;   // disks of the old IDE driver
};

// The block devices that are disks; CD-ROMs, loop, RAM, device-mapper and RAID devices are
// left out.
DiskLists ListDisks() {
    static const std::regex scsi(R"((sd[a-z]+|vd[a-z]+|xvd[a-z]+|nvme\d+n\d+|mmcblk\d+))");
    static const std::regex ide(R"(hd[a-z]+)");
    DiskLists lists;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(fs::path(sysfs_root) / "block", ec)) {
        const std::string name = e.path().filename().string();
        if (std::regex_match(name, scsi)) lists.scsi.push_back(name);
        if (std::regex_match(name, ide)) lists.ide.push_back(name);
    }
    std::sort(lists.scsi.begin(), lists.scsi.end(), NaturalLess);
    std::sort(lists.ide.begin(), lists.ide.end(), NaturalLess);
    return lists;
}

// "vendor model" as the device reports them (memory cards: their name). Empty when it has none.
std::string DiskIdentifier(const std::string& name) {
    const fs::path device = fs::path(sysfs_root) / "block" / name / "device";
    std::string model = ReadAttribute(device / "model");
    if (model.empty()) model = ReadAttribute(device / "name");
    if (model.empty()) return {};
    const std::string vendor = ReadAttribute(device / "vendor");
    // PCI-style numeric vendor ids (virtio) say nothing to a reader.
    if (vendor.empty() || vendor.rfind("0x", 0) == 0) return model;
    return vendor + " " + model;
}

int StoreIdentifier(const std::vector<std::string>& disks, size_t n, std::string& field) {
    if (n >= disks.size()) return 1;
    const std::string id = DiskIdentifier(disks[n]);
    if (id.empty()) return 1;
    field = id.substr(0, kHardDiskChars);
    return 0;
}

void SaverBox(const char* text) {
    kp::MessageBox(kp::Owner::Main, text, "Registry Exception", kp::Icon::Exclamation);
}

}  // namespace

int GetDriveInfo1() {
    const DiskLists disks = ListDisks();
    if (disks.scsi.empty()) return DoAtDisk();
    return StoreIdentifier(disks.scsi, 0, machine.harddisk[0]);
}

int GetDriveInfo2() {
    const DiskLists disks = ListDisks();
    if (disks.scsi.size() >= 2) return StoreIdentifier(disks.scsi, 1, machine.harddisk[1]);
    // The next disk after a single SCSI-type disk is the first IDE disk.
    if (disks.scsi.size() == 1) return StoreIdentifier(disks.ide, 0, machine.harddisk[1]);
    return DoAtDisk2();
}

int DoAtDisk() { return StoreIdentifier(ListDisks().ide, 0, machine.harddisk[0]); }

int DoAtDisk2() { return StoreIdentifier(ListDisks().ide, 1, machine.harddisk[1]); }

int GetVideoInfo() {
    std::error_code ec;
    const fs::path driver =
        fs::read_symlink(fs::path(sysfs_root) / "class/drm/card0/device/driver", ec);
    if (ec) return 1;
    machine.videoadapter = driver.filename().string().substr(0, kVideoAdapterChars);
    return 0;
}

std::string GetWin95HostName() {
    char name[512] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string ProcessorClockText() {
    std::ifstream in(kp::ProcRoot() + "/cpuinfo");
    static const std::regex clock(R"(^cpu MHz\s*:\s*([0-9]+(\.[0-9]*)?)\s*$)");
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (!std::regex_match(line, match, clock)) continue;
        const std::string number = match[1].str();
        double mhz = 0.0;
        std::from_chars(number.data(), number.data() + number.size(), mhz);
        return std::to_string(std::lround(mhz));
    }
    return {};
}

int TurnOffScreenSaver() {
    switch (kp::InhibitScreenSaver("kestrel", "Running benchmark tests")) {
        case kp::SaverResult::Done: return 0;
        case kp::SaverResult::NoService: return 1;
        case kp::SaverResult::Refused: break;
    }
    SaverBox("Error turning off screen saver!  Turn off manually!");
    return 2;
}

int TurnOnScreenSaver() {
    switch (kp::UnInhibitScreenSaver()) {
        case kp::SaverResult::Done: return 0;
        case kp::SaverResult::NoService: return 1;
        case kp::SaverResult::Refused: break;
    }
    SaverBox("Error turning on screen saver!  Turn on manually!");
    return 2;
}

int search(std::string_view sought, std::string_view searched) {
    if (sought.size() > searched.size()) return 0;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (size_t pos = 0; pos + sought.size() <= searched.size(); ++pos) {
        size_t k = 0;
        while (k < sought.size() && lower(sought[k]) == lower(searched[pos + k])) ++k;
        if (k == sought.size()) return 1;
    }
    return 0;
}
