#include "Kelto_Sync/Status/MenuBarIconRule.h"

#include <algorithm>

namespace kelto {

MenuBarIconState MenuBarIconRule::state(const std::vector<SyncJob>& jobs,
                                        const AppModelInterface::StatusMap& statuses,
                                        const AppModelInterface::RecordMap& lastRecords, bool hasError) {
    const auto hasKind = [&statuses](RunStatus::Kind kind) {
        return std::any_of(statuses.begin(), statuses.end(), [kind](const auto& entry) { return entry.second.kind() == kind; });
    };
    if (hasError || hasKind(RunStatus::Kind::awaitingConfirmation)) return MenuBarIconState::attention();
    // Every record counts, also one of a job no longer listed.
    const bool troubled = std::any_of(lastRecords.begin(), lastRecords.end(), [](const auto& entry) {
        const RunOutcome::Case kind = entry.second.outcome.kind;
        return kind == RunOutcome::Case::failed || kind == RunOutcome::Case::completedWithErrors ||
               kind == RunOutcome::Case::interrupted;
    });
    if (troubled) return MenuBarIconState::attention();
    for (const auto& [id, status] : statuses) {
        if (const auto* running = status.as<RunStatus::Running>()) {
            return MenuBarIconState::progress(running->progress.fraction.value_or(0));
        }
    }
    if (hasKind(RunStatus::Kind::queued)) return MenuBarIconState::progress(0);
    if (jobs.empty() || std::any_of(jobs.begin(), jobs.end(), [](const SyncJob& job) { return job.isEnabled; })) {
        return MenuBarIconState::idle();
    }
    return MenuBarIconState::paused();
}

}  // namespace kelto
