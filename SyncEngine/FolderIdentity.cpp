#include "SyncEngine/FolderIdentity.h"

#include <sys/stat.h>

namespace kelto {

std::optional<FolderIdentity> FolderIdentity::of(const std::filesystem::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    return FolderIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

}  // namespace kelto
