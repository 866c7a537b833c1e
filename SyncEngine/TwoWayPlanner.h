#pragma once

#include "SyncEngine/Baseline.h"
#include "SyncEngine/Side.h"
#include "SyncEngine/SideListing.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/TwoWayPlan.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// The three-way comparison of side A, side B and the baseline. Pure: reads
// no files (what it learns of the file systems comes through `keptTime` and
// `sameContents`), never fails but for what those throw.
struct TwoWayPlanner {
    // What a side's file system keeps of a modification time it is given: the
    // time itself, or another one where it clamps times to a range it can
    // hold (ext4 before 1901 or after 2446, FAT before 1980); nullopt when
    // that cannot be learnt.
    using KeptTime = std::function<std::optional<std::int64_t>(Side side, std::int64_t seconds)>;

    // Whether the file or link at `pathOnA` and the one at `pathOnB` are
    // known to hold the same; false where that cannot be told.
    using SameContents = std::function<bool(std::string_view pathOnA, std::string_view pathOnB)>;

    // `modifyWindow`: seconds within which two times count as equal (negative
    // counts as 0). A time one side holds also stands for the time that
    // side's file system turned into it, so a copy whose time the receiving
    // side clamped is in step with its source. Names spelled twice on one
    // side (differing only in normalisation) and files whose time the
    // listing could not show go to `skipped`, with everything beneath. The
    // reserved folder and what it holds are never planned. Listings show
    // whole seconds: two files that they show alike are in step unread only
    // where one side is known to hold the baseline's version; else (both
    // changed, made on both, or a racy baseline entry) only where
    // `sameContents` says so (without it, or without a baseline, they are).
    // A side that lists as a racy entry (Baseline) recorded no later than
    // `racyDueUntil` is not trusted as unchanged: its deletion on the other
    // side is undone, and a change on the other side is a conflict that the
    // changed side wins. Where the baseline's marks are unknown, only the
    // contents of its entries that both sides list alike are asked about.
    // One pass over the three key-sorted tables.
    static TwoWayPlan plan(const SideListing& sideA, const SideListing& sideB, const std::optional<Baseline>& baseline,
                           std::int64_t modifyWindow, const KeptTime& keptTime = nullptr,
                           const SameContents& sameContents = nullptr,
                           std::int64_t racyDueUntil = std::numeric_limits<std::int64_t>::max());

    // Whether a time held on `side` stands for `intended`: equal within the
    // window, or what that side's file system made of it.
    static bool sameTime(Side side, std::int64_t held, std::int64_t intended, std::int64_t modifyWindow,
                         const KeptTime& keptTime);

    // The user-facing view of a two-way plan, for the safety guard and the
    // preview: the copies of files (folders are made by the transfer) with
    // the receiving side's replaced files as archives, the deletions, the
    // skipped files and conflicts, each side's file count, and each archive as
    // its side's listing shows it.
    static SyncPlan makeSyncPlan(const TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB);

    // Order of the folder-removal lists: more "/" first, then ascending text,
    // so a folder always comes before its parent.
    static bool deeperFirst(std::string_view x, std::string_view y);
};

}  // namespace kelto
