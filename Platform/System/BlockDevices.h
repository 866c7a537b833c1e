#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace kelto {

// What the system knows of a block device behind a mount.
struct BlockDevices {
    struct Tags {
        std::optional<std::string> uuid;
        std::optional<std::string> label;
    };

    // The file system's UUID and label read by libblkid from the device's
    // superblock; nothing for what cannot be opened or probed.
    static Tags probe(const std::string& devicePath);

    // The same tags from udev's links under `diskLinks` (by-uuid, by-label),
    // which any user may read; for a device this process cannot open.
    static Tags linked(const std::string& devicePath, const std::filesystem::path& diskLinks = "/dev/disk");

    // probe when the device can be read, else linked: both tags always come
    // from one of the two.
    static Tags read(const std::string& devicePath);

    // Whether the device is flagged removable (itself or, for a partition,
    // its disk) or sits below a USB controller, from the sysfs tree at
    // `sysfsRoot`.
    static bool isRemovable(const std::filesystem::path& sysfsRoot, dev_t device);
};

}  // namespace kelto
