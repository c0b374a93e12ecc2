// glance: the viewer of benchmark files. "glance [file]" opens its multi-document window and,
// when a file is named, that file.
#include <QApplication>
#include <clocale>
#include <cstdlib>
#include <new>
#include <string>

#include "glance/frame.h"
#include "glance/pictures.h"
#include "platform/msgbox.h"
#include "platform/ui_thread.h"
#include "shared/ui/program_start.h"
#include "shared/ui/qt_message_box.h"

namespace {

int AllocationError() {
    kp::SetMessageBoxBackend(nullptr);
    kp::MessageBox(kp::Owner::None, "Allocation Error!", "Fatal Memory Exception", kp::Icon::Exclamation);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    ChooseX11WhenDisplayed();
    RequireDisplay();
    try {
        // The rest of the command line is one file path, blanks included.
        std::string file;
        for (int i = 1; i < argc; ++i) file += (i > 1 ? " " : "") + std::string(argv[i]);
        int qt_argc = 1;
        QApplication app(qt_argc, argv);
        setlocale(LC_NUMERIC, "C");
        kp::MarkUiThread();
        app.setWindowIcon(glance::GlanceIcon());
        glance::Frame* frame = nullptr;
        InstallQtMessageBoxes([&frame](kp::Owner owner) -> QWidget* {
            if (owner == kp::Owner::None) return nullptr;
            if (owner == kp::Owner::Active && QApplication::activeWindow() != nullptr)
                return QApplication::activeWindow();
            return frame;
        });
        glance::Frame window;
        frame = &window;
        // The end of the desktop session closes the window at its quit, storing what any close
        // stores; the request to save the session's state (sent at a mere checkpoint too) ends
        // nothing.
        window.Start(file);
        const int code = app.exec();
        kp::RunDeferredUiActions();
        return code;
    } catch (const std::bad_alloc&) {
        return AllocationError();
    }
}
