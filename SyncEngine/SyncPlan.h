#pragma once

#include "SyncEngine/FolderIdentity.h"
#include "SyncEngine/SeenVersion.h"
#include "SyncEngine/PlannedArchive.h"
#include "SyncEngine/PlannedCopy.h"
#include "SyncEngine/PlannedRename.h"
#include "SyncModel/RunStats.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// What a run will do, as its planning step found it.
struct SyncPlan {
    std::vector<PlannedCopy> copies;
    std::vector<PlannedArchive> archives;
    std::vector<SkippedFile> skipped;
    std::vector<std::string> conflicts;  // two-way: changed on both sides since the last sync
    std::int64_t entryCountA = 0;
    std::int64_t entryCountB = 0;
    std::int64_t deletionCount = 0;  // bounds a mirror run's deletions
    std::vector<PlannedRename> renames;  // one-way, parents first; done before the transfer
    // The items of `archives` as the plan saw them; a run drops only these versions.
    std::vector<SeenVersion> seen;
    // The folders the plan was made on, as planning found them: a run
    // carries it out only on these. None for a plan not made by an engine.
    std::optional<FolderIdentity> folderA, folderB;

    // What the plan does: the folders it was made on take no part.
    friend bool operator==(const SyncPlan& x, const SyncPlan& y) {
        return x.copies == y.copies && x.archives == y.archives && x.skipped == y.skipped &&
               x.conflicts == y.conflicts && x.entryCountA == y.entryCountA && x.entryCountB == y.entryCountB &&
               x.deletionCount == y.deletionCount && x.renames == y.renames && x.seen == y.seen;
    }
};

}  // namespace kelto
