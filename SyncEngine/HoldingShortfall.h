#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelto {

// A folder's disk that lacks the room for what a run would hold there:
// rsync holds an item that lies on a file system mounted below the folder
// by copying it into the folder's own, whole, holes filled in.
struct HoldingShortfall {
    std::filesystem::path folder;               // the side whose disk lacks the room
    std::vector<std::filesystem::path> mounts;  // where the items lie
    std::int64_t needed = 0;                    // bytes, with a margin
    std::int64_t free = 0;                      // bytes

    // What lacks the room, and why; says nothing of what the run did.
    std::string description() const;

    friend bool operator==(const HoldingShortfall&, const HoldingShortfall&) = default;
};

}  // namespace kelto
