#pragma once

#include "SyncEngine/RunLogSink.h"

#include <filesystem>
#include <string>

namespace kelto {

// A run log file, opened for appending (created when missing). Lines are
// gathered in memory and written in large pieces: when 64 KiB are waiting,
// at flush() and at close(). Failures throw FileError.
class FileRunLog final : public RunLogSink {
public:
    static constexpr std::size_t bufferLimit = 64 * 1024;

    explicit FileRunLog(std::filesystem::path path);
    ~FileRunLog() override;  // writes what is left; a failure then goes unseen, so call close()
    FileRunLog(const FileRunLog&) = delete;
    FileRunLog& operator=(const FileRunLog&) = delete;

    void writeLine(std::string_view line) override;
    void flush() override;
    // Flushes and asks the system to put the file on the disk.
    void sync();
    // Flushes and closes; throws the first failure of either.
    void close();

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    int fd_ = -1;
    std::string pending_;
};

}  // namespace kelto
