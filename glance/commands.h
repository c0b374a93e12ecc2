// The viewer's commands (menu "MdiMenu", the tool buttons and the frame's own commands).
#pragma once

namespace glance {

enum Command : int {
    CMD_NEW_DOCUMENT = 10,   // an empty document window
    CMD_OPEN = 11,           // "&Open BMF files"
    CMD_MAIL = 12,           // "&Mail"
    CMD_MAIL_ALL = 13,       // "M&ail All"
    CMD_PRINTER_SETUP = 14,  // "P&rinter setup..."
    CMD_PRINT = 16,          // "&Print..."
    CMD_SAVE_AS = 17,        // "&Save as..."
    CMD_CLOSE = 18,          // "&Close"
    CMD_EXIT = 19,           // "E&xit"
    CMD_CASCADE = 20,        // "&Cascade"
    CMD_TILE_HORIZONTAL = 21,
    CMD_ARRANGE_ICONS = 22,
    CMD_CLOSE_ALL = 23,
    CMD_HELP_CONTENTS = 24,
    CMD_USING_HELP = 25,
    CMD_ABOUT = 26,
    CMD_PRINT_ALL = 27,
    CMD_OPEN_REFERENCE = 28,  // "Open &Benchmark Data"
    CMD_NEWEST_DOCUMENT = 30,
    CMD_RESTORE_ALL = 31,
    CMD_TILE_VERTICAL = 32,
    CMD_COPY_ALL = 24323,
    CMD_FONT = 24324,
};

}  // namespace glance
