// The programs' message boxes: QMessageBox, modal, owned by the window the box names, and above
// every stay-on-top window (the progress window, the analyser's counter windows).
#pragma once

#include <functional>

#include "platform/msgbox.h"

class QString;
class QWidget;

// The width a framed window needs for its title bar to show `caption` whole: the caption in the
// title-bar font, bold as window managers draw it, and room for the frame's icon, its three
// buttons and its borders (with `window`'s style, else the application's).
int TitleBarWidth(const QString& caption, const QWidget* window = nullptr);

// The widget that owns a box of the given owner (nullptr: no parent).
using OwnerWidgets = std::function<QWidget*(kp::Owner owner)>;
// The program's stay-on-top window that an owned box must stand above (nullptr: none open).
using OnTopWidget = std::function<QWidget*()>;

// Shows every box of the message-box service with QMessageBox. Does nothing when the test log
// switch is set, so that a program started by a test never waits for a person.
void InstallQtMessageBoxes(OwnerWidgets owners, OnTopWidget over = nullptr);

// Shows one box now (the installed backend uses it). The box is at least as wide as its title
// bar needs (TitleBarWidth) and a stay-on-top window; when it
// has an owner and `over` (a stay-on-top window of the program) is shown, the window system is
// told the box belongs to `over`, so that it is stacked above it.
kp::Answer ShowQtMessageBox(const kp::BoxRequest& box, QWidget* parent, QWidget* over = nullptr);
