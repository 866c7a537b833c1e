#pragma once

#include "Kelto_Sync/App/RunNotices.h"
#include "SyncAutomation/AppModelInterface.h"

#include <functional>

namespace kelto {

// Turns a finished run into its notice and, for a run the user started,
// into a request to show the job.
struct RunFinishedRouter {
    // `model` may be gone (null): nothing happens. `openJob` posts the
    // request to show a job.
    static void route(const RunRecord& record, AppModelInterface* model, RunNotices& notices,
                      const std::function<void(const Uuid&)>& openJob);
};

}  // namespace kelto
