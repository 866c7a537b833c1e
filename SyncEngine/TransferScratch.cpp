#include "SyncEngine/TransferScratch.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdint>
#include <string_view>
#include <unordered_set>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// A folder's mount and file system: a rename succeeds only between folders
// with the same (a bind mount or a btrfs subvolume breaks it either way).
struct Placement {
    std::uint64_t mount = 0;
    dev_t device = 0;
    bool operator==(const Placement&) const = default;
};

// nullopt when it cannot be told, also on kernels that do not name mounts.
std::optional<Placement> placementOf(int directory, const std::string& relative) {
    struct statx info {};
    if (::statx(directory, relative.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID,
                &info) != 0)
        return std::nullopt;
    if (!(info.stx_mask & STATX_MNT_ID)) return std::nullopt;
    return Placement{info.stx_mnt_id, makedev(info.stx_dev_major, info.stx_dev_minor)};
}

// The nearest folder that exists at `path` or above it (relative to the
// lookup's root; "" for the root itself): where a folder rsync makes lands.
std::string nearestExistingFolder(SafeFileSystem::PathLookup& lookup, std::string path) {
    while (!path.empty()) {
        const std::optional<struct stat> info = lookup.stat(path);
        if (info && S_ISDIR(info->st_mode)) return path;
        const std::size_t slash = path.rfind('/');
        path = slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    return path;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

// Absolute, since rsync takes a relative partial folder as one beside each file.
fs::path TransferScratch::partialFolder(const fs::path& root) {
    return fs::absolute(root) / ArchiveDirectories::reservedName / ArchiveDirectories::partialName;
}

// Relative: rsync walks every piece of it for each file it writes.
fs::path TransferScratch::temporaryRelativePath() {
    return fs::path(ArchiveDirectories::reservedName) / ArchiveDirectories::temporaryName;
}

TransferScratch::Claim TransferScratch::claim(const fs::path& root, const std::function<void()>& whileAlone) {
    const std::optional<SafeFileSystem::Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
    std::optional<SafeFileSystem::Folder> folder = SafeFileSystem::openPath(
        *rootFolder, {std::string(ArchiveDirectories::reservedName), std::string(ArchiveDirectories::temporaryName)});
    if (!folder) throw FileError(ENOENT, "Could not open folder", root / temporaryRelativePath());

    Claim claim;
    // flock needs a descriptor opened for more than a path.
    claim.folder_.reset(::openat(folder->get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!claim.folder_.valid()) {
        const int error = errno;
        throw FileError(error, "Could not open folder", folder->path);
    }
    // Only a run that finds nobody else here may clear: another run's
    // temporaries are files in the making.
    if (::flock(claim.folder_.get(), LOCK_EX | LOCK_NB) == 0) {
        for (const std::string& name : SafeFileSystem::listNames(*folder)) {
            try {
                SafeFileSystem::removeTree(*folder, name);
            } catch (const FileError& error) {
                claim.leftovers_.push_back(error);
            }
        }
        if (whileAlone) whileAlone();
    }
    // Not atomic: another run may take the folder alone in between, which is
    // harmless, since this one has nothing in the making yet.
    if (::flock(claim.folder_.get(), LOCK_SH) != 0) {
        const int error = errno;
        throw FileError(error, "Could not lock folder", folder->path);
    }
    return claim;
}

namespace {

bool resumesOn(const fs::path& root) {
    const FileDescriptor folder(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return folder.valid() && FileSystemCapabilities::ofOpen(folder.get()).writesAnywhere;
}

}  // namespace

void TransferScratch::assign(RsyncInvocation& transfer, const fs::path& root, const std::vector<std::string>& paths,
                             bool listComplete, std::optional<std::int64_t> largest) {
    if (paths.empty() && listComplete) return;
    // rsync runs in the held destination (RsyncRunner::runBetween): its own
    // working folder leads there whatever the side's path names by now, and
    // unlike a path through this process's descriptors it holds in rsync's
    // processes too.
    // Resuming writes into a file out of order, which some disks refuse: a
    // kept partial would then fail every later run rather than be copied whole.
    if ((!listComplete || !largest || *largest >= resumableSize) && resumesOn(root))
        transfer.partialDirectory = fs::path("/proc/self/cwd") / ArchiveDirectories::reservedName /
                                    ArchiveDirectories::partialName;
    transfer.temporaryDirectory = temporaryFolderFor(root, paths);
}

std::optional<fs::path> TransferScratch::temporaryFolderFor(const fs::path& root, const std::vector<std::string>& paths) {
    try {
        std::optional<SafeFileSystem::Folder> rootFolder = SafeFileSystem::openRoot(root);
        if (!rootFolder) return std::nullopt;
        const int rootDescriptor = rootFolder->get();
        const std::optional<Placement> scratch = placementOf(rootDescriptor, temporaryRelativePath().native());
        if (!scratch || placementOf(rootDescriptor, ".") != scratch) return std::nullopt;

        // The lists come grouped by folder: each folder is judged once.
        SafeFileSystem::PathLookup lookup(std::move(*rootFolder));
        std::unordered_set<std::string> judged{""};
        for (const std::string& path : paths) {
            const std::string parent = parentOf(path);
            if (judged.contains(parent)) continue;
            const std::string folder = nearestExistingFolder(lookup, parent);
            if (!judged.contains(folder) && placementOf(rootDescriptor, folder) != scratch) return std::nullopt;
            judged.insert(folder);
            judged.insert(parent);
        }
        return temporaryRelativePath();
    } catch (const FileError&) {
        return std::nullopt;
    }
}

}  // namespace kelto
