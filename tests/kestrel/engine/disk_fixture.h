// Shared pieces of the disk test's tests: a fixture mount table, the engine's disk state reset,
// open flags of a descriptor, a file-size limit that makes writes fail, report masking.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/file_size_limit.h"
#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/disk/disk_drives.h"
#include "kestrel/engine/disk/disk_io.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/result_store.h"
#include "kestrel/engine/run/run_state.h"
#include "kestrel/engine/run/settings.h"
#include "platform/disk_file.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/ui_thread.h"
#include "tests/support/isolation.h"

namespace kt {

// A mount table written as a /proc fixture (KESTREL_PROC_ROOT) while this lives.
class FixtureMounts {
public:
    FixtureMounts() : proc_(FreshDir("proc")) {
        mkdir((proc_ + "/self").c_str(), 0755);
        setenv("KESTREL_PROC_ROOT", proc_.c_str(), 1);
    }
    ~FixtureMounts() { unsetenv("KESTREL_PROC_ROOT"); }
    // One mount: "maj:min", mount point, type, source.
    FixtureMounts& Add(const std::string& dev, const std::string& point, const std::string& type,
                       const std::string& source) {
        return Raw(std::to_string(++id_) + " 1 " + dev + " / " + point + " rw,relatime shared:1 - " + type + " " +
                   source + " rw");
    }
    FixtureMounts& Raw(const std::string& line) {
        text_ += line + "\n";
        WriteFile(proc_ + "/self/mountinfo", text_);
        return *this;
    }

private:
    std::string proc_;
    std::string text_;
    int id_ = 20;
};

// The engine's disk state and the settings the disk test reads, as after start-up.
inline void ResetDiskEngine() {
    kp::MarkUiThread();
    report = ReportText{};
    FreeDiskBuffers();
    if (disk.filehandle >= 0) endtest();
    disk.thedrive.clear();
    disk.count = 0;
    disk.flag = 1;
    disk.filerror = 0;
    disk.filename_disktest.clear();
    prefs = Preferences{};
    prefs.show_perf_data = 0;
    drivemenu = DriveMenu{};
    globaldrives = 0;
    results = ResultStore{};
    run.testend = 0;
    run.testrunning = 1;
    run.real_num_processors = 1;
    disk_run_lengths = DiskRunLengths{};
    SetDiskSpaceReader(nullptr);
    SetWritableCheck(nullptr);
    kp::RefuseDirectIo(false);
    system_roots.sys = FreshDir("sys");
    system_roots.labels = FreshDir("labels");
    perflink.given_up = false;
    // The counter library that answers the cache samples.
    perflink.program_directory = kp::ProgramDirectory() + "/disk_fakes";
}

// The open flags of a descriptor as the kernel shows them.
inline int OpenFlags(int fd) {
    std::ifstream in("/proc/self/fdinfo/" + std::to_string(fd));
    std::string key, value;
    while (in >> key >> value) {
        if (key == "flags:") return int(std::strtol(value.c_str(), nullptr, 8));
    }
    return -1;
}

inline std::vector<std::string> DirEntries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

using kt::FileSizeLimit;

// Report lines with the drive's name and the measured numbers masked.
inline std::vector<std::string> Masked(const std::vector<std::string>& lines, const std::string& drive) {
    std::vector<std::string> out;
    for (std::string l : lines) {
        for (size_t at; !drive.empty() && (at = l.find(drive)) != std::string::npos;) l.replace(at, drive.size(), "<drive>");
        l = std::regex_replace(l, std::regex("[0-9]+\\.[0-9]+"), "#");
        l = std::regex_replace(l, std::regex("(Cluster Size|Score):  [0-9]+"), "$1:  #");
        l = std::regex_replace(l, std::regex("% (faster|slower) than"), "% faster/slower than");
        out.push_back(l);
    }
    return out;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) return true;
    }
    return false;
}

}  // namespace kt
