#pragma once

#include "SyncModel/VolumeIdentity.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelto {

// A browsable mounted volume: where it is mounted and what it is.
struct MountedVolume {
    std::filesystem::path root;
    VolumeIdentity identity;
    // As MountedFileSystem's: which folder of its file system the mount
    // shows, the file system's device, the folders it is stacked on, the
    // image files that keep it, whether it is another machine's share and
    // whether the markers can place a side on it.
    std::string fileSystemRoot = "/";
    std::uint64_t device = 0;
    std::vector<std::filesystem::path> stackedOn{};
    std::vector<std::filesystem::path> images{};
    bool onAnotherMachine = false;
    bool placedByMarkers = false;

    // Field by field: where folders lie (FileSystemPlaces) depends on every
    // one of them, so a mount that differs in any is another mount.
    friend bool operator==(const MountedVolume&, const MountedVolume&) = default;
};

}  // namespace kelto
