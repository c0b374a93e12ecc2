// Where a per-user installation puts things (the XDG base directories and their defaults), and
// the per-user files the programs share.
#pragma once

#include <string>

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
