#include "SyncEngine/internal/HoldingFolder.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Folder;

namespace {

std::vector<std::string> sortedNames(const Folder& folder) {
    std::vector<std::string> names = SafeFileSystem::listNames(folder);
    std::sort(names.begin(), names.end());
    return names;
}

// The mark of a folder whose kept items were reported: the one name no held
// item can have, as rsync never touches R's reserved folder.
const std::string reportedMark(ArchiveDirectories::reservedName);

std::optional<Folder> openHoldingRoot(const Folder& root) {
    return SafeFileSystem::openPath(root, {std::string(ArchiveDirectories::reservedName),
                                           std::string(ArchiveDirectories::holdingName)});
}

// Whether an item stands at the path under R; nothing is followed on the way.
bool standsAt(const Folder& root, const std::string& path) {
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    const std::string name = pieces.back();
    pieces.pop_back();
    const std::optional<Folder> parent = SafeFileSystem::openPath(root, pieces);
    return parent && SafeFileSystem::statChild(*parent, name);
}

// Moves one held item back to its path under R. Throws FileError: EEXIST
// when something stands there, ENOTDIR when a non-folder is on the way.
void putBack(const Folder& root, const Folder& from, const std::string& name, const std::string& path) {
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    if (pieces.front() == ArchiveDirectories::reservedName) throw FileError(EINVAL, "Could not put back", root / path);
    pieces.pop_back();
    SafeFileSystem::moveWithoutReplacing(from, name, SafeFileSystem::ensurePath(root, pieces), name);
}

// Settles what `folder` holds; `prefix` is its path under R. Without a plan
// everything goes back where it can.
void settleFolder(const Folder& root, const Folder& folder, const std::string& prefix,
                  const HoldingFolder::Planned* planned, HoldingFolder::Settlement& out) {
    std::vector<std::string> names;
    try {
        names = sortedNames(folder);
    } catch (const FileError& error) {
        out.kept.push_back({prefix, error});
        return;
    }
    for (const std::string& name : names) {
        const std::string path = prefix.empty() ? name : prefix + "/" + name;
        try {
            const std::optional<struct stat> info = SafeFileSystem::statChild(folder, name);
            if (!info) continue;
            // rsync holds no folder as such, only the folders on an item's way.
            if (S_ISDIR(info->st_mode)) {
                if (const std::optional<Folder> child = SafeFileSystem::openChild(folder, name))
                    settleFolder(root, *child, path, planned, out);
                SafeFileSystem::removeEmptyFolder(folder, name);
                continue;
            }
            // A listed replacement happened when something new stands in the old item's place.
            if (planned && (planned->deleted.contains(path) ||
                            (planned->replaced.contains(path) && standsAt(root, path)))) {
                SafeFileSystem::removeTree(folder, name);
                continue;
            }
            putBack(root, folder, name, path);
            out.putBack.push_back(path);
        } catch (const FileError& error) {
            out.kept.push_back({path, error});
        }
    }
}

}  // namespace

std::string HoldingFolder::relativePath(std::string_view runID) {
    return std::string(ArchiveDirectories::reservedName) + "/" + std::string(ArchiveDirectories::holdingName) + "/" +
           std::string(runID);
}

void HoldingFolder::prepare(const fs::path& root, const std::string& runID) {
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
    SafeFileSystem::ensurePath(*rootFolder, SafeFileSystem::split(relativePath(runID)));
}

HoldingFolder::Settlement HoldingFolder::settle(const fs::path& root, const std::string& runID,
                                                const Planned& planned) {
    Settlement result;
    result.folder = relativePath(runID);
    try {
        const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
        if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
        const std::optional<Folder> holdingRoot = openHoldingRoot(*rootFolder);
        if (!holdingRoot) return result;  // nothing was held
        const std::optional<Folder> folder = SafeFileSystem::openChild(*holdingRoot, runID);
        if (!folder) return result;
        settleFolder(*rootFolder, *folder, "", &planned, result);
        SafeFileSystem::removeEmptyFolder(*holdingRoot, runID);
    } catch (const FileError& error) {
        result.kept.push_back({"", error});
    }
    return result;
}

void HoldingFolder::markReported(const fs::path& root, const std::string& runID) {
    try {
        const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
        if (!rootFolder) return;
        const std::optional<Folder> holdingRoot = openHoldingRoot(*rootFolder);
        if (!holdingRoot) return;
        const std::optional<Folder> folder = SafeFileSystem::openChild(*holdingRoot, runID);
        if (!folder) return;
        const FileDescriptor mark(
            ::openat(folder->get(), reportedMark.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    } catch (const FileError&) {
    }
}

std::vector<HoldingFolder::Settlement> HoldingFolder::recover(const fs::path& root) {
    std::vector<Settlement> result;
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
    const std::optional<Folder> holdingRoot = openHoldingRoot(*rootFolder);
    if (!holdingRoot) return result;
    for (const std::string& runID : sortedNames(*holdingRoot)) {
        Settlement settlement;
        settlement.folder = relativePath(runID);
        try {
            const std::optional<Folder> folder = SafeFileSystem::openChild(*holdingRoot, runID);
            if (!folder) continue;  // not a folder: nothing a run left
            if (SafeFileSystem::statChild(*folder, reportedMark)) continue;  // told once already
            settleFolder(*rootFolder, *folder, "", nullptr, settlement);
            SafeFileSystem::removeEmptyFolder(*holdingRoot, runID);
        } catch (const FileError& error) {
            settlement.kept.push_back({"", error});
        }
        if (settlement.hasItems()) result.push_back(std::move(settlement));
    }
    return result;
}

}  // namespace kelto
