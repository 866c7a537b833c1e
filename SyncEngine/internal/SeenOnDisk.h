#pragma once

#include "SyncEngine/ItemVersion.h"
#include "SyncEngine/internal/SideStat.h"

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>

namespace kelto {

// The versions of one side's items as an lstat shows them, read just after
// the look that planned their deletion or replacement: kind, size, time to
// the fraction of a second and, where the file system keeps one for good,
// the file number. A run drops such an item only in this version.
class SeenOnDisk {
public:
    explicit SeenOnDisk(const std::filesystem::path& root);

    // The item at `relativePath`; none where nothing is there or it cannot
    // be read (a run keeps what it saw no version of).
    std::optional<ItemVersion> now(const std::string& relativePath);

    // The item as a listing showed it: the version on disk while it still
    // has the listed kind, whole-second time and size, else the listed one
    // (saved anew since the listing: the plan judged only that one).
    ItemVersion listed(const std::string& relativePath, const ItemVersion& listing);

private:
    std::filesystem::path root_;
    SideStat disk_;
    std::unordered_map<dev_t, bool> keepsNumbers_;  // by device: a mount below the root may differ
};

}  // namespace kelto
