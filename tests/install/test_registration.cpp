// The registry entries, the program group commands and the mimeapps.list edit, each on its own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "install/bmf_association.h"
#include "shared/places.h"
#include "install/progman.h"
#include "install/registration.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;
using kp::reg::Key;
using kp::reg::Root;

namespace {

SetupState TestSetup() {
    SetupState s;
    s.installDirectory = kt::FreshDir("Program Files") + "/kestrel";
    s.userName = "Ann Example";
    return s;
}

void ClearConfig() {
    fs::remove_all(ConfigHome());
    fs::remove_all(DataHome());
    fs::create_directories(ConfigHome());
}

// A root whose lock cannot be taken (its lock file is a directory) can be read but not changed,
// whoever runs the test.
void Freeze(Root root) {
    const std::string lock = kp::reg::RootFile(root) + ".lock";
    fs::remove(lock);
    fs::create_directories(lock);
}

TEST(RegistryEntries, StopAtTheFirstFailureKeepingWhatWasWritten) {
    const SetupState setup = TestSetup();
    struct Case {
        const char* name;
        std::function<void()> arrange;
        int result;
        const char* box;
        Root lastRoot;  // the last entry written
        const char* lastKey;
        const char* lastValue;
    } cases[] = {
        {"per-user key", [] { Freeze(Root::CurrentUser); }, kRegistryNoKey,
         "Error in creating Kestrel key in the registry", Root::CurrentUser, nullptr, nullptr},
        {"install directory value",
         [] {
             Key::Create(Root::CurrentUser, kUserKey);
             Freeze(Root::CurrentUser);
         },
         kRegistryNoValue, "Error in creating Destination value in the registry", Root::CurrentUser, nullptr, nullptr},
        {"machine key", [] { Freeze(Root::LocalMachine); }, kRegistryNoKey,
         "Error in creating Kestrel key in the registry", Root::CurrentUser, kUserKey, "Your Name"},
        {"version value",
         [] {
             Key::Create(Root::LocalMachine, kMachineKey);
             Freeze(Root::LocalMachine);
         },
         kRegistryNoValue, "Error in creating Version value in the registry", Root::CurrentUser, kUserKey, "Your Name"},
        {"class key", [] { Freeze(Root::ClassesRoot); }, kRegistryNoKey, "Error in creating root key in the registry",
         Root::LocalMachine, kUninstallKey, "Kestrel Install Directory"},
        {"class value",
         [] {
             Key::Create(Root::ClassesRoot, kBmfClass);
             Freeze(Root::ClassesRoot);
         },
         kRegistryNoValue, "Error in creating bmf value in the registry", Root::LocalMachine, kUninstallKey,
         "Kestrel Install Directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearConfig();
        c.arrange();
        kp::BoxRecorder boxes;
        EXPECT_EQ(SetRegistryEntries(setup), c.result);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, c.box);
        EXPECT_EQ(boxes.boxes()[0].caption, "Registry Exception");
        EXPECT_EQ(boxes.boxes()[0].icon, kp::Icon::Exclamation);
        if (c.lastKey) {
            auto key = Key::Open(c.lastRoot, c.lastKey);
            ASSERT_TRUE(key);
            EXPECT_TRUE(key->QueryString(c.lastValue));
        }
        // The desktop's association follows the registry's only when all of it is written.
        EXPECT_FALSE(fs::exists(BmfMimePackageFile()));
        EXPECT_FALSE(fs::exists(MimeAppsFile()));
    }
}

// A sender is written only with an address: " (name)" would stand in for the one the user types.
TEST(RegistryEntries, SenderOnlyWithAnAddress) {
    struct Case {
        const char* address;
        const char* sender;  // nullptr: no value
    } cases[] = {{"", nullptr}, {"ann@example.org", "ann@example.org (Ann Example)"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        ClearConfig();
        SetupState setup = TestSetup();
        setup.emailAddress = c.address;
        kp::BoxRecorder boxes;
        EXPECT_EQ(SetRegistryEntries(setup), kRegistryOk);
        EXPECT_TRUE(boxes.boxes().empty());
        const auto sender = Key::Open(Root::CurrentUser, kUserKey)->QueryString("Sender");
        EXPECT_EQ(sender.has_value(), c.sender != nullptr);
        if (c.sender) {
            EXPECT_EQ(*sender, c.sender);
        }
    }
}

TEST(ProgramGroup, CommandsActOnTheirFiles) {
    ClearConfig();
    const std::string app = ApplicationsDirectory() + "/";
    const std::string tool = app + "test-group-tool.desktop";
    struct Step {
        std::string command;
        int result;
        std::vector<std::string> items;  // the group's desktop entries afterwards
    } steps[] = {
        {"[ShowGroup(Test Group,1)]", 0, {}},  // no such group
        {"[AddItem(\"/opt/tool\",Tool,,0,,,,)]", 0, {}},  // no current group
        {"[CreateGroup(Test Group,)]", 1, {}},
        {"[ShowGroup(Test Group,1)]", 1, {}},
        {"[ReplaceItem(Tool)]", 1, {}},  // there is nothing to replace yet
        {"[AddItem(\"/opt/a,b/tool\" -x,Tool,,0,,,\"/opt/a,b\",)]", 1, {tool}},  // commas inside quotes
        {"[ReplaceItem(Tool)]", 1, {}},
        {"[AddItem(\"/opt/my tools/tool\",Tool,,0,,,,)]", 1, {tool}},
        {"[AddItem(\"/opt/my tools/tool\",Tool,,0,,,,)]", 1, {tool}},  // the same title, the same file
        {"[DeleteItem(Other)]", 0, {tool}},
        {"CreateGroup(Test Group,)", 0, {tool}},  // not a command
        {"[AddItem(\"/opt/tool,Tool,,0,,,,)]", 0, {tool}},  // unbalanced quotation mark
        {"[Unknown(Tool)]", 0, {tool}},
        {"[DeleteItem(Tool)]", 1, {}},
        {"[AddItem(\"/opt/tool\",Tool,,0,,,,)]", 1, {tool}},
        {"[DeleteGroup(Test Group)]", 1, {}},
        {"[DeleteGroup(Test Group)]", 0, {}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.command);
        EXPECT_EQ(ProgmanExecute(s.command), s.result);
        EXPECT_EQ(GroupItemFiles("Test Group"), s.items);
        if (s.command == "[AddItem(\"/opt/a,b/tool\" -x,Tool,,0,,,\"/opt/a,b\",)]") {
            EXPECT_EQ(kt::ReadFile(tool),
                      "[Desktop Entry]\nType=Application\nName=Tool\nExec=/opt/a,b/tool -x\nPath=/opt/a,b\n"
                      "Icon=tool\nTerminal=false\nCategories=X-Test-Group;\n");
        }
    }
    EXPECT_FALSE(fs::exists(GroupMenuFile("Test Group")));
    EXPECT_FALSE(fs::exists(GroupDirectoryFile("Test Group")));
}

TEST(ProgramGroup, ExecArgumentsAreQuotedForTheDesktop) {
    struct Case {
        const char* argument;
        const char* quoted;
    } cases[] = {
        {"/usr/bin/kestrel", "/usr/bin/kestrel"},
        {"/home/ann/Program Files/kestrel", "\"/home/ann/Program Files/kestrel\""},
        {"/opt/it's", "\"/opt/it's\""},
        {"/opt/a\"b", "\"/opt/a\\\"b\""},
        {"/opt/$HOME", "\"/opt/\\$HOME\""},
        {"/opt/a\\b", "\"/opt/a\\\\b\""},
        {"/opt/100%", "/opt/100%%"},
        {"", "\"\""},
    };
    for (const Case& c : cases) EXPECT_EQ(QuoteExecArgument(c.argument), c.quoted) << c.argument;
}

// Rows 8 and 5 have no item: an item of that title left by an earlier installation goes.
TEST(ProgramGroup, StaleItemsWithoutARowGo) {
    ClearConfig();
    ProgmanExecute("[CreateGroup(Kestrel 1.21,)]");
    ProgmanExecute("[AddItem(\"/old/loadmeter\",Kestrel Performance File,,0,,,,)]");
    ProgmanExecute("[AddItem(\"/old/libkeschk.so\",Kestrel Performance DLL,,0,,,,)]");
    ProgmanExecute("[AddItem(\"/old/kestrel\",Kestrel 1.21,,0,,,,)]");
    CreateProgramGroup(TestSetup());
    const std::vector<std::string> items = GroupItemFiles("Kestrel 1.21");
    EXPECT_EQ(items.size(), 7u);
    for (const std::string& item : items) {
        EXPECT_EQ(item.find("kestrel-performance"), std::string::npos) << item;
        EXPECT_EQ(kt::ReadFile(item).find("/old/"), std::string::npos) << item;
    }
}

// The default is one line among the user's own; taking it out gives the file back as it was.
TEST(Association, MimeAppsEditKeepsEveryOtherLine) {
    const std::string ours = "application/x-kestrel-bmf=kestrel-1.21-kestrel-1.21.desktop";
    struct Case {
        const char* name;
        std::string before;
        std::string with;
    } cases[] = {
        {"no file", "", "[Default Applications]\n" + ours + "\n"},
        {"other sections only", "[Added Associations]\nimage/png=viewer.desktop;\n",
         "[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n" + ours + "\n"},
        {"other defaults",
         "[Default Applications]\ntext/plain=editor.desktop\n\n[Removed Associations]\ntext/html=web.desktop;\n",
         "[Default Applications]\ntext/plain=editor.desktop\n" + ours +
             "\n\n[Removed Associations]\ntext/html=web.desktop;\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearConfig();
        if (!c.before.empty()) kt::WriteFile(MimeAppsFile(), c.before);
        ASSERT_TRUE(SetDefaultApplication(kBmfMimeType, "kestrel-1.21-kestrel-1.21.desktop"));
        EXPECT_EQ(kt::ReadFile(MimeAppsFile()), c.with);
        ASSERT_TRUE(SetDefaultApplication(kBmfMimeType, "kestrel-1.21-kestrel-1.21.desktop"));
        EXPECT_EQ(kt::ReadFile(MimeAppsFile()), c.with);  // once only
        ASSERT_TRUE(RemoveDefaultApplication(kBmfMimeType, "kestrel-1.21-kestrel-1.21.desktop"));
        EXPECT_EQ(kt::ReadFile(MimeAppsFile()), c.before);
    }
}

}  // namespace
