#include "SyncAutomation/JobLock.h"

#include "SyncModel/Support/FileIO.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kelto {

namespace {

// Whether the path still names the open file: a lock file removed after it
// was opened is no longer the job's.
bool stillNamed(const FileDescriptor& fd, const std::filesystem::path& file) {
    struct stat held {};
    struct stat named {};
    if (::fstat(fd.get(), &held) != 0) throw FileError(errno, "lock", file);
    if (::lstat(file.c_str(), &named) != 0) {
        if (errno == ENOENT) return false;
        throw FileError(errno, "lock", file);
    }
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

std::optional<JobLock> JobLock::tryTake(const std::filesystem::path& file) {
    for (;;) {
        std::optional<FileDescriptor> fd = FileIO::lockExclusively(file, false);
        if (!fd) return std::nullopt;
        if (stillNamed(*fd, file)) return JobLock(std::move(*fd), file);
    }
}

void JobLock::removeFile() const {
    // unlink: a link in the file's place goes, never what it points to.
    if (::unlink(file_.c_str()) != 0 && errno != ENOENT) throw FileError(errno, "Could not remove", file_);
}

}  // namespace kelto
