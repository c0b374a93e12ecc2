#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace kp {

std::string ProgramDirectory() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, size_t(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::optional<ChildProcess> ChildProcess::Spawn(const std::string& path,
                                                const std::vector<std::string>& argv, int* error) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    // The start's own error number (a program missing, not executable, of a foreign format).
    const int result = posix_spawn(&pid, path.c_str(), nullptr, nullptr, args.data(), environ);
    if (error != nullptr) *error = result;
    if (result != 0) return std::nullopt;
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), exit_code_(other.exit_code_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Kill();
        pid_ = other.pid_;
        exit_code_ = other.exit_code_;
        other.pid_ = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Reap(bool block) {
    if (pid_ < 0) return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    if (r == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status)
                     : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                           : -1;
    }
    pid_ = -1;  // reaped, or not ours any more
    return true;
}

bool ChildProcess::Alive() { return !Reap(false); }

bool ChildProcess::WaitFor(int ms) {
    if (ms < 0) return Reap(true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (Reap(false)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::Kill() {
    if (pid_ < 0) return;
    if (!Reap(false)) {
        kill(pid_, SIGKILL);
        Reap(true);
    }
}

}  // namespace kp
