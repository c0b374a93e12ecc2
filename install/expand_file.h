// The expander of the distribution: every distributed file except the launcher, the expander and
// the socket library is one gzip member, named after its target with a trailing "_".
//
// ExpandFile checks the member's magic, CRC-32 and length, writes the destination through a new
// temporary file of its own beside it and a rename (a failed expansion never leaves a
// half-written destination), and gives the destination the mode it is asked for (the file
// table's: 0755 for programs, 0644 for data; permission bits only, less the umask) and the
// source's last-write time, so that a reinstall from the same distribution finds equal times.
// The compressed file's own mode plays no part: a distribution on a medium that shows every file
// with one mode installs the same. CompressFile makes such a member, with a header that depends
// only on the source (its time, no name), so builds are repeatable.
#pragma once

#include <sys/types.h>

#include <string>

// Exit codes of the expand program, which the copy routines map to their messages.
enum ExpandResult {
    kExpandOk = 0,
    kExpandFailed = 1,       // any other I/O error (reading, writing, disk full, renaming)
    kExpandNoSource = 2,     // the source file does not exist
    kExpandNoDirectory = 3,  // the destination's directory does not exist
    kExpandCorrupt = 11,     // not one intact gzip member
};

// The modes of installed files (before the umask): data files (also the expand program's
// default) and programs or libraries.
inline constexpr mode_t kDataFileMode = 0644;
inline constexpr mode_t kProgramFileMode = 0755;

int ExpandFile(const std::string& source, const std::string& destination, mode_t mode);
int CompressFile(const std::string& source, const std::string& destination);
