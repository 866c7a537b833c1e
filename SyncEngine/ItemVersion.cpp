#include "SyncEngine/ItemVersion.h"

#include "SyncEngine/internal/SideStat.h"

namespace kelto {

ItemVersion ItemVersion::of(const struct stat& item, bool keepsFileNumbers) {
    ItemVersion version;
    version.kind = SideStat::kindOf(item.st_mode);
    version.size = static_cast<std::int64_t>(item.st_size);
    version.mtime = static_cast<std::int64_t>(item.st_mtim.tv_sec);
    version.mtimeNanoseconds = static_cast<std::int64_t>(item.st_mtim.tv_nsec);
    version.device = static_cast<std::uint64_t>(item.st_dev);
    if (keepsFileNumbers) version.fileNumber = static_cast<std::uint64_t>(item.st_ino);
    return version;
}

ItemVersion ItemVersion::listed(EntryKind kind, std::int64_t size, std::int64_t mtime) {
    ItemVersion version;
    version.kind = kind;
    version.size = size;
    version.mtime = mtime;
    return version;
}

bool ItemVersion::keepsFileNumbers(std::optional<std::int64_t> fileSystemType) {
    if (!fileSystemType) return false;
    switch (*fileSystemType) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0xCA451A4E:  // bcachefs
    case 0x3153464A:  // jfs
    case 0x52654973:  // reiserfs
    case 0x482B:      // hfsplus
    case 0x7366746E:  // ntfs3
    case 0x6969:      // nfs
    case 0x794C7630:  // overlay
        return true;
    default: return false;
    }
}

bool ItemVersion::matches(const struct stat& item) const {
    const EntryKind itemKind = SideStat::kindOf(item.st_mode);
    if (itemKind != kind || static_cast<std::int64_t>(item.st_mtim.tv_sec) != mtime) return false;
    if (kind != EntryKind::directory && static_cast<std::int64_t>(item.st_size) != size) return false;
    // rsync's copy across file systems keeps the fraction too; where the
    // copy's file system cannot, the item is not proven the one seen.
    if (mtimeNanoseconds && *mtimeNanoseconds != static_cast<std::int64_t>(item.st_mtim.tv_nsec)) return false;
    const bool sameFileSystem = device && *device == static_cast<std::uint64_t>(item.st_dev);
    return !sameFileSystem || !fileNumber || *fileNumber == static_cast<std::uint64_t>(item.st_ino);
}

}  // namespace kelto
