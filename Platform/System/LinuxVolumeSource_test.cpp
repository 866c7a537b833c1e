#include "Platform/System/LinuxVolumeSource.h"

#include "Platform/System/MountTable.h"
#include "SyncModel/Support/NonWaitingThread.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/sysmacros.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace kelto {
namespace {

namespace fs = std::filesystem;

// mountinfo lines as the kernel writes them: space, newline and backslash in
// paths come as \040, \012 and \134.
const char* const fixtureTable =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
    "31 23 0:28 / /sys/fs/cgroup rw,relatime - cgroup2 cgroup2 rw\n"
    "27 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n"
    "40 27 8:17 / /media/Back rw,relatime - vfat /dev/sdb1 rw\n"
    "41 27 8:33 / /media/My\\040Disk\\012two rw,relatime - exfat /dev/sdc1 rw\n"
    "42 27 0:50 / /mnt/share ro,relatime - cifs //NAS.local/Photos\\040Shared rw\n"
    "43 27 0:51 / /mnt/nfs rw,relatime - nfs4 server:/export/home rw\n"
    "44 27 0:52 / /mnt/ssh rw,relatime - fuse.sshfs me@box:/srv/data rw\n"
    "45 27 0:53 / /media/Backup rw,relatime - tmpfs tmpfs rw\n"
    "46 45 8:49 / /media/Backup rw,relatime - ext4 /dev/sdd1 rw\n";

struct Fixture : ::testing::Test {
    test::TemporaryFolder folder;
    std::map<std::string, BlockDevices::Tags> devices{
        {"/dev/sda2", {"0a1b2c3d-0000-4000-8000-000000000001", "system"}},
        {"/dev/sdb1", {"ABCD-1234", std::nullopt}},
        {"/dev/sdd1", {"11111111-2222-4333-8444-555555555555", "Backup"}},
    };

    Fixture() {
        folder.write("mountinfo", fixtureTable);
        // /sys/dev/block/8:17 → a USB disk's partition; 8:33 flagged removable; 8:49 on SATA.
        folder.write("sys/devices/pci0/usb2/2-1/host6/block/sdb/sdb1/partition", "1");
        folder.write("sys/devices/pci0/usb2/2-1/host6/block/sdb/removable", "0");
        folder.write("sys/devices/pci0/ata1/block/sdc/sdc1/partition", "1");
        folder.write("sys/devices/pci0/ata1/block/sdc/removable", "1");
        folder.write("sys/devices/pci0/ata2/block/sdd/sdd1/partition", "1");
        folder.write("sys/devices/pci0/ata2/block/sdd/removable", "0");
        folder.write("sys/devices/pci0/ata0/block/sda/sda2/partition", "1");
        folder.write("sys/devices/pci0/ata0/block/sda/removable", "0");
        fs::create_directories(folder / "sys/dev/block");
        fs::create_directory_symlink("../../devices/pci0/ata0/block/sda/sda2", folder / "sys/dev/block/8:2");
        fs::create_directory_symlink("../../devices/pci0/usb2/2-1/host6/block/sdb/sdb1", folder / "sys/dev/block/8:17");
        fs::create_directory_symlink("../../devices/pci0/ata1/block/sdc/sdc1", folder / "sys/dev/block/8:33");
        fs::create_directory_symlink("../../devices/pci0/ata2/block/sdd/sdd1", folder / "sys/dev/block/8:49");
    }

    // What servers' names resolve to here, and how often one was resolved;
    // any other name does not resolve.
    std::map<std::string, std::vector<std::string>, std::less<>> hosts;
    int resolutions = 0;
    ManualClock clock;
    // The rclone configuration each mount's owner keeps.
    std::optional<std::string> rclone;
    std::vector<std::optional<uid_t>> rcloneOwners;

    LinuxVolumeSource source() {
        return LinuxVolumeSource({folder / "mountinfo", folder / "sys",
                                  [this](const std::string& device) {
                                      const auto found = devices.find(device);
                                      return found == devices.end() ? BlockDevices::Tags{} : found->second;
                                  },
                                  [this](std::string_view, std::string_view host) {
                                      ++resolutions;
                                      const auto found = hosts.find(host);
                                      return found == hosts.end() ? std::nullopt
                                                                  : std::optional<std::vector<std::string>>(found->second);
                                  },
                                  [this](std::optional<uid_t> owner) {
                                      rcloneOwners.push_back(owner);
                                      return rclone;
                                  },
                                  &clock});
    }

    static const MountedFileSystem& at(const std::vector<MountedFileSystem>& mounts, const fs::path& point) {
        for (const MountedFileSystem& m : mounts)
            if (m.mountPoint == point) return m;
        throw std::runtime_error("no mount at " + point.string());
    }
};

TEST_F(Fixture, MountTableDecodesEscapesAndKeepsOnlyTheVisibleOverMount) {
    const auto records = MountTable::read(folder / "mountinfo");
    ASSERT_EQ(records.size(), 10u);
    EXPECT_EQ(records[5].mountPoint, "/media/My Disk\ntwo");
    EXPECT_EQ(records[6].source, "//NAS.local/Photos Shared");
    EXPECT_TRUE(records[6].readOnly);
    EXPECT_FALSE(records[3].readOnly);
    // The tmpfs at /media/Backup lies under the disk mounted over it.
    EXPECT_EQ(records.back().mountPoint, "/media/Backup");
    EXPECT_EQ(records.back().fileSystem, "ext4");
    EXPECT_EQ(records.back().device, makedev(8, 49));
}

// A mount shows one folder of its file system: all of it, or a sub-folder
// (a bind mount, a btrfs subvolume).
TEST_F(Fixture, EachMountTellsWhichFolderOfItsFileSystemItShows) {
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "47 27 8:17 /Photos/My\\0402024 /home/me/Photos rw - vfat /dev/sdb1 rw\n"
                                  "48 27 0:60 /@data /media/data rw - btrfs /dev/sde1 rw,subvol=/@data\n"
                                  "49 27 8:17 /old//deleted /mnt/old rw - vfat /dev/sdb1 rw\n"
                                  // One NFS file system shared by two shares; the client met the
                                  // second one's folder from the first.
                                  "50 27 0:54 /home /mnt/home rw - nfs4 server:/export/home rw\n"
                                  "51 27 0:54 /home/me/Music /home/me/Music rw - nfs4 server:/export/home rw\n");
    const auto mounts = source().mounts();
    EXPECT_EQ(at(mounts, "/media/Back").fileSystemRoot, "/");
    EXPECT_EQ(at(mounts, "/home/me/Photos").fileSystemRoot, "/Photos/My 2024");
    EXPECT_EQ(at(mounts, "/home/me/Photos").device, makedev(8, 17));
    EXPECT_EQ(at(mounts, "/media/data").fileSystemRoot, "/@data");
    EXPECT_EQ(at(mounts, "/mnt/old").fileSystemRoot, "");  // what it shows was deleted
    EXPECT_EQ(at(mounts, "/mnt/nfs").fileSystemRoot, "/");
    EXPECT_EQ(at(mounts, "/mnt/home").fileSystemRoot, "/");  // a share counts from its own folder
    EXPECT_EQ(at(mounts, "/home/me/Music").fileSystemRoot, "/me/Music");
}

// The mount that serves a path is the last one mounted at or above it,
// whatever order the table lists them in: /mnt/a/b (and what was mounted in
// it) lies under /mnt/a mounted later beside it; /mnt/a/b mounted inside
// that /mnt/a, and a mount over another at its own point, are seen.
TEST_F(Fixture, MountsHiddenByALaterMountAtOrAboveThemAreLeftOut) {
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "60 27 0:70 / /mnt/a/b rw - tmpfs hidden rw\n"
                                  "62 60 0:72 / /mnt/a/b/c rw - tmpfs hiddenToo rw\n"
                                  "63 61 0:73 / /mnt/a/b rw - tmpfs seen rw\n"
                                  "61 27 0:71 / /mnt/a rw - tmpfs over rw\n"
                                  "65 64 0:75 / /mnt/s rw - tmpfs top rw\n"
                                  "64 27 0:74 / /mnt/s rw - tmpfs under rw\n"
                                  "66 64 0:76 / /mnt/s/x rw - tmpfs underTop rw\n");
    std::vector<std::string> sources;
    for (const MountTable::Record& record : MountTable::read(folder / "mountinfo"))
        if (record.mountPoint.starts_with("/mnt/") && record.fileSystem == "tmpfs") sources.push_back(record.source);
    EXPECT_EQ(sources, (std::vector<std::string>{"seen", "over", "top"}));
}

// What a stacked file system's files really are: an overlay's layers, a
// FUSE pass-through's source folder; not a FUSE disk's device or a remote
// source.
TEST_F(Fixture, StackedFileSystemsTellTheFoldersTheyAreStackedOn) {
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "70 27 0:80 / /mnt/ov rw - overlay overlay rw,lowerdir=/l\\0401:/l\\134:2::/l3,"
                                  "upperdir=/up,workdir=/work\n"
                                  "71 27 0:81 / /mnt/b rw - fuse /srv/P\\040Q rw,user_id=0\n"
                                  "72 27 7:0 / /mnt/ex rw - fuseblk /dev/loop0 rw,user_id=0\n"
                                  "73 27 0:82 / /mnt/mg rw - fuse.mergerfs A:other rw,user_id=0\n"
                                  "75 27 0:84 / /mnt/un rw - fuse.mergerfs /b1:/b\\0402 rw,user_id=0\n"
                                  "74 27 0:83 / /mnt/lx rw - fuse.lxcfs lxcfs rw,user_id=0\n"
                                  "76 27 0:85 / /mnt/fo rw - fuse.fuse-overlayfs fuse-overlayfs rw,user_id=0\n"
                                  "77 27 0:86 / /mnt/sq rw - fuse.squashfuse squashfuse rw,user_id=0\n");
    const auto mounts = source().mounts();
    using Folders = std::vector<fs::path>;
    EXPECT_EQ(at(mounts, "/mnt/ov").stackedOn, (Folders{"/up", "/l 1", "/l:2", "/l3"}));
    EXPECT_EQ(at(mounts, "/mnt/b").stackedOn, Folders{"/srv/P Q"});
    for (const MountTable::Record& record : MountTable::read(folder / "mountinfo"))
        if (record.mountPoint == "/mnt/ex") {
            EXPECT_EQ(record.stackedOn, std::vector<std::string>{});
        }
    EXPECT_EQ(at(mounts, "/mnt/ssh").stackedOn, Folders{});
    EXPECT_EQ(at(mounts, "/media/Back").stackedOn, Folders{});
    // A union's branches, each as named: relative ones stay relative
    // (nothing places them), and so does a source naming no folder (the
    // program keeps its files where it chose: an overlay's layers, an
    // image).
    EXPECT_EQ(at(mounts, "/mnt/mg").stackedOn, (Folders{"A", "other"}));
    EXPECT_EQ(at(mounts, "/mnt/un").stackedOn, (Folders{"/b1", "/b 2"}));
    EXPECT_EQ(at(mounts, "/mnt/lx").stackedOn, Folders{"lxcfs"});
    EXPECT_EQ(at(mounts, "/mnt/fo").stackedOn, Folders{"fuse-overlayfs"});
    EXPECT_EQ(at(mounts, "/mnt/sq").stackedOn, Folders{"squashfuse"});
}

// A share this machine serves (by a loopback address or its own name) is
// stacked on the folder it is exported from, as named: a path from the
// user's home or a share's name stays relative, which nothing places.
// Another server's share stacks on nothing.
TEST_F(Fixture, SharesThisMachineServesAreStackedOnTheFoldersTheyExport) {
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "80 27 0:90 / /mnt/s1 rw - fuse.sshfs me@127.0.0.1:/home/me/P rw\n"
                                  "81 27 0:91 / /mnt/s2 rw - fuse.sshfs localhost:docs rw\n"
                                  "82 27 0:92 / /mnt/n1 rw - nfs4 LOCALHOST:/srv/x rw,addr=127.0.0.1\n"
                                  "83 27 0:93 / /mnt/c1 rw - cifs //127.0.0.1/photos rw\n"
                                  "84 27 0:94 / /mnt/n2 rw - nfs4 [::1]:/srv/y rw\n");
    const auto mounts = source().mounts();
    using Folders = std::vector<fs::path>;
    EXPECT_EQ(at(mounts, "/mnt/s1").stackedOn, Folders{"/home/me/P"});
    EXPECT_EQ(at(mounts, "/mnt/s2").stackedOn, Folders{"docs"});
    EXPECT_EQ(at(mounts, "/mnt/n1").stackedOn, Folders{"/srv/x"});
    EXPECT_EQ(at(mounts, "/mnt/c1").stackedOn, Folders{"photos"});
    EXPECT_EQ(at(mounts, "/mnt/ssh").stackedOn, Folders{});
    EXPECT_TRUE(LinuxVolumeSource::isThisMachine("[::1]"));
    EXPECT_FALSE(LinuxVolumeSource::isThisMachine("box.example.org"));
}

// A server is told by what its name resolves to, not by the name: an ssh
// alias or a name leading to a loopback address is this machine, whose
// share is stacked on its export; a name leading only to other addresses is
// another machine; a name leading nowhere, or an rclone remote with no
// configuration to tell, is neither. Desktop FUSE mounts and sshfs answer lookups
// afresh, rclone and fuse-overlayfs from caches of their own.
TEST_F(Fixture, SharesAreTakenForTheMachineTheirServersNameResolvesTo) {
    hosts = {{"backupbox", {"127.0.0.1"}}, {"nas", {"192.0.2.7", "::1"}}, {"far", {"192.0.2.9"}}};
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "80 27 0:90 / /mnt/alias rw - fuse.sshfs me@backupbox:/home/me/P rw\n"
                                  "81 27 0:91 / /mnt/nas rw - nfs4 nas:/srv/x rw\n"
                                  "82 27 0:92 / /mnt/far rw - cifs //far/photos rw\n"
                                  "83 27 0:93 / /mnt/ghost rw - fuse.sshfs ghost:/srv rw\n"
                                  "84 27 0:94 / /mnt/r rw - fuse.rclone gdrive:photos rw\n"
                                  "85 27 0:95 / /run/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
                                  "86 27 0:96 / /mnt/fo rw - fuse.fuse-overlayfs fuse-overlayfs rw\n");
    const auto mounts = source().mounts();
    using Folders = std::vector<fs::path>;
    EXPECT_EQ(at(mounts, "/mnt/alias").stackedOn, Folders{"/home/me/P"});
    EXPECT_EQ(at(mounts, "/mnt/nas").stackedOn, Folders{"/srv/x"});
    for (const char* point : {"/mnt/alias", "/mnt/nas", "/mnt/ghost", "/mnt/r", "/run/gvfs", "/mnt/fo"})
        EXPECT_FALSE(at(mounts, point).onAnotherMachine) << point;
    EXPECT_TRUE(at(mounts, "/mnt/far").onAnotherMachine);
    EXPECT_EQ(at(mounts, "/mnt/far").stackedOn, Folders{});
    EXPECT_EQ(at(mounts, "/mnt/ghost").stackedOn, Folders{});
    for (const char* point : {"/mnt/alias", "/mnt/nas", "/mnt/far", "/run/gvfs"})
        EXPECT_TRUE(at(mounts, point).placedByMarkers) << point;
    for (const char* point : {"/mnt/r", "/mnt/fo", "/media/Back"}) EXPECT_FALSE(at(mounts, point).placedByMarkers) << point;
}

// A server named by an IPv6 address is written in brackets, colons and all
// (nfs [::1]:/srv, sshfs me@[::1]:/srv), and one address of this machine
// may be written as another: an IPv4 address within IPv6 (::ffff:127.0.0.1),
// or with the interface it is reached through (::1%lo).
TEST_F(Fixture, ServersNamedByIPv6AddressesAreReadWhole) {
    hosts = {{"mapped", {"::ffff:127.0.0.1"}}, {"far", {"::ffff:192.0.2.9"}}};
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "80 27 0:90 / /mnt/n rw - nfs4 [::1]:/srv/y rw\n"
                                  "81 27 0:91 / /mnt/s rw - fuse.sshfs me@[::1]:/srv/z rw\n"
                                  "82 27 0:92 / /mnt/m rw - fuse.sshfs me@mapped:/srv/m rw\n"
                                  "83 27 0:93 / /mnt/far rw - fuse.sshfs me@far:/srv/f rw\n");
    const auto mounts = source().mounts();
    using Folders = std::vector<fs::path>;
    EXPECT_EQ(LinuxVolumeSource::remountURL("nfs4", "[::1]:/srv/y")->string(), "nfs://[::1]/srv/y");
    EXPECT_EQ(LinuxVolumeSource::remountURL("fuse.sshfs", "me@[fd00::5]:/srv")->host(), "[fd00::5]");
    EXPECT_EQ(at(mounts, "/mnt/n").stackedOn, Folders{"/srv/y"});
    EXPECT_EQ(at(mounts, "/mnt/s").stackedOn, Folders{"/srv/z"});
    EXPECT_EQ(at(mounts, "/mnt/m").stackedOn, Folders{"/srv/m"});
    EXPECT_FALSE(at(mounts, "/mnt/m").onAnotherMachine);
    EXPECT_TRUE(at(mounts, "/mnt/far").onAnotherMachine);
    for (const char* address : {"::ffff:127.0.0.1", "[::FFFF:127.0.0.2]", "::ffff:7f00:1", "::1%lo", "0:0:0:0:0:0:0:1"})
        EXPECT_TRUE(LinuxVolumeSource::isThisMachine(address)) << address;
    EXPECT_FALSE(LinuxVolumeSource::isThisMachine("::ffff:192.0.2.9"));
}

// A union shows several folders, and a file made through it lands in one of
// them: what its lookups find tells nothing of the others, so no union is
// left to the markers, however fresh its lookups.
TEST_F(Fixture, UnionsAreNotLeftToTheMarkers) {
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "80 27 0:90 / /mnt/mg rw - fuse.mergerfs pool rw\n"
                                  "81 27 0:91 / /mnt/un rw - fuse.unionfs pool rw\n"
                                  "82 27 0:92 / /mnt/ov rw - overlay overlay rw,lowerdir=low,upperdir=up,workdir=w\n"
                                  "83 27 0:93 / /mnt/bind rw - fuse /srv/pass rw\n"
                                  "84 27 0:94 / /mnt/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n");
    const auto mounts = source().mounts();
    // bindfs names no subtype: a FUSE program the table does not know.
    for (const char* point : {"/mnt/mg", "/mnt/un", "/mnt/ov", "/mnt/bind"})
        EXPECT_FALSE(at(mounts, point).placedByMarkers) << point;
    EXPECT_TRUE(at(mounts, "/mnt/gvfs").placedByMarkers);
}

// A server's name is resolved once a minute, however often the table is
// read: a resolver waiting on the network holds up each read.
TEST_F(Fixture, ServersNamesAreResolvedOnceAMinute) {
    hosts = {{"nas", {"192.0.2.7"}}};
    folder.write("mountinfo", std::string(fixtureTable) + "81 27 0:91 / /mnt/nas rw - nfs4 nas:/srv/x rw\n");
    const LinuxVolumeSource system = source();
    const int before = resolutions;
    system.mounts();
    const int once = resolutions - before;
    EXPECT_GT(once, 0);
    system.mounts();
    EXPECT_EQ(resolutions - before, once);
    clock.advance(61);
    EXPECT_TRUE(at(system.mounts(), "/mnt/nas").onAnotherMachine);
    EXPECT_EQ(resolutions - before, 2 * once);
}

// A window's thread never waits for a server's name: its read of the table
// comes back while the resolver is still held, the server not shown to be
// another machine; the answer, once released, is what the next read uses.
TEST_F(Fixture, AServersNameIsNeverWaitedForOnAWindowsThread) {
    folder.write("mountinfo", "27 1 8:2 / / rw - ext4 /dev/sda2 rw\n80 27 0:90 / /mnt/far rw - cifs //far/photos rw\n");
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, released = false;
    int answered = 0;
    const LinuxVolumeSource system({folder / "mountinfo", folder / "sys", [](const std::string&) { return BlockDevices::Tags{}; },
                                    [&](std::string_view, std::string_view) {
                                        std::unique_lock guard(lock);
                                        entered = true;
                                        changed.notify_all();
                                        // A bound only where the read waited, so that the test fails, not hangs.
                                        changed.wait_for(guard, std::chrono::seconds(10), [&] { return released; });
                                        ++answered;
                                        return std::optional<std::vector<std::string>>({"192.0.2.9"});
                                    },
                                    [](std::optional<uid_t>) { return std::optional<std::string>(); }, &clock});
    {
        const NonWaitingThread windows;
        EXPECT_FALSE(at(system.mounts(), "/mnt/far").onAnotherMachine);
    }
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return entered; });
        EXPECT_EQ(answered, 0);
        released = true;
        changed.notify_all();
    }
    EXPECT_TRUE(at(system.mounts(), "/mnt/far").onAnotherMachine);
    EXPECT_EQ(answered, 1);
}

// An rclone mount is another machine's only where rclone's configuration,
// as the mount's owner keeps it, shows its remote keeping its files
// elsewhere: a cloud drive, a crypt over s3, an sftp server whose name
// resolves elsewhere. Local folders (a path, :local:, an alias or a union
// of them, a union holding one), a server of this machine, a remote
// wrapping itself or missing from the configuration, and every remote of
// an encrypted or missing configuration are not.
TEST_F(Fixture, RcloneMountsAreAnotherMachinesOnlyWhereTheirRemotesAre) {
    hosts = {{"far", {"192.0.2.9"}}};
    const std::string config = "# made by rclone config\n"
                               "[drive]\ntype = drive\nscope = drive\n\n"
                               "[s3]\ntype = s3\nprovider = AWS\n"
                               "[secret]\ntype = crypt\nremote = s3:bucket/x\n"
                               "[nas]\ntype = sftp\nhost = far\n"
                               "[home]\ntype = alias\nremote = /home/me\n"
                               "[both]\ntype = union\nupstreams = /a /b:ro\n"
                               "[mixed]\ntype = combine\nupstreams = d=drive: h=home:\n"
                               "[self]\ntype = sftp\nhost = 127.0.0.1\n"
                               "[dav]\ntype = webdav\nurl = http://localhost:8080/dav\n"
                               "[loop]\ntype = crypt\nremote = back:\n"
                               "[back]\ntype = alias\nremote = loop:x\n"
                               "[quoted]\ntype = \"local\"\n";
    const std::vector<std::string> elsewhere{"drive:photos", "secret:", "nas:/srv", ":s3:bucket"};
    const std::vector<std::string> here{"home:",  "both:",  "mixed:", "self:",    "dav:",
                                        "loop:",  "/srv/x", ":local:/srv", "ghost:", "quoted:"};
    std::string table = fixtureTable;
    int id = 90;
    for (const std::vector<std::string>* remotes : {&elsewhere, &here})
        for (const std::string& remote : *remotes) {
            const std::string n = std::to_string(id++);
            table += n + " 27 0:" + n + " / /mnt/" + n + " rw - fuse.rclone " + remote + " rw,user_id=1000\n";
        }
    folder.write("mountinfo", table);
    const auto judged = [&](std::optional<std::string> text) {
        rclone = std::move(text);
        std::vector<std::string> apart;
        for (const MountedFileSystem& mount : source().mounts())
            if (mount.identity.fileSystem == "fuse.rclone" && mount.onAnotherMachine)
                apart.push_back(mount.mountPoint.filename().string());
        return apart;
    };
    EXPECT_EQ(judged(config), (std::vector<std::string>{"90", "91", "92", "93"}));
    EXPECT_EQ(rcloneOwners.back(), std::optional<uid_t>(1000));
    EXPECT_EQ(judged("# Encrypted rclone configuration File\n\nRCLONE_ENCRYPT_V0:\nA2b+c==\n"),
              std::vector<std::string>{});
    EXPECT_EQ(judged(std::nullopt), std::vector<std::string>{});
}

// An rclone mount whose remote keeps every file in this machine's folders,
// named from the root, is a pass-through stacked on them, each showing the
// mount's folders by their names; any other is a share, found again by its
// remote and path wherever it is mounted (an alias by the remote it names):
// another machine's where all it keeps lies elsewhere (its local branches
// still stacked), else one no table can place. An in-memory remote is its
// mount's own, found nowhere else. No configuration file at all is an
// empty one.
TEST_F(Fixture, RcloneMountsOfThisMachinesFoldersAreStackedOnThemAndOthersAreShares) {
    rclone = "[drive]\ntype = drive\n[home]\ntype = alias\nremote = /home/me\n"
             "[both]\ntype = union\nupstreams = /a /b:ro\n[part]\ntype = union\nupstreams = /a drive:x\n"
             "[vault]\ntype = crypt\nremote = /data/v\n[self]\ntype = sftp\nhost = 127.0.0.1\n"
             "[pics]\ntype = alias\nremote = drive:photos\n";
    using Folders = std::vector<fs::path>;
    const VolumeKind here = VolumeKind::internal, share = VolumeKind::network;
    const struct {
        std::string remote;
        Folders stackedOn;
        VolumeKind kind;
        bool another;
        std::string url, name;
    } cases[]{
        {"/srv/x", {"/srv/x"}, here, false, "", "m0"},
        {":local:/srv", {"/srv"}, here, false, "", "m1"},
        {"home:Photos", {"/home/me/Photos"}, here, false, "", "m2"},
        {"both:2020", {"/a/2020", "/b/2020"}, here, false, "", "m3"},
        {"drive:photos/2020", {}, share, true, "rclone://drive/photos/2020", "2020"},
        {"pics:2020", {}, share, true, "rclone://drive/photos/2020", "2020"},
        {":memory:", {}, here, false, "", "m6"},
        {"part:", {"/a"}, share, true, "rclone://part/", "m7"},
        {"vault:", {}, share, false, "rclone://vault/", "m8"},
        {"self:srv", {}, share, false, "rclone://self/srv", "srv"},
        {":local:relative", {}, share, false, "rclone://%3Alocal/relative", "relative"},
    };
    std::string table = fixtureTable;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        table += std::to_string(90 + i) + " 27 0:" + std::to_string(90 + i) + " / /mnt/m" + std::to_string(i) +
                 " rw - fuse.rclone " + cases[i].remote + " rw,user_id=0\n";
    folder.write("mountinfo", table);
    const auto mounts = source().mounts();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].remote);
        const MountedFileSystem& mount = at(mounts, "/mnt/m" + std::to_string(i));
        EXPECT_EQ(mount.stackedOn, cases[i].stackedOn);
        EXPECT_EQ(mount.identity.kind, cases[i].kind);
        EXPECT_EQ(mount.onAnotherMachine, cases[i].another);
        EXPECT_EQ(mount.identity.remountURL ? mount.identity.remountURL->string() : "", cases[i].url);
        EXPECT_EQ(mount.identity.name, cases[i].name);
    }
    const char* set = std::getenv("RCLONE_CONFIG");
    const std::optional<std::string> before = set ? std::optional<std::string>(set) : std::nullopt;
    ::setenv("RCLONE_CONFIG", (folder / "none.conf").c_str(), 1);
    EXPECT_EQ(LinuxVolumeSource::rcloneConfig(std::nullopt), std::optional<std::string>(""));
    before ? ::setenv("RCLONE_CONFIG", before->c_str(), 1) : ::unsetenv("RCLONE_CONFIG");
}

// Layer lists as the kernel writes them: a comma in a folder's name comes
// as \054 (libmount's decoding cannot tell it from the next option), the
// user's own escapes of a mount(2) list kept, layers given one by one
// (lowerdir+, datadir+) taken as they stand.
TEST_F(Fixture, OverlayLayersAreReadAsTheKernelWritesThem) {
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "70 27 0:80 / /mnt/ov rw - overlay overlay rw,lowerdir=/x/L\\040a\\134\\054b=c\\134:d\\134\\134e:"
                                  "/x/L2\\134\\134040x,upperdir=/x/u\\134\\054p,workdir=/x/w\\134\\054k,uuid=on\n"
                                  "71 27 0:81 / /mnt/one rw - overlay none rw,lowerdir+=/x/l\\0541,lowerdir+=/x/l:2,"
                                  "lowerdir+=/x/l\\1343,datadir+=/x/d,upperdir=/x/up,workdir=/x/wk\n");
    std::map<std::string, std::vector<std::string>> layers;
    for (const MountTable::Record& record : MountTable::read(folder / "mountinfo"))
        layers[record.mountPoint] = record.stackedOn;
    EXPECT_EQ(layers["/mnt/ov"], (std::vector<std::string>{"/x/u,p", "/x/L a,b=c:d\\e", "/x/L2\\040x"}));
    EXPECT_EQ(layers["/mnt/one"], (std::vector<std::string>{"/x/up", "/x/l,1", "/x/l:2", "/x/l\\3", "/x/d"}));
}

// A file system on a loop device lies in the device's image file, one on a
// partition of a loop device in the whole device's, one on a device mapped
// over a loop device (an encrypted image) in that one's; an image deleted
// since lies nowhere. Images are no folders stacked upon.
TEST_F(Fixture, FileSystemsOnLoopDevicesAreStackedOnTheirImages) {
    folder.write("mountinfo", std::string(fixtureTable) +
                                  "80 27 7:0 / /mnt/img rw - ext4 /dev/loop0 rw\n"
                                  "81 27 253:0 / /mnt/vault rw - ext4 /dev/mapper/vault rw\n"
                                  "82 27 7:2 / /mnt/gone rw - ext4 /dev/loop2 rw\n"
                                  "83 27 0:61 / /mnt/pool rw - btrfs /dev/loop3 rw\n"
                                  "84 27 259:1 / /mnt/part rw - ext4 /dev/loop4p1 rw\n");
    folder.write("sys/devices/virtual/block/loop4/loop/backing_file", "/srv/partitioned.img\n");
    folder.write("sys/devices/virtual/block/loop4/loop4p1/partition", "1\n");
    fs::create_directories(folder / "sys/dev/block");
    fs::create_directory_symlink("../../devices/virtual/block/loop4/loop4p1", folder / "sys/dev/block/259:1");
    const fs::path block = folder / "sys/devices/virtual/block";
    folder.write("sys/devices/virtual/block/loop0/loop/backing_file", "/home/me/disk.img\n");
    folder.write("sys/devices/virtual/block/loop1/loop/backing_file", "/home/me/My Files/vault.img\n");
    folder.write("sys/devices/virtual/block/loop2/loop/backing_file", "/tmp/old.img (deleted)\n");
    folder.write("sys/devices/virtual/block/loop3/loop/backing_file", "/srv/pool.img\n");
    fs::create_directories(block / "dm-0/slaves");
    fs::create_directory_symlink("../../loop1", block / "dm-0/slaves/loop1");
    for (const auto& [number, name] : {std::pair{"7:0", "loop0"}, {"253:0", "dm-0"}, {"7:2", "loop2"}})
        fs::create_directory_symlink(std::string("../../devices/virtual/block/") + name, folder / "sys/dev/block" / number);
    fs::create_directories(folder / "sys/class/block");
    fs::create_directory_symlink("../../devices/virtual/block/loop3", folder / "sys/class/block/loop3");
    const auto mounts = source().mounts();
    using Folders = std::vector<fs::path>;
    EXPECT_EQ(at(mounts, "/mnt/img").images, Folders{"/home/me/disk.img"});
    EXPECT_EQ(at(mounts, "/mnt/vault").images, Folders{"/home/me/My Files/vault.img"});
    EXPECT_EQ(at(mounts, "/mnt/gone").images, Folders{});
    EXPECT_EQ(at(mounts, "/mnt/pool").images, Folders{"/srv/pool.img"});
    EXPECT_EQ(at(mounts, "/mnt/part").images, Folders{"/srv/partitioned.img"});
    EXPECT_EQ(at(mounts, "/media/Back").images, Folders{});
    for (const char* mount : {"/mnt/img", "/mnt/vault", "/mnt/pool", "/mnt/part"})
        EXPECT_EQ(at(mounts, mount).stackedOn, Folders{}) << mount;
}

TEST_F(Fixture, UnreadableTableIsEmpty) {
    EXPECT_TRUE(MountTable::read(folder / "missing").empty());
    EXPECT_TRUE(LinuxVolumeSource({folder / "missing", folder / "sys", {}, {}, {}, nullptr}).mounts().empty());
    EXPECT_TRUE(LinuxVolumeSource({folder / "missing", folder / "sys", {}, {}, {}}).mounts().empty());
}

TEST_F(Fixture, LocalVolumesTakeUuidLabelAndRemovableFromTheirDevice) {
    const auto mounts = source().mounts();
    const VolumeIdentity& root = at(mounts, "/").identity;
    EXPECT_EQ(root.kind, VolumeKind::internal);
    EXPECT_EQ(root.uuid, "0a1b2c3d-0000-4000-8000-000000000001");
    EXPECT_EQ(root.name, "system");
    EXPECT_TRUE(root.caseSensitive);

    const VolumeIdentity& usb = at(mounts, "/media/Back").identity;
    EXPECT_EQ(usb.kind, VolumeKind::removable);  // below a USB controller
    EXPECT_EQ(usb.uuid, "ABCD-1234");
    EXPECT_EQ(usb.name, "Back");  // no label: the mount point's name
    EXPECT_FALSE(usb.caseSensitive);

    const VolumeIdentity& flagged = at(mounts, "/media/My Disk\ntwo").identity;
    EXPECT_EQ(flagged.kind, VolumeKind::removable);  // its disk is flagged removable
    EXPECT_EQ(flagged.fileSystem, "exfat");

    const VolumeIdentity& sata = at(mounts, "/media/Backup").identity;
    EXPECT_EQ(sata.kind, VolumeKind::internal);
    EXPECT_EQ(sata.name, "Backup");
}

TEST_F(Fixture, PseudoFileSystemsAreListedButNotBrowsable) {
    const auto mounts = source().mounts();
    EXPECT_FALSE(at(mounts, "/proc").browsable);
    EXPECT_FALSE(at(mounts, "/sys").browsable);
    EXPECT_FALSE(at(mounts, "/sys/fs/cgroup").browsable);
    EXPECT_TRUE(at(mounts, "/").browsable);
    EXPECT_TRUE(at(mounts, "/mnt/nfs").browsable);
}

TEST_F(Fixture, NetworkMountsAreNamedAfterTheirShareWithARemountURL) {
    const auto mounts = source().mounts();
    const VolumeIdentity& smb = at(mounts, "/mnt/share").identity;
    EXPECT_EQ(smb.kind, VolumeKind::network);
    EXPECT_EQ(smb.remountURL->string(), "smb://NAS.local/Photos%20Shared");
    EXPECT_EQ(smb.name, "Photos Shared");
    EXPECT_TRUE(smb.isReadOnly);
    EXPECT_FALSE(smb.uuid);
    EXPECT_FALSE(smb.caseSensitive);

    const VolumeIdentity& nfs = at(mounts, "/mnt/nfs").identity;
    EXPECT_EQ(nfs.remountURL->string(), "nfs://server/export/home");
    EXPECT_EQ(nfs.name, "home");

    const VolumeIdentity& ssh = at(mounts, "/mnt/ssh").identity;
    EXPECT_EQ(ssh.kind, VolumeKind::network);
    EXPECT_EQ(ssh.remountURL->string(), "sftp://me@box/srv/data");
    EXPECT_EQ(ssh.remountURL->host(), "box");
}

TEST(RemountURL, OnlyRecognisedSourcesGiveOne) {
    EXPECT_EQ(LinuxVolumeSource::remountURL("cifs", "//host/share")->string(), "smb://host/share");
    EXPECT_EQ(LinuxVolumeSource::remountURL("nfs", "host:/path")->string(), "nfs://host/path");
    EXPECT_EQ(LinuxVolumeSource::remountURL("fuse.sshfs", "host:")->string(), "sftp://host/");
    EXPECT_FALSE(LinuxVolumeSource::remountURL("nfs", "/dev/sda1"));
    EXPECT_FALSE(LinuxVolumeSource::remountURL("cifs", "//"));
    EXPECT_FALSE(LinuxVolumeSource::remountURL("ext4", "weird:thing"));
}

TEST_F(Fixture, VolumesWithoutAFileSystemUuidGetAStableNameBasedOne) {
    devices.erase("/dev/sda2");
    const auto first = at(source().mounts(), "/").identity.uuid;
    ASSERT_TRUE(first);
    EXPECT_EQ(first, at(source().mounts(), "/").identity.uuid);
    EXPECT_EQ(*first, LinuxVolumeSource::nameBasedUuid("ext4", "/dev/sda2", "/"));
    EXPECT_EQ((*first)[14], '5');  // name-based, SHA-1
    EXPECT_NE(*first, LinuxVolumeSource::nameBasedUuid("ext4", "/dev/sda2", "/other"));
    EXPECT_NE(*first, LinuxVolumeSource::nameBasedUuid("xfs", "/dev/sda2", "/"));
    // A removable disk gets none: another stick at the same place would share it.
    EXPECT_FALSE(at(source().mounts(), "/media/My Disk\ntwo").identity.uuid);
}

TEST_F(Fixture, RealMountTableAndFreeSpace) {
    const LinuxVolumeSource system;
    const auto mounts = system.mounts();
    EXPECT_TRUE(std::any_of(mounts.begin(), mounts.end(), [](const auto& m) { return m.mountPoint == "/"; }));
    EXPECT_GT(system.availableCapacity(folder.path()).value_or(0), 0u);
    EXPECT_FALSE(system.availableCapacity(folder / "missing"));
}

}  // namespace
// A disk pulled out without unmounting: still in the table, its device gone.
TEST_F(Fixture, AMountWhoseDeviceIsGoneIsNotListed) {
    folder.write("mountinfo", std::string(fixtureTable) + "47 27 8:65 / /media/Gone rw,relatime - ext4 /dev/sde1 rw\n");
    const std::vector<MountedFileSystem> mounts = source().mounts();
    EXPECT_TRUE(std::none_of(mounts.begin(), mounts.end(), [](const MountedFileSystem& m) { return m.mountPoint == "/media/Gone"; }));
    EXPECT_TRUE(std::any_of(mounts.begin(), mounts.end(), [](const MountedFileSystem& m) { return m.mountPoint == "/media/Back"; }));
}

}  // namespace kelto
