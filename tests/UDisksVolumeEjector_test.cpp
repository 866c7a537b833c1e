#include "Platform/System/UDisksVolumeEjector.h"
#include "SyncAutomation/VolumeEjectError.h"
#include "tests/support/BusService.h"
#include "tests/support/PrivateBus.h"
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <tuple>
#include <stdexcept>

namespace kelto {
namespace {

// org.freedesktop.UDisks2 on a test bus: one removable disk (whole disk, partition or an unlocked cleartext
// block, drive) and a driveless loop device; records calls, fails where told.
class FakeUDisks {
public:
    struct Disk {
        std::string mountPoint;
        bool canPowerOff = true;
        bool ejectable = false;
        bool encrypted = false;
    };

    static constexpr const char* diskPath = "/org/freedesktop/UDisks2/block_devices/sdx";
    static constexpr const char* partitionPath = "/org/freedesktop/UDisks2/block_devices/sdx1";
    static constexpr const char* loopPath = "/org/freedesktop/UDisks2/block_devices/loop0";
    static constexpr const char* cleartextPath = "/org/freedesktop/UDisks2/block_devices/dm_2d0";
    static constexpr const char* drivePath = "/org/freedesktop/UDisks2/drives/Kelto_Stick_0001";
    static constexpr const char* loopMountPoint = "/snap/kelto-fake/1";

    FakeUDisks(const std::string& address, Disk disk) : disk_(std::move(disk)), service_(address) {
        constexpr auto flags = SD_BUS_VTABLE_PROPERTY_CONST;
        static const sd_bus_vtable block[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_PROPERTY("Device", "ay", &FakeUDisks::property, 0, flags),
            SD_BUS_PROPERTY("Drive", "o", &FakeUDisks::property, 0, flags),
            SD_BUS_PROPERTY("CryptoBackingDevice", "o", &FakeUDisks::property, 0, flags),
            SD_BUS_VTABLE_END,
        };
        static const sd_bus_vtable encrypted[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_PROPERTY("CleartextDevice", "o", &FakeUDisks::property, 0, flags),
            SD_BUS_METHOD("Lock", "a{sv}", "", &FakeUDisks::method, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        static const sd_bus_vtable filesystem[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_PROPERTY("MountPoints", "aay", &FakeUDisks::property, 0, flags),
            SD_BUS_METHOD("Unmount", "a{sv}", "", &FakeUDisks::method, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        static const sd_bus_vtable drive[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_PROPERTY("Vendor", "s", &FakeUDisks::property, 0, flags),
            SD_BUS_PROPERTY("CanPowerOff", "b", &FakeUDisks::property, 0, flags),
            SD_BUS_PROPERTY("Ejectable", "b", &FakeUDisks::property, 0, flags),
            SD_BUS_METHOD("PowerOff", "a{sv}", "", &FakeUDisks::method, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Eject", "a{sv}", "", &FakeUDisks::method, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        // The partition holds either the file system or the encrypted one.
        enum Holds { always, whenPlain, whenEncrypted };
        const struct {
            const char* path;
            const char* interface;
            const sd_bus_vtable* vtable;
            Holds holds = always;
        } objects[] = {
            {diskPath, "org.freedesktop.UDisks2.Block", block},
            {partitionPath, "org.freedesktop.UDisks2.Block", block},
            {partitionPath, "org.freedesktop.UDisks2.Filesystem", filesystem, whenPlain},
            {partitionPath, "org.freedesktop.UDisks2.Encrypted", encrypted, whenEncrypted},
            {cleartextPath, "org.freedesktop.UDisks2.Block", block, whenEncrypted},
            {cleartextPath, "org.freedesktop.UDisks2.Filesystem", filesystem, whenEncrypted},
            {loopPath, "org.freedesktop.UDisks2.Block", block},
            {loopPath, "org.freedesktop.UDisks2.Filesystem", filesystem},
            {drivePath, "org.freedesktop.UDisks2.Drive", drive},
        };
        sd_bus* bus = service_.bus();
        for (const auto& o : objects) {
            if (o.holds != always && (o.holds == whenEncrypted) != disk_.encrypted) continue;
            if (sd_bus_add_object_vtable(bus, nullptr, o.path, o.interface, o.vtable, this) < 0)
                throw std::runtime_error(std::string("cannot add ") + o.path);
        }
        // sd-bus answers GetManagedObjects from the properties above.
        if (sd_bus_add_object_manager(bus, nullptr, "/org/freedesktop/UDisks2") < 0)
            throw std::runtime_error("cannot add the object manager");
        service_.start("org.freedesktop.UDisks2");
    }

    // Answers `method` ("Unmount", "Lock", "PowerOff" or "Eject") with this error.
    void fail(const std::string& method, std::string errorName, std::string message) {
        const std::lock_guard guard(lock_);
        failures_[method] = {std::move(errorName), std::move(message)};
    }

    // "<method> <object path>" for each call, in order.
    std::vector<std::string> calls() const {
        const std::lock_guard guard(lock_);
        return calls_;
    }

private:
    struct Failure {
        std::string name, message;
    };

    static int property(sd_bus*, const char* path, const char*, const char* name, sd_bus_message* reply, void* userdata,
                        sd_bus_error*) {
        const auto& self = *static_cast<const FakeUDisks*>(userdata);
        const std::string_view object = path, property = name;
        const bool loop = object == loopPath;
        // Byte strings as UDisks2 sends them: with the terminating NUL.
        const auto appendBytes = [reply](const std::string& text) {
            return sd_bus_message_append_array(reply, 'y', text.c_str(), text.size() + 1);
        };
        if (property == "Device") {
            if (loop) return appendBytes("/dev/loop0");
            if (object == cleartextPath) return appendBytes("/dev/dm-0");
            return appendBytes(object == diskPath ? "/dev/sdx" : "/dev/sdx1");
        }
        const bool cleartext = object == cleartextPath;
        if (property == "Drive") return sd_bus_message_append(reply, "o", loop || cleartext ? "/" : drivePath);
        if (property == "CryptoBackingDevice")
            return sd_bus_message_append(reply, "o", cleartext ? partitionPath : "/");
        if (property == "CleartextDevice") return sd_bus_message_append(reply, "o", cleartextPath);
        if (property == "MountPoints") {
            int r = sd_bus_message_open_container(reply, 'a', "ay");
            if (r >= 0) r = appendBytes(loop ? loopMountPoint : self.disk_.mountPoint);
            if (r >= 0) r = sd_bus_message_close_container(reply);
            return r;
        }
        if (property == "Vendor") return sd_bus_message_append(reply, "s", "Kelto");
        if (property == "CanPowerOff") return sd_bus_message_append(reply, "b", self.disk_.canPowerOff);
        return sd_bus_message_append(reply, "b", self.disk_.ejectable);
    }

    static int method(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& self = *static_cast<FakeUDisks*>(userdata);
        const std::string member = sd_bus_message_get_member(message);
        std::unique_lock guard(self.lock_);
        self.calls_.push_back(member + " " + sd_bus_message_get_path(message));
        const auto failure = self.failures_.find(member);
        if (failure == self.failures_.end()) {
            guard.unlock();
            return sd_bus_reply_method_return(message, "");
        }
        const Failure answer = failure->second;
        guard.unlock();
        return sd_bus_reply_method_errorf(message, answer.name.c_str(), "%s", answer.message.c_str());
    }

    const Disk disk_;
    mutable std::mutex lock_;
    std::map<std::string, Failure> failures_;
    std::vector<std::string> calls_;
    test::BusService service_;  // last: stops answering before the state goes
};

using Strings = std::vector<std::string>;
using Disk = FakeUDisks::Disk;

const std::string stick = "/media/user/STICK";
const std::string unmount = std::string("Unmount ") + FakeUDisks::partitionPath;
const std::string powerOff = std::string("PowerOff ") + FakeUDisks::drivePath;
const std::string ejectDrive = std::string("Eject ") + FakeUDisks::drivePath;
using Code = VolumeEjectError::Code;
using Refusal = std::tuple<Code, std::string, std::string>;  // code, volume root, reason

class UDisksVolumeEjectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << bus.reason();
    }
    FakeUDisks& udisks(Disk disk) { return fake.emplace(bus.address(), std::move(disk)); }
    std::optional<Refusal> ejectError(const std::filesystem::path& root, UDisksVolumeEjector* by = nullptr) {
        try {
            (by ? *by : ejector).eject(root);
        } catch (const VolumeEjectError& error) {
            return Refusal(error.code(), error.volumeRoot(), error.what());
        }
        return std::nullopt;
    }
    test::PrivateBus bus;
    std::optional<FakeUDisks> fake;
    UDisksVolumeEjector ejector;
};

// A cleartext block is locked again once unmounted; the service's refusal is the reason and ends the eject.
TEST_F(UDisksVolumeEjectorTest, UnmountsThenStopsTheDriveWhereThereIsOne) {
    const std::string unmountClear = std::string("Unmount ") + FakeUDisks::cleartextPath;
    const std::string lock = std::string("Lock ") + FakeUDisks::partitionPath;
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
        {{stick, false, false}, FakeUDisks::loopMountPoint, {std::string("Unmount ") + FakeUDisks::loopPath}},
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
        const auto refusal = c.refused ? std::optional(Refusal(Code::failed, stick, c.message)) : std::nullopt;
        EXPECT_EQ(ejectError(c.root), refusal);
        EXPECT_EQ(service.calls(), c.calls);
    }
}

// No disk mounted at the root, no disk service, no bus.
TEST_F(UDisksVolumeEjectorTest, AnEjectWithNothingToAskNamesWhy) {
    const Refusal noService(Code::serviceUnavailable, stick, "The disk service is not available");
    EXPECT_EQ(ejectError(stick), noService);
    auto& service = udisks({stick, true, true});
    const std::string other = "/media/user/OTHER";
    EXPECT_EQ(ejectError(other), Refusal(Code::notMounted, other, "No disk is mounted at " + other));
    EXPECT_TRUE(service.calls().empty());
    test::SystemBusAddress missing(bus.address() + "-none");
    UDisksVolumeEjector withoutBus;
    EXPECT_EQ(ejectError(stick, &withoutBus), noService);
}

}  // namespace
}  // namespace kelto
