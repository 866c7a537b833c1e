#include "SyncEngine/UnchangedCheck.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/SideStat.h"

namespace kelto {

bool UnchangedCheck::isUnchanged(const SideEntry& entry, const std::filesystem::path& root) {
    if (!ArchiveDirectories::isSafeRelativePath(entry.actualPath, root, false)) return false;
    struct stat info {};
    if (SideStat(root).stat(entry.actualPath, info) != 0) return false;
    const EntryKind onDisk = SideStat::kindOf(info.st_mode);
    // Whole seconds as rsync lists them: the floor of the time.
    if (onDisk != entry.kind || static_cast<std::int64_t>(info.st_mtim.tv_sec) != entry.mtime) return false;
    return onDisk == EntryKind::directory || static_cast<std::int64_t>(info.st_size) == entry.size;
}

}  // namespace kelto
