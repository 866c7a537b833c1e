#pragma once

#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/SafeFileSystem.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace kelto {

// lstat of relative paths below one side's root, never following a link on
// the way there (a link as the last component is looked at itself). The
// last folder stays open, since callers' paths come grouped by folder.
class SideStat {
public:
    explicit SideStat(const std::filesystem::path& root);

    // 0; ENOENT when nothing is there, also when a non-folder is on the way
    // (a link counts as one); or another errno value.
    int stat(std::string_view relativePath, struct stat& info);

    // The kind an lstat mode stands for.
    static EntryKind kindOf(mode_t mode);

private:
    SafeFileSystem::Descriptor root_, folder_;
    int rootError_;
    std::string parentPath_;
    bool known_ = false;
    int parentError_ = 0;
};

}  // namespace kelto
