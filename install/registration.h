// The end of an installation: the registry entries that the programs and the uninstaller read
// back, the .bmf association, and the program group.
#pragma once

#include <string>

#include "install/setup_state.h"

// The keys the installation writes.
inline constexpr const char* kUserKey = "Software\\Kestrel 1.21\\Kestrel";
inline constexpr const char* kProductMachineKey = "SOFTWARE\\Kestrel_121\\Kestrel";
inline constexpr const char* kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Uninstall\\UninstallKestrel";
// The benchmark file's class and the program id it names.
inline constexpr const char* kBmfClass = ".bmf";
inline constexpr const char* kBmfProgId = "kestrel.exe";

// Result codes of the registry writers.
enum RegistryResult { kRegistryOk = 0, kRegistryNoKey = 10, kRegistryNoValue = 11 };

// Writes the entries in order: the install directory, user name and (when an address is known)
// sender under the per-user key, the version under the machine key, the uninstall key, and the
// .bmf class with its open command; then the desktop's association (MIME package and default
// application). The first failure shows its box and ends the routine; entries written before it
// stay.
int SetRegistryEntries(const SetupState& setup);

// The open command of benchmark files: "<dir>/kestrel" %1 (the path quoted).
std::string BmfOpenCommand(const std::string& installDirectory);

// Creates the group "Kestrel 1.21" with its items (each after its ReplaceItem, so a second
// installation replaces rather than duplicates them), after the programs' icons. Every
// command's outcome is ignored.
void CreateProgramGroup(const SetupState& setup);

// The desktop entry of the main program's item, which takes benchmark files.
std::string MainProgramDesktopId();
