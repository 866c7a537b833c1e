#include "SyncAutomation/SleepAssertion.h"

namespace kelto {

SleepAssertion::SleepAssertion(SleepInhibitor& inhibitor, std::string reason) : held_(inhibitor.take(reason)) {}

SleepAssertion::~SleepAssertion() { release(); }

void SleepAssertion::release() noexcept {
    const std::lock_guard guard(lock_);
    // Closing under the lock: a second caller finds nothing left to release.
    held_.reset();
}

bool SleepAssertion::isHeld() const {
    const std::lock_guard guard(lock_);
    return held_.has_value();
}

}  // namespace kelto
