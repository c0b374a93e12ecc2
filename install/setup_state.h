// What the installation steps share with the setup companion that runs them: its state (one
// instance, owned by the companion) and the few things they ask of its windows.
#pragma once

#include <string>

// The product name in the installers' texts and the name of the program group.
inline constexpr const char* kProductName = "Kestrel 1.21";

struct SetupState {
    std::string sourceDirectory;     // the distribution folder
    std::string temporaryDirectory;  // the launcher's private folder (holds expand after a disk change)
    std::string installDirectory;    // the confirmed install directory
    bool floppyMode = false;         // installing from several media mounted in turn at one path
    std::string userName;            // from the user dialog
    std::string company;
    std::string emailAddress;        // no dialog asks for it: empty unless known
    double progressFraction = 0.0;   // drawn by the progress bars, 0.0 to 1.0
    std::string statusText;          // the progress dialog's last status line
};

// The companion's side of the installation steps. Every call comes on the user-interface thread.
class SetupHost {
public:
    virtual ~SetupHost() = default;
    // The progress dialog's status line changed (SetupState::statusText): show it now.
    virtual void StatusChanged() {}
    // The progress fraction changed: redraw the bar now.
    virtual void ProgressChanged() {}
    // All files are in place: registry entries, program group, completion dialog.
    virtual void FinishInstall() {}
    // A failure ended the installation: close the backdrop window (the program ends without
    // restarting the launcher).
    virtual void EndSetup() {}
};
