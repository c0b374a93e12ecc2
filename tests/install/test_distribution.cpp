#include "tests/install/test_distribution.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "install/expand_file.h"
#include "install/file_table.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;

void CopyExpander(const std::string& directory) {
    fs::copy_file(KESTREL_EXPAND_PROGRAM, directory + "/expand", fs::copy_options::overwrite_existing);
}

TestDistribution MakeTestDistribution(const std::string& directory, int first, int last, bool withExpander) {
    TestDistribution d;
    d.directory = directory;
    fs::create_directories(directory);
    const std::string originals = kt::FreshDir("originals");
    for (const DistributionFile& f : DistributionFiles()) {
        if (f.row < first || f.row > last) continue;
        const std::string target = f.target;
        const bool program = target.find('.') == std::string::npos || target.ends_with(".so");  // by name
        std::string bytes;
        for (int i = 0; i < 50 + f.row * 40; ++i) bytes += "row " + std::to_string(f.row) + " " + target + "\n";
        const std::string original = kt::WriteFile(originals + "/" + target, bytes);
        chmod(original.c_str(), program ? 0755 : 0644);
        const struct timespec t[2] = {{1700000000 + f.row * 1000, 0}, {1700000000 + f.row * 1000, 0}};
        utimensat(AT_FDCWD, original.c_str(), t, 0);
        const std::string packed = directory + "/" + f.source;
        EXPECT_EQ(CompressFile(original, packed), kExpandOk);
        // As a medium mounted with one mode for every file shows it: the installed modes must
        // come from the file table.
        chmod(packed.c_str(), 0600);
        d.originals[target] = bytes;
        d.modes[target] = program ? 0755 : 0644;
    }
    if (withExpander) CopyExpander(directory);
    return d;
}

std::string StandInScript(const std::string& recordDir, const std::string& name, bool readsInput) {
    const std::string record = recordDir + "/" + name;
    return "#!/bin/sh\n"
           "{ echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; pwd\n" +
           std::string(readsInput ? "  printf 'stdin:'; cat\n" : "") + "} > '" + record + ".part'\n" +
           "mv '" + record + ".part' '" + record + "'\n";
}

void WriteStandIn(const std::string& path, const std::string& recordDir, const std::string& name, bool readsInput) {
    kt::WriteFile(path, StandInScript(recordDir, name, readsInput));
    chmod(path.c_str(), 0755);
}

std::string WaitForRecord(const std::string& path) {
    for (int i = 0; i < 6000 && !fs::exists(path); ++i) usleep(10000);
    return fs::exists(path) ? kt::ReadFile(path) : "";
}
