#include "platform/spooler.h"

#include <dlfcn.h>

namespace kp {

std::optional<SpoolerAnswer> LastSpoolerAnswer() {
    // RTLD_NOLOAD: only the copy already in the process holds the answer to its requests.
    void* lib = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (lib == nullptr) return std::nullopt;
    using StatusFn = int (*)();
    using TextFn = const char* (*)();
    const auto status = reinterpret_cast<StatusFn>(dlsym(lib, "cupsLastError"));
    const auto text = reinterpret_cast<TextFn>(dlsym(lib, "cupsLastErrorString"));
    std::optional<SpoolerAnswer> answer;
    if (status != nullptr) {
        answer = SpoolerAnswer{status(), {}};
        if (text != nullptr) {
            if (const char* t = text()) answer->text = t;
        }
    }
    dlclose(lib);
    return answer;
}

bool SpoolerRefused(int status) {
    // Successful, informational and redirection answers are below the client errors (0x0400);
    // CUPS's own codes for a request that never got an answer are above the server errors.
    return status >= 0x0400 || status < 0;
}

}  // namespace kp
