#pragma once

#include "SyncEngine/SideEntry.h"

#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace kelto {

// Whether an item about to be deleted is still what its side's listing saw.
struct UnchangedCheck {
    // Whether the item under `root` still has the entry's kind, whole-second
    // modification time and (except a folder) size. It is looked at without
    // following a link on the way; any failure reads as a change.
    static bool isUnchanged(const SideEntry& entry, const std::filesystem::path& root);
    // The same, giving what was looked at when the item is unchanged, for
    // a caller with more to compare without a second look.
    static std::optional<struct stat> unchanged(const SideEntry& entry, const std::filesystem::path& root);
};

}  // namespace kelto
