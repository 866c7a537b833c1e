#pragma once

#include "SyncModel/Support/Json.h"

#include <cstdint>

namespace kelto {

// Entries other than folders on each side at the last completed two-way sync.
struct SideCounts {
    std::int64_t a = 0;
    std::int64_t b = 0;
    friend bool operator==(const SideCounts&, const SideCounts&) = default;
};

template <>
struct JsonCodec<SideCounts> {
    static Json encode(const SideCounts& value);
    static SideCounts decode(const JsonIn& in);
};

}  // namespace kelto
