#include "SyncEngine/internal/PrivateListFolder.h"

#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "SyncModel/Support/Uuid.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kelto {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& operation, const fs::path& path) {
    const int error = errno;
    throw FileError(error, operation, path);
}

}  // namespace

PrivateListFolder::PrivateListFolder(const fs::path& folder) {
    // Never the working folder, nor anywhere else by default.
    if (folder.empty()) throw FileError(EINVAL, "No private folder for the lists of paths", folder);
    path_ = fs::absolute(folder);
    FileIO::createDirectories(path_.parent_path());
    if (::mkdir(path_.c_str(), 0700) != 0 && errno != EEXIST) fail("Could not create folder", path_);
    folder_.reset(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder_.valid()) {
        if (errno == ELOOP) errno = ENOTDIR;
        fail("Could not open folder", path_);
    }
    struct stat info {};
    if (::fstat(folder_.get(), &info) != 0) fail("Could not look at folder", path_);
    if (info.st_uid != ::geteuid()) throw FileError(EACCES, "Refused another user's folder", path_);
    if ((info.st_mode & 07777) != 0700 && ::fchmod(folder_.get(), 0700) != 0) fail("Could not make private", path_);

    // Only a run alone here may clear: another's lists are in use.
    if (::flock(folder_.get(), LOCK_EX | LOCK_NB) == 0) {
        SafeFileSystem::Folder listed{FileDescriptor(::dup(folder_.get())), path_};
        if (!listed.descriptor.valid()) fail("Could not open folder", path_);
        for (const std::string& name : SafeFileSystem::listNames(listed)) {
            if (!name.starts_with(commonPrefix)) continue;
            struct stat item {};
            if (::fstatat(folder_.get(), name.c_str(), &item, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(item.st_mode) &&
                item.st_uid == ::geteuid())
                ::unlinkat(folder_.get(), name.c_str(), 0);  // one that stays is tried again next time
        }
    }
    if (::flock(folder_.get(), LOCK_SH) != 0) fail("Could not lock folder", path_);
}

fs::path PrivateListFolder::write(std::string_view prefix, std::string_view bytes) const {
    const std::string name = std::string(prefix) + Uuid::random().string();
    const fs::path path = path_ / name;
    FileDescriptor file(::openat(folder_.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid()) fail("Could not write", path);
    // The umask may have taken the user's own reading from it: rsync reads it.
    if (::fchmod(file.get(), 0600) != 0) {
        const int error = errno;
        remove(path);
        throw FileError(error, "Could not write", path);
    }
    while (!bytes.empty()) {
        const ssize_t n = ::write(file.get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            const int error = errno;
            remove(path);
            throw FileError(error, "Could not write", path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(file.release()) != 0) {
        const int error = errno;
        remove(path);
        throw FileError(error, "Could not write", path);
    }
    return path;
}

void PrivateListFolder::remove(const fs::path& list) const noexcept {
    ::unlinkat(folder_.get(), list.filename().c_str(), 0);
}

}  // namespace kelto
