#pragma once

#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/VolumeIdentity.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// What a volume's file system can keep and how its times and names behave.
struct FileSystemTraits {
    std::string fileSystem;  // lower-cased type name
    bool caseSensitive = true;
    bool preservesPermissions = false;
    bool preservesXattrs = false;
    bool preservesCrtimes = false;  // never true on Linux: its rsync has no creation-time option
    std::int64_t modifyWindow = 1;  // seconds of tolerance when comparing modification times
    std::optional<std::int64_t> maxFileSize;
    bool isNetwork = false;
    FileSystemCapabilities::Names names = FileSystemCapabilities::Names::any;  // the names it holds

    static FileSystemTraits forVolume(const VolumeIdentity& volume);

    // The traits a transfer into a folder of `destination`'s traits runs
    // with, among `disks`, every file system either walk meets: extended
    // attributes are kept only where each of them keeps them. rsync leaves
    // out every file whose attributes it cannot read (rclone answers each
    // listing of them with an I/O error) and fails each it cannot set them
    // on, so one disk without them would cost files, not attributes.
    static FileSystemTraits forTransfer(FileSystemTraits destination,
                                        const std::vector<FileSystemCapabilities>& disks);
    // The same with the disks on hand at both folders now.
    static FileSystemTraits forTransfer(const FileSystemTraits& destination, const std::filesystem::path& sourceFolder,
                                        const std::filesystem::path& destinationFolder);

    friend bool operator==(const FileSystemTraits&, const FileSystemTraits&) = default;
};

}  // namespace kelto
