#pragma once

#include "SyncEngine/Baseline.h"
#include "SyncEngine/SideListing.h"
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
    // counts as 0). One pass over the three key-sorted tables.
    static TwoWayPlan plan(const SideListing& sideA, const SideListing& sideB, const std::optional<Baseline>& baseline,
                           std::int64_t modifyWindow);

    // The path in Normalization Form C: the key of every listing, baseline and set.
    static std::string key(std::string_view path);

    // Order of the folder-removal lists: more "/" first, then ascending text,
    // so a folder always comes before its parent.
    static bool deeperFirst(std::string_view x, std::string_view y);
};

}  // namespace kelto
