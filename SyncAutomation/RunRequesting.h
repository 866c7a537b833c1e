#pragma once

#include "SyncAutomation/Async/Executor.h"
#include "SyncAutomation/Async/Subscription.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/Support/Uuid.h"

#include <functional>

namespace kelto {

// What the automation scheduler asks of the job runner: requests and the
// records of finished runs. JobRunner is the one; scheduler tests use a fake.
class RunRequesting {
public:
    using RecordCallback = std::function<void(const RunRecord&)>;

    virtual ~RunRequesting() = default;
    // Queues a run; `done` gets false when the request was refused.
    virtual void enqueue(const Uuid& jobID, RunTrigger trigger, std::function<void(bool)> done) = 0;
    // Every finished run's record on `executor`, from now on.
    virtual Subscription observeCompletions(Executor& executor, RecordCallback callback) = 0;

protected:
    RunRequesting() = default;
    RunRequesting(const RunRequesting&) = default;
    RunRequesting& operator=(const RunRequesting&) = default;
};

}  // namespace kelto
