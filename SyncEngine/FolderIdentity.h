#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace kelto {

// A folder as its file system keeps it, whichever path leads to it: the
// device and file number. A path that once led to it may lead elsewhere
// later (a link along it retargeted, a folder renamed into its place, a
// file system mounted over it), which only this tells. Where the file
// system hands numbers out afresh (exFAT, FAT, FUSE, SMB: a folder's number
// changes once the kernel forgot it), the number tells nothing, and the
// folder is known by what such a file system keeps: the device and the
// path it lies at, links resolved.
struct FolderIdentity {
    FolderIdentity() = default;
    FolderIdentity(std::uint64_t device, std::uint64_t fileNumber, std::string resolvedPath = {})
        : device(device), fileNumber(fileNumber), resolvedPath(std::move(resolvedPath)) {}

    std::uint64_t device = 0;
    std::uint64_t fileNumber = 0;  // 0 where numbers are handed out afresh
    std::string resolvedPath;      // only there

    // The folder the path leads to now, links followed; nothing when it
    // cannot be read.
    static std::optional<FolderIdentity> of(const std::filesystem::path& folder);
    // The same of an open folder.
    static std::optional<FolderIdentity> ofOpen(int descriptor);

    friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

}  // namespace kelto
