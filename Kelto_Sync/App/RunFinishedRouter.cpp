#include "Kelto_Sync/App/RunFinishedRouter.h"

#include <algorithm>

namespace kelto {

void RunFinishedRouter::route(const RunRecord& record, AppModelInterface* model, RunNotices& notices,
                              const std::function<void(const Uuid&)>& openJob) {
    if (!model) return;
    const auto& jobs = model->jobs();
    const auto job = std::find_if(jobs.begin(), jobs.end(), [&](const SyncJob& j) { return j.id == record.jobID; });
    if (job == jobs.end()) return;  // deleted while it ran
    // Copies: the notices and the request may change the model's list.
    const Uuid jobID = job->id;
    const std::string name = job->name;
    const bool manual = record.trigger == RunTrigger::manual;
    using Case = RunOutcome::Case;
    switch (record.outcome.kind) {
    case Case::success:
        notices.notifySuccess(record, name);
        break;
    case Case::completedWithErrors:
    case Case::failed:
    case Case::interrupted:
        notices.notifyProblem(record, name);
        break;
    case Case::completedWithWarnings:
    case Case::cancelled:
        break;
    case Case::skipped:
        if (manual) openJob(jobID);
        break;
    case Case::needsReview:
        notices.notifyReviewNeeded(jobID, name, record.outcome.message);
        if (manual) {
            model->setRequestedJobID(jobID);
            openJob(jobID);
        }
        break;
    }
}

}  // namespace kelto
