// The shell's rules that need no window: menu help, test selection, placement, scrolling, the
// status pane's steps, the processor name and the command line.
#include <gtest/gtest.h>

#include "kestrel/engine/run/commands.h"
#include "kestrel/engine/run/settings.h"
#include "kestrel/shell/shell_rules.h"

namespace {

TEST(MenuHelp, TextsOfItemsInTheirStates) {
    EXPECT_EQ(MenuHelpText(CMD_NEW_TEST, true, false, ""), "This Item Starts a Kestrel Test.");
    EXPECT_EQ(MenuHelpText(CMD_SAVE_AS, true, false, ""), "This Item Will Save the Test File Under A New Name.");
    EXPECT_EQ(MenuHelpText(CMD_CONFIGURATION, true, false, ""),
              "This Option Allows You to Configure Your Machine Paramters.");
    // Five items say when they are greyed; the others keep their text.
    for (int id : {CMD_SAVE, CMD_SAVE_AS, CMD_CLOSE, CMD_MAIL, CMD_PRINT}) {
        EXPECT_EQ(MenuHelpText(id, false, false, ""), "This item is disabled") << id;
    }
    EXPECT_EQ(MenuHelpText(CMD_COPY_ALL, false, false, ""),
              "This item will copy the text from the benchmark window into the system clipboard.");
    EXPECT_EQ(MenuHelpText(CMD_SCALING, true, false, ""),
              "This item will test your SMP machine's scaling efficiency..  Note, this item needs menu item "
              "CPU Test or ALL Tests to be checked also.");
    EXPECT_EQ(MenuHelpText(CMD_FIRST_DRIVE + 2, true, true, "/home"), "Uncheck this  item de-select drive /home.");
    EXPECT_EQ(MenuHelpText(CMD_FIRST_DRIVE, true, false, "/"), "Check this  item choose drive /.");
    EXPECT_EQ(MenuHelpText(CMD_MEMORY_TEST, true, false, ""), "");  // no text of its own
    EXPECT_EQ(MenuHelpText(0, true, false, ""), "");
}

TEST(MenuHelp, BarSlots) {
    EXPECT_EQ(text_window_string[size_t(BarHelpSlot(8))], "This Item Will Stop A Kestrel Test");
    EXPECT_EQ(text_window_string[size_t(BarHelpSlot(9))], "This item will launch Glance for Kestrel.");
    EXPECT_EQ(BarSlotAt(2), -1);
    EXPECT_EQ(BarSlotAt(3), 0);
    EXPECT_EQ(BarSlotAt(87), 0);
    EXPECT_EQ(BarSlotAt(88), 1);
    EXPECT_EQ(BarSlotAt(172), 1);
    EXPECT_EQ(BarSlotAt(173), 2);
    EXPECT_EQ(BarSlotAt(257), 2);
    EXPECT_EQ(BarSlotAt(258), 3);
    EXPECT_EQ(BarSlotAt(767), 8);
    EXPECT_EQ(BarSlotAt(768), -1);
}

TEST(TestSelection, ItemsOfTheOptionsMenu) {
    // From all tests an item chooses its test alone; the same item again gives all tests.
    EXPECT_EQ(SelectTest(0, CMD_VIDEO_TEST), 3u);
    EXPECT_EQ(SelectTest(3, CMD_VIDEO_TEST), 0u);
    EXPECT_EQ(SelectTest(0, CMD_DISK_TEST), 2u);
    EXPECT_EQ(SelectTest(0, CMD_MEMORY_TEST), 4u);
    // Processor and video, less processor: video alone; then less video: all.
    EXPECT_EQ(SelectTest(6, CMD_CPU_TEST), 3u);
    // Three tests and the fourth: all.
    EXPECT_EQ(SelectTest(10, CMD_VIDEO_TEST), 0u);
    EXPECT_EQ(SelectTest(1, CMD_MEMORY_TEST), 7u);
    EXPECT_EQ(SelectTest(7, CMD_DISK_TEST), 10u);
    EXPECT_EQ(SelectTest(4, CMD_DISK_TEST), 12u);
    EXPECT_EQ(SelectTest(12, CMD_VIDEO_TEST), 13u);
    EXPECT_EQ(SelectTest(4, CMD_VIDEO_TEST), 14u);
    EXPECT_EQ(SelectTest(2, CMD_VIDEO_TEST), 11u);
    EXPECT_EQ(SelectTest(5, CMD_VIDEO_TEST), 8u);
    EXPECT_EQ(SelectTest(7, CMD_VIDEO_TEST), 9u);
}

TEST(TestSelection, EveryValueStandsForItsSet) {
    const char* sets[15] = {"PMDV", "P", "D", "V", "M", "PD", "PV", "PM", "PDV", "PMV", "PMD", "DV", "MD", "MDV", "MV"};
    for (uint32_t v = 0; v < 15; ++v) {
        const TestSelection s = SelectionOf(v);
        std::string got;
        if (s.cpu) got += 'P';
        if (s.memory) got += 'M';
        if (s.disk) got += 'D';
        if (s.video) got += 'V';
        EXPECT_EQ(got, sets[v]) << v;
    }
    const TestSelection none = SelectionOf(15);
    EXPECT_FALSE(none.cpu || none.memory || none.disk || none.video);
}

TEST(Placement, StoredRectangleScreenAndNarrowWidths) {
    EXPECT_EQ(PlaceMainWindow(WindowRect{0, 1919, 0, 1079}, 1920, 1080), Placement::Maximised);
    EXPECT_EQ(PlaceMainWindow(WindowRect{0, 1918, 0, 1079}, 1920, 1080), Placement::Stored);
    EXPECT_EQ(PlaceMainWindow(WindowRect{10, 50, 20, 40}, 1920, 1080), Placement::Stored);
    EXPECT_EQ(PlaceMainWindow(WindowRect{10, 49, 20, 400}, 1920, 1080), Placement::Default);
    EXPECT_EQ(PlaceMainWindow(WindowRect{}, 1920, 1080), Placement::Default);
}

TEST(ReportScrolling, RangeFollowsTheLinesNotThePaneSize) {
    // 10 rows of 16 pixels; lines 0..headernum are not shown.
    EXPECT_EQ(ReportScrollMax(0, 0, 160, 16), 0);
    EXPECT_EQ(ReportScrollMax(9, 0, 160, 16), 0);    // 8 lines shown + 2 < 10 rows
    EXPECT_EQ(ReportScrollMax(100, 0, 160, 16), 91);  // 99 + 2 - 10
    EXPECT_EQ(ReportScrollMax(100, 20, 160, 16), 71);
    EXPECT_EQ(ReportScrollMax(101, 0, 160, 16), 92);
    EXPECT_EQ(ReportScrollMax(100, 0, 320, 16), 81);
    EXPECT_EQ(ReportHScrollMax(100 * 8, 800), (800 - 400) / 400 + 64);
    EXPECT_EQ(ReportHScrollMax(0, 0), 64);
}

TEST(ReportScrolling, NewestLineStaysInViewDuringARun) {
    // Line z stands at row z - nVPos - 1 - headernum.
    EXPECT_EQ(FollowNewestLine(0, 5, 0, 160, 16), 0);
    EXPECT_EQ(FollowNewestLine(0, 12, 0, 160, 16), 1);  // line 11 at row 9, the last row
    EXPECT_EQ(FollowNewestLine(0, 40, 15, 160, 16), 14);
    EXPECT_EQ(FollowNewestLine(30, 12, 0, 160, 16), 30);  // never back
}

TEST(ReportScrolling, AStepThatWouldLeaveTheRangeIsIgnored) {
    EXPECT_EQ(ApplyScrollStep(5, 3, 10), 8);
    EXPECT_EQ(ApplyScrollStep(8, 3, 10), 8);  // page down past the end: the view stays
    EXPECT_EQ(ApplyScrollStep(2, -3, 10), 2);
    EXPECT_EQ(ApplyScrollStep(2, -2, 10), 0);
    EXPECT_EQ(ApplyScrollStep(0, 10, 10), 10);
}

MouseState Click(MouseButton b, bool shift = false, bool control = false, bool left = false, bool right = false) {
    MouseState m;
    m.button = b;
    m.shift = shift;
    m.control = control;
    m.left_held = left;
    m.right_held = right;
    return m;
}

struct Step {
    int cursor, n;
    MouseState mouse;
    int shown, after;
};

TEST(StatusPaneSteps, EveryButtonAndModifier) {
    const MouseState left = Click(MouseButton::Left), right = Click(MouseButton::Right),
                     middle = Click(MouseButton::Middle);
    const std::vector<Step> steps = {
        {5, 100, left, 5, 4},                                      // shows the current one, then back
        {1, 100, left, 1, 100},                                    // back one from 1: the last
        {20, 100, Click(MouseButton::Left, true), 11, 11},         // back 9
        {20, 100, Click(MouseButton::Left, false, false, false, true), 11, 11},
        {9, 100, Click(MouseButton::Left, true), 100, 100},        // back 9 from 9: the last
        {3, 100, Click(MouseButton::Left, true), 94, 94},          // negative: + n
        {90, 100, Click(MouseButton::Left, false, true), 9, 9},    // back 81
        {81, 100, Click(MouseButton::Left, false, true), 1, 1},    // lands on 0: 1
        {30, 100, Click(MouseButton::Left, false, true), 49, 49},  // -51 + 100
        {30, 40, Click(MouseButton::Left, false, true), 1, 1},     // -51 + 40 < 1: 1
        {5, 100, right, 6, 6},
        {100, 100, right, 1, 1},                                    // past the last: 1
        {95, 100, Click(MouseButton::Right, true), 4, 4},          // forward 9 wraps
        {95, 100, Click(MouseButton::Right, false, false, true), 4, 4},
        {10, 100, Click(MouseButton::Right, false, true), 91, 91},  // forward 81
        {50, 100, Click(MouseButton::Right, false, true), 31, 31},  // 131 - 100
        {50, 60, Click(MouseButton::Right, false, true), 60, 60},   // 131 - 60 still past: 60
        {10, 100, middle, 19, 19},                                  // forward 9
        {10, 100, Click(MouseButton::Middle, true), 91, 91},        // forward 81
        {10, 100, Click(MouseButton::Middle, false, false, false, true), 91, 91},
        {90, 100, Click(MouseButton::Middle, false, true), 9, 9},   // back 81
        {90, 100, Click(MouseButton::Middle, false, false, true), 9, 9},
    };
    for (const Step& s : steps) {
        const BottomTextStep got = StepBottomText(s.cursor, s.n, s.mouse);
        EXPECT_EQ(got.shown, s.shown) << s.cursor << "/" << s.n << " button " << int(s.mouse.button);
        EXPECT_EQ(got.cursor, s.after) << s.cursor << "/" << s.n << " button " << int(s.mouse.button);
    }
}

TEST(StatusPaneSteps, FewLinesAndAnUnplacedCursorStayInsideTheBuffer) {
    // Fewer than 9 (or 81) lines: the rules alone would leave the buffer.
    for (int n = 1; n <= 12; ++n) {
        for (int cursor = 0; cursor <= n; ++cursor) {
            for (MouseButton b : {MouseButton::Left, MouseButton::Right, MouseButton::Middle}) {
                for (int mods = 0; mods < 16; ++mods) {
                    const MouseState m = Click(b, mods & 1, mods & 2, mods & 4, mods & 8);
                    const BottomTextStep s = StepBottomText(cursor, n, m);
                    ASSERT_GE(s.shown, 1) << n << " " << cursor;
                    ASSERT_LE(s.shown, n) << n << " " << cursor;
                    ASSERT_GE(s.cursor, 1) << n << " " << cursor;
                    ASSERT_LE(s.cursor, n) << n << " " << cursor;
                }
            }
        }
    }
    EXPECT_EQ(StepBottomText(3, 5, Click(MouseButton::Left, true)).cursor, 4);   // -6 + 5 = -1 -> 4
    EXPECT_EQ(StepBottomText(3, 5, Click(MouseButton::Right, true)).cursor, 2);  // 12 - 5 = 7 -> 2
}

TEST(ProcessorName, ModelNameAndCountForms) {
    const std::string cpuinfo =
        "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) CPU  E5-2680 v4 @ 2.40GHz  \n"
        "\nprocessor\t: 1\nmodel name\t: something else\n";
    EXPECT_EQ(ModelName(cpuinfo), "Intel(R) Xeon(R) CPU  E5-2680 v4 @ 2.40GHz");
    EXPECT_EQ(ModelName("processor : 0\nBogoMIPS : 100\n"), "");
    EXPECT_EQ(ProcessorText(1, "AMD Ryzen 7 5800X 8-Core Processor"), "1 AMD Ryzen 7 5800X 8-Core Processor");
    EXPECT_EQ(ProcessorText(8, "AMD Ryzen 7 5800X 8-Core Processor"), "8 AMD Ryzen 7 5800X 8-Core Processors");
    EXPECT_EQ(ProcessorText(2, ""), "2 Unknown Microprocessors");
    EXPECT_GE(AllowedProcessorCount(), 1);
}

TEST(CommandLine, TheWholeLineIsOneFileName) {
    EXPECT_EQ(CommandLineFileName({}), "");
    EXPECT_EQ(CommandLineFileName({"/tmp/run.bmf"}), "/tmp/run.bmf");
    EXPECT_EQ(CommandLineFileName({"/tmp/my", "test", "run.bmf"}), "/tmp/my test run.bmf");
    const std::string long_name(3000, 'x');
    EXPECT_EQ(CommandLineFileName({long_name}), long_name);
}

TEST(SaveDialog, TheChosenFilterGivesTheExtension) {
    const struct {
        const char* filter;
        const char* extension;
    } rows[] = {
        {kBenchmarkFilter, "BMF"},
        {kAllFilesFilter, ""},
        {"Text Files (*.txt *.log)", "txt"},
        {"Anything (*)", ""},
        {"Reports (report.*)", ""},
        {"No patterns", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(FilterExtension(row.filter), row.extension) << row.filter;
}

}  // namespace
