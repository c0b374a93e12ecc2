// Carrying an older installation over into this version: its preferences, the viewer's window
// and font, and the machine description go under this version's keys; the older versions' keys,
// uninstall value and menu groups go; the older install directory's result files are copied into
// the results folder before its distribution files and (when empty) the directory go.
//
// Only values that the older keys hold are written: a value the older version lacked keeps the
// default of the program that reads it, and without an older machine description none is
// written, so kestrel still asks for one at its first start.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "install/setup_state.h"
#include "platform/registry.h"
#include "shared/logfont.h"

// The older versions' places.
inline constexpr const char* kUser120Key = "Software\\Kestrel 1.20\\Kestrel";
inline constexpr const char* kUser110Key = "Software\\Kestrel 1.10\\Kestrel";
inline constexpr const char* kMachine120Key = "SOFTWARE\\Kestrel_120\\Kestrel\\Configuration";
// (The earliest versions' keys, below "Software\Shareware", are the settings store's.)
// The values the earliest versions kept under their per-user key.
inline constexpr const char* kEarlierUserValues[] = {
    "Last User", "Sender", "SMTP Server", "Your Name", "Kestrel directory", "YesNoValue", "ResultsType",
    "LongTestValue", "Signiature File", "Thread Priority", "Button Type", "Default Drive", "Memory Load",
    "Run Glance"};
// The value of the uninstall key that names the install directory.
inline constexpr const char* kInstallDirectoryValue = "Kestrel Install Directory";
// The folder the older installation's result files are copied into, below the home directory.
inline constexpr const char* kResultsFolder = "Kestrel Files";

// A value of a key as the installers name it: "shown" is the name with "#" for a number
// ("Drive #"), as the uninstaller's status line gives it.
struct StoredValue {
    std::string name;
    bool text = false;
    size_t width = 0;  // of a text: at most width - 1 characters are kept
    std::string shown;
};
// This version's values, from the tables of the programs that read them, in the order written.
std::vector<StoredValue> UserValues();        // the per-user key (drives 0..25, counters 0..5)
std::vector<StoredValue> MachineValues();     // the machine description
std::vector<StoredValue> DiskValues();        // the disk key, disks 0..25
std::vector<StoredValue> FontValues();        // a fonts key
std::vector<StoredValue> ViewerRectValues();  // the viewer's key

// The values read from the older keys, held between reading and writing: each as it was read.
struct HeldValues {
    std::map<std::string, kp::reg::Value> values;  // by name
    LogFont font;
    std::vector<bool> fontRead;  // by LogFontValues() index
    bool Empty() const;
};

struct CarryOver {
    HeldValues user;     // per-user key and its fonts
    HeldValues viewer;   // the viewer's rectangle and font
    HeldValues machine;  // the machine description
    HeldValues disks;    // its disk values
    std::string olderDirectory;  // the older installation's directory (uninstall key)
};

// The steps, each as its caller uses it; results as the writers document them (ignored by
// TransformRegistry).
void ReadOldUserSettings(CarryOver& held);
int WriteUserSettings(const CarryOver& held);     // 0; 10 a key failed; 11 a value failed
void ReadOldViewerSettings(CarryOver& held);
int WriteViewerSettings(const CarryOver& held);   // 0; 10; 11
int ReadOldMachineConfig(CarryOver& held, int group);  // 0 read; 1 no description; else a missing value's code
int WriteMachineConfig(const CarryOver& held);    // 0; 1 a key failed; else the failing value's code
void DeleteOldMachineKeys();
void DeleteOldUserKeys();
// Deletes the key the handle names (refused while it has subkeys).
bool DeleteRegKey(kp::reg::Key& key);
void DeleteGroupsWin95();
void DeleteGroup110();
void DeleteGroup120();
// Copies the older directory's result files (*.bmf, any case) into ~/Kestrel Files without
// overwriting, deletes its distribution files and removes it when it is empty and not the new
// install directory.
void MoveResultFiles(const std::string& olderDirectory, const std::string& installDirectory);

// The older installation's directory: the uninstall key's value (empty when there is none or it
// is not an absolute path).
std::string OlderInstallDirectory();
// ~/Kestrel Files.
std::string ResultsFolder();

// The whole carrying-over, with the progress fraction set before each step.
void TransformRegistry(SetupState& setup, SetupHost& host);
