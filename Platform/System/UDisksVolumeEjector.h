#pragma once

#include "SyncAutomation/VolumeEjector.h"

#include <chrono>

namespace kelto {

// Unmounts through UDisks2 on the system bus, locks an encrypted disk again,
// then powers off the drive when it can be, else ejects it when it is
// ejectable.
class UDisksVolumeEjector final : public VolumeEjector {
public:
    // Unmounting and powering off wait for pending writes to reach the disk.
    static constexpr std::chrono::seconds operationTimeout{60};
    static constexpr std::chrono::seconds queryTimeout{10};

    void eject(const std::filesystem::path& volumeRoot) override;
};

}  // namespace kelto
