#pragma once

#include <ctime>

#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/OneWayEngineError.h"
#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncRunner.h"
#include "SyncEngine/RunLogSink.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/SyncProgress.h"
#include "SyncEngine/TreeOverlap.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/Support/Clock.h"
#include "SyncModel/SyncJob.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelto {

// Plans and runs mirror and copy jobs. Side A (the source) is never changed;
// B (the destination) receives new and changed files and, for mirror jobs,
// loses what A lacks. rsync does the comparing and copying: a plan is one
// dry run, or two when the preflight skips something (each made once more
// where B's disk would not even look up a name it cannot hold); a run is one
// transfer. The transfer follows a last look at the folders: the plan's own
// while it is a moment old, else, for a mirror, a fresh dry run, which also
// stops a mirror whose source emptied since planning (a copy job, which
// deletes nothing, goes without). A run whose last look found nothing to do
// starts no transfer. With the job's archive on, rsync moves every replaced
// or deleted file of B into the run folder of B's archive. With it off,
// what a run may take from B without a new review is what its plan listed
// (see boundByPlan in internal/OneWayRun.cpp): rsync moves what it deletes or replaces
// into the run's holding folder, and once the transfer is over the run
// deletes from there what the plan listed, while it is still the version
// the plan saw, and puts the rest back, so a source that vanished or
// changed after the last look, or a file of B saved anew meanwhile, costs
// nothing the plan did not see (a version saved anew goes back in place of
// the transfer's copy where B's disk trades places in one step, and the
// next run plans it). What cannot go back because its place is taken goes
// into the run's archive folder where the archive is on, named; with it off
// it stays there, named at every run with the folder to delete once
// nothing else waits in it, each such run ending in a warning (24) rather
// than a plain success. Everything else that could not go back, and what runs killed before
// settling left in their holding folders, goes back at the start of the
// next run where it can; what still cannot keeps that run from a plain
// success. Each such item is named in the run's errors and log. A run
// folder the run put nothing into is removed at its end. On a destination
// that takes two spellings for one name, B's items that A spells otherwise
// are renamed to A's spelling after the last look and before the transfer
// (the plan's renames, which its deletions and counts leave out); a rename
// that fails is named, keeps the transfer away from both spellings and
// makes the run partial (23).
//
// Both calls block the calling thread and report progress on it, never under
// a lock: at most one report every 0.1 s while rsync runs, plus one at each
// phase boundary. A stop request stops the rsync child (SIGTERM, SIGKILL 5 s
// later): a stopped dry run throws scanFailed with code 20, a stopped
// transfer returns its statistics with exit code 20.
struct OneWayEngine {
    using ProgressHandler = std::function<void(const SyncProgress&)>;

    static constexpr double reportInterval = 0.1;
    // The engine's own exit code when the run must be planned again.
    static constexpr std::int32_t replanCode = 25;
    static constexpr std::string_view sourceEmptyLine = "Source is empty — review and run again";
    static constexpr std::string_view deletionsChangedLine = "Files to delete changed since planning — review and run again";
    static constexpr std::string_view heldBackLine =
        "Files changed since the plan looked were kept, not replaced — review and run again";
    static constexpr std::string_view triedAgainLine = "What could not be put back is tried again at the next run";
    static constexpr std::string_view replacementsChangedLine =
        "Files to replace changed since planning — review and run again";
    // Logged for each file a mirror without archive leaves as it is because
    // it changed since planning; the next run's plan lists it.
    static constexpr std::string_view leftForNextRunLine = "Changed since planning; left for the next run: ";
    // How long a plan's look stands for the folders as they are, in seconds
    // from its end to the run: a run this soon after it looks no further.
    static constexpr double currentPlanSeconds = 2.0;

    // The runner must outlive the engine.
    OneWayEngine(const RsyncRunner& runner, TreeOverlap treesOverlap)
        : runner(runner), treesOverlap(std::move(treesOverlap)) {}

    const RsyncRunner& runner;
    const Clock* clock = &SystemClock::shared();  // for the report throttles
    // Asked at every endpoint check (the start of a plan and of a run, and
    // again just before anything is transferred) whether the folders reach
    // each other through mounts; and every dry run walks both folders with
    // markers of its own placed at their tops (OverlapMarkers), so that one
    // side reached from the other is refused whatever the mounts say.
    TreeOverlap treesOverlap;
    // Where the lists of paths to leave out that rsync is handed are
    // written: a folder of the job's own, which is made, or tightened, to be
    // the user's alone, and where what killed runs left is cleared. A plan
    // or run that needs such a list refuses to go on without one.
    std::filesystem::path listFolder;
    // Told the wall time in seconds of each rsync child run; for measurements.
    std::function<void(double seconds)> onRsyncRunTimed;
    // The run takes from B only what its plan listed, with the archive on
    // too, and looks again before a copy job's transfer as well: for a plan
    // no guard asked about.
    bool onlyPlanned = false;

    // What a plan looked at, for the run that carries the plan out.
    struct Basis {
        std::vector<ItemizedChange> look;  // the plan's first dry run, as a fresh one would show it
        double endedAt = 0;                // when the plan ended, on `clock`'s seconds since boot
        timespec lookStartedAt{};          // when that dry run began, on the clock status changes are stamped by
        timespec lookStartedSinceBoot{};   // the same moment on the clock since boot
    };

    // The plan for the job on these folders; copies and archives target B.
    // Skipped: what B cannot hold (too large; on a volume that ignores case,
    // names that differ only in case or normalisation) and files B already
    // holds but with the time its file system turned A's into; and the
    // pipes, sockets and devices of A, which rsync never copies. `basis`,
    // when given, receives what the plan looked at, for run(). Throws
    // OneWayEngineError (skipTooLong, before the second dry run, for a path
    // the preflight skips that rsync's exclude file cannot hold), the exclude
    // file's FileError, or RsyncProcessError when rsync cannot be started.
    SyncPlan plan(const SyncJob& job, const std::filesystem::path& source, const std::filesystem::path& destination,
                  const FileSystemTraits& traits, std::stop_token stop = {},
                  const ProgressHandler& onProgress = nullptr, Basis* basis = nullptr) const;

    // Carries out a plan made by plan() for the same job and folders, with
    // the basis plan() gave, which it uses up (none: the plan is taken as
    // older than a moment, and the run looks again). Every line rsync
    // writes during the transfer goes to `log`, after a line for each file
    // left for the next run (leftForNextRunLine) and followed by a line for
    // each item the holding folders gave back or still hold. Returns the
    // statistics and the transfer's exit unjudged; code 25 also when the
    // engine itself refused to transfer, or when the transfer took what the
    // plan did not list and rsync's own code was 0 or 24 (see stats.errors,
    // which end with heldBackLine then); 23 in place of 0 or 24 when a
    // source changed while rsync copied it, or when an earlier run's held
    // item still cannot go back; 24 in place of 0 when a held version was
    // archived for its place being taken, or stays held for good. Both folders are held from the run's start
    // and everything it reads or writes reaches them through that
    // (EndpointCheck::Held); a side whose path leads elsewhere once the
    // transfer is over throws folderReplaced, what rsync took being settled
    // in the folder held first. Throws what plan() throws,
    // ArchiveDirectoriesError or FileError from preparing the archive and
    // holding folders, and the log's first write error, which ends the run
    // once the transfer is over.
    std::pair<RunStats, RsyncExit> run(const SyncJob& job, const SyncPlan& plan, const std::filesystem::path& source,
                                       const std::filesystem::path& destination, const FileSystemTraits& traits,
                                       const std::string& runID, RunLogSink& log, std::stop_token stop = {},
                                       const ProgressHandler& onProgress = nullptr,
                                       Basis* basis = nullptr) const;

    // The first failing check: two-way mode, a missing folder, nested
    // folders (their trees overlapping through mounts too), a reserved name
    // held by anything but a folder on either side, a read-only destination
    // volume.
    static void checkEndpoints(const SyncJob& job, const std::filesystem::path& source,
                               const std::filesystem::path& destination, const TreeOverlap& treesOverlap);

    // Builds a plan from the first dry run's lines (entry counts) and the
    // final one's (copies, archives, deletions). B is looked at only where
    // rsync calls an entry new: an entry of another kind there is replaced.
    // Lines naming the reserved folder or anything in it are left out.
    static SyncPlan planFromScans(const std::vector<ItemizedChange>& first, const std::vector<ItemizedChange>* final,
                                  SyncMode mode, std::vector<SkippedFile> skipped,
                                  const std::filesystem::path& destination);

private:
    friend class OneWayRun;  // one run's steps (internal/OneWayRun.h)

    // One dry run, keeping rsync away from `excluded`. `passedOver` gets
    // the pipes, sockets and devices rsync passed over; `refused` the names
    // B's disk cannot hold that it would not even look up, kept out too.
    std::vector<ItemizedChange> scan(const SyncJob& job, const std::filesystem::path& source,
                                     const std::filesystem::path& destination, const FileSystemTraits& traits,
                                     const std::vector<SkippedFile>& excluded, std::stop_token stop,
                                     const ProgressHandler* onProgress,
                                     std::vector<SkippedFile>* passedOver = nullptr,
                                     std::vector<SkippedFile>* refused = nullptr) const;
    // `between`: a transfer's source and destination folders, open
    // (RsyncRunner::runBetween).
    RsyncExit runRsync(const std::vector<std::string>& arguments, std::stop_token stop,
                       const RsyncRunner::RawLineHandler& onRawLine, const RsyncRunner::EventHandler& onEvent,
                       std::optional<std::pair<int, int>> between = std::nullopt) const;
};

}  // namespace kelto
