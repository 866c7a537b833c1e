#pragma once

#include "SyncEngine/HoldingShortfall.h"
#include "SyncEngine/internal/HoldingFolder.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// The looks before a transfer at what lies on file systems mounted below R:
// rsync holds such an item by copying it across into R's holding folder,
// which drops what the crossing cannot carry and takes room on R's disk.
// What cannot be read there, rsync cannot take either.
struct HeldCrossings {
    // HoldingFolder::lookBelow: walks the file systems mounted at `mounts`.
    static void lookBelow(const std::filesystem::path& root, const std::vector<std::filesystem::path>& mounts,
                          HoldingFolder::Planned& planned);
    // HoldingFolder::lookAtReplaced: only those of `paths` that `planned` replaces.
    static void lookAtReplaced(const std::filesystem::path& root, const std::vector<std::string>& paths,
                               HoldingFolder::Planned& planned);
    // HoldingFolder::shortfall: whether R's disk has the room for the copies across.
    static std::optional<HoldingShortfall> shortfall(const std::filesystem::path& root,
                                                     const std::filesystem::path& shown,
                                                     const HoldingFolder::Planned& planned);
};

}  // namespace kelto
