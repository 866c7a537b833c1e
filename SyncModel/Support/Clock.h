#pragma once

#include "SyncModel/Support/Date.h"

#include <time.h>

#include <atomic>
#include <chrono>

namespace kelto {

// Wherever "now" is read, it is read through a Clock so tests can pin it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
    // Monotonic seconds for measuring durations (rates, throttles).
    virtual double monotonicSeconds() const = 0;
    // Seconds since the machine started, suspended time included: what
    // monotonic stamps taken before a suspend are measured against.
    virtual double secondsSinceBoot() const { return monotonicSeconds(); }
};

class SystemClock final : public Clock {
public:
    Date now() const override { return Date::fromSystemTime(std::chrono::system_clock::now()); }
    double monotonicSeconds() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    double secondsSinceBoot() const override {
        timespec now{};
        ::clock_gettime(CLOCK_BOOTTIME, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    }
    static const SystemClock& shared() {
        static const SystemClock clock;
        return clock;
    }
};

// A clock that only moves when told to; both readings advance together.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Date start = Date{}, double monotonicStart = 1000.0)
        : now_(start.sinceReference), monotonic_(monotonicStart) {}
    Date now() const override { return Date{now_.load()}; }
    double monotonicSeconds() const override { return monotonic_.load(); }
    void advance(double seconds) {
        now_ = now_.load() + seconds;
        monotonic_ = monotonic_.load() + seconds;
    }
    void set(Date date) { now_ = date.sinceReference; }

private:
    std::atomic<double> now_;
    std::atomic<double> monotonic_;
};

}  // namespace kelto
