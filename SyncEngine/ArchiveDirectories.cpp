#include "SyncEngine/ArchiveDirectories.h"

#include "SyncEngine/ArchiveDirectoriesError.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/SafeFileSystem.h"
#include "SyncModel/Support/FileIO.h"

#include <cerrno>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Descriptor;

namespace {

// Opens, or makes and opens, one folder of the layout.
Descriptor prepareFolder(int parent, const std::string& name, const fs::path& fullPath) {
    struct stat info {};
    if (SafeFileSystem::statChild(parent, name, info) == 0) {
        if (!S_ISDIR(info.st_mode))
            throw ArchiveDirectoriesError(ArchiveDirectoriesError::Code::invalidFileName, fullPath);
    } else if (::mkdirat(parent, name.c_str(), 0777) != 0) {
        throw FileError(errno, "Could not create folder", fullPath);
    }
    Descriptor folder;
    const int error = SafeFileSystem::openChild(parent, name, folder);
    // Swapped for a link or a file since the check above.
    if (error == ENOTDIR) throw ArchiveDirectoriesError(ArchiveDirectoriesError::Code::invalidFileName, fullPath);
    if (error != 0) throw FileError(error, "Could not open folder", fullPath);
    return folder;
}

}  // namespace

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

    const fs::path reserved = root / reservedName;
    Descriptor rootFolder;
    // Without R there is nothing to make .KeltoSync in; report it as that failure.
    if (const int error = SafeFileSystem::openRoot(root, rootFolder); error != 0)
        throw FileError(error, "Could not create folder", reserved);

    const Descriptor reservedFolder = prepareFolder(rootFolder.get(), std::string(reservedName), reserved);
    const Descriptor archive = prepareFolder(reservedFolder.get(), std::string(archiveName), reserved / archiveName);
    prepareFolder(reservedFolder.get(), std::string(partialName), reserved / partialName);
    prepareFolder(reservedFolder.get(), std::string(temporaryName), reserved / temporaryName);
    const Descriptor job = prepareFolder(archive.get(), jobID.string(), reserved / archiveName / jobID.string());
    prepareFolder(job.get(), runID, reserved / archiveName / jobID.string() / runID);
}

bool ArchiveDirectories::treeExists(const fs::path& root, const Uuid& jobID) {
    Descriptor folder;
    if (SafeFileSystem::openRoot(root, folder) != 0) return false;
    Descriptor job;
    return SafeFileSystem::openPath(folder.get(), {std::string(reservedName), std::string(archiveName), jobID.string()},
                                    job, false) == 0;
}

bool ArchiveDirectories::isSafeRelativePath(std::string_view path, const fs::path& root, bool allowReserved) {
    if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) return false;
    const std::vector<std::string> pieces = SafeFileSystem::split(path);
    for (const std::string& piece : pieces)
        if (piece.empty() || piece == "." || piece == "..") return false;
    if (!allowReserved && pieces.front() == reservedName) return false;

    Descriptor current;
    // What cannot be read cannot lead elsewhere; only what exists is judged.
    if (SafeFileSystem::openRoot(root, current) != 0) return true;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        struct stat info {};
        if (SafeFileSystem::statChild(current.get(), pieces[i], info) != 0) return true;
        if (!S_ISDIR(info.st_mode)) return false;
        Descriptor next;
        const int error = SafeFileSystem::openChild(current.get(), pieces[i], next);
        if (error == ENOTDIR) return false;
        if (error != 0) return true;
        current = std::move(next);
    }
    return true;
}

}  // namespace kelto
