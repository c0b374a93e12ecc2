// setupkes: the setup companion. Started by the launcher from its private folder with the launch
// line, it leads the user through the installation and starts kestrel at the end.
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <string>
#include <vector>

#include "install/launch.h"
#include "install/setup_companion.h"
#include "shared/ui/program_start.h"
#include "shared/ui/qt_message_box.h"

int main(int argc, char** argv) {
    RequireDisplay();
    QApplication app(argc, argv);
    setlocale(LC_NUMERIC, "C");
    const LaunchLine arguments = ParseLaunchArguments(std::vector<std::string>(argv + 1, argv + argc));
    SetupCompanion companion(arguments);
    InstallQtMessageBoxes([&](kp::Owner) -> QWidget* {
        QWidget* active = QApplication::activeWindow();
        return active != nullptr ? active : companion.backdrop();
    });
    int code = 0;
    companion.onEnd = [&](int c) {
        code = c;
        QTimer::singleShot(0, &app, [&app] { app.quit(); });
    };
    if (!companion.Start()) return code;
    // The launcher wrote the launch line into the pipe before this program opened its windows.
    if (!companion.CheckLaunch(STDIN_FILENO, 2000)) return code;
    app.exec();
    return code;
}
