#pragma once

#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/VolumeIdentity.h"

#include <cstdint>
#include <optional>
#include <string>

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

    friend bool operator==(const FileSystemTraits&, const FileSystemTraits&) = default;
};

}  // namespace kelto
