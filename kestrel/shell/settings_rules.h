// The rules of the preferences and test settings windows that need no window: the memory-load
// entries offered, the scaling steps, the window sizes of the processor and drive windows, the
// result directory, the sender address and the drives of the directory browser.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct DriveEntry;

// How many memory-load entries a machine with this much physical memory is offered (2 to 7):
// the memory in units of 1,024,000 bytes, rounded half up, against the steps 17, 21, 25, 41, 76.
int MemoryLoadEntryCount(uint64_t total_bytes);
// (The machine's physical memory: TotalPhysicalMemory of config_rules.h.)

// The processor steps of a stepwise scaling run: every divisor of n from 1 to n / 2.
std::vector<int> ScalingSteps(int n);

struct SettingsWindowSize {
    int width = 0;
    int height = 0;
    bool operator==(const SettingsWindowSize&) const = default;
};
// The processor window for n processors and the drive window for n drives: 100 pixels per box
// within their width limits, a further row of boxes for every further width's worth.
SettingsWindowSize UniProcWindowSize(int n);
SettingsWindowSize DiskWindowSize(int n);

// True when the path already names the result folder ("Kestrel Files" or "Kestre~1", in any
// case).
bool NamesKestrelFiles(const std::string& path);
// The result folder within path: path itself when it names it, else path + "/" (none after a
// path that ends with one) + the folder's name.
std::string WithKestrelFiles(const std::string& path);

// The default result directory below base (the home directory, or the program's directory
// without one): the result folder within base, made when it does not exist (one level); base
// itself when it can neither be found nor made. `exists` and `make` test and make a directory.
std::string DefaultFilesDirectory(const std::string& base, const std::function<bool(const std::string&)>& exists,
                                  const std::function<bool(const std::string&)>& make);
// The same on this machine's file system with $HOME (or the program's directory).
std::string DefaultFilesDirectory();

// The stored sender: the address alone when the name is empty or a single blank, else
// "address (name)"; cut to the stored width (511 characters).
std::string SenderOf(const std::string& address, const std::string& name);
// The address of a stored sender: its first blank-delimited word.
std::string AddressOfSender(const std::string& sender);

// The entries of the directory browser's drive list: fixed drives as "Local Disk Drive - %s",
// network drives as "Network Disk Drive - %s"; removable drives are left out. `roots` receives
// the drives' roots in list order.
std::vector<std::string> BrowserDrives(const std::vector<DriveEntry>& drives, std::vector<std::string>* roots);
