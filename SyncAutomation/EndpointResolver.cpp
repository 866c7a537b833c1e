#include "SyncAutomation/EndpointResolver.h"

#include "SyncAutomation/FileSystemPlaces.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncModel/Support/PathComponents.h"

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
    // A number stored where the disk keeps none that last tells nothing.
    if (!endpoint.fileID || !VolumeInspector::keepsFileNumbers(identity.fileSystem))
        return EndpointResolution::available(candidate);
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

    const auto isRecorded = [&](const MountedVolume& v) { return endpoint.volume.matches(v.identity); };
    if (std::none_of(volumes.begin(), volumes.end(), isRecorded)) {
        if (endpoint.volume.kind == VolumeKind::removable &&
            std::any_of(volumes.begin(), volumes.end(), [&](const MountedVolume& v) {
                return v.identity.name == endpoint.volume.name && v.identity.uuid != endpoint.volume.uuid;
            }))
            return EndpointResolution::identityMismatch();
        return EndpointResolution::deviceNotConnected();
    }
    // The relative path leads from the file system's root. A mount that shows
    // only a sub-folder of it (a bind mount, a btrfs subvolume) serves only
    // what lies in that sub-folder; the first one listed that serves is used.
    const auto stored = PathComponents::of(fs::path("/") / endpoint.relativePath);
    for (const MountedVolume& mounted : volumes) {
        if (!isRecorded(mounted)) continue;
        const std::optional<fs::path> candidate = FileSystemPlaces::pathThrough(mounted, stored);
        if (!candidate) continue;
        if (!directoryExists(*candidate)) return EndpointResolution::folderMissing();
        return verify(endpoint, *candidate, identityAt);
    }
    return EndpointResolution::folderMissing();
}

}  // namespace kelto
