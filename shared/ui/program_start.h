// What every program with windows does first.
#pragma once

// Before the application object is made: X11 when a display is set and no platform is asked for,
// since fixed window positions and stay-on-top windows need it.
void ChooseX11WhenDisplayed();
