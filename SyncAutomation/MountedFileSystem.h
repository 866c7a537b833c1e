#pragma once

#include "SyncModel/VolumeIdentity.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace kelto {

// One visible entry of the mount table with the identity of what is mounted.
struct MountedFileSystem {
    std::filesystem::path mountPoint;
    // False for pseudo file systems (proc, sysfs, cgroup …): never offered as
    // volumes, yet they still hold paths.
    bool browsable = true;
    VolumeIdentity identity;
    // The folder of the file system that the mount shows, from that file
    // system's root: "/" for a whole disk, a sub-folder for a bind mount or
    // a btrfs subvolume; empty when it cannot be told.
    std::string fileSystemRoot = "/";
    // The mounted file system's device number, shared by all its mounts; 0
    // when unknown.
    std::uint64_t device = 0;
};

}  // namespace kelto
