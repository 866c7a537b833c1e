#pragma once

#include "SyncEngine/SideEntry.h"

#include <filesystem>

namespace kelto {

// Whether an item about to be deleted is still what its side's listing saw.
struct UnchangedCheck {
    // Whether the item under `root` still has the entry's kind, whole-second
    // modification time and (except a folder) size. It is looked at without
    // following a link on the way; any failure reads as a change.
    static bool isUnchanged(const SideEntry& entry, const std::filesystem::path& root);
};

}  // namespace kelto
