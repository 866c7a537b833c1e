#pragma once

#include "SyncModel/Support/Uuid.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace date {
class time_zone;
}

namespace kelto {

namespace SafeFileSystem {
struct Folder;
}

// The reserved folder at the root R of every synchronised folder:
//   .KeltoSync/Archive/<job UUID>/<run identifier>/<path>  archived items
//   .KeltoSync/Partial                                   rsync's partial transfers
//   .KeltoSync/Temporary                                 rsync's files in the making
//   .KeltoSync/Holding/<run identifier>/<path>           what a mirror without archive took
//                                                        and has not settled (HoldingFolder)
// Nothing here follows a symbolic link below R.
struct ArchiveDirectories {
    static constexpr std::string_view reservedName = ".KeltoSync";
    static constexpr std::string_view archiveName = "Archive";
    static constexpr std::string_view partialName = "Partial";
    static constexpr std::string_view temporaryName = "Temporary";
    static constexpr std::string_view holdingName = "Holding";

    // Whether a path relative to R names the reserved folder or lies in it;
    // a folder's trailing "/" is allowed.
    static bool isReservedPath(std::string_view path);

    // ".KeltoSync/Archive/<job UUID>/<run identifier>", relative to R.
    static std::string runFolderRelativePath(const Uuid& jobID, std::string_view runID);

    // R/.KeltoSync/Archive/<job UUID>; touches nothing.
    static std::filesystem::path jobArchiveURL(const std::filesystem::path& root, const Uuid& jobID);

    // Makes .KeltoSync, its Archive, Partial, Temporary and Holding folders,
    // the job archive folder and the run folder exist, in that order; folders
    // made before a failure stay. Throws ArchiveDirectoriesError
    // (invalidFileName) for a run identifier that does not parse, before
    // touching the disk, or for a layout item that is not a real folder (a
    // symbolic link included), and FileError when a folder cannot be made.
    static void prepareTree(const std::filesystem::path& root, const Uuid& jobID, const std::string& runID,
                            const ::date::time_zone* zone = nullptr);

    // Removes the run folder when it holds nothing: rsync and the mover make
    // what they archive into, so a run that archived nothing leaves none
    // behind. Never throws; a folder that holds anything stays.
    static void removeRunFolderIfEmpty(const std::filesystem::path& root, const Uuid& jobID,
                                       const std::string& runID) noexcept;

    // Whether .KeltoSync, its Archive folder and the job archive folder all
    // exist as real folders. Never throws.
    static bool treeExists(const std::filesystem::path& root, const Uuid& jobID);

    // Whether the relative path may be acted on under R: not empty, relative,
    // no NUL, no empty, "." or ".." piece, not into the reserved folder unless
    // allowed, and no symbolic link or file among the existing folders on the
    // way. The last piece itself is not examined. Never throws.
    static bool isSafeRelativePath(std::string_view path, const std::filesystem::path& root, bool allowReserved);
    // The same below R opened already, for many paths.
    static bool isSafeRelativePath(std::string_view path, const SafeFileSystem::Folder& root, bool allowReserved);
};

}  // namespace kelto
