#include "SyncEngine/UnchangedCheck.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/internal/SideStat.h"

namespace kelto {

bool UnchangedCheck::isUnchanged(const SideEntry& entry, const std::filesystem::path& root) {
    if (!ArchiveDirectories::isSafeRelativePath(entry.actualPath, root, false)) return false;
    std::optional<struct stat> info;
    try {
        info = SideStat(root).stat(entry.actualPath);
    } catch (const FileError&) {
        return false;
    }
    if (!info) return false;
    const EntryKind onDisk = SideStat::kindOf(info->st_mode);
    // Whole seconds as rsync lists them: the floor of the time.
    if (onDisk != entry.kind || static_cast<std::int64_t>(info->st_mtim.tv_sec) != entry.mtime) return false;
    return onDisk == EntryKind::directory || static_cast<std::int64_t>(info->st_size) == entry.size;
}

}  // namespace kelto
