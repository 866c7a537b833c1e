#include "SyncAutomation/JobLock.h"

#include "SyncModel/Support/FileIO.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace kelto {

std::optional<JobLock> JobLock::tryTake(const std::filesystem::path& file) {
    FileIO::createDirectories(file.parent_path());
    FileDescriptor fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.valid()) throw FileError(errno, "open the job lock", file);
    // flock, not fcntl locks: those belong to the process, so a second run in
    // the same process would be let in, and any close of the file by the
    // process would drop them.
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return std::nullopt;
        if (errno != EINTR) throw FileError(errno, "lock", file);
    }
    return JobLock(std::move(fd));
}

}  // namespace kelto
