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
