#pragma once

#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncRunner.h"
#include "SyncEngine/RunLogSink.h"
#include "SyncEngine/SideListing.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/SyncProgress.h"
#include "SyncEngine/TreeOverlap.h"
#include "SyncEngine/TwoWayPlan.h"
#include "SyncEngine/TwoWaySide.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/Support/Clock.h"
#include "SyncModel/SyncJob.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <functional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace kelto {

// Carries out two-way jobs: lists both folders with rsync, plans against the
// job's baseline, copies both ways with explicit file lists, carries
// deletions over (re-checked just before), and rewrites the baseline from
// what both sides then agree on.
//
// The calls block the calling thread. Side B is listed on a thread of its own
// while side A is listed on the caller's, so both rsync children run at once;
// progress still arrives in the order of a listing of A followed by one of B,
// one report at a time and never under a lock. A stop request stops the rsync
// children (SIGTERM, SIGKILL 5 s later).
struct TwoWayEngine {
    using ProgressHandler = std::function<void(const SyncProgress&)>;

    static constexpr double reportInterval = 0.1;
    // scanFailed's code when rsync ended well but printed an entry line that
    // cannot be read: the listing is incomplete, so nothing may be planned.
    static constexpr std::int32_t unreadableListingCode = 12;

    // The runner must outlive the engine.
    TwoWayEngine(const RsyncRunner& runner, TreeOverlap treesOverlap)
        : runner(runner), treesOverlap(std::move(treesOverlap)) {}

    const RsyncRunner& runner;
    const Clock* clock = &SystemClock::shared();  // for the report throttles
    // Asked at every endpoint check (the start of a plan and of a run, and
    // again just before anything is transferred) whether the folders reach
    // each other through mounts; and every listing of both sides walks them
    // with markers of its own placed at their tops (OverlapMarkers), so that
    // one side reached from the other is refused whatever the mounts say.
    TreeOverlap treesOverlap;
    // Where run() writes the lists of paths it hands rsync: a folder of the
    // job's own, which it makes, or tightens, to be the user's alone. A run
    // clears there the lists that killed runs left. run() refuses to start
    // without one, before anything on disk changes.
    std::filesystem::path listFolder;

    // What a plan was made from: the baseline it loaded (absent: none for
    // these identities) and both listings. A run carried out at once, with
    // the job's baseline untouched since, starts from it instead of reading
    // the baseline again, and takes the listings as its own instead of
    // listing both sides again, with every path it copies and the folders
    // above it looked at anew on both sides. It uses them up.
    struct Basis {
        std::optional<Baseline> baseline;
        SideListing a, b;
        // The wall clock's second as the listings began; none where unknown.
        std::optional<std::int64_t> listedAt;
    };

    // Lists both folders, loads the baseline recorded for the two volume
    // identities and plans; with `basis`, keeps there what it planned from.
    // Writes nothing among the files: where a side may have clamped a time
    // outside 1980..2038, a nameless scratch file in its reserved temporary
    // folder tells what its file system keeps, and each side's reserved
    // folder holds the listings' markers while they run. Files that the
    // listings show alike where neither side is known to hold the baseline's
    // version (changed on both, or a racy baseline entry) are read: only
    // their contents tell two edits within one second apart.
    // Throws TwoWayEngineError, CancellationError, RsyncProcessError or
    // BaselineStoreError.
    std::pair<SyncPlan, TwoWayPlan> plan(const SyncJob& job, const TwoWaySide& sideA, const TwoWaySide& sideB,
                                         BaselineStore& baseline, std::stop_token stop = {},
                                         const ProgressHandler& onProgress = nullptr, Basis* basis = nullptr) const;

    // Carries out a plan made by plan() for the same job and folders: lists
    // both sides again when there is anything to copy, copies A to B, then B
    // to A, each with one rsync on an explicit file list, archives or removes
    // what was deleted on the other side once re-checked, and rewrites the
    // baseline from what both sides then agree on (only the entries the run
    // acted on are read again for it). Returns the statistics and one exit
    // combining every rsync run and every local failure (code 23 for those,
    // a source file that changed while rsync copied it among them). With the
    // archive off, what a copy replaces waits in the side's holding folder
    // and goes for good only while it is the version the listing before the
    // transfer saw; any other version goes back, its old baseline entry
    // kept, so the next run plans it (the newer side winning). One whose
    // place is taken (by the transfer's copy, where the disk cannot trade
    // places in one step) goes into the run's archive with the archive on,
    // else stays held, named at every run (a warning, 24, where all else
    // succeeded).
    // The log names each conflict the transfers settled, with the version
    // kept. Only a run that gets through both directions and the deletions
    // uncancelled rewrites the baseline, and only when that changes it (its
    // racy marks included).
    // Throws what plan() throws, TwoWayEngineError (invalidRunID,
    // unsafePath), ArchiveDirectoriesError or FileError, and the log's first
    // write error.
    std::pair<RunStats, RsyncExit> run(const SyncJob& job, const TwoWayPlan& plan, const TwoWaySide& sideA,
                                       const TwoWaySide& sideB, BaselineStore& baseline, const std::string& runID,
                                       RunLogSink& log, std::stop_token stop = {},
                                       const ProgressHandler& onProgress = nullptr, Basis* basis = nullptr) const;

    // The first failing check: not two-way, a missing folder, nested
    // folders (their trees overlapping through mounts too), a reserved name
    // held by anything but a folder on either side, a read-only volume
    // recorded for either side.
    static void checkEndpoints(const SyncJob& job, const std::filesystem::path& a, const std::filesystem::path& b,
                               const TreeOverlap& treesOverlap);

    // One folder as rsync lists it (the job's filters applied, the reserved
    // folder left out), by key. Reports count on from `offset`.
    SideListing list(const SyncJob& job, const TwoWaySide& side, std::int64_t offset, std::stop_token stop = {},
                     const ProgressHandler& onProgress = nullptr) const;

    // Both folders at once; reports as list() of A with offset 0 followed by
    // list() of B with A's count as offset. A's failure wins over B's.
    std::pair<SideListing, SideListing> listBoth(const SyncJob& job, const TwoWaySide& sideA, const TwoWaySide& sideB,
                                                 std::stop_token stop = {},
                                                 const ProgressHandler& onProgress = nullptr) const;

    // Takes out of each direction's copies what the receiving volume cannot
    // hold, and the pipes, sockets and devices rsync never copies, and lists
    // them in the plan's `skipped` after the planner's own.
    static void applyPreflightSkips(TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB,
                                    const FileSystemTraits& traitsA, const FileSystemTraits& traitsB);
    static std::vector<SkippedFile> preflightCandidates(const SideListing& source, const SideListing& destination,
                                                        const FileSystemTraits& destinationTraits);
};

}  // namespace kelto
