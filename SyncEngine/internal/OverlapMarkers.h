#pragma once

#include "SyncEngine/TreeOverlap.h"
#include "SyncModel/FilterSet.h"
#include "SyncModel/Support/FileDescriptor.h"

#include <atomic>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// The trees' own evidence that two folders reach each other, where the
// mount table cannot tell (a FUSE union or pass-through, a share of a local
// folder, an image kept in the other side): while one listing or dry run
// walks both folders, each holds a file of this value's own at its top, in
// its reserved folder, and any walk that meets either file outside the
// reserved folder at its own top (which rsync never walks) has reached one
// side from the other. The names hold a fresh random token, so no other
// run's marker and no user's file is ever taken for one.
//
// A job's filters that may keep the walks from a marker (one whose last
// part matches the reserved folder's name or a marker's) are named through
// TreeOverlap::note too: then the mounts alone speak for the job.
//
// Nothing a walk sees stays: the markers go when the value does, whatever
// ended the walk, and each folder's modification time is set back as it was
// found (also while the walk runs, where the reserved folder had to be
// made; that folder stays, excluded from every walk as it always is), so
// that neither the walk nor a later run sees a change. A marker a killed
// process left is cleared by the next value placed at that folder; a live
// one is told apart by the lock its owner holds on it. A side no marker can
// be placed on (read-only, say) is named through TreeOverlap::note, and only
// the mount table speaks for it.
class OverlapMarkers {
public:
    // What every marker's name begins with, inside the reserved folder.
    static constexpr std::string_view prefix = "Marker-";

    OverlapMarkers(const std::filesystem::path& a, const std::filesystem::path& b, const FilterSet& filters,
                   const TreeOverlap& overlap);
    ~OverlapMarkers();
    OverlapMarkers(const OverlapMarkers&) = delete;
    OverlapMarkers& operator=(const OverlapMarkers&) = delete;

    // Whether a path a walk printed (relative to the folder it walked, a
    // folder's with a final slash) is one of the markers; such a path is
    // remembered. Safe from any thread.
    bool catches(std::string_view path) const;
    // Whether any walk met a marker so far.
    bool seen() const { return seen_.load(); }

private:
    struct Side {
        std::filesystem::path root;
        std::string name;
        FileDescriptor top, reserved, marker;  // marker: open and locked while placed
        std::optional<timespec> topTime, reservedTime;  // as found
    };

    static void place(Side& side);
    // Whether an exclude pattern may match a marker or the folder holding it
    // below a walk's top.
    static bool mayHide(std::string_view pattern);
    static void take(Side& side) noexcept;

    Side a_, b_;
    mutable std::atomic<bool> seen_{false};
};

}  // namespace kelto
