#include "SyncEngine/FolderIdentity.h"

#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <system_error>

namespace kelto {

std::optional<FolderIdentity> FolderIdentity::of(const std::filesystem::path& folder) {
    const FileDescriptor opened(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.valid()) return std::nullopt;
    return ofOpen(opened.get());
}

std::optional<FolderIdentity> FolderIdentity::ofOpen(int descriptor) {
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    FolderIdentity identity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), {}};
    if (FileSystemCapabilities::ofOpen(descriptor).fileNumbersLast) return identity;
    // The path the kernel keeps for the open folder, which no lookup by name
    // can make up.
    const std::optional<std::filesystem::path> at = SafeFileSystem::whereItLies(descriptor);
    if (!at) return std::nullopt;
    identity.fileNumber = 0;
    identity.resolvedPath = at->native();
    return identity;
}

}  // namespace kelto
