#include "platform/processors.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kp {
namespace {

int ReadNice() {
    errno = 0;
    int v = getpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)));
    return errno == 0 ? v : 0;
}

// The nice value of the program when it started (taken before main).
const int g_start_nice = ReadNice();

std::vector<int> ReadAllowed() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        for (int c = 0; c < CPU_SETSIZE && int(cpus.size()) < kMaxProcessors; ++c) {
            if (CPU_ISSET(c, &set)) cpus.push_back(c);
        }
    }
    if (cpus.empty()) cpus.push_back(0);
    return cpus;
}

}  // namespace

const std::vector<int>& AllowedCpus() {
    static const std::vector<int> cpus = ReadAllowed();
    return cpus;
}

int GetNumProcessors() { return int(AllowedCpus().size()); }

int CpuOfProcessor(int n) {
    const auto& cpus = AllowedCpus();
    if (n < 1 || n > int(cpus.size())) return -1;
    return cpus[size_t(n - 1)];
}

bool BindThreadToProcessor(pthread_t thread, int n) {
    int cpu = CpuOfProcessor(n);
    if (cpu < 0) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(thread, sizeof(set), &set) == 0;
}

int NiceOffsetOfPriority(int priority) {
    if (priority <= -15) return 19;
    if (priority >= 15) return -20;
    switch (std::clamp(priority, -2, 2)) {
        case -2: return 10;
        case -1: return 5;
        case 1: return -5;
        case 2: return -10;
        default: return 0;
    }
}

bool SetCurrentThreadPriority(int priority) {
    int target = std::clamp(g_start_nice + NiceOffsetOfPriority(priority), -20, 19);
    pid_t tid = pid_t(syscall(SYS_gettid));
    if (setpriority(PRIO_PROCESS, tid, target) == 0) return true;
    // Raising needs a privilege most users lack: stay where the thread is.
    return errno == EPERM || errno == EACCES;
}

int CurrentThreadNice() { return ReadNice(); }

}  // namespace kp
