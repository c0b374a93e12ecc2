// Where a per-user installation puts things (the XDG base directories and their defaults), and
// the per-user files the programs share. The home directory is $HOME, else the user account's.
#pragma once

#include <string>

// The home directory.
std::string HomeDirectory();
// $XDG_DATA_HOME, else ~/.local/share.
std::string DataHome();
// $XDG_CONFIG_HOME, else ~/.config.
std::string ConfigHome();
// The default install directory: <data home>/kestrel.
std::string DefaultInstallDirectory();
// The address book that kestrel and glance share: <install directory>/userfile.dbf.
std::string AddressBookPath();
// ~/.local/bin: the uninstaller's place (the system directory of a per-user installation).
std::string UserBinDirectory();
// Creates a directory and its missing parents; true when it is a directory afterwards.
bool MakeDirectories(const std::string& path);
// Writes a file whole (its folder made first), through a temporary file and a rename; false on
// any failure, leaving the file as it was.
bool WriteText(const std::string& path, const std::string& text);
