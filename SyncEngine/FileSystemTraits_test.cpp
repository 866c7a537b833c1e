#include "SyncEngine/FileSystemTraits.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {
VolumeIdentity volume(std::string fileSystem, bool caseSensitive = true, VolumeKind kind = VolumeKind::internal) {
    VolumeIdentity v;
    v.kind = kind;
    v.fileSystem = std::move(fileSystem);
    v.caseSensitive = caseSensitive;
    return v;
}
}  // namespace

TEST(FileSystemTraits, TheRowIsFoundByNameInAnyCaseAndNetworkComesFromKindOrSmbNames) {
    for (const char* name : {"APFS", "ext4", "btrfs"}) {
        const auto t = FileSystemTraits::forVolume(volume(name, false));
        EXPECT_TRUE(t.preservesPermissions && t.preservesXattrs) << name;
        EXPECT_FALSE(t.preservesCrtimes) << name;
        EXPECT_FALSE(t.caseSensitive) << name;  // the volume's own flag
    }
    EXPECT_TRUE(FileSystemTraits::forVolume(volume("ext4", true)).caseSensitive);
    EXPECT_EQ(FileSystemTraits::forVolume(volume("APFS")).fileSystem, "apfs");
    for (const char* name : {"msdos", "VFAT", "exfat"}) {
        const auto t = FileSystemTraits::forVolume(volume(name, true));
        EXPECT_FALSE(t.caseSensitive) << name;
        EXPECT_EQ(t.maxFileSize.has_value(), name[0] != 'e') << name;
    }
    for (const char* name : {"smbfs", "cifs", "smb3"})
        EXPECT_TRUE(FileSystemTraits::forVolume(volume(name)).isNetwork) << name;
    EXPECT_FALSE(FileSystemTraits::forVolume(volume("nfs4")).isNetwork);
    EXPECT_TRUE(FileSystemTraits::forVolume(volume("nfs4", true, VolumeKind::network)).isNetwork);
}

TEST(FileSystemTraits, UnknownNamesGetTheCautiousRow) {
    const auto t = FileSystemTraits::forVolume(volume("", true));
    EXPECT_EQ(t.fileSystem, "");
    EXPECT_FALSE(t.caseSensitive);  // a disk the table does not know may fold case
    EXPECT_FALSE(t.preservesPermissions);
    EXPECT_EQ(t.modifyWindow, 1);
}
