#pragma once

#include "SyncModel/JobStoreError.h"
#include "SyncModel/SyncJob.h"

#include <filesystem>
#include <functional>
#include <vector>

namespace kelto {

// The user's job list, kept whole in one versioned JSON file:
// {"version":1,"jobs":[...]}. No cache: every load reads the file and every
// save replaces it atomically, so a load running beside a save sees either
// the whole old or the whole new list. Every write happens under one lock, a
// file beside the jobs file that each writer takes, in any process: a change
// reads, edits and writes the list while holding it, so two changes never
// start from the same list. Loads take no lock.
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

    // Under the lock (waiting for it): loads the list, hands it to `change`
    // and saves what it leaves, creating the folder if needed. Nothing is
    // written when `change` throws; the exception is passed on, as are those
    // of load and of the write (EncodingError, FileError; on failure the old
    // file is intact). The only write: a list read outside the lock would
    // undo a change made meanwhile.
    void modify(const std::function<void(std::vector<SyncJob>&)>& change) const;

    // The lock file: "jobs.json.lock" beside "jobs.json".
    std::filesystem::path lockFile() const;

private:
    void write(const std::vector<SyncJob>& jobs) const;
};

}  // namespace kelto
