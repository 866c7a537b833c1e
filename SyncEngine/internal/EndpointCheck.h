#pragma once

#include "SyncEngine/FolderIdentity.h"
#include "SyncEngine/Side.h"
#include "SyncEngine/TreeOverlap.h"

#include <filesystem>
#include <optional>

namespace kelto {

// What both engines check of a job's two folders before anything is listed:
// each must be an existing folder, neither may be the other or lie inside
// it, and what stands at each one's reserved name must be a real folder, if
// anything (a file or a link there would take the archive's place). Each
// engine adds its own mode and read-only rules and error type.
struct EndpointCheck {
    struct Fault {
        enum class Case { missing, nested, reservedNotFolder, replaced };
        Case kind = Case::missing;
        // missing, replaced: that side's folder as given, not resolved;
        // reservedNotFolder: the item at that side's reserved name
        std::filesystem::path folder;
        Side side = Side::a;  // replaced: whose folder it is

        friend bool operator==(const Fault&, const Fault&) = default;
    };

    // The first fault: `a`, then `b`, missing or not a folder; then nesting,
    // by the paths with their links resolved or, for a folder reached at two
    // paths (a bind mount), by device and inode along each path's folders,
    // then by `treesOverlap` for trees that reach each other through
    // mounts; then `a`'s, then `b`'s reserved name held by anything but a
    // folder.
    static std::optional<Fault> firstFault(const std::filesystem::path& a, const std::filesystem::path& b,
                                           const TreeOverlap& treesOverlap);

    // Whether `a`, then `b`, still leads to the folder a plan was made on
    // (`plannedA`, `plannedB`): a replaced fault for the first that leads to
    // another folder now, cannot be read, or had none recorded. Paths are
    // followed as rsync will follow them, so what planning looked at is what
    // gets written.
    static std::optional<Fault> replaced(const std::filesystem::path& a, const std::filesystem::path& b,
                                         const std::optional<FolderIdentity>& plannedA,
                                         const std::optional<FolderIdentity>& plannedB);
};

}  // namespace kelto
