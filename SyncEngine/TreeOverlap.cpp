#include "SyncEngine/TreeOverlap.h"

#include <stdexcept>
#include <utility>

namespace kelto {

TreeOverlap::TreeOverlap(MountCheck throughMounts, Note note)
    : throughMounts_(std::move(throughMounts)), note_(std::move(note)) {
    if (!throughMounts_) throw std::invalid_argument("TreeOverlap needs a mount check");
}

}  // namespace kelto
