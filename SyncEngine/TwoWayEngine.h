#pragma once

#include "SyncEngine/PathKeySet.h"
#include "SyncEngine/SideListing.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/TwoWayPlan.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace kelto {

// The two-way engine's pure helpers and its file checks before acting.
struct TwoWayEngine {
    // The user-facing view of a two-way plan, for the safety guard and the preview.
    static SyncPlan makeSyncPlan(const TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB);

    // Renames the item found as `actual` under `root`, component by component,
    // until its bytes spell `desired`. Never replaces another item: an existing
    // different item at the new spelling, or nothing under either spelling,
    // fails with EEXIST. Throws TwoWayEngineError (unsafePath) or FileError;
    // components renamed before a failure stay renamed.
    static void alignSpelling(std::string_view desired, std::string_view actual, const std::filesystem::path& root);

    // Whether the item under `root` still has the entry's kind, whole-second
    // modification time and (except a folder) size. Any failure reads as a change.
    static bool isUnchanged(const SideEntry& entry, const std::filesystem::path& root);
    static bool isUnchanged(const SideListing::Ref& entry, const std::filesystem::path& root);

    // Entries that are not folders.
    static std::int64_t fileCount(const SideListing& listing);

    // Whether the path or one of its ancestor folders is in the set.
    static bool isPathOrAncestor(std::string_view path, const PathKeySet& set);
};

}  // namespace kelto
