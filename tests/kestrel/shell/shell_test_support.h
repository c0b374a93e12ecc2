// Helpers of the main window's tests: waiting while events are handled, answering file dialogs,
// and acting during a run.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "kestrel/engine/report/report.h"
#include "kestrel/engine/run/run_state.h"
#include "tests/support/shown_picture.h"

namespace kt {

// Handles events until the condition holds or ms have passed; the condition's last value.
inline bool Until(const std::function<bool()>& condition, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Handles events for ms milliseconds.
inline void Settle(int ms = 100) {
    Until([] { return false; }, ms);
}


// Answers the next file dialog: chooses the path, or cancels when it is empty. The filters
// given are chosen in turn from the dialog's list first, as a person would. start_folder (when
// given) gets the folder the dialog opened in.
inline void AnswerFileDialog(const QString& path, const QStringList& filters = {}, QString* start_folder = nullptr) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, path, filters, start_folder] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        timer->stop();
        timer->deleteLater();
        if (start_folder != nullptr) *start_folder = dialog->directory().absolutePath();
        if (auto* list = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
            // With the keys of the filter list: to its top, then down to the filter.
            for (const QString& filter : filters) {
                QTest::keyClick(list, Qt::Key_Home);
                for (int i = list->findText(filter); i > 0; --i) QTest::keyClick(list, Qt::Key_Down);
            }
        }
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            // Typed into the name field, as a person would (selecting an existing file races
            // with the dialog's listing of its folder).
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->setText(path);
            else dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();  // as its Open/Save button
        }
    });
    timer->start();
}

// Runs action once during the next run, at a pause between passes once some report lines
// beyond the header are out.
inline void DuringTheRun(std::function<void()> action) {
    auto* timer = new QTimer;
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (run.testrunning == 0 || report.num <= report.headernum + 1) return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

inline std::string Joined(const std::vector<std::string>& lines, const char* end) {
    std::string text;
    for (const std::string& l : lines) text += l + end;
    return text;
}

}  // namespace kt
