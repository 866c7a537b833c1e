#include "tests/support/FakeUDisks.h"

#include <stdexcept>
#include <string_view>

namespace kelto::test {

FakeUDisks::FakeUDisks(const std::string& address, Disk disk) : disk_(std::move(disk)), service_(address) {
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
    const struct {
        const char* path;
        const char* interface;
        const sd_bus_vtable* vtable;
    } objects[] = {
        {diskPath, "org.freedesktop.UDisks2.Block", block},
        {partitionPath, "org.freedesktop.UDisks2.Block", block},
        {partitionPath, "org.freedesktop.UDisks2.Filesystem", filesystem},
        {partitionPath, "org.freedesktop.UDisks2.Encrypted", encrypted},
        {cleartextPath, "org.freedesktop.UDisks2.Block", block},
        {cleartextPath, "org.freedesktop.UDisks2.Filesystem", filesystem},
        {loopPath, "org.freedesktop.UDisks2.Block", block},
        {loopPath, "org.freedesktop.UDisks2.Filesystem", filesystem},
        {drivePath, "org.freedesktop.UDisks2.Drive", drive},
    };
    sd_bus* bus = service_.bus();
    for (const auto& o : objects) {
        // The partition holds either the file system or the encrypted one.
        const bool cryptoPart = std::string_view(o.path) == cleartextPath ||
                                std::string_view(o.interface) == "org.freedesktop.UDisks2.Encrypted";
        const bool plainPart = std::string_view(o.path) == partitionPath &&
                               std::string_view(o.interface) == "org.freedesktop.UDisks2.Filesystem";
        if ((cryptoPart && !disk_.encrypted) || (plainPart && disk_.encrypted)) continue;
        if (sd_bus_add_object_vtable(bus, nullptr, o.path, o.interface, o.vtable, this) < 0)
            throw std::runtime_error(std::string("cannot add ") + o.path);
    }
    // sd-bus answers GetManagedObjects from the properties above.
    if (sd_bus_add_object_manager(bus, nullptr, "/org/freedesktop/UDisks2") < 0)
        throw std::runtime_error("cannot add the object manager");
    service_.start("org.freedesktop.UDisks2");
}

void FakeUDisks::fail(const std::string& method, std::string errorName, std::string message) {
    const std::lock_guard guard(lock_);
    failures_[method] = {std::move(errorName), std::move(message)};
}

std::vector<std::string> FakeUDisks::calls() const {
    const std::lock_guard guard(lock_);
    return calls_;
}

int FakeUDisks::property(sd_bus*, const char* path, const char*, const char* name, sd_bus_message* reply,
                         void* userdata, sd_bus_error*) {
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
    if (property == "CryptoBackingDevice") return sd_bus_message_append(reply, "o", cleartext ? partitionPath : "/");
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

int FakeUDisks::method(sd_bus_message* message, void* userdata, sd_bus_error*) {
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

}  // namespace kelto::test
