#pragma once

#include "SyncEngine/SyncPlan.h"
#include "SyncModel/Support/Uuid.h"

#include <stop_token>

namespace kelto {

// Plans a job without running it: what a run would start from. Blocks its
// thread; throws why the job could not be planned.
class RunPreviewing {
public:
    virtual ~RunPreviewing() = default;
    virtual SyncPlan preview(const Uuid& jobID, std::stop_token stop) = 0;

protected:
    RunPreviewing() = default;
    RunPreviewing(const RunPreviewing&) = default;
    RunPreviewing& operator=(const RunPreviewing&) = default;
};

}  // namespace kelto
