// The registry kept as text files, one per root key.
//
// File format (one file per root):
//   [Software\Kestrel 1.21\Kestrel]
//   "Value Name"="text with \\, \", \n and \r escaped"
//   "Count"=dword:0000000a
//   "Blob"=hex:01,02,ff
// Section headers name the key by its full path. Blank lines and lines that do not parse are
// skipped by the reader (and dropped by the next rewrite).
//
// A change takes an exclusive flock on "<file>.lock", reads the file again, applies itself,
// writes a temporary file in the same directory, syncs it and renames it over the file. Readers
// take no lock: they see either the old or the new file, never a half-written one.
#include "platform/registry.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <pwd.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>

#include "platform/whole_file.h"

namespace kp::reg {
namespace {

struct Entry {
    std::string name;
    Value value;
};

struct Section {
    std::string path;  // stored spelling, components joined by single backslashes
    std::vector<Entry> values;
};

using Store = std::vector<Section>;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// Splits a key path at backslashes, dropping empty components. Nothing when no component is
// left or a component holds a line break (it could not be written as a section header).
std::optional<std::vector<std::string>> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (part.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
        if (!part.empty()) parts.emplace_back(part);
        start = end + 1;
    }
    if (parts.empty()) return std::nullopt;
    return parts;
}

std::string JoinPath(const std::vector<std::string>& parts, size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) {
        if (i) s += '\\';
        s += parts[i];
    }
    return s;
}

std::optional<std::string> NormalPath(std::string_view path) {
    auto parts = SplitPath(path);
    if (!parts) return std::nullopt;
    return JoinPath(*parts, parts->size());
}

// True when `path` lies somewhere below `key` (both normalised).
bool IsBelow(std::string_view path, std::string_view key) {
    return path.size() > key.size() && path[key.size()] == '\\' &&
           SameName(path.substr(0, key.size()), key);
}

Section* FindSection(Store& store, std::string_view path) {
    for (auto& s : store)
        if (SameName(s.path, path)) return &s;
    return nullptr;
}

bool HasBelow(const Store& store, std::string_view path) {
    for (const auto& s : store)
        if (IsBelow(s.path, path)) return true;
    return false;
}

Entry* FindValue(Section& section, std::string_view name) {
    for (auto& e : section.values)
        if (SameName(e.name, name)) return &e;
    return nullptr;
}

// --- text form -------------------------------------------------------------------------------

void AppendQuoted(std::string& out, const std::string& s) {
    out += '"';
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    out += '"';
}

// Reads a quoted string starting at line[pos] == '"'. Returns the position after the closing
// quote, or npos when the text is not a well-formed quoted string.
size_t ParseQuoted(std::string_view line, size_t pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return std::string_view::npos;
    out.clear();
    for (size_t i = pos + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') return i + 1;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= line.size()) break;
        switch (line[i]) {
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameName(s.substr(0, prefix.size()), prefix);
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Parses `"name"=<data>`; nothing when the line is not a value line.
std::optional<Entry> ParseValue(std::string_view line) {
    Entry e;
    size_t pos = ParseQuoted(line, 0, e.name);
    if (pos == std::string_view::npos || pos >= line.size() || line[pos] != '=') return std::nullopt;
    std::string_view data = TrimRight(line.substr(pos + 1));
    if (!data.empty() && data[0] == '"') {
        e.value.type = Type::String;
        if (ParseQuoted(data, 0, e.value.str) != data.size()) return std::nullopt;
        return e;
    }
    if (StartsWithNoCase(data, "dword:")) {
        data.remove_prefix(6);
        if (data.empty() || data.size() > 8) return std::nullopt;
        uint32_t v = 0;
        for (char c : data) {
            int d = HexDigit(c);
            if (d < 0) return std::nullopt;
            v = v << 4 | static_cast<uint32_t>(d);
        }
        e.value.type = Type::Dword;
        e.value.dword = v;
        return e;
    }
    if (StartsWithNoCase(data, "hex:")) {
        data.remove_prefix(4);
        e.value.type = Type::Binary;
        while (!data.empty()) {
            size_t comma = data.find(',');
            std::string_view byte = data.substr(0, comma);
            while (!byte.empty() && byte.front() == ' ') byte.remove_prefix(1);
            byte = TrimRight(byte);
            if (byte.empty() || byte.size() > 2) return std::nullopt;
            int v = 0;
            for (char c : byte) {
                int d = HexDigit(c);
                if (d < 0) return std::nullopt;
                v = v * 16 + d;
            }
            e.value.bin.push_back(static_cast<uint8_t>(v));
            if (comma == std::string_view::npos) break;
            data.remove_prefix(comma + 1);
            if (data.empty()) return std::nullopt;  // trailing comma
        }
        return e;
    }
    return std::nullopt;
}

void PutValue(Section& section, const std::string& name, const Value& value) {
    if (Entry* e = FindValue(section, name)) {
        e->value = value;
    } else {
        section.values.push_back({name, value});
    }
}

Store Parse(const std::string& text) {
    Store store;
    size_t current = SIZE_MAX;  // index of the section being read
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (line.front() == '[') {
            current = SIZE_MAX;
            std::string_view t = TrimRight(line);
            if (t.size() < 2 || t.back() != ']') continue;
            auto path = NormalPath(t.substr(1, t.size() - 2));
            if (!path) continue;
            if (const Section* s = FindSection(store, *path)) {
                current = static_cast<size_t>(s - store.data());
            } else {
                current = store.size();
                store.push_back({*path, {}});
            }
        } else if (line.front() == '"' && current != SIZE_MAX) {
            if (auto e = ParseValue(line)) PutValue(store[current], e->name, e->value);
        }
    }
    return store;
}

std::string Serialize(const Store& store) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "; Kestrel registry\n";
    for (const auto& s : store) {
        out += "\n[" + s.path + "]\n";
        for (const auto& e : s.values) {
            AppendQuoted(out, e.name);
            out += '=';
            switch (e.value.type) {
                case Type::String: AppendQuoted(out, e.value.str); break;
                case Type::Dword: {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(e.value.dword));
                    out += buf;
                    break;
                }
                case Type::Binary:
                    out += "hex:";
                    for (size_t i = 0; i < e.value.bin.size(); ++i) {
                        if (i) out += ',';
                        out += kHex[e.value.bin[i] >> 4];
                        out += kHex[e.value.bin[i] & 15];
                    }
                    break;
            }
            out += '\n';
        }
    }
    return out;
}

// --- files -----------------------------------------------------------------------------------

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* pw = getpwuid(getuid());
        home = pw != nullptr ? pw->pw_dir : "/";
    }
    return std::string(home) + "/.config";
}

std::string Directory(const std::string& file) { return file.substr(0, file.rfind('/')); }

// Creates the directory and its missing parents (mode 0700); true when it exists afterwards.
bool MakeDirectory(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos < dir.size() && dir[pos] != '/') continue;
        std::string part = dir.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads the whole file. A missing file reads as empty; any other failure gives nothing.
std::optional<std::string> ReadText(const std::string& file) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::string();
        return std::nullopt;
    }
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

std::optional<Store> Load(Root root) {
    auto text = ReadText(RootFile(root));
    if (!text) return std::nullopt;
    return Parse(*text);
}

// The file is rewritten whole or not at all; a new one is for its user alone.
bool ReplaceFile(const std::string& file, const std::string& data) {
    return WriteWholeFile(file, true, data, 0600) == WholeFile::Written;
}

// Applies one change under the root's lock: `change` edits the freshly read store and returns
// false to leave the file untouched (and make the operation fail).
bool Modify(Root root, const std::function<bool(Store&)>& change) {
    const std::string file = RootFile(root);
    if (!MakeDirectory(Directory(file))) return false;
    int lock = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return false;
    while (flock(lock, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(lock);
            return false;
        }
    }
    bool ok = false;
    if (auto store = Load(root)) ok = change(*store) && ReplaceFile(file, Serialize(*store));
    close(lock);  // releases the lock
    return ok;
}

std::optional<Value> FindIn(Root root, const std::string& path, const std::string& name) {
    auto store = Load(root);
    if (!store) return std::nullopt;
    Section* s = FindSection(*store, path);
    if (s == nullptr) return std::nullopt;
    Entry* e = FindValue(*s, name);
    if (e == nullptr) return std::nullopt;
    return e->value;
}

}  // namespace

std::string RootFile(Root root) {
    const char* name = "user.ini";
    if (root == Root::LocalMachine) name = "machine.ini";
    if (root == Root::ClassesRoot) name = "classes.ini";
    return ConfigHome() + "/kestrel/" + name;
}

std::optional<Key> Key::Open(Root root, const std::string& path) {
    auto normal = NormalPath(path);
    if (!normal) return std::nullopt;
    auto store = Load(root);
    if (!store) return std::nullopt;
    const Section* s = FindSection(*store, *normal);
    if (s == nullptr) return std::nullopt;
    return Key(root, s->path);
}

std::optional<Key> Key::Create(Root root, const std::string& path) {
    if (auto key = Open(root, path)) return key;
    auto parts = SplitPath(path);
    if (!parts) return std::nullopt;
    std::string stored;
    bool ok = Modify(root, [&](Store& store) {
        stored.clear();
        for (size_t i = 1; i <= parts->size(); ++i) {
            if (const Section* s = FindSection(store, JoinPath(*parts, i))) {
                stored = s->path;
                continue;
            }
            stored = stored.empty() ? (*parts)[i - 1] : stored + '\\' + (*parts)[i - 1];
            store.push_back({stored, {}});
        }
        return true;
    });
    if (!ok) return std::nullopt;
    return Key(root, stored);
}

bool Key::Exists() const { return KeyExists(root_, path_); }

std::optional<Value> Key::Query(const std::string& name) const { return FindIn(root_, path_, name); }

std::optional<std::string> Key::QueryString(const std::string& name) const {
    auto v = Query(name);
    if (!v || v->type != Type::String) return std::nullopt;
    return v->str;
}

std::optional<uint32_t> Key::QueryDword(const std::string& name) const {
    auto v = Query(name);
    if (!v || v->type != Type::Dword) return std::nullopt;
    return v->dword;
}

std::optional<std::vector<uint8_t>> Key::QueryBinary(const std::string& name) const {
    auto v = Query(name);
    if (!v || v->type != Type::Binary) return std::nullopt;
    return v->bin;
}

bool Key::Set(const std::string& name, const Value& value) {
    return Modify(root_, [&](Store& store) {
        Section* s = FindSection(store, path_);
        if (s == nullptr) return false;
        PutValue(*s, name, value);
        return true;
    });
}

bool Key::SetString(const std::string& name, const std::string& value) {
    Value v;
    v.type = Type::String;
    v.str = value;
    return Set(name, v);
}

bool Key::SetDword(const std::string& name, uint32_t value) {
    Value v;
    v.type = Type::Dword;
    v.dword = value;
    return Set(name, v);
}

bool Key::SetBinary(const std::string& name, const std::vector<uint8_t>& value) {
    Value v;
    v.type = Type::Binary;
    v.bin = value;
    return Set(name, v);
}

bool Key::DeleteValue(const std::string& name) {
    if (!Query(name)) return false;
    return Modify(root_, [&](Store& store) {
        Section* s = FindSection(store, path_);
        if (s == nullptr) return false;
        for (auto it = s->values.begin(); it != s->values.end(); ++it) {
            if (SameName(it->name, name)) {
                s->values.erase(it);
                return true;
            }
        }
        return false;
    });
}

bool Key::DeleteSelf() { return DeleteKey(root_, path_); }

std::vector<std::string> Key::SubKeys() const {
    std::vector<std::string> names;
    auto store = Load(root_);
    if (!store) return names;
    for (const auto& s : *store) {
        if (!IsBelow(s.path, path_)) continue;
        std::string rest = s.path.substr(path_.size() + 1);
        std::string name = rest.substr(0, rest.find('\\'));
        bool seen = false;
        for (const auto& n : names) seen = seen || SameName(n, name);
        if (!seen) names.push_back(name);
    }
    return names;
}

std::vector<std::string> Key::ValueNames() const {
    std::vector<std::string> names;
    auto store = Load(root_);
    if (!store) return names;
    if (const Section* s = FindSection(*store, path_))
        for (const auto& e : s->values) names.push_back(e.name);
    return names;
}

bool DeleteKey(Root root, const std::string& path) {
    auto normal = NormalPath(path);
    if (!normal || !KeyExists(root, *normal)) return false;
    return Modify(root, [&](Store& store) {
        if (HasBelow(store, *normal)) return false;
        for (auto it = store.begin(); it != store.end(); ++it) {
            if (SameName(it->path, *normal)) {
                store.erase(it);
                return true;
            }
        }
        return false;
    });
}

bool DeleteTree(Root root, const std::string& path) {
    auto normal = NormalPath(path);
    if (!normal) return false;
    return Modify(root, [&](Store& store) {
        size_t before = store.size();
        std::erase_if(store, [&](const Section& s) {
            return SameName(s.path, *normal) || IsBelow(s.path, *normal);
        });
        return store.size() != before;
    });
}

bool KeyExists(Root root, const std::string& path) { return Key::Open(root, path).has_value(); }

}  // namespace kp::reg
