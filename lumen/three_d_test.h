// The 3-D render test: scenes drawn with OpenGL 1.1 and GLU in two timed parts. Part A, in the
// main window, is the result: four frames of two wave surfaces drawn at once by two threads with
// contexts of their own, six frames of a city of boxes, and the objects-per-second scenes (solids
// of triangle fans, then square-based pyramids, each timed by itself). Part B, in the top-level
// "GL2" window, goes to elapsed10_animation: 180 frames of three rotating solids, then three
// fields of pyramids. Every scene makes its rendering context on entry and deletes it on exit,
// inside the measured time.
#pragma once

#include <atomic>
#include <functional>

namespace lumen {

// The test entry: part A's time in milliseconds; -1.0 after a clock failure, when a context
// cannot be had (its box shown) or when the wave threads of a frame have not ended within
// wave_wait_ms (the time holds the wait, so it is no measurement): the record's 3-D figures are
// then left as they were; 0.0 when the "GL2" window cannot be made.
double Three_D_Draw();

// Per run: objects drawn in the triangle-fan and pyramid scenes, and their milliseconds.
extern long numtriags[3];
extern long numquads[3];
extern double tps1[3];
extern double tps2[3];
// The part-B milliseconds of each run.
extern double animation_ms[3];

// The wave threads' stop flag: set when they have not ended within the wait (each checks it per
// row of its surface).
extern std::atomic<int> wave_stop;
// The wait for the wave threads, in milliseconds.
extern int wave_wait_ms;
// For tests: called by each wave thread (0 or 1) once it has made its context; null for none.
extern std::function<void(int thread)> wave_thread_hook;

class GlDrawable;
// The objects-per-second scenes of part A on their own (the fan solids into tps1[run] and
// numtriags[run], then the pyramids into tps2[run] and numquads[run]): 0, -1 after a clock
// failure, -2 when no context could be had.
int DoInitTPS2(GlDrawable* d, int run);

}  // namespace lumen
