#include "kestrel/engine/processor/pass_clock.h"

#include "kestrel/engine/run/settings.h"
#include "platform/clock.h"
#include "platform/msgbox.h"

namespace {

bool TimerFailed() {
    kp::MessageBox(kp::Owner::Progress, "Error retrieving high frequency timer counts",
                   "Kestrel Timer Exception", kp::Icon::Stop);
    return false;
}

}  // namespace

bool PassClock::Start() {
    kp::ClearUpperVectorState();
    high_ = prefs.use_high_precision != 0;
    if (!high_) {
        start_ms_ = kp::MillisecondsSinceStart();
        return true;
    }
    if (!kp::QueryCounterFrequency(&t_.freq) || !kp::QueryCounter(&t_.time1)) return TimerFailed();
    t_.ratio = double(t_.freq) * 1e-6;
    t_.mes1 = double(t_.time1);
    return true;
}

bool PassClock::Stop(double* elapsed_ms) {
    if (!high_) {
        *elapsed_ms = double(kp::MillisecondsSinceStart() - start_ms_);
        return true;
    }
    if (!kp::QueryCounter(&t_.time2)) return TimerFailed();
    t_.mes2 = double(t_.time2);
    *elapsed_ms = (t_.mes2 - t_.mes1) / (t_.ratio * 1000.0);
    return true;
}
