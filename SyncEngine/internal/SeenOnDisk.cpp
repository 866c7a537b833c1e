#include "SyncEngine/internal/SeenOnDisk.h"

namespace kelto {

SeenOnDisk::SeenOnDisk(const std::filesystem::path& root) : root_(root), disk_(root) {}

std::optional<ItemVersion> SeenOnDisk::now(const std::string& relativePath) {
    try {
        const std::optional<struct stat> item = disk_.stat(relativePath);
        if (!item) return std::nullopt;
        auto [known, fresh] = keepsNumbers_.try_emplace(item->st_dev, false);
        if (fresh)
            known->second =
                ItemVersion::keepsFileNumbers(SafeFileSystem::fileSystemType((root_ / relativePath).parent_path()));
        return ItemVersion::of(*item, known->second);
    } catch (const FileError&) {
        return std::nullopt;
    }
}

ItemVersion SeenOnDisk::listed(const std::string& relativePath, const ItemVersion& listing) {
    const std::optional<ItemVersion> onDisk = now(relativePath);
    if (onDisk && onDisk->kind == listing.kind && onDisk->mtime == listing.mtime &&
        (listing.kind == EntryKind::directory || onDisk->size == listing.size))
        return *onDisk;
    return listing;
}

}  // namespace kelto
