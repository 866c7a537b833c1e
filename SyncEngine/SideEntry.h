#pragma once

#include "SyncEngine/RsyncEvent.h"

#include <cstdint>
#include <string>

namespace kelto {

// One entry of a side's listing, with the path exactly as that side spells it.
struct SideEntry {
    std::string actualPath;
    EntryKind kind = EntryKind::file;
    std::int64_t size = 0;   // never compared for a directory
    std::int64_t mtime = 0;  // whole seconds since 1970-01-01 00:00:00 UTC
    bool timeKnown = true;   // false when the listing could not show the time whole (mtime 0)

    friend bool operator==(const SideEntry&, const SideEntry&) = default;
};

}  // namespace kelto
