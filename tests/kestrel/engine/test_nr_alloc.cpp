// Vectors and matrices with free index bounds.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "kestrel/engine/processor/kernels_elimination.h"
#include "kestrel/engine/processor/nr_alloc.h"
#include "platform/msgbox.h"
#include "platform/pages.h"
#include "platform/ui_thread.h"

namespace {

bool PageAligned(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % uintptr_t(sysconf(_SC_PAGESIZE)) == 0;
}

class NrAlloc : public ::testing::Test {
protected:
    void SetUp() override {
        kp::MarkUiThread();
        blocks_ = kp::LivePageBlocks();
    }
    void TearDown() override { EXPECT_EQ(kp::LivePageBlocks(), blocks_); }
    size_t blocks_ = 0;
    kp::BoxRecorder boxes;
};

TEST_F(NrAlloc, VectorsStartAtTheirLowerBound) {
    int32_t* v = allocate_long_vector(3, 7);
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(PageAligned(&v[3]));  // index 3 is the first entry of the block
    for (int i = 3; i <= 7; ++i) EXPECT_EQ(v[i], 0);
    for (int i = 3; i <= 7; ++i) v[i] = i * 10;
    EXPECT_EQ(v[7], 70);
    EXPECT_EQ(kp::LivePageBlocks(), blocks_ + 1);
    free_long_vector(v, 3);

    float* f = allocate_float_vector(-2, 2);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(PageAligned(&f[-2]));
    for (int i = -2; i <= 2; ++i) EXPECT_EQ(f[i], 0.0f);
    free_float_vector(f, -2);

    int* n = allocate_int_vector(1, 1);
    ASSERT_NE(n, nullptr);
    EXPECT_TRUE(PageAligned(&n[1]));
    free_int_vector(n, 1);
    free_int_vector(nullptr, 1);  // ignored
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(NrAlloc, MatricesHaveOneZeroFilledVectorPerRow) {
    float** m = allocate_float_matrix(0, 4, 1, 3);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(kp::LivePageBlocks(), blocks_ + 6);  // the row pointers and five rows
    for (int i = 0; i <= 4; ++i) {
        EXPECT_TRUE(PageAligned(&m[i][1]));
        for (int j = 1; j <= 3; ++j) EXPECT_EQ(m[i][j], 0.0f);
    }
    EXPECT_TRUE(PageAligned(&m[0]));
    m[4][3] = 1.5f;
    m[0][1] = 2.5f;
    EXPECT_EQ(m[4][3], 1.5f);
    EXPECT_EQ(m[0][1], 2.5f);
    free_float_matrix(m, 0, 4, 1);

    int32_t** l = allocate_long_matrix(1, 3, 0, 2);
    ASSERT_NE(l, nullptr);
    for (int i = 1; i <= 3; ++i) {
        for (int j = 0; j <= 2; ++j) l[i][j] = 10 * i + j;
    }
    EXPECT_EQ(l[3][0], 30);
    EXPECT_EQ(l[1][2], 12);
    free_long_matrix(l, 1, 3, 0);
}

TEST_F(NrAlloc, AFailedAllocationShowsItsBoxAndGivesNothing) {
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(allocate_long_vector(1, 10), nullptr);
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(allocate_float_matrix(1, 10, 1, 10), nullptr);
    kp::FailNextPageAllocations(1);
    EXPECT_EQ(allocate_long_matrix(1, 10, 1, 10), nullptr);
    ASSERT_EQ(boxes.boxes().size(), 3u);
    for (const kp::BoxRequest& box : boxes.boxes()) {
        EXPECT_EQ(box.text, "Allocation Error!");
        EXPECT_EQ(box.caption, "Fatal Memory Exception");
        EXPECT_EQ(box.icon, kp::Icon::Stop);
        EXPECT_EQ(box.owner, kp::Owner::Main);
    }
}

// In a process whose address space leaves room for one 64 MB row only: a matrix of three such
// rows. 0 when it came back null with its first row released and one box shown.
int MatrixWithAFailingRow() {
    kp::BoxRecorder recorder;
    const size_t before = kp::LivePageBlocks();
    long pages = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr || std::fscanf(f, "%ld", &pages) != 1) return 2;
    std::fclose(f);
    const rlim_t room = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(96) << 20);
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = room;
    if (setrlimit(RLIMIT_AS, &limit) != 0) return 2;
    int32_t** m = allocate_long_matrix(1, 3, 1, 16 << 20);
    return m == nullptr && kp::LivePageBlocks() == before && recorder.boxes().size() == 1 ? 0 : 1;
}

TEST_F(NrAlloc, AMatrixWhoseRowFailsReleasesTheRowsMadeAndGivesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(MatrixWithAFailingRow()), ::testing::ExitedWithCode(0), "");
}

TEST_F(NrAlloc, ConvertedMatrixViewsAnArrayRowByRow) {
    float data[2 * 3] = {1, 2, 3, 4, 5, 6};
    float** v = convert_matrix(data, 1, 2, 1, 3);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v[1][1], 1.0f);
    EXPECT_EQ(v[1][3], 3.0f);
    EXPECT_EQ(v[2][1], 4.0f);
    v[2][3] = 9.0f;
    EXPECT_EQ(data[5], 9.0f);
    free_convert_matrix(v, 1, 2, 1, 3);

    float** w = convert_matrix(data, 0, 1, 0, 2);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[1][0], 4.0f);
    free_convert_matrix(w, 0, 1, 0, 2);
}

}  // namespace
