#pragma once

#include "SyncEngine/Baseline.h"
#include "SyncEngine/SideListing.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/TwoWayPlan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// The three-way comparison of side A, side B and the baseline. Pure: reads
// no files, never fails.
struct TwoWayPlanner {
    // `modifyWindow`: seconds within which two times count as equal (negative
    // counts as 0). One pass over the three key-sorted tables. The reserved
    // folder and what it holds are never planned.
    static TwoWayPlan plan(const SideListing& sideA, const SideListing& sideB, const std::optional<Baseline>& baseline,
                           std::int64_t modifyWindow);

    // The user-facing view of a two-way plan, for the safety guard and the
    // preview: the copies of files (folders are made by the transfer) with
    // the receiving side's replaced files as archives, the deletions, the
    // skipped files and conflicts, and each side's file count.
    static SyncPlan makeSyncPlan(const TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB);

    // Order of the folder-removal lists: more "/" first, then ascending text,
    // so a folder always comes before its parent.
    static bool deeperFirst(std::string_view x, std::string_view y);
};

}  // namespace kelto
