// While a DataSizeLimit lives, the process's data (its heap and private mappings) may grow by at
// most `headroom` bytes beyond what it holds now: a larger allocation fails (root is bound too).
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace kt {

class DataSizeLimit {
public:
    explicit DataSizeLimit(rlim_t headroom) {
        getrlimit(RLIMIT_DATA, &old_);
        std::ifstream status("/proc/self/status");
        std::string key;
        rlim_t kib = 0;
        while (status >> key)
            if (key == "VmData:") {
                status >> kib;
                break;
            }
        rlimit r = old_;
        r.rlim_cur = std::min(old_.rlim_max, kib * 1024 + headroom);
        setrlimit(RLIMIT_DATA, &r);
    }
    ~DataSizeLimit() { setrlimit(RLIMIT_DATA, &old_); }
    DataSizeLimit(const DataSizeLimit&) = delete;
    DataSizeLimit& operator=(const DataSizeLimit&) = delete;

private:
    rlimit old_{};
};

}  // namespace kt
