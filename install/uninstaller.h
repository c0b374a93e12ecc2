// The uninstaller's windows (the program `unkes`): the full-screen backdrop, the confirmation,
// the progress dialog while the run goes, and the completion dialog. One instance; everything on
// the user-interface thread.
#pragma once

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "install/uninstall.h"

class QDialog;
class QLabel;
class QWidget;

class Uninstaller : public UninstallHost {
public:
    Uninstaller();
    ~Uninstaller() override;

    // Opens the backdrop and the confirmation (ENTERAD2).
    void Start();
    // The end: every window closed; `onEnd` is called once.
    std::function<void()> onEnd;
    bool ended() const { return ended_; }

    QWidget* backdrop() const;
    // The open dialog with this object name ("ENTERAD2", "ENTERPROG", "ENTERAD3"), or nullptr.
    QDialog* OpenDialog(const QString& name) const;
    // Every status line shown, in order.
    const std::vector<std::string>& statusLines() const { return statusLines_; }

    // UninstallHost
    void Status(const std::string& line) override;
    void Progress(double fraction) override;

private:
    struct Windows;
    void OpenConfirmation();
    void Run();
    void OpenDone();
    void End();

    std::unique_ptr<Windows> w_;
    double fraction_ = 0.0;
    std::vector<std::string> statusLines_;
    bool ended_ = false;
};

// The texts of the dialogs.
extern const char* const kUninstallInformationCaption;
extern const char* const kUninstallQuestion;
