#pragma once

#include "SyncEngine/PathKeySet.h"
#include "SyncEngine/ProgressAggregator.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/SyncProgress.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/Support/FileIO.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// What the rsync callbacks of a two-way run's transfers share with the run.
// Every field but `lock` is read and written only with `lock` held; progress
// is reported after releasing it.
class TwoWayTransferState {
public:
    using ProgressHandler = std::function<void(const SyncProgress&)>;

    // `plan` is the run-time SyncPlan (copies of both directions);
    // `logDescriptor` the run log, opened and closed by the caller.
    TwoWayTransferState(const SyncPlan& plan, int logDescriptor, ProgressHandler onProgress);
    TwoWayTransferState(const TwoWayTransferState&) = delete;
    TwoWayTransferState& operator=(const TwoWayTransferState&) = delete;

    // Writes the line and a line feed unless an earlier write failed; the
    // first failure is kept in `logError` and later lines are dropped.
    void writeLogLine(std::string_view line);

    std::mutex lock;
    int handle;
    ProgressHandler onProgress;
    ProgressAggregator aggregator;
    RunStats stats;
    std::optional<FileError> logError;
    double lastEmission;  // monotonic seconds; minus infinity so the first report goes at once
    std::int64_t directionBytes = 0;
    std::int64_t completedBytes = 0;
    PathKeySet expected;   // keys handed to the current direction's rsync
    PathKeySet completed;  // keys rsync itemised in the current direction
    PathKeySet reported;   // keys named in the current direction's diagnostics
    std::string source;       // the current direction's source folder and "/"
    std::string destination;  // the current direction's destination folder and "/"
    std::int64_t total;       // total size of the copies, not clamped
};

}  // namespace kelto
