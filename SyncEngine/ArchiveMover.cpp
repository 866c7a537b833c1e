#include "SyncEngine/ArchiveMover.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/SafeFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Descriptor;

namespace {

bool validRunID(const std::string& runID, const ::date::time_zone* zone) {
    try {
        return ArchiveRunID::date(runID, ArchiveRunID::zoneOrCurrent(zone)).has_value();
    } catch (const std::exception&) {
        return false;  // no time-zone data: nothing can be judged, so nothing is touched
    }
}

enum class Outcome { done, gone, failed };

Outcome takeOut(const std::string& path, int rootFolder, const fs::path& root, const std::string& runFolder,
                bool archiveEnabled) {
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    const std::string name = pieces.back();
    pieces.pop_back();

    Descriptor parent;
    int error = SafeFileSystem::openPath(rootFolder, pieces, parent, false);
    if (error == ENOENT) return Outcome::gone;
    if (error != 0) return Outcome::failed;
    struct stat info {};
    error = SafeFileSystem::statChild(parent.get(), name, info);
    if (error == ENOENT) return Outcome::gone;
    if (error != 0) return Outcome::failed;

    if (!archiveEnabled) return SafeFileSystem::removeTree(parent.get(), name) == 0 ? Outcome::done : Outcome::failed;

    const std::string destination = runFolder + "/" + path;
    if (!ArchiveDirectories::isSafeRelativePath(destination, root, true)) return Outcome::failed;
    std::vector<std::string> destinationPieces = SafeFileSystem::split(destination);
    destinationPieces.pop_back();
    Descriptor destinationParent;
    if (SafeFileSystem::openPath(rootFolder, destinationPieces, destinationParent, true) != 0) return Outcome::failed;
    return SafeFileSystem::moveWithoutReplacing(parent.get(), name, destinationParent.get(), name) == 0
               ? Outcome::done
               : Outcome::failed;
}

}  // namespace

std::vector<std::string> ArchiveMover::archive(const std::vector<std::string>& paths, const fs::path& root,
                                               const Uuid& jobID, const std::string& runID, bool archiveEnabled,
                                               std::stop_token stop, const ::date::time_zone* zone) {
    return archive(paths, root, jobID, runID, archiveEnabled, [&stop] { return stop.stop_requested(); }, zone);
}

std::vector<std::string> ArchiveMover::archive(const std::vector<std::string>& paths, const fs::path& root,
                                               const Uuid& jobID, const std::string& runID, bool archiveEnabled,
                                               const std::function<bool()>& cancelled, const ::date::time_zone* zone) {
    if (paths.empty()) return {};
    if (!validRunID(runID, zone)) return paths;

    std::vector<std::string> notDone;
    Descriptor rootFolder;
    const int rootError = SafeFileSystem::openRoot(root, rootFolder);
    const std::string runFolder = ArchiveDirectories::runFolderRelativePath(jobID, runID);
    bool stopped = false;
    for (const std::string& path : paths) {
        stopped = stopped || cancelled();
        if (stopped || !ArchiveDirectories::isSafeRelativePath(path, root, false)) {
            notDone.push_back(path);
            continue;
        }
        if (rootError == ENOENT) continue;  // nothing under a missing root
        if (rootError != 0 || takeOut(path, rootFolder.get(), root, runFolder, archiveEnabled) == Outcome::failed)
            notDone.push_back(path);
    }
    return notDone;
}

std::vector<FileError> ArchiveMover::removeEmptyDirectories(const std::vector<std::string>& paths,
                                                            const fs::path& root, std::stop_token stop) {
    return removeEmptyDirectories(paths, root, [&stop] { return stop.stop_requested(); });
}

std::vector<FileError> ArchiveMover::removeEmptyDirectories(const std::vector<std::string>& paths,
                                                            const fs::path& root,
                                                            const std::function<bool()>& cancelled) {
    std::vector<std::string> ordered = paths;
    std::stable_sort(ordered.begin(), ordered.end(), [](const std::string& x, const std::string& y) {
        return std::count(x.begin(), x.end(), '/') > std::count(y.begin(), y.end(), '/');
    });

    std::vector<FileError> failures;
    Descriptor rootFolder;
    int rootError = -1;  // opened on first use: an empty list touches nothing
    for (const std::string& path : ordered) {
        if (cancelled()) break;
        if (!ArchiveDirectories::isSafeRelativePath(path, root, false)) continue;
        if (rootError < 0) rootError = SafeFileSystem::openRoot(root, rootFolder);
        if (rootError == ENOENT) break;
        if (rootError != 0) {
            failures.emplace_back(rootError, "Could not open folder", root);
            break;
        }

        std::vector<std::string> pieces = SafeFileSystem::split(path);
        const std::string name = pieces.back();
        pieces.pop_back();
        Descriptor parent;
        int error = SafeFileSystem::openPath(rootFolder.get(), pieces, parent, false);
        if (error == 0 && ::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) != 0) error = errno;
        switch (error) {
        case 0:
        case ENOTEMPTY:
        case EEXIST:   // "not empty" on some file systems
        case ENOENT:   // already gone
        case ENOTDIR:  // a file or link stands there, or on the way: the folder is gone
            break;
        default: failures.emplace_back(error, "Could not remove folder", root / path);
        }
    }
    return failures;
}

}  // namespace kelto
