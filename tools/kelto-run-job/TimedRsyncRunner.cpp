#include "tools/kelto-run-job/TimedRsyncRunner.h"

#include <algorithm>

namespace kelto {

namespace {

double secondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

std::string TimedRsyncRunner::kindOf(const std::vector<std::string>& arguments) {
    auto has = [&](auto&& test) { return std::any_of(arguments.begin(), arguments.end(), test); };
    if (has([](const std::string& a) { return a == "--list-only"; })) return "listing";
    if (has([](const std::string& a) { return a == "--dry-run"; })) return "dry run";
    if (has([](const std::string& a) { return a.starts_with("--files-from="); })) return "file list";
    return "transfer";
}

RsyncExit TimedRsyncRunner::run(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode,
                                std::stop_token stop, const RawLineHandler& onRawLine,
                                const EventHandler& onEvent) const {
    return timed(arguments, [&] { return runner_.run(arguments, mode, std::move(stop), onRawLine, onEvent); });
}

RsyncExit TimedRsyncRunner::runBetween(int source, int destination, const std::vector<std::string>& arguments,
                                       RsyncOutputParser::Mode mode, std::stop_token stop,
                                       const RawLineHandler& onRawLine, const EventHandler& onEvent) const {
    return timed(arguments, [&] {
        return runner_.runBetween(source, destination, arguments, mode, std::move(stop), onRawLine, onEvent);
    });
}

RsyncExit TimedRsyncRunner::timed(const std::vector<std::string>& arguments,
                                  const std::function<RsyncExit()>& go) const {
    const auto started = std::chrono::steady_clock::now();
    std::size_t slot = 0;
    {
        const std::lock_guard guard(lock_);
        slot = passes_.size();
        passes_.push_back(Pass{kindOf(arguments), secondsBetween(origin_, started), 0});
    }
    // A run that throws still took its time.
    struct Record {
        const TimedRsyncRunner& self;
        std::size_t slot;
        std::chrono::steady_clock::time_point started;
        ~Record() {
            const std::lock_guard guard(self.lock_);
            self.passes_[slot].seconds = secondsBetween(started, std::chrono::steady_clock::now());
        }
    } record{*this, slot, started};
    return go();
}

std::vector<TimedRsyncRunner::Pass> TimedRsyncRunner::passes() const {
    const std::lock_guard guard(lock_);
    return passes_;
}

}  // namespace kelto
