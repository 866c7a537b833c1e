#pragma once

#include "SyncEngine/RsyncRunner.h"

#include <mutex>
#include <vector>

namespace kelto {

// Runs rsync through another runner and keeps each run's wall time, in the
// order the runs started (two-way listings run two at once).
class TimedRsyncRunner final : public RsyncRunner {
public:
    // `runner` must outlive this one.
    explicit TimedRsyncRunner(const RsyncRunner& runner) : runner_(runner) {}

    RsyncExit run(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode, std::stop_token stop,
                  const RawLineHandler& onRawLine, const EventHandler& onEvent) const override;

    std::vector<double> seconds() const;

private:
    const RsyncRunner& runner_;
    mutable std::mutex lock_;
    mutable std::vector<double> seconds_;
};

}  // namespace kelto
