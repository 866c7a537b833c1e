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
#include <string>

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

    // "1 file on side B", "2 files on side A": how every question about a
    // side's takings counts them.
    static std::string filesOnSide(std::int64_t count, Side side);
};

}  // namespace kelto
