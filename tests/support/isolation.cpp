#include "tests/support/isolation.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kt {
namespace {

std::string g_root;

void RemoveRoot() {
    if (!g_root.empty() && std::getenv("KESTREL_TEST_KEEP") == nullptr) {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    }
}

std::string MakeDir(const std::string& name) {
    fs::path p = fs::path(g_root) / name;
    fs::create_directories(p);
    fs::permissions(p, fs::perms::owner_all, fs::perm_options::replace);
    return p.string();
}

}  // namespace

void IsolateEnvironment() {
    if (!g_root.empty()) return;
    // A test program re-started by its own death test keeps the folders of the first run.
    if (const char* inherited = std::getenv("KESTREL_TEST_ROOT")) {
        if (fs::is_directory(inherited)) {
            g_root = inherited;
            return;
        }
    }
    std::string base = fs::temp_directory_path().string() + "/kestrel-test-XXXXXX";
    if (mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    g_root = base;
    setenv("KESTREL_TEST_ROOT", g_root.c_str(), 1);
    std::atexit(RemoveRoot);
    setenv("HOME", MakeDir("home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", MakeDir("config").c_str(), 1);
    setenv("XDG_DATA_HOME", MakeDir("data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", MakeDir("runtime").c_str(), 1);
    setenv("TMPDIR", MakeDir("tmp").c_str(), 1);
    // Fixed pauses take no time in tests unless a test asks otherwise.
    setenv("KESTREL_TEST_SLEEP_SCALE", "0", 0);
}

const std::string& TempDir() {
    static std::string dir;
    if (dir.empty()) {
        IsolateEnvironment();
        dir = std::getenv("TMPDIR");
    }
    return dir;
}

std::string FreshDir(const std::string& stem) {
    static int counter = 0;
    fs::path p = fs::path(TempDir()) / (stem + "-" + std::to_string(++counter));
    fs::create_directories(p);
    return p.string();
}

std::string WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace kt
