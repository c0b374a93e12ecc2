#include "install/setup_launcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "install/expand_file.h"
#include "install/file_copy.h"
#include "install/launch.h"
#include "install/setup_rules.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "shared/places.h"

namespace fs = std::filesystem;

namespace {

// The system's text of an error, as the launcher shows it (with the file it concerns, if any).
void ShowSystemError(int error, const std::string& file = "") {
    kp::MessageBox(kp::Owner::Active, kp::ErrorText(error) + (file.empty() ? "" : " (" + file + ")"),
                   "Operation Failed in Setup", kp::Icon::Exclamation);
}

// Copies a file whole (replacing the target) and gives it the mode; false with errno.
bool CopyFile(const std::string& from, const std::string& to, mode_t mode) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        errno = ec.value();
        return false;
    }
    return chmod(to.c_str(), mode) == 0;
}

void DeletePrivateCopies(const std::string& privateDirectory) {
    for (const char* name : {kCompanionProgram, kExpandProgram, kSocketLibrary})
        unlink((privateDirectory + "/" + name).c_str());
}

}  // namespace

bool IsCleanupMode(const std::vector<std::string>& arguments) {
    return arguments.size() == 1 && arguments[0] == "-r";
}

std::string PrivateSetupDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/kestrel-setup";
    return "/tmp/kestrel-setup-" + std::to_string(getuid());
}

bool PreparePrivateDirectory(const std::string& path, int* error) {
    *error = 0;
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = errno;
        return false;
    }
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        *error = errno;
        return false;
    }
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
        *error = ENOTDIR;
        return false;
    }
    if (st.st_uid != getuid()) {
        *error = EPERM;
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) {
        *error = errno;
        return false;
    }
    return true;
}

std::string KnownInstallDirectory() {
    using kp::reg::Key;
    using kp::reg::Root;
    for (const char* path : {"Software\\Kestrel 1.21\\Kestrel", "Software\\Kestrel 1.20\\Kestrel"}) {
        auto key = Key::Open(Root::CurrentUser, path);
        if (!key) continue;
        const auto dir = key->QueryString("Kestrel directory");
        return dir && !dir->empty() ? *dir : DefaultInstallDirectory();
    }
    return "";
}

bool ExpandSetupFiles(const std::string& source, const std::string& privateDirectory) {
    const std::string expand = source + "/" + kExpandProgram;
    ExpandFailure failure;
    const std::string installed = KnownInstallDirectory();
    if (!installed.empty()) {
        // The main program of an earlier installation is brought up to date at once; whether it
        // could be is the companion's copy's concern.
        RunExpander(expand, source + "/kestrel_", installed + "/kestrel", kProgramFileMode, &failure);
    }
    for (const char* program : {kCompanionProgram, kExpandProgram}) {
        if (!RunExpander(expand, source + "/" + program + "_", privateDirectory + "/" + program, kProgramFileMode,
                         &failure)) {
            kp::MessageBox(kp::Owner::Active, failure.text, failure.caption, kp::Icon::Stop);
            return false;
        }
    }
    // Mail needs the socket library beside the companion: a copy that fails is said at once.
    if (!SamePlace(source, privateDirectory) &&
        !CopyFile(source + "/" + kSocketLibrary, privateDirectory + "/" + kSocketLibrary, 0755))
        ShowSystemError(errno, source + "/" + kSocketLibrary);
    kp::Sleep(2000);
    return true;
}

bool RunSetupCompanion(const std::string& source, const std::string& privateDirectory) {
    int error = 0;
    if (!PreparePrivateDirectory(privateDirectory, &error)) {
        kp::MessageBox(kp::Owner::Active,
                       "Setup cannot use its folder " + privateDirectory + " (" + kp::ErrorText(error) +
                           ").  Setup failed!",
                       "File Error", kp::Icon::Stop);
        return false;
    }
    if (!ExpandSetupFiles(source, privateDirectory)) return false;
    const std::string line = LaunchLineText(source);
    kp::Sleep(1000);
    kp::SpawnOptions options;
    options.workingDirectory = source;
    options.inputPipe = true;
    options.detached = true;
    const std::string companion = privateDirectory + "/" + kCompanionProgram;
    const std::vector<std::string> argv = {companion, "-d", kLaunchToken, source};
    auto child = kp::ChildProcess::Spawn(companion, argv, options, &error);
    if (!child && (error == EMFILE || error == ENFILE)) {
        ShowSystemError(error);  // no pipe: the companion starts with the command line alone
        options.inputPipe = false;
        child = kp::ChildProcess::Spawn(companion, argv, options, &error);
    }
    if (!child) {
        kp::MessageBox(kp::Owner::Active, "Cannot run Setupkes", "Kestrel Setup", kp::Icon::Stop);
        ShowSystemError(error);
        if (!SamePlace(privateDirectory, source)) DeletePrivateCopies(privateDirectory);
        return false;
    }
    if (options.inputPipe) {
        int writeError = 0;
        if (!child->WriteInput(line, &writeError)) {
            kp::MessageBox(kp::Owner::Active,
                           writeError == EPIPE ? "Connection with child was already broken!" : "Bad write handle!",
                           "Pipe Exception", kp::Icon::Stop);
        }
        child->CloseInput();
    }
    kp::Sleep(1000);
    return true;  // the companion runs on alone
}

void CleanupTempFiles(const std::string& privateDirectory) {
    kp::Sleep(1000);
    struct stat st {};
    if (lstat(privateDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return;
    DeletePrivateCopies(privateDirectory);
    rmdir(privateDirectory.c_str());  // stays when something else is in it
}

LauncherGeometry LauncherWindowGeometry(int cx, int cy, int captionButtonWidth) {
    const bool large = captionButtonWidth >= 30;
    const int height = large ? std::min(100, cy / 8) : std::min(65, cy / 10);
    const int offset = large ? std::min(50, cy / 20) : std::min(32, cy / 16);
    return {cx / 2 - cx / 6 - 10, cy / 2 - offset, cx / 3 + 10, height};
}

LauncherFont LauncherFontFor(int cx) {
    if (cx < 800) return {16, 8, 600};
    if (cx < 1024) return {14, 6, 400};
    if (cx < 1152) return {15, 7, 500};
    return {16, 8, 600};
}
