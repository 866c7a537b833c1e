#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/VolumeIdentity.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

FileSystemCapabilities row(const char* type) { return FileSystemCapabilities::forType(type); }

TEST(FileSystemCapabilities, AnUnknownTypeKeepsTheLeast) {
    for (const char* type : {"fuse.newfs", "", "zonefs", "fuse", "fuse.bindfs"}) {
        const FileSystemCapabilities least = row(type);
        EXPECT_FALSE(least.known) << type;
        EXPECT_FALSE(least.fileNumbersLast || least.kernelStampsChange || least.extendedAttributes || least.permissions)
            << type;
        EXPECT_EQ(least.hardLinks, FileSystemCapabilities::HardLinks::none) << type;
        EXPECT_TRUE(least.foldsCase) << type;
        EXPECT_FALSE(least.maxFileSize) << type;
    }
    EXPECT_TRUE(FileSystemCapabilities{}.foldsCase);
    EXPECT_FALSE(FileSystemCapabilities::forMagic(std::nullopt).known);
    EXPECT_FALSE(FileSystemCapabilities::ofOpen(-1).known);
    EXPECT_EQ(row("EXT4").type, "ext4");
    EXPECT_TRUE(row("EXT4").known);
}

VolumeIdentity local(VolumeKind kind, std::optional<std::string> uuid, std::string name = "Disk") {
    VolumeIdentity v;
    v.kind = kind;
    v.uuid = std::move(uuid);
    v.name = std::move(name);
    v.fileSystem = "ext4";
    return v;
}

VolumeIdentity share(const char* url, std::string name) {
    VolumeIdentity v;
    v.kind = VolumeKind::network;
    v.remountURL = Url::parse(url);
    v.name = std::move(name);
    return v;
}

TEST(VolumeIdentityMatches, LocalVolumesByUuidAloneAndSharesByHostPathAndName) {
    const VolumeIdentity a = local(VolumeKind::removable, "ABCD-1234", "Backup");
    VolumeIdentity renamed = local(VolumeKind::removable, "ABCD-1234", "Other");
    renamed.fileSystem = "vfat";
    renamed.isReadOnly = true;
    EXPECT_TRUE(a.matches(renamed));
    EXPECT_TRUE(renamed.matches(a));
    EXPECT_FALSE(a.matches(local(VolumeKind::removable, "abcd-1234", "Backup")));  // exact text
    EXPECT_FALSE(a.matches(local(VolumeKind::internal, "ABCD-1234", "Backup")));   // kind differs
    EXPECT_FALSE(a.matches(local(VolumeKind::removable, std::nullopt, "Backup")));
    EXPECT_FALSE(local(VolumeKind::internal, std::nullopt).matches(local(VolumeKind::internal, std::nullopt)));
    EXPECT_FALSE(local(VolumeKind::removable, "").matches(local(VolumeKind::removable, "")));  // a damaged job file
    const VolumeIdentity nas = share("smb://NAS.local/Photos", "Photos");
    VolumeIdentity b = share("smb://nas.LOCAL/Photos", "Photos");
    b.uuid = "different";
    b.fileSystem = "smb3";
    EXPECT_TRUE(nas.matches(b));
    EXPECT_TRUE(b.matches(nas));
    EXPECT_FALSE(nas.matches(share("smb://nas.local/photos", "Photos")));  // path is exact
    EXPECT_FALSE(nas.matches(share("smb://nas.local/Photos", "Photos-1")));
    EXPECT_FALSE(nas.matches(share("smb://other/Photos", "Photos")));
    VolumeIdentity noURL = nas;
    noURL.remountURL.reset();
    EXPECT_FALSE(noURL.matches(noURL));
    const VolumeIdentity hostless = share("file:///Photos", "Photos");
    EXPECT_FALSE(hostless.matches(hostless));
}

}  // namespace
