// Worker threads of the processor tests.
//
// A team creates its workers parked behind a start gate (they exist, have set their own priority
// and wait), lets them be bound to processors, releases them in index order and joins them all.
// Workers are created by one spawner thread that runs at the program's start priority, so no
// worker inherits the lowered priority of the user-interface thread. No thread is ever killed or
// suspended: cancelling releases parked workers without running their work, then joins them.
#pragma once

#include <pthread.h>

#include <functional>
#include <memory>
#include <vector>

namespace kp {

class Worker;

// Thrown on a worker to end it at once (a fatal error, whose box and end of the program the
// user-interface thread takes over after the join). The worker's own work is cut short.
struct WorkerAbort {};

// Starts the spawner thread; call it at program start, before the user-interface thread lowers
// its priority (later calls do nothing; the first team starts it otherwise).
void StartThreadSpawner();

class WorkerTeam {
public:
    // A team of n workers. When slots is given (a table of at least n entries), slot i holds
    // worker i from its creation until it has been joined, and is null otherwise.
    explicit WorkerTeam(int n, Worker** slots = nullptr);
    ~WorkerTeam();  // cancels what is still parked and joins everything
    WorkerTeam(const WorkerTeam&) = delete;
    WorkerTeam& operator=(const WorkerTeam&) = delete;

    int size() const { return int(workers_.size()); }
    // Creates worker i; it sets its own priority level and parks. False when the thread could
    // not be created or worker i exists already.
    bool Create(int i, std::function<void()> work, int priority);
    Worker* worker(int i) const { return workers_[size_t(i)].get(); }
    // Lets worker i run its work.
    void Release(int i);
    // Releases every parked worker in index order.
    void ReleaseAll();
    // Waits for every created worker to end, and clears their slots. A worker never released
    // is let go without running its work.
    void Join();
    // Parked workers end without running their work; then Join.
    void Cancel();

private:
    std::vector<std::unique_ptr<Worker>> workers_;
    Worker** slots_;
};

// True on a thread a team created, while it runs its work.
bool OnWorkerThread();

// Binds a created worker to processor n (1-based, of the allowed set).
bool BindWorker(Worker* worker, int n);
pthread_t NativeHandle(Worker* worker);
// Cancels one worker if it is still parked and waits for it to end.
void StopWorker(Worker* worker);

// For tests: the next n thread creations fail.
void FailNextThreadCreations(int n);

}  // namespace kp
