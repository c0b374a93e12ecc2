// The disk test's uncached sequential pass beside a peer doing the same work on a file of the
// same size in the same folder, round after round.
//
// The pass (diskio4) overwrites a file already laid down, with direct transfers: each request
// writes block i and then reads block i + 1 (every block but the last is read), and one fsync
// ends the pass. The peer is fio when it is installed, replaying that very sequence of requests
// (direct, the same block size, one fsync at the end); otherwise dd overwriting an existing file
// of the same size in place (direct, conv=notrunc,fsync) and then reading it (direct). Each
// figure is the bytes moved over the time taken: the pass's own clock, dd's wall time, fio's
// job run time (without its start-up).
//
//   disk_bench [directory] [block size] [rounds]     (default: $TMPDIR or /tmp, 4096 bytes, 5)
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kestrel/engine/disk/disk_io.h"
#include "kestrel/engine/disk/disk_test.h"
#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/settings.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/ui_thread.h"
#include "bench/spread.h"

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

// Runs the program with the arguments; its wall time in seconds, or a negative value when it
// failed.
double TimeRun(const std::string& program, const std::vector<std::string>& argv) {
    int64_t t1 = 0, t2 = 0;
    kp::QueryCounter(&t1);
    auto child = kp::ChildProcess::Spawn(program, argv);
    if (!child || !child->WaitFor(-1) || child->exit_code() != 0) return -1.0;
    kp::QueryCounter(&t2);
    return double(t2 - t1) / double(kp::kCounterFrequency);
}

std::string Joined(const std::vector<std::string>& argv) {
    std::string s;
    for (const std::string& a : argv) s += (s.empty() ? "" : " ") + a;
    return s;
}

void Print(const char* what, const Spread& s) { std::printf("  %-34s %9.2f %9.2f %9.2f\n", what, s.min, s.median, s.max); }

// The peer: one or two commands per round and the bytes they move.
struct Peer {
    std::string name;
    std::vector<std::vector<std::string>> commands;  // argv[0] is the program's path
    double bytes = 0;
    std::vector<std::string> setup;                 // lays the file down once
    std::string report;                             // fio's report, which gives the job's own run time
};

// The job's run time in seconds from fio's report (its start-up, reading the request log, is
// left out); negative when the report does not give it.
double FioRuntime(const std::string& report) {
    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    const std::string key = "\"job_runtime\" : ";
    const size_t at = s.find(key);
    return at == std::string::npos ? -1.0 : std::atof(s.c_str() + at + key.size()) / 1000.0;
}

// fio replaying the pass's requests from a log: write block i, read block i + 1, then a sync.
Peer FioPeer(const std::string& fio, const std::string& file, const std::string& log, const std::string& report,
             int block, long blocks) {
    std::ofstream out(log, std::ios::trunc);
    out << "fio version 2 iolog\n" << file << " add\n" << file << " open\n";
    for (long i = 0; i < blocks; ++i) {
        out << file << " write " << i * block << " " << block << "\n";
        if (i + 1 < blocks) out << file << " read " << (i + 1) * block << " " << block << "\n";
    }
    out << file << " sync 0 0\n" << file << " close\n";
    Peer p;
    p.name = "fio";
    const std::string bs = "--bs=" + std::to_string(block);
    const std::string size = "--size=" + std::to_string(long(block) * blocks);
    p.setup = {fio, "--name=laydown", "--filename=" + file, "--rw=write", bs, size, "--direct=1",
               "--end_fsync=1", "--output=/dev/null"};
    p.commands = {{fio, "--name=kestrel-pass", "--filename=" + file, "--read_iolog=" + log, bs, "--direct=1",
                   "--ioengine=psync", "--output-format=json", "--output=" + report}};
    p.report = report;
    p.bytes = double(blocks) * block + double(blocks - 1) * block;
    return p;
}

// dd overwriting the file in place, then reading it back.
Peer DdPeer(const std::string& dd, const std::string& file, int block, long blocks) {
    const std::string bs = "bs=" + std::to_string(block);
    const std::string count = "count=" + std::to_string(blocks);
    Peer p;
    p.name = "dd";
    p.setup = {dd, "if=/dev/zero", "of=" + file, bs, count, "oflag=direct", "conv=fsync", "status=none"};
    p.commands = {{dd, "if=/dev/zero", "of=" + file, bs, count, "oflag=direct", "conv=notrunc,fsync", "status=none"},
                  {dd, "if=" + file, "of=/dev/null", bs, count, "iflag=direct", "status=none"}};
    p.bytes = 2.0 * double(blocks) * block;
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_NUMERIC, "C");
    kp::MarkUiThread();
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = argc > 1 ? argv[1] : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    const int block = argc > 2 ? std::atoi(argv[2]) : 4096;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
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

    const std::string fio = FindProgram("fio");
    const std::string dd = FindProgram("dd");
    const std::string peer_file = dir + "/kesbench-peer.tmp";
    const std::string log = dir + "/kesbench-peer.iolog";
    const std::string fio_report = dir + "/kesbench-peer.json";
    if (fio.empty() && dd.empty()) {
        std::fprintf(stderr, "neither fio nor dd is installed\n");
        return 1;
    }
    Peer peer = !fio.empty() ? FioPeer(fio, peer_file, log, fio_report, block, blocks) : DdPeer(dd, peer_file, block, blocks);
    std::printf("kestrel uncached sequential pass (write block i, read block i + 1, direct, one fsync) overwriting "
                "its laid-down file, beside %s doing the same work on a file of the same size; %d rounds, "
                "MB/s min / median / max\n",
                peer.name == "fio" ? "fio replaying the same requests"
                                   : "dd overwriting in place (notrunc, fsync) then reading, direct,",
                rounds);
    std::printf("directory %s, block size %d bytes, %ld blocks (%.1f MiB)\n", dir.c_str(), block, blocks,
                double(blocks) * block / kMiB);
    for (const auto& c : peer.commands) std::printf("  peer: %s\n", Joined(c).c_str());

    if (diskionocache(1) != 0) {
        for (const std::string& line : report.szGreeting) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "the uncached test file could not be created in %s\n", dir.c_str());
        return 1;
    }
    const bool laid = diskio4() >= 0 && disk.filerror == 0;  // on a new file every read finds its end
    const bool peer_laid = TimeRun(peer.setup[0], {peer.setup.begin(), peer.setup.end()}) >= 0;
    if (!laid || !peer_laid) {
        endtest();
        unlink(peer_file.c_str());
        unlink(log.c_str());
        unlink(fio_report.c_str());
        std::fprintf(stderr, "%s\n", !laid ? "the uncached sequential pass failed" : "the peer could not lay its file down");
        return 1;
    }

    // Request i writes block i and reads block i + 1: every block but the last is read.
    const double pass_bytes = double(blocks) * block + double(blocks - 1) * block;
    std::vector<double> ours, theirs, ratio;
    bool failed = false;
    for (int r = 0; r < rounds && !failed; ++r) {
        const double ms = diskio4();
        double seconds = 0;
        for (const auto& c : peer.commands) {
            double t = TimeRun(c[0], {c.begin(), c.end()});
            if (t >= 0 && !peer.report.empty()) t = FioRuntime(peer.report);
            failed = failed || t <= 0;
            seconds += t;
        }
        failed = failed || ms < 0 || disk.filerror != 0;
        if (failed) break;
        ours.push_back(pass_bytes / kMiB / (std::max(ms, 1e-3) / 1000.0));
        theirs.push_back(peer.bytes / kMiB / seconds);
        ratio.push_back(ours.back() / theirs.back());
    }
    endtest();
    unlink(peer_file.c_str());
    unlink(log.c_str());
    unlink(fio_report.c_str());
    if (failed || ours.empty()) {
        std::fprintf(stderr, "a round failed\n");
        return 1;
    }
    Print("kestrel pass", Of(ours));
    Print(("peer (" + peer.name + ")").c_str(), Of(theirs));
    Print("ratio kestrel / peer", Of(ratio));
    return 0;
}
