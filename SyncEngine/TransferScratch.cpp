#include "SyncEngine/TransferScratch.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/SafeFileSystem.h"
#include "SyncModel/Support/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <string_view>
#include <unordered_set>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// The mount a folder belongs to; nullopt when it cannot be told.
std::optional<std::uint64_t> mountOf(int directory, const char* relative) {
    struct statx info {};
    if (::statx(directory, relative, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID, &info) != 0)
        return std::nullopt;
    if (!(info.stx_mask & STATX_MNT_ID)) return std::nullopt;
    return info.stx_mnt_id;
}

bool isFolder(int directory, const std::string& relative) {
    struct stat info {};
    return ::fstatat(directory, relative.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

// Absolute, since rsync takes a relative partial folder as one beside each file.
fs::path TransferScratch::partialFolder(const fs::path& root) {
    return fs::absolute(root) / ArchiveDirectories::reservedName / ArchiveDirectories::partialName;
}

fs::path TransferScratch::temporaryFolder(const fs::path& root) {
    return fs::absolute(root) / ArchiveDirectories::reservedName / ArchiveDirectories::temporaryName;
}

void TransferScratch::clearTemporaries(const fs::path& root) {
    const fs::path folder = temporaryFolder(root);
    SafeFileSystem::Descriptor rootFolder, temporaries;
    if (const int error = SafeFileSystem::openRoot(root, rootFolder)) throw FileError(error, "Could not open folder", root);
    const int error = SafeFileSystem::openPath(
        rootFolder.get(), {std::string(ArchiveDirectories::reservedName), std::string(ArchiveDirectories::temporaryName)},
        temporaries, false);
    if (error == ENOENT) return;
    if (error != 0) throw FileError(error, "Could not open folder", folder);
    std::vector<std::string> names;
    if (const int listError = SafeFileSystem::listNames(temporaries.get(), names))
        throw FileError(listError, "Could not read folder", folder);
    for (const std::string& name : names)
        if (const int removeError = SafeFileSystem::removeTree(temporaries.get(), name))
            throw FileError(removeError, "Could not remove", folder / name);
}

std::optional<fs::path> TransferScratch::temporaryFolderFor(const fs::path& root, const std::vector<std::string>& paths) {
    SafeFileSystem::Descriptor rootFolder;
    if (SafeFileSystem::openRoot(root, rootFolder) != 0) return std::nullopt;
    const std::string reserved = std::string(ArchiveDirectories::reservedName) + "/" +
                                 std::string(ArchiveDirectories::temporaryName);
    const std::optional<std::uint64_t> scratchMount = mountOf(rootFolder.get(), reserved.c_str());
    if (!scratchMount || mountOf(rootFolder.get(), ".") != scratchMount) return std::nullopt;

    // Folders already found on the scratch mount; the lists come grouped by
    // folder, and a folder rsync makes lands on its nearest existing ancestor's.
    std::unordered_set<std::string> onScratchMount;
    for (const std::string& path : paths) {
        std::string folder = path;
        for (;;) {
            const std::size_t slash = folder.rfind('/');
            folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
            if (folder.empty() || onScratchMount.contains(folder)) break;
            if (!isFolder(rootFolder.get(), folder)) continue;  // made by the transfer, or replaced
            const std::optional<std::uint64_t> mount = mountOf(rootFolder.get(), folder.c_str());
            if (mount != scratchMount) return std::nullopt;
            onScratchMount.insert(folder);
            break;
        }
    }
    return temporaryFolder(root);
}

}  // namespace kelto
