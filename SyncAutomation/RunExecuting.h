#pragma once

#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/SyncProgress.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/Support/Uuid.h"

#include <functional>
#include <optional>
#include <stop_token>

namespace kelto {

// What a run hands back: its record, and the plan to review when the run
// stopped because its plan needs confirmation.
struct RunResult {
    RunRecord record;
    std::optional<SyncPlan> review;
};

// Carries out one run of a job. The call blocks its thread until the run has
// ended and never throws: failures, skips, cancellation and interruption are
// outcomes of the record. A stop request cancels the run. `progress` may be
// called from any thread, any number of times. `reviewed` is the plan the
// user was shown and confirmed, null for a run nobody confirmed: a confirmed
// run takes no more than it listed, and a plan that would stops it for a new
// review instead.
class RunExecuting {
public:
    using ProgressCallback = std::function<void(const SyncProgress&)>;

    virtual ~RunExecuting() = default;
    virtual RunResult run(const Uuid& jobID, RunTrigger trigger, const SyncPlan* reviewed,
                          const ProgressCallback& progress, std::stop_token stop) = 0;

protected:
    RunExecuting() = default;
    RunExecuting(const RunExecuting&) = default;
    RunExecuting& operator=(const RunExecuting&) = default;
};

}  // namespace kelto
