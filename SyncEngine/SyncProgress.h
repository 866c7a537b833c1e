#pragma once

#include "SyncEngine/SyncPhase.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kelto {

// The state of a running job at one moment.
struct SyncProgress {
    SyncPhase phase = SyncPhase::resolving;
    std::optional<double> fraction;  // 0 to 1; absent when unknown
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = 0;
    std::int64_t filesDone = 0;
    std::int64_t filesTotal = 0;
    std::optional<double> bytesPerSecond;
    std::optional<double> eta;  // seconds left
    std::optional<std::string> currentPath;
    std::int64_t scannedItems = 0;
    friend bool operator==(const SyncProgress&, const SyncProgress&) = default;
};

}  // namespace kelto
