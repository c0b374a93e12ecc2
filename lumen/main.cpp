// lumen: the video test program. Started by the main program with its three-word command line
// (laptop flag, file exchange flag, version token); refuses any other (and the file exchange
// mode) with exit code 1. Accepted, it opens its main window, reads the record from the main
// program, runs the nine tests and hands the record back.
#include <QApplication>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "lumen/frame.h"
#include "lumen/lumen_state.h"
#include "lumen/score_table.h"
#include "lumen/windows.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/processors.h"
#include "platform/ui_thread.h"
#include "shared/ui/program_start.h"
#include "shared/ui/qt_message_box.h"

int main(int argc, char** argv) {
    // The video test program does not outlive the main program (nor does the analyser it starts).
    kp::EndWithParent();
    ChooseX11WhenDisplayed();
    RequireDisplay();
    QApplication app(argc, argv);
    setlocale(LC_NUMERIC, "C");
    kp::MarkUiThread();
    InstallQtMessageBoxes(nullptr);

    const std::vector<std::string> args(argv + 1, argv + argc);
    if (auto refusal = lumen::CheckCommandLine(args, &lumen::laptop_mode_on, &lumen::WIN95_SUPPORT_ON)) {
        kp::MessageBox(*refusal);
        return 1;
    }
    // The user-interface thread runs at normal priority; the main window opens.
    kp::SetCurrentThreadPriority(0);
    lumen::ApplyLaptopMode();
    lumen::CreateMainWindow();
    // The record is read before the tests start; without it the program ends.
    if (!lumen::PipeThread()) {
        kp::RunDeferredUiActions();
        return 1;
    }
    // Without a sequencer there is no run: the box has been shown, the program ends.
    if (!lumen::StartSequencer()) return 1;
    const int code = app.exec();
    // Boxes still queued by other threads are shown before the program ends.
    kp::RunDeferredUiActions();
    return code;
}
