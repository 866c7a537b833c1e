#pragma once

#include "SyncModel/VolumeIdentity.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace kelto {

// A browsable mounted volume: where it is mounted and what it is.
struct MountedVolume {
    std::filesystem::path root;
    VolumeIdentity identity;
    // As MountedFileSystem's: which folder of its file system the mount
    // shows, and the file system's device.
    std::string fileSystemRoot = "/";
    std::uint64_t device = 0;

    // Another folder of the same volume shown at the same place is another
    // mount, so runs in the old one hear of it; the same disk with another
    // device number is not.
    friend bool operator==(const MountedVolume& a, const MountedVolume& b) {
        return a.root == b.root && a.identity == b.identity && a.fileSystemRoot == b.fileSystemRoot;
    }
};

}  // namespace kelto
