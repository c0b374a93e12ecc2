// Reading a file's whole text: to its end, whatever size the file gave up front.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "shared/file_text.h"
#include "tests/support/data_size_limit.h"
#include "tests/support/isolation.h"

namespace {

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = char('a' + i % 23);
    return s;
}

// What the C++ library reads from the path to its end.
std::string Streamed(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A /proc file (whose size says 0), a pipe and a plain file come back whole, each read by steps
// and buffers of several sizes; the count of reads in between is seen.
TEST(FileText, EveryFileIsReadToItsEnd) {
    // The proc file's text does not change while the test runs.
    const std::string proc = "/proc/self/environ";
    const std::string expected_proc = Streamed(proc);
    ASSERT_FALSE(expected_proc.empty());
    const std::string big = Pattern(size_t(3) << 20);  // more than a pipe holds, less than a step
    const std::string plain = kt::WriteFile(kt::TempDir() + "/plain.txt", big);

    struct Case {
        const char* name;
        std::string expected;
        std::function<int()> open;
    };
    std::thread writer;
    const Case cases[] = {
        {"proc file", expected_proc, [&] { return open(proc.c_str(), O_RDONLY | O_CLOEXEC); }},
        {"pipe", big,
         [&] {
             int fds[2];
             if (pipe(fds) != 0) return -1;
             writer = std::thread([fd = fds[1], &big] {
                 size_t done = 0;
                 while (done < big.size()) {
                     const ssize_t n = write(fd, big.data() + done, big.size() - done);
                     if (n <= 0) break;
                     done += size_t(n);
                 }
                 close(fd);
             });
             return fds[0];
         }},
        {"plain file", big, [&] { return open(plain.c_str(), O_RDONLY | O_CLOEXEC); }},
    };
    for (const Case& c : cases) {
        const int fd = c.open();
        ASSERT_GE(fd, 0) << c.name;
        std::string text = "left over";
        int reads = 0;
        EXPECT_EQ(ReadFileText(fd, &text, [&reads] { ++reads; }), FileText::Ok) << c.name;
        close(fd);
        if (writer.joinable()) writer.join();
        EXPECT_EQ(text.size(), c.expected.size()) << c.name;
        EXPECT_TRUE(text == c.expected) << c.name;
        EXPECT_GE(reads, 1) << c.name;
    }
}

// A source without end (a device) grows the buffer until memory runs out: that is said, and the
// buffer is given back.
TEST(FileText, ASourceWithoutEndRunsOutOfMemory) {
    const int fd = open("/dev/zero", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string text;
    {
        const kt::DataSizeLimit limit(rlim_t(64) << 20);
        EXPECT_EQ(ReadFileText(fd, &text), FileText::NoMemory);
    }
    close(fd);
    EXPECT_TRUE(text.empty());
    EXPECT_LT(text.capacity(), size_t(4096));
}

}  // namespace
