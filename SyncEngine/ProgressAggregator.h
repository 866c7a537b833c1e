#pragma once

#include "SyncEngine/SyncProgress.h"
#include "SyncModel/Support/Clock.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Turns a transfer's running byte count into progress reports, with the rate
// averaged over the last five seconds. Times are seconds on one monotonic
// scale (Clock::monotonicSeconds), never wall-clock dates.
//
// rsync names a received file only once its bytes are written (the transfer's
// line format holds the bytes sent), so the file being copied now is the one
// after the last received, in the order rsync writes them: `expect` is given
// the files a transfer writes, and a received name moves past it.
struct ProgressAggregator {
    struct Sample {
        double time = 0;
        std::int64_t bytes = 0;
        friend bool operator==(const Sample&, const Sample&) = default;
    };

    static constexpr double window = 5.0;

    std::int64_t bytesTotal = 0;
    std::int64_t filesTotal = 0;
    std::int64_t bytesDone = 0;
    std::int64_t filesDone = 0;
    std::optional<std::string> currentPath;  // the file being copied now, when known
    std::deque<Sample> samples;              // oldest first
    std::vector<std::string> expected;       // in rsync's order
    std::size_t next = 0;                    // the first of `expected` not yet received

    ProgressAggregator(std::int64_t bytesTotal, std::int64_t filesTotal);

    // The files the next rsync transfer writes, in any order.
    void expect(std::vector<std::string> files);
    void recordFile(const std::string& path);
    // rsync's transfer order: path by path, byte order, and a folder's files
    // before its subfolders.
    static bool rsyncOrder(std::string_view a, std::string_view b);
    SyncProgress update(std::int64_t bytesDone, double now);
    SyncProgress update(std::int64_t bytesDone, const Clock& clock) { return update(bytesDone, clock.monotonicSeconds()); }
};

}  // namespace kelto
