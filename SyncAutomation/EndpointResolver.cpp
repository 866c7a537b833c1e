#include "SyncAutomation/EndpointResolver.h"

#include "SyncAutomation/VolumeInspector.h"

#include <algorithm>

namespace kelto {

namespace fs = std::filesystem;

namespace {

EndpointResolution verify(const Endpoint& endpoint, const fs::path& candidate, const EndpointResolver::IdentityLookup& identityAt) {
    std::error_code error;
    // Gone or changed since it was found: nothing is vouched for.
    const fs::path checked = fs::canonical(candidate, error);
    if (error) return EndpointResolution::folderMissing();
    VolumeIdentity identity;
    try {
        identity = identityAt(checked);
    } catch (...) {
        return EndpointResolution::identityMismatch();
    }
    if (!endpoint.volume.matches(identity)) return EndpointResolution::identityMismatch();
    if (!endpoint.fileID) return EndpointResolution::available(candidate);
    if (VolumeInspector::fileNumber(checked, identity.fileSystem) != endpoint.fileID)
        return EndpointResolution::folderMissing();
    return EndpointResolution::available(candidate);
}

}  // namespace

bool EndpointResolver::isDirectory(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

EndpointResolution EndpointResolver::resolve(const Endpoint& endpoint, const std::vector<MountedVolume>& volumes,
                                             const IdentityLookup& identityAt) {
    return resolve(endpoint, volumes, isDirectory, identityAt);
}

EndpointResolution EndpointResolver::resolve(const Endpoint& endpoint, const std::vector<MountedVolume>& volumes,
                                             const DirectoryTest& directoryExists, const IdentityLookup& identityAt) {
    // Linux has no bookmarks: a stored one is kept but not read.
    if (endpoint.volume.kind == VolumeKind::internal) {
        const fs::path candidate = endpoint.path;
        if (!directoryExists(candidate)) return EndpointResolution::folderMissing();
        return verify(endpoint, candidate, identityAt);
    }

    const auto mounted = std::find_if(volumes.begin(), volumes.end(),
                                      [&](const MountedVolume& v) { return endpoint.volume.matches(v.identity); });
    if (mounted == volumes.end()) {
        if (endpoint.volume.kind == VolumeKind::removable &&
            std::any_of(volumes.begin(), volumes.end(), [&](const MountedVolume& v) {
                return v.identity.name == endpoint.volume.name && v.identity.uuid != endpoint.volume.uuid;
            }))
            return EndpointResolution::identityMismatch();
        return EndpointResolution::deviceNotConnected();
    }
    const fs::path candidate = endpoint.relativePath.empty() ? mounted->root : mounted->root / endpoint.relativePath;
    if (!directoryExists(candidate)) return EndpointResolution::folderMissing();
    return verify(endpoint, candidate, identityAt);
}

}  // namespace kelto
