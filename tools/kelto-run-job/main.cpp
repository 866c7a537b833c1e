// Plans and runs one job on two folders through the engines the application
// uses, and prints one JSON object: the plan's counts (and with --list-plan
// its lists), the safety guard's input and verdict, the outcome, the
// statistics, the engine's times and those of each of its rsync children, and
// its peak memory; or the error that stopped it. A tool for measuring and
// black-box testing, not part of the product.
//
//   kelto-run-job [options] SOURCE DESTINATION SUPPORT_FOLDER LOG_FOLDER
//
// (options: see RunJobOptions::usage). The job is kept in
// SUPPORT_FOLDER/jobs.json, found again by its two folders, so that later runs
// share its id and archive; a two-way job's baseline is
// SUPPORT_FOLDER/state/<job UUID>.sqlite. The run log goes to
// LOG_FOLDER/<job UUID>/<run id>.log. Exit status: 0 when planned (and run),
// 1 when the guard stopped the run, 2 on an error.

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
        const TwoWaySide a = RunJob::side(options.source, job.source, options.a);
        const TwoWaySide b = RunJob::side(options.destination, job.destination, options.b);
        if (options.printArguments) {
            RunJob::printRsyncArguments(job, a, b);
            return 0;
        }
        const Json out = job.mode == SyncMode::twoWay ? RunJob::twoWay(options, job, a, b)
                                                      : RunJob::oneWay(options, job, a, b);
        RunJobReport::print(out);
        return options.planOnly || out.at("ran").get<bool>() ? 0 : 1;
    } catch (...) {
        RunJobReport::print(Json{{"error", RunJobReport::error(std::current_exception())}});
        return 2;
    }
}
