#pragma once

#include "SyncModel/VolumeIdentity.h"

#include <filesystem>

namespace kelto {

// A browsable mounted volume: where it is mounted and what it is.
struct MountedVolume {
    std::filesystem::path root;
    VolumeIdentity identity;

    friend bool operator==(const MountedVolume&, const MountedVolume&) = default;
};

}  // namespace kelto
