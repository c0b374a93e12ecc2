#include "install/launch.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

std::vector<std::string> Words(const std::string& line, size_t most) {
    std::vector<std::string> words;
    size_t i = 0;
    while (words.size() < most) {
        i = line.find_first_not_of(" \t\r\n", i);
        if (i == std::string::npos) break;
        const size_t end = line.find_first_of(" \t\r\n", i);
        words.push_back(line.substr(i, end == std::string::npos ? std::string::npos : end - i));
        if (end == std::string::npos) break;
        i = end;
    }
    return words;
}

}  // namespace

LaunchLine ParseLaunchArguments(const std::vector<std::string>& arguments) {
    LaunchLine l;
    if (arguments.empty()) return l;
    l.floppyMode = arguments[0] == "-f";
    l.valid = arguments.size() == 3 && arguments[1] == kLaunchToken;
    if (arguments.size() >= 3) l.sourceDirectory = arguments[2];
    return l;
}

LaunchLine ParseLaunchInput(const std::string& line) {
    LaunchLine l;
    const std::vector<std::string> w = Words(line, 7);
    if (w.size() < 3) return l;
    l.floppyMode = w[0] == "-f";
    if (w[1] != kLaunchToken) return l;
    for (size_t i = 2; i < w.size(); ++i) l.sourceDirectory += (i > 2 ? " " : "") + w[i];
    l.valid = true;
    return l;
}

InputRead ReadLaunchInput(int fd, int deadlineMs, std::string* line, int* error) {
    line->clear();
    *error = 0;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        *error = errno;
        return InputRead::Failed;
    }
    if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) {
        *error = EPIPE;  // a terminal would wait for a person forever
        return InputRead::Failed;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        struct pollfd p = {fd, POLLIN, 0};
        const int r = poll(&p, 1, left > 0 ? int(left) : 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            *error = errno;
            return InputRead::Failed;
        }
        if (r == 0) {
            *error = ETIMEDOUT;
            return InputRead::Failed;
        }
        char buffer[1024];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errno;
            return InputRead::Failed;
        }
        if (n == 0) {
            *error = EPIPE;  // the end of input: nothing was sent
            return InputRead::Failed;
        }
        line->assign(buffer, size_t(n));
        return InputRead::Read;
    }
}

LaunchLine AcceptLaunch(const LaunchLine& arguments, InputRead read, const std::string& input) {
    if (arguments.valid) return arguments;
    if (read == InputRead::Read) {
        LaunchLine fromInput = ParseLaunchInput(input);
        if (fromInput.valid) return fromInput;
    }
    LaunchLine refused = arguments;
    refused.valid = false;
    return refused;
}

std::string LaunchLineText(const std::string& sourceDirectory) {
    return std::string("-d ") + kLaunchToken + " " + sourceDirectory;
}
