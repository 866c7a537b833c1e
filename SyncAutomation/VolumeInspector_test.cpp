#include "SyncAutomation/VolumeInspector.h"

#include "Platform/System/LinuxVolumeSource.h"
#include "SyncEngine/FileSystemTraits.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/PathComponents.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kelto {
namespace {

namespace fs = std::filesystem;
using test::volumeIdentity;

std::uint64_t inode(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_ino;
}

struct Inspector : ::testing::Test {
    test::TemporaryFolder folder;
    test::FakeVolumeSource source;

    Inspector() {
        source.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system"));
        source.add("/proc", volumeIdentity(VolumeKind::internal, "PROC", "proc", "proc"), false);
    }
};

// The mount holding a path is the one whose point is its longest prefix, whole components compared.
TEST_F(Inspector, IdentityContainingTakesTheLongestMountPoint) {
    source.add("/media/Back", volumeIdentity(VolumeKind::removable, "SHORT", "Back"));
    source.add("/media/Backup", volumeIdentity(VolumeKind::removable, "LONG", "Backup"));
    source.add("/media/Backup", volumeIdentity(VolumeKind::removable, "SECOND", "Backup"));
    EXPECT_EQ(VolumeInspector::identity("/media/Backup/Photos", source).uuid, "LONG");  // first on a tie
    EXPECT_EQ(VolumeInspector::identity("/media/Backup/../Back/x", source).uuid, "SHORT");
    EXPECT_EQ(VolumeInspector::identity("/media/Backupx", source).uuid, "ROOT");
    EXPECT_EQ(VolumeInspector::identity("/proc/1", source).uuid, "PROC");  // not browsable, still counts
    EXPECT_TRUE(PathComponents::isPrefix(PathComponents::of("/media/Backup/"), PathComponents::of("/media/Backup")));
    EXPECT_TRUE(PathComponents::isPrefix({}, {}));
    EXPECT_FALSE(PathComponents::isPrefix(PathComponents::of("/Media"), PathComponents::of("/media/x")));
    EXPECT_EQ(PathComponents::of("/a/./b/../c/"), (std::vector<std::string>{"/", "a", "c"}));
    test::FakeVolumeSource empty;
    try {
        VolumeInspector::identity("/x", empty);
        FAIL() << "no mount holds /x";
    } catch (const FileError& error) {
        EXPECT_EQ(error.errorNumber(), ENOENT);
    }
}

// An endpoint records where its folder (a link's target) lies on its volume, and the folder's number where the
// file system keeps numbers; what is no folder, or on no browsable volume, gives none.
TEST_F(Inspector, EndpointRecordsTheRelativePathOfTheTargetAndTheInode) {
    source.add(folder.path(), volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    fs::create_directories(folder / "Photos/2024");
    fs::create_directory_symlink(folder / "Photos", folder / "link");
    const Endpoint endpoint = VolumeInspector::endpoint(folder / "link/./2024", source);
    EXPECT_EQ(endpoint.path, (folder / "Photos/2024").string());
    EXPECT_EQ(endpoint.relativePath, "Photos/2024");
    EXPECT_EQ(endpoint.volume.uuid, "USB");
    EXPECT_EQ(endpoint.fileID, inode(folder / "Photos/2024"));
    EXPECT_EQ(VolumeInspector::endpoint(folder.path(), source).relativePath, "");
    source.table.back().identity.fileSystem = "vfat";
    EXPECT_FALSE(VolumeInspector::endpoint(folder / "Photos", source).fileID);
    EXPECT_FALSE(VolumeInspector::fileNumber(folder / "Photos", "fuse.sshfs"));  // numbered afresh at each mount
    folder.write("file.txt");
    EXPECT_THROW(VolumeInspector::endpoint(folder / "file.txt", source), VolumeInspectorError);
    EXPECT_THROW(VolumeInspector::endpoint(folder / "missing", source), FileError);
    EXPECT_THROW(VolumeInspector::endpoint("/proc", source), VolumeInspectorError);  // pseudo file system
    test::FakeVolumeSource empty;
    EXPECT_THROW(VolumeInspector::endpoint(folder.path(), empty), VolumeInspectorError);
}

// What a volume keeps is the table's answer for its type, whoever asks:
// the file number stored for a side, the case folding its traits assume.
TEST_F(Inspector, AVolumeKeepsWhatTheTableSaysOfItsType) {
    fs::create_directory(folder / "Music");
    for (const char* type :
         {"ext4", "ntfs3", "nfs4", "vfat", "exfat", "cifs", "fuse.sshfs", "fuse", "ceph", "zonefs", ""}) {
        const FileSystemCapabilities disk = FileSystemCapabilities::forType(type);
        EXPECT_EQ(VolumeInspector::fileNumber(folder / "Music", type).has_value(), disk.fileNumbersLast) << type;
        VolumeIdentity volume = volumeIdentity(VolumeKind::removable, "UUID", "Disk", type);
        volume.caseSensitive = LinuxVolumeSource::isCaseSensitive(type);
        EXPECT_EQ(FileSystemTraits::forVolume(volume).caseSensitive, !disk.foldsCase) << type;
    }
}

}  // namespace
}  // namespace kelto
