#include "SyncEngine/TransferScratch.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"

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

}  // namespace

// Absolute, since rsync takes a relative partial folder as one beside each file.
fs::path TransferScratch::partialFolder(const fs::path& root) {
    return fs::absolute(root) / ArchiveDirectories::reservedName / ArchiveDirectories::partialName;
}

fs::path TransferScratch::temporaryFolder(const fs::path& root) {
    return fs::absolute(root) / ArchiveDirectories::reservedName / ArchiveDirectories::temporaryName;
}

fs::path TransferScratch::temporaryRelativePath() {
    return fs::path(ArchiveDirectories::reservedName) / ArchiveDirectories::temporaryName;
}

void TransferScratch::assign(RsyncInvocation& transfer, const fs::path& root, const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    transfer.partialDirectory = partialFolder(root);
    transfer.temporaryDirectory = temporaryFolderFor(root, paths);
}

void TransferScratch::clearTemporaries(const fs::path& root) {
    const std::optional<SafeFileSystem::Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
    const std::optional<SafeFileSystem::Folder> temporaries = SafeFileSystem::openPath(
        *rootFolder, {std::string(ArchiveDirectories::reservedName), std::string(ArchiveDirectories::temporaryName)});
    if (!temporaries) return;
    for (const std::string& name : SafeFileSystem::listNames(*temporaries)) SafeFileSystem::removeTree(*temporaries, name);
}

std::optional<fs::path> TransferScratch::temporaryFolderFor(const fs::path& root, const std::vector<std::string>& paths) {
    try {
        std::optional<SafeFileSystem::Folder> rootFolder = SafeFileSystem::openRoot(root);
        if (!rootFolder) return std::nullopt;
        const int rootDescriptor = rootFolder->get();
        const std::string reserved = std::string(ArchiveDirectories::reservedName) + "/" +
                                     std::string(ArchiveDirectories::temporaryName);
        const std::optional<std::uint64_t> scratchMount = mountOf(rootDescriptor, reserved.c_str());
        if (!scratchMount || mountOf(rootDescriptor, ".") != scratchMount) return std::nullopt;

        // Folders found on the scratch mount; the lists come grouped by folder,
        // and a folder rsync makes lands on its nearest existing ancestor's mount.
        SafeFileSystem::PathLookup lookup(std::move(*rootFolder));
        std::unordered_set<std::string> onScratchMount;
        for (const std::string& path : paths) {
            std::string folder = path;
            for (;;) {
                const std::size_t slash = folder.rfind('/');
                folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
                if (folder.empty() || onScratchMount.contains(folder)) break;
                const std::optional<struct stat> info = lookup.stat(folder);
                if (!info || !S_ISDIR(info->st_mode)) continue;  // made by the transfer, or replaced
                if (mountOf(rootDescriptor, folder.c_str()) != scratchMount) return std::nullopt;
                onScratchMount.insert(folder);
                break;
            }
        }
        return temporaryRelativePath();
    } catch (const FileError&) {
        return std::nullopt;  // not examined: taken for another mount
    }
}

}  // namespace kelto
