// The uninstaller's run: the older and this version's registry entries, the installed files and
// the install directory, the program group, and last the uninstall key. The install directory
// comes from the uninstall key, read first; the key itself goes only once the files and the
// group are gone, so a run that failed on the way can be repeated. A directory that is not there
// any more holds nothing to delete; one that the key names by a relative path is taken for none.
//
// Only the files of the distribution are deleted, each by name, and a directory only when it is
// empty: nothing is ever deleted recursively, whatever the registry names as the directory.
#pragma once

#include <string>

// What the run shows: the progress dialog's status line and bar.
class UninstallHost {
public:
    virtual ~UninstallHost() = default;
    virtual void Status(const std::string& /*line*/) {}
    virtual void Progress(double /*fraction*/) {}
};

struct UninstallState {
    std::string installDirectory;  // read by the first step
    double progressFraction = 0.0;
};

// The steps; each returns true when the run may go on.
bool DeleteOldRegistryEntries(UninstallState& state, UninstallHost& host);
void DeleteNewRegistryEntries(UninstallState& state, UninstallHost& host);
bool DeleteInstalledFiles(UninstallState& state, UninstallHost& host);
void DeleteProgramGroup(UninstallState& state, UninstallHost& host);
// Deletes the install directory's value and the uninstall key.
void DeleteUninstallKey();

// The five steps in order, with their status lines; false when a step failed (its box shown).
bool RunUninstall(UninstallHost& host);
