#pragma once

#include "SyncEngine/Side.h"
#include "SyncModel/Support/ItemVersion.h"

#include <string>

namespace kelto {

// What a plan saw at a path it replaces or deletes, on side `on`.
struct SeenVersion {
    std::string path;
    Side on = Side::b;
    ItemVersion version;
    friend bool operator==(const SeenVersion&, const SeenVersion&) = default;
};

}  // namespace kelto
