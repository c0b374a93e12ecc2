// The distribution file copy: every row of the file table is checked on the distribution
// (asking for the next medium in floppy mode), compared by last-write time with an installed
// copy (asking before a newer file is overwritten), and expanded into place by the distribution's
// expand program, which is waited for: a row counts as done only when expand has written it.
// When the last row is done the companion's FinishInstall follows; a failure shows its box and
// ends the installation (files already expanded stay).
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "install/setup_state.h"

// A last-write time as one 64-bit count (nanoseconds since the epoch), for comparison only.
int64_t ToInt64(const struct timespec& time);

void CopyDistributionFilesNT(SetupState& setup, SetupHost& host);
