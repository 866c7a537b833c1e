#include "SyncEngine/FileSystemTraits.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace kelto {

namespace {
bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}
}  // namespace

FileSystemTraits FileSystemTraits::forVolume(const VolumeIdentity& volume) {
    std::string name = volume.fileSystem;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });

    FileSystemTraits traits;
    traits.fileSystem = name;

    // Native file systems keep permissions and extended attributes and store
    // exact modification times; everything else gets a one-second window.
    if (isOneOf(name, {"apfs", "hfs", "ext2", "ext3", "ext4", "btrfs", "xfs", "f2fs", "zfs"})) {
        traits.preservesPermissions = true;
        traits.preservesXattrs = true;
        traits.modifyWindow = 0;
    } else if (name == "tmpfs") {
        traits.preservesPermissions = true;
        traits.modifyWindow = 0;
    }

    // FAT and exFAT fold letter case whatever the volume reports.
    const bool isFat = isOneOf(name, {"msdos", "vfat", "fat"});
    traits.caseSensitive = (isFat || name == "exfat") ? false : volume.caseSensitive;
    if (isFat) traits.maxFileSize = 4294967295;

    const bool isSmb = isOneOf(name, {"smbfs", "cifs", "smb3"});
    traits.isNetwork = volume.kind == VolumeKind::network || isSmb;
    return traits;
}

}  // namespace kelto
