#pragma once

#include "SyncAutomation/SleepInhibitor.h"

#include <chrono>

namespace kelto {

// An idle-sleep block lock from systemd-logind on the system bus. Without a
// bus, logind or its consent nothing is held.
class LogindSleepInhibitor final : public SleepInhibitor {
public:
    // Long enough for an authorisation check, short enough that a stuck bus
    // does not hold up a run.
    static constexpr std::chrono::seconds callTimeout{5};

    std::optional<FileDescriptor> take(std::string_view reason) noexcept override;
};

}  // namespace kelto
