// The programs' message boxes: QMessageBox, modal to the window that owns the box.
#pragma once

#include <functional>

#include "platform/msgbox.h"

class QWidget;

// The widget that owns a box of the given owner (nullptr: no parent).
using OwnerWidgets = std::function<QWidget*(kp::Owner owner)>;

// Shows every box of the message-box service with QMessageBox. Does nothing when the test log
// switch is set, so that a program started by a test never waits for a person.
void InstallQtMessageBoxes(OwnerWidgets owners);

// Shows one box now (the installed backend uses it).
kp::Answer ShowQtMessageBox(const kp::BoxRequest& box, QWidget* parent);
