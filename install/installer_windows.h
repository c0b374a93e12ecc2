// The windows the setup companion and the uninstaller share: the full-screen blue backdrop with
// the product name and our picture, the progress bar, and the helpers of their modeless dialogs.
#pragma once

#include <QDialog>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QHBoxLayout;
class QPushButton;

// The full-screen blue backdrop: the product name three times, the subtitle and our picture.
class Backdrop : public QWidget {
public:
    explicit Backdrop(const QString& title);
    std::function<void()> onClose;

protected:
    void paintEvent(QPaintEvent*) override;
    void closeEvent(QCloseEvent* e) override;

private:
    bool large_ = true;
    QImage picture_;
    QFont title_, subtitle_;
};

// The progress bar: grey to the fraction, white after it, the percentage in the middle.
class ProgressBar : public QWidget {
public:
    explicit ProgressBar(const double* fraction);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    const double* fraction_;
};

// A modeless dialog of the installers. Escape and the window manager's close never close it
// without an answer: where its second button is a cancel-type button (No, Do Not Accept, Cancel)
// they answer as that button; a dialog with no button to answer with (a progress dialog) stands.
// Otherwise (an OK only) they close it, as its OK does. The program's own close closes it.
class InstallerDialog : public QDialog {
public:
    using QDialog::QDialog;
    // The cancel-type button's answer.
    std::function<void()> cancel;
    // No button answers it: Escape and the window manager's close leave it standing.
    bool stands = false;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* e) override;

private:
    bool closing_ = false;        // the program's own close is under way
    bool answerPending_ = false;  // the window manager's close waits for its answer
};

// A modeless dialog: a caption, a text (object name "text"), then the caller's controls.
InstallerDialog* NewDialog(QWidget* owner, const char* name, const char* caption, const QString& text);
// Adds the dialog's cancel-type button: its click, Escape and the window manager's close give
// the same answer.
QPushButton* AddCancelButton(InstallerDialog* d, QHBoxLayout* row, const char* text, const char* name,
                             std::function<void()> handler);
// The dialog's row of buttons, right-aligned below its controls.
QHBoxLayout* ButtonRow(QDialog* d);
QPushButton* AddButton(QHBoxLayout* row, const char* text, const char* name, std::function<void()> handler);
// Centres a window on the screen.
void Centre(QWidget* w);
// Lets the window system see the changed window without taking any input.
void ShowNow(QWidget* w);

// The modeless dialogs a program has opened: found by object name while open, hidden together at
// the end, and those still there deleted with the list.
class DialogList {
public:
    DialogList() = default;
    DialogList(const DialogList&) = delete;
    DialogList& operator=(const DialogList&) = delete;
    ~DialogList();

    void Add(QDialog* d) { dialogs_.push_back(d); }
    // The visible dialog with this object name, or nullptr.
    QDialog* Open(const QString& name) const;
    void HideAll();

private:
    std::vector<QPointer<QDialog>> dialogs_;
};
