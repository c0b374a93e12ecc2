// What every program with windows does first.
#pragma once

#include <functional>

class QObject;

// Before the application object is made: X11 when a display is set and no platform is asked for,
// since fixed window positions and stay-on-top windows need it.
void ChooseX11WhenDisplayed();

// Before the application object is made: when the program would show its windows on X11 (no
// platform asked for, or xcb) and no X display can be opened, it says so in one line on
// standard error and ends with exit code 1 (the application object would abort the program).
// With no platform asked for and no X display named, a Wayland display is taken instead where
// the application object has a Wayland platform and the display answers as a Wayland server.
void RequireDisplay();

// Whether the Wayland display named by WAYLAND_DISPLAY (a name in XDG_RUNTIME_DIR, or a path)
// answers a first request as a Wayland server does, within wait_ms milliseconds.
bool WaylandDisplayAnswers(int wait_ms = 2000);

// The application is asked to quit (by the desktop at the end of its session, after the request
// to save its state, or by the program itself): `end` runs before any window is closed, as long
// as `context` lives. It returns true when it has taken the quit over (Qt then neither closes
// the windows nor leaves the message loop).
void WhenAskedToQuit(QObject* context, std::function<bool()> end);
