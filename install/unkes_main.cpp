// unkes: the uninstaller, started from the menu group's "Uninstall Kestrel" item. It takes no
// command line.
#include <QApplication>
#include <QTimer>

#include <clocale>

#include "install/uninstaller.h"
#include "shared/ui/program_start.h"
#include "shared/ui/qt_message_box.h"

int main(int argc, char** argv) {
    RequireDisplay();
    QApplication app(argc, argv);
    setlocale(LC_NUMERIC, "C");
    Uninstaller uninstaller;
    InstallQtMessageBoxes([&](kp::Owner) -> QWidget* {
        QWidget* active = QApplication::activeWindow();
        return active != nullptr ? active : uninstaller.backdrop();
    });
    uninstaller.onEnd = [&app] { QTimer::singleShot(0, &app, [&app] { app.quit(); }); };
    uninstaller.Start();
    app.exec();
    return 0;
}
