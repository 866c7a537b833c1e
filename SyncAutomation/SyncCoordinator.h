#pragma once

#include "SyncAutomation/ActiveRuns.h"
#include "SyncAutomation/EndpointResolver.h"
#include "SyncAutomation/MountedVolume.h"
#include "SyncAutomation/RunExecuting.h"
#include "SyncAutomation/RunPreviewing.h"
#include "SyncAutomation/SleepInhibitor.h"
#include "SyncAutomation/SyncPreviewError.h"
#include "SyncAutomation/VolumeEjector.h"
#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/RsyncRunner.h"
#include "SyncEngine/RunLogSink.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/TreeOverlap.h"
#include "SyncEngine/TwoWaySide.h"
#include "SyncModel/RunHistoryStore.h"
#include "SyncModel/RunOutcome.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/Support/Clock.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/Support/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace kelto {

// Carries out runs of jobs end to end, resolves jobs against the volumes
// mounted now, previews them, lists their mounted roots and hears of volumes
// going away. It reads the jobs, the mount table, the power source and the
// disks' free space only through the services it is built with, which may be
// called from any thread; they never change after construction, so
// resolution takes no lock.
class SyncCoordinator final : public RunExecuting, public RunPreviewing {
public:
    struct Services {
        // The job list read afresh at every call; empty when it cannot be read.
        std::function<std::vector<SyncJob>()> jobs;
        // What every engine runs rsync through.
        std::shared_ptr<const RsyncRunner> rsync;
        // Two-way baselines live in its "state" folder.
        std::filesystem::path supportDirectory;
        std::filesystem::path logDirectory;
        RunHistoryStore& history;
        // The mounts now, read afresh at each call: endpoints are placed and
        // the sides' trees compared on this one list, so it should hold every
        // mount, pseudo file systems too (VolumeInspector::mounts). Empty
        // means the table could not be read: no run then starts.
        std::function<std::vector<MountedVolume>()> volumes;
        std::function<bool()> isOnBattery;
        // Free bytes of the volume holding the path; the flag tells a network
        // volume. May throw: the run that asked fails.
        std::function<std::int64_t(const std::filesystem::path&, bool isNetwork)> freeSpace;
        // The identity of the volume holding a path; may throw.
        EndpointResolver::IdentityLookup identityAt;
        // Keeps the system awake while a run works.
        SleepInhibitor& sleepInhibitor;
        // Ejects the removable volumes of a job that asks for it after a
        // successful run.
        VolumeEjector& ejector;
        // A run's start and end, and the day archives are pruned against.
        const Clock& clock;
    };

    // How many records a job's history keeps.
    static constexpr std::int64_t historyLimit = 50;

    // A job as it can be synchronised now.
    struct ResolvedJob {
        SyncJob job;  // each endpoint's volume replaced by the one its folder is on now
        std::filesystem::path a;  // the source folder as mounted now
        std::filesystem::path b;  // the destination folder
        std::vector<MountedVolume> mounted;  // the mount table read for this resolution
        FileSystemTraits rawA;  // of the source volume
        FileSystemTraits rawB;
        FileSystemTraits traitsA;  // what the source side is synchronised with, from both
        FileSystemTraits traitsB;

        // The sides as the two-way engine takes them, with the volume UUIDs now.
        TwoWaySide sideA() const { return {a, traitsA, job.source.volume.uuid}; }
        TwoWaySide sideB() const { return {b, traitsB, job.destination.volume.uuid}; }
    };

    explicit SyncCoordinator(Services services) : services_(std::move(services)) {}
    SyncCoordinator(const SyncCoordinator&) = delete;
    SyncCoordinator& operator=(const SyncCoordinator&) = delete;

    // The job by its id, on the folders mounted now. Throws SyncPreviewError:
    // jobNotFound, or unavailable with the source's reason, else the
    // destination's.
    ResolvedJob resolve(const Uuid& jobID) const;

    // One run of the job, from resolving it to ejecting its volumes; see
    // RunExecuting. The work runs on the calling thread; a stop request, like
    // an unmount of one of its volumes, reaches it through its RunControl.
    // A job another run holds (in this process or another) ends the run at
    // once as failed, with nothing logged, recorded or changed.
    RunResult run(const Uuid& jobID, RunTrigger trigger, const SyncPlan* reviewed, const ProgressCallback& progress,
                  std::stop_token stop) override;

    // A volume is about to go away: every active run with a folder on it is
    // cancelled and interrupted; the others remember it, in case their
    // folders turn out to be on it. Callable from any thread; the same
    // volume twice does no harm.
    void volumeWillUnmount(const std::filesystem::path& volume);

    // The plan a run would start from. Takes no sleep assertion, registers
    // no run, writes no log, asks no guard and never writes the baseline.
    // Throws SyncPreviewError, CancellationError, and the engines' errors
    // unchanged.
    SyncPlan preview(const Uuid& jobID, std::stop_token stop) override;

    // The folders holding the job's archives that are mounted now, in job
    // order: both for two-way jobs, the destination for the others. Throws
    // SyncPreviewError::jobNotFound only.
    std::vector<std::filesystem::path> availableRoots(const Uuid& jobID) const;

    // Free bytes of the volume holding the path. Throws FileError.
    static std::int64_t availableSpace(const std::filesystem::path& path, bool isNetwork);

    // The mounted volume whose root is the longest component prefix of the
    // folder, the first one listed on a tie; nullptr when none is.
    static const MountedVolume* volumeHolding(const std::vector<MountedVolume>& mounted,
                                              const std::filesystem::path& folder);

    // Where a job's two-way baseline lives.
    std::filesystem::path baselineFile(const Uuid& jobID) const;
    // The file a run of the job locks for its whole length.
    std::filesystem::path lockFile(const Uuid& jobID) const;
    // The folder, the user's alone, where the engines keep the lists of the
    // job's paths that they hand rsync.
    std::filesystem::path listFolder(const Uuid& jobID) const;
    static std::filesystem::path listFolderFor(const std::filesystem::path& supportDirectory, const Uuid& jobID);

    ActiveRuns& active() { return active_; }

private:
    // What the engines ask at each endpoint check: whether the folders'
    // trees overlap in their file systems, told from the mounts at the time
    // of asking. Throws VolumeInspectorError where that cannot be told (an
    // unreadable table, a mount whose folders cannot be placed). Its notes go
    // to `log`, each once (a preview has none).
    TreeOverlap treesOverlap(RunLogSink* log = nullptr) const;

    // What the guarded work of a run hands back to the run body.
    struct Result {
        RunOutcome outcome;
        RunStats stats;
        std::optional<SyncPlan> preview;  // the guard asked for confirmation
        std::vector<std::filesystem::path> ejectRoots;  // sorted by path
    };

    // What one run was asked to do, and where it reports.
    struct Request {
        Uuid jobID;
        RunTrigger trigger;
        const SyncPlan* reviewed;  // null unless the user confirmed a review of this plan
        const ProgressCallback& progress;
    };

    // The first job with the id in a fresh read of the list.
    SyncJob findJob(const Uuid& jobID) const;

    // From the start time to the eject.
    RunResult runBody(const Request& request, RunControl& control, std::stop_token stop);
    // Resolving, planning, guarding, the transfer, pruning. Throws what ends
    // the work early: the run body turns it into an outcome. The engines and
    // the baseline live only as long as this call.
    Result guardedWork(const Request& request, RunControl& control, std::stop_token stop, const std::string& runID,
                       RunLogSink& log);

    const Services services_;
    ActiveRuns active_;
};

}  // namespace kelto
