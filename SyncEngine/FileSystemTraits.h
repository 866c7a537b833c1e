#pragma once

#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/VolumeIdentity.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
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

    // What an item landing in a folder must fit: the rules of the disk that
    // folder lies on.
    struct Landing {
        FileSystemCapabilities::Names names = FileSystemCapabilities::Names::any;
        std::optional<std::int64_t> maxFileSize;
        bool caseSensitive = true;
        friend bool operator==(const Landing&, const Landing&) = default;
    };
    // A disk a walk of the folder meets below it, by the components of its
    // place relative to the folder; none where everything lands on the
    // volume's own disk. An empty place stands for the whole tree.
    struct DiskBelow {
        std::vector<std::string> at;
        Landing landing;
        friend bool operator==(const DiskBelow&, const DiskBelow&) = default;
    };
    std::vector<DiskBelow> disksBelow;

    static FileSystemTraits forVolume(const VolumeIdentity& volume);

    // These traits with the disks mounted below their folder, so that every
    // name is judged by the disk it lands on. Where the mounts below cannot
    // be read, every name is judged by the strictest rules known.
    FileSystemTraits withDisksBelow(const std::optional<std::vector<FileSystemCapabilities::Mounted>>& below) const;
    // The same with the mounts below the folder now.
    FileSystemTraits withDisksBelow(const std::filesystem::path& folder) const;

    // The rules of the disk that the relative folder ("" for the top) lies
    // on: the deepest disk below whose place holds it, or the volume's own.
    Landing landingIn(std::string_view folder) const;
    // Every disk takes every name and size and tells every spelling apart.
    bool takesEverything() const;
    // Some disk, the volume's own or one below, takes two spellings for one name.
    bool foldsCaseSomewhere() const;

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
