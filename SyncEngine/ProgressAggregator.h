#pragma once

#include "SyncEngine/SyncProgress.h"
#include "SyncModel/Support/Clock.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace kelto {

// Turns a transfer's running byte count into progress reports, with the rate
// averaged over the last five seconds. Times are seconds on one monotonic
// scale (Clock::monotonicSeconds), never wall-clock dates.
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
    std::optional<std::string> currentPath;
    std::deque<Sample> samples;  // oldest first

    ProgressAggregator(std::int64_t bytesTotal, std::int64_t filesTotal);

    void recordFile(std::string path);
    SyncProgress update(std::int64_t bytesDone, double now);
    SyncProgress update(std::int64_t bytesDone, const Clock& clock) { return update(bytesDone, clock.monotonicSeconds()); }
};

}  // namespace kelto
