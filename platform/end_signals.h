// The signals that ask a program to end (the system's shutdown, Ctrl+C, a closed terminal).
//
// A handler may do almost nothing safely, so the one installed here only writes a byte into a
// pipe. The program watches the pipe's read end (a QSocketNotifier) and ends in an orderly way
// on its user-interface thread the next time that thread handles events.
#pragma once

#include <signal.h>

#include <initializer_list>

namespace kp {

// Catches the signals (SIGTERM, SIGINT and SIGHUP unless others are named) from now on and
// returns the read end of their pipe (non-blocking, closed at exec; -1 when no pipe could be
// made, the signals then keep their default action). A signal that is ignored (as the program
// was started with it ignored, under nohup) stays ignored. The pipe is made once per process;
// later calls add their signals to it.
int CatchEndSignals(std::initializer_list<int> which = {SIGTERM, SIGINT, SIGHUP});
// Empties the pipe; true when a signal came since the last call.
bool TakeEndSignals();

}  // namespace kp
