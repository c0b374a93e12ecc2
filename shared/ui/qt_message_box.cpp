#include "shared/ui/qt_message_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSpacerItem>
#include <QString>
#include <QStyle>
#include <QWindow>

#include "platform/testswitch.h"

namespace {

QMessageBox::Icon QtIcon(kp::Icon icon) {
    switch (icon) {
        case kp::Icon::Exclamation: return QMessageBox::Warning;
        case kp::Icon::Stop: return QMessageBox::Critical;
        case kp::Icon::Question: return QMessageBox::Question;
        case kp::Icon::Information: return QMessageBox::Information;
        case kp::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonSet {
    QMessageBox::StandardButton buttons[3];
    kp::Answer answers[3];
    int count;
};

ButtonSet ButtonsOf(kp::Buttons b) {
    using SB = QMessageBox::StandardButton;
    switch (b) {
        case kp::Buttons::OkCancel:
            return {{SB::Ok, SB::Cancel, SB::NoButton}, {kp::Answer::Ok, kp::Answer::Cancel, kp::Answer::Ok}, 2};
        case kp::Buttons::YesNo:
            return {{SB::Yes, SB::No, SB::NoButton}, {kp::Answer::Yes, kp::Answer::No, kp::Answer::Ok}, 2};
        case kp::Buttons::YesNoCancel:
            return {{SB::Yes, SB::No, SB::Cancel}, {kp::Answer::Yes, kp::Answer::No, kp::Answer::Cancel}, 3};
        case kp::Buttons::Ok: break;
    }
    return {{SB::Ok, SB::NoButton, SB::NoButton}, {kp::Answer::Ok, kp::Answer::Ok, kp::Answer::Ok}, 1};
}

// A question answered only by Yes or No: Escape and the window's close button (a close that comes
// from the window manager) leave it standing. The program's own close (its end, or the
// application's quit at the end of the desktop's session, which closes the open box first) still
// closes it, answering No.
class YesNoBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;
    bool answer_required = false;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (answer_required && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        if (answer_required && event->spontaneous()) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }
};

}  // namespace

int TitleBarWidth(const QString& caption, const QWidget* window) {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const QStyle* style = window != nullptr ? window->style() : QApplication::style();
    const int bar = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
    // The icon and the three buttons are about as wide as the bar is high.
    return QFontMetrics(font).horizontalAdvance(caption) + 4 * bar + 2 * border;
}

kp::Answer ShowQtMessageBox(const kp::BoxRequest& box, QWidget* parent, QWidget* over) {
    YesNoBox mb(QtIcon(box.icon), QString::fromStdString(box.caption), QString::fromStdString(box.text),
                QMessageBox::NoButton, parent);
    mb.answer_required = box.buttons == kp::Buttons::YesNo;
    // Nor does it show a close button, where the window manager takes that hint: it has only
    // its title, and Yes and No to answer with.
    if (mb.answer_required) {
        mb.setWindowFlag(Qt::CustomizeWindowHint, true);
        mb.setWindowFlag(Qt::WindowCloseButtonHint, false);
    }
    // The suite's progress and counter windows stay on top; a box that did not would open under
    // them and the run would wait on a box nobody sees.
    mb.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // Window managers stack a dialog with the window it belongs to: an owned box is tied to the
    // stay-on-top window that stands over its owner, so that it is raised above that one too.
    if (parent != nullptr && over != nullptr && over->isVisible() && over->windowHandle() != nullptr &&
        parent->window() != over->window()) {
        mb.winId();
        if (QWindow* handle = mb.windowHandle()) handle->setTransientParent(over->windowHandle());
    }
    const ButtonSet set = ButtonsOf(box.buttons);
    QMessageBox::StandardButtons all;
    for (int i = 0; i < set.count; ++i) all |= set.buttons[i];
    mb.setStandardButtons(all);
    int def = box.defaultButton >= 0 && box.defaultButton < set.count ? box.defaultButton : 0;
    mb.setDefaultButton(set.buttons[def]);
    // Escape and closing the box answer as its Cancel button would, or as its only button; a Yes/No
    // box has neither and waits for one of its two.
    mb.setEscapeButton(set.count == 1 ? set.buttons[0] : set.buttons[set.count - 1]);
    // The box sizes itself to its text: a row across the whole box keeps it as wide as its title
    // bar needs, so that the window manager does not shorten a caption longer than the text.
    if (auto* grid = qobject_cast<QGridLayout*>(mb.layout())) {
        grid->addItem(new QSpacerItem(TitleBarWidth(mb.windowTitle(), &mb), 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    const int result = mb.exec();
    for (int i = 0; i < set.count; ++i) {
        if (result == set.buttons[i]) return set.answers[i];
    }
    // Closed without a button (the program ending closes every open box): as its escape button,
    // No for a Yes/No box.
    return set.count == 1 ? set.answers[0] : set.answers[set.count - 1];
}

void InstallQtMessageBoxes(OwnerWidgets owners, OnTopWidget over) {
    if (!kp::TestMessageBoxLog().empty()) return;
    kp::SetMessageBoxBackend([owners, over](const kp::BoxRequest& box) {
        return ShowQtMessageBox(box, owners ? owners(box.owner) : nullptr, over ? over() : nullptr);
    });
}
