// The icons that the program group's entries name ("kestrel", "glance", "unkes"), installed into
// the user's hicolor icon theme as scalable pictures, so that menus show them by name:
//   $XDG_DATA_HOME/icons/hicolor/scalable/apps/<name>.svg
#pragma once

#include <string>
#include <vector>

// The icon files, as full paths, in the order kestrel, glance, unkes.
std::vector<std::string> ProgramIconFiles();
// Writes every icon file; false when one could not be written.
bool InstallProgramIcons();
// Removes the icon files, each by name (the theme's folders stay).
void RemoveProgramIcons();
