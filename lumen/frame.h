// The frame services of the video test program: the command line, the binding of drawing threads
// to processors (fatal when it fails), the analyser stop that every end of the program makes,
// and the program's text list.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lumen/lumen_state.h"
#include "platform/msgbox.h"

namespace kp { class Worker; }

namespace lumen {

// The command line after the program name: "%d %d %s" (laptop flag, file exchange flag, token).
// Sets the two flags and answers nothing when the line holds three fields, the token is the
// right one and the file exchange flag is 0 (that mode is not built); else the refusal box.
std::optional<kp::BoxRequest> CheckCommandLine(const std::vector<std::string>& args, int* laptop,
                                               int* win95);

// What stops the analyser when the program ends (installed by the run that started it).
void SetAnalyserStop(std::function<void()> stop);
// Stops the analyser once, from whichever thread ends the program: it waits until the sequencer
// has let go of the link (no turn is held), runs the stop, and no turn uses the link after it.
void StopAnalyser();

// The sequencer's turn on the analyser link: held while it talks to the analyser (never while it
// waits for the user-interface thread). A turn taken after the stop finds the link ended.
class AnalyserTurn {
public:
    AnalyserTurn();
    ~AnalyserTurn();
    AnalyserTurn(const AnalyserTurn&) = delete;
    AnalyserTurn& operator=(const AnalyserTurn&) = delete;
    // The analyser has been stopped for the program's end: leave the link alone.
    bool Ended() const;
};

// Ends the program after a fatal error: the analyser is stopped, the boxes that are still queued
// are shown by the user-interface thread, and the process ends with a failure exit code. Called
// off the user-interface thread, the caller waits there until the process has ended.
[[noreturn]] void EndAfterFatalError();

// Binds a drawing thread to processor n (1-based). In the file exchange mode nothing is done.
// When the binding fails: "Process Affinity Error!" box, analyser stop, failure end.
int SetThreadToProcessor(kp::Worker* worker, int n);

// ---- text list ----------------------------------------------------------------------------

struct TextList {
    std::mutex mutex;
    std::vector<std::string> szGreeting;
    int num = 0;
    int yy = 0;  // the y of the last line painted (the text window's painting keeps it)
};
extern TextList text_list;

// Text metrics from a font's average character width, height, external leading and pitch bit 0
// (set for a font of variable pitch): nXChar, nYChar, nCaps, nMaxWidth.
struct TextMetrics {
    int nXChar = 0, nYChar = 0, nCaps = 0, nMaxWidth = 0;
};
TextMetrics MakeTextMetrics(int average_width, int height, int external_leading, bool pitch_bit0);

// The band of the client area that a new line repaints: from yy - nYChar down to
// (1 - nVPos + num) x nYChar, num counting the new line, across the whole width.
Rect OutputBand(int client_width, int yy, int line_height, int vpos, int num);

// Appends a copy of text to the text list and repaints the list's newest line.
void output_string(Window* window, const std::string& text);

}  // namespace lumen
