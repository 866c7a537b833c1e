#pragma once

#include "SyncModel/VolumeIdentity.h"

#include <filesystem>

namespace kelto {

// One visible entry of the mount table with the identity of what is mounted.
struct MountedFileSystem {
    std::filesystem::path mountPoint;
    // False for pseudo file systems (proc, sysfs, cgroup …): never offered as
    // volumes, yet they still hold paths.
    bool browsable = true;
    VolumeIdentity identity;
};

}  // namespace kelto
