#pragma once

#include "SyncModel/RunRecord.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <vector>

namespace kelto {

// Per-job run histories: one JSON array of records per job, named
// "<JOB-UUID>.json" in `directory`, newest first. When a record falls out of
// a history, its run log goes with it unless a kept record names the same
// file.
//
// Errors are those of the file system (FileError) and of JSON coding
// (DecodingError, EncodingError), passed through unchanged.
class RunHistoryStore {
public:
    // `logDirectory` is the folder the run logs live in: only files inside it
    // are ever removed, whatever a history file names.
    RunHistoryStore(std::filesystem::path directory, std::filesystem::path logDirectory)
        : directory(std::move(directory)), logDirectory(std::move(logDirectory)) {}

    RunHistoryStore(const RunHistoryStore&) = delete;
    RunHistoryStore& operator=(const RunHistoryStore&) = delete;

    const std::filesystem::path directory;
    const std::filesystem::path logDirectory;

    // The history file of a job.
    std::filesystem::path fileURL(const Uuid& jobID) const;

    // Stores the record in its job's history, keeping the newest
    // `keepingLast` records (none when it is 0 or below), and removes the run
    // logs of the dropped ones. A history file that does not decode is never
    // overwritten: the append throws and stores nothing. A log that cannot be
    // removed throws after the new history has been written.
    void append(const RunRecord& record, std::int64_t keepingLast);

    // The job's records, newest first; empty when it has no history file.
    std::vector<RunRecord> records(const Uuid& jobID) const;

private:
    std::vector<RunRecord> readLocked(const std::filesystem::path& file) const;
    void removeLog(const std::string& logPath, const std::filesystem::path& logRoot) const;

    // Guards each read and each read-modify-write (log removal included) from
    // start to end; appends and reads of any jobs never interleave.
    mutable std::mutex lock_;
};

}  // namespace kelto
