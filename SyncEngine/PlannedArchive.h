#pragma once

#include "SyncEngine/Side.h"

#include <string>

namespace kelto {

// A file a run will archive on side `on`, or delete when the job's archive is off.
struct PlannedArchive {
    std::string path;  // relative to the synchronised folders
    Side on = Side::b;
    friend bool operator==(const PlannedArchive&, const PlannedArchive&) = default;
};

}  // namespace kelto
