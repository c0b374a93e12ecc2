// Command identifiers of the main program's menus, accelerators and buttons.
#pragma once

enum Command : int {
    CMD_SAVE = 102,
    CMD_SAVE_AS = 103,
    CMD_CLOSE = 107,
    CMD_MAIL = 108,
    CMD_RESULT_COMPARISONS = 111,
    CMD_PRINT = 24335,
};
