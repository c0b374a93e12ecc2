#include "platform/ui_thread.h"

#include <deque>
#include <mutex>
#include <thread>

namespace kp {
namespace {

std::mutex& Mutex() {
    static std::mutex m;
    return m;
}
std::thread::id& UiThread() {
    static std::thread::id id = std::this_thread::get_id();
    return id;
}
std::deque<std::function<void()>>& Queue() {
    static std::deque<std::function<void()>> q;
    return q;
}

// Taken while the program's static data is set up: on the thread that starts the program.
const bool g_marked_at_start = (UiThread(), true);

}  // namespace

void MarkUiThread() {
    std::lock_guard<std::mutex> lock(Mutex());
    UiThread() = std::this_thread::get_id();
}

bool OnUiThread() {
    std::lock_guard<std::mutex> lock(Mutex());
    return UiThread() == std::this_thread::get_id();
}

void DeferToUiThread(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(Mutex());
    Queue().push_back(std::move(action));
}

void RunDeferredUiActions() {
    if (!OnUiThread()) return;
    for (;;) {
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> lock(Mutex());
            if (Queue().empty()) return;
            action = std::move(Queue().front());
            Queue().pop_front();
        }
        action();
    }
}

size_t DeferredUiActionCount() {
    std::lock_guard<std::mutex> lock(Mutex());
    return Queue().size();
}

}  // namespace kp
