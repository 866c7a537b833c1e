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

private:
    explicit JobLock(FileDescriptor held) : held_(std::move(held)) {}

    // The lock goes with the file's last descriptor; the file itself stays,
    // since removing it would let two holders lock two different files.
    FileDescriptor held_;
};

}  // namespace kelto
