// The settings store: the preferences under the per-user key, the machine description under the
// per-machine key, and the one-time carry-over from the keys of older versions.
//
// Readers show nothing and return a small code naming what was missing; writers show one
// "Registry Exception" box per failed value.
#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/run/settings_values.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sys/utsname.h>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/report/report_tables.h"
#include "kestrel/engine/run/host.h"
#include "kestrel/engine/run/run_state.h"
#include "shared/analyser_client.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/logfont_values.h"

Preferences prefs;
MachineDescription machine;
int globaldrives = 0;

namespace {

// The analyser link's ties to this program: its restart line goes into the report, its pauses
// through the host, counter data is wanted when the preference says so, and every write carries
// the machine's processor count. Installed with the preferences the link reads.
void ReportLine(const std::string& line) { passtring(line); }
void HostSleep(int ms) { Host().Sleep(ms); }
bool ShowPerfData() { return prefs.show_perf_data != 0; }
void MachineProcessors(PerfMonData& record) { record.numprocessors = run.real_num_processors; }

const bool g_analyser_tied = [] {
    perflink.ties = AnalyserTies{&ReportLine, &HostSleep, &ShowPerfData, &MachineProcessors, WIN95_SUPPORT_ON, false};
    return true;
}();

}  // namespace

namespace {

using kp::reg::Key;
using kp::reg::Root;
using namespace settings_values;

void Complain(const std::string& text) {
    kp::MessageBox(kp::Owner::Main, text, "Registry Exception", kp::Icon::Exclamation);
}

// Text read into a field of `width` characters keeps at most width - 1 of them.
std::string Fit(const std::string& s, size_t width) { return s.substr(0, width - 1); }

std::string Numbered(const char* format, int k) {
    char name[64];
    std::snprintf(name, sizeof name, format, k);
    return name;
}

int DriveCount() { return std::clamp(globaldrives, 0, 26); }

// ---- preferences ------------------------------------------------------------------------------

const PrefValue& FindPref(const char* name) {
    for (const auto& v : kPrefValues)
        if (std::string(v.name) == name) return v;
    std::abort();  // the tables disagree
}

int32_t& NumberOf(const PrefValue& v) {
    return v.number != nullptr ? prefs.*v.number : prefs.main_window_rect.*v.side;
}

bool WritePref(Key& key, const PrefValue& v) {
    if (v.text != nullptr) return key.SetString(v.name, prefs.*v.text);
    return key.SetDword(v.name, static_cast<uint32_t>(NumberOf(v)));
}

// Reads one value into its global; false (global unchanged) when it is missing.
bool ReadPref(const Key& key, const PrefValue& v) {
    if (v.text != nullptr) {
        auto s = key.QueryString(v.name);
        if (s) prefs.*v.text = Fit(*s, v.width);
        return s.has_value();
    }
    auto n = key.QueryDword(v.name);
    if (n) NumberOf(v) = static_cast<int32_t>(*n);
    return n.has_value();
}

// ---- machine description ----------------------------------------------------------------------

bool WriteMachine(Key& key, const MachineValue& v) {
    if (v.text != nullptr) return key.SetString(v.name, machine.*v.text);
    return key.SetDword(v.name, static_cast<uint32_t>(machine.*v.number));
}

bool ReadMachine(const Key& key, const MachineValue& v) {
    if (v.text != nullptr) {
        auto s = key.QueryString(v.name);
        if (s) machine.*v.text = Fit(*s, v.width);
        return s.has_value();
    }
    auto n = key.QueryDword(v.name);
    if (n) machine.*v.number = static_cast<int32_t>(*n);
    return n.has_value();
}

// The running system in place of a version key: the kernel release and the distribution's name.
std::string Unquote(std::string s) {
    if (s.size() >= 2 && (s[0] == '"' || s[0] == '\'') && s.back() == s[0]) {
        std::string out;
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            if (s[0] == '"' && s[i] == '\\' && i + 2 < s.size()) ++i;
            out += s[i];
        }
        return out;
    }
    return s;
}

void ReadOsVersion() {
    utsname u{};
    if (uname(&u) == 0) machine.osver = Fit(u.release, 30);
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(file);
        if (!in) continue;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("PRETTY_NAME=", 0) == 0) {
                machine.servicepack = Fit(Unquote(line.substr(12)), 32);
                break;
            }
        }
        return;  // the first file found is the one that counts
    }
}

// Moves the machine description of the oldest versions, kept below the old per-user key, to the
// machine key before that old key goes, unless a machine description is already stored.
void KeepOldUserConfiguration() {
    auto old = Key::Open(Root::CurrentUser, kOldUserConfigKey);
    if (!old || kp::reg::KeyExists(Root::LocalMachine, kMachineKey) ||
        kp::reg::KeyExists(Root::LocalMachine, kOldMachineKey))
        return;
    auto config = Key::Create(Root::LocalMachine, kMachineKey);
    if (!config) return;
    for (const auto& name : old->ValueNames())
        if (auto value = old->Query(name)) config->Set(name, *value);
}

}  // namespace

void DeleteOldKey(kp::reg::Key& key) { key.DeleteSelf(); }

int CreateRegEntry() {
    auto main = Key::Create(Root::CurrentUser, kMainKey);
    if (!main) {
        Complain("Error in creating Kestrel key in the registry");
        return 10;
    }
    auto fonts = Key::Create(Root::CurrentUser, kFontsKey);
    if (!fonts) {
        Complain("Error in creating Kestrel fonts key in the registry");
        return 10;
    }
    for (const auto& v : kPrefValues) {
        if (WritePref(*main, v)) continue;
        Complain(v.message);
        // The signature file and the files directory are not worth giving up for.
        if (v.text != &P::endmailfile && v.text != &P::files_directory) return 11;
    }
    for (int k = 0; k < kDriveValues; ++k) {
        std::string name = Numbered(kDriveValue, k);
        if (k >= DriveCount()) {
            main->DeleteValue(name);
        } else if (!main->SetDword(name, static_cast<uint32_t>(prefs.default_drive_chosen[k]))) {
            Complain("Error in setting the Default Drive values in the registry");
            return 11;
        }
    }
    for (int k = 0; k < kCounterValues; ++k) {
        if (!main->SetDword(Numbered(kCounterValue, k), static_cast<uint32_t>(prefs.perf_counters[k]))) {
            Complain("Error in setting the counter values in the registry");
            return 11;
        }
    }
    for (const auto& v : kPrefTail) {
        if (!WritePref(*main, v)) {
            Complain(v.message);
            return 11;
        }
    }
    for (const LogFontValue& f : LogFontValues()) {
        if (!WriteLogFontValue(*fonts, prefs.GlobalLogFont, f)) {
            Complain(std::string("Error in setting the ") + f.name + " value in the registry");
            return 11;
        }
    }
    return 0;
}

int GetRegEntry() {
    bool carry = false;
    auto main = Key::Open(Root::CurrentUser, kMainKey);
    if (!main) {
        main = Key::Open(Root::CurrentUser, kOldUserKey);
        carry = main.has_value();
    }
    if (!main) return 1;
    auto fonts = Key::Open(Root::CurrentUser, kFontsKey);

    // Every value is read; the result is the code of the last one missing (0 for most), except
    // that a missing server or sender decides it alone.
    int result = 0;
    bool noServer = false;
    bool noSender = false;
    auto read = [&](const PrefValue& v) {
        if (ReadPref(*main, v)) return true;
        result = v.code;
        noServer = noServer || v.code == 2;
        noSender = noSender || v.code == 3;
        return false;
    };
    for (const char* name : kReadFirst) {
        const PrefValue& v = FindPref(name);
        if (!read(v) && v.text == &P::lastselection) prefs.lastselection.clear();
    }
    main->DeleteValue("YesNoValue");  // an old value, no longer used
    bool widthStored = false;
    for (size_t i = kFirstCount; i < std::size(kPrefValues); ++i) {
        bool found = read(kPrefValues[i]);
        if (kPrefValues[i].side == &WindowRect::right) widthStored = found;
    }
    if (!widthStored || prefs.main_window_rect.right < 101) prefs.main_window_rect = {100, 800, 100, 600};
    for (int k = 0; k < kDriveValues; ++k) {
        auto n = main->QueryDword(Numbered(kDriveValue, k));
        if (n) prefs.default_drive_chosen[k] = static_cast<int32_t>(*n);
        else result = 0;
    }
    if (main->DeleteValue("Default Drive")) result = 0;
    for (int k = 0; k < kCounterValues; ++k) {
        auto n = main->QueryDword(Numbered(kCounterValue, k));
        if (n) prefs.perf_counters[k] = static_cast<int32_t>(*n);
        else result = 0;
    }
    for (const auto& v : kPrefTail) {
        // A memory level outside the seven sizes is taken as the default level, so that the
        // tests and the report header of a run see the same level.
        if (read(v) && v.number == &P::memory_load_value &&
            (prefs.memory_load_value < 0 || prefs.memory_load_value >= kMemoryLevels))
            prefs.memory_load_value = 0;
    }

    if (carry) {
        // The font is read below from the new fonts key, which did not exist: it comes out zero,
        // and zero is what goes under the new key.
        prefs.GlobalLogFont = LogFont{};
        if (CreateRegEntry() == 0) {
            KeepOldUserConfiguration();
            kp::reg::DeleteTree(Root::CurrentUser, kOldUserConfigKey);
            kp::reg::DeleteKey(Root::CurrentUser, kOldUserKey);
        }
    }

    prefs.GlobalLogFont = LogFont{};
    for (const LogFontValue& f : LogFontValues())
        if (!ReadLogFontValue(fonts, prefs.GlobalLogFont, f)) result = 0;

    if (noServer) return 2;
    if (noSender) return 3;
    return result;
}

int CreateRegEntry2() {
    auto config = Key::Create(Root::LocalMachine, kMachineKey);
    auto disks = config ? Key::Create(Root::LocalMachine, kDiskKey) : std::nullopt;
    if (!disks) {
        Complain("Error in creating Kestrel key in the registry");
        return 1;
    }
    for (const auto& v : kMachineValues) {
        if (!WriteMachine(*config, v)) {
            Complain(v.message);
            return v.code;
        }
    }
    for (int k = 0; k < DriveCount(); ++k) {
        const char* failed = nullptr;
        if (!disks->SetString(Numbered(kLogicalDiskValue, k), machine.harddisk[k]))
            failed = "Error in setting the Physical Disk value in the registry";
        else if (!disks->SetString(Numbered(kAdapterValue, k), machine.adapter[k]) ||
                 !disks->SetDword(Numbered(kLogDiskTypeValue, k), static_cast<uint32_t>(machine.diskvalue[k])))
            failed = "Error in setting the Adapter value in the registry";
        if (failed != nullptr) {
            Complain(failed);
            return 9;
        }
    }
    return 0;
}

int GetRegEntry2() {
    bool carry = false;
    auto config = Key::Open(Root::LocalMachine, kMachineKey);
    if (!config) {
        config = Key::Open(Root::LocalMachine, kOldMachineKey);
        carry = true;
    }
    ReadOsVersion();
    if (!config) config = Key::Open(Root::CurrentUser, kOldUserConfigKey);
    if (!config) return 1;
    auto disks = Key::Open(Root::LocalMachine, kDiskKey);
    if (!disks) {
        disks = Key::Open(Root::LocalMachine, kOldDiskKey);
        carry = true;
    }

    // Every value is read; the result names the first one missing.
    int result = 0;
    for (int i : kMachineReadOrder) {
        const MachineValue& v = kMachineValues[i];
        if (!ReadMachine(*config, v) && v.needed && result == 0) result = v.code;
    }
    for (int k = 0; disks && k < DriveCount(); ++k) {
        if (auto s = disks->QueryString(Numbered(kLogicalDiskValue, k)))
            machine.harddisk[k] = Fit(*s, kDiskTextWidth);
        if (auto s = disks->QueryString(Numbered(kAdapterValue, k)))
            machine.adapter[k] = Fit(*s, kDiskTextWidth);
        if (auto n = disks->QueryDword(Numbered(kLogDiskTypeValue, k)))
            machine.diskvalue[k] = static_cast<int32_t>(*n);
    }

    carry = carry || kp::reg::KeyExists(Root::LocalMachine, kOldMachineKey) ||
            kp::reg::KeyExists(Root::LocalMachine, kOldDiskKey);
    if (carry && CreateRegEntry2() == 0) {
        // The disk key first: a key with subkeys is not deleted.
        if (auto old = Key::Open(Root::LocalMachine, kOldDiskKey)) DeleteOldKey(*old);
        if (auto old = Key::Open(Root::LocalMachine, kOldMachineKey)) DeleteOldKey(*old);
        auto product = Key::Open(Root::LocalMachine, kOldProductKey);
        if (product && product->SubKeys().empty()) DeleteOldKey(*product);
    }
    return result;
}
