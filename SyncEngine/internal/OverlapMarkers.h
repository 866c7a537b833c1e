#pragma once

#include "SyncEngine/TreeOverlap.h"
#include "SyncEngine/internal/TreeNameLookup.h"
#include "SyncModel/FilterSet.h"
#include "SyncModel/Support/FileDescriptor.h"

#include <atomic>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// The trees' own evidence that two folders reach each other, where the
// mount table cannot tell (a FUSE union or pass-through, an overlay over a
// side, a share of a local folder): while one listing or dry run walks both
// folders, each holds a file of this value's own at its top, in its
// reserved folder where it has one, and a walk that meets either file
// anywhere but its own side's marker at its own top has reached one side
// from the other. The names hold a fresh random token, so no other run's
// marker and no user's file is ever taken for one, and no name comes back
// (a stacked file system may keep showing a name taken away behind it).
//
// No job filter keeps a walk from a marker: each walk lists the markers'
// names whatever the filters say (names()), and where a filter may hide the
// reserved folder below a walk's top (one whose last part matches its
// name), the markers stand at the tops. What a filter keeps the walks from
// altogether, no transfer reaches either.
//
// Nothing stays: the markers go when the value does, whatever ended the
// walk, and each folder's modification time is set back as it was found
// (the top's also while the walk runs, where the marker stands there), so
// that neither the walk nor a later run sees a change. A marker a killed
// process left is cleared by the next value placed on that side, at its top
// or in its reserved folder; a live one is told apart by the lock its owner
// holds on it. A side no marker can
// be placed on (read-only, say) is named through TreeOverlap::note, and only
// the mount table speaks for it; where the table leaves a side's folders to
// the markers (TreeOverlap::Lookup::throughout), that refuses. A file
// system that serves a folder's listing from a cache filled before the
// marker came (sshfs, fuse-overlayfs) hides it from walks: the mount table,
// or a lookup of the marker's fresh name, must speak for those.
class OverlapMarkers {
public:
    // What every marker's name begins with.
    static constexpr std::string_view prefix = ".KeltoSync-Marker-";
    // Whether a name is of a marker's form, any run's: the prefix, a UUID
    // and the side's letter. Only these are ever taken for markers, so that
    // a user's file merely beginning like one is never cleared nor left out.
    static bool isMarkerName(std::string_view name);
    // The same form as an rsync pattern, for transfers to leave markers out.
    static std::string pattern();
    // Clears what killed walks left in a side's folder: their markers at its
    // top and in its reserved folder (never a live one), each folder's
    // modification time kept. A folder that is not there holds none.
    // Throws FileError.
    static void clearLeftIn(const std::filesystem::path& root);
    // Which side's folder a walk lists (a one-way dry run: the destination's
    // for its deletion lines, else the source's).
    enum class Walk { a, b };

    // The lookups at each folder of a side only the markers place go on, on
    // threads of their own, while the walks list; a stop request ends them.
    OverlapMarkers(const std::filesystem::path& a, const std::filesystem::path& b, const FilterSet& filters,
                   const TreeOverlap& overlap, std::stop_token stop = {});
    ~OverlapMarkers();
    OverlapMarkers(const OverlapMarkers&) = delete;
    OverlapMarkers& operator=(const OverlapMarkers&) = delete;

    // Whether a path a walk printed (relative to the folder it walked, a
    // folder's with a final slash) is named as a marker is, which must be
    // left out of what the walk found; one of these markers that shows the
    // sides reaching each other is remembered. Safe from any thread.
    bool catches(std::string_view path, Walk walk) const;
    // The markers' names, for each walk to list whatever the job's filters
    // say.
    std::vector<std::string> names() const;
    // Whether any walk met a marker so far, or a lookup found one: waits for
    // the lookups at each folder. Throws FileError where one could not go
    // on, CancellationError where the stop came first.
    bool seen() const;
    // Without waiting for the lookups at each folder: what the walks and
    // the lookups at mounts found so far.
    bool seenSoFar() const { return seen_.load(); }

private:
    struct Side {
        std::filesystem::path root;
        std::string name;
        FileDescriptor top, reserved, marker;  // marker: open and locked while placed
        std::optional<timespec> topTime, reservedTime;  // as found
        int failure = 0;  // why no marker could be placed, when none was
    };

    static void place(Side& side, bool atTopAlways);
    // Whether an exclude pattern may match the reserved folder below a
    // walk's top.
    static bool mayHide(const std::string& pattern);
    static void take(Side& side) noexcept;

    Side a_, b_;
    mutable std::atomic<bool> seen_{false};
    std::unique_ptr<TreeNameLookup> throughout_;  // ended before the markers go
};

}  // namespace kelto
