#include "install/progman.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "install/file_table.h"
#include "platform/registry.h"
#include "shared/places.h"
#include "shared/strformat.h"

namespace fs = std::filesystem;

namespace {

// The group that AddItem, ReplaceItem and DeleteItem act on.
std::string g_currentGroup;

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
           });
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The words of a command line: blanks separate them outside double quotation marks, which go.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) words.push_back(word);
    return words;
}

std::string Unquote(const std::string& s) {
    const std::vector<std::string> w = Words(Trimmed(s));
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) out += (i ? " " : "") + w[i];
    return out;
}

// "[Name(a,b,...)]": the name and the arguments (split at commas outside quotation marks).
bool Parse(const std::string& command, std::string* name, std::vector<std::string>* args) {
    const std::string c = Trimmed(command);
    if (c.size() < 4 || c.front() != '[' || c.back() != ']') return false;
    const size_t open = c.find('(');
    const size_t close = c.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close != c.size() - 2)
        return false;
    *name = Trimmed(c.substr(1, open - 1));
    args->clear();
    std::string arg;
    bool quoted = false;
    for (size_t i = open + 1; i < close; ++i) {
        if (c[i] == '"') quoted = !quoted;
        if (c[i] == ',' && !quoted) {
            args->push_back(arg);
            arg.clear();
        } else {
            arg += c[i];
        }
    }
    args->push_back(arg);
    return !quoted;
}

std::string Arg(const std::vector<std::string>& args, size_t i) { return i < args.size() ? args[i] : ""; }

// The escapes of a string value in a desktop entry.
std::string EscapeValue(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

// The Name of a desktop entry, its escapes undone; nothing when it has none.
std::optional<std::string> EntryName(const std::string& entry) {
    const size_t at = entry.find("\nName=");
    if (at == std::string::npos) return std::nullopt;
    const size_t begin = at + 6, end = entry.find('\n', begin);
    const std::string value = entry.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::string XmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::string Category(const std::string& group) {
    std::string c = "X-" + group;
    for (char& ch : c)
        if (!std::isalnum((unsigned char)ch) && ch != '-' && ch != '.' && ch != '_') ch = '-';
    return c;
}

std::string Basename(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A document: a data row of the file table (whatever its mode on this disk says).
bool IsDocument(const std::string& path) {
    const DistributionFile* row = RowOfTarget(Basename(path));
    return row != nullptr && row->kind == FileKind::Data;
}

// The program that opens benchmark files: the first word of the .bmf open command.
std::optional<std::string> BmfOpenProgram() {
    using namespace kp::reg;
    auto bmf = Key::Open(Root::ClassesRoot, ".bmf");
    if (!bmf) return std::nullopt;
    auto progId = bmf->QueryString("");
    if (!progId || progId->empty()) return std::nullopt;
    auto command = Key::Open(Root::ClassesRoot, *progId + "\\shell\\open\\command");
    if (!command) return std::nullopt;
    auto line = command->QueryString("");
    if (!line) return std::nullopt;
    const std::vector<std::string> w = Words(*line);
    if (w.empty()) return std::nullopt;
    return w[0];
}

bool WriteMenu(const std::string& group) {
    std::string menu =
        "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd\">\n"
        "<Menu>\n"
        "  <Name>Applications</Name>\n"
        "  <Menu>\n"
        "    <Name>" + XmlEscape(group) + "</Name>\n"
        "    <Directory>" + XmlEscape(Basename(GroupDirectoryFile(group))) + "</Directory>\n"
        "    <Include>\n"
        "      <Category>" + XmlEscape(Category(group)) + "</Category>\n";
    // Link entries (written by earlier installations) carry no category: the menu names them.
    for (const std::string& item : GroupItemFiles(group))
        if (ReadText(item).find("\nType=Link\n") != std::string::npos)
            menu += "      <Filename>" + XmlEscape(Basename(item)) + "</Filename>\n";
    menu +=
        "    </Include>\n"
        "  </Menu>\n"
        "</Menu>\n";
    return WriteText(GroupMenuFile(group), menu);
}

// A group exists when its directory entry names it exactly (two names may share a file name).
bool GroupExists(const std::string& group) {
    return ReadText(GroupDirectoryFile(group)).find("\nName=" + EscapeValue(group) + "\n") != std::string::npos;
}

int CreateGroup(const std::string& group) {
    if (group.empty()) return 0;
    const std::string directory =
        "[Desktop Entry]\n"
        "Type=Directory\n"
        "Name=" + EscapeValue(group) + "\n";
    if (!WriteMenu(group) || !WriteText(GroupDirectoryFile(group), directory)) return 0;
    g_currentGroup = group;
    return 1;
}

int AddItem(const std::vector<std::string>& args) {
    const std::vector<std::string> argv = Words(Arg(args, 0));
    const std::string title = Trimmed(Arg(args, 1));
    const std::string iconPath = Unquote(Arg(args, 2));
    const std::string directory = Unquote(Arg(args, 6));
    if (argv.empty() || title.empty()) return 0;

    std::string entry = "[Desktop Entry]\n";
    const bool viaEditor = argv[0] == kTextEditor && argv.size() == 2;
    if (viaEditor || (argv.size() == 1 && IsDocument(argv[0]))) {
        // A document: the desktop's opener opens it with the application its type calls for. An
        // application entry rather than a link, since menus are made of application entries.
        entry += "Type=Application\n"
                 "Name=" + EscapeValue(title) + "\n"
                 "Exec=" + EscapeValue(std::string(kTextEditor) + " " +
                                       QuoteExecArgument(viaEditor ? argv[1] : argv[0], true)) + "\n"
                 "Icon=" + std::string(viaEditor ? "text-x-generic" : "text-html") + "\n"
                 "Terminal=false\n"
                 "Categories=" + Category(g_currentGroup) + ";\n";
    } else {
        std::string exec;
        for (const std::string& a : argv) exec += (exec.empty() ? "" : " ") + QuoteExecArgument(a);
        const auto bmf = BmfOpenProgram();
        const bool opensBmf = bmf && *bmf == argv[0];
        if (opensBmf) exec += " %f";
        // Programs carry no icons: an icon file when one is named, else the program's name as
        // a theme icon.
        std::string icon = iconPath;
        if (icon.empty() || (icon.find(".png") == std::string::npos && icon.find(".svg") == std::string::npos))
            icon = Basename(icon.empty() ? argv[0] : icon);
        entry += "Type=Application\n"
                 "Name=" + EscapeValue(title) + "\n"
                 "Exec=" + EscapeValue(exec) + "\n";
        if (!directory.empty()) entry += "Path=" + EscapeValue(directory) + "\n";
        entry += "Icon=" + EscapeValue(icon) + "\n"
                 "Terminal=false\n"
                 "Categories=" + Category(g_currentGroup) + ";\n";
        if (opensBmf) entry += "MimeType=application/x-kestrel-bmf;\n";
    }
    if (!WriteText(ApplicationsDirectory() + "/" + ItemDesktopId(g_currentGroup, title), entry)) return 0;
    return WriteMenu(g_currentGroup) ? 1 : 0;
}

// Removes an item of the current group; true when it was there and the menu was written anew.
bool RemoveItem(const std::string& title) {
    std::error_code ec;
    const bool removed = fs::remove(ApplicationsDirectory() + "/" + ItemDesktopId(g_currentGroup, title), ec);
    return removed && WriteMenu(g_currentGroup);
}

int DeleteGroup(const std::string& group) {
    if (!GroupExists(group)) return 0;
    for (const std::string& item : GroupItemFiles(group)) fs::remove(item);
    fs::remove(GroupMenuFile(group));
    fs::remove(GroupDirectoryFile(group));
    if (group == g_currentGroup) g_currentGroup.clear();
    return 1;
}

}  // namespace

std::string Slug(const std::string& text) {
    std::string out;
    bool dash = false;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.') {
            if (dash && !out.empty()) out += '-';
            out += char(std::tolower(c));
            dash = false;
        } else {
            dash = true;
        }
    }
    return out;
}

std::string ItemDesktopId(const std::string& group, const std::string& title) {
    return Slug(group) + "-" + Slug(title) + ".desktop";
}

std::string ApplicationsDirectory() { return DataHome() + "/applications"; }
std::string GroupMenuFile(const std::string& group) {
    return ConfigHome() + "/menus/applications-merged/" + Slug(group) + ".menu";
}
std::string GroupDirectoryFile(const std::string& group) {
    return DataHome() + "/desktop-directories/" + Slug(group) + ".directory";
}

std::vector<std::string> GroupItemFiles(const std::string& group) {
    std::vector<std::string> items;
    const std::string prefix = Slug(group) + "-";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(ApplicationsDirectory(), ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || name.size() <= 8 || name.compare(name.size() - 8, 8, ".desktop") != 0)
            continue;
        // The prefix alone would take in another group whose name begins with this one's
        // ("Kestrel 1.20 Tools"): an item is the group's when its file is the one this group's
        // item of the entry's title gets.
        const auto title = EntryName(ReadText(e.path().string()));
        if (title && name == ItemDesktopId(group, *title)) items.push_back(e.path().string());
    }
    std::sort(items.begin(), items.end());
    return items;
}

std::string QuoteExecArgument(const std::string& argument, bool always) {
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string out;
    const bool quote = always || argument.empty() || argument.find_first_of(reserved) != std::string::npos;
    for (char c : argument) {
        if (c == '%') out += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += std::string("\\") + c;
        else out += c;
    }
    return quote ? "\"" + out + "\"" : out;
}

int ProgmanExecute(const std::string& command) {
    std::string name;
    std::vector<std::string> args;
    if (!Parse(command, &name, &args)) return 0;
    if (EqualNoCase(name, "CreateGroup")) return CreateGroup(Trimmed(Arg(args, 0)));
    if (EqualNoCase(name, "ShowGroup")) {
        // A group that is not there leaves no group current: the item commands after it do nothing.
        const std::string group = Trimmed(Arg(args, 0));
        g_currentGroup = GroupExists(group) ? group : std::string();
        return g_currentGroup.empty() ? 0 : 1;
    }
    if (EqualNoCase(name, "DeleteGroup")) return DeleteGroup(Trimmed(Arg(args, 0)));
    // The item commands act on the current group.
    if (g_currentGroup.empty() || !GroupExists(g_currentGroup)) return 0;
    if (EqualNoCase(name, "AddItem")) return AddItem(args);
    if (EqualNoCase(name, "ReplaceItem")) {
        RemoveItem(Trimmed(Arg(args, 0)));  // the insertion point; there may be no such item yet
        return 1;
    }
    if (EqualNoCase(name, "DeleteItem")) return RemoveItem(Trimmed(Arg(args, 0))) ? 1 : 0;
    return 0;
}
