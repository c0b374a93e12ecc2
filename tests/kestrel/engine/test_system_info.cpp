// Disk identifiers and the video driver from fixture sysfs trees, the substring test, and the
// screen saver calls in a process without a Qt application (nothing happens).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "kestrel/engine/run/settings.h"
#include "kestrel/engine/run/system_info.h"
#include "platform/msgbox.h"
#include "platform/screen_saver.h"
#include "tests/support/isolation.h"

namespace {

namespace fs = std::filesystem;

class SysfsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = kt::FreshDir("sys");
        fs::create_directories(root_ + "/block");
        sysfs_root = root_;
        machine = MachineDescription{};
        machine.harddisk[0] = "old first";
        machine.harddisk[1] = "old second";
        machine.videoadapter = "old video";
    }
    void TearDown() override { sysfs_root = "/sys"; }

    // A block device with the given attribute files under device/ (none: no device files).
    void Block(const std::string& name, std::map<std::string, std::string> attributes = {}) {
        const std::string dir = root_ + "/block/" + name + "/device";
        fs::create_directories(dir);
        for (const auto& [file, text] : attributes) kt::WriteFile(dir + "/" + file, text);
    }
    void Card(const std::string& card, const std::string& driver) {
        const std::string dir = root_ + "/class/drm/" + card + "/device";
        fs::create_directories(dir);
        fs::create_directories(root_ + "/bus/pci/drivers/" + driver);
        fs::create_directory_symlink("../../../../bus/pci/drivers/" + driver, dir + "/driver");
    }

    std::string root_;
};

TEST_F(SysfsTest, ACdRomBeforeTheDiskIsPassedOverAndASingleDiskLeavesTheSecondAlone) {
    Block("sr0", {{"vendor", "HL-DT-ST\n"}, {"model", "DVDRAM GH24NSD1 \n"}, {"type", "5\n"}});
    Block("sda", {{"vendor", "ATA     \n"}, {"model", "Samsung SSD 870 \n"}, {"type", "0\n"}});
    EXPECT_EQ(GetDriveInfo1(), 0);
    EXPECT_EQ(machine.harddisk[0], "ATA Samsung SSD 870");
    EXPECT_EQ(GetDriveInfo2(), 1);
    EXPECT_EQ(machine.harddisk[1], "old second");
}

TEST_F(SysfsTest, TheSecondDiskIsTheNextDistinctOne) {
    Block("sda", {{"vendor", "ATA\n"}, {"model", "ST2000DM008\n"}});
    Block("nvme0n1", {{"model", "WDC PC SN730 SDBQNTY-512G-1001          \n"}});
    EXPECT_EQ(GetDriveInfo1(), 0);
    EXPECT_EQ(GetDriveInfo2(), 0);
    EXPECT_EQ(machine.harddisk[0], "WDC PC SN730 SDBQNTY-512G-1001");
    EXPECT_EQ(machine.harddisk[1], "ATA ST2000DM008");
}

TEST_F(SysfsTest, DisksAreTakenInNumericOrder) {
    Block("sdaa", {{"model", "twenty-seventh\n"}});
    Block("sdb", {{"model", "second\n"}});
    Block("nvme10n1", {{"model", "eleventh\n"}});
    Block("nvme2n1", {{"model", "third\n"}});
    GetDriveInfo1();
    GetDriveInfo2();
    EXPECT_EQ(machine.harddisk[0], "third");
    EXPECT_EQ(machine.harddisk[1], "eleventh");
}

TEST_F(SysfsTest, DevicesThatAreNotDisksAreSkipped) {
    for (const char* name : {"loop0", "ram0", "zram0", "dm-0", "md127", "sr0", "fd0", "nbd0",
                             "mmcblk0boot0", "mmcblk0rpmb", "nvme0c0n1"}) {
        Block(name, {{"model", std::string(name) + "\n"}});
    }
    EXPECT_EQ(GetDriveInfo1(), 1);
    EXPECT_EQ(GetDriveInfo2(), 1);
    EXPECT_EQ(machine.harddisk[0], "old first");
    EXPECT_EQ(machine.harddisk[1], "old second");
}

TEST_F(SysfsTest, ADiskWithoutAModelLeavesTheFieldAndMemoryCardsGiveTheirName) {
    Block("vda", {{"vendor", "0x1af4\n"}, {"device", "0x0002\n"}});
    Block("mmcblk0", {{"name", "SC32G\n"}, {"type", "SD\n"}});
    EXPECT_EQ(GetDriveInfo1(), 0);
    EXPECT_EQ(machine.harddisk[0], "SC32G");
    EXPECT_EQ(GetDriveInfo2(), 1);
    EXPECT_EQ(machine.harddisk[1], "old second");
}

TEST_F(SysfsTest, IdeDisksAreTheFallback) {
    Block("hda", {{"model", "WDC AC2850F\n"}});
    Block("hdb", {{"model", "QUANTUM FIREBALL\n"}});
    EXPECT_EQ(GetDriveInfo1(), 0);
    EXPECT_EQ(GetDriveInfo2(), 0);
    EXPECT_EQ(machine.harddisk[0], "WDC AC2850F");
    EXPECT_EQ(machine.harddisk[1], "QUANTUM FIREBALL");
    // One SCSI-type disk: the IDE disk is the second.
    Block("sda", {{"model", "Virtual disk\n"}});
    EXPECT_EQ(GetDriveInfo1(), 0);
    EXPECT_EQ(GetDriveInfo2(), 0);
    EXPECT_EQ(machine.harddisk[0], "Virtual disk");
    EXPECT_EQ(machine.harddisk[1], "WDC AC2850F");
    EXPECT_EQ(DoAtDisk2(), 0);
    EXPECT_EQ(machine.harddisk[1], "QUANTUM FIREBALL");
}

TEST_F(SysfsTest, IdentifiersAreCutToTheFieldWidth) {
    Block("sda", {{"model", std::string(300, 'M') + "\n"}});
    GetDriveInfo1();
    EXPECT_EQ(machine.harddisk[0], std::string(119, 'M'));
}

TEST_F(SysfsTest, TheVideoAdapterIsTheFirstCardsDriver) {
    Card("card0", "amdgpu");
    EXPECT_EQ(GetVideoInfo(), 0);
    EXPECT_EQ(machine.videoadapter, "amdgpu");
}

TEST_F(SysfsTest, NoFirstCardLeavesTheVideoAdapter) {
    EXPECT_EQ(GetVideoInfo(), 1);
    Card("card1", "i915");
    EXPECT_EQ(GetVideoInfo(), 1);
    // A card whose driver is not bound has no driver link.
    fs::create_directories(root_ + "/class/drm/card0/device");
    EXPECT_EQ(GetVideoInfo(), 1);
    EXPECT_EQ(machine.videoadapter, "old video");
}

TEST(Search, IgnoresCaseAndHandlesTheEdges) {
    EXPECT_EQ(search("kestrel files", "/HOME/ANN/KESTREL FILES/"), 1);
    EXPECT_EQ(search("Kestre~1", "/data/kestre~1"), 1);
    EXPECT_EQ(search("Kestrel Files", "/data/Kestrel"), 0);
    EXPECT_EQ(search("longer than this", "short"), 0);
    EXPECT_EQ(search("", "anything"), 1);
    EXPECT_EQ(search("", ""), 1);
    EXPECT_EQ(search("end", "the END"), 1);
    EXPECT_EQ(search("x", ""), 0);
    // Only letters fold: '@' and '`' lie 32 apart like a case pair but are not one.
    EXPECT_EQ(search("@", "`"), 0);
}

TEST(ScreenSaverWithoutQt, NothingIsAskedAndNothingIsShown) {
    kp::BoxRecorder boxes;
    EXPECT_EQ(TurnOffScreenSaver(), 1);
    EXPECT_FALSE(kp::ScreenSaverInhibited());
    EXPECT_EQ(TurnOnScreenSaver(), 1);
    EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace
