#include "SyncEngine/ItemVersion.h"

#include "SyncEngine/internal/SideStat.h"

namespace kelto {

ItemVersion ItemVersion::of(const struct stat& item) {
    ItemVersion version;
    version.kind = SideStat::kindOf(item.st_mode);
    version.size = static_cast<std::int64_t>(item.st_size);
    version.mtime = static_cast<std::int64_t>(item.st_mtim.tv_sec);
    version.mtimeNanoseconds = static_cast<std::int64_t>(item.st_mtim.tv_nsec);
    version.device = static_cast<std::uint64_t>(item.st_dev);
    version.fileNumber = static_cast<std::uint64_t>(item.st_ino);
    return version;
}

bool ItemVersion::matches(const struct stat& item) const {
    const EntryKind itemKind = SideStat::kindOf(item.st_mode);
    if (itemKind != kind || static_cast<std::int64_t>(item.st_mtim.tv_sec) != mtime) return false;
    if (kind != EntryKind::directory && static_cast<std::int64_t>(item.st_size) != size) return false;
    if (!device || *device != static_cast<std::uint64_t>(item.st_dev)) return true;
    if (fileNumber && *fileNumber != static_cast<std::uint64_t>(item.st_ino)) return false;
    return !mtimeNanoseconds || *mtimeNanoseconds == static_cast<std::int64_t>(item.st_mtim.tv_nsec);
}

}  // namespace kelto
