#include "SyncEngine/internal/CopySourceCheck.h"

#include "SyncEngine/internal/SideStat.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>

namespace kelto {

namespace fs = std::filesystem;

CopySourceCheck::CopySourceCheck(const fs::path& sourceRoot, const std::vector<std::string>& paths)
    : root_(sourceRoot) {
    if (paths.empty()) return;
    SideStat disk(root_);
    before_.reserve(paths.size());
    for (const std::string& path : paths) {
        try {
            if (const std::optional<struct stat> info = disk.stat(path); info && S_ISREG(info->st_mode))
                before_.emplace(path, seen(*info));
        } catch (const FileError&) {
            // rsync will say whether it could read it
        }
    }
}

std::vector<std::string> CopySourceCheck::changed(const std::vector<std::string>& copied) {
    std::vector<std::string> result;
    if (before_.empty()) return result;
    SideStat disk(root_);
    for (const std::string& path : copied) {
        const auto watched = before_.find(path);
        if (watched == before_.end() || oldestSeconds_.contains(path)) continue;
        std::optional<Seen> now;
        try {
            if (const std::optional<struct stat> info = disk.stat(path))
                now = seen(*info);
            else
                gone_.insert(path);
        } catch (const FileError&) {
            // cannot be confirmed: taken as changed
        }
        if (now && same(watched->second, *now)) continue;
        std::int64_t oldest = watched->second.modified.tv_sec;
        if (now) oldest = std::min<std::int64_t>(oldest, now->modified.tv_sec);
        oldestSeconds_.emplace(path, oldest);
        result.push_back(path);
    }
    return result;
}

bool CopySourceCheck::markStale(const fs::path& destinationRoot, const std::string& path,
                                std::int64_t modifyWindow) const {
    const auto oldest = oldestSeconds_.find(path);
    if (oldest == oldestSeconds_.end()) return true;
    std::optional<SafeFileSystem::Folder> root = SafeFileSystem::openRoot(destinationRoot);
    if (!root) return true;
    std::vector<std::string> folders = SafeFileSystem::split(path);
    const std::string name = std::move(folders.back());
    folders.pop_back();
    const std::optional<SafeFileSystem::Folder> parent = SafeFileSystem::openPath(*root, folders);
    if (!parent) return true;
    const std::optional<struct stat> info = SafeFileSystem::statChild(*parent, name);
    if (!info || !S_ISREG(info->st_mode)) return true;  // what stands there now is not rsync's copy

    // Beyond the window, and a second more for file systems that round times.
    const std::int64_t margin = std::max<std::int64_t>(modifyWindow, 0) + 2;
    const std::int64_t lowest = std::numeric_limits<std::int64_t>::min() + margin;
    const timespec time{static_cast<time_t>(std::max(oldest->second, lowest) - margin), 0};
    if (!SafeFileSystem::setModificationTime(*parent, name, time)) return true;  // gone meanwhile
    // A file system that clamps the time may keep it as it was: then nothing
    // tells the copy from its source, and the user must hear of it.
    const std::optional<struct stat> marked = SafeFileSystem::statChild(*parent, name);
    return !(marked && marked->st_mtim.tv_sec == info->st_mtim.tv_sec && time.tv_sec != info->st_mtim.tv_sec);
}

std::vector<ItemizedChange> CopySourceCheck::arrived(const fs::path& destinationRoot,
                                                    const std::vector<ItemizedChange>& copied,
                                                    const SameTime& sameTime) const {
    std::vector<ItemizedChange> result;
    if (copied.empty()) return result;
    SideStat source(root_), destination(destinationRoot);
    const auto look = [](SideStat& side, std::string_view path) -> std::optional<struct stat> {
        try {
            return side.stat(path);
        } catch (const FileError&) {
            return std::nullopt;
        }
    };
    for (const ItemizedChange& item : copied) {
        const std::optional<struct stat> copy = look(destination, item.path);
        if (!copy) continue;
        mode_t kind = 0;
        std::int64_t size = 0, seconds = 0;
        if (const auto watched = before_.find(item.path); watched != before_.end()) {
            kind = S_IFREG;
            size = watched->second.size;
            seconds = watched->second.modified.tv_sec;
        } else if (const std::optional<struct stat> now = look(source, item.path)) {
            kind = now->st_mode & S_IFMT;
            size = static_cast<std::int64_t>(now->st_size);
            seconds = now->st_mtim.tv_sec;
        } else {
            continue;
        }
        if ((copy->st_mode & S_IFMT) == kind && static_cast<std::int64_t>(copy->st_size) == size &&
            sameTime(copy->st_mtim.tv_sec, seconds))
            result.push_back(item);
    }
    return result;
}

std::vector<std::string> CopySourceCheck::markAndDescribe(const fs::path& destinationRoot, const std::string& path,
                                                          std::int64_t modifyWindow) const {
    // Nothing will copy a gone source again: its copy is only named.
    if (gone_.contains(path)) return {std::string(goneLine) + path};
    std::vector<std::string> lines{std::string(changedLine) + path};
    std::string unmarked = std::string(unmarkedLine) + path + ": ";
    try {
        if (!markStale(destinationRoot, path, modifyWindow)) lines.push_back(unmarked + std::string(olderTimeNotKept));
    } catch (const FileError& error) {
        lines.push_back(unmarked + error.reason());
    }
    return lines;
}

CopySourceCheck::Seen CopySourceCheck::seen(const struct stat& info) {
    return Seen{static_cast<std::int64_t>(info.st_size), info.st_mtim, info.st_ctim};
}

bool CopySourceCheck::same(const Seen& x, const Seen& y) {
    return x.size == y.size && x.modified.tv_sec == y.modified.tv_sec && x.modified.tv_nsec == y.modified.tv_nsec &&
           x.changed.tv_sec == y.changed.tv_sec && x.changed.tv_nsec == y.changed.tv_nsec;
}

}  // namespace kelto
