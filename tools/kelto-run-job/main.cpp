// Runs one job on two folders through the sync coordinator, as a run asked
// for by hand in the application, and prints one JSON object: the outcome
// ("outcome", with "message" or "reason"), the run's history record
// ("record") and log ("log"), the plan when the run stopped for review (and
// with --list-plan its lists), the times of each phase (plan, the look
// before the transfer, transfer, archive, baseline and pruning, record), of
// each rsync child and of the engine's own work, and the peak memory; with
// --plan-only the preview's plan instead of a run; or the error that stopped
// it. A tool for measuring and black-box testing, not part of the product.
//
//   kelto-run-job [options] SOURCE DESTINATION SUPPORT_FOLDER LOG_FOLDER
//
// (options: see RunJobOptions::usage). The job is kept in
// SUPPORT_FOLDER/jobs.json, found again by its two folders, so that later runs
// share its id, its sides (as the application stores them: a folder put in a
// side's place is not that side) and archive; a two-way job's baseline is
// SUPPORT_FOLDER/state/<job UUID>.sqlite, the job's lock beside it, its
// history SUPPORT_FOLDER/history/<job UUID>.json. The run log goes to
// LOG_FOLDER/<job UUID>/<run id>.log. Exit status: 0 when the run succeeded
// (possibly with warnings) or the preview was made, 1 when the run ended any
// other way, 2 on an error.

#include "tools/kelto-run-job/RunJob.h"
#include "tools/kelto-run-job/RunJobReport.h"

#include <cstdio>

using namespace kelto;

int main(int argc, char** argv) {
    RunJobOptions options;
    try {
        options = RunJobOptions::parse(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "kelto-run-job: %s\n%s", e.what(), RunJobOptions::usage);
        return 2;
    }

    try {
        const SyncJob job = RunJob::storedJob(options);
        if (options.printArguments) {
            RunJob::printRsyncArguments(job);
            return 0;
        }
        const Json out = RunJob::run(options, job);
        RunJobReport::print(out);
        if (options.planOnly) return 0;
        const std::string outcome = out.at("outcome").get<std::string>();
        return outcome == "success" || outcome == "completedWithWarnings" ? 0 : 1;
    } catch (...) {
        RunJobReport::print(Json{{"error", RunJobReport::error(std::current_exception())}});
        return 2;
    }
}
