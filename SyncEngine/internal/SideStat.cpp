#include "SyncEngine/internal/SideStat.h"


namespace kelto {

SideStat::SideStat(const std::filesystem::path& root) {
    try {
        if (std::optional<SafeFileSystem::Folder> folder = SafeFileSystem::openRoot(root))
            lookup_.emplace(std::move(*folder));
    } catch (const FileError& error) {
        rootError_ = error;
    }
}

std::optional<struct stat> SideStat::stat(std::string_view relativePath) {
    if (rootError_) throw *rootError_;
    if (!lookup_) return std::nullopt;
    return lookup_->stat(relativePath);
}

}  // namespace kelto
