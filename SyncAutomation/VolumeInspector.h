#pragma once

#include "SyncAutomation/MountedVolume.h"
#include "SyncAutomation/VolumeInspectorError.h"
#include "SyncAutomation/VolumeSource.h"
#include "SyncModel/Endpoint.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Reads the live mount table; every call reads it afresh. The source is the
// system's unless a test hands in another.
struct VolumeInspector {
    static const VolumeSource& system();

    // The browsable mounts, in table order.
    static std::vector<MountedVolume> mountedVolumes(const VolumeSource& source = system());

    // Every mount, pseudo file systems too, in table order: where a folder
    // lies and what its tree reaches are told from all of them. Empty when
    // the table cannot be read.
    static std::vector<MountedVolume> mounts(const VolumeSource& source = system());

    // The identity of the mount whose mount point is the longest component
    // prefix of `path` (pseudo file systems count). Throws FileError(ENOENT)
    // when none is.
    static VolumeIdentity identity(const std::filesystem::path& path, const VolumeSource& source = system());

    // The endpoint stored for a chosen folder; its relative path leads from
    // the root of the file system, whichever folder of it the mount shows
    // (FileSystemPlaces::place).
    // Throws FileError when the folder cannot be read, VolumeInspectorError
    // when it is no folder, or lies on a mount whose folder is unknown.
    static Endpoint endpoint(const std::filesystem::path& folder, const VolumeSource& source = system());

    // Whether a folder on this type of file system keeps its number for its
    // life (FAT, FUSE and shares number theirs afresh at each mount), as
    // FileSystemCapabilities tells.
    static bool keepsFileNumbers(std::string_view fileSystem);

    // The inode number, except on file systems that make their numbers up
    // afresh at each mount.
    static std::optional<std::uint64_t> fileNumber(const std::filesystem::path& path, std::string_view fileSystem);
};

}  // namespace kelto
