// The user-interface thread: the one thread that shows boxes and owns the report. It is the
// thread that started the program (the one that ran its static initialisation); a program may
// name another with MarkUiThread.
//
// Other threads (kernel workers) never act on the windows: what they want shown is queued here
// in order and run by the user-interface thread when it calls RunDeferredUiActions (the worker
// iteration does so after every join).
#pragma once

#include <cstddef>
#include <functional>

namespace kp {

void MarkUiThread();
bool OnUiThread();

// Queues an action for the user-interface thread.
void DeferToUiThread(std::function<void()> action);
// Runs the queued actions in their order (only on the user-interface thread).
void RunDeferredUiActions();
size_t DeferredUiActionCount();

}  // namespace kp
