#include "SyncEngine/FileRunLog.h"

#include "SyncModel/Support/FileIO.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kelto {

FileRunLog::FileRunLog(std::filesystem::path path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) throw FileError(errno, "Could not open the run log", path_);
}

FileRunLog::~FileRunLog() {
    if (fd_ < 0) return;
    try {
        flush();
    } catch (const FileError&) {
        // The owner that wanted to know called close().
    }
    ::close(fd_);
}

void FileRunLog::writeLine(std::string_view line) {
    pending_.append(line);
    pending_.push_back('\n');
    if (pending_.size() >= bufferLimit) flush();
}

void FileRunLog::flush() {
    if (fd_ < 0) throw FileError(EBADF, "Could not write the run log", path_);
    std::size_t written = 0;
    while (written < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + written, pending_.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            pending_.erase(0, written);
            throw FileError(error, "Could not write the run log", path_);
        }
        written += static_cast<std::size_t>(n);
    }
    pending_.clear();
}

void FileRunLog::sync() {
    flush();
    // EINVAL: a special file (a terminal, /dev/null) that has no disk to reach.
    if (::fsync(fd_) != 0 && errno != EINVAL) throw FileError(errno, "Could not write the run log", path_);
}

void FileRunLog::close() {
    if (fd_ < 0) return;
    int error = 0;
    try {
        flush();
    } catch (const FileError& e) {
        error = e.errorNumber();
    }
    if (::close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    if (error != 0) throw FileError(error, "Could not write the run log", path_);
}

}  // namespace kelto
