#include "SyncAutomation/SyncCoordinator.h"

#include "SyncAutomation/JobLock.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/OneWayEngineError.h"
#include "SyncEngine/TwoWayEngineError.h"

#include <algorithm>

namespace kelto {

namespace fs = std::filesystem;

namespace {

SkipReason skipReason(EndpointResolution::Case unavailable) {
    switch (unavailable) {
        case EndpointResolution::Case::folderMissing: return SkipReason::folderMissing;
        case EndpointResolution::Case::identityMismatch: return SkipReason::identityMismatch;
        default: return SkipReason::deviceNotConnected;
    }
}

fs::path availableFolder(const EndpointResolution& resolution) {
    if (resolution.kind != EndpointResolution::Case::available)
        throw SyncPreviewError::unavailable(skipReason(resolution.kind));
    return resolution.url;
}

// The identity of the volume the folder is on now; the stored one when that
// cannot be told.
VolumeIdentity currentIdentity(const Endpoint& endpoint, const fs::path& folder,
                               const std::vector<MountedVolume>& mounted,
                               const EndpointResolver::IdentityLookup& identityAt) {
    if (endpoint.volume.kind == VolumeKind::internal) {
        try {
            return identityAt(folder);
        } catch (...) {
            return endpoint.volume;
        }
    }
    const MountedVolume* holder = SyncCoordinator::volumeHolding(mounted, folder);
    return holder ? holder->identity : endpoint.volume;
}

// The traits one side is synchronised with: its own, except that a two-way
// job compares times with the coarser window of the two, and either side
// being remote makes the whole transfer a network one.
FileSystemTraits derivedTraits(const FileSystemTraits& own, const FileSystemTraits& other, SyncMode mode) {
    FileSystemTraits traits = own;
    if (mode == SyncMode::twoWay) traits.modifyWindow = std::max(own.modifyWindow, other.modifyWindow);
    traits.isNetwork = own.isNetwork || other.isNetwork;
    return traits;
}

}  // namespace

const MountedVolume* SyncCoordinator::volumeHolding(const std::vector<MountedVolume>& mounted,
                                                   const fs::path& folder) {
    const auto folderParts = VolumeInspector::components(folder);
    const MountedVolume* holder = nullptr;
    for (const MountedVolume& volume : mounted) {
        if (!VolumeInspector::isPrefix(VolumeInspector::components(volume.root), folderParts)) continue;
        if (!holder || volume.root.native().size() > holder->root.native().size()) holder = &volume;
    }
    return holder;
}

bool SyncCoordinator::nestedInFileSystem(const std::vector<MountedVolume>& mounted, const fs::path& a,
                                         const fs::path& b) {
    struct Place {
        const MountedVolume* holder;
        std::vector<std::string> path;
    };
    const auto placeOf = [&](const fs::path& folder) -> std::optional<Place> {
        std::error_code error;
        const fs::path real = fs::canonical(folder, error);
        if (error) return std::nullopt;
        const MountedVolume* holder = volumeHolding(mounted, real);
        if (!holder || holder->device == 0) return std::nullopt;
        auto path = VolumeInspector::fileSystemPath(holder->root, holder->fileSystemRoot, real);
        if (!path) return std::nullopt;
        return Place{holder, std::move(*path)};
    };
    const auto placeA = placeOf(a), placeB = placeOf(b);
    if (!placeA || !placeB || placeA->holder->device != placeB->holder->device) return false;
    // Network shares count their folders each from its own, though a client
    // may serve several from one file system: only one share's compare.
    const VolumeIdentity &volumeA = placeA->holder->identity, &volumeB = placeB->holder->identity;
    if ((volumeA.kind == VolumeKind::network || volumeB.kind == VolumeKind::network) && !volumeA.matches(volumeB))
        return false;
    return VolumeInspector::isPrefix(placeA->path, placeB->path) || VolumeInspector::isPrefix(placeB->path, placeA->path);
}

void SyncCoordinator::refuseNested(const ResolvedJob& resolved) {
    if (!nestedInFileSystem(resolved.mounted, resolved.a, resolved.b)) return;
    if (resolved.job.mode == SyncMode::twoWay) throw TwoWayEngineError::nestedEndpoints();
    throw OneWayEngineError::nestedEndpoints();
}

SyncJob SyncCoordinator::findJob(const Uuid& jobID) const {
    std::vector<SyncJob> jobs = services_.jobs();
    const auto found = std::find_if(jobs.begin(), jobs.end(), [&](const SyncJob& job) { return job.id == jobID; });
    if (found == jobs.end()) throw SyncPreviewError::jobNotFound();
    return std::move(*found);
}

SyncCoordinator::ResolvedJob SyncCoordinator::resolve(const Uuid& jobID) const {
    ResolvedJob resolved;
    resolved.job = findJob(jobID);
    resolved.mounted = services_.volumes();
    Endpoint& source = resolved.job.source;
    Endpoint& destination = resolved.job.destination;
    const EndpointResolution sourceNow = EndpointResolver::resolve(source, resolved.mounted, services_.identityAt);
    const EndpointResolution destinationNow =
        EndpointResolver::resolve(destination, resolved.mounted, services_.identityAt);
    resolved.a = availableFolder(sourceNow);
    resolved.b = availableFolder(destinationNow);

    source.volume = currentIdentity(source, resolved.a, resolved.mounted, services_.identityAt);
    destination.volume = currentIdentity(destination, resolved.b, resolved.mounted, services_.identityAt);

    resolved.rawA = FileSystemTraits::forVolume(source.volume);
    resolved.rawB = FileSystemTraits::forVolume(destination.volume);
    resolved.traitsA = derivedTraits(resolved.rawA, resolved.rawB, resolved.job.mode);
    resolved.traitsB = derivedTraits(resolved.rawB, resolved.rawA, resolved.job.mode);
    return resolved;
}

void SyncCoordinator::volumeWillUnmount(const fs::path& volume) {
    for (const auto& control : active_.controls())
        if (const RunControl::Cancellation cancellation = control->volumeWillUnmount(volume)) cancellation();
}

fs::path SyncCoordinator::baselineFile(const Uuid& jobID) const {
    return services_.supportDirectory / "state" / (jobID.string() + ".sqlite");
}

fs::path SyncCoordinator::lockFile(const Uuid& jobID) const {
    return JobLock::fileFor(services_.supportDirectory, jobID);
}

}  // namespace kelto
