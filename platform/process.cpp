#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace kp {

namespace {

// Names the process that started a program with SpawnOptions::passParent.
constexpr char kParentVariable[] = "KESTREL_PARENT";

// The parent of a process, from the system's process table; 0 when it cannot be told.
pid_t ParentOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) return 0;
    char line[1024];
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    const char* close = read ? std::strrchr(line, ')') : nullptr;
    int parent = 0;
    if (close == nullptr || std::sscanf(close + 1, " %*c %d", &parent) != 1) return 0;
    return pid_t(parent);
}

}  // namespace

std::string ProgramDirectory() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, size_t(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

void EndWithParent() {
    const pid_t seen = getppid();
    // The process that started this one, as it named itself (through a go-between such as a
    // script it may be further up than the parent).
    pid_t named = 0;
    if (const char* text = std::getenv(kParentVariable)) {
        char* end = nullptr;
        const long pid = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && pid > 0) named = pid_t(pid);
        unsetenv(kParentVariable);  // not handed on to this program's own children
    }
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The starting process ended before the request was made (or during it): too late for the
    // system to tell, the program ends at once.
    bool started_by_living = getppid() == seen;
    if (named > 0) {
        started_by_living = false;
        // Each ancestor is compared before the walk goes on from it: the named process may be
        // process 1 itself (a container's entry point), the end of every walk.
        pid_t p = getppid();
        for (int up = 0; up < 64 && p > 0; ++up, p = ParentOf(p)) {
            if (p == named) {
                started_by_living = true;
                break;
            }
            if (p == 1) break;
        }
    }
    if (!started_by_living) {
        raise(SIGTERM);
        _exit(128 + SIGTERM);
    }
}

std::optional<ChildProcess> ChildProcess::Spawn(const std::string& path,
                                                const std::vector<std::string>& argv, int* error) {
    return Spawn(path, argv, SpawnOptions{}, error);
}

std::optional<ChildProcess> ChildProcess::Spawn(const std::string& path, const std::vector<std::string>& argv,
                                                const SpawnOptions& options, int* error) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int pipeEnds[2] = {-1, -1};
    if (options.inputPipe && pipe2(pipeEnds, O_CLOEXEC) != 0) {
        if (error != nullptr) *error = errno;
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto 0 clears close-on-exec for the child's copy; both pipe ends close at exec.
    if (options.inputPipe) posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (options.detached) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    // The child's environment: the caller's, with this process's id when it is to be told.
    std::vector<std::string> variables;
    std::vector<char*> environment;
    if (options.passParent) {
        const std::string prefix = std::string(kParentVariable) + "=";
        for (char** v = environ; *v != nullptr; ++v) {
            if (std::strncmp(*v, prefix.c_str(), prefix.size()) != 0) variables.emplace_back(*v);
        }
        variables.push_back(prefix + std::to_string(getpid()));
        for (std::string& v : variables) environment.push_back(v.data());
        environment.push_back(nullptr);
    }

    pid_t pid = -1;
    // The start's own error number (a program missing, not executable, of a foreign format, a
    // working directory that cannot be entered).
    const int result = posix_spawn(&pid, path.c_str(), &actions, &attributes, args.data(),
                                   options.passParent ? environment.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (options.inputPipe) close(pipeEnds[0]);
    if (error != nullptr) *error = result;
    if (result != 0) {
        if (options.inputPipe) close(pipeEnds[1]);
        return std::nullopt;
    }
    ChildProcess child(pid);
    child.input_ = pipeEnds[1];
    child.detached_ = options.detached;
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), exit_code_(other.exit_code_), input_(other.input_), detached_(other.detached_) {
    other.pid_ = -1;
    other.input_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        CloseInput();
        if (!detached_) Kill();
        pid_ = other.pid_;
        exit_code_ = other.exit_code_;
        input_ = other.input_;
        detached_ = other.detached_;
        other.pid_ = -1;
        other.input_ = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    CloseInput();
    if (detached_) {
        Reap(false);  // an ended child is reaped; a running one goes on alone
        return;
    }
    Kill();
}

bool ChildProcess::WriteInput(const std::string& bytes, int* error) {
    if (input_ < 0) {
        if (error != nullptr) *error = EBADF;
        return false;
    }
    // SIGPIPE is held back while writing: a child that has gone shows as EPIPE.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const char* data = bytes.data();
    size_t left = bytes.size();
    int failure = 0;
    while (left > 0) {
        const ssize_t n = write(input_, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failure = errno;
            break;
        }
        data += n;
        left -= size_t(n);
    }
    if (failure == EPIPE && !sigismember(&previous, SIGPIPE)) {
        const struct timespec none = {0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &none) > 0) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (error != nullptr) *error = failure;
    return failure == 0;
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

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

int ChildProcess::OpenEndWatch() const {
    if (pid_ < 0) return -1;
#ifdef SYS_pidfd_open
    // A process descriptor: readable when the process ends; it waits for nothing and reaps
    // nothing, so no other wait for a child is disturbed. Closed at exec.
    const long fd = syscall(SYS_pidfd_open, pid_, 0);
    return fd >= 0 ? int(fd) : -1;
#else
    return -1;
#endif
}

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
