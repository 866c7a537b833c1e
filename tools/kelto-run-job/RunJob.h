#pragma once

#include "SyncModel/Support/Json.h"
#include "SyncModel/SyncJob.h"
#include "tools/kelto-run-job/RunJobEngines.h"
#include "tools/kelto-run-job/RunJobOptions.h"

namespace kelto {

// Plans and runs one job the way the application does: the job's engine, the
// safety guard and, when it lets the run go on, the run with a fresh run
// identifier and its own log file.
struct RunJob {
    // The stored job on the two folders, made when there is none, with the
    // options of this call; kept in SUPPORT_FOLDER/jobs.json so that later
    // calls share its id and archive.
    static SyncJob storedJob(const RunJobOptions& options);

    // A side as the engines are given it: its traits from the stored
    // volume, the command line's case sensitivity over them.
    static TwoWaySide side(const std::filesystem::path& root, const Endpoint& endpoint,
                           const TwoWaySideOptions& options);

    // The arguments of the job's transfer, one a line.
    static void printRsyncArguments(const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b);

    // The report of a plan (and run) of a mirror or copy job, or of a two-way job.
    static Json oneWay(const RunJobOptions& options, const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b);
    static Json twoWay(const RunJobOptions& options, const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b);
};

}  // namespace kelto
