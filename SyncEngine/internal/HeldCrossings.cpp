#include "SyncEngine/internal/HeldCrossings.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/internal/HoldingRecords.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <map>
#include <utility>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Folder;

namespace {

// Notes what rsync's copy would drop of `name` inside `folder`, at `path` under R.
void noteCrossing(const Folder& folder, const std::string& name, const std::string& path, const struct stat& item,
                  HoldingFolder::Planned& planned) {
    if (S_ISDIR(item.st_mode)) return;
    SafeFileSystem::Attributes attributes;
    try {
        attributes = SafeFileSystem::attributesOf(folder, name);
    } catch (const FileError&) {
        return;  // nor can rsync's copy read them
    }
    if (attributes.empty() && item.st_nlink < 2) return;
    planned.crossed[path] = {static_cast<std::uint64_t>(item.st_dev),
                             static_cast<std::uint64_t>(item.st_ino),
                             static_cast<mode_t>(item.st_mode & S_IFMT),
                             static_cast<std::int64_t>(item.st_size),
                             item.st_mtim,
                             std::move(attributes),
                             {}};
}

// Counts what rsync's copy into R's file system of an item the plan takes
// from the file system mounted at `mount` costs.
void countCrossing(const std::string& mount, const std::string& path, const struct stat& item,
                   HoldingFolder::Planned& planned) {
    if (S_ISDIR(item.st_mode) || (!planned.deleted.contains(path) && !planned.replaced.contains(path))) return;
    HoldingFolder::Planned::Crossing& cost = planned.crossing[mount];
    if (__builtin_add_overflow(cost.bytes, static_cast<std::int64_t>(item.st_size), &cost.bytes))
        cost.bytes = INT64_MAX;
    ++cost.items;
}

// Walks one file system's part of R's tree, from `folder` at `prefix`, mounted at `mount`.
void walkCrossing(const Folder& folder, const std::string& prefix, const std::string& mount, dev_t device,
                  HoldingFolder::Planned& planned) {
    std::vector<std::string> names;
    try {
        names = SafeFileSystem::listNames(folder);
    } catch (const FileError&) {
        return;  // nor can rsync take anything from here
    }
    for (const std::string& name : names) {
        const std::string path = prefix + "/" + name;
        std::optional<struct stat> item;
        try {
            item = SafeFileSystem::statChild(folder, name);
        } catch (const FileError&) {
            continue;  // nor can rsync take it
        }
        if (!item || item->st_dev != device) continue;  // another mount is walked of its own
        if (!S_ISDIR(item->st_mode)) {
            countCrossing(mount, path, *item, planned);
            noteCrossing(folder, name, path, *item, planned);
            continue;
        }
        std::optional<Folder> child;
        try {
            child = SafeFileSystem::openChild(folder, name);
        } catch (const FileError&) {
            continue;  // nor can rsync take anything from here
        }
        if (child) walkCrossing(*child, path, mount, device, planned);
    }
}

// Where the file system on `device` of the item at `path` is mounted: the
// first folder on its way there, else the item itself.
std::string mountOf(const Folder& root, const std::string& path, dev_t device) {
    const std::vector<std::string> pieces = SafeFileSystem::split(path);
    std::vector<std::string> way;
    std::string at;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        way.push_back(pieces[i]);
        at += (i > 0 ? "/" : "") + pieces[i];
        const std::optional<Folder> folder = SafeFileSystem::openPath(root, way);
        struct stat info {};
        if (folder && ::fstat(folder->get(), &info) == 0 && info.st_dev == device) return at;
    }
    return path;
}

// Links each crossed file to its other names among those noted.
void groupNames(HoldingFolder::Planned& planned) {
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::vector<std::string>> files;
    for (const auto& [path, crossed] : planned.crossed) files[{crossed.device, crossed.fileNumber}].push_back(path);
    for (auto& [path, crossed] : planned.crossed)
        for (const std::string& other : files[{crossed.device, crossed.fileNumber}])
            if (other != path) crossed.otherNames.push_back(other);
}

}  // namespace

void HeldCrossings::lookBelow(const fs::path& root, const std::vector<fs::path>& mounts,
                              HoldingFolder::Planned& planned) {
    if (mounts.empty()) return;
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) return;
    std::error_code error;
    const fs::path resolved = fs::canonical(root, error);
    if (error) return;
    for (const fs::path& mount : mounts) {
        const std::string relative = mount.lexically_relative(resolved).native();
        if (relative.empty() || relative == "." || relative.starts_with("..") ||
            relative.starts_with(ArchiveDirectories::reservedName))
            continue;
        const std::optional<Folder> top = SafeFileSystem::openPath(*rootFolder, SafeFileSystem::split(relative));
        struct stat info {};
        if (top && ::fstat(top->get(), &info) == 0) walkCrossing(*top, relative, relative, info.st_dev, planned);
    }
    groupNames(planned);
}

void HeldCrossings::lookAtReplaced(const fs::path& root, const std::vector<std::string>& paths,
                                   HoldingFolder::Planned& planned) {
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    struct stat top {};
    if (planned.replaced.empty() || !rootFolder || ::fstat(rootFolder->get(), &top) != 0) return;
    SafeFileSystem::PathLookup lookup(*SafeFileSystem::openPath(*rootFolder, {}));
    std::map<dev_t, std::string> mounts;  // found once for each file system
    for (const std::string& path : paths) {
        if (!planned.replaced.contains(path)) continue;
        try {
            const std::optional<struct stat> item = lookup.stat(path);
            if (!item || item->st_dev == top.st_dev) continue;
            std::vector<std::string> pieces = SafeFileSystem::split(path);
            const std::string name = pieces.back();
            pieces.pop_back();
            if (!mounts.contains(item->st_dev)) mounts[item->st_dev] = mountOf(*rootFolder, path, item->st_dev);
            countCrossing(mounts[item->st_dev], path, *item, planned);
            if (const std::optional<Folder> parent = SafeFileSystem::openPath(*rootFolder, pieces))
                noteCrossing(*parent, name, path, *item, planned);
        } catch (const FileError&) {
            // nor can rsync take it
        }
    }
    groupNames(planned);
}

std::optional<HoldingShortfall> HeldCrossings::shortfall(const fs::path& root, const fs::path& shown,
                                                         const HoldingFolder::Planned& planned) {
    HoldingShortfall result;
    result.folder = shown;
    std::int64_t bytes = 0, items = 0;
    for (const auto& [mount, cost] : planned.crossing) {
        if (__builtin_add_overflow(bytes, cost.bytes, &bytes)) bytes = INT64_MAX;
        items += cost.items;
        result.mounts.push_back(shown / mount);
    }
    if (items == 0) return std::nullopt;
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
    const std::optional<Folder> holdingRoot = HoldingRecords::openHoldingRoot(*rootFolder);
    const Folder& into = holdingRoot ? *holdingRoot : *rootFolder;
    struct statvfs disk {};
    if (::fstatvfs(into.get(), &disk) != 0) throw FileError(errno, "Could not read the free space of", into.path);
    const auto block = static_cast<std::int64_t>(disk.f_frsize);
    result.free = static_cast<std::int64_t>(disk.f_bavail) * block;
    // Each item's last block part filled, and a hundredth more: a disk
    // filled to the last byte misbehaves.
    std::int64_t margin = 0;
    if (__builtin_mul_overflow(items, block, &margin) || __builtin_add_overflow(margin, bytes / 100, &margin) ||
        __builtin_add_overflow(bytes, margin, &result.needed))
        result.needed = INT64_MAX;
    if (result.needed <= result.free) return std::nullopt;
    return result;
}

}  // namespace kelto
