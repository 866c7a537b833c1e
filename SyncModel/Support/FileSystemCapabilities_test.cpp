#include "SyncModel/Support/FileSystemCapabilities.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

using namespace kelto;

namespace {

using Links = FileSystemCapabilities::HardLinks;
FileSystemCapabilities row(const char* type) { return FileSystemCapabilities::forType(type); }

// Numbers that last, and status changes this kernel stamps, only on the
// local disks whose kernel driver keeps them; by magic number as by name.
TEST(FileSystemCapabilities, NumbersAndStampsLastOnlyWhereTheKernelKeepsThem) {
    for (const std::int64_t magic : std::initializer_list<std::int64_t>{0xEF53, 0x9123683E, 0x01021994, 0x58465342}) {
        EXPECT_TRUE(FileSystemCapabilities::forMagic(magic).fileNumbersLast) << std::hex << magic;
        EXPECT_TRUE(FileSystemCapabilities::forMagic(magic).kernelStampsChange) << std::hex << magic;
    }
    // exFAT, FAT, every FUSE file system (fuseblk and fuse.* alike), SMB.
    for (const std::int64_t magic :
         std::initializer_list<std::int64_t>{0x2011BAB0, 0x4D44, 0x65735546, 0xFF534D42, 0xFE534D42}) {
        EXPECT_FALSE(FileSystemCapabilities::forMagic(magic).fileNumbersLast) << std::hex << magic;
        EXPECT_FALSE(FileSystemCapabilities::forMagic(magic).kernelStampsChange) << std::hex << magic;
    }
    EXPECT_FALSE(FileSystemCapabilities::forMagic(std::nullopt).fileNumbersLast);
    // NFS numbers last, but its times are the server's.
    EXPECT_TRUE(row("nfs4").fileNumbersLast);
    EXPECT_FALSE(row("nfs4").kernelStampsChange);
    for (const char* type : {"vfat", "exfat", "fuseblk", "fuse.sshfs", "fuse.gvfsd-fuse", "fuse", "cifs", "ntfs3"})
        EXPECT_FALSE(row(type).kernelStampsChange) << type;
}

// What a move that must not replace may lean on where the disk has no
// rename that refuses to replace.
TEST(FileSystemCapabilities, LinksAreWhatEachDiskOffers) {
    EXPECT_EQ(row("ext4").hardLinks, Links::oneNumber);
    EXPECT_EQ(row("fuse.sshfs").hardLinks, Links::numberedAfresh);
    for (const char* type : {"fuse.gvfsd-fuse", "fuse.rclone", "exfat", "vfat", "fuse"})
        EXPECT_EQ(row(type).hardLinks, Links::none) << type;
}

// What the volume layer reads off a type: shares, case folding, and which
// mounts the markers can place.
TEST(FileSystemCapabilities, SharesFoldingAndMarkersByType) {
    for (const char* type : {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs", "sshfs", "fuse.rclone", "9p", "ceph"})
        EXPECT_TRUE(row(type).network) << type;
    for (const char* type : {"ext4", "fuse.gvfsd-fuse", "fuse", "tmpfs"}) EXPECT_FALSE(row(type).network) << type;
    for (const char* type : {"vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk", "fuseblk.exfat", "cifs", "hfsplus"})
        EXPECT_TRUE(row(type).foldsCase) << type;
    for (const char* type : {"ext4", "btrfs", "fuse.sshfs", "nfs4"}) EXPECT_FALSE(row(type).foldsCase) << type;
    for (const char* type : {"nfs", "cifs", "fuse.sshfs", "fuse.gvfsd-fuse"})
        EXPECT_TRUE(row(type).placedByMarkers) << type;
    for (const char* type : {"fuse.rclone", "fuse.mergerfs", "fuse.unionfs", "overlay", "ext4", "fuse"})
        EXPECT_FALSE(row(type).placedByMarkers) << type;
}

// A type the table does not know keeps the least, folding case among it;
// names are read in any case. A FUSE program that names no subtype shows
// as plain "fuse" (bindfs, whatever its mount asks for).
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
