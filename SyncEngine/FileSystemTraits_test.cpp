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

TEST(FileSystemTraits, NativeRowsKeepMetadataWithExactTimesButNeverCreationTimes) {
    for (const char* name : {"APFS", "hfs", "ext4", "btrfs", "xfs", "zfs"}) {
        const auto t = FileSystemTraits::forVolume(volume(name, false));
        EXPECT_TRUE(t.preservesPermissions) << name;
        EXPECT_TRUE(t.preservesXattrs) << name;
        EXPECT_FALSE(t.preservesCrtimes) << name;
        EXPECT_EQ(t.modifyWindow, 0) << name;
        EXPECT_FALSE(t.caseSensitive) << name;  // the volume's own flag
        EXPECT_FALSE(t.maxFileSize) << name;
    }
    EXPECT_EQ(FileSystemTraits::forVolume(volume("APFS")).fileSystem, "apfs");
    const auto tmp = FileSystemTraits::forVolume(volume("tmpfs"));
    EXPECT_TRUE(tmp.preservesPermissions);
    EXPECT_FALSE(tmp.preservesXattrs);
    EXPECT_EQ(tmp.modifyWindow, 0);
}

TEST(FileSystemTraits, FatFamilyFoldsCaseAndLimitsFileSize) {
    for (const char* name : {"msdos", "vfat", "VFAT"}) {
        const auto t = FileSystemTraits::forVolume(volume(name, true));
        EXPECT_FALSE(t.caseSensitive) << name;
        EXPECT_EQ(t.maxFileSize, 4294967295) << name;
        EXPECT_EQ(t.modifyWindow, 1) << name;
        EXPECT_FALSE(t.preservesPermissions) << name;
    }
    const auto exfat = FileSystemTraits::forVolume(volume("exfat", true));
    EXPECT_FALSE(exfat.caseSensitive);
    EXPECT_FALSE(exfat.maxFileSize);
}

TEST(FileSystemTraits, NetworkComesFromKindOrSmbNames) {
    EXPECT_TRUE(FileSystemTraits::forVolume(volume("hfs", true, VolumeKind::network)).isNetwork);
    EXPECT_EQ(FileSystemTraits::forVolume(volume("hfs", true, VolumeKind::network)).modifyWindow, 0);
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
    auto withLimit = t;
    withLimit.maxFileSize = 4294967295;
    EXPECT_NE(t, withLimit);
}
