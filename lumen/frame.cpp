#include "lumen/frame.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/ui_thread.h"
#include "shared/helpers.h"

namespace lumen {

namespace {

std::mutex g_stop_mutex;
std::function<void()> g_analyser_stop;
// The link's one owner at a time: the sequencer's turns and the stop. Recursive, so that a stop
// asked for on the sequencer inside its turn runs there.
std::recursive_mutex g_link_mutex;
bool g_analyser_stopped = false;  // under g_link_mutex

kp::BoxRequest Refusal() {
    kp::BoxRequest box;
    box.owner = kp::Owner::None;
    char text[160];
    std::snprintf(text, sizeof text, "Incorrect version of %s.  Use version %s with Kestrel %s.", kProgramName,
                  kVersion, kVersion);
    box.text = text;
    box.caption = "VideoKestrel Exception";
    box.icon = kp::Icon::Stop;
    return box;
}

[[noreturn]] void EndNow() {
    kp::RunDeferredUiActions();
    std::fflush(nullptr);
    std::_Exit(EXIT_FAILURE);
}

}  // namespace

std::optional<kp::BoxRequest> CheckCommandLine(const std::vector<std::string>& args, int* laptop, int* win95) {
    std::string line;
    for (const std::string& a : args) line += (line.empty() ? "" : " ") + a;
    if (line.empty()) return Refusal();
    int a = 0;
    int b = 0;
    char token[512] = {};
    if (std::sscanf(line.c_str(), "%d %d %511s", &a, &b, token) < 3) return Refusal();
    if (std::string(token) != test_key) return Refusal();
    // The exchange through files is not built: only the socket mode runs.
    if (b != 0) return Refusal();
    *laptop = a;
    *win95 = b;
    return std::nullopt;
}

void SetAnalyserStop(std::function<void()> stop) {
    std::lock_guard<std::mutex> lock(g_stop_mutex);
    g_analyser_stop = std::move(stop);
}

void StopAnalyser() {
    std::lock_guard<std::recursive_mutex> turn(g_link_mutex);
    if (g_analyser_stopped) return;
    g_analyser_stopped = true;
    std::function<void()> stop;
    {
        std::lock_guard<std::mutex> lock(g_stop_mutex);
        stop = g_analyser_stop;
    }
    if (stop) stop();
}

AnalyserTurn::AnalyserTurn() { g_link_mutex.lock(); }
AnalyserTurn::~AnalyserTurn() { g_link_mutex.unlock(); }
bool AnalyserTurn::Ended() const { return g_analyser_stopped; }

void EndAfterFatalError() {
    StopAnalyser();
    QCoreApplication* app = QCoreApplication::instance();
    if (kp::OnUiThread() || app == nullptr) EndNow();
    // The user-interface thread shows the queued boxes and ends the process; this thread waits.
    QMetaObject::invokeMethod(app, [] { EndNow(); }, Qt::QueuedConnection);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

int SetThreadToProcessor(kp::Worker* worker, int n) {
    if (WIN95_SUPPORT_ON != 0) return 1;
    if (::SetThreadToProcessor(worker, n) != 0) return 1;
    // The box has been asked for (queued when this is not the user-interface thread).
    EndAfterFatalError();
}

TextList text_list;

TextMetrics MakeTextMetrics(int average_width, int height, int external_leading, bool pitch_bit0) {
    TextMetrics m;
    m.nXChar = average_width;
    m.nYChar = height + external_leading;
    m.nCaps = (pitch_bit0 ? 3 : 2) * m.nXChar / 2;
    m.nMaxWidth = 40 * m.nXChar + 18 * m.nCaps;
    return m;
}

Rect OutputBand(int client_width, int yy, int line_height, int vpos, int num) {
    return Rect{0, yy - line_height, client_width, (1 - vpos + num) * line_height};
}

}  // namespace lumen
