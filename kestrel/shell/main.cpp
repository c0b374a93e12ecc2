// kestrel: the main program. One copy per user; its main window holds the button bar, the
// report and the status line, and runs the tests the user chooses.
#include <QApplication>
#include <QPointer>
#include <clocale>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kestrel/engine/report/benchmark_reader.h"
#include "shared/ui/scroller.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/pictures.h"
#include "kestrel/shell/qt_host.h"
#include "kestrel/shell/shell_rules.h"
#include "kestrel/shell/single_instance.h"
#include "platform/msgbox.h"
#include "platform/processors.h"
#include "platform/testswitch.h"
#include "platform/ui_thread.h"
#include "platform/workers.h"
#include "shared/ui/program_start.h"

namespace {

// Out of memory before the message loop runs: the program ends with this box and exit code 1.
int HeapAllocationError() {
    kp::MessageBox(kp::Owner::None, "Heap Allocation Error!", "Fatal Memory Exception", kp::Icon::Exclamation);
    return 1;
}

int Run(int argc, char** argv) {
    // Workers are created by a thread that keeps the program's start priority.
    kp::StartThreadSpawner();
    // The whole command line is the name of a benchmark file, never an option.
    const std::string file_name = CommandLineFileName(std::vector<std::string>(argv + 1, argv + argc));
    // Another copy is running: it comes to the front, opens the file named here, and this one
    // ends.
    if (HandToRunningCopy(file_name)) return 0;

    ChooseX11WhenDisplayed();
    RequireDisplay();
    int qt_argc = 1;
    QApplication app(qt_argc, argv);
    setlocale(LC_NUMERIC, "C");
    kp::MarkUiThread();
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(ProgramIcon());  // the help window carries it too

    QPointer<MainWindow> window;
    InstallMainWindowBoxes([&window] { return window.data(); });
    std::unique_ptr<MainWindow> main_window;
    std::unique_ptr<InstanceServer> instances;
    try {
        if (kp::TestStartupOutOfMemory()) throw std::bad_alloc();
        InstallBenchmarkReader();
        // The user-interface thread runs below normal priority.
        kp::SetCurrentThreadPriority(-1);

        main_window = std::make_unique<MainWindow>();
        window = main_window.get();
        MainWindow* w = main_window.get();
        instances = std::make_unique<InstanceServer>([w] { w->RaiseFromOtherStart(); },
                                                     [w](const std::string& path) { w->OpenFromOtherStart(path); });
        instances->Listen();
        // The end of the session asks Exit's question where the desktop lets the program ask
        // (kept, the program cancels the log-out) and ends the program at the desktop's quit;
        // TERM, INT and HUP stop a run and end the program without questions.
        w->WatchEndRequests();
        main_window->Init(file_name);
    } catch (const std::bad_alloc&) {
        instances.reset();
        main_window.reset();
        return HeapAllocationError();
    }
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Before the windows could be shown, or after they were gone: the box without them.
        kp::SetMessageBoxBackend(nullptr);
        return HeapAllocationError();
    }
}
