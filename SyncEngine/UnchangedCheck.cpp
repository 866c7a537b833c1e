#include "SyncEngine/UnchangedCheck.h"
#include "SyncModel/Support/ItemVersion.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/internal/SideStat.h"

namespace kelto {

bool UnchangedCheck::isUnchanged(const SideEntry& entry, const std::filesystem::path& root) {
    return unchanged(entry, root).has_value();
}

std::optional<struct stat> UnchangedCheck::unchanged(const SideEntry& entry, const std::filesystem::path& root) {
    if (!ArchiveDirectories::isSafeRelativePath(entry.actualPath, root, false)) return std::nullopt;
    std::optional<struct stat> info;
    try {
        info = SideStat(root).stat(entry.actualPath);
    } catch (const FileError&) {
        return std::nullopt;
    }
    if (!info) return std::nullopt;
    const EntryKind onDisk = ItemVersion::kindOf(info->st_mode);
    // Whole seconds as rsync lists them: the floor of the time.
    if (onDisk != entry.kind || static_cast<std::int64_t>(info->st_mtim.tv_sec) != entry.mtime) return std::nullopt;
    if (onDisk != EntryKind::directory && static_cast<std::int64_t>(info->st_size) != entry.size) return std::nullopt;
    return info;
}

}  // namespace kelto
