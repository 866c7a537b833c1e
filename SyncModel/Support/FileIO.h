#pragma once

#include "SyncModel/Support/FileDescriptor.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace kelto {

// A failed file-system call, with the operation and the path it concerned.
class FileError : public std::system_error {
public:
    FileError(int errorNumber, std::string operation, std::filesystem::path path);
    int errorNumber() const { return code().value(); }
    const std::filesystem::path& path() const { return path_; }
    const std::string& operation() const { return operation_; }
    // The error number's message alone, without the operation and the path.
    std::string reason() const { return code().message(); }

private:
    std::string operation_;
    std::filesystem::path path_;
};

namespace FileIO {

// The whole file, or nullopt when nothing exists at the path. Any other
// failure (no permission, a folder in the file's place) throws FileError.
std::optional<std::string> readIfExists(const std::filesystem::path& path);
// Everything left to read from an open file; `shownAs` names it in the
// FileError a failed read throws.
std::string readAll(int descriptor, const std::filesystem::path& shownAs);

// Writes to a temporary file in the same folder, flushes it to disk and
// renames it over the target, so readers see the whole old or whole new file.
// The folder must exist. On failure the old file is untouched.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes);
// The same for `name` inside an open folder, which no later lookup of its
// path can lead elsewhere; `shownAs` names the file in errors.
void writeAtomicallyAt(int folder, const std::string& name, std::string_view bytes,
                       const std::filesystem::path& shownAs);

// Creates the folder and its missing parents; an existing folder is fine.
void createDirectories(const std::filesystem::path& path);

// The exclusive lock on the file at `path` (made, with its folder, when
// missing; a link in its place is refused), held for as long as the
// descriptor stays open, in this process or another, whoever else opens the
// file. The kernel lets go of it when the holder ends, however it ends, and
// no child process inherits it. Waits for it when `wait`; otherwise nullopt
// when another holds it. Throws FileError.
std::optional<FileDescriptor> lockExclusively(const std::filesystem::path& path, bool wait);

}  // namespace FileIO
}  // namespace kelto
