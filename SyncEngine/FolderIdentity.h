#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace kelto {

// A folder as its file system keeps it, whichever path leads to it: the
// device and file number. A path that once led to it may lead elsewhere
// later (a link along it retargeted, a folder renamed into its place, a
// file system mounted over it), which only this tells.
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t fileNumber = 0;

    // The folder the path leads to now, links followed; nothing when it
    // cannot be read.
    static std::optional<FolderIdentity> of(const std::filesystem::path& folder);

    friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

}  // namespace kelto
