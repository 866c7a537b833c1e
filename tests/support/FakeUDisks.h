#pragma once

#include "tests/support/BusService.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kelto::test {

// org.freedesktop.UDisks2 on a test bus: one removable disk (whole disk, partition or an unlocked cleartext block, drive) and a driveless loop device; records calls, fails where told.
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

    FakeUDisks(const std::string& address, Disk disk);

    // Answers `method` ("Unmount", "Lock", "PowerOff" or "Eject") with this error.
    void fail(const std::string& method, std::string errorName, std::string message);
    // "<method> <object path>" for each call, in order.
    std::vector<std::string> calls() const;

private:
    struct Failure {
        std::string name, message;
    };
    static int property(sd_bus*, const char* path, const char* interface, const char* name, sd_bus_message* reply,
                        void* userdata, sd_bus_error*);
    static int method(sd_bus_message* message, void* userdata, sd_bus_error*);

    const Disk disk_;
    mutable std::mutex lock_;
    std::map<std::string, Failure> failures_;
    std::vector<std::string> calls_;
    BusService service_;  // last: stops answering before the state goes
};

}  // namespace kelto::test
