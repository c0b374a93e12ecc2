#include "shared/places.h"

#include <cstdlib>
#include <filesystem>

namespace {

std::string Home() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

// An XDG variable counts only when it holds an absolute path.
std::string XdgOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    if (v != nullptr && v[0] == '/') return v;
    return fallback;
}

}  // namespace

std::string DataHome() { return XdgOr("XDG_DATA_HOME", Home() + "/.local/share"); }
std::string ConfigHome() { return XdgOr("XDG_CONFIG_HOME", Home() + "/.config"); }
std::string DefaultInstallDirectory() { return DataHome() + "/kestrel"; }
std::string AddressBookPath() { return DefaultInstallDirectory() + "/userfile.dbf"; }
std::string UserBinDirectory() { return Home() + "/.local/bin"; }

bool MakeDirectories(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}
