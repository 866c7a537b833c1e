#pragma once

#include "SyncModel/Support/Clock.h"

#include <sys/types.h>

#include <filesystem>
#include <optional>

namespace kelto {

class VolumeMonitor;

// When a disk appeared. Never fails: what cannot be known is nothing.
struct DiskAppearance {
    // For the volume mounted at `mountPoint`: when the monitor first saw it;
    // for one mounted before the monitor started, when udev set up its block
    // device.
    static std::optional<Date> appearanceTime(const std::filesystem::path& mountPoint, const VolumeMonitor* monitor,
                                              const std::filesystem::path& udevData = "/run/udev/data",
                                              const Clock& clock = SystemClock::shared());

    // udev keeps the set-up time on the monotonic clock, in microseconds.
    static std::optional<Date> udevInitialisationTime(dev_t device, const std::filesystem::path& udevData,
                                                      const Clock& clock);
};

}  // namespace kelto
