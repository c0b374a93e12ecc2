#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/isolation.h"

namespace fs = std::filesystem;
using kp::reg::Key;
using kp::reg::Root;
using kp::reg::Type;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveStore(); }
    void TearDown() override { RemoveStore(); }
    static void RemoveStore() {
        std::error_code ec;
        fs::remove_all(fs::path(kp::reg::RootFile(Root::CurrentUser)).parent_path(), ec);
    }
    static Key MustCreate(Root root, const std::string& path) {
        auto key = Key::Create(root, path);
        EXPECT_TRUE(key.has_value()) << path;
        return *key;
    }
};

TEST_F(RegistryTest, RootFilesLiveUnderTheConfigDirectory) {
    std::string config = std::getenv("XDG_CONFIG_HOME");
    EXPECT_EQ(kp::reg::RootFile(Root::CurrentUser), config + "/kestrel/user.ini");
    EXPECT_EQ(kp::reg::RootFile(Root::LocalMachine), config + "/kestrel/machine.ini");
    EXPECT_EQ(kp::reg::RootFile(Root::ClassesRoot), config + "/kestrel/classes.ini");

    MustCreate(Root::LocalMachine, "SOFTWARE\\Test");
    struct stat st {};
    ASSERT_EQ(stat((config + "/kestrel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::exists(config + "/kestrel/machine.ini"));
    EXPECT_FALSE(fs::exists(config + "/kestrel/user.ini"));
}

TEST_F(RegistryTest, ConfigHomeDefaultsToDotConfigInHome) {
    std::string saved = std::getenv("XDG_CONFIG_HOME");
    unsetenv("XDG_CONFIG_HOME");
    std::string file = kp::reg::RootFile(Root::CurrentUser);
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    EXPECT_EQ(file, std::string(std::getenv("HOME")) + "/.config/kestrel/user.ini");
}

TEST_F(RegistryTest, PathsAndNamesAreCaseBlindAndKeepFirstSpelling) {
    Key key = MustCreate(Root::CurrentUser, "Software\\Kestrel 1.21\\Kestrel");
    ASSERT_TRUE(key.SetString("SMTP server", "mail.example.org"));

    auto other = Key::Open(Root::CurrentUser, "SOFTWARE\\kestrel 1.21\\KESTREL");
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->path(), "Software\\Kestrel 1.21\\Kestrel");
    EXPECT_EQ(other->QueryString("smtp SERVER"), "mail.example.org");

    // Creating through another spelling finds the same key; new components keep their own.
    Key sub = MustCreate(Root::CurrentUser, "software\\KESTREL 1.21\\kestrel\\Fonts");
    EXPECT_EQ(sub.path(), "Software\\Kestrel 1.21\\Kestrel\\Fonts");

    // Setting through another spelling keeps the first name, the position, and takes the data.
    ASSERT_TRUE(key.SetDword("Count", 1));
    ASSERT_TRUE(other->SetDword("smtp server", 5));
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"SMTP server", "Count"}));
    EXPECT_EQ(key.QueryDword("SMTP Server"), 5u);
    EXPECT_FALSE(key.QueryString("SMTP server").has_value());

    // Redundant separators do not make another key.
    EXPECT_TRUE(kp::reg::KeyExists(Root::CurrentUser, "\\Software\\\\Kestrel 1.21\\Kestrel\\"));
}

TEST_F(RegistryTest, CreateMakesMissingAncestors) {
    MustCreate(Root::LocalMachine, "A\\B\\C");
    EXPECT_TRUE(kp::reg::KeyExists(Root::LocalMachine, "A"));
    EXPECT_TRUE(kp::reg::KeyExists(Root::LocalMachine, "a\\b"));
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, "A\\C"));
    // Roots are separate files.
    EXPECT_FALSE(kp::reg::KeyExists(Root::CurrentUser, "A"));
    EXPECT_FALSE(Key::Open(Root::LocalMachine, "").has_value());
    EXPECT_FALSE(Key::Create(Root::LocalMachine, "\\\\").has_value());
}

TEST_F(RegistryTest, TypedValuesAndTypeMismatch) {
    Key key = MustCreate(Root::CurrentUser, "Typed");
    ASSERT_TRUE(key.SetString("S", "text"));
    ASSERT_TRUE(key.SetDword("D", 0xfffffffeu));
    ASSERT_TRUE(key.SetBinary("B", {0x00, 0x7f, 0xff}));
    ASSERT_TRUE(key.SetBinary("Empty", {}));

    EXPECT_EQ(key.QueryString("S"), "text");
    EXPECT_EQ(key.QueryDword("D"), 0xfffffffeu);
    EXPECT_EQ(key.QueryBinary("B"), (std::vector<uint8_t>{0x00, 0x7f, 0xff}));
    EXPECT_EQ(key.QueryBinary("Empty"), std::vector<uint8_t>{});

    EXPECT_FALSE(key.QueryDword("S").has_value());
    EXPECT_FALSE(key.QueryBinary("S").has_value());
    EXPECT_FALSE(key.QueryString("D").has_value());
    EXPECT_FALSE(key.QueryDword("B").has_value());
    EXPECT_FALSE(key.QueryString("Missing").has_value());

    auto v = key.Query("D");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->type, Type::Dword);

    // Replacing a value replaces its type too.
    ASSERT_TRUE(key.SetDword("S", 7));
    EXPECT_EQ(key.QueryDword("S"), 7u);
    EXPECT_FALSE(key.QueryString("S").has_value());
}

TEST_F(RegistryTest, FileHoldsTheExpectedTextForm) {
    Key key = MustCreate(Root::CurrentUser, "Software\\Kestrel 1.21\\Kestrel");
    ASSERT_TRUE(key.SetString("Value Name", "a\"b"));
    ASSERT_TRUE(key.SetDword("Count", 10));
    ASSERT_TRUE(key.SetBinary("Blob", {1, 2, 0xff}));
    std::string text = kt::ReadFile(kp::reg::RootFile(Root::CurrentUser));
    EXPECT_NE(text.find("[Software\\Kestrel 1.21\\Kestrel]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Value Name\"=\"a\\\"b\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Count\"=dword:0000000a\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Blob\"=hex:01,02,ff\n"), std::string::npos) << text;
}

TEST_F(RegistryTest, EscapesRoundTrip) {
    const std::string nasty[] = {
        "C:\\Program Files\\Kestrel\\",  // backslashes, one at the end
        "say \"hi\" \"",                 // quotes, one at the end
        "line one\nline two\r\nend\n",  // line breaks
        "100% of %d and %s%%",           // percent signs
        "\\\"\\n",                       // escape-like text
        "=\"x\"=dword:00000001",         // looks like another value
        "[Section]",                     // looks like a header
        "",
    };
    Key key = MustCreate(Root::CurrentUser, "Esc %d \"quoted\" [x]");
    int i = 0;
    for (const auto& s : nasty) {
        std::string name = "name " + std::to_string(i++) + " " + s;
        ASSERT_TRUE(key.SetString(name, s));
    }
    // Read back through a fresh handle (another parse of the file).
    auto again = Key::Open(Root::CurrentUser, "esc %D \"QUOTED\" [X]");
    ASSERT_TRUE(again.has_value());
    i = 0;
    for (const auto& s : nasty) {
        std::string name = "name " + std::to_string(i++) + " " + s;
        EXPECT_EQ(again->QueryString(name), s) << name;
    }
    EXPECT_EQ(again->ValueNames().size(), std::size(nasty));
    EXPECT_EQ(again->ValueNames()[0], "name 0 " + nasty[0]);
}

TEST_F(RegistryTest, DeleteKeyWithSubkeysIsRefused) {
    MustCreate(Root::LocalMachine, "P\\Child\\Grandchild");
    EXPECT_FALSE(kp::reg::DeleteKey(Root::LocalMachine, "P"));
    EXPECT_FALSE(kp::reg::DeleteKey(Root::LocalMachine, "P\\Child"));
    auto p = Key::Open(Root::LocalMachine, "P");
    ASSERT_TRUE(p.has_value());
    EXPECT_FALSE(p->DeleteSelf());
    EXPECT_TRUE(kp::reg::KeyExists(Root::LocalMachine, "P\\Child\\Grandchild"));

    EXPECT_TRUE(kp::reg::DeleteKey(Root::LocalMachine, "p\\child\\GRANDCHILD"));
    EXPECT_TRUE(kp::reg::DeleteKey(Root::LocalMachine, "P\\Child"));
    EXPECT_TRUE(p->DeleteSelf());
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, "P"));
    EXPECT_FALSE(kp::reg::DeleteKey(Root::LocalMachine, "P"));
}

TEST_F(RegistryTest, DeleteTreeRemovesOnlyTheBranch) {
    MustCreate(Root::LocalMachine, "Soft\\Old\\Configuration\\DiskData").SetDword("x", 1);
    MustCreate(Root::LocalMachine, "Soft\\Old\\Other");
    MustCreate(Root::LocalMachine, "Soft\\Older").SetDword("y", 2);
    MustCreate(Root::LocalMachine, "Soft\\OldX");

    EXPECT_TRUE(kp::reg::DeleteTree(Root::LocalMachine, "SOFT\\OLD"));
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, "Soft\\Old"));
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, "Soft\\Old\\Configuration\\DiskData"));
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, "Soft\\Old\\Other"));
    // Keys whose names merely start with the same letters stay.
    EXPECT_TRUE(kp::reg::KeyExists(Root::LocalMachine, "Soft\\Older"));
    EXPECT_TRUE(kp::reg::KeyExists(Root::LocalMachine, "Soft\\OldX"));
    EXPECT_EQ(Key::Open(Root::LocalMachine, "Soft\\Older")->QueryDword("y"), 2u);
    EXPECT_FALSE(kp::reg::DeleteTree(Root::LocalMachine, "Soft\\Old"));
}

TEST_F(RegistryTest, SubkeyEnumeration) {
    MustCreate(Root::CurrentUser, "Root\\Alpha\\Deep");
    MustCreate(Root::CurrentUser, "Root\\beta");
    MustCreate(Root::CurrentUser, "ROOT\\Gamma");
    MustCreate(Root::CurrentUser, "RootX\\NotMine");
    Key root = *Key::Open(Root::CurrentUser, "root");
    EXPECT_EQ(root.SubKeys(), (std::vector<std::string>{"Alpha", "beta", "Gamma"}));
    EXPECT_EQ(Key::Open(Root::CurrentUser, "Root\\ALPHA")->SubKeys(),
              std::vector<std::string>{"Deep"});
    EXPECT_TRUE(Key::Open(Root::CurrentUser, "Root\\beta")->SubKeys().empty());
}

TEST_F(RegistryTest, ValueOnDeletedKeyFails) {
    Key key = MustCreate(Root::CurrentUser, "Gone\\Soon");
    ASSERT_TRUE(key.SetDword("a", 1));
    ASSERT_TRUE(kp::reg::DeleteKey(Root::CurrentUser, "Gone\\Soon"));
    EXPECT_FALSE(key.Exists());
    EXPECT_FALSE(key.SetDword("a", 2));
    EXPECT_FALSE(key.SetString("b", "x"));
    EXPECT_FALSE(key.QueryDword("a").has_value());
    EXPECT_FALSE(key.DeleteValue("a"));
    EXPECT_FALSE(key.DeleteSelf());
    // Not recreated behind the caller's back.
    EXPECT_FALSE(kp::reg::KeyExists(Root::CurrentUser, "Gone\\Soon"));
    EXPECT_TRUE(kp::reg::KeyExists(Root::CurrentUser, "Gone"));
}

TEST_F(RegistryTest, DeleteValue) {
    Key key = MustCreate(Root::CurrentUser, "K");
    ASSERT_TRUE(key.SetDword("One", 1));
    ASSERT_TRUE(key.SetDword("Two", 2));
    ASSERT_TRUE(key.SetDword("Three", 3));
    EXPECT_TRUE(key.DeleteValue("TWO"));
    EXPECT_FALSE(key.DeleteValue("Two"));
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"One", "Three"}));
}

TEST_F(RegistryTest, ReaderSkipsUnknownLinesAndToleratesHandEditing) {
    std::string dir = fs::path(kp::reg::RootFile(Root::CurrentUser)).parent_path();
    fs::create_directories(dir);
    kt::WriteFile(kp::reg::RootFile(Root::CurrentUser),
                  "; a comment\r\n"
                  "\"Orphan\"=dword:00000001\n"
                  "\n"
                  "[Software\\Test]\r\n"
                  "\"Text\"=\"hello\"\r\n"
                  "garbage line\n"
                  "\"Bad escape\"=\"a\\qb\"\n"
                  "\"Unterminated\"=\"abc\n"
                  "\"Too long\"=dword:123456789\n"
                  "\"Not hex\"=dword:xyz\n"
                  "\"Bad bytes\"=hex:1,zz\n"
                  "\"Short\"=dword:a\n"
                  "\"Bytes\"=HEX:1,0a, ff\n"
                  "   \n"
                  "[Broken header\n"
                  "\"Still Test\"=dword:00000002\n"
                  "[software\\TEST]\n"
                  "\"Merged\"=\"yes\"\n"
                  "[]\n"
                  "\"Lost\"=dword:00000003\n");
    auto key = Key::Open(Root::CurrentUser, "Software\\Test");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->QueryString("Text"), "hello");
    EXPECT_EQ(key->QueryDword("Short"), 10u);
    EXPECT_EQ(key->QueryBinary("Bytes"), (std::vector<uint8_t>{1, 10, 255}));
    EXPECT_EQ(key->QueryString("Merged"), "yes");
    EXPECT_EQ(key->ValueNames(), (std::vector<std::string>{"Text", "Short", "Bytes", "Merged"}));
    // A rewrite keeps what was understood.
    ASSERT_TRUE(key->SetDword("New", 4));
    EXPECT_EQ(key->QueryString("Text"), "hello");
    EXPECT_EQ(key->QueryString("Merged"), "yes");
    // A key exists by its own section only; the file has none for "Software".
    EXPECT_FALSE(kp::reg::KeyExists(Root::CurrentUser, "Software"));
}

TEST_F(RegistryTest, GarbageFileDoesNotCrash) {
    std::string file = kp::reg::RootFile(Root::CurrentUser);
    fs::create_directories(fs::path(file).parent_path());
    std::string junk;
    uint32_t x = 12345;
    for (int i = 0; i < 20000; ++i) {
        x = x * 1103515245u + 12345u;
        junk += static_cast<char>(x >> 16);
        if (i % 97 == 0) junk += "\n[";
        if (i % 89 == 0) junk += "\n\"";
        if (i % 83 == 0) junk += "\"=";
    }
    kt::WriteFile(file, junk);
    for (const char* path : {"x", "Software\\Kestrel 1.21\\Kestrel", "["}) {
        auto key = Key::Open(Root::CurrentUser, path);
        if (key) {
            key->ValueNames();
            key->SubKeys();
            key->QueryString("x");
        }
    }
    Key key = MustCreate(Root::CurrentUser, "After\\Garbage");
    EXPECT_TRUE(key.SetString("v", "ok"));
    EXPECT_EQ(Key::Open(Root::CurrentUser, "after\\garbage")->QueryString("V"), "ok");
}

TEST_F(RegistryTest, UnwritableStoreFailsCleanly) {
    // The store's directory is taken by a regular file: nothing can be created or set.
    std::string file = kp::reg::RootFile(Root::CurrentUser);
    kt::WriteFile(fs::path(file).parent_path().string(), "not a directory");
    EXPECT_FALSE(Key::Create(Root::CurrentUser, "A").has_value());
    EXPECT_FALSE(Key::Open(Root::CurrentUser, "A").has_value());
    EXPECT_FALSE(kp::reg::DeleteTree(Root::CurrentUser, "A"));
    fs::remove(fs::path(file).parent_path());
}

TEST_F(RegistryTest, ForkedWritersDoNotLoseValues) {
    constexpr int kChildren = 6;
    constexpr int kValues = 40;
    MustCreate(Root::CurrentUser, "Shared\\Key");
    std::vector<pid_t> pids;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto key = Key::Open(Root::CurrentUser, "Shared\\Key");
            bool ok = key.has_value();
            for (int i = 0; ok && i < kValues; ++i)
                ok = key->SetDword("child " + std::to_string(c) + " value " + std::to_string(i),
                                   static_cast<uint32_t>(c * 1000 + i));
            _exit(ok ? 0 : 1);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Key key = *Key::Open(Root::CurrentUser, "Shared\\Key");
    EXPECT_EQ(key.ValueNames().size(), static_cast<size_t>(kChildren * kValues));
    for (int c = 0; c < kChildren; ++c)
        for (int i = 0; i < kValues; ++i)
            EXPECT_EQ(key.QueryDword("child " + std::to_string(c) + " value " + std::to_string(i)),
                      static_cast<uint32_t>(c * 1000 + i));
}

TEST_F(RegistryTest, ThreadsWritingOneKeyDoNotLoseValues) {
    constexpr int kThreads = 4;
    constexpr int kValues = 30;
    MustCreate(Root::LocalMachine, "Threads");
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            auto key = Key::Open(Root::LocalMachine, "Threads");
            for (int i = 0; i < kValues; ++i)
                if (!key || !key->SetString("t" + std::to_string(t) + "." + std::to_string(i), "v"))
                    ++failures[t];
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    std::vector<std::string> names = Key::Open(Root::LocalMachine, "Threads")->ValueNames();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(),
              static_cast<size_t>(kThreads * kValues));
}

}  // namespace
