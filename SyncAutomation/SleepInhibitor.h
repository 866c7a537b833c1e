#pragma once

#include "SyncModel/Support/FileDescriptor.h"

#include <optional>
#include <string_view>

namespace kelto {

// Keeps the system from idle sleep. The Linux one asks systemd-logind
// (LogindSleepInhibitor); tests count takes and releases.
class SleepInhibitor {
public:
    virtual ~SleepInhibitor() = default;
    // The held inhibition: closing the descriptor releases it. Nothing when
    // it could not be taken; a run goes on without it.
    virtual std::optional<FileDescriptor> take(std::string_view reason) noexcept = 0;
};

}  // namespace kelto
