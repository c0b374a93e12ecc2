#include "platform/testswitch.h"

#include <cstdlib>
#include <string>

namespace kp {

namespace {
std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}
}  // namespace

std::string TestMessageBoxLog() { return Env("KESTREL_TEST_MSGBOX_LOG"); }

double TestSleepScale() {
    std::string v = Env("KESTREL_TEST_SLEEP_SCALE");
    if (v.empty()) return 1.0;
    char* end = nullptr;
    double f = std::strtod(v.c_str(), &end);
    if (end == v.c_str() || f < 0.0) return 1.0;
    return f;
}

bool TestStartupOutOfMemory() { return !Env("KESTREL_TEST_STARTUP_OUT_OF_MEMORY").empty(); }

int TestSocketWaitMs() {
    const std::string v = Env("KESTREL_TEST_SOCKET_WAIT_MS");
    const long ms = v.empty() ? 0 : std::strtol(v.c_str(), nullptr, 10);
    return ms > 0 && ms < 3600000 ? int(ms) : 0;
}

bool TestNameLookupStalls() { return !Env("KESTREL_TEST_NAME_LOOKUP_STALLS").empty(); }

std::string ProcRoot() {
    std::string v = Env("KESTREL_PROC_ROOT");
    return v.empty() ? std::string("/proc") : v;
}

}  // namespace kp
