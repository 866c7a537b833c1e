#pragma once

#include "SyncEngine/ItemVersion.h"
#include "SyncEngine/PlannedArchive.h"
#include "SyncEngine/PlannedCopy.h"
#include "SyncModel/RunStats.h"

#include <cstdint>
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
    // The items of `archives` as the plan saw them; a run drops only these versions.
    std::vector<SeenVersion> seen;
    friend bool operator==(const SyncPlan&, const SyncPlan&) = default;
};

}  // namespace kelto
