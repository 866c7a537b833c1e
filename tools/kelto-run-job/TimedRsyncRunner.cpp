#include "tools/kelto-run-job/TimedRsyncRunner.h"

#include <chrono>

namespace kelto {

RsyncExit TimedRsyncRunner::run(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode,
                                std::stop_token stop, const RawLineHandler& onRawLine,
                                const EventHandler& onEvent) const {
    std::size_t slot = 0;
    {
        const std::lock_guard guard(lock_);
        slot = seconds_.size();
        seconds_.push_back(0);
    }
    const auto started = std::chrono::steady_clock::now();
    // A run that throws still took its time.
    struct Record {
        const TimedRsyncRunner& self;
        std::size_t slot;
        std::chrono::steady_clock::time_point started;
        ~Record() {
            const std::lock_guard guard(self.lock_);
            self.seconds_[slot] = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        }
    } record{*this, slot, started};
    return runner_.run(arguments, mode, std::move(stop), onRawLine, onEvent);
}

std::vector<double> TimedRsyncRunner::seconds() const {
    const std::lock_guard guard(lock_);
    return seconds_;
}

}  // namespace kelto
