// The distribution's file table: one row per installed file, in copy order. Rows keep the
// numbers that the pauses, the program group and the uninstaller refer to; the runtime and
// OpenGL library rows (12, 14, 15) have no place here, since those come from the system's
// packages and a per-user installation never writes system library directories.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "install/setup_state.h"

enum class TargetPlace {
    Install,      // the install directory
    UserBin,      // ~/.local/bin (the uninstaller)
    AddressBook,  // <data home>/kestrel, and only when the file is not there yet
};

enum class FileKind {
    Program,  // programs and libraries: installed with mode 0755 (less the umask)
    Data,     // documents and data: 0644
};

struct DistributionFile {
    int row;
    const char* source;  // the compressed file in the distribution folder
    const char* target;  // the installed file's name
    TargetPlace place;
    const char* title;   // the program group item's title
    FileKind kind;
};

const std::vector<DistributionFile>& DistributionFiles();
// The row with this number; nullptr when the table has none.
const DistributionFile* DistributionRow(int row);
// The installed file's mode before the umask, by its kind (never the distribution file's mode).
mode_t InstalledMode(const DistributionFile& file);
// The row whose installed file has this name; nullptr when none has.
const DistributionFile* RowOfTarget(const std::string& target);
// The directory a row's file goes into.
std::string TargetDirectory(const DistributionFile& file, const SetupState& setup);
