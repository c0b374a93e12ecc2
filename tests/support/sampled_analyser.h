// The real analyser installed in a folder of its own beside a counter library that tallies its
// samples (tests/kestrel/engine/sample_tally_keschk.cpp): a test waits until the analyser has
// sampled a counter in the current interval instead of waiting for time.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "shared/perf_link.h"
#include "tests/support/isolation.h"

namespace kt {

class SampledAnalyser {
public:
    SampledAnalyser(const std::string& loadmeter, const std::string& tally_library)
        : directory_(FreshDir("sampled-analyser")), tally_(directory_ + "/samples") {
        std::filesystem::copy_file(loadmeter, directory_ + "/loadmeter");
        std::filesystem::copy_file(tally_library, directory_ + "/" + kAnalyserCounterLibrary);
        setenv("KESCHK_SAMPLE_TALLY", tally_.c_str(), 1);
    }
    // Where the analyser is started from.
    const std::string& directory() const { return directory_; }
    // Where the tally stands now.
    long Mark() const {
        struct stat st{};
        return stat(tally_.c_str(), &st) == 0 ? long(st.st_size) : 0;
    }
    // Waits until, after `mark`, the analyser has taken a sample of the named counter (moved:
    // one in which its value had moved on). The bound only keeps a fault from hanging the test.
    bool Sampled(long mark, const std::string& counter, bool moved = false) const {
        const std::string line = counter + (moved ? "\t1\n" : "\t");
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            const std::string tally = ReadFile(tally_);
            if (tally.size() > size_t(mark)) {
                const std::string since = "\n" + tally.substr(size_t(mark));
                if (since.find("\n" + line) != std::string::npos) return true;
            }
            if (std::chrono::steady_clock::now() > limit) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

private:
    std::string directory_;
    std::string tally_;
};

}  // namespace kt
