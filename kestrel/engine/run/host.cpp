#include "kestrel/engine/run/host.h"

#include "kestrel/engine/report/report.h"
#include "shared/helpers.h"

namespace {
EngineHost g_idle_host;
EngineHost* g_host = &g_idle_host;
}  // namespace

EngineHost& Host() { return *g_host; }

void SetEngineHost(EngineHost* host) {
    g_host = host != nullptr ? host : &g_idle_host;
    SetOutOfMemoryReporter([](const std::string& line) { passtring(line); });
}
