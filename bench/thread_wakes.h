// Every thread of this process with its name and its voluntary switches so far: each one a wake
// after the thread slept.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>

using ThreadWakes = std::map<int, std::pair<std::string, long>>;  // by thread id

inline ThreadWakes TakeThreadWakes() {
    ThreadWakes all;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ignored)) {
        std::ifstream in(task.path() / "status");
        std::string name;
        long voluntary = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("Name:", 0) == 0) name = line.substr(line.find_first_not_of(" \t", 5));
            else if (line.rfind("voluntary_ctxt_switches:", 0) == 0) voluntary = std::atol(line.c_str() + 24);
        }
        all[std::atoi(task.path().filename().c_str())] = {name, voluntary};
    }
    return all;
}
