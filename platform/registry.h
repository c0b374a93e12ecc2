// The registry: a small hierarchical store of typed values, kept as one text file per root key
// under $XDG_CONFIG_HOME/kestrel/ (user.ini, machine.ini, classes.ini).
//
// Semantics follow what the programs expect of a registry:
//  - key paths are backslash-separated ("Software\Kestrel 1.21\Kestrel"); key path components
//    and value names are compared without regard to ASCII case, and keep the spelling with which
//    they were first written;
//  - values are typed: string, 32-bit number, binary;
//  - a key exists once created (creating a key creates its missing ancestors); a key that has
//    subkeys cannot be deleted (deleteTree removes a whole branch);
//  - every change is made under an exclusive lock on the root's file, after reading the file
//    again, and written back by an atomic rename, so several programs writing the same key never
//    lose each other's values.
//
// A Key is a handle: it names (root, path). Every operation reads the current file, so a handle
// sees changes that other handles or processes made. Operations on a key that no longer exists
// fail (queries find nothing, sets and deletes return false).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kp::reg {

enum class Root { CurrentUser, LocalMachine, ClassesRoot };

enum class Type { String, Dword, Binary };

struct Value {
    Type type = Type::String;
    std::string str;             // Type::String
    uint32_t dword = 0;          // Type::Dword
    std::vector<uint8_t> bin;    // Type::Binary
};

// The file that holds a root key (the directory is created on first write, mode 0700).
std::string RootFile(Root root);

class Key {
public:
    // Opens an existing key; nothing when it does not exist.
    static std::optional<Key> Open(Root root, const std::string& path);
    // Opens the key, creating it (and any missing ancestors) when needed; nothing when the
    // store cannot be written.
    static std::optional<Key> Create(Root root, const std::string& path);

    Root root() const { return root_; }
    const std::string& path() const { return path_; }
    bool Exists() const;

    std::optional<Value> Query(const std::string& name) const;
    // Typed queries: nothing when the value is missing or has another type.
    std::optional<std::string> QueryString(const std::string& name) const;
    std::optional<uint32_t> QueryDword(const std::string& name) const;
    std::optional<std::vector<uint8_t>> QueryBinary(const std::string& name) const;

    bool Set(const std::string& name, const Value& value);
    bool SetString(const std::string& name, const std::string& value);
    bool SetDword(const std::string& name, uint32_t value);
    bool SetBinary(const std::string& name, const std::vector<uint8_t>& value);

    // Removes one value; false when it was not there.
    bool DeleteValue(const std::string& name);
    // Deletes the key this handle names (refused while it has subkeys).
    bool DeleteSelf();

    // Names of the direct subkeys, in their stored spelling.
    std::vector<std::string> SubKeys() const;
    // Names of the values, in their stored spelling and order.
    std::vector<std::string> ValueNames() const;

private:
    Key(Root root, std::string path) : root_(root), path_(std::move(path)) {}
    Root root_;
    std::string path_;
};

// Deletes one key; refused (false) when it has subkeys or does not exist.
bool DeleteKey(Root root, const std::string& path);
// Deletes a key with everything below it; false when it does not exist.
bool DeleteTree(Root root, const std::string& path);
bool KeyExists(Root root, const std::string& path);

}  // namespace kp::reg
