#include "kestrel/shell/shell_rules.h"

#include <sched.h>

#include <algorithm>
#include <sstream>

#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/settings.h"
#include "shared/strformat.h"

const std::array<std::string, 26> text_window_string = {
    "This Item Starts a Kestrel Test.",
    "This Item Opens a BenchMark File.",
    "This Item Saves the Test.",
    "This Option Will Close the Currently Opened File.",
    "This Item Mails the Test/File.",
    "This Item Will Print the File/Test Score.",
    "Choose This Item for Online Help.",
    "This Item Exits Kestrel.",
    "This Item Will Stop A Kestrel Test",
    "This Item Will Save the Test File Under A New Name.",
    "This Option will Allow You to Choose a New Printer.",
    "This Option Lets You Set Kestrel Preferences.",
    "This Option Will Bring up the Results Window.",
    "This Option Allows You to Configure Your Machine Paramters.",
    "This Option Will Cause Kestrel to run All Tests.",
    "This Option Will run Only the CPU Test.",
    "This Option Will run Only the Disk Test.",
    "This Option Will run Only the Video Test.",
    "Choose This Item for Online Help.",
    "Choose This Item to Find Out More on Help.",
    "",
    "This Item Shows the About Box of Kestrel.",
    "This item will test your SMP machine's scaling efficiency.",
    "This item will launch Glance for Kestrel.",
    "This item will copy the text from the benchmark window into the system clipboard.",
    "This item will change the currently selected font for all text windows.",
};

namespace {

// Menu item -> slot of text_window_string.
int MenuSlot(int id) {
    switch (id) {
        case CMD_NEW_TEST: return 0;
        case CMD_OPEN: return 1;
        case CMD_SAVE: return 2;
        case CMD_CLOSE: return 3;
        case CMD_MAIL: return 4;
        case CMD_PRINT: return 5;
        case CMD_EXIT: return 7;
        case CMD_SAVE_AS: return 9;
        case CMD_PRINTER_SETUP: return 10;
        case CMD_PREFERENCES: return 11;
        case CMD_RESULT_COMPARISONS: return 12;
        case CMD_CONFIGURATION: return 13;
        case CMD_ALL_TESTS: return 14;
        case CMD_CPU_TEST: return 15;
        case CMD_DISK_TEST: return 16;
        case CMD_VIDEO_TEST: return 17;
        case CMD_HELP_INDEX: return 18;
        case CMD_USING_HELP: return 19;
        case CMD_ABOUT: return 21;
        case CMD_LAUNCH_GLANCE: return 23;
        case CMD_COPY_ALL: return 24;
        case CMD_FONT: return 25;
        default: return -1;
    }
}

// Bit per test: P 1, M 2, D 4, V 8; TestValue 0 to 14 in order.
constexpr int kP = 1, kM = 2, kD = 4, kV = 8;
constexpr int kSets[15] = {kP | kM | kD | kV, kP, kD, kV, kM, kP | kD, kP | kV, kP | kM,
                           kP | kD | kV, kP | kM | kV, kP | kM | kD, kD | kV, kM | kD, kM | kD | kV,
                           kM | kV};

int BitOf(int command) {
    switch (command) {
        case CMD_CPU_TEST: return kP;
        case CMD_MEMORY_TEST: return kM;
        case CMD_DISK_TEST: return kD;
        case CMD_VIDEO_TEST: return kV;
        default: return 0;
    }
}

}  // namespace

std::string MenuHelpText(int id, bool enabled, bool checked, const std::string& drive_root) {
    if (!enabled && (id == CMD_SAVE || id == CMD_SAVE_AS || id == CMD_CLOSE || id == CMD_MAIL ||
                     id == CMD_PRINT)) {
        return "This item is disabled";
    }
    if (id == CMD_SCALING) {
        return StrPrintf("%s.  Note, this item needs menu item CPU Test or ALL Tests to be checked also.",
                         text_window_string[22].c_str());
    }
    if (id >= CMD_FIRST_DRIVE && id <= CMD_LAST_DRIVE) {
        return checked ? StrPrintf("Uncheck this  item de-select drive %s.", drive_root.c_str())
                       : StrPrintf("Check this  item choose drive %s.", drive_root.c_str());
    }
    const int slot = MenuSlot(id);
    return slot < 0 ? std::string() : text_window_string[size_t(slot)];
}

int BarHelpSlot(int k) { return k == 9 ? 23 : k; }

int BarSlotAt(int x) {
    if (x >= 3 && x <= 87) return 0;
    if (x >= 88 && x <= 172) return 1;
    if (x >= 173 && x <= 767) return 2 + (x - 173) / 85;
    return -1;
}

TestSelection SelectionOf(uint32_t TestValue) {
    const int set = TestValue < 15 ? kSets[TestValue] : 0;
    TestSelection s;
    s.TestValue = TestValue;
    s.cpu = (set & kP) != 0;
    s.memory = (set & kM) != 0;
    s.disk = (set & kD) != 0;
    s.video = (set & kV) != 0;
    return s;
}

uint32_t SelectTest(uint32_t current, int command) {
    const int bit = BitOf(command);
    int set = current == 0 ? bit : (current < 15 ? kSets[current] : 0) ^ bit;
    if (set == 0 || set == kSets[0]) return 0;
    for (uint32_t v = 1; v < 15; ++v) {
        if (kSets[v] == set) return v;
    }
    return 0;
}

Placement PlaceMainWindow(const WindowRect& stored, int screen_width, int screen_height) {
    // The rectangle keeps the width in "right" and the height in "bottom".
    if (stored.right >= screen_width - 1 && stored.bottom >= screen_height - 1) return Placement::Maximised;
    if (stored.right >= 50) return Placement::Stored;
    return Placement::Default;
}

int ReportScrollMax(int num, int headernum, int pane_height, int nYChar) {
    const int shown = std::max(0, num - 1 - headernum);
    return std::max(0, shown + 2 - pane_height / std::max(1, nYChar));
}

int ReportHScrollMax(int nMaxWidth, int client_width) {
    const int half = client_width / 2;
    return std::max(0, (nMaxWidth - half) / std::max(1, half) + 64);
}

int FollowNewestLine(int nVPos, int num, int headernum, int pane_height, int nYChar) {
    const int needed = num - 1 - headernum - pane_height / std::max(1, nYChar);
    return std::max(nVPos, needed);
}

int ApplyScrollStep(int pos, int step, int max) {
    const int to = pos + step;
    return to < 0 || to > max ? pos : to;
}

BottomTextStep StepBottomText(int cursor, int n, const MouseState& m) {
    if (n <= 0) return {0, cursor};
    // Every rule as it stands; a cursor still outside 1..n (fewer than 9 or 81 lines, or no
    // line placed yet) is then taken round into 1..n.
    const auto into = [n](int c) { return ((c - 1) % n + n) % n + 1; };
    const auto back9 = [n](int c) { c -= 9; return c == 0 ? n : (c < 0 ? c + n : c); };
    const auto back81 = [n](int c) {
        c -= 81;
        if (c == 0) return 1;
        if (c < 0) return c + n > 1 ? c + n : 1;
        return c;
    };
    const auto forward9 = [n](int c) { c += 9; return c > n ? c - n : c; };
    const auto forward81 = [n](int c) {
        c += 81;
        if (c > n) c = c - n > n ? n : c - n;
        return c;
    };
    int c = into(cursor);
    switch (m.button) {
        case MouseButton::Left:
            if (m.shift || m.right_held) {
                c = back9(c);
            } else if (m.control) {
                c = back81(c);
            } else {
                const int shown = c;  // the current line, then one back
                c = c - 1 < 1 ? n : c - 1;
                return {shown, into(c)};
            }
            break;
        case MouseButton::Right:
            if (m.shift || m.left_held) c = forward9(c);
            else if (m.control) c = forward81(c);
            else c = c + 1 > n ? 1 : c + 1;
            break;
        case MouseButton::Middle:
            if (m.shift || m.right_held) c = forward81(c);
            else if (!m.control && !m.left_held) c = forward9(c);
            else c = back81(c);
            break;
    }
    c = into(c);
    return {c, c};
}

std::string ModelName(const std::string& cpuinfo) {
    std::istringstream in(cpuinfo);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) != 0) continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const size_t first = line.find_first_not_of(" \t", colon + 1);
        if (first == std::string::npos) continue;
        const size_t last = line.find_last_not_of(" \t\r");
        return line.substr(first, last - first + 1);
    }
    return std::string();
}

std::string ProcessorText(int count, const std::string& name) {
    const std::string shown = name.empty() ? "Unknown Microprocessor" : name;
    return count == 1 ? StrPrintf("%d %s", count, shown.c_str()) : StrPrintf("%d %ss", count, shown.c_str());
}

int AllowedProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}

std::string CommandLineFileName(const std::vector<std::string>& arguments) {
    std::string name;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) name += ' ';
        name += arguments[i];
    }
    return name;
}

std::string FilterExtension(const std::string& name_filter) {
    const size_t open = name_filter.rfind('(');
    const size_t close = name_filter.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) return {};
    const std::string patterns = name_filter.substr(open + 1, close - open - 1);
    const std::string first = patterns.substr(0, patterns.find(' '));
    const size_t dot = first.rfind('.');
    if (dot == std::string::npos) return {};
    const std::string extension = first.substr(dot + 1);
    if (extension.find_first_of("*?[") != std::string::npos) return {};
    return extension;
}
