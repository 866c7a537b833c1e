#pragma once

#include <string>

namespace kelto {

// An item of B that a one-way run renames so that its name is spelled as A
// spells it: on a volume that takes both spellings for one name, rsync,
// comparing bytes, would otherwise delete the item it has just updated.
struct PlannedRename {
    std::string from;  // B's spelling, below folders spelled as A spells them
    std::string to;    // A's spelling
    friend bool operator==(const PlannedRename&, const PlannedRename&) = default;
};

}  // namespace kelto
