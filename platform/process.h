// Child processes: started with an argument vector, watched, waited for with a limit, killed,
// and always reaped.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kp {

// The folder that holds the running program (from /proc/self/exe).
std::string ProgramDirectory();

class ChildProcess {
public:
    // Starts path with argv (argv[0] included); nothing when it cannot be started, with the
    // system's error number in *error when asked (0 after a start).
    static std::optional<ChildProcess> Spawn(const std::string& path, const std::vector<std::string>& argv,
                                             int* error = nullptr);
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();  // a child still running is killed and reaped

    pid_t pid() const { return pid_; }
    // True while the child runs (an ended child is reaped here).
    bool Alive();
    // Waits up to ms milliseconds (ms < 0: without limit); true when the child has ended.
    bool WaitFor(int ms);
    // Ends the child at once and reaps it.
    void Kill();
    // Exit code of an ended child (128 + signal for a child ended by a signal); -1 while running.
    int exit_code() const { return exit_code_; }

private:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    bool Reap(bool block);
    pid_t pid_ = -1;
    int exit_code_ = -1;
};

}  // namespace kp
