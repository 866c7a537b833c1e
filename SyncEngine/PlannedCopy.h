#pragma once

#include "SyncEngine/Side.h"

#include <cstdint>
#include <string>

namespace kelto {

// A file a run will write, on side `to`.
struct PlannedCopy {
    std::string path;  // relative to the synchronised folders
    std::int64_t size = 0;
    Side to = Side::b;
    friend bool operator==(const PlannedCopy&, const PlannedCopy&) = default;
};

}  // namespace kelto
