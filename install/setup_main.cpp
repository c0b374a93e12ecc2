// setup: the launcher of an installation, started from the distribution folder. It expands the
// setup companion and the expander into a private folder, starts the companion with the launch
// line and ends; `setup -r` (the companion's last step) removes that folder again.
#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "install/setup_launcher.h"
#include "platform/process.h"
#include "shared/ui/program_start.h"
#include "shared/ui/qt_message_box.h"

namespace {

// The small grey window "Kestrel Setup" that says what is going on.
class LauncherWindow : public QWidget {
public:
    LauncherWindow() {
        setWindowTitle("Kestrel Setup");
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(128, 128, 128));
        setPalette(p);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const int button = style()->pixelMetric(QStyle::PM_TitleBarHeight);
        const LauncherGeometry g = LauncherWindowGeometry(screen.width(), screen.height(), button);
        setGeometry(g.x, g.y, g.width, g.height);
        const LauncherFont f = LauncherFontFor(screen.width());
        font_ = QFont("Arial");
        font_.setPixelSize(f.height);
        font_.setWeight(QFont::Weight(f.weight));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(font_);
        painter.setPen(Qt::black);
        painter.drawText(10, 10 + QFontMetrics(font_).ascent(), "Please Wait While Setup Prepares to install ...");
    }

private:
    QFont font_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::string privateDirectory = PrivateSetupDirectory();
    if (IsCleanupMode(arguments)) {  // no window is shown: none is needed
        CleanupTempFiles(privateDirectory);
        return 0;
    }
    RequireDisplay();
    QApplication app(argc, argv);
    LauncherWindow window;
    InstallQtMessageBoxes([&](kp::Owner) { return &window; });
    window.show();
    int code = 1;
    QTimer::singleShot(0, [&] {
        QApplication::processEvents();
        // The distribution folder is the one this program lives in, however it was started.
        code = RunSetupCompanion(kp::ProgramDirectory(), privateDirectory) ? 0 : 1;
        window.hide();
        app.quit();
    });
    app.exec();
    return code;
}
