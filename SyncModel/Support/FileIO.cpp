#include "SyncModel/Support/FileIO.h"

#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/Uuid.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelto {

namespace {
std::string describe(const std::string& operation, const std::filesystem::path& path) {
    return operation + " \"" + path.string() + "\"";
}

}  // namespace

FileError::FileError(int errorNumber, std::string operation, std::filesystem::path path)
    : std::system_error(errorNumber, std::generic_category(), describe(operation, path)),
      operation_(std::move(operation)),
      path_(std::move(path)) {}

namespace FileIO {

std::optional<std::string> readIfExists(const std::filesystem::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw FileError(errno, "Could not open", path);
    }
    return readAll(fd.get(), path);
}

std::string readAll(int descriptor, const std::filesystem::path& shownAs) {
    std::string content;
    struct stat info {};
    if (::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        content.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(descriptor, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw FileError(errno, "Could not read", shownAs);
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

void writeAtomically(const std::filesystem::path& path, std::string_view bytes) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) throw FileError(errno, "Could not open folder", folder);
    writeAtomicallyAt(dir.get(), path.filename().string(), bytes, path);
}

void writeAtomicallyAt(int folder, const std::string& target, std::string_view bytes,
                       const std::filesystem::path& shownAs) {
    std::string name = ".";
    name.append(target).append(".tmp-").append(Uuid::random().lowerString(), 0, 12);
    const std::filesystem::path temporary = shownAs.parent_path() / name;

    // The mode of a new file follows the umask, as any other file the user makes.
    FileDescriptor fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0) throw FileError(errno, "Could not create", temporary);

    auto fail = [&](const char* operation) {
        const int saved = errno;
        ::close(fd.release());
        ::unlinkat(folder, name.c_str(), 0);
        throw FileError(saved, operation, temporary);
    };

    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd.get(), p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Could not write");
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) fail("Could not flush");
    if (::close(fd.release()) != 0) {
        const int saved = errno;
        ::unlinkat(folder, name.c_str(), 0);
        throw FileError(saved, "Could not close", temporary);
    }
    if (::renameat(folder, name.c_str(), folder, target.c_str()) != 0) {
        const int saved = errno;
        ::unlinkat(folder, name.c_str(), 0);
        throw FileError(saved, "Could not replace", shownAs);
    }
    // Make the rename itself durable; a failure here leaves a complete file.
    // A folder held as a path only (O_PATH) is opened for it.
    if (::fsync(folder) != 0 && errno == EBADF) {
        const FileDescriptor opened(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (opened.valid()) ::fsync(opened.get());
    }
}

void createDirectories(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) throw FileError(error.value(), "Could not create folder", path);
}

std::optional<FileDescriptor> lockExclusively(const std::filesystem::path& path, bool wait) {
    createDirectories(path.parent_path());
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.valid()) throw FileError(errno, "Could not open the lock", path);
    // flock, not fcntl locks: those belong to the process, so a second holder
    // in the same process would be let in, and any close of the file by the
    // process would drop them.
    while (::flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno == EWOULDBLOCK && !wait) return std::nullopt;
        if (errno != EINTR) throw FileError(errno, "Could not lock", path);
    }
    return fd;
}

}  // namespace FileIO
}  // namespace kelto
