#include "SyncEngine/TreeOverlap.h"

#include "SyncEngine/internal/OverlapMarkers.h"

#include <stdexcept>
#include <utility>

namespace kelto {

TreeOverlap::TreeOverlap(MountCheck throughMounts, Note note, Lookups lookups)
    : throughMounts_(std::move(throughMounts)), note_(std::move(note)), lookups_(std::move(lookups)) {
    if (!throughMounts_) throw std::invalid_argument("TreeOverlap needs a mount check");
}

void TreeOverlap::clearLeftMarkers(const std::filesystem::path& folder) { OverlapMarkers::clearLeftIn(folder); }

}  // namespace kelto
