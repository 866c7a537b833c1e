#include "Platform/System/UDisksVolumeEjector.h"

#include "Platform/System/internal/SdBus.h"
#include "SyncAutomation/VolumeEjectError.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelto {

namespace {

constexpr const char* service = "org.freedesktop.UDisks2";
constexpr const char* blockInterface = "org.freedesktop.UDisks2.Block";
constexpr const char* filesystemInterface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* driveInterface = "org.freedesktop.UDisks2.Drive";
constexpr const char* encryptedInterface = "org.freedesktop.UDisks2.Encrypted";

struct ManagedObject {
    std::string path;
    std::vector<std::filesystem::path> mountPoints;
    std::string drive;
    std::string cryptoBackingDevice;  // "/" or empty unless an unlocked cleartext block
    bool canPowerOff = false;
    bool ejectable = false;
};

struct UnreadableAnswer : std::runtime_error {
    UnreadableAnswer() : std::runtime_error("The disk service sent an answer that could not be read") {}
};

int need(int result) {
    if (result < 0) throw UnreadableAnswer();
    return result;
}

// "/media/disk/" and "/media/disk" name the same mount point.
std::filesystem::path comparable(const std::filesystem::path& path) {
    auto normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
    return normal;
}

void readProperty(sd_bus_message* m, const std::string& interface, const std::string& name, ManagedObject& object) {
    if (interface == filesystemInterface && name == "MountPoints") {
        need(sd_bus_message_enter_container(m, 'v', "aay"));
        need(sd_bus_message_enter_container(m, 'a', "ay"));
        const void* bytes = nullptr;
        std::size_t size = 0;
        while (need(sd_bus_message_read_array(m, 'y', &bytes, &size)) > 0) {
            std::string point(static_cast<const char*>(bytes), size);
            while (!point.empty() && point.back() == '\0') point.pop_back();
            object.mountPoints.emplace_back(std::move(point));
        }
        need(sd_bus_message_exit_container(m));
        need(sd_bus_message_exit_container(m));
    } else if (interface == blockInterface && (name == "Drive" || name == "CryptoBackingDevice")) {
        const char* path = nullptr;
        need(sd_bus_message_read(m, "v", "o", &path));
        (name == "Drive" ? object.drive : object.cryptoBackingDevice) = path;
    } else if (interface == driveInterface && (name == "CanPowerOff" || name == "Ejectable")) {
        int value = 0;
        need(sd_bus_message_read(m, "v", "b", &value));
        (name == "CanPowerOff" ? object.canPowerOff : object.ejectable) = value != 0;
    } else {
        need(sd_bus_message_skip(m, "v"));
    }
}

// The answer of ObjectManager.GetManagedObjects, a{oa{sa{sv}}}, keeping only
// what an eject needs.
std::vector<ManagedObject> readManagedObjects(sd_bus_message* m) {
    std::vector<ManagedObject> objects;
    need(sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}"));
    while (need(sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        const char* path = nullptr;
        need(sd_bus_message_read(m, "o", &path));
        ManagedObject& object = objects.emplace_back();
        object.path = path;
        need(sd_bus_message_enter_container(m, 'a', "{sa{sv}}"));
        while (need(sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
            const char* interface = nullptr;
            need(sd_bus_message_read(m, "s", &interface));
            const std::string interfaceName = interface;
            need(sd_bus_message_enter_container(m, 'a', "{sv}"));
            while (need(sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
                const char* name = nullptr;
                need(sd_bus_message_read(m, "s", &name));
                readProperty(m, interfaceName, name, object);
                need(sd_bus_message_exit_container(m));
            }
            need(sd_bus_message_exit_container(m));
            need(sd_bus_message_exit_container(m));
        }
        need(sd_bus_message_exit_container(m));
        need(sd_bus_message_exit_container(m));
    }
    need(sd_bus_message_exit_container(m));
    return objects;
}

bool isUnavailable(const SdBus::Error& error) {
    return error.hasName(SD_BUS_ERROR_SERVICE_UNKNOWN) || error.hasName(SD_BUS_ERROR_NAME_HAS_NO_OWNER);
}

// Calls a UDisks2 method whose only argument is an empty options dictionary.
void callWithoutOptions(sd_bus* bus, const std::filesystem::path& volumeRoot, const std::string& object,
                        const char* interface, const char* method, std::chrono::seconds timeout) {
    sd_bus_message* call = nullptr;
    int result = sd_bus_message_new_method_call(bus, &call, service, object.c_str(), interface, method);
    const SdBus::Message ownedCall(call);
    if (result >= 0) result = sd_bus_message_append(call, "a{sv}", 0);
    SdBus::Error error;
    sd_bus_message* reply = nullptr;
    if (result >= 0)
        result = sd_bus_call(bus, call, std::chrono::microseconds(timeout).count(), error.get(), &reply);
    const SdBus::Message ownedReply(reply);
    if (result < 0) {
        if (isUnavailable(error)) throw VolumeEjectError::serviceUnavailable(volumeRoot);
        throw VolumeEjectError::failed(volumeRoot, error.describe(result));
    }
}

}  // namespace

void UDisksVolumeEjector::eject(const std::filesystem::path& volumeRoot) {
    const auto bus = SdBus::openSystem(std::chrono::microseconds(queryTimeout).count());
    if (!bus) throw VolumeEjectError::serviceUnavailable(volumeRoot);

    SdBus::Error error;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call_method(bus.get(), service, "/org/freedesktop/UDisks2",
                                          "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", error.get(),
                                          &reply, "");
    const SdBus::Message ownedReply(reply);
    if (result < 0) {
        if (isUnavailable(error)) throw VolumeEjectError::serviceUnavailable(volumeRoot);
        throw VolumeEjectError::failed(volumeRoot, error.describe(result));
    }
    std::vector<ManagedObject> objects;
    try {
        objects = readManagedObjects(reply);
    } catch (const UnreadableAnswer& unreadable) {
        throw VolumeEjectError::failed(volumeRoot, unreadable.what());
    }

    const auto root = comparable(volumeRoot);
    const ManagedObject* block = nullptr;
    for (const auto& object : objects)
        for (const auto& point : object.mountPoints)
            if (comparable(point) == root) block = &object;
    if (!block) throw VolumeEjectError::notMounted(volumeRoot);

    callWithoutOptions(bus.get(), volumeRoot, block->path, filesystemInterface, "Unmount", operationTimeout);

    const auto find = [&](const std::string& path) -> const ManagedObject* {
        for (const auto& object : objects)
            if (object.path == path) return &object;
        return nullptr;
    };
    // An unlocked encrypted disk: the cleartext block has no drive; its
    // backing device is locked again and has the drive.
    if (const ManagedObject* backing = find(block->cryptoBackingDevice); backing && !find(block->drive)) {
        callWithoutOptions(bus.get(), volumeRoot, backing->path, encryptedInterface, "Lock", operationTimeout);
        block = backing;
    }
    const ManagedObject* drive = find(block->drive);
    // A block without a drive (a loop device, say) is done once unmounted.
    if (!drive) return;
    if (drive->canPowerOff)
        callWithoutOptions(bus.get(), volumeRoot, drive->path, driveInterface, "PowerOff", operationTimeout);
    else if (drive->ejectable)
        callWithoutOptions(bus.get(), volumeRoot, drive->path, driveInterface, "Eject", operationTimeout);
}

}  // namespace kelto
