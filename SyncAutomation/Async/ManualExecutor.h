#pragma once

#include "SyncAutomation/Async/MainExecutor.h"
#include "SyncModel/Support/Clock.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace kelto {

// A main executor for tests: work runs only when the test says so, on the
// test's thread, and delayed work is due by a manual clock that only moves
// when the test advances it. Other threads may post at any time. It must
// outlive the DelayedWork handles it gives out.
class ManualExecutor final : public MainExecutor {
public:
    explicit ManualExecutor(ManualClock& clock);

    void post(Work work) override;
    DelayedWork postAfter(double seconds, Work work) override;
    bool isCurrent() const override { return std::this_thread::get_id() == owner_; }

    // Runs posted work and due delayed work until none is left; the count run.
    std::size_t runPending();
    // Moves the clock on by `seconds`, stopping at each delayed work's time
    // to run it (and what is posted meanwhile), in time order.
    void advance(double seconds);
    // Runs work as it arrives from other threads until `done` holds or
    // `timeout` of real time has passed; whether it holds.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));

    std::size_t delayedCount() const;
    // When the earliest delayed work is due, in the clock's monotonic seconds.
    std::optional<double> nextDue() const;

private:
    std::optional<Work> takeOne();

    ManualClock& clock_;
    const std::thread::id owner_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Work> queue_;
    // By due time, then by order of posting.
    std::map<std::pair<double, std::uint64_t>, Work> delayed_;
    std::uint64_t nextSerial_ = 0;
};

}  // namespace kelto
