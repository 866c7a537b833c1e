#pragma once

#include "SyncModel/RunRecord.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/Support/Uuid.h"

#include <string>

namespace kelto {

// What the shell asks of the desktop notifications; whether a notice is
// really shown is the notifier's to decide from the user's settings.
class RunNotices {
public:
    virtual ~RunNotices() = default;
    virtual void notifySuccess(const RunRecord& record, const std::string& jobName) = 0;
    virtual void notifyProblem(const RunRecord& record, const std::string& jobName) = 0;
    virtual void notifyReviewNeeded(const Uuid& jobID, const std::string& jobName, const std::string& detail) = 0;
    // Asks whether the job should run now (a trigger that asks first).
    virtual void askToSync(const SyncJob& job) = 0;
    // Takes that question back: the device it was about went away.
    virtual void withdrawAsk(const Uuid& jobID) = 0;
};

}  // namespace kelto
