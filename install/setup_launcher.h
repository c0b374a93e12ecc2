// The setup launcher's steps (the program `setup`): the private folder it prepares, the
// expansion of the companion and the expander into it, the start of the companion with the
// launch line, and the clean-up that `setup -r` does.
#pragma once

#include <string>
#include <vector>

// The launcher's files in its private folder, and the socket library it copies beside them.
inline constexpr const char* kCompanionProgram = "setupkes";
inline constexpr const char* kExpandProgram = "expand";
inline constexpr const char* kSocketLibrary = "libkestrel.so";

// Clean-up mode: the only argument is "-r" ("-r" with anything else installs).
bool IsCleanupMode(const std::vector<std::string>& arguments);

// $XDG_RUNTIME_DIR/kestrel-setup, else /tmp/kestrel-setup-<uid>.
std::string PrivateSetupDirectory();
// Makes the private folder (mode 0700) or checks the one there: a directory (no symbolic link)
// owned by this user, then made 0700. False with the system's error number when it is not ours.
bool PreparePrivateDirectory(const std::string& path, int* error);

// The install directory of an earlier installation: the per-user "Kestrel directory" of this
// version, else of 1.20; a key without the value gives the default directory; no key: empty.
std::string KnownInstallDirectory();

// Expands the main program into a known install directory (its result not checked), then the
// companion and the expander into the private folder (each waited for; a failure shows its box
// and fails), copies the socket library beside them (a failed copy shows the system's text and
// the launcher goes on), and pauses 2000 ms.
bool ExpandSetupFiles(const std::string& source, const std::string& privateDirectory);

// The launch: the private folder prepared (a folder that is not the user's own fails with its
// box), the files expanded, the companion started in the source folder with the launch
// line on its command line and its standard input, and left running. False when it did not
// start (boxes shown; the private copies deleted unless the private folder is the source folder).
bool RunSetupCompanion(const std::string& source, const std::string& privateDirectory);

// setup -r: after 1000 ms deletes the private copies and the private folder (when it is ours).
void CleanupTempFiles(const std::string& privateDirectory);

// The launcher window's size and place on a screen of cx x cy with caption buttons of the given
// width, and its font by the screen width.
struct LauncherGeometry {
    int x, y, width, height;
};
LauncherGeometry LauncherWindowGeometry(int cx, int cy, int captionButtonWidth);
struct LauncherFont {
    int height, width, weight;
};
LauncherFont LauncherFontFor(int cx);
