#pragma once

#include "SyncModel/JobStoreError.h"
#include "SyncModel/SyncJob.h"

#include <filesystem>
#include <vector>

namespace kelto {

// The user's job list, kept whole in one versioned JSON file:
// {"version":1,"jobs":[...]}. No cache and no lock: every load reads the file
// and every save replaces it atomically, so a load running beside a save sees
// either the whole old or the whole new list.
class JobStore {
public:
    static constexpr std::int64_t currentVersion = 1;

    explicit JobStore(std::filesystem::path fileURL) : fileURL(std::move(fileURL)) {}

    const std::filesystem::path fileURL;

    // The folder holding the jobs file (the support folder).
    std::filesystem::path directory() const;

    // The jobs in file order; an empty list when there is no file. Throws
    // FileError for any other read failure, DecodingError for an empty or
    // damaged file, JobStoreError for a version this program cannot read.
    // Never writes.
    std::vector<SyncJob> load() const;

    // Replaces the file with the given list, creating its folder if needed.
    // Throws EncodingError or FileError; on failure the old file is intact.
    void save(const std::vector<SyncJob>& jobs) const;
};

}  // namespace kelto
