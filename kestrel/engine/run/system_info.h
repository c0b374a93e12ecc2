// Facts about the machine for its description (disk identifiers, the video driver's name, the
// host name), the screen saver held off while a run lasts, and a substring test.
#pragma once

#include <string>
#include <string_view>

// Where the readers find sysfs ("/sys"; tests point it at a fixture tree).
extern std::string sysfs_root;

// The identifier (vendor and model) of the first disk into machine.harddisk[0], of the second
// into machine.harddisk[1]. 0 when written; 1 when there is no such disk or it has no
// identifier (the field is left as it was).
int GetDriveInfo1();
int GetDriveInfo2();
// The same for the first and second disk on an IDE controller (hd*).
int DoAtDisk();
int DoAtDisk2();
// The kernel driver of the first graphics card into machine.videoadapter. 0 when written; 1
// when there is no card (the field is left as it was).
int GetVideoInfo();
// The computer's host name (empty when it cannot be read).
std::string GetWin95HostName();
// The first processor's current clock in whole MHz, as text: its "cpu MHz" line in the proc
// tree's cpuinfo, rounded; empty when there is none.
std::string ProcessorClockText();

// Asks the desktop's screen saver not to start until TurnOnScreenSaver. 0 done; 1 no screen
// saver service (nothing shown); 2 the service refused (after a message box).
int TurnOffScreenSaver();
// Lets the screen saver start again. 0 done; 1 nothing was held (nothing happens); 2 the
// service refused (after a message box).
int TurnOnScreenSaver();

// 1 when `sought` occurs in `searched`, ignoring the case of ASCII letters; else 0.
int search(std::string_view sought, std::string_view searched);
