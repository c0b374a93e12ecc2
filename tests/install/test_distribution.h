// A distribution folder for the installation tests: every row of the file table as a gzip
// member of a small original, each with its own time, and the expander beside them.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

struct TestDistribution {
    std::string directory;
    std::map<std::string, std::string> originals;  // by target name
    std::map<std::string, mode_t> modes;           // by target name
};

// Makes the distribution in `directory` (created); rows numbered `first`..`last` only.
TestDistribution MakeTestDistribution(const std::string& directory, int first = 0, int last = 99,
                                      bool withExpander = true);
// Copies the expander program into a folder.
void CopyExpander(const std::string& directory);

// A stand-in program (a shell script) that records its start into <recordDir>/<name>: the
// argument count, each argument in brackets, its working directory, and "stdin:" followed by
// what it read from standard input (only when `readsInput`), then ends.
std::string StandInScript(const std::string& recordDir, const std::string& name, bool readsInput);
// Writes the stand-in as an executable file.
void WriteStandIn(const std::string& path, const std::string& recordDir, const std::string& name,
                  bool readsInput = false);
// The record of a stand-in started detached: waits until it is complete (at most a minute,
// then empty: the test fails on the content, never on the time).
std::string WaitForRecord(const std::string& path);
