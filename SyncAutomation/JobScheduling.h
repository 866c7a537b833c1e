#pragma once

#include "SyncAutomation/Async/Subscription.h"
#include "SyncModel/Support/Date.h"
#include "SyncModel/Support/Uuid.h"

#include <functional>
#include <optional>

namespace kelto {

// What the application model asks of the automation scheduler; both calls are
// made on the main executor.
class JobScheduling {
public:
    virtual ~JobScheduling() = default;
    // The job list changed: recompute the timers and drop pending connect runs.
    virtual void jobsChanged() = 0;
    // The job's pending fire date; none for a disabled job, one without timed
    // triggers, or before the scheduler's first pass.
    virtual std::optional<Date> pendingFire(const Uuid& jobID) const = 0;
    // Calls `changed` synchronously after each computation that changed any
    // pending fire date, until the subscription ends.
    virtual Subscription observePendingFires(std::function<void()> changed) = 0;

protected:
    JobScheduling() = default;
    JobScheduling(const JobScheduling&) = default;
    JobScheduling& operator=(const JobScheduling&) = default;
};

}  // namespace kelto
