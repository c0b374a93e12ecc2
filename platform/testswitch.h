// Switches that only tests set. They are read here and nowhere else.
#pragma once

#include <string>

namespace kp {

// KESTREL_TEST_MSGBOX_LOG: the file every message box is appended to (empty: not set).
std::string TestMessageBoxLog();
// KESTREL_TEST_SLEEP_SCALE: the factor every fixed pause is scaled by (1.0 when not set).
double TestSleepScale();
// KESTREL_TEST_STARTUP_OUT_OF_MEMORY: set (not empty): the start-up of kestrel runs out of memory
// before its main window is made.
bool TestStartupOutOfMemory();
// KESTREL_TEST_SOCKET_WAIT_MS: the limit of every wait of the socket library in milliseconds
// (connect, read, send); 0 when not set (the library's own limits hold).
int TestSocketWaitMs();
// KESTREL_TEST_NAME_LOOKUP_STALLS: set (not empty): the socket library's name lookups never answer.
bool TestNameLookupStalls();
// KESTREL_PROC_ROOT: where the counter readers find /proc ("/proc" when not set).
std::string ProcRoot();

}  // namespace kp
