#include "SyncEngine/SafetyGuard.h"

#include <limits>
#include <string>

namespace kelto {

namespace {

constexpr Side bothSides[] = {Side::a, Side::b};

std::int64_t entries(const SyncPlan& plan, Side side) { return side == Side::a ? plan.entryCountA : plan.entryCountB; }

// A corrupt plan must not wrap around into "fits".
std::int64_t neededBytes(const SyncPlan& plan, Side side) {
    std::int64_t total = 0;
    for (const PlannedCopy& copy : plan.copies) {
        if (copy.to != side) continue;
        if (__builtin_add_overflow(total, copy.size, &total)) return std::numeric_limits<std::int64_t>::max();
    }
    return total;
}

std::int64_t archiveCount(const SyncPlan& plan, Side side) {
    std::int64_t n = 0;
    for (const PlannedArchive& archive : plan.archives)
        if (archive.on == side) ++n;
    return n;
}

}  // namespace

GuardVerdict SafetyGuard::evaluate(const SyncPlan& plan, SyncMode mode, const JobOptions& options,
                                   const std::optional<SideCounts>& previousCounts,
                                   const std::map<Side, std::int64_t>& freeSpace) {
    if (mode != SyncMode::twoWay) {
        if (plan.entryCountA == 0 && plan.entryCountB >= 1) return GuardVerdict::abort(AbortReason::emptySource);
    } else if (previousCounts) {
        if ((previousCounts->a >= 1 && plan.entryCountA == 0) || (previousCounts->b >= 1 && plan.entryCountB == 0))
            return GuardVerdict::abort(AbortReason::emptySide);
    }

    for (Side side : bothSides) {
        const std::int64_t needed = neededBytes(plan, side);
        if (needed <= 0) continue;
        const auto free = freeSpace.find(side);
        if (free == freeSpace.end()) continue;
        // Keep one percent back: a volume filled to the last byte misbehaves.
        const std::int64_t usable = free->second - free->second / 100;
        if (usable < needed) return GuardVerdict::abort(AbortReason::insufficientSpace);
    }

    for (Side side : bothSides) {
        const std::int64_t n = archiveCount(plan, side);
        if (n < options.deleteGuardMinFiles) continue;
        const double share = static_cast<double>(entries(plan, side)) * static_cast<double>(options.deleteGuardPercent);
        if (share < static_cast<double>(n) * 100.0)
            return GuardVerdict::needsConfirmation(filesOnSide(n, side) + " will be archived or deleted.");
    }

    return GuardVerdict::proceed();
}

std::string SafetyGuard::filesOnSide(std::int64_t count, Side side) {
    return std::to_string(count) + (count == 1 ? " file" : " files") + " on side " + (side == Side::a ? "A" : "B");
}

}  // namespace kelto
