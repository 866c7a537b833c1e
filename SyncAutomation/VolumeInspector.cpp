#include "SyncAutomation/VolumeInspector.h"

#include "Platform/System/LinuxVolumeSource.h"
#include "SyncAutomation/FileSystemPlaces.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/PathComponents.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kelto {

namespace fs = std::filesystem;

namespace {

MountedVolume volumeOf(MountedFileSystem&& mount) {
    return {std::move(mount.mountPoint), std::move(mount.identity), std::move(mount.fileSystemRoot), mount.device,
            std::move(mount.stackedOn), std::move(mount.images), mount.onAnotherMachine, mount.placedByMarkers};
}

// Every mount of the source, pseudo file systems too, as places are told
// from them; `browsable` tells which of them are volumes.
struct Table {
    std::vector<MountedVolume> mounts;
    std::vector<bool> browsable;

    explicit Table(const VolumeSource& source) {
        for (MountedFileSystem& mount : source.mounts()) {
            browsable.push_back(mount.browsable);
            mounts.push_back(volumeOf(std::move(mount)));
        }
    }
    bool isBrowsable(const MountedVolume* mount) const {
        return browsable[static_cast<std::size_t>(mount - mounts.data())];
    }
};

}  // namespace

bool VolumeInspector::keepsFileNumbers(std::string_view fileSystem) {
    return FileSystemCapabilities::forType(fileSystem).fileNumbersLast;
}

const VolumeSource& VolumeInspector::system() {
    static const LinuxVolumeSource source;
    return source;
}

std::vector<MountedVolume> VolumeInspector::mountedVolumes(const VolumeSource& source) {
    std::vector<MountedVolume> volumes;
    for (MountedFileSystem& mount : source.mounts())
        if (mount.browsable) volumes.push_back(volumeOf(std::move(mount)));
    return volumes;
}

std::vector<MountedVolume> VolumeInspector::mounts(const VolumeSource& source) {
    return Table(source).mounts;
}

VolumeIdentity VolumeInspector::identity(const fs::path& path, const VolumeSource& source) {
    const Table table(source);
    const MountedVolume* mount = FileSystemPlaces::holder(table.mounts, path);
    if (!mount) throw FileError(ENOENT, "find the volume of", path);
    return mount->identity;
}

Endpoint VolumeInspector::endpoint(const fs::path& chosen, const VolumeSource& source) {
    char resolved[PATH_MAX];
    if (::realpath(chosen.lexically_normal().c_str(), resolved) == nullptr)
        throw FileError(errno, "resolve", chosen);
    const fs::path folder = resolved;
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) throw FileError(errno, "read the attributes of", folder);
    if (!S_ISDIR(info.st_mode)) throw VolumeInspectorError(VolumeInspectorError::Code::notAFolder, chosen);

    // Pseudo file systems hold no folders worth keeping in step.
    const Table table(source);
    const auto place = FileSystemPlaces::place(table.mounts, folder);
    if (!place || !table.isBrowsable(place->mount))
        throw VolumeInspectorError(VolumeInspectorError::Code::notAFolder, chosen);

    Endpoint endpoint;
    endpoint.path = folder.string();
    endpoint.volume = place->mount->identity;
    for (std::size_t i = 1; i < place->path.size(); ++i) {
        if (!endpoint.relativePath.empty()) endpoint.relativePath += '/';
        endpoint.relativePath += place->path[i];
    }
    if (keepsFileNumbers(endpoint.volume.fileSystem)) endpoint.fileID = info.st_ino;
    return endpoint;
}

std::optional<std::uint64_t> VolumeInspector::fileNumber(const fs::path& path, std::string_view fileSystem) {
    if (!keepsFileNumbers(fileSystem)) return std::nullopt;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return info.st_ino;
}

}  // namespace kelto
