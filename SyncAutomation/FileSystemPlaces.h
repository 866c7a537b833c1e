#pragma once

#include "SyncAutomation/MountedVolume.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// Where folders lie in the file systems that keep them, told from the list
// of visible mounts alone: nothing here reaches the system (resolving links
// is the caller's), so the endpoint resolver, the volume inspector and the
// nesting check of runs place folders by the same rules.
//
// A mount shows one folder of its file system (fileSystemRoot) at its mount
// point. The mount serving a path is the one whose mount point is the
// longest component prefix of it: the list holds no mount hidden by a later
// one. A place is a file system and a folder's components from its root.
struct FileSystemPlaces {
    struct Place {
        const MountedVolume* mount = nullptr;  // whose file system keeps the folder
        std::vector<std::string> path;  // from that file system's root, "/" first
        // Reached as (or through) the image file of the file system of this
        // device; 0 otherwise.
        std::uint64_t image = 0;
    };

    // The mount serving `path`, the first listed of equally long ones;
    // nullptr when no mount point is a prefix of it.
    static const MountedVolume* holder(const std::vector<MountedVolume>& mounts, const std::filesystem::path& path);

    // Where `path` lies in the file system of the mount serving it; nothing
    // when none does or the folder that mount shows is unknown.
    static std::optional<Place> place(const std::vector<MountedVolume>& mounts, const std::filesystem::path& path);

    // The path at which `mount` shows the folder at `place` of its file
    // system; nothing when the folder it shows does not hold that place.
    static std::optional<std::filesystem::path> pathThrough(const MountedVolume& mount,
                                                            const std::vector<std::string>& place);

    // Where a folder or image a stacked mount names (as it was given when
    // mounting, links and all) lies now, links resolved; nothing when that
    // cannot be told. Without one, absolute names are taken as they stand.
    // A name is placed where its links lead now.
    using Resolve = std::function<std::optional<std::filesystem::path>(const std::filesystem::path&)>;

    // Every place a folder's tree reaches, as rsync walks it across mount
    // points: the folder's own place, the folder shown by each mount below
    // it, and, wherever one of those is a stacked mount (a FUSE
    // pass-through, an overlay), what the folders it is stacked on reach in
    // turn; for a file system kept in an image file, the image file.
    static std::vector<Place> reach(const std::vector<MountedVolume>& mounts, const std::filesystem::path& folder,
                                    const Resolve& resolve = nullptr);

    // Whether two folders' trees overlap as the file system keeps them: a
    // place one reaches is, contains or lies inside a place the other
    // reaches. Places compare only within one file system (one device
    // number), without regard to case where that file system folds it; on
    // network shares, within one server, by the server's paths (nested
    // exports). Two folders of one file system overlap only by their places
    // in it, not because both lie in its image file; on a share of another
    // machine, apart from every local place. Links in `a` and `b` must be
    // resolved; those in stacked mounts' folders are resolved by `resolve`.
    static bool overlap(const std::vector<MountedVolume>& mounts, const std::filesystem::path& a,
                        const std::filesystem::path& b, const Resolve& resolve = nullptr);

    // What overlap() answers, and where it cannot tell: no overlap shown,
    // yet a tree reaches a mount whose folders cannot be placed (a layer or
    // FUSE source named relative to where it was mounted from or naming no
    // folder, a share of a server not shown to be another machine), or a
    // folder no mount serves or whose mount shows an unknown folder.
    // overlap() counts that as overlapping. A side lying on such a mount
    // that the markers can place (MountedVolume::placedByMarkers) is apart
    // by the table alone: the trees' own evidence places it, looked up at
    // each folder of lookups().
    struct Verdict {
        enum class Case { apart, overlapping, unplaced };
        Case kind = Case::apart;
        std::filesystem::path where;  // unplaced: that mount's mount point, or the folder
        friend bool operator==(const Verdict&, const Verdict&) = default;
    };
    static Verdict compare(const std::vector<MountedVolume>& mounts, const std::filesystem::path& a,
                           const std::filesystem::path& b, const Resolve& resolve = nullptr);

    // The folders of a folder's tree that only the trees' own evidence can
    // place: the folder itself where it lies on a mount the table cannot
    // place but the markers can. The other side's marker is looked up
    // at each folder below them.
    static std::vector<std::filesystem::path> lookups(const std::vector<MountedVolume>& mounts,
                                                      const std::filesystem::path& folder,
                                                      const Resolve& resolve = nullptr);

    // Whether the mount's file system takes two spellings of a name that
    // differ only in case for one name.
    static bool foldsCase(const MountedVolume& mount);
};

}  // namespace kelto
