#pragma once

#include "SyncAutomation/SleepInhibitor.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// Keeps the system awake while it lives or until released, whichever comes
// first. Creation never fails; the inhibition is released at most once.
class SleepAssertion {
public:
    static constexpr std::string_view runReason = "Kelto Sync is synchronizing folders";

    SleepAssertion(SleepInhibitor& inhibitor, std::string reason);
    ~SleepAssertion();
    SleepAssertion(const SleepAssertion&) = delete;
    SleepAssertion& operator=(const SleepAssertion&) = delete;

    // Safe from any thread; after the first call it does nothing.
    void release() noexcept;
    bool isHeld() const;

private:
    mutable std::mutex lock_;
    std::optional<FileDescriptor> held_;
};

}  // namespace kelto
