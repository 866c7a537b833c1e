#include "SyncEngine/TwoWayEngine.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/SafeFileSystem.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Unicode.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kelto {

namespace {

// The key of a path without a copy for ASCII paths (already in NFC).
std::string_view keyOf(std::string_view path, std::string& storage) {
    if (Unicode::isAscii(path)) return path;
    storage = Unicode::nfc(path);
    return storage;
}

void addDirection(SyncPlan& out, const std::vector<std::string>& paths, const SideListing& source,
                  const SideListing& receiving, Side to) {
    std::string storage;
    std::size_t sourceHint = 0, receivingHint = 0;  // the plan's lists come in key order
    for (const std::string& path : paths) {
        const std::string_view key = keyOf(path, storage);
        const auto from = source.findFrom(key, sourceHint);
        if (!from || from->kind == EntryKind::directory) continue;  // folders are made by the transfer, not shown
        out.copies.push_back(PlannedCopy{path, from->size, to});
        const auto replaced = receiving.findFrom(key, receivingHint);
        if (replaced && replaced->kind != EntryKind::directory) out.archives.push_back(PlannedArchive{path, to});
    }
}

std::vector<std::string> components(std::string_view path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) out.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

std::filesystem::path under(const std::filesystem::path& root, std::string_view relative) {
    std::string out = root.string();
    out += '/';
    out += relative;
    return out;
}

[[noreturn]] void failRename(int error, const std::filesystem::path& path) {
    throw FileError(error > 0 ? error : EIO, "Could not rename", path);
}

EntryKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::file;
    if (S_ISDIR(mode)) return EntryKind::directory;
    if (S_ISLNK(mode)) return EntryKind::symlink;
    return EntryKind::other;
}

// lstat of a relative path, walking its folders without following a link.
bool statBelow(const std::filesystem::path& root, std::string_view relative, struct stat& info) {
    std::vector<std::string> parts = SafeFileSystem::split(relative);
    const std::string name = parts.back();
    parts.pop_back();
    SafeFileSystem::Descriptor top, parent;
    return SafeFileSystem::openRoot(root, top) == 0 && SafeFileSystem::openPath(top.get(), parts, parent, false) == 0 &&
           SafeFileSystem::statChild(parent.get(), name, info) == 0;
}

bool matchesDisk(std::string_view actualPath, EntryKind kind, std::int64_t size, std::int64_t mtime,
                 const std::filesystem::path& root) {
    if (!ArchiveDirectories::isSafeRelativePath(actualPath, root, false)) return false;
    struct stat info {};
    if (!statBelow(root, actualPath, info)) return false;
    const EntryKind onDisk = kindOf(info.st_mode);
    // Whole seconds as rsync lists them: the floor of the time.
    if (onDisk != kind || static_cast<std::int64_t>(info.st_mtim.tv_sec) != mtime) return false;
    return onDisk == EntryKind::directory || static_cast<std::int64_t>(info.st_size) == size;
}

}  // namespace

SyncPlan TwoWayEngine::makeSyncPlan(const TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB) {
    SyncPlan out;
    addDirection(out, plan.copyAtoB, sideA, sideB, Side::b);
    addDirection(out, plan.copyBtoA, sideB, sideA, Side::a);
    for (const std::string& path : plan.archiveOnA) out.archives.push_back(PlannedArchive{path, Side::a});
    for (const std::string& path : plan.archiveOnB) out.archives.push_back(PlannedArchive{path, Side::b});

    out.skipped = plan.skipped;
    for (const TwoWayConflict& conflict : plan.conflicts) {
        if (conflict.resolution == TwoWayConflict::Resolution::skippedTypeClash)
            out.skipped.push_back(SkippedFile{conflict.path, FileSkipReason::typeConflict});
        out.conflicts.push_back(conflict.path);
    }
    out.entryCountA = fileCount(sideA);
    out.entryCountB = fileCount(sideB);
    out.deletionCount = 0;
    return out;
}

void TwoWayEngine::alignSpelling(std::string_view desired, std::string_view actual, const std::filesystem::path& root) {
    const std::vector<std::string> want = components(desired);
    std::vector<std::string> have = components(actual);
    if (want.size() != have.size()) throw TwoWayEngineError::unsafePath(std::string(actual));

    for (std::size_t i = 0; i < want.size(); ++i) {
        if (have[i] == want[i]) continue;  // bytes, so case and normalisation count
        const std::string oldPath = joined(have, i + 1);
        const std::string oldName = have[i];
        have[i] = want[i];
        const std::string newPath = joined(have, i + 1);
        if (!ArchiveDirectories::isSafeRelativePath(oldPath, root, false) ||
            !ArchiveDirectories::isSafeRelativePath(newPath, root, false))
            throw TwoWayEngineError::unsafePath(oldPath);

        // Both names are looked at and renamed inside their folder, reached
        // without following a link, so a folder swapped for a link meanwhile
        // is refused rather than walked through.
        const std::filesystem::path from = under(root, oldPath);
        SafeFileSystem::Descriptor top, parent;
        if (const int error = SafeFileSystem::openRoot(root, top)) failRename(error, from);
        const std::vector<std::string> folders(have.begin(), have.begin() + static_cast<std::ptrdiff_t>(i));
        if (const int error = SafeFileSystem::openPath(top.get(), folders, parent, false))
            failRename(error == ENOENT ? EEXIST : error, from);  // gone under both spellings

        struct stat oldInfo {}, newInfo {};
        const bool oldExists = SafeFileSystem::statChild(parent.get(), oldName, oldInfo) == 0;
        const bool newExists = SafeFileSystem::statChild(parent.get(), want[i], newInfo) == 0;
        if (!oldExists && newExists) continue;  // already spelled as wanted
        if (!oldExists) failRename(EEXIST, from);
        if (newExists) {
            // One item under both spellings (a volume that ignores case or
            // normalisation): a plain rename changes the stored spelling.
            if (oldInfo.st_dev != newInfo.st_dev || oldInfo.st_ino != newInfo.st_ino) failRename(EEXIST, from);
            if (::renameat(parent.get(), oldName.c_str(), parent.get(), want[i].c_str()) != 0) failRename(errno, from);
        } else if (const int error = SafeFileSystem::moveWithoutReplacing(parent.get(), oldName, parent.get(), want[i])) {
            failRename(error, from);
        }
    }
}

bool TwoWayEngine::isUnchanged(const SideEntry& entry, const std::filesystem::path& root) {
    return matchesDisk(entry.actualPath, entry.kind, entry.size, entry.mtime, root);
}

bool TwoWayEngine::isUnchanged(const SideListing::Ref& entry, const std::filesystem::path& root) {
    return matchesDisk(entry.actualPath, entry.kind, entry.size, entry.mtime, root);
}

std::int64_t TwoWayEngine::fileCount(const SideListing& listing) {
    std::int64_t count = 0;
    for (const SideListing::Ref entry : listing)
        if (entry.kind != EntryKind::directory) ++count;
    return count;
}

bool TwoWayEngine::isPathOrAncestor(std::string_view path, const PathKeySet& set) {
    if (set.empty()) return false;  // the usual case, asked once per baseline entry
    if (set.find(path) != set.end()) return true;
    if (path.empty()) return false;
    for (std::size_t slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/', slash + 1))
        if (set.find(path.substr(0, slash)) != set.end()) return true;
    return false;
}

}  // namespace kelto
