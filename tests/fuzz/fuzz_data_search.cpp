// Fuzz target of the benchmark file reader: any bytes, handed over as a loaded file's text.
#include <cstddef>
#include <cstdint>

#include "kestrel/engine/report/benchmark_reader.h"
#include "platform/msgbox.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Refusal boxes are answered at once and shown nowhere.
    kp::SetMessageBoxBackend([](const kp::BoxRequest& box) { return kp::DefaultAnswer(box); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DoDataSearch(reinterpret_cast<const char*>(data), size);
    return 0;
}
