#include "SyncModel/Support/ItemVersion.h"

namespace kelto {

EntryKind ItemVersion::kindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::file;
    if (S_ISDIR(mode)) return EntryKind::directory;
    if (S_ISLNK(mode)) return EntryKind::symlink;
    return EntryKind::other;
}

ItemVersion ItemVersion::of(const struct stat& item, bool keepsFileNumbers) {
    ItemVersion version;
    version.kind = kindOf(item.st_mode);
    version.size = static_cast<std::int64_t>(item.st_size);
    version.mtime = static_cast<std::int64_t>(item.st_mtim.tv_sec);
    version.mtimeNanoseconds = static_cast<std::int64_t>(item.st_mtim.tv_nsec);
    version.device = static_cast<std::uint64_t>(item.st_dev);
    if (keepsFileNumbers) version.fileNumber = static_cast<std::uint64_t>(item.st_ino);
    version.changed = static_cast<std::int64_t>(item.st_ctim.tv_sec);
    version.changedNanoseconds = static_cast<std::int64_t>(item.st_ctim.tv_nsec);
    return version;
}

ItemVersion ItemVersion::listed(EntryKind kind, std::int64_t size, std::int64_t mtime) {
    ItemVersion version;
    version.kind = kind;
    version.size = size;
    version.mtime = mtime;
    return version;
}

namespace {

template <typename T>
bool bothKnownAndDiffer(const std::optional<T>& x, const std::optional<T>& y) {
    return x && y && *x != *y;
}

}  // namespace

// The one rule for "is this still the same item", in its strictnesses.
bool ItemVersion::same(const ItemVersion& other, Strictness strictness, std::int64_t window) const {
    if (kind != other.kind) return false;
    const bool folder = kind == EntryKind::directory;
    const bool sameNumber = device && device == other.device && fileNumber && fileNumber == other.fileNumber;
    const bool sameTime = mtime == other.mtime && mtimeNanoseconds && mtimeNanoseconds == other.mtimeNanoseconds;
    const bool sameChange = changed && changed == other.changed && changedNanoseconds == other.changedNanoseconds;
    switch (strictness) {
    case Strictness::listed: return mtime == other.mtime && (folder || size == other.size);
    case Strictness::seen: {
        if (mtime != other.mtime || (!folder && size != other.size)) return false;
        if (bothKnownAndDiffer(mtimeNanoseconds, other.mtimeNanoseconds)) return false;
        const bool sameFileSystem = device && other.device && *device == *other.device;
        return !sameFileSystem || !bothKnownAndDiffer(fileNumber, other.fileNumber);
    }
    case Strictness::item: return sameNumber;
    case Strictness::untouched: return sameNumber && size == other.size && sameTime;
    case Strictness::unchanged: return sameNumber && (folder || (size == other.size && sameTime && sameChange));
    case Strictness::alike: return size == other.size && sameTime && sameChange;
    case Strictness::copy:
        if (folder || size != other.size) return false;
        return kind == EntryKind::symlink || (mtime - other.mtime <= window && other.mtime - mtime <= window);
    }
    return false;
}

}  // namespace kelto
