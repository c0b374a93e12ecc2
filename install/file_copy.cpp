#include "install/file_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "install/expand_file.h"
#include "install/file_table.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "shared/places.h"
#include "shared/strformat.h"

namespace {

void Status(SetupState& setup, SetupHost& host, const std::string& text) {
    setup.statusText = text;
    host.StatusChanged();
}

const std::string kInstallCaption = std::string(kProductName) + " Installation Error";
const std::string kSetupCaption = std::string(kProductName) + " Setup";

using Failure = ExpandFailure;

// The box of an expansion that ended with this code.
Failure FailureOfCode(int code, const std::string& source) {
    switch (code) {
        case kExpandNoSource: return {"File not found.  Setup failed!", "File Error"};
        case kExpandNoDirectory: return {"Path not found.  Setup failed!", "File Error"};
        case kExpandCorrupt: return {"Executable file is corrupt.  Setup failed!", "File Error"};
        default: return {StrPrintf("Error expanding %s.  Setup failed!", source.c_str()), "File Error"};
    }
}

// The box of an expand program that could not be started, by the system's error number.
Failure StartFailure(int error, const std::string& source) {
    switch (error) {
        case ENOMEM:
        case EAGAIN: return {"Out of Memory.  Setup failed!", "Allocation Error"};
        case ENOENT: return FailureOfCode(kExpandNoSource, source);
        case ENOTDIR: return FailureOfCode(kExpandNoDirectory, source);
        case ENOEXEC:
        case EACCES: return FailureOfCode(kExpandCorrupt, source);
        default: return FailureOfCode(kExpandFailed, source);
    }
}

// The pause after a row's expansion (the programs and the help page get longer ones).
int PauseAfter(int row, bool slowMedia) {
    if (slowMedia) return (row == 2 || row == 6 || row == 13) ? 10000 : 5000;
    if (row == 2 || row == 6 || row == 8) return 2000;
    if (row == 13) return 4000;
    return 500;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool RunExpander(const std::string& expand, const std::string& source, const std::string& destination,
                 mode_t mode, ExpandFailure* failure) {
    int error = 0;
    char octal[8];
    std::snprintf(octal, sizeof octal, "%o", unsigned(mode & 0777));
    auto child = kp::ChildProcess::Spawn(expand, {expand, "-m", octal, source, destination}, &error);
    if (!child) {
        *failure = StartFailure(error, source);
        return false;
    }
    child->WaitFor(-1);
    if (child->exit_code() == kExpandOk) return true;
    *failure = FailureOfCode(child->exit_code(), source);
    return false;
}

int64_t ToInt64(const struct timespec& time) {
    return int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

void CopyDistributionFilesNT(SetupState& setup, SetupHost& host) {
    const std::vector<DistributionFile>& files = DistributionFiles();
    int disk = 1;
    const auto end = [&](const std::string& text, const std::string& caption) {
        kp::MessageBox(kp::Owner::Active, text, caption, kp::Icon::Stop);
        host.EndSetup();
    };

    for (size_t i = 0; i < files.size();) {
        const DistributionFile& file = files[i];
        const std::string source = setup.sourceDirectory + "/" + file.source;

        // The compressed file on the distribution; in floppy mode the next medium is asked for.
        const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (setup.floppyMode) {
                kp::Sleep(4000);
                ++disk;
                const kp::Answer a = kp::MessageBox(
                    kp::Owner::Active, StrPrintf("Put in Disk Labelled kesdisk%d, or press cancel to end setup.", disk),
                    kSetupCaption, kp::Icon::Question, kp::Buttons::OkCancel);
                if (a == kp::Answer::Ok) continue;
                host.EndSetup();
                return;
            }
            end(StrPrintf("File %s not found.  Setup failed!", source.c_str()), "File Error");
            return;
        }
        struct stat st {};
        const bool statted = fstat(fd, &st) == 0;
        close(fd);
        if (!statted) {
            end("Error Accessing File Information.  Setup cannot proceed", kInstallCaption);
            return;
        }
        const int64_t sourceTime = ToInt64(st.st_mtim);

        const std::string directory = TargetDirectory(file, setup);
        if (file.place != TargetPlace::Install) MakeDirectories(directory);
        const std::string destination = directory + "/" + file.target;
        bool copy = true;
        if (file.place == TargetPlace::AddressBook && Exists(destination)) {
            copy = false;  // the user's own address book stays
        } else {
            int64_t destinationTime = 0;
            const int dfd = open(destination.c_str(), O_RDONLY | O_CLOEXEC);
            if (dfd >= 0) {
                struct stat dst {};
                const bool ok = fstat(dfd, &dst) == 0;
                close(dfd);
                if (ok) {
                    destinationTime = ToInt64(dst.st_mtim);
                } else if (kp::MessageBox(kp::Owner::Active, "Error Accessing File Information.  Install anyway?",
                                          kInstallCaption, kp::Icon::Stop, kp::Buttons::YesNo) == kp::Answer::No) {
                    if (kp::MessageBox(kp::Owner::Active, StrPrintf("Exit setup of %s?", kProductName), kSetupCaption,
                                       kp::Icon::Question, kp::Buttons::YesNo) == kp::Answer::Yes) {
                        host.EndSetup();
                        return;
                    }
                    continue;
                }
            }
            if (destinationTime > sourceTime &&
                kp::MessageBox(kp::Owner::Progress,
                               StrPrintf("Installation File:  %s is older than destination file:  %s.\r\nOverwrite?",
                                      file.target, destination.c_str()),
                               kSetupCaption, kp::Icon::None, kp::Buttons::YesNo) == kp::Answer::No) {
                Status(setup, host,
                       StrPrintf("Cannot copy: %s to %s.  Destination files are newer.", file.target, destination.c_str()));
                copy = false;
            }
        }

        if (copy) {
            Status(setup, host, StrPrintf("Copying: %s to %s", file.target, destination.c_str()));
            // After a change of medium the expander comes from the launcher's copy.
            const std::string expand =
                (setup.floppyMode && disk > 1 ? setup.temporaryDirectory : setup.sourceDirectory) + "/expand";
            Failure failure;
            if (!RunExpander(expand, source, destination, InstalledMode(file), &failure)) {
                end(failure.text, failure.caption);
                return;
            }
            kp::Sleep(PauseAfter(file.row, setup.floppyMode));
        }

        setup.progressFraction = double(i + 1) / double(files.size());
        host.ProgressChanged();
        kp::Sleep(200);
        ++i;
    }
    kp::Sleep(5000);
    host.FinishInstall();
}
