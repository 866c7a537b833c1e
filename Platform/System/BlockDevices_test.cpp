#include "Platform/System/BlockDevices.h"

#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>

using namespace kelto;

namespace {

namespace fs = std::filesystem;

TEST(BlockDevicesTest, UdevLinksGiveUuidAndDecodedLabel) {
    test::TemporaryFolder dev;
    dev.write("sdb1", "");
    dev.write("sdc1", "");
    fs::create_directories(dev / "disk/by-uuid");
    fs::create_directories(dev / "disk/by-label");
    fs::create_symlink("../../sdb1", dev / "disk/by-uuid/ABCD-1234");
    fs::create_symlink("../../sdb1", dev / "disk/by-label/My\\x20Stick\\x2fA");
    fs::create_symlink("../../sdc1", dev / "disk/by-uuid/1111-2222");
    fs::create_symlink("../../gone", dev / "disk/by-label/Dangling");
    const auto tags = BlockDevices::linked((dev / "sdb1").string(), dev / "disk");
    EXPECT_EQ(tags.uuid, "ABCD-1234");
    EXPECT_EQ(tags.label, "My Stick/A");
    const auto unlabelled = BlockDevices::linked((dev / "sdc1").string(), dev / "disk");
    EXPECT_EQ(unlabelled.uuid, "1111-2222");
    EXPECT_FALSE(unlabelled.label);
    EXPECT_FALSE(BlockDevices::linked((dev / "missing").string(), dev / "disk").uuid);
    EXPECT_FALSE(BlockDevices::linked((dev / "sdb1").string(), dev / "nowhere").uuid);
}

TEST(BlockDevicesTest, ProbeOfWhatHoldsNoFileSystemGivesNothing) {
    test::TemporaryFolder dev;
    dev.write("blank", std::string(64 * 1024, '\0'));
    const auto tags = BlockDevices::probe((dev / "blank").string());
    EXPECT_FALSE(tags.uuid);
    EXPECT_FALSE(tags.label);
    EXPECT_FALSE(BlockDevices::probe("relative/path").uuid);
}

}  // namespace
