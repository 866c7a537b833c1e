#pragma once

#include "SyncAutomation/MountedFileSystem.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace kelto {

// What the volume code needs of the system's mount table. The Linux one is
// LinuxVolumeSource; tests hand in a fake.
class VolumeSource {
public:
    virtual ~VolumeSource() = default;
    // The visible mounts in table order; an unreadable table gives none.
    virtual std::vector<MountedFileSystem> mounts() const = 0;
    // Bytes an unprivileged user may still write on the file system holding
    // `path`; nothing when it cannot be read.
    virtual std::optional<std::uint64_t> availableCapacity(const std::filesystem::path& path) const = 0;
};

}  // namespace kelto
