// kestrel: the main program. One copy per user; its main window holds the button bar, the
// report and the status line, and runs the tests the user chooses.
#include <QApplication>
#include <QPointer>
#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "kestrel/engine/benchmark_reader.h"
#include "kestrel/engine/commands.h"
#include "kestrel/progress/scroller.h"
#include "kestrel/shell/main_window.h"
#include "kestrel/shell/qt_host.h"
#include "kestrel/shell/shell_rules.h"
#include "kestrel/shell/single_instance.h"
#include "platform/processors.h"
#include "platform/ui_thread.h"
#include "platform/workers.h"

int main(int argc, char** argv) {
    // Workers are created by a thread that keeps the program's start priority.
    kp::StartThreadSpawner();
    // The whole command line is the name of a benchmark file, never an option.
    const std::string file_name = CommandLineFileName(std::vector<std::string>(argv + 1, argv + argc));
    // Another copy is running: it comes to the front and this one ends.
    if (AskRunningCopyToRaise()) return 0;

    // Fixed window positions and stay-on-top need X11.
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0' && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    int qt_argc = 1;
    QApplication app(qt_argc, argv);
    setlocale(LC_NUMERIC, "C");
    kp::MarkUiThread();
    app.setQuitOnLastWindowClosed(false);

    QPointer<MainWindow> window;
    InstallMainWindowBoxes([&window] { return window.data(); });
    InstallBenchmarkReader();
    // The user-interface thread runs below normal priority.
    kp::SetCurrentThreadPriority(-1);

    MainWindow main_window;
    window = &main_window;
    InstanceServer instances([&main_window] { main_window.RaiseFromOtherStart(); });
    instances.Listen();
    // The end of the session runs Exit (its question included).
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &main_window,
                     [&main_window] { main_window.Command(CMD_EXIT); });
    main_window.Init(file_name);
    return app.exec();
}
