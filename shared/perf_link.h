// What the main program, the video test program and the analyser agree on for their link.
#pragma once

// The local socket the analyser connects to (in kp::SocketDirectory()).
inline constexpr const char* kPerfSocketName = "kesPerfPipe";
// The analyser program and the word that proves it was started by the suite.
inline constexpr const char* kLoadmeterProgram = "loadmeter";
inline constexpr const char* kLoadmeterToken = "0x71804c55d90e4417hq30562";
// The third word of the analyser's command line when no results file is used.
inline constexpr const char* kNoResultsFile = "(null)";
inline constexpr const char* kSuiteVersion = "1.21";
// The counter libraries, looked for in the program's own folder.
inline constexpr const char* kCounterLibrary = "libkestest.so";
inline constexpr const char* kAnalyserCounterLibrary = "libkeschk.so";
// The report line written when the analyser stalled and is started again.
inline constexpr const char* kLoadmeterThrottled = "Loadmeter throttled!  Restarting ...";
// The report line written once, where the first test's counter lines are left out because the
// link with the analyser broke during the run.
inline constexpr const char* kCountersNotMeasured =
    "Performance data not measured from this test on: the connection with Loadmeter was broken.";
