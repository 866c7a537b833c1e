#pragma once

#include "SyncModel/Support/Json.h"

#include <string>

namespace kelto {

// A path changed on both sides since the baseline, or a folder on one side
// facing a non-folder on the other.
struct TwoWayConflict {
    enum class Resolution {
        aWins,            // side A's version is copied to B
        bWins,            // side B's version is copied to A
        skippedTypeClash  // nothing is done
    };

    std::string path;  // the winning side's spelling; side A's for a type clash
    Resolution resolution = Resolution::aWins;

    friend bool operator==(const TwoWayConflict&, const TwoWayConflict&) = default;
};

template <>
struct EnumNames<TwoWayConflict::Resolution> {
    static constexpr std::array<std::string_view, 3> names{"aWins", "bWins", "skippedTypeClash"};
};

}  // namespace kelto
