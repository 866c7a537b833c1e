#include "SyncEngine/ArchiveDirectories.h"

#include "SyncEngine/ArchiveDirectoriesError.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <cerrno>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Folder;

namespace {

// Opens, or makes and opens, one folder of the layout.
Folder prepareFolder(const Folder& parent, const std::string& name) {
    try {
        return SafeFileSystem::ensureFolder(parent, name);
    } catch (const FileError& error) {
        // A link or a file stands where the folder belongs.
        if (error.errorNumber() == ENOTDIR)
            throw ArchiveDirectoriesError(ArchiveDirectoriesError::Code::invalidFileName, error.path());
        throw;
    }
}

}  // namespace

bool ArchiveDirectories::isReservedPath(std::string_view path) {
    return path.starts_with(reservedName) && (path.size() == reservedName.size() || path[reservedName.size()] == '/');
}

std::string ArchiveDirectories::runFolderRelativePath(const Uuid& jobID, std::string_view runID) {
    return std::string(reservedName) + "/" + std::string(archiveName) + "/" + jobID.string() + "/" + std::string(runID);
}

fs::path ArchiveDirectories::jobArchiveURL(const fs::path& root, const Uuid& jobID) {
    return root / reservedName / archiveName / jobID.string();
}

void ArchiveDirectories::prepareTree(const fs::path& root, const Uuid& jobID, const std::string& runID,
                                     const ::date::time_zone* zone) {
    if (!ArchiveRunID::date(runID, ArchiveRunID::zoneOrCurrent(zone)))
        throw ArchiveDirectoriesError(ArchiveDirectoriesError::Code::invalidFileName, runID);

    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    // Without R there is nothing to make .KeltoSync in; report it as that failure.
    if (!rootFolder) throw FileError(ENOENT, "Could not create folder", root / reservedName);

    const Folder reservedFolder = prepareFolder(*rootFolder, std::string(reservedName));
    const Folder archive = prepareFolder(reservedFolder, std::string(archiveName));
    prepareFolder(reservedFolder, std::string(partialName));
    prepareFolder(reservedFolder, std::string(temporaryName));
    prepareFolder(reservedFolder, std::string(holdingName));
    const Folder job = prepareFolder(archive, jobID.string());
    prepareFolder(job, runID);
}

void ArchiveDirectories::removeRunFolderIfEmpty(const fs::path& root, const Uuid& jobID,
                                                const std::string& runID) noexcept {
    try {
        const std::optional<Folder> folder = SafeFileSystem::openRoot(root);
        if (!folder) return;
        const std::optional<Folder> job =
            SafeFileSystem::openPath(*folder, {std::string(reservedName), std::string(archiveName), jobID.string()});
        if (job) SafeFileSystem::removeEmptyFolder(*job, runID);
    } catch (...) {
    }
}

bool ArchiveDirectories::treeExists(const fs::path& root, const Uuid& jobID) {
    try {
        const std::optional<Folder> folder = SafeFileSystem::openRoot(root);
        return folder && SafeFileSystem::openPath(*folder, {std::string(reservedName), std::string(archiveName),
                                                            jobID.string()});
    } catch (const FileError&) {
        return false;
    }
}

namespace {

// The pieces of a path that may be acted on, judged by their names alone;
// nothing where it may not.
std::optional<std::vector<std::string>> safePieces(std::string_view path, bool allowReserved) {
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) return std::nullopt;
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    for (const std::string& piece : pieces)
        if (piece.empty() || piece == "." || piece == "..") return std::nullopt;
    if (!allowReserved && pieces.front() == ArchiveDirectories::reservedName) return std::nullopt;
    return pieces;
}

// Whether no link or file stands among the existing folders on the way.
bool safeWay(const Folder& root, const std::vector<std::string>& pieces) {
    // What cannot be read cannot lead elsewhere; only what exists is judged.
    try {
        // Every folder on the way there and a real one: one call tells.
        if (pieces.size() == 1 || SafeFileSystem::openPath(root, {pieces.begin(), pieces.end() - 1})) return true;
        std::optional<Folder> current;
        const Folder* at = &root;
        for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
            const std::optional<struct stat> info = SafeFileSystem::statChild(*at, pieces[i]);
            if (!info) return true;
            if (!S_ISDIR(info->st_mode)) return false;
            current = SafeFileSystem::openChild(*at, pieces[i]);
            if (!current) return false;  // swapped for a link or a file since
            at = &*current;
        }
    } catch (const FileError&) {
    }
    return true;
}

}  // namespace

bool ArchiveDirectories::isSafeRelativePath(std::string_view path, const fs::path& root, bool allowReserved) {
    const std::optional<std::vector<std::string>> pieces = safePieces(path, allowReserved);
    if (!pieces) return false;
    std::optional<Folder> folder;
    try {
        folder = SafeFileSystem::openRoot(root);
    } catch (const FileError&) {
    }
    return !folder || safeWay(*folder, *pieces);
}

bool ArchiveDirectories::isSafeRelativePath(std::string_view path, const Folder& root, bool allowReserved) {
    const std::optional<std::vector<std::string>> pieces = safePieces(path, allowReserved);
    return pieces && safeWay(root, *pieces);
}

}  // namespace kelto
