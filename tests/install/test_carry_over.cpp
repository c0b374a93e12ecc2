// Carrying an older installation over, in the test's private HOME: older registries seeded as
// each older version left them, then the whole carrying-over as the companion runs it; kestrel's
// own settings reader then reads what was carried.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "glance/settings.h"
#include "install/carry_over.h"
#include "install/file_table.h"
#include "install/progman.h"
#include "install/registration.h"
#include "kestrel/engine/run/settings.h"
#include "platform/registry.h"
#include "shared/places.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;
using kp::reg::Key;
using kp::reg::Root;
using kp::reg::Type;
using kp::reg::Value;

namespace {

class RecordingHost : public SetupHost {
public:
    explicit RecordingHost(SetupState& s) : s_(s) {}
    void ProgressChanged() override { fractions.push_back(s_.progressFraction); }
    std::vector<double> fractions;

private:
    SetupState& s_;
};

// A key's values as "name=text" or "name=#number".
using Values = std::map<std::string, std::string>;

std::string Shown(const Value& v) { return v.type == Type::String ? v.str : "#" + std::to_string(v.dword); }

Values ValuesOf(Root root, const std::string& path) {
    Values out;
    auto key = Key::Open(root, path);
    if (!key) return out;
    for (const std::string& name : key->ValueNames()) out[name] = Shown(*key->Query(name));
    return out;
}

// Seeds a key with every value of a table: texts "old <name>", numbers counting from `first`.
Values Seed(Root root, const std::string& path, const std::vector<StoredValue>& table, uint32_t first) {
    auto key = Key::Create(root, path);
    Values seeded;
    for (const StoredValue& v : table) {
        Value value;
        if (v.text) {
            value.type = Type::String;
            value.str = "old " + v.name;
        } else {
            value.type = Type::Dword;
            value.dword = first++;
        }
        EXPECT_TRUE(key->Set(v.name, value));
        seeded[v.name] = Shown(value);
    }
    return seeded;
}

void Remove(Root root, const std::string& path, Values& seeded, const std::string& name) {
    Key::Open(root, path)->DeleteValue(name);
    seeded.erase(name);
}

class CarryOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        umask(022);
        for (const std::string& dir : {ConfigHome(), DataHome(), HomeDirectory() + "/.local", ResultsFolder()})
            fs::remove_all(dir);
        fs::create_directories(ConfigHome());
        fs::create_directories(DataHome());
        setup.installDirectory = kt::FreshDir("new") + "/kestrel";
        fs::create_directories(setup.installDirectory);
    }

    void Transform() {
        RecordingHost host(setup);
        TransformRegistry(setup, host);
        EXPECT_EQ(host.fractions, (std::vector<double>{0.07, 0.15, 0.23, 0.30, 0.38, 0.45, 0.53, 0.60, 0.68, 0.75,
                                                       0.83, 0.90, 1.0}));
    }

    SetupState setup;
};

const char* const kOlderKeys[][2] = {
    {"user", "Software\\Kestrel 1.20"},   {"user", "Software\\Kestrel 1.10"},
    {"user", "Software\\Shareware\\Kestrel"}, {"machine", "SOFTWARE\\Kestrel_120"},
    {"machine", "SOFTWARE\\Shareware\\Kestrel"}, {"machine", kUninstallKey},
};

}  // namespace

// Every older version's values go under this version's keys, only the values the older keys
// held, and no older key is left. kestrel's reader then finds them, and without an older
// machine description it still finds none (and opens its Configuration pages).
TEST_F(CarryOverTest, OlderVersionsValuesGoUnderThisVersionsKeys) {
    struct Expected {
        Values user, fonts, viewer, viewerFonts, machine, disks;
    };
    struct Case {
        const char* name;
        std::function<void(Expected&)> seed;
    } cases[] = {
        {"1.20 with every value",
         [](Expected& e) {
             e.user = Seed(Root::CurrentUser, kUser120Key, UserValues(), 300);
             e.fonts = Seed(Root::CurrentUser, std::string(kUser120Key) + "\\fonts", FontValues(), 1);
             e.viewer = Seed(Root::CurrentUser, std::string(kUser120Key) + "\\Glance", ViewerRectValues(), 500);
             e.viewerFonts = Seed(Root::CurrentUser, std::string(kUser120Key) + "\\Glance\\fonts", FontValues(), 20);
             e.machine = Seed(Root::LocalMachine, kMachine120Key, MachineValues(), 2);
             e.disks = Seed(Root::LocalMachine, std::string(kMachine120Key) + "\\DiskData", DiskValues(), 40);
         }},
        // A user who never set up mail keeps every other setting.
        {"1.20 without the mail values and a narrow window",
         [](Expected& e) {
             e.user = Seed(Root::CurrentUser, kUser120Key, UserValues(), 300);
             Remove(Root::CurrentUser, kUser120Key, e.user, "SMTP server");
             Remove(Root::CurrentUser, kUser120Key, e.user, "Sender");
             Key::Open(Root::CurrentUser, kUser120Key)->SetDword("Main Window Rect Right", 90);
             e.user["Main Window Rect Left"] = "#100";
             e.user["Main Window Rect Right"] = "#800";
             e.user["Main Window Rect Top"] = "#100";
             e.user["Main Window Rect Bottom"] = "#600";
             e.viewer = Seed(Root::CurrentUser, std::string(kUser120Key) + "\\Glance", ViewerRectValues(), 50);
             e.viewer = {{"Main Window Rect Left", "#200"}, {"Main Window Rect Right", "#800"},
                         {"Main Window Rect Top", "#150"}, {"Main Window Rect Bottom", "#600"}};
             e.machine = Seed(Root::LocalMachine, kMachine120Key, MachineValues(), 2);
             Remove(Root::LocalMachine, kMachine120Key, e.machine, "Manufacturer");
         }},
        // Without an older machine description none is written.
        {"1.20 without a machine description",
         [](Expected& e) { e.user = Seed(Root::CurrentUser, kUser120Key, UserValues(), 300); }},
        {"1.10",
         [](Expected& e) {
             e.user = Seed(Root::CurrentUser, kUser110Key, UserValues(), 300);
             Key::Create(Root::CurrentUser, std::string(kUser110Key) + "\\Configuration")->SetString("Make", "x");
             Key::Create(Root::CurrentUser, kOldUserKey)->SetString("Your Name", "earliest");
         }},
        {"the earliest versions",
         [](Expected& e) {
             e.user = Seed(Root::CurrentUser, kOldUserKey, UserValues(), 300);
             Key::Open(Root::CurrentUser, kOldUserKey)->SetString("Thread Priority", "x");
             e.machine = Seed(Root::LocalMachine, kOldMachineKey, MachineValues(), 2);
             e.disks = Seed(Root::LocalMachine, kOldDiskKey, DiskValues(), 40);
         }},
        // The oldest machine description, below the earliest per-user key: read, then gone with
        // that key.
        {"the earliest versions with their description under the per-user key",
         [](Expected& e) {
             e.user = Seed(Root::CurrentUser, kOldUserKey, UserValues(), 300);
             e.machine = Seed(Root::CurrentUser, kOldUserConfigKey, MachineValues(), 2);
         }},
        {"1.10 beside it",
         [](Expected& e) {
             e.user = Seed(Root::CurrentUser, kUser110Key, UserValues(), 300);
             Key::Create(Root::CurrentUser, kOldUserKey)->SetString("Your Name", "earliest");
             e.machine = Seed(Root::CurrentUser, kOldUserConfigKey, MachineValues(), 2);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Expected e;
        c.seed(e);
        Key::Create(Root::LocalMachine, kUninstallKey)->SetString(kInstallDirectoryValue, kt::FreshDir("old"));
        Transform();

        EXPECT_EQ(ValuesOf(Root::CurrentUser, kMainKey), e.user);
        EXPECT_EQ(ValuesOf(Root::CurrentUser, kFontsKey), e.fonts);
        EXPECT_EQ(ValuesOf(Root::CurrentUser, glance::kViewerKey), e.viewer);
        EXPECT_EQ(ValuesOf(Root::CurrentUser, glance::kViewerFontsKey), e.viewerFonts);
        EXPECT_EQ(ValuesOf(Root::LocalMachine, kMachineKey), e.machine);
        EXPECT_EQ(ValuesOf(Root::LocalMachine, kDiskKey), e.disks);
        EXPECT_EQ(kp::reg::KeyExists(Root::LocalMachine, kMachineKey), !e.machine.empty());
        for (const auto& k : kOlderKeys) {
            EXPECT_FALSE(kp::reg::KeyExists(std::string(k[0]) == "user" ? Root::CurrentUser : Root::LocalMachine, k[1]))
                << k[1];
        }

        // kestrel's own reader.
        prefs = Preferences{};
        machine = MachineDescription{};
        globaldrives = 26;
        GetRegEntry();
        EXPECT_EQ(prefs.yourname, "old Your Name");
        EXPECT_EQ(prefs.SMTPHost, e.user.count("SMTP server") ? "old SMTP server" : "");
        EXPECT_EQ(uint32_t(prefs.default_drive_chosen[25]), uint32_t(std::stoul(e.user["Drive 25 selected"].substr(1))));
        EXPECT_EQ(uint32_t(prefs.stepwise_scaling),
                  uint32_t(std::stoul(e.user["Stepwise Scaling Efficiency"].substr(1))));
        EXPECT_EQ(GetRegEntry2() == 1, e.machine.empty());
        if (!e.disks.empty()) {
            EXPECT_EQ(machine.adapter[25], "old Adapter 25");
        }
    }
}

// The older directory's result files (any case of ".bmf") are copied into ~/Kestrel Files, never
// over a file of the same name; its distribution files go; it goes itself only when empty and
// not the new install directory. The address book and the user's other files stay. A directory
// that is not an absolute path is taken for none.
TEST_F(CarryOverTest, ResultFilesAreCopiedNeverOverwritten) {
    enum class Older { OwnDirectory, TheNewOne, NotAbsolute };
    struct Case {
        const char* name;
        std::vector<std::string> olderFiles;  // besides the distribution's
        Older older;
        bool directoryStays;
    } cases[] = {
        {"result files and a clash", {"run1.bmf", "RUN2.BMF", "clash.bmf", "notes.txt", "userfile.dbf"},
         Older::OwnDirectory, true},
        {"only the distribution", {}, Older::OwnDirectory, false},
        {"the new install directory", {}, Older::TheNewOne, true},
        // Named relative to the working directory, where such a directory is: like no directory.
        {"a directory that is not absolute", {"run1.bmf"}, Older::NotAbsolute, true},
    };
    const fs::path workingDirectory = fs::current_path();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const std::string older = c.older == Older::TheNewOne ? setup.installDirectory : kt::FreshDir("older") + "/Kestrel";
        fs::create_directories(older);
        for (const DistributionFile& f : DistributionFiles())
            if (f.place == TargetPlace::Install) kt::WriteFile(older + "/" + f.target, "old");
        for (const std::string& name : c.olderFiles) kt::WriteFile(older + "/" + name, "result " + name);
        fs::create_directories(ResultsFolder());
        kt::WriteFile(ResultsFolder() + "/clash.bmf", "mine");
        Key::Create(Root::CurrentUser, kUser120Key)->SetString("Your Name", "Ann");
        const bool carried = c.older != Older::NotAbsolute;
        if (!carried) fs::current_path(fs::path(older).parent_path());
        Key::Create(Root::LocalMachine, kUninstallKey)
            ->SetString(kInstallDirectoryValue, carried ? older : fs::path(older).filename().string());
        Transform();
        fs::current_path(workingDirectory);

        for (const std::string& name : c.olderFiles) {
            EXPECT_EQ(kt::ReadFile(older + "/" + name), "result " + name);  // nothing is moved
            const bool result = name.size() > 4 && (name.ends_with(".bmf") || name.ends_with(".BMF"));
            if (name == "clash.bmf") EXPECT_EQ(kt::ReadFile(ResultsFolder() + "/" + name), "mine");
            else EXPECT_EQ(fs::exists(ResultsFolder() + "/" + name), result && carried) << name;
            if (result && carried && name != "clash.bmf") {
                EXPECT_EQ(kt::ReadFile(ResultsFolder() + "/" + name), "result " + name);
            }
        }
        for (const DistributionFile& f : DistributionFiles()) {
            if (f.place == TargetPlace::Install) {
                EXPECT_EQ(fs::exists(older + "/" + f.target), !carried) << f.target;
            }
        }
        EXPECT_EQ(fs::exists(older), c.directoryStays);
    }
}

// The older versions' groups go; no other group loses an item, not even when the older
// Windows 95 group's name is misspelt in its ShowGroup and another group is the current one.
TEST_F(CarryOverTest, OlderGroupsGoAndNoOtherGroupsItems) {
    const auto makeGroup = [](const std::string& group, const std::vector<std::string>& titles) {
        ASSERT_EQ(ProgmanExecute("[CreateGroup(" + group + ",)]"), 1);
        for (const std::string& title : titles)
            ASSERT_EQ(ProgmanExecute("[AddItem(/usr/bin/true," + title + ",,0,,,/tmp,)]"), 1);
    };
    makeGroup("Kestrel for Windows 95", {"Readme First", "Kestrel 1.07 for Win95", "Uninstall"});
    makeGroup("Kestrel 1.20", {"Readme First", "Kestrel 1.21", "Uninstall Kestrel"});
    makeGroup("Kestrel 1.10", {"Glance for Kestrel"});
    makeGroup("Kestrel 1.07", {"Kestrel Help File"});
    // Another product's group, current when the carrying-over starts, with items of the same titles.
    const std::vector<std::string> others = {"Readme First", "Uninstall", "Example Signature File",
                                             "Kestrel Help File"};
    makeGroup("Other Suite", others);
    const std::vector<std::string> otherFiles = GroupItemFiles("Other Suite");
    ASSERT_EQ(otherFiles.size(), others.size());
    Key::Create(Root::CurrentUser, kUser120Key)->SetString("Your Name", "Ann");
    Transform();

    for (const char* group : {"Kestrel for Windows 95", "Kestrel 1.20", "Kestrel 1.10", "Kestrel 1.07"}) {
        SCOPED_TRACE(group);
        EXPECT_TRUE(GroupItemFiles(group).empty());
        EXPECT_FALSE(fs::exists(GroupMenuFile(group)));
        EXPECT_FALSE(fs::exists(GroupDirectoryFile(group)));
    }
    EXPECT_EQ(GroupItemFiles("Other Suite"), otherFiles);
    EXPECT_TRUE(fs::exists(GroupMenuFile("Other Suite")));
}
