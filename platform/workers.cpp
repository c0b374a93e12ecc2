#include "platform/workers.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/pages.h"
#include "platform/processors.h"

namespace kp {

namespace {
thread_local bool t_worker = false;

// Workers' stacks: ours, mapped once (with a guard page below) and used again by the next team,
// so no stack is mapped, unmapped or handed back to the system while a team's time runs (the
// C library does all three with its own stacks when a thread ends). The kernels keep their data in
// page blocks and need little stack.
constexpr size_t kWorkerStackBytes = size_t(1) << 20;

class StackPool {
public:
    // The lowest byte of a stack of kWorkerStackBytes above its guard page; nullptr when none
    // can be had.
    void* Take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                void* stack = free_.back();
                free_.pop_back();
                return stack;
            }
        }
        const size_t guard = size_t(sysconf(_SC_PAGESIZE));
        void* m = mmap(nullptr, guard + kWorkerStackBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (m == MAP_FAILED) return nullptr;
        mprotect(m, guard, PROT_NONE);
        return static_cast<char*>(m) + guard;
    }
    // A stack whose thread has been joined.
    void Give(void* stack) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(stack);
    }

private:
    std::mutex mutex_;
    std::vector<void*> free_;
};

StackPool& Stacks() {
    static StackPool* pool = new StackPool;  // lives as long as the process
    return *pool;
}
}  // namespace

class Worker {
public:
    pthread_t thread{};
    bool started = false;
    void* stack = nullptr;
    std::mutex mutex;
    std::condition_variable cv;
    bool parked = false;
    bool go = false;
    bool cancelled = false;
    std::function<void()> work;
    int priority = 0;
    std::mutex join_mutex;
    bool joined = false;

    void Run() {
        t_worker = true;
        SetCurrentThreadPriority(priority);
        std::unique_lock<std::mutex> lock(mutex);
        parked = true;
        cv.notify_all();
        cv.wait(lock, [this] { return go || cancelled; });
        bool run = go && !cancelled;
        lock.unlock();
        if (!run) return;
        try {
            ClearUpperVectorState();  // the worker's work is timed from here
            work();
        } catch (const WorkerAbort&) {
        }
    }

    void WaitParked() {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [this] { return parked; });
    }

    void Start(bool cancel) {
        std::lock_guard<std::mutex> lock(mutex);
        if (go || cancelled) return;
        if (cancel) cancelled = true; else go = true;
        cv.notify_all();
    }

    void JoinOnce() {
        std::lock_guard<std::mutex> lock(join_mutex);
        if (joined) return;
        if (started) pthread_join(thread, nullptr);
        started = false;
        if (stack != nullptr) Stacks().Give(stack);
        stack = nullptr;
        joined = true;
    }
};

namespace {

std::atomic<int> g_fail_next{0};

bool TakeInjectedFailure() {
    int pending = g_fail_next.load();
    while (pending > 0) {
        if (g_fail_next.compare_exchange_weak(pending, pending - 1)) return true;
    }
    return false;
}

// The one thread that creates workers. It never changes its priority.
class Spawner {
public:
    Spawner() : thread_([this] { Loop(); }) {
        SetHeapRules();
    }
    ~Spawner() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

    bool Spawn(Worker* w) {
        std::packaged_task<bool()> task([w] {
            if (TakeInjectedFailure()) return false;
            void* stack = Stacks().Take();
            if (stack == nullptr) return false;
            pthread_attr_t attr;
            if (pthread_attr_init(&attr) != 0 || pthread_attr_setstack(&attr, stack, kWorkerStackBytes) != 0) {
                Stacks().Give(stack);
                return false;
            }
            const int rc = pthread_create(
                &w->thread, &attr,
                [](void* arg) -> void* {
                    static_cast<Worker*>(arg)->Run();
                    return nullptr;
                },
                w);
            pthread_attr_destroy(&attr);
            w->started = rc == 0;
            if (w->started) {
                w->stack = stack;
            } else {
                Stacks().Give(stack);
            }
            return w->started;
        });
        std::future<bool> done = task.get_future();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(task));
        }
        cv_.notify_all();
        return done.get();
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) return;
            auto task = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::packaged_task<bool()>> queue_;
    bool stop_ = false;
    std::thread thread_;
};

Spawner& TheSpawner() {
    static Spawner spawner;
    return spawner;
}

}  // namespace

void StartThreadSpawner() { TheSpawner(); }

// The spawner starts with the program, before any thread can lower its own priority.
const bool g_spawner_at_start = (StartThreadSpawner(), true);

WorkerTeam::WorkerTeam(int n, Worker** slots) : slots_(slots) {
    workers_.resize(size_t(n > 0 ? n : 0));
}

WorkerTeam::~WorkerTeam() { Cancel(); }

bool WorkerTeam::Create(int i, std::function<void()> work, int priority) {
    if (i < 0 || i >= size() || workers_[size_t(i)]) return false;
    auto w = std::make_unique<Worker>();
    w->work = std::move(work);
    w->priority = priority;
    if (!TheSpawner().Spawn(w.get())) return false;
    w->WaitParked();
    if (slots_ != nullptr) slots_[i] = w.get();
    workers_[size_t(i)] = std::move(w);
    return true;
}

void WorkerTeam::Release(int i) {
    if (Worker* w = workers_[size_t(i)].get()) w->Start(false);
}

void WorkerTeam::ReleaseAll() {
    for (int i = 0; i < size(); ++i) Release(i);
}

void WorkerTeam::Join() {
    for (size_t i = 0; i < workers_.size(); ++i) {
        if (Worker* w = workers_[i].get()) {
            w->Start(true);  // only a worker still parked is affected
            w->JoinOnce();
            if (slots_ != nullptr) slots_[i] = nullptr;
        }
    }
}

void WorkerTeam::Cancel() {
    for (auto& w : workers_) {
        if (w) w->Start(true);
    }
    Join();
}

bool OnWorkerThread() { return t_worker; }

bool BindWorker(Worker* worker, int n) {
    return worker != nullptr && worker->started && BindThreadToProcessor(worker->thread, n);
}

pthread_t NativeHandle(Worker* worker) { return worker->thread; }

void StopWorker(Worker* worker) {
    if (worker == nullptr) return;
    worker->Start(true);
    worker->JoinOnce();
}

void FailNextThreadCreations(int n) { g_fail_next.store(n < 0 ? 0 : n); }

}  // namespace kp
