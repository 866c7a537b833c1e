#pragma once

#include "SyncModel/Support/Json.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/VolumeIdentity.h"
#include "tools/kelto-run-job/RunJobOptions.h"

#include <filesystem>

namespace kelto {

// Runs one job the way the application does: through the sync coordinator,
// as a run asked for by hand, on the volumes mounted now, keeping the system
// awake through logind, with the run's log, history record and archive
// pruning.
struct RunJob {
    // The stored job on the two folders (on the volumes the command line
    // declares), with the options of this call; kept in
    // SUPPORT_FOLDER/jobs.json so that later calls share its id, sides,
    // archive, baseline and history. A new job's sides are made as the job
    // editor makes them; a stored job's sides stay as they were stored.
    static SyncJob storedJob(const RunJobOptions& options);

    // The identity of the volume holding `path`, as the application reads
    // it, with the command line's choices for the side the path is in. A
    // side given a volume UUID counts as on an internal volume, found by its
    // path.
    static VolumeIdentity identityAt(const RunJobOptions& options, const std::filesystem::path& path);

    // The arguments of the job's transfer, one a line.
    static void printRsyncArguments(const SyncJob& job);

    // A run of the job, or with --plan-only its preview: the outcome, the
    // run's record and log (or the plan), the times and the peak memory.
    static Json run(const RunJobOptions& options, const SyncJob& job);
};

}  // namespace kelto
