#pragma once

#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/Uuid.h"

#include <filesystem>
#include <optional>

namespace kelto {

// An exclusive hold on one job, across processes: two launches of the
// application, or a tool beside it, must never run a job at once. The kernel
// lets go of it when the holder ends, however it ends, and no child process
// inherits it.
class JobLock {
public:
    // The hold on the lock file (created with its folder when missing), or
    // nullopt when someone else holds it, in this process or another. Never
    // waits. Throws FileError.
    static std::optional<JobLock> tryTake(const std::filesystem::path& file);

    // The job's lock file: "state/" + UUID + ".lock" beside its baseline in
    // the support folder.
    static std::filesystem::path fileFor(const std::filesystem::path& supportDirectory, const Uuid& jobID) {
        return supportDirectory / "state" / (jobID.string() + ".lock");
    }

    JobLock(JobLock&&) noexcept = default;
    JobLock& operator=(JobLock&&) noexcept = default;

    // Lets go; the destructor does the same.
    void release() noexcept { held_.reset(); }

    // Removes the lock file of a deleted job while still holding it. One who
    // opened the old file meanwhile finds, once it gets the lock, that the
    // file is no longer the job's, and takes the one at the path instead.
    // Throws FileError.
    void removeFile() const;

private:
    JobLock(FileDescriptor held, std::filesystem::path file) : held_(std::move(held)), file_(std::move(file)) {}

    // The lock goes with the file's last descriptor.
    FileDescriptor held_;
    std::filesystem::path file_;
};

}  // namespace kelto
