#pragma once

#include <filesystem>
#include <optional>

namespace kelto {

// What both engines check of a job's two folders before anything is listed:
// each must be an existing folder, and neither may be the other or lie inside
// it. Each engine adds its own mode and read-only rules and error type.
struct EndpointCheck {
    struct Fault {
        enum class Case { missing, nested };
        Case kind = Case::missing;
        std::filesystem::path folder;  // missing: that side's folder as given, not resolved

        friend bool operator==(const Fault&, const Fault&) = default;
    };

    // The first fault: `a`, then `b`, missing or not a folder; then nesting,
    // by the paths with their links resolved or, for a folder reached at two
    // paths (a bind mount), by device and inode along each path's folders.
    static std::optional<Fault> firstFault(const std::filesystem::path& a, const std::filesystem::path& b);
};

}  // namespace kelto
