#include "SyncEngine/FileSystemTraits.h"

#include "SyncModel/Support/FileSystemCapabilities.h"

#include <algorithm>

namespace kelto {

FileSystemTraits FileSystemTraits::forVolume(const VolumeIdentity& volume) {
    const FileSystemCapabilities disk = FileSystemCapabilities::forType(volume.fileSystem);
    FileSystemTraits traits;
    traits.fileSystem = disk.type;
    // The file systems of this system's own kind keep permissions (and most
    // extended attributes) and store exact modification times; everything
    // else gets a one-second window.
    traits.preservesPermissions = disk.permissions;
    traits.preservesXattrs = disk.extendedAttributes;
    traits.modifyWindow = disk.permissions ? 0 : 1;
    // A disk that folds case does so whatever the volume reports.
    traits.caseSensitive = disk.foldsCase ? false : volume.caseSensitive;
    traits.maxFileSize = disk.maxFileSize;
    traits.names = disk.names;
    // Older stored identities name an SMB share, the one kind of share that
    // folds case, by its type alone.
    traits.isNetwork = volume.kind == VolumeKind::network || (disk.network && disk.foldsCase);
    return traits;
}

FileSystemTraits FileSystemTraits::forTransfer(FileSystemTraits destination,
                                               const std::vector<FileSystemCapabilities>& disks) {
    destination.preservesXattrs =
        destination.preservesXattrs && !disks.empty() &&
        std::all_of(disks.begin(), disks.end(), [](const FileSystemCapabilities& disk) { return disk.extendedAttributes; });
    return destination;
}

FileSystemTraits FileSystemTraits::forTransfer(const FileSystemTraits& destination, const std::filesystem::path& sourceFolder,
                                               const std::filesystem::path& destinationFolder) {
    std::vector<FileSystemCapabilities> disks = FileSystemCapabilities::reachedFrom(sourceFolder);
    const std::vector<FileSystemCapabilities> written = FileSystemCapabilities::reachedFrom(destinationFolder);
    disks.insert(disks.end(), written.begin(), written.end());
    return forTransfer(destination, disks);
}

}  // namespace kelto
