#pragma once

#include "SyncEngine/RsyncRunner.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kelto {

// Runs rsync through another runner and keeps each run's kind, start and wall
// time, in the order the runs started (two-way listings run two at once).
class TimedRsyncRunner final : public RsyncRunner {
public:
    struct Pass {
        std::string kind;   // "listing", "dry run", "file list" or "transfer"
        double start = 0;   // seconds after the runner was made
        double seconds = 0;
    };

    // `runner` must outlive this one.
    explicit TimedRsyncRunner(const RsyncRunner& runner)
        : runner_(runner), origin_(std::chrono::steady_clock::now()) {}

    RsyncExit run(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode, std::stop_token stop,
                  const RawLineHandler& onRawLine, const EventHandler& onEvent) const override;
    RsyncExit runBetween(int source, int destination, const std::vector<std::string>& arguments,
                         RsyncOutputParser::Mode mode, std::stop_token stop, const RawLineHandler& onRawLine,
                         const EventHandler& onEvent) const override;

    std::vector<Pass> passes() const;
    std::chrono::steady_clock::time_point origin() const { return origin_; }

    // What an argument list asks rsync to do.
    static std::string kindOf(const std::vector<std::string>& arguments);

private:
    // Runs `go`, recording its time as a pass of the kind the arguments ask.
    RsyncExit timed(const std::vector<std::string>& arguments, const std::function<RsyncExit()>& go) const;

    const RsyncRunner& runner_;
    const std::chrono::steady_clock::time_point origin_;
    mutable std::mutex lock_;
    mutable std::vector<Pass> passes_;
};

}  // namespace kelto
