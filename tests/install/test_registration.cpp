// The registry entries, the program group commands and the mimeapps.list edit, each on its own.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "install/bmf_association.h"
#include "install/progman.h"
#include "install/registration.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "shared/places.h"
#include "tests/support/file_size_limit.h"
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
             Key::Create(Root::LocalMachine, kProductMachineKey);
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
    const std::string toolsTool = app + "test-group-tools-tool.desktop";
    struct Step {
        std::string command;
        int result;
        std::vector<std::string> items;  // the group's desktop entries afterwards
        std::vector<std::string> tools = {};  // those of "Test Group Tools", whose file names begin alike
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
        // A group name that matches only without regard to case (or spacing) is another group;
        // after a failed ShowGroup no group is current.
        {"[ShowGroup(test group,1)]", 0, {tool}},
        {"[DeleteItem(Tool)]", 0, {tool}},
        {"[ShowGroup(Test  Group,1)]", 0, {tool}},
        {"[DeleteItem(Tool)]", 0, {tool}},
        {"[DeleteGroup(TEST GROUP)]", 0, {tool}},
        // A group whose name begins with this one's keeps its items when this one goes.
        {"[CreateGroup(Test Group Tools,)]", 1, {tool}},
        {"[AddItem(\"/opt/tool\",Tool,,0,,,,)]", 1, {tool}, {toolsTool}},
        {"[ShowGroup(Test Group,1)]", 1, {tool}, {toolsTool}},
        {"[DeleteItem(Tool)]", 1, {}, {toolsTool}},
        {"[AddItem(\"/opt/tool\",Tool,,0,,,,)]", 1, {tool}, {toolsTool}},
        {"[DeleteGroup(Test Group)]", 1, {}, {toolsTool}},
        {"[DeleteGroup(Test Group)]", 0, {}, {toolsTool}},
        {"[DeleteGroup(Test Group Tools)]", 1, {}, {}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.command);
        EXPECT_EQ(ProgmanExecute(s.command), s.result);
        EXPECT_EQ(GroupItemFiles("Test Group"), s.items);
        EXPECT_EQ(GroupItemFiles("Test Group Tools"), s.tools);
        if (s.command == "[AddItem(\"/opt/a,b/tool\" -x,Tool,,0,,,\"/opt/a,b\",)]") {
            EXPECT_EQ(kt::ReadFile(tool),
                      "[Desktop Entry]\nType=Application\nName=Tool\nExec=/opt/a,b/tool -x\nPath=/opt/a,b\n"
                      "Icon=tool\nTerminal=false\nCategories=X-Test-Group;\n");
        }
    }
    for (const char* group : {"Test Group", "Test Group Tools"}) {
        EXPECT_FALSE(fs::exists(GroupMenuFile(group))) << group;
        EXPECT_FALSE(fs::exists(GroupDirectoryFile(group))) << group;
    }
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
    // A document's path, always quoted.
    const Case always[] = {
        {"/home/ann/readme.1st", "\"/home/ann/readme.1st\""},
        {"/home/ann/My Files/100% $x`y\"z\\.txt", "\"/home/ann/My Files/100%% \\$x\\`y\\\"z\\\\.txt\""},
    };
    for (const Case& c : always) EXPECT_EQ(QuoteExecArgument(c.argument, true), c.quoted) << c.argument;
}

// An item that opens a file is opened by the desktop's opener when the file is a data row of the
// file table and run itself otherwise, whatever mode the file has on this disk (or whether it is
// there yet); both are application entries.
TEST(ProgramGroup, DocumentsAreOpenedByTheirRowNotTheirMode) {
    struct Case {
        const char* file;
        int mode;  // -1: not there
        bool opened;
    } cases[] = {
        {"kestrel-help.html", 0755, true},
        {"kestrel-help.html", 0644, true},
        {"kestrel-help.html", -1, true},
        {"glance", 0644, false},
        {"glance", 0755, false},
        {"tool", 0644, false},  // no row: a program
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.mode));
        ClearConfig();
        const std::string dir = kt::FreshDir("items");
        const std::string path = dir + "/" + c.file;
        if (c.mode >= 0) {
            kt::WriteFile(path, "x");
            chmod(path.c_str(), mode_t(c.mode));
        }
        ASSERT_EQ(ProgmanExecute("[CreateGroup(Test Group,)]"), 1);
        ASSERT_EQ(ProgmanExecute("[AddItem(\"" + path + "\",Item,,0,,,\"" + dir + "\",)]"), 1);
        const std::string entry = kt::ReadFile(ApplicationsDirectory() + "/test-group-item.desktop");
        EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
        EXPECT_NE(entry.find(std::string("\nExec=") + (c.opened ? "xdg-open \"" + path + "\"" : path) + "\n"), std::string::npos)
            << entry;
    }
}

// A command whose menu file cannot be written fails (the desktop would not show its change).
TEST(ProgramGroup, AMenuThatCannotBeWrittenIsAFailure) {
    ClearConfig();
    const std::string menu = GroupMenuFile("Test Group");
    fs::create_directories(menu);  // a folder in the menu file's place: no rename can replace it
    EXPECT_EQ(ProgmanExecute("[CreateGroup(Test Group,)]"), 0);
    EXPECT_EQ(ProgmanExecute("[ShowGroup(Test Group,1)]"), 0);

    fs::remove(menu);
    ASSERT_EQ(ProgmanExecute("[CreateGroup(Test Group,)]"), 1);
    ASSERT_EQ(ProgmanExecute("[AddItem(\"/opt/tool\",Tool,,0,,,,)]"), 1);
    fs::remove(menu);
    fs::create_directories(menu);
    EXPECT_EQ(ProgmanExecute("[AddItem(\"/opt/other\",Other,,0,,,,)]"), 0);
    EXPECT_EQ(ProgmanExecute("[DeleteItem(Tool)]"), 0);
    EXPECT_EQ(ProgmanExecute("[ReplaceItem(Other)]"), 1);  // the insertion point needs no menu
}

// Without HOME (or with one that is no absolute path) the folders are those of the account's
// home directory, never below "/".
TEST(Places, WithoutHomeTheAccountsHomeDirectory) {
    const struct passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const std::string account = pw->pw_dir;
    const std::string saved[] = {getenv("HOME"), getenv("XDG_DATA_HOME"), getenv("XDG_CONFIG_HOME")};
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
    for (const char* home : {static_cast<const char*>(nullptr), "", "relative"}) {
        SCOPED_TRACE(home ? home : "(unset)");
        if (home) setenv("HOME", home, 1);
        else unsetenv("HOME");
        EXPECT_EQ(DataHome(), account + "/.local/share");
        EXPECT_EQ(ConfigHome(), account + "/.config");
        EXPECT_EQ(UserBinDirectory(), account + "/.local/bin");
        EXPECT_EQ(DefaultInstallDirectory(), account + "/.local/share/kestrel");
    }
    setenv("HOME", saved[0].c_str(), 1);
    setenv("XDG_DATA_HOME", saved[1].c_str(), 1);
    setenv("XDG_CONFIG_HOME", saved[2].c_str(), 1);
    EXPECT_EQ(DataHome(), saved[1]);
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

    // A file kept elsewhere and linked (as dotfile managers do) is edited where it lies and the
    // link stays; a link beside it is never written through; a write that fails (a full disk)
    // leaves the file as it was.
    ClearConfig();
    const std::string kept = kt::WriteFile(kt::FreshDir("dotfiles") + "/mimeapps.list", "[Added Associations]\n");
    fs::create_symlink(kept, MimeAppsFile());
    const std::string victim = kt::WriteFile(kt::TempDir() + "/victim", "untouched");
    fs::create_symlink(victim, MimeAppsFile() + ".tmp");
    ASSERT_TRUE(SetDefaultApplication(kBmfMimeType, "kestrel-1.21-kestrel-1.21.desktop"));
    EXPECT_TRUE(fs::is_symlink(MimeAppsFile()));
    EXPECT_EQ(kt::ReadFile(kept), "[Added Associations]\n\n[Default Applications]\n" + ours + "\n");
    EXPECT_EQ(kt::ReadFile(victim), "untouched");
    const std::string before = kt::ReadFile(kept);
    {
        kt::FileSizeLimit limit(8);
        EXPECT_FALSE(RemoveDefaultApplication(kBmfMimeType, "kestrel-1.21-kestrel-1.21.desktop"));
    }
    EXPECT_EQ(kt::ReadFile(kept), before);
}

}  // namespace
