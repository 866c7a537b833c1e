#include "SyncAutomation/Async/ManualExecutor.h"

#include <algorithm>

namespace kelto {

ManualExecutor::ManualExecutor(ManualClock& clock) : clock_(clock), owner_(std::this_thread::get_id()) {}

void ManualExecutor::post(Work work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    posted_.notify_all();
}

DelayedWork ManualExecutor::postAfter(double seconds, Work work) {
    std::pair<double, std::uint64_t> key;
    {
        std::lock_guard lock(mutex_);
        key = {clock_.monotonicSeconds() + std::max(seconds, 0.0), nextSerial_++};
        delayed_.emplace(key, std::move(work));
    }
    return DelayedWork([this, key] {
        std::lock_guard lock(mutex_);
        delayed_.erase(key);
    });
}

std::optional<Executor::Work> ManualExecutor::takeOne() {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        Work work = std::move(queue_.front());
        queue_.pop_front();
        return work;
    }
    if (!delayed_.empty() && delayed_.begin()->first.first <= clock_.monotonicSeconds()) {
        Work work = std::move(delayed_.begin()->second);
        delayed_.erase(delayed_.begin());
        return work;
    }
    return std::nullopt;
}

std::size_t ManualExecutor::runPending() {
    std::size_t count = 0;
    while (auto work = takeOne()) {
        (*work)();
        ++count;
    }
    return count;
}

void ManualExecutor::advance(double seconds) {
    const double target = clock_.monotonicSeconds() + seconds;
    runPending();
    for (;;) {
        const auto due = nextDue();
        if (!due || *due > target) break;
        if (*due > clock_.monotonicSeconds()) clock_.advance(*due - clock_.monotonicSeconds());
        runPending();
    }
    if (target > clock_.monotonicSeconds()) clock_.advance(target - clock_.monotonicSeconds());
    runPending();
}

bool ManualExecutor::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        runPending();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) {
            lock.unlock();
            runPending();
            return done();
        }
    }
}

std::size_t ManualExecutor::delayedCount() const {
    std::lock_guard lock(mutex_);
    return delayed_.size();
}

std::optional<double> ManualExecutor::nextDue() const {
    std::lock_guard lock(mutex_);
    if (delayed_.empty()) return std::nullopt;
    return delayed_.begin()->first.first;
}

}  // namespace kelto
