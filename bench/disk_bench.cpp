// The disk test's uncached sequential pass at the largest file size beside dd moving the same
// bytes with the same block size and direct transfers, on the same file system.
//
//   disk_bench [directory] [block size]     (default: $TMPDIR or /tmp, 4096 bytes)
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "kestrel/engine/disk_io.h"
#include "kestrel/engine/disk_test.h"
#include "kestrel/engine/report.h"
#include "kestrel/engine/settings.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/ui_thread.h"

namespace {

constexpr double kMiB = 1048576.0;

std::string FindProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Runs dd with the arguments; its wall time in seconds, or a negative value when it failed.
double TimeDd(const std::string& dd, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"dd"};
    argv.insert(argv.end(), args.begin(), args.end());
    int64_t t1 = 0, t2 = 0;
    kp::QueryCounter(&t1);
    auto child = kp::ChildProcess::Spawn(dd, argv);
    if (!child || !child->WaitFor(-1) || child->exit_code() != 0) return -1.0;
    kp::QueryCounter(&t2);
    return double(t2 - t1) / double(kp::kCounterFrequency);
}

std::string Command(const std::vector<std::string>& args) {
    std::string s = "dd";
    for (const std::string& a : args) s += " " + a;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_NUMERIC, "C");
    kp::MarkUiThread();
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = argc > 1 ? argv[1] : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    const int block = argc > 2 ? std::atoi(argv[2]) : 4096;
    int bsn = -1;
    for (int n = 0; n < 6; ++n) {
        if (blocksize_table[n] == block) bsn = n;
    }
    if (bsn < 0) {
        std::fprintf(stderr, "block size must be one of 512, 1024, 2048, 4096, 8192, 16384\n");
        return 2;
    }

    // The largest file size, as the disk test sizes it for this block size.
    prefs.defdirnumber = 0;
    prefs.use_high_precision = 1;
    disk.thedrive = dir + "/";
    disk.blocksize = block;
    disk.filesize = int(float(filesize_increment_table[6] * 280) * block_factors[bsn]);
    std::memset(disk.buf, fillchar, sizeof disk.buf);
    const long blocks = disk.filesize;

    if (diskionocache(1) != 0) {
        for (const std::string& line : report.szGreeting) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "the uncached test file could not be created in %s\n", dir.c_str());
        return 1;
    }
    diskio4();  // lays the file down (on a new file every read finds its end)
    const double ms = diskio4();
    endtest();
    if (ms < 0 || disk.filerror != 0) {
        std::fprintf(stderr, "the uncached sequential pass failed\n");
        return 1;
    }
    // Request i writes block i and reads block i + 1: every block but the last is read.
    const double pass_bytes = double(blocks) * block + double(blocks - 1) * block;
    const double pass_rate = pass_bytes / kMiB / (std::max(ms, 1e-3) / 1000.0);
    std::printf("directory %s, block size %d bytes, %ld blocks (%.1f MiB)\n", dir.c_str(), block, blocks,
                double(blocks) * block / kMiB);
    std::printf("%10.2f MB/s  kestrel uncached sequential pass, write + read (%.0f bytes in %.1f ms)\n", pass_rate,
                pass_bytes, ms);

    const std::string dd = FindProgram("dd");
    const std::string file = dir + "/kesbench-dd.tmp";
    const std::string bs = "bs=" + std::to_string(block);
    const std::string count = "count=" + std::to_string(blocks);
    const std::vector<std::string> write_args = {"if=/dev/zero", "of=" + file, bs, count, "oflag=direct",
                                                 "conv=fsync", "status=none"};
    const std::vector<std::string> read_args = {"if=" + file, "of=/dev/null", bs, count, "iflag=direct", "status=none"};
    const double tw = dd.empty() ? -1.0 : TimeDd(dd, write_args);
    const double tr = tw < 0 ? -1.0 : TimeDd(dd, read_args);
    unlink(file.c_str());
    if (tw < 0 || tr < 0) {
        std::printf("dd with direct transfers %s: skipped\n", dd.empty() ? "not found" : "failed here");
        return 0;
    }
    const double bytes = double(blocks) * block;
    const double write_rate = bytes / kMiB / tw;
    const double read_rate = bytes / kMiB / tr;
    const double dd_rate = 2.0 * bytes / kMiB / (tw + tr);
    std::printf("%10.2f MB/s  %s\n", write_rate, Command(write_args).c_str());
    std::printf("%10.2f MB/s  %s\n", read_rate, Command(read_args).c_str());
    std::printf("%10.2f MB/s  dd write + read (%.0f bytes in %.1f ms)\n", dd_rate, 2.0 * bytes, (tw + tr) * 1000.0);
    std::printf("ratio kestrel / dd: %.2f\n", pass_rate / dd_rate);
    return 0;
}
