#include "tools/kelto-run-job/RunJobEngines.h"

namespace kelto {

RunJobEngines::RunJobEngines(std::filesystem::path rsync)
    : rsync_(std::move(rsync)), oneWay_(rsync_), twoWay_(rsync_) {}

void RunJobEngines::onOneWayRsyncRunTimed(std::function<void(double seconds)> handler) {
    oneWay_.onRsyncRunTimed = std::move(handler);
}

// A one-way engine only looks at the destination's file system.
SyncPlan RunJobEngines::planOneWay(const SyncJob& job, const RunJobSide& a, const RunJobSide& b) const {
    return oneWay_.plan(job, a.root, b.root, b.traits);
}

std::pair<RunStats, RsyncExit> RunJobEngines::runOneWay(const SyncJob& job, const SyncPlan& plan, const RunJobSide& a,
                                                        const RunJobSide& b, const std::string& runID,
                                                        RunLogSink& log) const {
    return oneWay_.run(job, plan, a.root, b.root, b.traits, runID, log);
}

std::pair<SyncPlan, TwoWayPlan> RunJobEngines::planTwoWay(const SyncJob& job, const RunJobSide& a, const RunJobSide& b,
                                                          BaselineStore& baseline) const {
    return twoWay_.plan(job, a.root, b.root, a.traits, b.traits, baseline, a.volumeUuid, b.volumeUuid);
}

std::pair<RunStats, RsyncExit> RunJobEngines::runTwoWay(const SyncJob& job, const TwoWayPlan& plan,
                                                        const RunJobSide& a, const RunJobSide& b,
                                                        BaselineStore& baseline, const std::string& runID,
                                                        RunLogSink& log) const {
    return twoWay_.run(job, plan, a.root, b.root, a.traits, b.traits, baseline, a.volumeUuid, b.volumeUuid, runID,
                       log);
}

}  // namespace kelto
