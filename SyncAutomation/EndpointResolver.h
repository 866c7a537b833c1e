#pragma once

#include "SyncAutomation/EndpointResolution.h"
#include "SyncAutomation/MountedVolume.h"
#include "SyncModel/Endpoint.h"

#include <functional>
#include <vector>

namespace kelto {

// Turns a stored endpoint into the folder mounted now, only when it is
// provably the same folder on the same volume. Removable and network
// endpoints resolve through the first matching volume whose mount shows the
// folder its relative path names from the file system's root, never the
// old mount point. Never throws.
struct EndpointResolver {
    using IdentityLookup = std::function<VolumeIdentity(const std::filesystem::path&)>;
    using DirectoryTest = std::function<bool(const std::filesystem::path&)>;

    static EndpointResolution resolve(const Endpoint& endpoint, const std::vector<MountedVolume>& volumes,
                                      const IdentityLookup& identityAt);
    static EndpointResolution resolve(const Endpoint& endpoint, const std::vector<MountedVolume>& volumes,
                                      const DirectoryTest& directoryExists, const IdentityLookup& identityAt);

    // An existing directory, links followed.
    static bool isDirectory(const std::filesystem::path& path);
};

}  // namespace kelto
