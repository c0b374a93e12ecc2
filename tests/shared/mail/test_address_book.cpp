// The address book file: entries read, appended and rewritten keep every entry and the format.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "shared/mail/address_book.h"
#include "shared/places.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/isolation.h"

namespace {

using Entries = std::vector<std::string>;

Entries Read(const std::string& path) {
    Entries e;
    EXPECT_EQ(mail::ReadAddressBook(path, &e, false), mail::BookRead::Read);
    return e;
}

TEST(AddressBook, AddRemoveAndRewriteKeepEveryEntry) {
    kt::IsolateEnvironment();
    const std::string path = AddressBookPath();
    EXPECT_EQ(path, std::string(getenv("XDG_DATA_HOME")) + "/kestrel/userfile.dbf");
    ASSERT_TRUE(MakeDirectories(DefaultInstallDirectory()));

    // Missing: created empty.
    Entries e;
    EXPECT_EQ(mail::ReadAddressBook(path, &e, true), mail::BookRead::Created);
    EXPECT_EQ(kt::ReadFile(path), "");

    ASSERT_TRUE(mail::AppendAddressBookEntry(path, mail::MakeEntry("zed@x.test", "Zed")));
    ASSERT_TRUE(mail::AppendAddressBookEntry(path, mail::MakeEntry("amy@x.test", "")));
    EXPECT_EQ(mail::MakeEntry("", "nobody"), "");
    EXPECT_EQ(kt::ReadFile(path), "zed@x.test (Zed)\r\namy@x.test ()\r\n");

    // The last entry lacks its CR LF: it is not shown, a rewrite keeps it, an append ends it first.
    kt::WriteFile(path, "zed@x.test (Zed)\r\nBob@x.test (Bob)\r\namy@x.test ()\r\ntail@x.test (Tail)");
    e = Read(path);
    EXPECT_EQ(e, (Entries{"zed@x.test (Zed)", "Bob@x.test (Bob)", "amy@x.test ()"}));
    mail::SortEntries(&e);
    EXPECT_EQ(e, (Entries{"amy@x.test ()", "Bob@x.test (Bob)", "zed@x.test (Zed)"}));
    e.erase(e.begin() + 1);
    ASSERT_TRUE(mail::RewriteAddressBook(path, e));
    EXPECT_EQ(kt::ReadFile(path), "amy@x.test ()\r\nzed@x.test (Zed)\r\ntail@x.test (Tail)");
    ASSERT_TRUE(mail::AppendAddressBookEntry(path, mail::MakeEntry("new@x.test", "New")));
    EXPECT_EQ(Read(path), (Entries{"amy@x.test ()", "zed@x.test (Zed)", "tail@x.test (Tail)", "new@x.test (New)"}));

    // A link placed beside the book under a name a rewrite might use is never followed: the file
    // it names stays as it was, and nothing but the book and the link is left in the folder.
    const std::string victim = kt::WriteFile(kt::TempDir() + "/victim", "untouched");
    ASSERT_EQ(symlink(victim.c_str(), (path + ".new").c_str()), 0);
    const std::string kept = kt::ReadFile(path);
    ASSERT_TRUE(mail::RewriteAddressBook(path, Read(path)));
    EXPECT_EQ(kt::ReadFile(victim), "untouched");
    EXPECT_EQ(kt::ReadFile(path), kept);
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    Entries names;
    for (const auto& f : std::filesystem::directory_iterator(DefaultInstallDirectory()))
        names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Entries{"userfile.dbf", "userfile.dbf.new"}));
    unlink((path + ".new").c_str());

    // A rewrite or an append that cannot be written whole (as on a full disk) leaves the old file
    // whole, with no part of an entry added and nothing left beside it.
    const std::string before = kt::ReadFile(path);
    {
        kt::FileSizeLimit limit(10);
        EXPECT_FALSE(mail::RewriteAddressBook(path, {"only@x.test (Only one left)"}));
    }
    EXPECT_EQ(kt::ReadFile(path), before);
    {
        kt::FileSizeLimit limit(before.size() + 5);
        EXPECT_FALSE(mail::AppendAddressBookEntry(path, mail::MakeEntry("late@x.test", "Late")));
    }
    EXPECT_EQ(kt::ReadFile(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(DefaultInstallDirectory()),
                            std::filesystem::directory_iterator()),
              1);

    EXPECT_EQ(mail::JoinAddresses({"a@x.test (A)", "b@x.test ()", "c@x.test"}), "a@x.test, b@x.test, c@x.test");
    EXPECT_EQ(mail::AddressOfEntry(std::string(120, 'q') + " (Q)"), std::string(99, 'q'));
}

}  // namespace
