#pragma once

#include "SyncEngine/TreeOverlap.h"

namespace kelto::test {

// An overlap service whose mounts never show two trees reaching each other:
// for tests on plain folders. The trees' own markers still speak.
inline TreeOverlap noMountOverlap(TreeOverlap::Note note = nullptr) {
    return TreeOverlap([](const std::filesystem::path&, const std::filesystem::path&) { return false; },
                       std::move(note));
}

}  // namespace kelto::test
