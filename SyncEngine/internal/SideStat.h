#pragma once

#include "SyncEngine/RsyncEvent.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/stat.h>

namespace kelto {

// lstat of relative paths below one side's root through the file layer,
// never following a link on the way there (a link as the last component is
// looked at itself). The root is opened once; the last folder stays open.
class SideStat {
public:
    // Never throws: a root that cannot be opened fails each stat() instead.
    explicit SideStat(const std::filesystem::path& root);

    // nullopt when nothing is there, also when a non-folder stands on the way
    // or the root itself is gone. Any other failure throws FileError.
    std::optional<struct stat> stat(std::string_view relativePath);

private:
    std::optional<SafeFileSystem::PathLookup> lookup_;
    std::optional<FileError> rootError_;
};

}  // namespace kelto
