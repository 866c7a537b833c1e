#pragma once

#include "SyncModel/Support/Json.h"

#include <cstdint>
#include <optional>

namespace kelto {

struct JobOptions {
    bool archiveEnabled = false;
    std::optional<std::int64_t> archiveRetentionDays;  // absent: kept forever
    std::int64_t deleteGuardPercent = 0;
    std::int64_t deleteGuardMinFiles = 0;
    bool ejectWhenDone = false;
    bool skipOnBattery = false;

    // What a new job gets, and what the simple preset restores.
    static JobOptions standard() { return JobOptions{true, 30, 20, 50, false, false}; }

    friend bool operator==(const JobOptions&, const JobOptions&) = default;
};

template <>
struct JsonCodec<JobOptions> {
    static Json encode(const JobOptions& value);
    static JobOptions decode(const JsonIn& in);
};

}  // namespace kelto
