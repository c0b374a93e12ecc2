#include "lumen/lumen_state.h"

#include <algorithm>

#include "platform/processors.h"

namespace lumen {

TIMES times{};
int laptop_mode_on = 0;
int WIN95_SUPPORT_ON = 0;
Rect crect = crectfull;
int use_high_precision = 1;
int count = 0;
int pnumber = 1;
int tpriority = -1;
int zbuffer = 32;
int bits_per_pixel = 0;
char install_directory[512] = {};
long num_effects_rendered = 0;
Window* hwndParent = nullptr;
Window* ghWnd = nullptr;
std::atomic<int> terminate[4] = {};
std::atomic<int> draw_failed{0};
std::atomic<uint32_t> iRandSeed{0};
std::atomic<int> terminate_flag{0};
std::atomic<int> bTerminate{0};
int nXChar = 0, nYChar = 0, nCaps = 0, nMaxWidth = 0;
int nXClnt = 0, nYClnt = 0;
int nVPos = 0, nVMax = 0, nVInc = 0;

int ProcessorCount() { return std::clamp(pnumber, 1, kp::GetNumProcessors()); }

int NextProcessor(int p) { return p >= ProcessorCount() ? 1 : p + 1; }

void FailDrawing() {
    draw_failed = 1;
    for (auto& t : terminate) t = 1;
}

std::function<void()> test_end_hook;
std::function<void()> clock_start_hook;

void ApplyLaptopMode() { crect = laptop_mode_on != 0 ? crectlaptop : crectfull; }

}  // namespace lumen
