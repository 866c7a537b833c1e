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
    std::optional<VolumeEjectError> ejectError(const std::filesystem::path& root, UDisksVolumeEjector* by = nullptr) {
        try {
            (by ? *by : ejector).eject(root);
        } catch (const VolumeEjectError& error) {
            return error;
        }
        return std::nullopt;
    }
    test::PrivateBus bus;
    std::optional<test::FakeUDisks> fake;
    UDisksVolumeEjector ejector;
};

// Unmounted (a cleartext block locked again), then the drive powered off or ejected where it can be; nothing
// more where it has no drive. The service's refusal is the reason and ends the eject where it came.
TEST_F(UDisksVolumeEjectorTest, UnmountsThenStopsTheDriveWhereThereIsOne) {
    const std::string unmountClear = std::string("Unmount ") + test::FakeUDisks::cleartextPath;
    const std::string lock = std::string("Lock ") + test::FakeUDisks::partitionPath;
    const struct {
        Disk disk;
        std::string root;
        Strings calls;
        const char* refused = nullptr;  // the method the service refuses
        std::string message = {};
    } cases[] = {
        {{stick, true, true}, stick, {unmount, powerOff}},
        {{stick, false, true}, stick + "/", {unmount, ejectDrive}},
        {{stick, false, false}, stick, {unmount}},
        {{stick, false, false}, test::FakeUDisks::loopMountPoint, {std::string("Unmount ") + test::FakeUDisks::loopPath}},
        {{stick, true, true, true}, stick, {unmountClear, lock, powerOff}},
        {{stick, true, true}, stick, {unmount}, "Unmount", "Error unmounting /dev/sdx1: target is busy"},
        {{stick, true, true}, stick, {unmount, powerOff}, "PowerOff", "Error powering off drive"},
        {{stick, true, true, true}, stick, {unmountClear, lock}, "Lock", "Error locking /dev/sdx1: busy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root + (c.disk.encrypted ? " encrypted" : "") + (c.refused ? c.refused : ""));
        fake.reset();
        auto& service = udisks(c.disk);
        if (c.refused) service.fail(c.refused, "org.freedesktop.UDisks2.Error.Failed", c.message);
        const auto error = ejectError(c.root);
        EXPECT_EQ(error.has_value(), c.refused != nullptr);
        if (error) {
            EXPECT_EQ(error->code(), VolumeEjectError::Code::failed);
            EXPECT_EQ(error->volumeRoot(), stick);
            EXPECT_EQ(error->what(), c.message);
        }
        EXPECT_EQ(service.calls(), c.calls);
    }
}

// No disk mounted at the root, no disk service, no bus.
TEST_F(UDisksVolumeEjectorTest, AnEjectWithNothingToAskNamesWhy) {
    auto error = ejectError(stick);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), VolumeEjectError::Code::serviceUnavailable);
    EXPECT_STREQ(error->what(), "The disk service is not available");
    auto& service = udisks({stick, true, true});
    error = ejectError("/media/user/OTHER");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), VolumeEjectError::Code::notMounted);
    EXPECT_STREQ(error->what(), "No disk is mounted at /media/user/OTHER");
    EXPECT_TRUE(service.calls().empty());
    test::SystemBusAddress missing(bus.address() + "-none");
    UDisksVolumeEjector withoutBus;
    error = ejectError(stick, &withoutBus);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), VolumeEjectError::Code::serviceUnavailable);
}

}  // namespace
}  // namespace kelto
