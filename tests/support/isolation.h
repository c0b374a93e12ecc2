// Every test process gets private HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_RUNTIME_DIR and
// TMPDIR folders, so tests run in parallel never share a registry file or a socket.
#pragma once

#include <string>

namespace kt {

// Creates the private folders and points the environment at them (once per process).
void IsolateEnvironment();
// The private temporary folder of this process.
const std::string& TempDir();
// A fresh empty folder below TempDir().
std::string FreshDir(const std::string& stem);
// Writes a file (bytes as given) and returns its path.
std::string WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace kt
