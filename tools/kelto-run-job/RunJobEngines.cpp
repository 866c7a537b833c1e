#include "tools/kelto-run-job/RunJobEngines.h"

namespace kelto {

RunJobEngines::RunJobEngines(std::filesystem::path rsync)
    : rsync_(std::move(rsync)), oneWay_(rsync_), twoWay_(rsync_) {}

void RunJobEngines::onOneWayRsyncRunTimed(std::function<void(double seconds)> handler) {
    oneWay_.onRsyncRunTimed = std::move(handler);
}

// A one-way engine only looks at the destination's file system.
SyncPlan RunJobEngines::planOneWay(const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b) const {
    return oneWay_.plan(job, a.root, b.root, b.traits);
}

std::pair<RunStats, RsyncExit> RunJobEngines::runOneWay(const SyncJob& job, const SyncPlan& plan, const TwoWaySide& a,
                                                        const TwoWaySide& b, const std::string& runID,
                                                        RunLogSink& log) const {
    return oneWay_.run(job, plan, a.root, b.root, b.traits, runID, log);
}

std::pair<SyncPlan, TwoWayPlan> RunJobEngines::planTwoWay(const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b,
                                                          BaselineStore& baseline) const {
    return twoWay_.plan(job, a, b, baseline);
}

std::pair<RunStats, RsyncExit> RunJobEngines::runTwoWay(const SyncJob& job, const TwoWayPlan& plan,
                                                        const TwoWaySide& a, const TwoWaySide& b,
                                                        BaselineStore& baseline, const std::string& runID,
                                                        RunLogSink& log) const {
    return twoWay_.run(job, plan, a, b, baseline, runID, log);
}

}  // namespace kelto
