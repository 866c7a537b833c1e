#pragma once

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
        enum class Case { missing, nested, reservedNotFolder };
        Case kind = Case::missing;
        // missing: that side's folder as given, not resolved; reservedNotFolder:
        // the item at that side's reserved name
        std::filesystem::path folder;

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
};

}  // namespace kelto
