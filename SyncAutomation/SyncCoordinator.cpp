#include "SyncAutomation/SyncCoordinator.h"

#include "SyncAutomation/FileSystemPlaces.h"
#include "SyncAutomation/JobLock.h"
#include "SyncAutomation/VolumeInspectorError.h"
#include "SyncModel/Support/PathComponents.h"

#include <algorithm>
#include <memory>
#include <set>

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
    return FileSystemPlaces::holder(mounted, folder);
}

TreeOverlap SyncCoordinator::treesOverlap(RunLogSink* log) const {
    TreeOverlap::Note note;
    if (log)
        note = [log, told = std::make_shared<std::set<std::string, std::less<>>>()](std::string_view line) {
            if (told->emplace(line).second) log->writeLine(line);
        };
    // The table as it is at each question: a mount made while a run plans is
    // seen before its transfer. Every mount counts, pseudo file systems too,
    // as the endpoints were placed with them all.
    // A stacked mount's folders are named as they were given, links and
    // all; what no longer exists lies where it was named.
    const auto resolved = [](const fs::path& named) -> std::optional<fs::path> {
        std::error_code error;
        fs::path real = fs::weakly_canonical(named, error);
        if (error || !named.is_absolute()) return std::nullopt;
        return real;
    };
    return TreeOverlap([volumes = services_.volumes, resolved](const fs::path& a, const fs::path& b) {
        const std::vector<MountedVolume> mounts = volumes();
        if (mounts.empty()) throw VolumeInspectorError(VolumeInspectorError::Code::mountTableUnreadable, {});
        const FileSystemPlaces::Verdict verdict = FileSystemPlaces::compare(mounts, a, b, resolved);
        if (verdict.kind == FileSystemPlaces::Verdict::Case::unplaced)
            throw VolumeInspectorError(VolumeInspectorError::Code::mountUnplaced, verdict.where);
        return verdict.kind == FileSystemPlaces::Verdict::Case::overlapping;
    }, std::move(note), [volumes = services_.volumes, resolved](const fs::path& folder) {
        std::error_code error;
        const fs::path real = fs::canonical(folder, error);
        std::vector<TreeOverlap::Lookup> lookups;
        if (error) return lookups;
        const std::vector<MountedVolume> mounts = volumes();
        for (fs::path& at : FileSystemPlaces::lookups(mounts, real, resolved)) lookups.push_back({std::move(at), true});
        const std::vector<std::string> top = PathComponents::of(real);
        for (const MountedVolume& volume : mounts) {
            const std::vector<std::string> at = PathComponents::of(volume.root);
            if (at.size() > top.size() && PathComponents::isPrefix(top, at)) lookups.push_back({volume.root, false});
        }
        return lookups;
    });
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

fs::path SyncCoordinator::listFolder(const Uuid& jobID) const { return listFolderFor(services_.supportDirectory, jobID); }

fs::path SyncCoordinator::listFolderFor(const fs::path& supportDirectory, const Uuid& jobID) {
    return supportDirectory / "state" / (jobID.string() + ".lists");
}

}  // namespace kelto
