#pragma once

#include "SyncEngine/internal/PrivateListFolder.h"
#include "SyncModel/RunStats.h"

#include <filesystem>
#include <vector>

namespace kelto {

// The exclude file of one rsync run, in the job's private folder, removed
// when the call that made it ends.
class ExcludeFile {
public:
    explicit ExcludeFile(const std::filesystem::path& folder) : folder_(folder) {}
    ~ExcludeFile();
    ExcludeFile(const ExcludeFile&) = delete;
    ExcludeFile& operator=(const ExcludeFile&) = delete;

    void write(const std::vector<SkippedFile>& skipped);
    const std::filesystem::path& path() const { return path_; }

private:
    PrivateListFolder folder_;
    std::filesystem::path path_;
};

}  // namespace kelto
