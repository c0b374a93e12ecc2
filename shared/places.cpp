#include "shared/places.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/whole_file.h"

namespace {

// $HOME, else (unset or not an absolute path) the home directory of the user's account.
std::string Home() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    const struct passwd* pw = getpwuid(getuid());
    if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') return pw->pw_dir;
    return "/";
}

// An XDG variable counts only when it holds an absolute path.
std::string XdgOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    if (v != nullptr && v[0] == '/') return v;
    return fallback;
}

}  // namespace

std::string HomeDirectory() { return Home(); }
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

bool WriteText(const std::string& path, const std::string& text) {
    if (!MakeDirectories(std::filesystem::path(path).parent_path().string())) return false;
    return kp::WriteWholeFile(path, true, text) == kp::WholeFile::Written;
}
