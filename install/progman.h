// The program group as the desktop shows it: an XDG menu file that makes a submenu, its
// directory entry, and one desktop entry per item. ProgmanExecute takes the group commands
// the installers send ("[CreateGroup(name,)]", "[ShowGroup(name,1)]", "[ReplaceItem(title)]",
// "[AddItem(cmd,title,iconpath,iconindex,,,defdir,)]", "[DeleteItem(title)]",
// "[DeleteGroup(name)]"), arguments separated by commas outside double quotation marks, and
// carries each out at once; it returns 1 when the command succeeded (every file it changes,
// the menu file among them, written), else 0.
//
// Files (group "Kestrel 1.21", item "Readme First"):
//   $XDG_CONFIG_HOME/menus/applications-merged/kestrel-1.21.menu
//   $XDG_DATA_HOME/desktop-directories/kestrel-1.21.directory
//   $XDG_DATA_HOME/applications/kestrel-1.21-readme-first.desktop
// Every item is an Application entry in the group's category (X-Kestrel-1.21); an item whose
// command opens a document (through the text editor, or a data file of the distribution's file
// table, whatever its mode) runs the desktop's opener on it ('xdg-open "<file>"'). The item whose program is the
// one the .bmf open command names (classes.ini) takes benchmark files: "%f" and MimeType.
#pragma once

#include <string>
#include <vector>

// The text editor of text items: the desktop's opener.
inline constexpr const char* kTextEditor = "xdg-open";

int ProgmanExecute(const std::string& command);

// Lower case, with every run of characters other than letters, digits and "." made one "-".
std::string Slug(const std::string& text);
// "kestrel-1.21-readme-first.desktop" for group "Kestrel 1.21" and item "Readme First".
std::string ItemDesktopId(const std::string& group, const std::string& title);
std::string ApplicationsDirectory();
std::string GroupMenuFile(const std::string& group);
std::string GroupDirectoryFile(const std::string& group);
// The desktop entries of a group, as full paths, sorted.
std::vector<std::string> GroupItemFiles(const std::string& group);

// An argument of an Exec line, quoted as the desktop entry format asks (before the value's own
// escaping of backslashes): in double quotation marks when it needs them, or `always`.
std::string QuoteExecArgument(const std::string& argument, bool always = false);
