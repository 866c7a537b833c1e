#pragma once

#include "SyncEngine/internal/PathKeySet.h"

#include <string>
#include <string_view>

namespace kelto {

// The key of a relative path: its Normalization Form C. Listings, baselines
// and path sets are keyed by it; rsync and the file system are always given
// the path's own spelling.
struct PathKey {
    static std::string of(std::string_view path);

    // The key without a copy where none is needed: the path itself when it is
    // ASCII (already in NFC), otherwise its NFC held in `storage`.
    static std::string_view of(std::string_view path, std::string& storage);

    // Whether the key, or the key of one of its ancestor folders, is in the
    // set. Whole components only: "a/bc" is no ancestor of "a/b".
    static bool isPathOrAncestor(std::string_view key, const PathKeySet& set);
};

}  // namespace kelto
