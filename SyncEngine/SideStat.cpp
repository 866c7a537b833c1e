#include "SyncEngine/SideStat.h"

#include <cerrno>

namespace kelto {

SideStat::SideStat(const std::filesystem::path& root) : rootError_(SafeFileSystem::openRoot(root, root_)) {}

int SideStat::stat(std::string_view relativePath, struct stat& info) {
    if (rootError_ != 0) return rootError_;
    const std::size_t slash = relativePath.rfind('/');
    const std::string_view parent = slash == std::string_view::npos ? std::string_view() : relativePath.substr(0, slash);
    const std::string name(slash == std::string_view::npos ? relativePath : relativePath.substr(slash + 1));
    if (!known_ || parent != parentPath_) {
        parentPath_.assign(parent);
        known_ = true;
        parentError_ =
            parent.empty() ? 0 : SafeFileSystem::openPath(root_.get(), SafeFileSystem::split(parent), folder_, false);
    }
    if (parentError_ != 0) return parentError_ == ENOTDIR ? ENOENT : parentError_;
    return SafeFileSystem::statChild(parent.empty() ? root_.get() : folder_.get(), name, info);
}

EntryKind SideStat::kindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::file;
    if (S_ISDIR(mode)) return EntryKind::directory;
    if (S_ISLNK(mode)) return EntryKind::symlink;
    return EntryKind::other;
}

}  // namespace kelto
