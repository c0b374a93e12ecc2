// Every program with windows started where no display can be opened: one line that says so and
// exit code 1, never Qt's abort.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/isolation.h"

namespace {

TEST(ProgramStart, WithoutADisplayEachProgramSaysSoInOneLineAndEndsWithCode1) {
    // No platform asked for (ctest asks for offscreen) and no Wayland display to fall back on.
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    const std::string dir = kt::FreshDir("no-display");
    const std::string log = dir + "/boxes.log";
    setenv("KESTREL_TEST_MSGBOX_LOG", log.c_str(), 1);  // a box shown by mistake never waits
    const char* displays[] = {nullptr, ":987"};  // not set; set to one that is not there
    for (const char* display : displays) {
        if (display == nullptr) unsetenv("DISPLAY");
        else setenv("DISPLAY", display, 1);
        for (const char* program : {"kestrel", "glance", "lumen", "loadmeter", "setup", "setupkes", "unkes"}) {
            SCOPED_TRACE(std::string(program) + " with DISPLAY " + (display != nullptr ? display : "not set"));
            const std::string out = dir + "/out.txt";
            const std::string err = dir + "/err.txt";
            const std::string command = std::string(PROGRAM_DIR) + "/" + program + " </dev/null >" + out + " 2>" + err;
            const int status = std::system(command.c_str());
            ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            EXPECT_EQ(WEXITSTATUS(status), 1);
            EXPECT_EQ(kt::ReadFile(out), "");
            EXPECT_EQ(kt::ReadFile(err),
                      std::string(program) + ": cannot open the display (DISPLAY is not set or not reachable)\n");
        }
    }
    EXPECT_EQ(kt::ReadFile(log), "");
}

}  // namespace
