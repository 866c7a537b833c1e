#include "SyncAutomation/VolumeInspector.h"

#include "Platform/System/LinuxVolumeSource.h"
#include "SyncModel/Support/FileIO.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// The mount of `source` holding `path`: the longest mount point text wins,
// the earlier one on a tie.
std::optional<MountedFileSystem> holder(const fs::path& path, const VolumeSource& source) {
    const auto target = VolumeInspector::components(path);
    std::optional<MountedFileSystem> best;
    for (MountedFileSystem& mount : source.mounts()) {
        if (!VolumeInspector::isPrefix(VolumeInspector::components(mount.mountPoint), target)) continue;
        if (!best || mount.mountPoint.native().size() > best->mountPoint.native().size()) best = std::move(mount);
    }
    return best;
}

bool storesNoFileNumbers(std::string_view fs) {
    // Also FUSE file systems (sshfs numbers its items afresh at each mount) and 9p.
    return fs == "vfat" || fs == "msdos" || fs == "exfat" || fs == "ntfs3" || fs == "ntfs" || fs == "fuseblk" ||
           fs == "cifs" || fs == "smb3" || fs == "smbfs" || fs.starts_with("fuse.") || fs == "9p" ||
           fs == "davfs";
}

}  // namespace

const VolumeSource& VolumeInspector::system() {
    static const LinuxVolumeSource source;
    return source;
}

std::vector<MountedVolume> VolumeInspector::mountedVolumes(const VolumeSource& source) {
    std::vector<MountedVolume> volumes;
    for (MountedFileSystem& mount : source.mounts())
        if (mount.browsable)
            volumes.push_back({std::move(mount.mountPoint), std::move(mount.identity), std::move(mount.fileSystemRoot),
                               mount.device});
    return volumes;
}

VolumeIdentity VolumeInspector::identity(const fs::path& path, const VolumeSource& source) {
    auto mount = holder(path, source);
    if (!mount) throw FileError(ENOENT, "find the volume of", path);
    return std::move(mount->identity);
}

bool VolumeInspector::isPrefix(const std::vector<std::string>& prefix, const std::vector<std::string>& components) {
    return prefix.size() <= components.size() && std::equal(prefix.begin(), prefix.end(), components.begin());
}

std::vector<std::string> VolumeInspector::components(const fs::path& path) {
    std::vector<std::string> parts;
    for (const fs::path& part : path.lexically_normal())
        if (!part.empty()) parts.push_back(part.string());
    return parts;
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
    const auto mount = holder(folder, source);
    if (!mount || !mount->browsable) throw VolumeInspectorError(VolumeInspectorError::Code::notAFolder, chosen);

    const auto place = fileSystemPath(mount->mountPoint, mount->fileSystemRoot, folder);
    if (!place) throw VolumeInspectorError(VolumeInspectorError::Code::notAFolder, chosen);

    Endpoint endpoint;
    endpoint.path = folder.string();
    endpoint.volume = mount->identity;
    for (std::size_t i = 1; i < place->size(); ++i) {
        if (!endpoint.relativePath.empty()) endpoint.relativePath += '/';
        endpoint.relativePath += (*place)[i];
    }
    if (!storesNoFileNumbers(mount->identity.fileSystem)) endpoint.fileID = info.st_ino;
    return endpoint;
}

std::optional<std::vector<std::string>> VolumeInspector::fileSystemPath(const fs::path& mountPoint,
                                                                         const std::string& fileSystemRoot,
                                                                         const fs::path& path) {
    if (fileSystemRoot.empty()) return std::nullopt;
    const auto mountParts = components(mountPoint);
    const auto pathParts = components(path);
    if (!isPrefix(mountParts, pathParts)) return std::nullopt;
    std::vector<std::string> place = components(fs::path("/") / fileSystemRoot);
    place.insert(place.end(), pathParts.begin() + static_cast<std::ptrdiff_t>(mountParts.size()), pathParts.end());
    return place;
}

std::optional<std::uint64_t> VolumeInspector::fileNumber(const fs::path& path, std::string_view fileSystem) {
    if (storesNoFileNumbers(fileSystem)) return std::nullopt;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return info.st_ino;
}

}  // namespace kelto
