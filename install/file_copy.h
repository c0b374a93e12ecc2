// The distribution file copy: every row of the file table is checked on the distribution
// (asking for the next medium in floppy mode), compared by last-write time with an installed
// copy (asking before a newer file is overwritten), and expanded into place by the distribution's
// expand program, which is waited for: a row counts as done only when expand has written it.
// When the last row is done the companion's FinishInstall follows; a failure shows its box and
// ends the installation (files already expanded stay).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "install/setup_state.h"

// The box of an expansion that did not write its file.
struct ExpandFailure {
    std::string text;
    std::string caption;
};

// Runs the expander program `expand` on one file, giving the destination `mode` (the file
// table's, less the umask), and waits for it; true when it wrote the destination, else the box to show: a start failure or an exit code mapped to its text
// ("File not found.  Setup failed!", "Path not found.  Setup failed!", "Executable file is
// corrupt.  Setup failed!", "Out of Memory.  Setup failed!", or "Error expanding <source>.  Setup
// failed!"). The launcher expands its own files the same way.
bool RunExpander(const std::string& expand, const std::string& source, const std::string& destination,
                 mode_t mode, ExpandFailure* failure);

// A last-write time as one 64-bit count (nanoseconds since the epoch), for comparison only.
int64_t ToInt64(const struct timespec& time);

void CopyDistributionFilesNT(SetupState& setup, SetupHost& host);
