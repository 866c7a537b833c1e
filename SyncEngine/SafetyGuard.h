#pragma once

#include "SyncEngine/GuardVerdict.h"
#include "SyncEngine/Side.h"
#include "SyncEngine/SideCounts.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncModel/JobOptions.h"
#include "SyncModel/SyncMode.h"

#include <cstdint>
#include <map>
#include <optional>

namespace kelto {

// Judges a plan before it may delete, archive or overwrite anything: refuses
// what looks like a wrong or missing disk or an overfilled destination, and
// asks for review before large deletions. Pure.
struct SafetyGuard {
    // freeSpace: bytes free on each side's volume; a side without an entry is
    // not checked for space.
    static GuardVerdict evaluate(const SyncPlan& plan, SyncMode mode, const JobOptions& options,
                                 const std::optional<SideCounts>& previousCounts,
                                 const std::map<Side, std::int64_t>& freeSpace);
};

}  // namespace kelto
