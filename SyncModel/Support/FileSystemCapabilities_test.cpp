#include "SyncModel/Support/FileSystemCapabilities.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

using namespace kelto;

namespace {

using Links = FileSystemCapabilities::HardLinks;
FileSystemCapabilities row(const char* type) { return FileSystemCapabilities::forType(type); }

TEST(FileSystemCapabilities, NumbersStampsFoldingAndMarkersByType) {
    for (const auto& [magic, type] : std::initializer_list<std::pair<std::int64_t, const char*>>{
             {0xEF53, "ext4"}, {0x9123683E, "btrfs"}, {0x01021994, "tmpfs"}, {0x58465342, "xfs"}, {0x2011BAB0, "exfat"},
             {0x4D44, "vfat"}, {0x65735546, "fuseblk"}, {0xFF534D42, "cifs"}, {0xFE534D42, "smb3"}}) {
        const bool kept = magic == 0xEF53 || magic == 0x9123683E || magic == 0x01021994 || magic == 0x58465342;
        for (const FileSystemCapabilities& found : {FileSystemCapabilities::forMagic(magic), row(type)}) {
            EXPECT_EQ(found.fileNumbersLast, kept) << type;
            EXPECT_EQ(found.kernelStampsChange, kept) << type;
        }
    }
    EXPECT_FALSE(FileSystemCapabilities::forMagic(std::nullopt).fileNumbersLast);
    EXPECT_TRUE(row("nfs4").fileNumbersLast);  // but its times are the server's
    for (const char* type : {"vfat", "exfat", "fuseblk", "fuse.sshfs", "fuse.gvfsd-fuse", "fuse", "cifs", "ntfs3", "nfs4"})
        EXPECT_FALSE(row(type).kernelStampsChange) << type;
    EXPECT_EQ(row("fuse.sshfs").hardLinks, Links::numberedAfresh);
    for (const char* type : {"fuse.gvfsd-fuse", "fuse.rclone", "exfat", "vfat", "fuse"})
        EXPECT_EQ(row(type).hardLinks, Links::none) << type;
    for (const char* type : {"fuseblk", "fuseblk.exfat", "cifs"}) EXPECT_TRUE(row(type).foldsCase) << type;
    for (const char* type : {"nfs", "cifs", "fuse.sshfs", "fuse.gvfsd-fuse"})
        EXPECT_TRUE(row(type).placedByMarkers) << type;
    for (const char* type : {"fuse.rclone", "fuse.mergerfs", "fuse.unionfs", "overlay", "ext4", "fuse"})
        EXPECT_FALSE(row(type).placedByMarkers) << type;
}

TEST(FileSystemCapabilities, AnUnknownTypeKeepsTheLeast) {
    for (const char* type : {"fuse.newfs", "", "zonefs", "fuse", "fuse.bindfs"}) {
        const FileSystemCapabilities least = row(type);
        EXPECT_FALSE(least.known) << type;
        EXPECT_FALSE(least.fileNumbersLast || least.kernelStampsChange || least.extendedAttributes || least.permissions)
            << type;
        EXPECT_EQ(least.hardLinks, Links::none) << type;
        EXPECT_TRUE(least.foldsCase) << type;
        // No size is refused ahead: the disk's own refusal names its cause.
        EXPECT_FALSE(least.maxFileSize) << type;
    }
    EXPECT_TRUE(FileSystemCapabilities{}.foldsCase);
    EXPECT_EQ(row("EXT4").type, "ext4");
    EXPECT_TRUE(row("EXT4").known);
}

TEST(FileSystemCapabilities, AnOpenFolderIsReadByItsFileSystem) {
    struct statfs shm {};
    if (::statfs("/dev/shm", &shm) != 0 || shm.f_type != 0x01021994) GTEST_SKIP() << "/dev/shm is no tmpfs";
    const int folder = ::open("/dev/shm", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(FileSystemCapabilities::ofOpen(folder).type, "tmpfs");
    ::close(folder);
    EXPECT_FALSE(FileSystemCapabilities::ofOpen(-1).known);
}

}  // namespace
