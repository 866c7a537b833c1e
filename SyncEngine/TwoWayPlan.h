#pragma once

#include "SyncEngine/FolderIdentity.h"
#include "SyncEngine/SeenVersion.h"
#include "SyncEngine/SideListing.h"
#include "SyncEngine/TwoWayConflict.h"
#include "SyncModel/RunStats.h"

#include <optional>
#include <string>
#include <vector>

namespace kelto {

// What a two-way run will do. Paths are each side's own spelling; the
// deletion-entry maps hold, by key, the exact entry judged unchanged for every
// path to archive or remove, so the run can confirm it before acting.
struct TwoWayPlan {
    std::vector<std::string> copyAtoB;       // side A paths to copy to B (files and folders)
    std::vector<std::string> copyBtoA;       // side B paths to copy to A
    std::vector<std::string> archiveOnA;     // non-folders deleted on B, unchanged on A
    std::vector<std::string> archiveOnB;
    std::vector<std::string> removeDirsOnA;  // folders deleted on B, deeper first
    std::vector<std::string> removeDirsOnB;
    std::vector<TwoWayConflict> conflicts;
    // The planner's (names spelled twice on one side, times the listing could
    // not show), then the preflight's: copies the receiving side cannot take.
    std::vector<SkippedFile> skipped;
    SideListing deletionEntriesA;
    SideListing deletionEntriesB;
    // What the plan deletes or replaces, as the disk showed it just after the
    // listing: a run drops only these versions. None for a plan not made by
    // the engine, whose run goes by the listings alone.
    std::vector<SeenVersion> seen;
    // The folders the plan was made on, as planning found them: a run
    // carries it out only on these. None for a plan not made by the engine.
    std::optional<FolderIdentity> folderA, folderB;

    friend bool operator==(const TwoWayPlan&, const TwoWayPlan&) = default;
};

}  // namespace kelto
