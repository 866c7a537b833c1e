#pragma once

#include "SyncEngine/ProgressAggregator.h"
#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/RunLogSink.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/SyncProgress.h"
#include "SyncEngine/internal/PathKeySet.h"
#include "SyncModel/RunStats.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// What the rsync callbacks of a two-way run's transfers share with the run.
// Every field but `lock` is read and written only with `lock` held, and so
// is every member function; progress is reported after releasing it.
class TwoWayTransferState {
public:
    using ProgressHandler = std::function<void(const SyncProgress&)>;

    static constexpr double reportInterval = 0.1;

    // `plan` is the run-time SyncPlan (copies of both directions); `log` the
    // run log, opened and closed by the caller.
    TwoWayTransferState(const SyncPlan& plan, RunLogSink& log, ProgressHandler onProgress);
    TwoWayTransferState(const TwoWayTransferState&) = delete;
    TwoWayTransferState& operator=(const TwoWayTransferState&) = delete;

    // Writes the line unless an earlier write failed; the first failure is
    // kept in `logError` and later lines are dropped.
    void writeLogLine(std::string_view line);
    // Hands the log's held-back lines to its file; a failure counts as above.
    void flushLog();

    // A new direction: the keys handed to rsync, the files among them that
    // rsync writes, and the two folders.
    void startDirection(PathKeySet expectedKeys, std::vector<std::string> writes, const std::string& sourceFolder,
                        const std::string& destinationFolder);

    // rsync's running byte count, an itemised item, a diagnostic. The first
    // two return a report when one is due at `now`.
    std::optional<SyncProgress> recordProgress(const RsyncProgressSample& sample, double now);
    std::optional<SyncProgress> recordItem(const ItemizedChange& item, double now);
    void recordDiagnostic(std::string_view line);

    // Ends the direction: adds its bytes to the finished ones and returns the
    // keys whose outcome rsync did not confirm with code `code`.
    PathKeySet endDirection(std::int32_t code);

    // Counts the direction's copies that arrived (of `copied`).
    void countCopied(const std::vector<ItemizedChange>& arrived);

    std::mutex lock;
    RunLogSink& handle;
    ProgressHandler onProgress;
    ProgressAggregator aggregator;
    RunStats stats;
    std::exception_ptr logError;
    double lastEmission;  // monotonic seconds; minus infinity so the first report goes at once
    std::int64_t directionBytes = 0;
    std::int64_t completedBytes = 0;
    PathKeySet expected;   // keys handed to the current direction's rsync
    PathKeySet completed;  // keys rsync itemised in the current direction
    PathKeySet reported;   // keys named in the current direction's diagnostics
    std::vector<std::string> received;  // files rsync received in the current direction, as it named them
    std::vector<ItemizedChange> copied;  // files and links rsync named as copied in the current direction
    std::string source;       // the current direction's source folder and "/"
    std::string destination;  // the current direction's destination folder and "/"
    std::int64_t total;       // total size of the copies, not clamped

private:
    std::optional<SyncProgress> throttled(double now);
};

}  // namespace kelto
