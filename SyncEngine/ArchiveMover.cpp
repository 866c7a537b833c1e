#include "SyncEngine/ArchiveMover.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <algorithm>
#include <cerrno>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Folder;

namespace {

bool validRunID(const std::string& runID, const ::date::time_zone* zone) {
    try {
        return ArchiveRunID::date(runID, ArchiveRunID::zoneOrCurrent(zone)).has_value();
    } catch (const std::exception&) {
        return false;  // no time-zone data: nothing can be judged, so nothing is touched
    }
}

// Takes one item out; an item already gone is done. Throws FileError.
void takeOut(const std::string& path, const Folder& root, const std::string& runFolder, bool archiveEnabled) {
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    const std::string name = pieces.back();
    pieces.pop_back();
    // Gone is done; a file or link standing where a folder on the way was is
    // not: the item may still exist elsewhere, so it stays unsettled.
    std::optional<Folder> parent = SafeFileSystem::openPath(root, pieces);
    if (!parent) {
        // Which folder on the way is missing, or taken by something else, the walk tells.
        parent = SafeFileSystem::openPath(root, {});
        for (const std::string& piece : pieces) {
            std::optional<Folder> next = SafeFileSystem::openChild(*parent, piece);
            if (!next) {
                if (SafeFileSystem::statChild(*parent, piece))
                    throw FileError(ENOTDIR, "Could not open folder", *parent / piece);
                return;
            }
            parent = std::move(next);
        }
    }
    if (!SafeFileSystem::statChild(*parent, name)) return;

    if (!archiveEnabled) return SafeFileSystem::removeTree(*parent, name);
    // Made without following a link: a link in the reserved folder's place
    // fails here (ENOTDIR) rather than leading the item elsewhere.
    std::vector<std::string> destination = SafeFileSystem::split(runFolder + "/" + path);
    destination.pop_back();
    SafeFileSystem::moveToFreeName(*parent, name, SafeFileSystem::ensurePath(root, destination), name,
                                   SafeFileSystem::Writers::thisRunAlone);
}

}  // namespace

std::vector<ArchiveMover::Failure> ArchiveMover::archive(const std::vector<std::string>& paths, const fs::path& root,
                                                         const Uuid& jobID, const std::string& runID,
                                                         bool archiveEnabled, std::stop_token stop,
                                                         const ::date::time_zone* zone) {
    return archive(paths, root, jobID, runID, archiveEnabled, [&stop] { return stop.stop_requested(); }, zone);
}

std::vector<ArchiveMover::Failure> ArchiveMover::archive(const std::vector<std::string>& paths, const fs::path& root,
                                                         const Uuid& jobID, const std::string& runID,
                                                         bool archiveEnabled, const std::function<bool()>& cancelled,
                                                         const ::date::time_zone* zone) {
    std::vector<Failure> failures;
    const auto refuse = [&](const std::string& path, int error) {
        failures.push_back({path, FileError(error, "Could not archive", root / path)});
    };
    if (paths.empty()) return failures;
    if (!validRunID(runID, zone)) {
        for (const std::string& path : paths) refuse(path, EINVAL);
        return failures;
    }

    std::optional<Folder> rootFolder;
    std::optional<FileError> rootError;
    try {
        rootFolder = SafeFileSystem::openRoot(root);
    } catch (const FileError& error) {
        rootError = error;
    }
    const std::string runFolder = ArchiveDirectories::runFolderRelativePath(jobID, runID);
    bool stopped = false;
    for (const std::string& path : paths) {
        stopped = stopped || cancelled();
        if (stopped) {
            refuse(path, ECANCELED);
        } else if (!ArchiveDirectories::isSafeRelativePath(path, root, false)) {
            refuse(path, EINVAL);
        } else if (rootError) {
            failures.push_back({path, *rootError});
        } else if (rootFolder) {  // nothing under a missing root
            try {
                takeOut(path, *rootFolder, runFolder, archiveEnabled);
            } catch (const FileError& error) {
                failures.push_back({path, error});
            }
        }
    }
    return failures;
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
    std::optional<Folder> rootFolder;
    bool rootOpened = false;  // opened on first use: an empty list touches nothing
    for (const std::string& path : ordered) {
        if (cancelled()) break;
        if (!ArchiveDirectories::isSafeRelativePath(path, root, false)) continue;
        if (!rootOpened) {
            rootOpened = true;
            try {
                rootFolder = SafeFileSystem::openRoot(root);
            } catch (const FileError& error) {
                failures.push_back(error);
            }
        }
        if (!rootFolder) break;

        std::vector<std::string> pieces = SafeFileSystem::split(path);
        const std::string name = pieces.back();
        pieces.pop_back();
        // A folder that holds something, is gone, or has a file or link in
        // its place or on the way is left alone.
        try {
            if (const std::optional<Folder> parent = SafeFileSystem::openPath(*rootFolder, pieces))
                SafeFileSystem::removeEmptyFolder(*parent, name);
        } catch (const FileError& error) {
            // The folder stays, whichever step failed; the run reports that folder.
            failures.emplace_back(error.errorNumber(), "Could not remove folder", *rootFolder / path);
        }
    }
    return failures;
}

}  // namespace kelto
