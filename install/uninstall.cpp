#include "install/uninstall.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "glance/settings.h"
#include "install/bmf_association.h"
#include "install/carry_over.h"
#include "install/file_table.h"
#include "install/progman.h"
#include "install/program_icons.h"
#include "install/registration.h"
#include "kestrel/engine/run/settings.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/places.h"

using kp::reg::Key;
using kp::reg::Root;

namespace {

const char* RootName(Root root) {
    switch (root) {
        case Root::CurrentUser: return "HKEY_CURRENT_USER";
        case Root::LocalMachine: return "HKEY_LOCAL_MACHINE";
        case Root::ClassesRoot: return "HKEY_CLASSES_ROOT";
    }
    return "";
}

void SetProgress(UninstallState& state, UninstallHost& host, double fraction) {
    state.progressFraction = fraction;
    host.Progress(fraction);
}

// Deletes the named values of a key and then the key, passing over what is not there.
void DeleteQuietly(Root root, const std::string& path, const std::vector<std::string>& values) {
    auto key = Key::Open(root, path);
    if (!key) return;
    for (const std::string& name : values) key->DeleteValue(name);
    key->DeleteSelf();
}

// The same with a status line for each value and for the key.
void DeleteShown(UninstallHost& host, Root root, const std::string& path, const std::vector<StoredValue>& values) {
    auto key = Key::Open(root, path);
    if (!key) return;
    for (const StoredValue& v : values) {
        if (!key->Query(v.name)) continue;
        host.Status("Deleting Registry Value:  " + v.shown);
        key->DeleteValue(v.name);
    }
    host.Status(std::string("Deleting Registry Key:  ") + RootName(root) + ":" + path);
    key->DeleteSelf();
}

// The registry keys above ours hold nothing else on this system: each that is left empty (no
// value, no subkey) goes, from the nearest upwards.
void DeleteEmptyParents(Root root, std::string path) {
    for (size_t slash = path.rfind('\\'); slash != std::string::npos; slash = path.rfind('\\')) {
        path.erase(slash);
        auto key = Key::Open(root, path);
        if (!key || !key->ValueNames().empty() || !key->SubKeys().empty() || !key->DeleteSelf()) return;
    }
    if (auto key = Key::Open(root, path); key && key->ValueNames().empty() && key->SubKeys().empty()) key->DeleteSelf();
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::vector<std::string> Names(const std::vector<StoredValue>& values) {
    std::vector<std::string> names;
    for (const StoredValue& v : values) names.push_back(v.name);
    return names;
}

}  // namespace

bool DeleteOldRegistryEntries(UninstallState& state, UninstallHost& /*host*/) {
    auto uninstall = Key::Open(Root::LocalMachine, kUninstallKey);
    auto directory = uninstall ? uninstall->QueryString(kInstallDirectoryValue) : std::nullopt;
    // A directory that is not absolute would be taken from the working directory: no directory.
    if (!directory || !IsAbsolute(*directory)) {
        kp::MessageBox(kp::Owner::Active, "Error retrieving uninstall information from the registry",
                       "Registry Exception", kp::Icon::Exclamation);
        return false;
    }
    state.installDirectory = *directory;
    // The uninstall key stays until the files and the group are gone (DeleteUninstallKey).

    // The earliest versions' machine description below their per-user key goes first: a key with
    // a subkey cannot be deleted.
    DeleteQuietly(Root::CurrentUser, kOldUserConfigKey, Names(MachineValues()));
    DeleteQuietly(Root::CurrentUser, kOldUserKey,
                  std::vector<std::string>(std::begin(kEarlierUserValues), std::end(kEarlierUserValues)));
    DeleteQuietly(Root::LocalMachine, kOldMachineKey, Names(MachineValues()));
    std::vector<std::string> disks;
    for (const StoredValue& v : DiskValues())
        if (v.shown == "Logical Disk #") disks.push_back(v.name);
    DeleteQuietly(Root::LocalMachine, kOldDiskKey, disks);
    DeleteQuietly(Root::LocalMachine, kOldMachineKey, {});
    DeleteQuietly(Root::LocalMachine, kOldProductKey, {});
    DeleteEmptyParents(Root::CurrentUser, kOldUserKey);
    DeleteEmptyParents(Root::LocalMachine, kOldProductKey);

    // The benchmark file association, in the registry and on the desktop.
    const std::string progId = kBmfProgId;
    DeleteQuietly(Root::ClassesRoot, kBmfClass, {""});
    for (const std::string& path : {progId + "\\shell\\open\\command", progId + "\\shell\\open", progId + "\\shell", progId})
        DeleteQuietly(Root::ClassesRoot, path, {""});
    RemoveBmfMimePackage();
    RemoveDefaultApplication(kBmfMimeType, MainProgramDesktopId());
    UpdateMimeDatabase();
    return true;
}

void DeleteNewRegistryEntries(UninstallState& /*state*/, UninstallHost& host) {
    DeleteShown(host, Root::CurrentUser, glance::kViewerFontsKey, FontValues());
    DeleteShown(host, Root::CurrentUser, glance::kViewerKey, ViewerRectValues());
    DeleteShown(host, Root::CurrentUser, kFontsKey, FontValues());
    DeleteShown(host, Root::CurrentUser, kMainKey, UserValues());
    DeleteShown(host, Root::LocalMachine, kDiskKey, DiskValues());
    DeleteShown(host, Root::LocalMachine, kMachineKey, MachineValues());
    DeleteShown(host, Root::LocalMachine, kProductMachineKey, {});
    DeleteShown(host, Root::LocalMachine, "SOFTWARE\\Kestrel_121", {});
    DeleteShown(host, Root::CurrentUser, "Software\\Kestrel 1.21", {});
    DeleteEmptyParents(Root::LocalMachine, "SOFTWARE\\Kestrel_121");
    DeleteEmptyParents(Root::CurrentUser, "Software\\Kestrel 1.21");
}

bool DeleteInstalledFiles(UninstallState& state, UninstallHost& host) {
    // The directory is opened once and every file is deleted by name in it. A directory that is
    // not there (removed by hand) holds nothing to delete: the run goes on to the group and the
    // uninstall key. One that is there but cannot be entered stops the run.
    const bool absolute = IsAbsolute(state.installDirectory);
    const int dir = absolute ? open(state.installDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (dir < 0 && !(absolute && errno == ENOENT)) {
        kp::MessageBox(kp::Owner::Active, "Uninstall failed to complete the uninstallation process",
                       "Kestrel Uninstall Error", kp::Icon::Stop);
        return false;
    }
    std::vector<const DistributionFile*> files;
    for (const DistributionFile& f : DistributionFiles())
        if (f.place != TargetPlace::UserBin) files.push_back(&f);  // the uninstaller stays
    for (size_t i = 0; i < files.size(); ++i) {
        const DistributionFile& f = *files[i];
        host.Status(std::string("Deleting File:  ") + f.target);
        SetProgress(state, host, 0.5 + 0.25 * double(i + 1) / double(files.size()));
        if (f.place == TargetPlace::Install) {
            if (dir >= 0) unlinkat(dir, f.target, 0);
        } else {
            // The address book has its own place; its folder goes with it when it is left empty.
            const std::string folder = DefaultInstallDirectory();
            unlink((folder + "/" + f.target).c_str());
            rmdir(folder.c_str());
        }
    }
    if (dir >= 0) close(dir);
    host.Status("Deleting Directory:  " + state.installDirectory);
    rmdir(state.installDirectory.c_str());  // only when empty; a directory that stays is no error
    return true;
}

void DeleteProgramGroup(UninstallState& state, UninstallHost& host) {
    const std::string group = kProductName;
    ProgmanExecute("[ShowGroup(" + group + ",1)]");
    for (int row = 9; row >= 2; --row) {
        const DistributionFile* f = DistributionRow(row);
        if (f == nullptr) continue;
        host.Status(std::string("Removing Item:  ") + f->target);
        SetProgress(state, host, 0.75 + 0.25 * double(10 - row) / 9.0);
        ProgmanExecute("[DeleteItem(" + std::string(f->title) + ")]");
    }
    ProgmanExecute("[DeleteItem(Uninstall Kestrel)]");
    host.Status("Removing Group " + group);
    ProgmanExecute("[DeleteGroup(" + group + ")]");
    RemoveProgramIcons();
    SetProgress(state, host, 1.0);
    UpdateDesktopDatabase();
}

void DeleteUninstallKey() {
    if (auto key = Key::Open(Root::LocalMachine, kUninstallKey)) {
        key->DeleteValue(kInstallDirectoryValue);
        if (key->DeleteSelf()) DeleteEmptyParents(Root::LocalMachine, kUninstallKey);
    }
}

bool RunUninstall(UninstallHost& host) {
    UninstallState state;
    SetProgress(state, host, 0.0);
    host.Status("Uninstalling the Old Kestrel Registry Entries...");
    if (!DeleteOldRegistryEntries(state, host)) return false;
    SetProgress(state, host, 0.25);
    host.Status("Uninstalling the New Kestrel Registry Entries...");
    DeleteNewRegistryEntries(state, host);
    SetProgress(state, host, 0.5);
    host.Status("Uninstalling the Disk Files...");
    if (!DeleteInstalledFiles(state, host)) return false;
    host.Status("Uninstalling the Program Groups...");
    DeleteProgramGroup(state, host);
    // Last: until here a second run finds the install directory again.
    DeleteUninstallKey();
    host.Status("All Components Uninstalled...");
    return true;
}
