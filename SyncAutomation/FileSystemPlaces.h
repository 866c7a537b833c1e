#pragma once

#include "SyncAutomation/MountedVolume.h"

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

    // Where a folder a stacked mount names (as it was given when mounting,
    // links and all) lies now; the folder as named when empty.
    using Resolve = std::function<std::filesystem::path(const std::filesystem::path&)>;

    // Every place a folder's tree reaches, as rsync walks it across mount
    // points: the folder's own place, the folder shown by each mount below
    // it, and, wherever one of those is a stacked mount (a FUSE
    // pass-through, an overlay), what the folders it is stacked on reach in
    // turn.
    static std::vector<Place> reach(const std::vector<MountedVolume>& mounts, const std::filesystem::path& folder,
                                    const Resolve& resolve = nullptr);

    // Whether two folders' trees overlap as the file system keeps them: a
    // place one reaches is, contains or lies inside a place the other
    // reaches. Places compare only within one file system (one device
    // number; a network share only with itself), without regard to case
    // where that file system folds it. Links in `a` and `b` must be resolved;
    // those in stacked mounts' folders are resolved by `resolve`.
    static bool overlap(const std::vector<MountedVolume>& mounts, const std::filesystem::path& a,
                        const std::filesystem::path& b, const Resolve& resolve = nullptr);

    // Whether the mount's file system takes two spellings of a name that
    // differ only in case for one name.
    static bool foldsCase(const MountedVolume& mount);
};

}  // namespace kelto
