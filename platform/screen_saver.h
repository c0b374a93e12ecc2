// The desktop's screen saver held off while a run lasts: the org.freedesktop.ScreenSaver
// service on the session bus (Inhibit gives a cookie, UnInhibit hands it back). Nothing of the
// user's settings is changed; the hold ends with the process at the latest, because it belongs
// to this program's own bus connection.
//
// With no session bus, no service, or no Qt application object in the process, nothing happens.
#pragma once

#include <string>

namespace kp {

enum class SaverResult {
    Done,       // held (or released)
    NoService,  // no session bus or no screen saver service; on release: nothing was held
    Refused,    // the service answered with an error or not at all
};

// Asks the service to hold the screen saver off. A hold already taken is kept (Done).
SaverResult InhibitScreenSaver(const std::string& application, const std::string& reason);
// Hands the hold back and closes the connection it belongs to.
SaverResult UnInhibitScreenSaver();
// A hold is taken.
bool ScreenSaverInhibited();

}  // namespace kp
