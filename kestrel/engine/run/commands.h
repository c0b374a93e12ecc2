// Command identifiers of the main program's menus, accelerators and buttons. Every one of them
// reaches the main window's one dispatcher.
#pragma once

enum CommandId : int {
    CMD_STOP = 8,               // the button bar's Stop
    CMD_NEXT_TEST = 10,         // to the progress window: the next part starts
    CMD_MEMORY_TEST = 98,       // "Run &Memory Test"
    CMD_NEW_TEST = 100,
    CMD_OPEN = 101,
    CMD_SAVE = 102,
    CMD_SAVE_AS = 103,
    CMD_SCALING = 104,          // "Test Scaling Efficiency"
    CMD_CLOSE = 107,
    CMD_MAIL = 108,
    CMD_PREFERENCES = 109,
    CMD_EXIT = 110,
    CMD_RESULT_COMPARISONS = 111,
    CMD_ALL_TESTS = 112,
    CMD_CPU_TEST = 113,
    CMD_DISK_TEST = 114,
    CMD_VIDEO_TEST = 115,
    CMD_FIRST_DRIVE = 116,      // the Test Drives entries, one per drive
    CMD_LAST_DRIVE = 141,
    CMD_LAUNCH_GLANCE = 1250,
    CMD_CONFIGURATION = 1251,
    CMD_COPY_ALL = 24323,
    CMD_FONT = 24324,
    CMD_PRINT = 24335,
    CMD_PRINTER_SETUP = 24337,
    CMD_HELP_INDEX = 24341,
    CMD_USING_HELP = 24345,
    CMD_ABOUT = 24346,
};
