// The settings store: the user's preferences and the description of the machine, kept in the
// registry (per-user key and per-machine key), with the carry-over from older versions' keys.
//
// The globals below are where these settings live while the program runs; dialogs change them
// and then call the writer. Text fields are std::string, cut on reading to the width of the
// field they had in the stored format (width - 1 characters).
#pragma once

#include <cstdint>
#include <string>

#include "shared/logfont.h"

namespace kp::reg {
class Key;
}

// Registry keys of this version and of older versions.
inline constexpr const char* kMainKey = "Software\\Kestrel 1.21\\Kestrel";
inline constexpr const char* kFontsKey = "Software\\Kestrel 1.21\\Kestrel\\fonts";
inline constexpr const char* kOldUserKey = "Software\\Shareware\\Kestrel";
inline constexpr const char* kOldUserConfigKey = "Software\\Shareware\\Kestrel\\Configuration";
inline constexpr const char* kMachineKey = "SOFTWARE\\Kestrel_121\\Kestrel\\Configuration";
inline constexpr const char* kDiskKey = "SOFTWARE\\Kestrel_121\\Kestrel\\Configuration\\DiskData";
inline constexpr const char* kOldMachineKey = "SOFTWARE\\Shareware\\Kestrel\\Configuration";
inline constexpr const char* kOldDiskKey = "SOFTWARE\\Shareware\\Kestrel\\Configuration\\DiskData";
inline constexpr const char* kOldProductKey = "SOFTWARE\\Shareware\\Kestrel";

// Left and top are the position; "right" and "bottom" hold the width and height.
struct WindowRect {
    int32_t left = 0;
    int32_t right = 0;
    int32_t top = 0;
    int32_t bottom = 0;
};

struct Preferences {
    std::string lastselection;       // "Last User", char[65000]
    std::string SMTPHost;            // "SMTP server", char[512]
    std::string Sender;              // "Sender", char[512]
    std::string yourname;            // "Your Name", char[512]
    std::string kestrel_directory;   // "Kestrel directory", char[512]
    std::string files_directory;     // "Kes Files Directory", char[512]
    int32_t graphvalue = 2;          // "ResultsType": 0 list, 1 graph, 2 both
    int32_t zbuffer_16bit = 0;       // "Zbuffer"
    int32_t valuelongtest = 0;       // "LongTestValue"
    std::string endmailfile;         // "Signiature File", at most 255 characters read
    int32_t buttonvalue = 0;         // "Button Type"
    int32_t laptop_settings_on = 0;  // "Laptop Setting"
    int32_t use_high_precision = 1;  // "Timer Precision"
    int32_t niceness = 0;            // "Niceness Level"
    int32_t show_graphs = 0;         // "Show Perf Graphs"
    WindowRect main_window_rect;     // "Main Window Rect Left/Right/Top/Bottom"
    int32_t blocksizenumber = 3;     // "Default Blocksize"
    int32_t filesizenumber = 0;      // "Default Filesize"
    int32_t defdirnumber = 0;        // "Default Disk Benchmark Directory"
    int32_t default_drive_chosen[26] = {};  // "Drive %d selected"
    int32_t perf_counters[6] = {};   // "Counter %d"
    int32_t memory_load_value = 0;   // "Memory Load" 0..6
    int32_t runglance = 0;           // "Run Glance"
    int32_t show_perf_data = 0;      // "Show Performance Data"
    int32_t stepwise_scaling = 0;    // "Stepwise Scaling Efficiency"
    LogFont GlobalLogFont;           // fonts key
};

struct MachineDescription {
    std::string manufacturer;   // "Manufacturer", char[100]
    std::string make;           // "Make", char[100]
    std::string os;             // "OS Info", char[150]
    std::string speed;          // "Processor Speed", char[50]
    std::string memory;         // "Memory Size", char[50]
    int32_t memoryvalue = 0;    // "Memory Type"
    int32_t cachevalue = 0;     // "Cache Type"
    std::string cachesize;      // "CPU Cache Size", char[50]
    std::string theproc;        // "Processor", char[120]
    std::string videoadapter;   // "Video Adapter", char[100]
    int32_t ramvalue = 0;       // "Video Ram Type"
    std::string videoram;       // "Video Ram", char[50]
    std::string harddisk[26];   // "Logical Disk %d", char[120]
    std::string adapter[26];    // "Adapter %d", char[120]
    int32_t diskvalue[26] = {}; // "LogDiskType %d"
    std::string osver;          // operating-system release, char[30]
    std::string servicepack;    // operating-system name, char[32]
};

// The program's one copy of each.
extern Preferences prefs;
extern MachineDescription machine;
// Number of drives in the Test Drives menu (at most 26); set by the drive list.
extern int globaldrives;

// Preferences: writer and reader. Results as documented with each.
int CreateRegEntry();   // 0 written; 10 a key could not be opened or created; 11 a value failed
int GetRegEntry();      // 0 all read; 1 no key; 2..7 the code of a missing value
// Machine description: writer and reader.
int CreateRegEntry2();  // 0 written; 1 a key failed; otherwise the code of the value that failed
int GetRegEntry2();     // 0 read; 1 no description stored; otherwise the code of a missing value
// Deletes the key the handle names (refused while it has subkeys).
void DeleteOldKey(kp::reg::Key& key);
