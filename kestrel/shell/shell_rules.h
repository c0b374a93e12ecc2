// The rules of the main program's shell that need no window: the menu-help texts, the test
// selection, the placement of the main window, the report pane's scroll rules, the status pane's
// walk through the bottom-text lines, the processor identification and the command line.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct WindowRect;

inline constexpr const char* szAppName = "KESTREL";
inline constexpr const char* szTitle = "KESTREL version 1.21";
inline constexpr const char* kDefaultCaption = "Kestrel - System Level Benchmark";
inline constexpr int global_buttonwindow_height = 40;

// The menu-help texts by slot; the status line shows them for menu items, the button bar by
// button.
extern const std::array<std::string, 26> text_window_string;

// The status line's text for a menu item under the pointer. `enabled` and `checked` are the
// item's state; `drive_root` the root of a Test Drives item.
std::string MenuHelpText(int id, bool enabled, bool checked, const std::string& drive_root);
// The menu-help slot of button k (0 to 9) of the button bar.
int BarHelpSlot(int k);
// Text buttons: the button slot under x on the bar, or -1 between and beyond them.
int BarSlotAt(int x);

// The test selection: TestValue and the four flags it stands for.
struct TestSelection {
    uint32_t TestValue = 0;
    bool cpu = true, memory = true, disk = true, video = true;
};
// The selection TestValue stands for (0: all four).
TestSelection SelectionOf(uint32_t TestValue);
// The item of one test (CMD_CPU_TEST, CMD_MEMORY_TEST, CMD_DISK_TEST or CMD_VIDEO_TEST) chosen
// from the Options menu with `current` in force: the new TestValue.
uint32_t SelectTest(uint32_t current, int command);

// Where the main window opens, from the stored rectangle and the screen size.
enum class Placement { Default, Stored, Maximised };
Placement PlaceMainWindow(const WindowRect& stored, int screen_width, int screen_height);

// The report pane's vertical limit: the lines shown (those after line headernum) plus two,
// less the lines the pane holds; never below 0.
int ReportScrollMax(int num, int headernum, int pane_height, int nYChar);
// The horizontal limit from the widest line and the main window's client width.
int ReportHScrollMax(int nMaxWidth, int client_width);
// The vertical position that keeps the newest line in view during a run (never moves back).
int FollowNewestLine(int nVPos, int num, int headernum, int pane_height, int nYChar);
// A scroll step: the new position, or the old one when the step would leave 0..max.
int ApplyScrollStep(int pos, int step, int max);

// A mouse button on the status pane: which button, and what is held with it.
enum class MouseButton { Left, Right, Middle };
struct MouseState {
    MouseButton button = MouseButton::Left;
    bool shift = false, control = false;
    bool left_held = false, right_held = false;
};
// One click on the status pane with the cursor (1-based) into n bottom-text lines: the line shown
// (1-based) and the new cursor, both within 1..n.
struct BottomTextStep {
    int shown;
    int cursor;
};
BottomTextStep StepBottomText(int cursor, int n, const MouseState& mouse);

// The "model name" of the first processor in a cpuinfo text ("" when there is none).
std::string ModelName(const std::string& cpuinfo);
// The processors as the report names them: "%d %s", or "%d %ss" for more than one.
std::string ProcessorText(int count, const std::string& name);
// Processors of the set this process may run on, not capped.
int AllowedProcessorCount();

// The file named on the command line: the arguments after the program's name, joined by blanks
// (the whole line is one name, of any length).
std::string CommandLineFileName(const std::vector<std::string>& arguments);

// The file dialogs' filters, the chosen one first.
inline constexpr const char* kBenchmarkFilter = "Benchmark Files (*.BMF)";
inline constexpr const char* kAllFilesFilter = "ALL FILES (*.*)";
// The extension the Save dialog gives a name typed without one while the filter is chosen: that
// of the filter's first pattern ("BMF" for "Benchmark Files (*.BMF)"), none for a pattern with a
// wildcard in its extension ("ALL FILES (*.*)").
std::string FilterExtension(const std::string& name_filter);
