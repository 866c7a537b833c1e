#pragma once

#include "SyncEngine/Baseline.h"
#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncInvocation.h"
#include "SyncEngine/RsyncRunner.h"
#include "SyncEngine/RunLogSink.h"
#include "SyncEngine/SideListing.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/SyncProgress.h"
#include "SyncEngine/TransferScratch.h"
#include "SyncEngine/TwoWayPlan.h"
#include "SyncEngine/TwoWayEngine.h"
#include "SyncEngine/TwoWayPlanner.h"
#include "SyncEngine/TwoWaySide.h"
#include "SyncEngine/internal/CopySourceCheck.h"
#include "SyncEngine/internal/EndpointCheck.h"
#include "SyncEngine/internal/HoldingFolder.h"
#include "SyncEngine/internal/PathKeySet.h"
#include "SyncEngine/internal/PrivateListFolder.h"
#include "SyncEngine/internal/RacyWindow.h"
#include "SyncEngine/internal/TimeProbe.h"
#include "SyncEngine/internal/TwoWayTransferState.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/Support/Clock.h"
#include "SyncModel/SyncJob.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelto {

// One two-way run (TwoWayEngine::run): the values it keeps from start to
// end, and its steps. Used once, on folders the engine has checked.
class TwoWayRun {
public:
    using ProgressHandler = std::function<void(const SyncProgress&)>;
    // Both sides listed afresh as the engine lists them, without reports.
    using Lister = std::function<std::pair<SideListing, SideListing>(std::stop_token)>;
    // The engine's endpoint check, made again just before each direction's
    // transfer and the deletions; throws what it finds.
    using Check = std::function<void()>;

    TwoWayRun(const RsyncRunner& runner, const Clock& clock, Lister listBoth, const SyncJob& job,
              const TwoWayPlan& plan, const TwoWaySide& a, const TwoWaySide& b, BaselineStore& baseline,
              const std::string& runID, RunLogSink& log, std::stop_token stop, const ProgressHandler& onProgress,
              std::filesystem::path listFolder, Check checkAgain = nullptr, TwoWayEngine::Basis* basis = nullptr);

    TwoWayRun(const TwoWayRun&) = delete;
    TwoWayRun& operator=(const TwoWayRun&) = delete;
    // Removes the run folders that stayed empty.
    ~TwoWayRun();

    std::pair<RunStats, RsyncExit> perform();

    // Adds one contribution to an accumulated exit: 24 only turns a 0 into
    // 24, any other non-zero code replaces the code; the lines are appended
    // and the last 50 kept.
    static void combine(RsyncExit& accumulated, std::int32_t code, const std::vector<std::string>& lines);

    // The new baseline: the entries on which both final listings agree, with
    // the old entry kept for every unsettled key and everything below one,
    // and no entry at all for a dropped key. Two times agree also where one
    // side's file system clamped the other's (`keptTime`); the entry then
    // takes the time as given, not as clamped. An agreed entry either side
    // holds at `racyFrom` or later (RacyWindow) is marked racy; an old entry
    // kept keeps its mark, and is marked where the old marks are unknown.
    static Baseline newBaseline(const SideListing& finalA, const SideListing& finalB, const Baseline& old,
                                const PathKeySet& unsettled, std::int64_t modifyWindow,
                                const TwoWayPlanner::KeptTime& keptTime = nullptr, const PathKeySet& dropped = {},
                                std::int64_t racyFrom = std::numeric_limits<std::int64_t>::max());

    // The renames the spelling alignment made on one side, so that later
    // steps name items as they are now spelled there.
    class Renames {
    public:
        void add(std::string_view from, std::string_view to);
        std::string apply(std::string_view path) const;
        bool empty() const { return records_.empty(); }

    private:
        std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> records_;
    };

private:
    // Versions by path key.
    using SeenByKey = std::unordered_map<std::string, ItemVersion>;
    struct Direction {
        const std::vector<std::string>& paths;
        const TwoWaySide& source;
        const TwoWaySide& destination;
        const SideListing& destinationListing;
        const SeenByKey& destinationSeen;  // the destination's items as the plan saw them
        const PathKeySet& stillPlanned;  // keys a plan made from the fresh listings copies this way
        const Renames& sourceRenames;
        Renames& destinationRenames;
    };
    enum class Next { goOn, finish };

    void loadBaselineAndList();
    std::pair<SideListing, SideListing> finalListings();
    SideListing reread(const SideListing& before, const std::filesystem::path& root, const Renames& renames);
    // The listing with the entries at `paths` as they are now.
    SideListing lookAgain(const SideListing& before, const std::filesystem::path& root,
                          const std::vector<std::string>& paths);
    void checkPlannedPaths() const;
    void prepareTrees();
    Next transfer(const Direction& direction);
    // `source`, `destination`: the direction's folders, held.
    RsyncExit runDirection(const RsyncInvocation& invocation, int source, int destination);
    // Both sides held, once they lead to the folders planned on.
    EndpointCheck::Held holdPlanned() const;
    // The side's folder as held: what every step that reads or writes it
    // goes through, so that nothing done to its path meanwhile (a rename, a
    // link retargeted) sends a step elsewhere.
    const std::filesystem::path& held(const TwoWaySide& side) const {
        return held_->path(&side == &a_ ? Side::a : Side::b);
    }
    HoldingFolder::Planned holdingPlan(const Direction& direction, const std::vector<std::string>& paths) const;
    void settleHolding(const Direction& direction, const HoldingFolder::Planned& planned);
    std::vector<std::string> transferList(const Direction& direction);
    void alignDestination(const Direction& direction, std::string_view path);
    void unsettleChangedSources(CopySourceCheck& sources, const std::vector<std::string>& received,
                                const Direction& direction, bool rsyncCompleted);
    // What the run may drop on each side, in the versions it may drop: the
    // plan's deletions and the items its copies replace, as the plan saw
    // them, unchanged since before its listings began. A look made since
    // (the run's own, just before the transfers) never stands in for it.
    void seeTakings();
    std::vector<std::string> recheck(const std::vector<std::string>& paths, const SideListing& entries,
                                     const std::filesystem::path& root, const Renames& renames,
                                     const SeenByKey* seen = nullptr);
    void deleteOnSide(const std::vector<std::string>& paths, const SideListing& entries,
                      const std::filesystem::path& root, const Renames& renames, const SeenByKey& seen);
    void removeFolders(const std::vector<std::string>& folders, const std::filesystem::path& root);
    void countArchived();
    // Names in the log each conflict the transfers that ran settled, with the version kept.
    void nameConflicts();
    void unsettle(std::string_view path);
    // A local failure: the line goes to the log and (23, line) to the exit.
    void fail(const std::string& line);
    void report(const SyncProgress& progress) const;
    std::pair<RunStats, RsyncExit> finish(std::int32_t code);

    const RsyncRunner& runner_;
    const Clock& clock_;
    Lister listBoth_;
    Check checkAgain_;
    const SyncJob& job_;
    const TwoWayPlan& plan_;
    const TwoWaySide& a_;
    const TwoWaySide& b_;
    BaselineStore& baseline_;
    const std::string& runID_;
    RunLogSink& log_;
    std::stop_token stop_;
    const ProgressHandler& onProgress_;

    std::int64_t window_;
    RacyWindow racy_;  // about the listings the final ones are taken from
    TimeProbe probeA_, probeB_;  // what each side's file system does to times it cannot hold
    TwoWayPlanner::KeptTime keptTime_;
    RsyncExit accumulated_;
    PathKeySet unsettled_;
    PathKeySet dropped_;  // copies of sources rewritten while copied: no entry, so both sides count as changed
    std::optional<std::string> backupDirectory_;
    TwoWayEngine::Basis* basis_;
    std::filesystem::path listFolderPath_;
    std::optional<PrivateListFolder> listFolder_;  // claimed while the run prepares  // what the plan was made from, when it is still current
    std::optional<Baseline> loaded_;
    const std::optional<Baseline>* old_ = &loaded_;  // the baseline at the start, loaded or the basis's
    SideListing listingA_, listingB_;
    SeenByKey plannedA_, plannedB_;  // what the plan takes on each side, as it saw it
    SyncPlan runPlan_;
    Renames renamesA_, renamesB_;
    bool listed_ = false;               // listingA_ and listingB_ hold the listings before the transfers
    std::vector<std::string> touched_;  // paths the run acted on, on either side
    TransferScratch::Claim scratchA_, scratchB_;
    std::vector<std::filesystem::path> preparedRoots_;  // sides given a run folder
    std::vector<std::string> recovered_;  // what earlier runs' holding folders gave back or still hold
    bool stillHeld_ = false;              // of which something is tried again at the next run
    bool displaced_ = false;              // of which something was archived or is kept for good
    // What this run's holding folders keep, by the side's folder: marked
    // only once the run's result names it.
    std::vector<std::pair<std::filesystem::path, HoldingFolder::Settlement>> toMark_;
    PathKeySet carried_;  // the conflicts a transfer took up, recorded with its plan
    std::vector<std::string> recoveredConflicts_;  // lines naming those killed runs settled
    // Where conflicts wait in a plan for the run to name them: by the side's
    // folder, the run that recorded them.
    std::vector<std::pair<std::filesystem::path, std::string>> conflictRecords_;
    std::unique_ptr<TwoWayTransferState> state_;
    std::optional<EndpointCheck::Held> held_;  // both sides, held once at the start
};

}  // namespace kelto
