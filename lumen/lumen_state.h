// The state that the video tests share: the record, the settings copied out of it, the test
// rectangle, the main window, the drawing threads' stop flags and the seed counter. One instance
// per process; the sequencer sets the settings before a test starts and reads the results after
// it ends, the drawing threads only read the settings.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "shared/records.h"

namespace lumen {

class Window;

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// The program's name in its messages, and the version the refusal names.
inline constexpr const char* kProgramName = "VideoKestrel";
inline constexpr const char* kVersion = "1.21";
// The third word of the command line.
inline constexpr const char* test_key = "0x3D7E19C4a90457";

// The record: settings on entry, results on exit.
extern TIMES times;

// Command-line numbers: the 800 x 600 window, and the file exchange mode.
extern int laptop_mode_on;
extern int WIN95_SUPPORT_ON;

// The test rectangle: {0, 0, 1024, 768}, or crectlaptop in laptop mode.
extern Rect crect;
inline constexpr Rect crectlaptop{0, 0, 800, 600};
inline constexpr Rect crectfull{0, 0, 1024, 768};

// Copies of the record's settings: the high-resolution clock, the repeat flag (non-zero: every
// timed body runs three times), the processors the drawing threads are bound to, their
// priority (-1 until the record has been read), and the depth-buffer bits of the 3-D test.
extern int use_high_precision;
extern int count;
extern int pnumber;
extern int tpriority;
extern int zbuffer;
extern int bits_per_pixel;
extern char install_directory[512];
extern long num_effects_rendered;

// The main window (both names hold the same handle).
extern Window* hwndParent;
extern Window* ghWnd;

// Stop flags of the drawing threads: set by thread i when its stop rule holds.
extern std::atomic<int> terminate[4];
// Set by a drawing thread that found its window cannot be drawn into (no client area): every
// stop flag is set with it, and the test ends with the failure value.
extern std::atomic<int> draw_failed;
void FailDrawing();
// Seed of the next drawing call; 0 at start, advanced by every call.
extern std::atomic<uint32_t> iRandSeed;
// 1 = the display has fewer than 8 bits per pixel.
extern std::atomic<int> terminate_flag;
extern std::atomic<int> bTerminate;

// Text metrics of the main window and the state of its text list's scrolling.
extern int nXChar, nYChar, nCaps, nMaxWidth;
extern int nXClnt, nYClnt;
extern int nVPos, nVMax, nVInc;

// The processor a test's drawing threads are bound to: 1..GetNumProcessors(), whatever pnumber
// says (a record may carry 0, a negative number or more processors than this machine has).
int ProcessorCount();
// The next processor of the rotation: 1 after the last, else p + 1.
int NextProcessor(int p);

// For tests: run on the user-interface thread when a test's timed runs are over, before it
// removes its windows (a picture of them can be taken then).
extern std::function<void()> test_end_hook;
// For tests: run on the timing thread at every clock start, just before the clock is read.
extern std::function<void()> clock_start_hook;
void AtTestEnd();

// Sets crect from laptop_mode_on.
void ApplyLaptopMode();

}  // namespace lumen
