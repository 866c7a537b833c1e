#pragma once

#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncProcess.h"
#include "SyncEngine/RunLogSink.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/TwoWayEngine.h"
#include "SyncEngine/TwoWaySide.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/SyncJob.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace kelto {

// The driver's only calls into the engines, so that a change of their
// signatures is met here alone.
class RunJobEngines {
public:
    explicit RunJobEngines(std::filesystem::path rsync);

    // Told the wall time in seconds of each rsync child run of the one-way engine.
    void onOneWayRsyncRunTimed(std::function<void(double seconds)> handler);

    SyncPlan planOneWay(const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b) const;
    std::pair<RunStats, RsyncExit> runOneWay(const SyncJob& job, const SyncPlan& plan, const TwoWaySide& a,
                                             const TwoWaySide& b, const std::string& runID, RunLogSink& log) const;

    std::pair<SyncPlan, TwoWayPlan> planTwoWay(const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b,
                                               BaselineStore& baseline) const;
    std::pair<RunStats, RsyncExit> runTwoWay(const SyncJob& job, const TwoWayPlan& plan, const TwoWaySide& a,
                                             const TwoWaySide& b, BaselineStore& baseline, const std::string& runID,
                                             RunLogSink& log) const;

private:
    RsyncProcess rsync_;
    OneWayEngine oneWay_;
    TwoWayEngine twoWay_;
};

}  // namespace kelto
