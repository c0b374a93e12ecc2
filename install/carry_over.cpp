#include "install/carry_over.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "glance/settings.h"
#include "install/file_table.h"
#include "install/progman.h"
#include "install/registration.h"
#include "install/setup_rules.h"
#include "kestrel/engine/run/settings_values.h"
#include "shared/logfont_values.h"
#include "shared/places.h"

namespace fs = std::filesystem;
using kp::reg::Key;
using kp::reg::Root;

namespace {

std::string Numbered(const char* format, int k) {
    char name[64];
    std::snprintf(name, sizeof name, format, k);
    return name;
}

// "Drive %d selected" shows as "Drive #": the words before the number.
std::string Shown(const char* format) {
    std::string s(format);
    return s.substr(0, s.find("%d")) + "#";
}

std::string Join(const char* key, const char* sub) { return std::string(key) + "\\" + sub; }

// One value as its table describes it; nothing when it is missing or of another type.
std::optional<kp::reg::Value> Read(const Key& key, const StoredValue& v) {
    kp::reg::Value value;
    if (v.text) {
        auto s = key.QueryString(v.name);
        if (!s) return std::nullopt;
        value.type = kp::reg::Type::String;
        value.str = v.width > 0 ? s->substr(0, v.width - 1) : *s;
    } else {
        auto n = key.QueryDword(v.name);
        if (!n) return std::nullopt;
        value.type = kp::reg::Type::Dword;
        value.dword = *n;
    }
    return value;
}

void ReadInto(const Key& key, const std::vector<StoredValue>& table, HeldValues& held) {
    for (const StoredValue& v : table)
        if (auto value = Read(key, v)) held.values[v.name] = *value;
}

void ReadFonts(const std::optional<Key>& key, HeldValues& held) {
    const auto fonts = LogFontValues();
    held.fontRead.assign(fonts.size(), false);
    if (!key) return;
    for (size_t i = 0; i < fonts.size(); ++i) held.fontRead[i] = ReadLogFontValue(key, held.font, fonts[i]);
}

bool AnyFont(const HeldValues& held) {
    for (bool read : held.fontRead)
        if (read) return true;
    return false;
}

// Writes the held values in the table's order; the name of the first that fails, else nothing.
std::optional<std::string> WriteHeld(Key& key, const std::vector<StoredValue>& table, const HeldValues& held,
                                     const std::vector<std::string>& mayFail = {}) {
    for (const StoredValue& v : table) {
        const auto it = held.values.find(v.name);
        if (it == held.values.end() || key.Set(v.name, it->second)) continue;
        bool ignored = false;
        for (const std::string& name : mayFail) ignored = ignored || name == v.name;
        if (!ignored) return v.name;
    }
    return std::nullopt;
}

bool WriteFonts(Key& key, const HeldValues& held) {
    const auto fonts = LogFontValues();
    for (size_t i = 0; i < fonts.size() && i < held.fontRead.size(); ++i)
        if (held.fontRead[i] && !WriteLogFontValue(key, held.font, fonts[i])) return false;
    return true;
}

uint32_t Dword(const HeldValues& held, const std::string& name, bool* found) {
    const auto it = held.values.find(name);
    *found = it != held.values.end();
    return *found ? it->second.dword : 0;
}

void SetRect(HeldValues& held, const char* const names[4], const uint32_t values[4]) {
    for (int i = 0; i < 4; ++i) {
        kp::reg::Value v;
        v.type = kp::reg::Type::Dword;
        v.dword = values[i];
        held.values[names[i]] = v;
    }
}

// Deletes the table's values of a key, then the key (passed over when it does not open).
void DeleteKeyWithValues(Root root, const std::string& path, const std::vector<StoredValue>& table) {
    auto key = Key::Open(root, path);
    if (!key) return;
    for (const StoredValue& v : table) key->DeleteValue(v.name);
    DeleteRegKey(*key);
}

void DeleteEmptyKey(Root root, const std::string& path) {
    if (auto key = Key::Open(root, path)) DeleteRegKey(*key);
}

int Execute(const std::string& command) { return ProgmanExecute(command); }

// "[ShowGroup(g,1)]", an item per title of rows 9 down to 2, "Uninstall Kestrel", "[DeleteGroup(g)]".
void DeleteVersionGroup(const std::string& group) {
    Execute("[ShowGroup(" + group + ",1)]");
    for (int row = 9; row >= 2; --row)
        if (const DistributionFile* f = DistributionRow(row)) Execute("[DeleteItem(" + std::string(f->title) + ")]");
    Execute("[DeleteItem(Uninstall Kestrel)]");
    Execute("[DeleteGroup(" + group + ")]");
}

bool IsResultFile(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = char(std::tolower((unsigned char)c));
    return tail == ".bmf";
}

}  // namespace

// ---- value tables -------------------------------------------------------------------------------

std::vector<StoredValue> UserValues() {
    using namespace settings_values;
    std::vector<StoredValue> out;
    const auto add = [&](const PrefValue& v) { out.push_back({v.name, v.text != nullptr, v.width, v.name}); };
    for (const PrefValue& v : kPrefValues) add(v);
    for (int k = 0; k < kDriveValues; ++k) out.push_back({Numbered(kDriveValue, k), false, 0, Shown(kDriveValue)});
    for (int k = 0; k < kCounterValues; ++k)
        out.push_back({Numbered(kCounterValue, k), false, 0, Shown(kCounterValue)});
    for (const PrefValue& v : kPrefTail) add(v);
    return out;
}

std::vector<StoredValue> MachineValues() {
    std::vector<StoredValue> out;
    for (const auto& v : settings_values::kMachineValues) out.push_back({v.name, v.text != nullptr, v.width, v.name});
    return out;
}

std::vector<StoredValue> DiskValues() {
    using namespace settings_values;
    std::vector<StoredValue> out;
    for (int k = 0; k < kDriveValues; ++k) {
        out.push_back({Numbered(kLogicalDiskValue, k), true, kDiskTextWidth, Shown(kLogicalDiskValue)});
        out.push_back({Numbered(kAdapterValue, k), true, kDiskTextWidth, Shown(kAdapterValue)});
        out.push_back({Numbered(kLogDiskTypeValue, k), false, 0, Shown(kLogDiskTypeValue)});
    }
    return out;
}

std::vector<StoredValue> FontValues() {
    std::vector<StoredValue> out;
    for (const LogFontValue& f : LogFontValues())
        out.push_back({f.name, f.number == nullptr && f.byte == nullptr, 0, f.name});
    return out;
}

std::vector<StoredValue> ViewerRectValues() {
    std::vector<StoredValue> out;
    for (const auto& v : glance::kViewerRectValues) out.push_back({v.name, false, 0, v.name});
    return out;
}

bool HeldValues::Empty() const { return values.empty() && !AnyFont(*this); }

// ---- reading and writing ------------------------------------------------------------------------

void ReadOldUserSettings(CarryOver& held) {
    std::optional<Key> key;
    std::string path;
    for (const char* candidate : {kUser120Key, kUser110Key, kOldUserKey}) {
        key = Key::Open(Root::CurrentUser, candidate);
        if (key) {
            path = candidate;
            break;
        }
    }
    ReadFonts(std::nullopt, held.user);
    if (!key) return;
    const auto fonts = Key::Open(Root::CurrentUser, Join(kUser120Key, "fonts"));
    // Every value the key holds is read; one that is missing keeps its default.
    ReadInto(*key, UserValues(), held.user);
    bool found = false;
    const uint32_t right = Dword(held.user, "Main Window Rect Right", &found);
    if (found && int32_t(right) <= 100) {
        const char* const names[4] = {"Main Window Rect Left", "Main Window Rect Right", "Main Window Rect Top",
                                      "Main Window Rect Bottom"};
        const uint32_t values[4] = {100, 800, 100, 600};
        SetRect(held.user, names, values);
    }
    key->DeleteValue("Default Drive");  // not carried over
    if (path == kUser110Key) {
        // The earliest versions' machine description below their per-user key is read with the
        // other machine values and goes after them (DeleteOldMachineKeys).
        kp::reg::DeleteKey(Root::CurrentUser, Join(kUser110Key, "Configuration"));
        kp::reg::DeleteKey(Root::CurrentUser, kOldUserKey);
    }
    ReadFonts(fonts, held.user);
}

int WriteUserSettings(const CarryOver& held) {
    if (held.user.Empty()) return 0;
    auto main = Key::Create(Root::CurrentUser, kMainKey);
    if (!main) return 10;
    std::optional<Key> fonts;
    if (AnyFont(held.user)) {
        fonts = Key::Create(Root::CurrentUser, kFontsKey);
        if (!fonts) return 10;
    }
    if (WriteHeld(*main, UserValues(), held.user, {"Signiature File", "Kes Files Directory"})) return 11;
    if (fonts && !WriteFonts(*fonts, held.user)) return 11;
    return 0;
}

void ReadOldViewerSettings(CarryOver& held) {
    ReadFonts(std::nullopt, held.viewer);
    const auto key = Key::Open(Root::CurrentUser, Join(kUser120Key, "Glance"));
    if (!key) return;  // the viewer writes its own defaults at its first start
    ReadInto(*key, ViewerRectValues(), held.viewer);
    bool right = false, bottom = false;
    const uint32_t width = Dword(held.viewer, "Main Window Rect Right", &right);
    const uint32_t height = Dword(held.viewer, "Main Window Rect Bottom", &bottom);
    if ((right && int32_t(width) <= 100) || (bottom && int32_t(height) <= 100)) {
        const char* const names[4] = {"Main Window Rect Left", "Main Window Rect Right", "Main Window Rect Top",
                                      "Main Window Rect Bottom"};
        const uint32_t values[4] = {200, 800, 150, 600};
        SetRect(held.viewer, names, values);
    }
    ReadFonts(Key::Open(Root::CurrentUser, Join(kUser120Key, "Glance\\fonts")), held.viewer);
}

int WriteViewerSettings(const CarryOver& held) {
    if (held.viewer.Empty()) return 0;
    auto key = Key::Create(Root::CurrentUser, glance::kViewerKey);
    if (!key) return 10;
    std::optional<Key> fonts;
    if (AnyFont(held.viewer)) {
        fonts = Key::Create(Root::CurrentUser, glance::kViewerFontsKey);
        if (!fonts) return 10;
    }
    if (WriteHeld(*key, ViewerRectValues(), held.viewer)) return 11;
    if (fonts && !WriteFonts(*fonts, held.viewer)) return 11;
    return 0;
}

int ReadOldMachineConfig(CarryOver& held, int group) {
    using namespace settings_values;
    auto config = Key::Open(Root::LocalMachine, kMachine120Key);
    if (!config) config = Key::Open(Root::LocalMachine, kOldMachineKey);
    if (!config) config = Key::Open(Root::CurrentUser, kOldUserConfigKey);
    if (!config) return 1;
    // The operating system's own version texts are not read: nothing here would use them. The
    // description carries the older installation's "OS Info", and this system's version is read
    // from the kernel and os-release wherever it is shown.
    auto disks = Key::Open(Root::LocalMachine, Join(kMachine120Key, "DiskData"));
    if (!disks) disks = Key::Open(Root::LocalMachine, kOldDiskKey);

    // The groups: 1 maker, make and system; 2 processor and memory; 3 video; 4 disks.
    const auto groupOf = [](int index) { return index <= 2 ? 1 : index <= 8 ? 2 : 3; };
    const std::vector<StoredValue> table = MachineValues();
    int result = 0;
    // Every value the key holds is read; the result names the first one missing.
    for (int i : kMachineReadOrder) {
        if (group != 0 && group != groupOf(i)) continue;
        if (auto value = Read(*config, table[i])) held.machine.values[table[i].name] = *value;
        else if (kMachineValues[i].needed && result == 0) result = kMachineValues[i].code;
    }
    if (disks && (group == 0 || group == 4)) ReadInto(*disks, DiskValues(), held.disks);

    if (kp::reg::KeyExists(Root::LocalMachine, kOldMachineKey) && WriteMachineConfig(held) == 0) {
        if (auto old = Key::Open(Root::LocalMachine, kOldDiskKey)) DeleteRegKey(*old);
        if (auto old = Key::Open(Root::LocalMachine, kOldMachineKey)) DeleteRegKey(*old);
    }
    return result;
}

int WriteMachineConfig(const CarryOver& held) {
    // Without an older description nothing is written: kestrel asks for one.
    if (held.machine.values.empty() && held.disks.values.empty()) return 0;
    auto config = Key::Create(Root::LocalMachine, kMachineKey);
    if (!config) return 1;
    if (auto failed = WriteHeld(*config, MachineValues(), held.machine)) {
        for (const auto& v : settings_values::kMachineValues)
            if (*failed == v.name) return v.code;
        return 1;
    }
    if (held.disks.values.empty()) return 0;
    auto disks = Key::Create(Root::LocalMachine, kDiskKey);
    if (!disks) return 1;
    return WriteHeld(*disks, DiskValues(), held.disks) ? 9 : 0;
}

// ---- deleting -------------------------------------------------------------------------------------

bool DeleteRegKey(Key& key) { return key.DeleteSelf(); }

void DeleteOldMachineKeys() {
    if (auto uninstall = Key::Open(Root::LocalMachine, kUninstallKey)) {
        uninstall->DeleteValue(kInstallDirectoryValue);
        DeleteRegKey(*uninstall);  // written anew at the end of the installation
    }
    // The earliest versions' machine description below their per-user key, read and written by
    // now; the per-user key cannot go while it is there.
    DeleteKeyWithValues(Root::CurrentUser, kOldUserConfigKey, MachineValues());
    if (auto user = Key::Open(Root::CurrentUser, kOldUserKey)) {
        for (const char* name : kEarlierUserValues) user->DeleteValue(name);
        // Its values have been carried over: a key left behind would be carried over again by the
        // next installation, over this version's settings.
        DeleteRegKey(*user);
    }
    DeleteKeyWithValues(Root::LocalMachine, kOldDiskKey, DiskValues());
    DeleteKeyWithValues(Root::LocalMachine, kOldMachineKey, MachineValues());
    DeleteEmptyKey(Root::LocalMachine, kOldProductKey);
}

void DeleteOldUserKeys() {
    DeleteKeyWithValues(Root::CurrentUser, Join(kUser120Key, "Glance\\fonts"), FontValues());
    DeleteKeyWithValues(Root::CurrentUser, Join(kUser120Key, "Glance"), ViewerRectValues());
    DeleteKeyWithValues(Root::CurrentUser, Join(kUser120Key, "fonts"), FontValues());
    DeleteKeyWithValues(Root::CurrentUser, kUser120Key, UserValues());
    DeleteKeyWithValues(Root::LocalMachine, Join(kMachine120Key, "DiskData"), DiskValues());
    DeleteKeyWithValues(Root::LocalMachine, kMachine120Key, MachineValues());
    DeleteEmptyKey(Root::LocalMachine, "SOFTWARE\\Kestrel_120\\Kestrel");
    DeleteEmptyKey(Root::LocalMachine, "SOFTWARE\\Kestrel_120");
    DeleteEmptyKey(Root::CurrentUser, "Software\\Kestrel 1.20");
    // Version 1.10's key, carried over like the others (else every later installation would
    // carry it over again).
    DeleteKeyWithValues(Root::CurrentUser, kUser110Key, UserValues());
    DeleteEmptyKey(Root::CurrentUser, "Software\\Kestrel 1.10");
}

void DeleteGroupsWin95() {
    Execute("[ShowGroup(Kestrel for Windows95,1)]");
    for (const char* item : {"Uninstall", "Readme First", "Example Signature File", "Kestrel Help File",
                             "Kestrel 1.07b Readme File", "Kestrel 1.07b for Win95", "Kestrel 1.07 Readme File",
                             "Kestrel 1.07 for Win95", "Kestrel 1.06 Readme File", "Kestrel 1.06 for Win95",
                             "Kestrel 1.05 Readme File", "Kestrel 1.05 for Win95", "Kestrel 1.04 Readme File",
                             "Kestrel 1.04 for Win95"})
        Execute("[DeleteItem(" + std::string(item) + ")]");
    Execute("[DeleteGroup(Kestrel for Windows 95)]");
    for (const char* group : {"Kestrel 1.07", "Kestrel 1.06", "Kestrel 1.05", "Kestrel 1.04"}) DeleteVersionGroup(group);
}

void DeleteGroup110() { DeleteVersionGroup("Kestrel 1.10"); }
void DeleteGroup120() { DeleteVersionGroup("Kestrel 1.20"); }

// ---- files ------------------------------------------------------------------------------------------

std::string OlderInstallDirectory() {
    auto key = Key::Open(Root::LocalMachine, kUninstallKey);
    if (!key) return {};
    // A directory that is not absolute would be taken from the working directory: none.
    const std::string directory = key->QueryString(kInstallDirectoryValue).value_or(std::string());
    return fs::path(directory).is_absolute() ? directory : std::string();
}

std::string ResultsFolder() { return HomeDirectory() + "/" + kResultsFolder; }

void MoveResultFiles(const std::string& olderDirectory, const std::string& installDirectory) {
    const std::string results = ResultsFolder();
    MakeDirectories(results);  // an existing folder is fine
    std::error_code ec;
    if (olderDirectory.empty() || !fs::is_directory(olderDirectory, ec)) return;
    // Result files are copied, never moved and never over a file of the same name.
    for (const auto& entry : fs::directory_iterator(olderDirectory, ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code e;
        if (IsResultFile(name) && entry.is_regular_file(e))
            fs::copy_file(entry.path(), results + "/" + name, fs::copy_options::skip_existing, e);
    }
    // The older distribution's files; the address book (user data) and the uninstaller (not in
    // this directory) stay.
    for (const DistributionFile& f : DistributionFiles()) {
        std::error_code e;
        if (f.place == TargetPlace::Install) fs::remove(olderDirectory + "/" + f.target, e);
    }
    // Removed only when empty (result files keep it) and not the new install directory.
    if (!SamePlace(olderDirectory, installDirectory)) fs::remove(olderDirectory, ec);
}

// ---- the whole ---------------------------------------------------------------------------------------

void TransformRegistry(SetupState& setup, SetupHost& host) {
    CarryOver held;
    held.olderDirectory = OlderInstallDirectory();  // before its key goes
    const auto fraction = [&](double f) {
        setup.progressFraction = f;
        host.ProgressChanged();
    };
    fraction(0.07);
    ReadOldUserSettings(held);
    fraction(0.15);
    WriteUserSettings(held);
    fraction(0.23);
    ReadOldViewerSettings(held);
    fraction(0.30);
    WriteViewerSettings(held);
    fraction(0.38);
    ReadOldMachineConfig(held, 0);
    fraction(0.45);
    WriteMachineConfig(held);
    fraction(0.53);
    DeleteOldMachineKeys();
    fraction(0.60);
    DeleteOldUserKeys();
    fraction(0.68);
    DeleteGroupsWin95();
    fraction(0.75);
    DeleteGroup110();
    fraction(0.83);
    DeleteGroup120();
    fraction(0.90);
    MoveResultFiles(held.olderDirectory, setup.installDirectory);
    fraction(1.0);
}
