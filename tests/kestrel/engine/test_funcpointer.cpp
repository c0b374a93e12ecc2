// All nine processor tests through their table, as the runner calls them: each stores a positive
// rate in its record, and no worker is left in a slot.
#include <gtest/gtest.h>

#include "kestrel/engine/run/analyser_link.h"
#include "kestrel/engine/processor/funcpointer.h"
#include "kestrel/engine/processor/kernel_records.h"
#include "tests/kestrel/engine/kernel_test_support.h"

namespace {

class AllNineTests : public kt::KernelRunTest {};

TEST_F(AllNineTests, EachDriverStoresAPositiveRate) {
    perflink.program_directory = COUNTER_LIBRARY_DIR;  // the Queries test loads the real library
    measuring_times.flops_scale = 0.0005;
    const double* rates[kProcessorTests] = {
        &global_bitopstruct.bitopspersec, &global_numsortstruct.sortspersec, &global_flopstruct.flops,
        &global_fourierstruct.fflops,     &global_fftstruct.fflops,         &global_assignstruct.iterspersec,
        &global_sspstruct.iterspersec,    &global_elimstruct.iterspersec,   &global_matrixopsstruct.iterspersec,
    };
    for (int t = 0; t < kProcessorTests; ++t) {
        ASSERT_NE(funcpointer[t], nullptr) << t;
        SCOPED_TRACE(t);
        EXPECT_EQ(funcpointer[t](), 0);
        EXPECT_GT(*rates[t], 0.0);
        EXPECT_TRUE(AllSlotsNull());
    }
    EXPECT_TRUE(report.szGreeting.empty());  // no "Test aborted!"
    EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace
