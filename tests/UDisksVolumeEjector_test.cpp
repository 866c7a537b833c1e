#include "Platform/System/UDisksVolumeEjector.h"
#include "SyncAutomation/VolumeEjectError.h"

#include "tests/support/FakeUDisks.h"
#include "tests/support/PrivateBus.h"

#include <gtest/gtest.h>

#include <optional>

namespace kelto {
namespace {

using Strings = std::vector<std::string>;
using Disk = test::FakeUDisks::Disk;

const std::string stick = "/media/user/STICK";
const std::string unmount = std::string("Unmount ") + test::FakeUDisks::partitionPath;
const std::string powerOff = std::string("PowerOff ") + test::FakeUDisks::drivePath;
const std::string ejectDrive = std::string("Eject ") + test::FakeUDisks::drivePath;

class UDisksVolumeEjectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << bus.reason();
    }
    test::FakeUDisks& udisks(Disk disk) { return fake.emplace(bus.address(), std::move(disk)); }
    // The error eject throws, or nothing when it succeeds.
    std::optional<VolumeEjectError> ejectError(const std::filesystem::path& root) {
        try {
            ejector.eject(root);
        } catch (const VolumeEjectError& error) {
            return error;
        }
        return std::nullopt;
    }
    test::PrivateBus bus;
    std::optional<test::FakeUDisks> fake;
    UDisksVolumeEjector ejector;
};

TEST_F(UDisksVolumeEjectorTest, UnmountsThenPowersOffTheDrive) {
    auto& service = udisks({stick, true, true});
    ejector.eject(stick);
    EXPECT_EQ(service.calls(), (Strings{unmount, powerOff}));
}

TEST_F(UDisksVolumeEjectorTest, EjectsADriveThatCannotPowerOff) {
    auto& service = udisks({stick, false, true});
    ejector.eject(stick + "/");
    EXPECT_EQ(service.calls(), (Strings{unmount, ejectDrive}));
}

TEST_F(UDisksVolumeEjectorTest, OnlyUnmountsWhatHasNoDriveToStop) {
    auto& service = udisks({stick, false, false});
    ejector.eject(stick);
    ejector.eject(test::FakeUDisks::loopMountPoint);
    EXPECT_EQ(service.calls(), (Strings{unmount, std::string("Unmount ") + test::FakeUDisks::loopPath}));
}

// An encrypted disk is locked again, then its drive is stopped.
TEST_F(UDisksVolumeEjectorTest, LocksAnEncryptedDiskThenPowersItsDriveOff) {
    auto& service = udisks({stick, true, true, true});
    ejector.eject(stick);
    EXPECT_EQ(service.calls(), (Strings{std::string("Unmount ") + test::FakeUDisks::cleartextPath,
                                        std::string("Lock ") + test::FakeUDisks::partitionPath, powerOff}));
}

TEST_F(UDisksVolumeEjectorTest, AnEncryptedDiskThatStaysUnlockedIsNotPoweredOff) {
    auto& refusing = udisks({stick, true, true, true});
    refusing.fail("Lock", "org.freedesktop.UDisks2.Error.DeviceBusy", "Error locking /dev/sdx1: busy");
    const auto error = ejectError(stick);
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), "Error locking /dev/sdx1: busy");
    EXPECT_EQ(refusing.calls().size(), 2u);
}

TEST_F(UDisksVolumeEjectorTest, TheServicesRefusalIsTheReasonAndEndsTheEject) {
    auto& service = udisks({stick, true, true});
    service.fail("Unmount", "org.freedesktop.UDisks2.Error.DeviceBusy",
                 "Error unmounting /dev/sdx1: target is busy");
    const auto error = ejectError(stick);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), VolumeEjectError::Code::failed);
    EXPECT_EQ(error->volumeRoot(), stick);
    EXPECT_STREQ(error->what(), "Error unmounting /dev/sdx1: target is busy");
    EXPECT_EQ(service.calls(), Strings{unmount});
}

TEST_F(UDisksVolumeEjectorTest, AFailedPowerOffIsReportedAfterTheUnmount) {
    auto& service = udisks({stick, true, true});
    service.fail("PowerOff", "org.freedesktop.UDisks2.Error.Failed", "Error powering off drive");
    const auto error = ejectError(stick);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), VolumeEjectError::Code::failed);
    EXPECT_STREQ(error->what(), "Error powering off drive");
    EXPECT_EQ(service.calls(), (Strings{unmount, powerOff}));
}

TEST_F(UDisksVolumeEjectorTest, ARootWithNoMountedDiskIsNamed) {
    auto& service = udisks({stick, true, true});
    const auto error = ejectError("/media/user/OTHER");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), VolumeEjectError::Code::notMounted);
    EXPECT_STREQ(error->what(), "No disk is mounted at /media/user/OTHER");
    EXPECT_TRUE(service.calls().empty());
}

TEST_F(UDisksVolumeEjectorTest, WithoutUDisksTheServiceIsNotAvailable) {
    const auto error = ejectError(stick);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), VolumeEjectError::Code::serviceUnavailable);
    EXPECT_STREQ(error->what(), "The disk service is not available");
}

TEST(UDisksVolumeEjector, WithoutASystemBusTheServiceIsNotAvailable) {
    test::TemporaryFolder folder;
    test::SystemBusAddress missing("unix:path=" + (folder / "no-socket").native());
    UDisksVolumeEjector ejector;
    try {
        ejector.eject(stick);
        FAIL() << "ejected without a bus";
    } catch (const VolumeEjectError& error) {
        EXPECT_EQ(error.code(), VolumeEjectError::Code::serviceUnavailable);
    }
}

}  // namespace
}  // namespace kelto
