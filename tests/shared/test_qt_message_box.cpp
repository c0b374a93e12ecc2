// The programs' message boxes, shown offscreen and answered by simulated input.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <functional>

#include "shared/ui/qt_message_box.h"
#include "tests/support/isolation.h"
#include "tests/support/qt_test_main.h"
#include "tests/support/window_manager.h"

namespace {

struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Once the box is up: note what it shows, then act on it.
void WhenShown(Seen* seen, std::function<void(QMessageBox*)> act) {
    QTimer::singleShot(0, [seen, act] {
        auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        EXPECT_NE(mb, nullptr);
        if (mb == nullptr) {  // close whatever is up so the test fails instead of waiting
            if (QWidget* w = QApplication::activeModalWidget()) w->close();
            return;
        }
        seen->title = mb->windowTitle();
        seen->text = mb->text();
        seen->icon = mb->icon();
        seen->buttons = mb->standardButtons();
        seen->defaultButton = mb->standardButton(mb->defaultButton());
        act(mb);
    });
}

TEST(QtMessageBox, ShowsCaptionTextIconAndButtons) {
    Seen seen;
    WhenShown(&seen, [](QMessageBox* mb) { mb->button(QMessageBox::No)->click(); });
    kp::BoxRequest box;
    box.text = "Do you want to save the current report?";
    box.caption = "Kestrel Message";
    box.icon = kp::Icon::Question;
    box.buttons = kp::Buttons::YesNoCancel;
    EXPECT_EQ(ShowQtMessageBox(box, nullptr), kp::Answer::No);
    EXPECT_EQ(seen.title, "Kestrel Message");
    EXPECT_EQ(seen.text, "Do you want to save the current report?");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);
}

// A caption longer than the box's text: the box is still as wide as its title bar needs to show
// the caption whole.
TEST(QtMessageBox, EveryBoxIsAtLeastAsWideAsItsCaption) {
    struct Row {
        const char* caption;
        const char* text;
    };
    for (const Row& row : {Row{"Memory Exception", "Allocation Error!"}, Row{"Fatal Memory Exception", "Allocation Error!"},
                           Row{"Kestrel Timer Exception", "Stop?"}}) {
        SCOPED_TRACE(row.caption);
        Seen seen;
        int width = 0, needed = 0;
        WhenShown(&seen, [&](QMessageBox* mb) {
            width = mb->width();
            needed = TitleBarWidth(mb->windowTitle(), mb);
            mb->accept();
        });
        kp::BoxRequest box;
        box.caption = row.caption;
        box.text = row.text;
        box.icon = kp::Icon::Stop;
        ShowQtMessageBox(box, nullptr);
        EXPECT_EQ(seen.title, row.caption);
        EXPECT_GT(needed, QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(row.caption));
        EXPECT_GE(width, needed);
    }
}

TEST(QtMessageBox, EnterTakesTheDefaultButtonAndEscapeCancels) {
    Seen seen;
    kp::BoxRequest box;
    box.caption = "Kestrel Message";
    box.text = "Stop?";
    box.buttons = kp::Buttons::OkCancel;
    box.defaultButton = 1;
    WhenShown(&seen, [](QMessageBox* mb) { QTest::keyClick(mb, Qt::Key_Return); });
    EXPECT_EQ(ShowQtMessageBox(box, nullptr), kp::Answer::Cancel);
    box.defaultButton = 0;
    WhenShown(&seen, [](QMessageBox* mb) { QTest::keyClick(mb, Qt::Key_Return); });
    EXPECT_EQ(ShowQtMessageBox(box, nullptr), kp::Answer::Ok);
    WhenShown(&seen, [](QMessageBox* mb) { QTest::keyClick(mb, Qt::Key_Escape); });
    EXPECT_EQ(ShowQtMessageBox(box, nullptr), kp::Answer::Cancel);
    // Closed without a button, as the program's end closes every open box: never a Yes.
    box.buttons = kp::Buttons::YesNo;
    WhenShown(&seen, [](QMessageBox* mb) { mb->reject(); });
    EXPECT_EQ(ShowQtMessageBox(box, nullptr), kp::Answer::No);
}

// Escape and the window manager's close button answer a box with a Cancel button, or with one
// button only, as that button. A Yes/No box stands until Yes or No is pressed, and asks the window
// manager for no close button; the program's own close (its end rejects or closes every open box)
// and the application's quit (the desktop's at the end of its session) still close it, answering
// No.
TEST(QtMessageBox, EscapeAndTheCloseButtonLeaveAYesNoBoxStanding) {
    enum class Way { Escape, CloseButton, ProgramClose, Quit };
    const struct {
        kp::Buttons buttons;
        Way way;
        bool stays;
        kp::Answer answer;
    } rows[] = {
        {kp::Buttons::YesNo, Way::Escape, true, kp::Answer::No},
        {kp::Buttons::YesNo, Way::CloseButton, true, kp::Answer::No},
        {kp::Buttons::YesNo, Way::ProgramClose, false, kp::Answer::No},
        {kp::Buttons::YesNo, Way::Quit, false, kp::Answer::No},
        {kp::Buttons::YesNoCancel, Way::Escape, false, kp::Answer::Cancel},
        {kp::Buttons::YesNoCancel, Way::CloseButton, false, kp::Answer::Cancel},
        {kp::Buttons::YesNoCancel, Way::Quit, false, kp::Answer::Cancel},
        {kp::Buttons::OkCancel, Way::Escape, false, kp::Answer::Cancel},
        {kp::Buttons::OkCancel, Way::CloseButton, false, kp::Answer::Cancel},
        {kp::Buttons::Ok, Way::Escape, false, kp::Answer::Ok},
        {kp::Buttons::Ok, Way::CloseButton, false, kp::Answer::Ok},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "buttons " << int(row.buttons) << ", way " << int(row.way));
        kp::BoxRequest box;
        box.caption = "File Exception";
        box.text = "Do you want to save this test?";
        box.buttons = row.buttons;
        Seen seen;
        bool stood = false;
        bool shown = false;
        bool closeButton = false;
        kp::Answer answer = kp::Answer::Yes;
        const auto act = [&](QMessageBox* mb) {
            shown = true;
            // The hint as the window system got it.
            closeButton = mb->windowHandle()->flags().testFlag(Qt::WindowCloseButtonHint) ||
                          !mb->windowHandle()->flags().testFlag(Qt::CustomizeWindowHint);
            switch (row.way) {
                case Way::Escape: QTest::keyClick(mb, Qt::Key_Escape); break;
                case Way::CloseButton: kt::CloseFromWindowManager(mb); break;
                case Way::ProgramClose: mb->close(); break;
                case Way::Quit: QCoreApplication::quit(); break;
            }
            stood = mb->isVisible();
            if (stood) mb->reject();  // as the program's end closes it
        };
        if (row.way == Way::Quit) {
            // Inside the application's loop, as the program runs: its quit closes the box and ends
            // the loop.
            QTimer::singleShot(0, [&] {
                answer = ShowQtMessageBox(box, nullptr);
                if (stood) QCoreApplication::exit(1);  // the quit was refused
            });
            WhenShown(&seen, act);
            EXPECT_EQ(QApplication::exec(), 0);
        } else {
            WhenShown(&seen, act);
            answer = ShowQtMessageBox(box, nullptr);
        }
        EXPECT_TRUE(shown);
        EXPECT_EQ(answer, row.answer);
        EXPECT_EQ(stood, row.stays);
        EXPECT_EQ(closeButton, row.buttons != kp::Buttons::YesNo);
    }
}

TEST(QtMessageBox, InstalledBackendServesTheServiceWithItsOwner) {
    kp::MarkUiThread();
    QWidget owner;
    kp::Owner asked = kp::Owner::None;
    InstallQtMessageBoxes([&](kp::Owner o) { asked = o; return &owner; });
    Seen seen;
    QWidget* parent = nullptr;
    WhenShown(&seen, [&](QMessageBox* mb) { parent = mb->parentWidget(); mb->accept(); });
    kp::MessageBox(kp::Owner::Progress, "Allocation Error!", "Fatal Memory Exception", kp::Icon::Stop);
    EXPECT_EQ(asked, kp::Owner::Progress);
    EXPECT_EQ(parent, &owner);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.title, "Fatal Memory Exception");
    kp::SetMessageBoxBackend(nullptr);
}

TEST(QtMessageBox, TestLogSwitchKeepsBoxesOffTheScreen) {
    kp::MarkUiThread();
    std::string log = kt::TempDir() + "/qtboxes.log";
    setenv("KESTREL_TEST_MSGBOX_LOG", log.c_str(), 1);
    InstallQtMessageBoxes(nullptr);  // must not install: a box here would wait for ever
    EXPECT_EQ(kp::MessageBox(kp::Owner::Main, "Could not open the file.", "File Exception"),
              kp::Answer::Ok);
    unsetenv("KESTREL_TEST_MSGBOX_LOG");
    EXPECT_EQ(kt::ReadFile(log), "[File Exception] (exclamation) Could not open the file. -> ok\n");
}

}  // namespace

int main(int argc, char** argv) { return kt::RunQtTests(argc, argv); }
