// The launch of the setup companion: the launcher starts it with the launch line
// "-d <token> <source folder>" ("-f" in place of "-d" for an installation from several media) on
// its command line (three arguments, the folder whole) and the same text, without a line end, on
// its standard input. The companion accepts a valid command line, or else a valid line read
// from a pipe; a read that fails (end of input, no pipe, nothing within the deadline) never
// accepts.
#pragma once

#include <string>
#include <vector>

// The token the companion requires (compared case-sensitively).
inline constexpr const char* kLaunchToken = "0x7c14e9dRq305";

struct LaunchLine {
    bool valid = false;
    bool floppyMode = false;
    std::string sourceDirectory;
};

// The launch line of the command line (the arguments after the program's name): valid with
// exactly three arguments of which the second is the token; floppy mode when the first is "-f"
// (whatever the count).
LaunchLine ParseLaunchArguments(const std::vector<std::string>& arguments);
// A line read from standard input: blank-separated words (up to seven); valid with three or more
// words of which the second is the token; the source folder is words 3 to 7 joined with one blank.
LaunchLine ParseLaunchInput(const std::string& line);

enum class InputRead {
    Read,    // *line holds what was read
    Failed,  // *error holds the system's error number
};
// Reads standard input once (at most 1024 bytes) when it is a pipe or a socket, waiting at most
// `deadlineMs` for the first bytes. Not a pipe or socket (a terminal, a file): Failed with EPIPE,
// without reading; end of input: Failed with EPIPE; nothing in time: Failed with ETIMEDOUT.
InputRead ReadLaunchInput(int fd, int deadlineMs, std::string* line, int* error);

// The companion's decision: the command line when valid, else the line read when valid; nothing
// valid: refused (valid == false).
LaunchLine AcceptLaunch(const LaunchLine& arguments, InputRead read, const std::string& input);

// The launch line the launcher sends for a source folder.
std::string LaunchLineText(const std::string& sourceDirectory);
