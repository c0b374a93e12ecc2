#include "kestrel/engine/run/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/msgbox.h"
#include "platform/registry.h"
#include "tests/support/isolation.h"

namespace fs = std::filesystem;
using kp::reg::Key;
using kp::reg::Root;

namespace {

std::string Num(const char* format, int k) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, k);
    return buf;
}

Preferences FilledPrefs() {
    Preferences p;
    p.lastselection = "alice@example.org, bob@example.org";
    p.SMTPHost = "smtp.example.org";
    p.Sender = "jane@example.org";
    p.yourname = "Jane \"JJ\" Doe";
    p.kestrel_directory = "/opt/kestrel\\bin 100%";
    p.files_directory = "/home/jane/Kes Files";
    p.graphvalue = 11;
    p.zbuffer_16bit = 12;
    p.valuelongtest = 13;
    p.endmailfile = "/home/jane/.signature\nsecond line";
    p.buttonvalue = 14;
    p.laptop_settings_on = 15;
    p.use_high_precision = 16;
    p.niceness = 17;
    p.show_graphs = 18;
    p.main_window_rect = {-20, 1024, 30, 700};
    p.blocksizenumber = 19;
    p.filesizenumber = 20;
    p.defdirnumber = 21;
    for (int k = 0; k < 26; ++k) p.default_drive_chosen[k] = 100 + k;
    for (int k = 0; k < 6; ++k) p.perf_counters[k] = 200 + k;
    p.memory_load_value = 5;
    p.runglance = 23;
    p.show_perf_data = 24;
    p.stepwise_scaling = 25;
    LogFont& f = p.GlobalLogFont;
    f.Height = -13;
    f.Width = 7;
    f.Escapement = 900;
    f.Orientation = 450;
    f.Weight = 700;
    f.Italic = 1;
    f.Underline = 2;
    f.StrikeOut = 3;
    f.CharSet = 4;
    f.OutPrecision = 5;
    f.ClipPrecision = 6;
    f.Quality = 7;
    f.PitchAndFamily = 0x31;
    f.FaceName = "DejaVu Sans Mono";
    return p;
}

void ExpectSamePrefs(const Preferences& a, const Preferences& b) {
    EXPECT_EQ(a.lastselection, b.lastselection);
    EXPECT_EQ(a.SMTPHost, b.SMTPHost);
    EXPECT_EQ(a.Sender, b.Sender);
    EXPECT_EQ(a.yourname, b.yourname);
    EXPECT_EQ(a.kestrel_directory, b.kestrel_directory);
    EXPECT_EQ(a.files_directory, b.files_directory);
    EXPECT_EQ(a.graphvalue, b.graphvalue);
    EXPECT_EQ(a.zbuffer_16bit, b.zbuffer_16bit);
    EXPECT_EQ(a.valuelongtest, b.valuelongtest);
    EXPECT_EQ(a.endmailfile, b.endmailfile);
    EXPECT_EQ(a.buttonvalue, b.buttonvalue);
    EXPECT_EQ(a.laptop_settings_on, b.laptop_settings_on);
    EXPECT_EQ(a.use_high_precision, b.use_high_precision);
    EXPECT_EQ(a.niceness, b.niceness);
    EXPECT_EQ(a.show_graphs, b.show_graphs);
    EXPECT_EQ(a.main_window_rect.left, b.main_window_rect.left);
    EXPECT_EQ(a.main_window_rect.right, b.main_window_rect.right);
    EXPECT_EQ(a.main_window_rect.top, b.main_window_rect.top);
    EXPECT_EQ(a.main_window_rect.bottom, b.main_window_rect.bottom);
    EXPECT_EQ(a.blocksizenumber, b.blocksizenumber);
    EXPECT_EQ(a.filesizenumber, b.filesizenumber);
    EXPECT_EQ(a.defdirnumber, b.defdirnumber);
    for (int k = 0; k < 26; ++k) EXPECT_EQ(a.default_drive_chosen[k], b.default_drive_chosen[k]) << k;
    for (int k = 0; k < 6; ++k) EXPECT_EQ(a.perf_counters[k], b.perf_counters[k]) << k;
    EXPECT_EQ(a.memory_load_value, b.memory_load_value);
    EXPECT_EQ(a.runglance, b.runglance);
    EXPECT_EQ(a.show_perf_data, b.show_perf_data);
    EXPECT_EQ(a.stepwise_scaling, b.stepwise_scaling);
    EXPECT_TRUE(a.GlobalLogFont == b.GlobalLogFont);
}

MachineDescription FilledMachine() {
    MachineDescription m;
    m.manufacturer = "Acme Computers";
    m.make = "Roadrunner 9000";
    m.os = "Debian GNU/Linux 12";
    m.speed = "3600 MHz";
    m.memory = "32 GB";
    m.memoryvalue = 3;
    m.cachevalue = 4;
    m.cachesize = "32 MB";
    m.theproc = "Some CPU @ 3.60GHz";
    m.videoadapter = "Virtual \"VGA\"";
    m.ramvalue = 5;
    m.videoram = "16 MB";
    for (int k = 0; k < 26; ++k) {
        m.harddisk[k] = "/mnt/disk" + std::to_string(k);
        m.adapter[k] = "SATA port " + std::to_string(k);
        m.diskvalue[k] = 40 + k;
    }
    return m;
}

void ExpectSameMachine(const MachineDescription& a, const MachineDescription& b, int drives) {
    EXPECT_EQ(a.manufacturer, b.manufacturer);
    EXPECT_EQ(a.make, b.make);
    EXPECT_EQ(a.os, b.os);
    EXPECT_EQ(a.speed, b.speed);
    EXPECT_EQ(a.memory, b.memory);
    EXPECT_EQ(a.memoryvalue, b.memoryvalue);
    EXPECT_EQ(a.cachevalue, b.cachevalue);
    EXPECT_EQ(a.cachesize, b.cachesize);
    EXPECT_EQ(a.theproc, b.theproc);
    EXPECT_EQ(a.videoadapter, b.videoadapter);
    EXPECT_EQ(a.ramvalue, b.ramvalue);
    EXPECT_EQ(a.videoram, b.videoram);
    for (int k = 0; k < drives; ++k) {
        EXPECT_EQ(a.harddisk[k], b.harddisk[k]) << k;
        EXPECT_EQ(a.adapter[k], b.adapter[k]) << k;
        EXPECT_EQ(a.diskvalue[k], b.diskvalue[k]) << k;
    }
}

struct Outcome {
    int result = -1;
    std::vector<std::string> boxes;  // "caption|icon|owner|text"
};

std::string Describe(const kp::BoxRequest& b) {
    return b.caption + "|" + std::to_string(static_cast<int>(b.icon)) + "|" +
           std::to_string(static_cast<int>(b.owner)) + "|" + b.text;
}

std::string RegistryBox(const std::string& text) {
    return "Registry Exception|" + std::to_string(static_cast<int>(kp::Icon::Exclamation)) + "|" +
           std::to_string(static_cast<int>(kp::Owner::Main)) + "|" + text;
}

Outcome Recorded(const std::function<int()>& fn) {
    kp::BoxRecorder recorder;
    Outcome out;
    out.result = fn();
    for (const auto& b : recorder.boxes()) out.boxes.push_back(Describe(b));
    return out;
}

// Runs `fn` in a child process whose files may not grow beyond the root file's size plus
// `extra` bytes, so that a rewrite that adds more than that fails (also for root).
Outcome RunWithFileLimit(Root root, off_t extra, const std::function<int()>& fn) {
    std::error_code ec;
    auto size = fs::file_size(kp::reg::RootFile(root), ec);
    if (ec) size = 0;
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = static_cast<rlim_t>(size) + static_cast<rlim_t>(extra);
        setrlimit(RLIMIT_FSIZE, &lim);
        Outcome out = Recorded(fn);
        std::string text = std::to_string(out.result) + "\n";
        for (const auto& b : out.boxes) text += b + "\n";
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome out;
    std::istringstream in(text);
    std::string line;
    if (std::getline(in, line)) out.result = std::stoi(line);
    while (std::getline(in, line)) out.boxes.push_back(line);
    return out;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        prefs = Preferences{};
        machine = MachineDescription{};
        globaldrives = 0;
        std::error_code ec;
        fs::path dir = fs::path(kp::reg::RootFile(Root::CurrentUser)).parent_path();
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    static Key MainKey() { return *Key::Open(Root::CurrentUser, kMainKey); }
    static Key FontsKey() { return *Key::Open(Root::CurrentUser, kFontsKey); }
    // Stores every preference with non-default values and all 26 drives.
    static Preferences StoreFilled() {
        prefs = FilledPrefs();
        globaldrives = 26;
        EXPECT_EQ(CreateRegEntry(), 0);
        Preferences stored = prefs;
        prefs = Preferences{};
        return stored;
    }
    static void Remove(const std::string& name) {
        Key key = name.rfind("LogFont ", 0) == 0 ? FontsKey() : MainKey();
        ASSERT_TRUE(key.DeleteValue(name)) << name;
    }
};

TEST_F(SettingsTest, EmptyRegistryKeepsDefaults) {
    EXPECT_EQ(GetRegEntry(), 1);
    EXPECT_EQ(prefs.graphvalue, 2);
    EXPECT_EQ(prefs.use_high_precision, 1);
    EXPECT_EQ(prefs.blocksizenumber, 3);
    ExpectSamePrefs(prefs, Preferences{});
    EXPECT_EQ(GetRegEntry2(), 1);
    MachineDescription none;
    ExpectSameMachine(machine, none, 26);
    // Reading creates nothing.
    EXPECT_FALSE(fs::exists(kp::reg::RootFile(Root::CurrentUser)));
    EXPECT_FALSE(fs::exists(kp::reg::RootFile(Root::LocalMachine)));
}

TEST_F(SettingsTest, EveryPreferenceRoundTrips) {
    kp::BoxRecorder recorder;
    Preferences stored = StoreFilled();
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_EQ(GetRegEntry(), 0);
    ExpectSamePrefs(prefs, stored);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST_F(SettingsTest, ValuesAreStoredUnderTheirNamesAndTypes) {
    StoreFilled();
    Key main = MainKey();
    EXPECT_EQ(main.QueryString("SMTP server"), "smtp.example.org");
    EXPECT_EQ(main.QueryString("Signiature File"), "/home/jane/.signature\nsecond line");
    EXPECT_EQ(main.QueryDword("ResultsType"), 11u);
    EXPECT_EQ(main.QueryDword("Main Window Rect Left"), static_cast<uint32_t>(-20));
    EXPECT_EQ(main.QueryDword("Main Window Rect Right"), 1024u);
    EXPECT_EQ(main.QueryDword("Drive 7 selected"), 107u);
    EXPECT_EQ(main.QueryDword("Counter 5"), 205u);
    EXPECT_EQ(FontsKey().QueryDword("LogFont Height"), static_cast<uint32_t>(-13));
    EXPECT_EQ(FontsKey().QueryDword("LogFont PitchAndFamily"), 0x31u);
    EXPECT_EQ(FontsKey().QueryString("LogFont FaceName"), "DejaVu Sans Mono");
    // The viewer's key below the main key is left alone.
    ASSERT_TRUE(Key::Create(Root::CurrentUser, std::string(kMainKey) + "\\Glance"));
    EXPECT_EQ(CreateRegEntry(), 0);
    EXPECT_EQ(GetRegEntry(), 0);
    EXPECT_TRUE(kp::reg::KeyExists(Root::CurrentUser, std::string(kMainKey) + "\\Glance"));
}

TEST_F(SettingsTest, MachineDescriptionRoundTrips) {
    kp::BoxRecorder recorder;
    machine = FilledMachine();
    globaldrives = 3;
    EXPECT_EQ(CreateRegEntry2(), 0);
    MachineDescription stored = machine;
    machine = MachineDescription{};
    EXPECT_EQ(GetRegEntry2(), 0);
    ExpectSameMachine(machine, stored, 3);
    EXPECT_EQ(machine.harddisk[3], "");
    EXPECT_TRUE(recorder.boxes().empty());
    auto disks = Key::Open(Root::LocalMachine, kDiskKey);
    ASSERT_TRUE(disks.has_value());
    EXPECT_EQ(disks->QueryString("Logical Disk 2"), "/mnt/disk2");
    EXPECT_EQ(disks->QueryString("Adapter 2"), "SATA port 2");
    EXPECT_EQ(disks->QueryDword("LogDiskType 2"), 42u);
    EXPECT_FALSE(disks->Query("Logical Disk 3").has_value());
}

TEST_F(SettingsTest, OsVersionComesFromTheRunningSystem) {
    machine.osver = "unchanged";
    utsname u{};
    ASSERT_EQ(uname(&u), 0);
    GetRegEntry2();
    EXPECT_EQ(machine.osver, std::string(u.release).substr(0, 29));
    std::ifstream release("/etc/os-release");
    std::string line;
    bool named = false;
    while (std::getline(release, line)) named = named || line.rfind("PRETTY_NAME=", 0) == 0;
    if (named) {
        EXPECT_FALSE(machine.servicepack.empty());
        EXPECT_LE(machine.servicepack.size(), 31u);
        EXPECT_EQ(machine.servicepack.find('"'), std::string::npos);
    }
}

TEST_F(SettingsTest, NarrowOrMissingWindowGetsTheDefaultRectangle) {
    StoreFilled();
    ASSERT_TRUE(MainKey().SetDword("Main Window Rect Right", 100));
    GetRegEntry();
    EXPECT_EQ(prefs.main_window_rect.left, 100);
    EXPECT_EQ(prefs.main_window_rect.top, 100);
    EXPECT_EQ(prefs.main_window_rect.right, 800);
    EXPECT_EQ(prefs.main_window_rect.bottom, 600);

    ASSERT_TRUE(MainKey().SetDword("Main Window Rect Right", 101));
    GetRegEntry();
    EXPECT_EQ(prefs.main_window_rect.left, -20);
    EXPECT_EQ(prefs.main_window_rect.right, 101);
    EXPECT_EQ(prefs.main_window_rect.bottom, 700);

    Remove("Main Window Rect Right");
    prefs.main_window_rect = {5, 900, 5, 900};
    GetRegEntry();
    EXPECT_EQ(prefs.main_window_rect.left, 100);
    EXPECT_EQ(prefs.main_window_rect.top, 100);
    EXPECT_EQ(prefs.main_window_rect.right, 800);
    EXPECT_EQ(prefs.main_window_rect.bottom, 600);
}

TEST_F(SettingsTest, AStoredMemoryLoadOutsideTheSevenLevelsIsReadAsTheDefault) {
    struct Case {
        uint32_t stored;
        int32_t read;
    };
    const Case cases[] = {{0, 0}, {3, 3}, {6, 6}, {7, 0}, {22, 0}, {0xffffffffu, 0}, {0x80000000u, 0}};
    for (const Case& c : cases) {
        Reset();
        StoreFilled();
        ASSERT_TRUE(MainKey().SetDword("Memory Load", c.stored));
        prefs.memory_load_value = 4;  // what an earlier read left
        EXPECT_EQ(GetRegEntry(), 0) << c.stored;
        EXPECT_EQ(prefs.memory_load_value, c.read) << c.stored;
    }
}

struct CodeCase {
    std::vector<std::string> missing;
    int result;
};

TEST_F(SettingsTest, ResultNamesTheLastMissingValue) {
    const CodeCase cases[] = {
        {{}, 0},
        {{"Kestrel directory"}, 7},
        {{"Kes Files Directory"}, 7},
        {{"Kestrel directory", "Button Type"}, 0},
        {{"ResultsType"}, 4},
        {{"LongTestValue"}, 5},
        {{"Signiature File"}, 6},
        {{"Signiature File", "LongTestValue"}, 6},
        {{"Signiature File", "ResultsType"}, 6},
        {{"ResultsType", "Zbuffer"}, 0},
        {{"Your Name", "ResultsType"}, 4},
        {{"Last User", "Kestrel directory"}, 7},
        {{"Kestrel directory", "Drive 25 selected"}, 0},
        {{"Kestrel directory", "Counter 5"}, 0},
        {{"Kestrel directory", "Stepwise Scaling Efficiency"}, 0},
        {{"Kestrel directory", "LogFont PitchAndFamily"}, 0},
        {{"Sender"}, 3},
        {{"Sender", "Kestrel directory"}, 3},
        {{"Sender", "Button Type"}, 3},
        {{"SMTP server"}, 2},
        {{"SMTP server", "Sender", "ResultsType"}, 2},
    };
    for (const auto& c : cases) {
        Reset();
        StoreFilled();
        std::string label;
        for (const auto& name : c.missing) {
            Remove(name);
            label += "[" + name + "]";
        }
        EXPECT_EQ(GetRegEntry(), c.result) << label;
    }
}

TEST_F(SettingsTest, MissingLastUserLeavesNoRecipient) {
    StoreFilled();
    Remove("Last User");
    prefs.lastselection = "someone@example.org";
    EXPECT_EQ(GetRegEntry(), 0);
    EXPECT_EQ(prefs.lastselection, "");
    EXPECT_EQ(prefs.SMTPHost, "smtp.example.org");
}

TEST_F(SettingsTest, OldValuesAreRemovedWhenRead) {
    StoreFilled();
    Remove("Kestrel directory");
    ASSERT_TRUE(MainKey().SetDword("YesNoValue", 1));
    EXPECT_EQ(GetRegEntry(), 7);  // an old "YesNoValue" changes nothing
    EXPECT_FALSE(MainKey().Query("YesNoValue").has_value());

    ASSERT_TRUE(MainKey().SetDword("Default Drive", 2));
    EXPECT_EQ(GetRegEntry(), 0);  // an old "Default Drive" clears the code before it
    EXPECT_FALSE(MainKey().Query("Default Drive").has_value());
    EXPECT_EQ(GetRegEntry(), 7);
}

TEST_F(SettingsTest, ValueOfAnotherTypeCountsAsMissing) {
    StoreFilled();
    ASSERT_TRUE(MainKey().SetString("ResultsType", "1"));
    prefs.graphvalue = 2;
    EXPECT_EQ(GetRegEntry(), 4);
    EXPECT_EQ(prefs.graphvalue, 2);
}

TEST_F(SettingsTest, MissingServerStillLoadsLaterValues) {
    Preferences stored = StoreFilled();
    Remove("SMTP server");
    EXPECT_EQ(GetRegEntry(), 2);
    EXPECT_EQ(prefs.SMTPHost, "");
    EXPECT_EQ(prefs.Sender, stored.Sender);
    EXPECT_EQ(prefs.stepwise_scaling, stored.stepwise_scaling);
    EXPECT_EQ(prefs.main_window_rect.right, 1024);
    EXPECT_EQ(prefs.main_window_rect.left, -20);
    EXPECT_EQ(prefs.default_drive_chosen[0], 100);
    EXPECT_EQ(prefs.default_drive_chosen[25], 125);
    EXPECT_TRUE(prefs.GlobalLogFont == stored.GlobalLogFont);
}

TEST_F(SettingsTest, MissingSenderStillLoadsLaterValues) {
    Preferences stored = StoreFilled();
    Remove("Sender");
    EXPECT_EQ(GetRegEntry(), 3);
    EXPECT_EQ(prefs.SMTPHost, stored.SMTPHost);
    EXPECT_EQ(prefs.Sender, "");
    EXPECT_EQ(prefs.perf_counters[5], 205);
    EXPECT_TRUE(prefs.GlobalLogFont == stored.GlobalLogFont);
}

TEST_F(SettingsTest, TextIsCutToItsField) {
    StoreFilled();
    ASSERT_TRUE(MainKey().SetString("Signiature File", std::string(300, 's')));
    ASSERT_TRUE(MainKey().SetString("Your Name", std::string(600, 'n')));
    ASSERT_TRUE(MainKey().SetString("Last User", std::string(70000, 'u')));
    EXPECT_EQ(GetRegEntry(), 0);
    EXPECT_EQ(prefs.endmailfile, std::string(255, 's'));
    EXPECT_EQ(prefs.yourname, std::string(511, 'n'));
    EXPECT_EQ(prefs.lastselection, std::string(64999, 'u'));

    machine = FilledMachine();
    globaldrives = 1;
    ASSERT_EQ(CreateRegEntry2(), 0);
    ASSERT_TRUE(Key::Open(Root::LocalMachine, kMachineKey)->SetString("OS Info", std::string(200, 'o')));
    ASSERT_TRUE(Key::Open(Root::LocalMachine, kMachineKey)->SetString("Video Ram", std::string(60, 'v')));
    ASSERT_TRUE(Key::Open(Root::LocalMachine, kDiskKey)->SetString("Logical Disk 0", std::string(150, 'd')));
    EXPECT_EQ(GetRegEntry2(), 0);
    EXPECT_EQ(machine.os, std::string(149, 'o'));
    EXPECT_EQ(machine.videoram, std::string(49, 'v'));
    EXPECT_EQ(machine.harddisk[0], std::string(119, 'd'));
}

TEST_F(SettingsTest, ThreeDrivesKeepOnlyTheirValues) {
    StoreFilled();
    prefs = FilledPrefs();
    prefs.default_drive_chosen[2] = 1;
    globaldrives = 3;
    EXPECT_EQ(CreateRegEntry(), 0);
    Key main = MainKey();
    EXPECT_EQ(main.QueryDword("Drive 0 selected"), 100u);
    EXPECT_EQ(main.QueryDword("Drive 1 selected"), 101u);
    EXPECT_EQ(main.QueryDword("Drive 2 selected"), 1u);
    for (int k = 3; k < 26; ++k) EXPECT_FALSE(main.Query(Num("Drive %d selected", k)).has_value()) << k;
}

TEST_F(SettingsTest, FontRoundTrips) {
    prefs.GlobalLogFont.Italic = 1;
    prefs.GlobalLogFont.Underline = 1;
    prefs.GlobalLogFont.Height = -16;
    prefs.GlobalLogFont.Weight = 400;
    prefs.GlobalLogFont.FaceName = std::string("Abcdefghijklmnopqrstuvwxyz01234");  // 31
    ASSERT_EQ(prefs.GlobalLogFont.FaceName.size(), 31u);
    LogFont font = prefs.GlobalLogFont;
    ASSERT_EQ(CreateRegEntry(), 0);
    prefs = Preferences{};
    GetRegEntry();
    EXPECT_TRUE(prefs.GlobalLogFont == font);
    EXPECT_EQ(prefs.GlobalLogFont.Italic, 1);
    EXPECT_EQ(prefs.GlobalLogFont.Underline, 1);
    EXPECT_EQ(prefs.GlobalLogFont.FaceName, font.FaceName);

    prefs.GlobalLogFont.FaceName = font.FaceName + "EXTRA-LONG-NAME";
    ASSERT_EQ(CreateRegEntry(), 0);
    prefs = Preferences{};
    GetRegEntry();
    EXPECT_EQ(prefs.GlobalLogFont.FaceName, font.FaceName);

    // A face stored longer by someone else is cut too; byte fields take the low byte.
    ASSERT_TRUE(FontsKey().SetString("LogFont FaceName", std::string(40, 'F')));
    ASSERT_TRUE(FontsKey().SetDword("LogFont Italic", 0x1ff));
    ASSERT_TRUE(FontsKey().SetDword("LogFont CharSet", 0xabcd));
    GetRegEntry();
    EXPECT_EQ(prefs.GlobalLogFont.FaceName, std::string(31, 'F'));
    EXPECT_EQ(prefs.GlobalLogFont.Italic, 0xff);
    EXPECT_EQ(prefs.GlobalLogFont.CharSet, 0xcd);
}

TEST_F(SettingsTest, MissingFontValueLeavesTheFieldZero) {
    StoreFilled();
    Remove("LogFont Weight");
    prefs.GlobalLogFont.Weight = 900;
    EXPECT_EQ(GetRegEntry(), 0);
    EXPECT_EQ(prefs.GlobalLogFont.Weight, 0);
    EXPECT_EQ(prefs.GlobalLogFont.Height, -13);
}

// Writes the preferences of an older version under the old per-user key.
void StoreOldUserKey() {
    Key old = *Key::Create(Root::CurrentUser, kOldUserKey);
    ASSERT_TRUE(old.SetString("Last User", "old@example.org"));
    ASSERT_TRUE(old.SetString("SMTP server", "old.smtp.example.org"));
    ASSERT_TRUE(old.SetString("Sender", "old-sender@example.org"));
    ASSERT_TRUE(old.SetString("Your Name", "Old Name"));
    ASSERT_TRUE(old.SetString("Kestrel directory", "/old/kestrel"));
    ASSERT_TRUE(old.SetString("Kes Files Directory", "/old/files"));
    ASSERT_TRUE(old.SetDword("YesNoValue", 1));
    ASSERT_TRUE(old.SetDword("ResultsType", 1));
    ASSERT_TRUE(old.SetDword("LongTestValue", 1));
    ASSERT_TRUE(old.SetDword("Main Window Rect Left", 10));
    ASSERT_TRUE(old.SetDword("Main Window Rect Right", 640));
    ASSERT_TRUE(old.SetDword("Main Window Rect Top", 20));
    ASSERT_TRUE(old.SetDword("Main Window Rect Bottom", 480));
    ASSERT_TRUE(old.SetDword("Drive 1 selected", 1));
    ASSERT_TRUE(old.SetDword("Default Drive", 3));
    Key config = *Key::Create(Root::CurrentUser, kOldUserConfigKey);
    ASSERT_TRUE(config.SetString("Manufacturer", "Oldest Maker"));
    ASSERT_TRUE(config.SetString("Make", "Model T"));
    ASSERT_TRUE(config.SetDword("Video Ram Type", 2));
}

TEST_F(SettingsTest, OldUserKeyIsCarriedOverOnce) {
    StoreOldUserKey();
    globaldrives = 2;
    EXPECT_EQ(GetRegEntry(), 0);
    EXPECT_EQ(prefs.lastselection, "old@example.org");
    EXPECT_EQ(prefs.SMTPHost, "old.smtp.example.org");
    EXPECT_EQ(prefs.Sender, "old-sender@example.org");
    EXPECT_EQ(prefs.files_directory, "/old/files");
    EXPECT_EQ(prefs.graphvalue, 1);
    EXPECT_EQ(prefs.valuelongtest, 1);
    EXPECT_EQ(prefs.main_window_rect.right, 640);
    EXPECT_EQ(prefs.default_drive_chosen[1], 1);
    EXPECT_EQ(prefs.use_high_precision, 1);
    EXPECT_TRUE(prefs.GlobalLogFont == LogFont{});

    // Written under the current keys, with a zero font; the old key is gone.
    Key main = MainKey();
    EXPECT_EQ(main.QueryString("SMTP server"), "old.smtp.example.org");
    EXPECT_EQ(main.QueryDword("Main Window Rect Bottom"), 480u);
    EXPECT_EQ(main.QueryDword("Drive 1 selected"), 1u);
    EXPECT_EQ(main.QueryDword("Timer Precision"), 1u);
    EXPECT_FALSE(main.Query("YesNoValue").has_value());
    EXPECT_FALSE(main.Query("Default Drive").has_value());
    EXPECT_EQ(FontsKey().ValueNames().size(), 14u);
    EXPECT_EQ(FontsKey().QueryDword("LogFont Height"), 0u);
    EXPECT_EQ(FontsKey().QueryString("LogFont FaceName"), "");
    EXPECT_FALSE(kp::reg::KeyExists(Root::CurrentUser, kOldUserConfigKey));
    EXPECT_FALSE(kp::reg::KeyExists(Root::CurrentUser, kOldUserKey));
    EXPECT_TRUE(kp::reg::KeyExists(Root::CurrentUser, "Software\\Shareware"));

    // The next start reads the current key.
    ASSERT_TRUE(main.SetString("SMTP server", "new.smtp.example.org"));
    prefs = Preferences{};
    EXPECT_EQ(GetRegEntry(), 0);
    EXPECT_EQ(prefs.SMTPHost, "new.smtp.example.org");
    EXPECT_EQ(prefs.Sender, "old-sender@example.org");
}

// The old keys are deleted only once the new ones are written: a carry-over whose writing fails
// (here the store may not grow by what the new keys need) leaves them with their values.
TEST_F(SettingsTest, ACarryOverThatCannotWriteTheNewKeysKeepsTheOldOnes) {
    // Per user: the old preferences hold a recipient list longer than the room left.
    StoreOldUserKey();
    const std::string recipients(4000, 'u');
    ASSERT_TRUE(Key::Open(Root::CurrentUser, kOldUserKey)->SetString("Last User", recipients));
    Outcome out = RunWithFileLimit(Root::CurrentUser, 2000, GetRegEntry);
    EXPECT_EQ(out.boxes, std::vector<std::string>{RegistryBox("Error in setting Last User value in the registry")});
    ASSERT_TRUE(kp::reg::KeyExists(Root::CurrentUser, kOldUserKey));
    ASSERT_TRUE(kp::reg::KeyExists(Root::CurrentUser, kOldUserConfigKey));
    EXPECT_EQ(Key::Open(Root::CurrentUser, kOldUserKey)->QueryString("Last User"), recipients);
    EXPECT_EQ(Key::Open(Root::CurrentUser, kOldUserKey)->QueryString("SMTP server"), "old.smtp.example.org");
    EXPECT_EQ(Key::Open(Root::CurrentUser, kOldUserConfigKey)->QueryString("Manufacturer"), "Oldest Maker");

    // Per machine: the old description and its disk key.
    Key old = *Key::Create(Root::LocalMachine, kOldMachineKey);
    ASSERT_TRUE(old.SetString("Manufacturer", "Old Maker"));
    ASSERT_TRUE(old.SetString("Processor", "Old Processor"));
    Key oldDisks = *Key::Create(Root::LocalMachine, kOldDiskKey);
    ASSERT_TRUE(oldDisks.SetString("Logical Disk 0", "Old Disk"));
    globaldrives = 1;
    out = RunWithFileLimit(Root::LocalMachine, 64, GetRegEntry2);
    ASSERT_EQ(out.boxes.size(), 1u);
    EXPECT_EQ(out.boxes[0].rfind("Registry Exception|", 0), 0u) << out.boxes[0];
    ASSERT_TRUE(kp::reg::KeyExists(Root::LocalMachine, kOldMachineKey));
    ASSERT_TRUE(kp::reg::KeyExists(Root::LocalMachine, kOldDiskKey));
    EXPECT_EQ(Key::Open(Root::LocalMachine, kOldMachineKey)->QueryString("Processor"), "Old Processor");
    EXPECT_EQ(Key::Open(Root::LocalMachine, kOldDiskKey)->QueryString("Logical Disk 0"), "Old Disk");
}

TEST_F(SettingsTest, OldestMachineDescriptionSurvivesTheStartUpOrder) {
    // At start-up the preferences are read first; their carry-over removes the old per-user
    // key, which also held the machine description of the oldest versions.
    StoreOldUserKey();
    EXPECT_EQ(GetRegEntry(), 0);
    EXPECT_FALSE(kp::reg::KeyExists(Root::CurrentUser, kOldUserKey));
    int result = GetRegEntry2();
    EXPECT_NE(result, 1);
    EXPECT_EQ(result, 13);  // "OS Info" is the first value the oldest key did not have
    EXPECT_EQ(machine.manufacturer, "Oldest Maker");
    EXPECT_EQ(machine.make, "Model T");
    EXPECT_EQ(machine.ramvalue, 2);
    auto config = Key::Open(Root::LocalMachine, kMachineKey);
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->QueryString("Manufacturer"), "Oldest Maker");
    EXPECT_TRUE(kp::reg::KeyExists(Root::LocalMachine, kDiskKey));
}

TEST_F(SettingsTest, OldestUserMachineKeyIsReadWhenNoMachineKeyExists) {
    Key config = *Key::Create(Root::CurrentUser, kOldUserConfigKey);
    machine = FilledMachine();
    for (const char* name : {"Manufacturer", "Make", "OS Info", "Processor Speed", "Memory Size",
                             "CPU Cache Size", "Processor", "Video Adapter", "Video Ram"})
        ASSERT_TRUE(config.SetString(name, std::string("old ") + name));
    ASSERT_TRUE(config.SetDword("Video Ram Type", 6));
    machine = MachineDescription{};
    EXPECT_EQ(GetRegEntry2(), 0);
    EXPECT_EQ(machine.theproc, "old Processor");
    EXPECT_EQ(machine.ramvalue, 6);
    EXPECT_EQ(Key::Open(Root::LocalMachine, kMachineKey)->QueryString("Video Ram"), "old Video Ram");
}

TEST_F(SettingsTest, OldMachineKeysAreCarriedOverOnce) {
    Key old = *Key::Create(Root::LocalMachine, kOldMachineKey);
    MachineDescription m = FilledMachine();
    machine = m;
    globaldrives = 2;
    // Store the description the way older versions did: same names, old keys.
    ASSERT_EQ(CreateRegEntry2(), 0);
    for (const auto& name : Key::Open(Root::LocalMachine, kMachineKey)->ValueNames())
        ASSERT_TRUE(old.Set(name, *Key::Open(Root::LocalMachine, kMachineKey)->Query(name)));
    Key oldDisks = *Key::Create(Root::LocalMachine, kOldDiskKey);
    for (const auto& name : Key::Open(Root::LocalMachine, kDiskKey)->ValueNames())
        ASSERT_TRUE(oldDisks.Set(name, *Key::Open(Root::LocalMachine, kDiskKey)->Query(name)));
    ASSERT_TRUE(kp::reg::DeleteTree(Root::LocalMachine, "SOFTWARE\\Kestrel_121"));
    ASSERT_TRUE(Key::Create(Root::LocalMachine, "SOFTWARE\\Shareware\\Other Product"));

    machine = MachineDescription{};
    EXPECT_EQ(GetRegEntry2(), 0);
    ExpectSameMachine(machine, m, 2);
    auto config = Key::Open(Root::LocalMachine, kMachineKey);
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->QueryString("Processor"), m.theproc);
    EXPECT_EQ(Key::Open(Root::LocalMachine, kDiskKey)->QueryString("Adapter 1"), "SATA port 1");
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, kOldDiskKey));
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, kOldMachineKey));
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, kOldProductKey));
    EXPECT_TRUE(kp::reg::KeyExists(Root::LocalMachine, "SOFTWARE\\Shareware\\Other Product"));

    // The next read takes the current key and writes nothing: a value removed from it stays
    // removed (a carry-over would write it again from the global).
    ASSERT_TRUE(config->SetString("Make", "Changed"));
    ASSERT_TRUE(config->DeleteValue("Memory Type"));
    EXPECT_EQ(GetRegEntry2(), 0);
    EXPECT_EQ(machine.make, "Changed");
    EXPECT_FALSE(config->Query("Memory Type").has_value());
}

TEST_F(SettingsTest, OldProductKeyWithOtherSubkeysStays) {
    Key old = *Key::Create(Root::LocalMachine, kOldMachineKey);
    ASSERT_TRUE(old.SetString("Manufacturer", "Old"));
    ASSERT_TRUE(Key::Create(Root::LocalMachine, std::string(kOldProductKey) + "\\Something Else"));
    GetRegEntry2();
    EXPECT_EQ(machine.manufacturer, "Old");
    EXPECT_FALSE(kp::reg::KeyExists(Root::LocalMachine, kOldMachineKey));
    EXPECT_TRUE(kp::reg::KeyExists(Root::LocalMachine, kOldProductKey));
}

TEST_F(SettingsTest, MachineResultNamesTheFirstMissingValue) {
    const CodeCase cases[] = {
        {{}, 0},
        {{"Manufacturer"}, 2},
        {{"Make", "Processor"}, 3},
        {{"OS Info"}, 13},
        {{"Processor Speed"}, 5},
        {{"Memory Size"}, 6},
        {{"Memory Type"}, 0},
        {{"Cache Type"}, 0},
        {{"CPU Cache Size"}, 14},
        {{"Processor"}, 17},
        {{"Video Adapter"}, 4},
        {{"Video Ram Type"}, 9},
        {{"Video Ram"}, 12},
        {{"Video Adapter", "Video Ram"}, 12},
        {{"Video Ram Type", "Video Adapter"}, 4},
        {{"Logical Disk 1"}, 0},
    };
    for (const auto& c : cases) {
        Reset();
        machine = FilledMachine();
        globaldrives = 2;
        ASSERT_EQ(CreateRegEntry2(), 0);
        std::string label;
        for (const auto& name : c.missing) {
            auto key = Key::Open(Root::LocalMachine, name.rfind("Logical", 0) == 0 ? kDiskKey : kMachineKey);
            ASSERT_TRUE(key->DeleteValue(name)) << name;
            label += "[" + name + "]";
        }
        machine = MachineDescription{};
        EXPECT_EQ(GetRegEntry2(), c.result) << label;
        // Every value is read all the same.
        bool noRam = std::find(c.missing.begin(), c.missing.end(), "Video Ram") != c.missing.end();
        EXPECT_EQ(machine.videoram, noRam ? "" : "16 MB") << label;
        EXPECT_EQ(machine.diskvalue[1], 41) << label;
    }
}

TEST_F(SettingsTest, UnusableStoreShowsKeyFailure) {
    fs::path dir = fs::path(kp::reg::RootFile(Root::CurrentUser)).parent_path();
    kt::WriteFile(dir.string(), "in the way");
    Outcome out = Recorded(CreateRegEntry);
    EXPECT_EQ(out.result, 10);
    EXPECT_EQ(out.boxes, std::vector<std::string>{RegistryBox("Error in creating Kestrel key in the registry")});
    out = Recorded(CreateRegEntry2);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.boxes, std::vector<std::string>{RegistryBox("Error in creating Kestrel key in the registry")});
    fs::remove(dir);
}

TEST_F(SettingsTest, UnwritableDirectoryShowsKeyFailure) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    fs::path dir = fs::path(kp::reg::RootFile(Root::CurrentUser)).parent_path();
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    Outcome out = Recorded(CreateRegEntry);
    EXPECT_EQ(out.result, 10);
    EXPECT_EQ(out.boxes, std::vector<std::string>{RegistryBox("Error in creating Kestrel key in the registry")});
}

TEST_F(SettingsTest, FontsKeyFailure) {
    ASSERT_TRUE(Key::Create(Root::CurrentUser, kMainKey));
    Outcome out = RunWithFileLimit(Root::CurrentUser, 0, CreateRegEntry);
    EXPECT_EQ(out.result, 10);
    EXPECT_EQ(out.boxes,
              std::vector<std::string>{RegistryBox("Error in creating Kestrel fonts key in the registry")});
}

TEST_F(SettingsTest, FailedValueEndsTheWrite) {
    StoreFilled();
    prefs = FilledPrefs();
    prefs.SMTPHost = std::string(4000, 'h');
    prefs.stepwise_scaling = 77;
    Outcome out = RunWithFileLimit(Root::CurrentUser, 64, CreateRegEntry);
    EXPECT_EQ(out.result, 11);
    EXPECT_EQ(out.boxes,
              std::vector<std::string>{RegistryBox("Error in creating SMTP server value in the registry")});
    EXPECT_EQ(MainKey().QueryDword("Stepwise Scaling Efficiency"), 25u);
}

TEST_F(SettingsTest, FailedSignatureAndFilesDirectoryDoNotEndTheWrite) {
    StoreFilled();
    prefs = FilledPrefs();
    prefs.endmailfile = std::string(4000, 's');
    prefs.files_directory = std::string(4000, 'd');
    prefs.stepwise_scaling = 77;
    Outcome out = RunWithFileLimit(Root::CurrentUser, 64, CreateRegEntry);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.boxes,
              (std::vector<std::string>{
                  RegistryBox("Error in setting the signiature file value in the registry"),
                  RegistryBox("Error in setting the Kes files directory value in the registry")}));
    EXPECT_EQ(MainKey().QueryDword("Stepwise Scaling Efficiency"), 77u);
}

TEST_F(SettingsTest, FailedDriveValueShowsItsMessage) {
    prefs = FilledPrefs();
    ASSERT_EQ(CreateRegEntry(), 0);  // no drives yet
    globaldrives = 4;
    Outcome out = RunWithFileLimit(Root::CurrentUser, 0, CreateRegEntry);
    EXPECT_EQ(out.result, 11);
    EXPECT_EQ(out.boxes,
              std::vector<std::string>{RegistryBox("Error in setting the Default Drive values in the registry")});
}

TEST_F(SettingsTest, FailedMachineValueShowsItsMessageAndCode) {
    struct Case {
        std::function<void(MachineDescription&)> spoil;
        int result;
        std::string message;
    };
    const Case cases[] = {
        {[](MachineDescription& m) { m.manufacturer.assign(4000, 'x'); }, 2,
         "Error in creating Manufacturer value in the registry"},
        {[](MachineDescription& m) { m.make.assign(4000, 'x'); }, 3, "Error in setting Make value in the registry"},
        {[](MachineDescription& m) { m.os.assign(4000, 'x'); }, 13, "Error in setting OS value in the registry"},
        {[](MachineDescription& m) { m.theproc.assign(4000, 'x'); }, 17,
         "Error in setting Processor value in the registry"},
        {[](MachineDescription& m) { m.videoram.assign(4000, 'x'); }, 12,
         "Error in setting Video Ram value in the registry"},
        {[](MachineDescription& m) { m.harddisk[1].assign(4000, 'x'); }, 9,
         "Error in setting the Physical Disk value in the registry"},
        {[](MachineDescription& m) { m.adapter[0].assign(4000, 'x'); }, 9,
         "Error in setting the Adapter value in the registry"},
    };
    for (const auto& c : cases) {
        Reset();
        machine = FilledMachine();
        globaldrives = 2;
        ASSERT_EQ(CreateRegEntry2(), 0);
        c.spoil(machine);
        Outcome out = RunWithFileLimit(Root::LocalMachine, 64, CreateRegEntry2);
        EXPECT_EQ(out.result, c.result) << c.message;
        EXPECT_EQ(out.boxes, std::vector<std::string>{RegistryBox(c.message)});
    }
}

}  // namespace
