// The main program's side of the analyser link (shared/analyser_client.h), with its ties to the
// report, the host and the settings, and the counter library's single counters.
#pragma once

#include <cstdint>

#include "shared/analyser_client.h"

// One counter of the machine through the counter library: 0 "Memory"/"Cache Bytes",
// 1 "Memory"/"System Cache Resident Bytes", 2 "Objects"/"Processes", 3 "Memory"/"Available
// Bytes", 4 "Objects"/"Threads". 0 for another selector; -1 when the library fails.
int64_t getperfdata(const int* selector);
