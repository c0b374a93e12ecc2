// The expander of the distribution: every distributed file except the launcher, the expander and
// the socket library is one gzip member, named after its target with a trailing "_".
//
// ExpandFile checks the member's magic, CRC-32 and length, writes the destination through
// "<dst>.tmp" and a rename (a failed expansion never leaves a half-written destination), and
// gives the destination the source's mode (less the umask) and last-write time, so that a
// reinstall from the same distribution finds equal times. CompressFile makes such a member, with
// a header that depends only on the source (its time, no name), so builds are repeatable.
#pragma once

#include <string>

// Exit codes of the expand program, which the copy routines map to their messages.
enum ExpandResult {
    kExpandOk = 0,
    kExpandFailed = 1,       // any other I/O error (reading, writing, disk full, renaming)
    kExpandNoSource = 2,     // the source file does not exist
    kExpandNoDirectory = 3,  // the destination's directory does not exist
    kExpandCorrupt = 11,     // not one intact gzip member
};

int ExpandFile(const std::string& source, const std::string& destination);
int CompressFile(const std::string& source, const std::string& destination);
