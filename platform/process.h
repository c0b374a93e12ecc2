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

// A program started by another of the suite does not outlive it: from this call on, the end of
// its parent sends it SIGTERM. When the process that started it has ended already (it named
// itself at the start, see SpawnOptions::passParent, and is no longer the parent nor, past a
// go-between such as a script, further up), or the parent ends during the call, the program ends
// at once. Called first thing in main.
void EndWithParent();

// How a child is started.
struct SpawnOptions {
    // The child's working directory (empty: the caller's).
    std::string workingDirectory;
    // The child's standard input is a pipe that the caller writes with WriteInput and ends with
    // CloseInput (else it inherits the caller's).
    bool inputPipe = false;
    // The child runs in a session of its own (closing the caller's terminal does not end it)
    // and outlives the handle: the destructor neither kills nor waits for it.
    bool detached = false;
    // The child is told this process's id (in its environment), so that its EndWithParent ends
    // it at once when this process has ended before the child got that far.
    bool passParent = false;
};

class ChildProcess {
public:
    // Starts path with argv (argv[0] included); nothing when it cannot be started, with the
    // system's error number in *error when asked (0 after a start).
    static std::optional<ChildProcess> Spawn(const std::string& path, const std::vector<std::string>& argv,
                                             int* error = nullptr);
    static std::optional<ChildProcess> Spawn(const std::string& path, const std::vector<std::string>& argv,
                                             const SpawnOptions& options, int* error = nullptr);
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();  // a child still running is killed and reaped (unless started detached)

    // Writes all bytes into the child's input pipe; false with the system's error number (EPIPE:
    // the child has closed its end or ended; EBADF: there is no pipe). Never raises SIGPIPE.
    bool WriteInput(const std::string& bytes, int* error = nullptr);
    // Closes the caller's end of the input pipe: the child reads the end of its input.
    void CloseInput();

    pid_t pid() const { return pid_; }
    // A descriptor that becomes readable once the child has ended (to be watched by an event
    // loop, which then reaps it with Alive); -1 when the system gives none. The caller closes it.
    int OpenEndWatch() const;
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
    int input_ = -1;  // the write end of the child's input pipe
    bool detached_ = false;
};

}  // namespace kp
