// The printer system's answer to the last request this thread sent it: the status and the text
// that CUPS keeps per thread. Qt's print support sends a job to CUPS in the program's own process,
// right as the job's painter ends, so reading the answer then tells whether CUPS took the job.
// libcups is read where it is already loaded (Qt's CUPS support brings it); a process without it
// sent nothing to CUPS.
#pragma once

#include <optional>
#include <string>

namespace kp {

struct SpoolerAnswer {
    int status = 0;    // an IPP status code: below 0x0400 the request was taken
    std::string text;  // CUPS's own text for it
};

// Nothing when libcups is not loaded in this process.
std::optional<SpoolerAnswer> LastSpoolerAnswer();

// True when the status says the request was refused or never reached the printer system.
bool SpoolerRefused(int status);

}  // namespace kp
