#include "SyncAutomation/SyncCoordinator.h"

#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/TwoWayEngine.h"
#include "SyncModel/Support/FileIO.h"

#include <sys/statvfs.h>

#include <cerrno>

namespace kelto {

namespace fs = std::filesystem;

SyncPlan SyncCoordinator::preview(const Uuid& jobID, std::stop_token stop) {
    const ResolvedJob resolved = resolve(jobID);
    if (stop.stop_requested()) throw CancellationError();

    if (resolved.job.mode != SyncMode::twoWay) {
        OneWayEngine engine(*services_.rsync, treesOverlap());
        engine.listFolder = listFolder(jobID);
        return engine.plan(resolved.job, resolved.a, resolved.b, resolved.traitsB, stop);
    }

    // Read-only: a job that never ran gets no baseline file from a preview.
    BaselineStore baseline(baselineFile(jobID), true);
    TwoWayEngine engine(*services_.rsync, treesOverlap());
    return engine.plan(resolved.job, resolved.sideA(), resolved.sideB(), baseline, stop).first;
}

std::vector<fs::path> SyncCoordinator::availableRoots(const Uuid& jobID) const {
    const SyncJob job = findJob(jobID);
    const std::vector<MountedVolume> mounted = services_.volumes();

    // The sides that hold archives.
    std::vector<const Endpoint*> endpoints;
    if (job.mode == SyncMode::twoWay) endpoints.push_back(&job.source);
    endpoints.push_back(&job.destination);

    std::vector<fs::path> roots;
    for (const Endpoint* endpoint : endpoints) {
        const EndpointResolution resolution = EndpointResolver::resolve(*endpoint, mounted, services_.identityAt);
        if (resolution.kind == EndpointResolution::Case::available) roots.push_back(resolution.url);
    }
    return roots;
}

// Linux has no separate figure for space kept for important use, so local
// and network volumes both report what an unprivileged writer may fill.
std::int64_t SyncCoordinator::availableSpace(const fs::path& path, bool /*isNetwork*/) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) throw FileError(errno, "Could not read the free space of", path);
    return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

}  // namespace kelto
