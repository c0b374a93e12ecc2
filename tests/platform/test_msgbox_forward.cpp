// Boxes of a shared library loaded into a program are shown by the program's own service.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <thread>

#include "platform/msgbox.h"
#include "platform/process.h"

namespace {

TEST(MessageBoxForwarding, LibraryBoxesReachTheProgramsService) {
    kp::MarkUiThread();
    kp::BoxRecorder rec;
    rec.Script({kp::Answer::Cancel});
    void* lib = dlopen((kp::ProgramDirectory() + "/libforward_lib.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto fn = reinterpret_cast<int (*)(const char*)>(dlsym(lib, "ForwardBox"));
    ASSERT_NE(fn, nullptr);
    // The library's own copy of the service is hidden: only the entry point is visible.
    EXPECT_EQ(dlsym(lib, "KestrelMessageBox"), nullptr);

    EXPECT_EQ(kp::Answer(fn("Oject Not Found")), kp::Answer::Cancel);
    ASSERT_EQ(rec.boxes().size(), 1u);
    EXPECT_EQ(rec.boxes()[0].text, "Oject Not Found");
    EXPECT_EQ(rec.boxes()[0].caption, "Performance Exception");
    EXPECT_EQ(rec.boxes()[0].owner, kp::Owner::Active);
    EXPECT_EQ(rec.boxes()[0].buttons, kp::Buttons::OkCancel);

    // From another thread of the program the box waits for the user-interface thread.
    std::thread t([fn] { EXPECT_EQ(kp::Answer(fn("from a thread")), kp::Answer::Ok); });
    t.join();
    EXPECT_EQ(rec.boxes().size(), 1u);
    kp::RunDeferredUiActions();
    ASSERT_EQ(rec.boxes().size(), 2u);
    EXPECT_EQ(rec.boxes()[1].text, "from a thread");
    dlclose(lib);
}

}  // namespace
