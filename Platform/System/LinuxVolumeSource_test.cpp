#include "Platform/System/LinuxVolumeSource.h"

#include "Platform/System/BlockDevices.h"
#include "Platform/System/LinuxMountWatcher.h"
#include "Platform/System/MountTable.h"
#include "SyncModel/Support/NonWaitingThread.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <sys/sysmacros.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

using namespace kelto;

namespace {

namespace fs = std::filesystem;

// As the kernel writes it: space, newline and backslash in paths come as \040, \012 and \134.
const std::string fixtureTable =
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
        // 8:17 a USB disk's partition; 8:33 flagged removable; 8:2 and 8:49 on SATA.
        fs::create_directories(folder / "sys/dev/block");
        for (const auto& [number, device, removable] : {std::tuple{"8:2", "ata0/block/sda/sda2", "0"},
                                                        {"8:17", "usb2/2-1/host6/block/sdb/sdb1", "0"},
                                                        {"8:33", "ata1/block/sdc/sdc1", "1"},
                                                        {"8:49", "ata2/block/sdd/sdd1", "0"}}) {
            const std::string node = std::string("sys/devices/pci0/") + device;
            folder.write(node + "/partition", "1");
            folder.write(fs::path(node).parent_path() / "removable", removable);
            fs::create_directory_symlink(std::string("../../devices/pci0/") + device, folder / "sys/dev/block" / number);
        }
    }
    // What servers' names resolve to here; any other name does not resolve.
    std::map<std::string, std::vector<std::string>, std::less<>> hosts;
    int resolutions = 0;
    std::function<void()> resolving = [] {};  // runs as each name is resolved
    ManualClock clock;
    std::optional<std::string> rclone;
    std::vector<std::optional<uid_t>> rcloneOwners;
    LinuxVolumeSource source() {
        const auto tags = [this](const std::string& device) {
            return devices.contains(device) ? devices.at(device) : BlockDevices::Tags{};
        };
        const auto resolve = [this](std::string_view, std::string_view host) {
            resolving();
            ++resolutions;
            const auto found = hosts.find(host);
            return found == hosts.end() ? std::nullopt : std::optional<std::vector<std::string>>(found->second);
        };
        const auto config = [this](std::optional<uid_t> owner) {
            rcloneOwners.push_back(owner);
            return rclone;
        };
        return LinuxVolumeSource({folder / "mountinfo", folder / "sys", tags, resolve, config, &clock});
    }
    std::vector<MountedFileSystem> with(const std::string& lines) {
        folder.write("mountinfo", fixtureTable + lines);
        return source().mounts();
    }
    static const MountedFileSystem& at(const std::vector<MountedFileSystem>& mounts, const fs::path& point) {
        for (const MountedFileSystem& m : mounts)
            if (m.mountPoint == point) return m;
        throw std::runtime_error("no mount at " + point.string());
    }
};

// Of mounts at one place, or hidden by a later one above them, only the one in view is kept.
TEST_F(Fixture, MountTableDecodesEscapesAndKeepsOnlyTheVisibleOverMount) {
    folder.write("mountinfo", fixtureTable +
                                  "70 27 0:80 / /mnt/ov rw - overlay overlay rw,lowerdir=/x/L\\040a\\134\\054b=c\\134:d\\134\\134e:"
                                  "/x/L2\\134\\134040x,upperdir=/x/u\\134\\054p,workdir=/x/w\\134\\054k,uuid=on\n"
                                  "71 27 0:81 / /mnt/one rw - overlay none rw,lowerdir+=/x/l\\0541,lowerdir+=/x/l:2,"
                                  "lowerdir+=/x/l\\1343,datadir+=/x/d,upperdir=/x/up,workdir=/x/wk\n");
    const auto records = MountTable::read(folder / "mountinfo");
    ASSERT_EQ(records.size(), 12u);
    // Overlay layers as the kernel writes them: upper first, then lower and data layers.
    EXPECT_EQ(records[10].stackedOn, (std::vector<std::string>{"/x/u,p", "/x/L a,b=c:d\\e", "/x/L2\\040x"}));
    EXPECT_EQ(records[11].stackedOn, (std::vector<std::string>{"/x/up", "/x/l,1", "/x/l:2", "/x/l\\3", "/x/d"}));
    EXPECT_EQ(records[5].mountPoint, "/media/My Disk\ntwo");
    EXPECT_EQ(records[6].source, "//NAS.local/Photos Shared");
    EXPECT_TRUE(records[6].readOnly);
    EXPECT_FALSE(records[3].readOnly);
    // The tmpfs at /media/Backup lies under the disk mounted over it.
    EXPECT_EQ(std::tuple(records[9].mountPoint, records[9].fileSystem, records[9].device),
              std::tuple("/media/Backup", "ext4", makedev(8, 49)));
    folder.write("mountinfo", fixtureTable +
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
    // An unreadable table lists nothing; a disk pulled out without unmounting is listed, its device gone.
    EXPECT_TRUE(MountTable::read(folder / "missing").empty());
    EXPECT_TRUE(LinuxVolumeSource({folder / "missing", folder / "sys", {}, {}, {}, nullptr}).mounts().empty());
    const auto mounts = with("47 27 8:65 / /media/Gone rw,relatime - ext4 /dev/sde1 rw\n");
    EXPECT_TRUE(std::none_of(mounts.begin(), mounts.end(), [](const auto& m) { return m.mountPoint == "/media/Gone"; }));
    EXPECT_NO_THROW(at(mounts, "/media/Back"));
    const LinuxVolumeSource system;
    EXPECT_NO_THROW(at(system.mounts(), "/"));
    EXPECT_GT(system.availableCapacity(folder.path()).value_or(0), 0u);
    EXPECT_FALSE(system.availableCapacity(folder / "missing"));
}

TEST_F(Fixture, WhatEachMountIsStackedOnAndWhereItsServerIs) {
    hosts = {{"backupbox", {"127.0.0.1"}}, {"nas", {"192.0.2.7", "::1"}}, {"far", {"192.0.2.9"}},
             {"mapped", {"::ffff:127.0.0.1"}}, {"far6", {"::ffff:192.0.2.9"}}};
    using Folders = std::vector<fs::path>;
    const std::optional<bool> any;
    const struct {
        std::string mount;
        std::optional<Folders> stackedOn;
        std::optional<bool> another, markers;
    } rows[]{
        {"overlay overlay rw,lowerdir=/l\\0401:/l\\134:2::/l3,upperdir=/up,workdir=/work", Folders{"/up", "/l 1", "/l:2", "/l3"}, any, false},
        {"overlay overlay rw,lowerdir=low,upperdir=up,workdir=w", std::nullopt, any, false},
        {"fuse /srv/P\\040Q rw,user_id=0", Folders{"/srv/P Q"}, any, false},  // bindfs names no subtype
        {"fuseblk /dev/loop0 rw,user_id=0", Folders{}, any, any},
        {"fuse.mergerfs A:other rw,user_id=0", Folders{"A", "other"}, any, false},
        {"fuse.mergerfs /b1:/b\\0402 rw,user_id=0", Folders{"/b1", "/b 2"}, any, false},
        {"fuse.unionfs pool rw", std::nullopt, any, false},
        {"fuse.lxcfs lxcfs rw,user_id=0", Folders{"lxcfs"}, any, any},
        {"fuse.fuse-overlayfs fuse-overlayfs rw", Folders{"fuse-overlayfs"}, false, false},
        {"fuse.squashfuse squashfuse rw,user_id=0", Folders{"squashfuse"}, any, any},
        {"fuse.sshfs me@box:/srv/data rw", Folders{}, any, any},
        {"fuse.sshfs me@127.0.0.1:/home/me/P rw", Folders{"/home/me/P"}, any, any},
        {"fuse.sshfs localhost:docs rw", Folders{"docs"}, any, any},
        {"nfs4 LOCALHOST:/srv/x rw,addr=127.0.0.1", Folders{"/srv/x"}, any, any},
        {"cifs //127.0.0.1/photos rw", Folders{"photos"}, any, any},
        {"nfs4 [::1]:/srv/y rw", Folders{"/srv/y"}, any, any},
        {"fuse.sshfs me@[::1]:/srv/z rw", Folders{"/srv/z"}, any, any},
        {"fuse.sshfs me@mapped:/srv/m rw", Folders{"/srv/m"}, false, any},
        {"fuse.sshfs me@far6:/srv/f rw", std::nullopt, true, any},
        {"fuse.sshfs me@backupbox:/home/me/P rw", Folders{"/home/me/P"}, false, true},
        {"nfs4 nas:/srv/x rw", Folders{"/srv/x"}, false, true},
        {"cifs //far/photos rw", Folders{}, true, true},
        {"fuse.sshfs ghost:/srv rw", Folders{}, false, any},
        {"fuse.rclone gdrive:photos rw", std::nullopt, false, false},
        {"fuse.gvfsd-fuse gvfsd-fuse rw", std::nullopt, false, true},
    };
    std::string lines;
    for (std::size_t i = 0; i < std::size(rows); ++i)
        lines += std::to_string(80 + i) + " 27 0:" + std::to_string(80 + i) + " / /mnt/" + std::to_string(i) + " rw - " +
                 rows[i].mount + "\n";
    // FileSystemsOnLoopDevicesAreStackedOnTheirImages: each lies on its image, through a mapping too.
    const std::string block = "sys/devices/virtual/block/";
    for (const auto& [loop, image] : {std::pair{"loop0", "/home/me/disk.img"}, {"loop1", "/home/me/My Files/vault.img"},
                                      {"loop2", "/tmp/old.img (deleted)"}, {"loop3", "/srv/pool.img"},
                                      {"loop4", "/srv/partitioned.img"}})
        folder.write(block + loop + "/loop/backing_file", image + std::string("\n"));
    folder.write(block + "loop4/loop4p1/partition", "1\n");
    fs::create_directories(folder / (block + "dm-0/slaves"));
    fs::create_directory_symlink("../../loop1", folder / (block + "dm-0/slaves/loop1"));
    for (const auto& [number, name] : {std::pair{"7:0", "loop0"}, {"253:0", "dm-0"}, {"7:2", "loop2"}, {"259:1", "loop4/loop4p1"}})
        fs::create_directory_symlink(std::string("../../devices/virtual/block/") + name, folder / "sys/dev/block" / number);
    fs::create_directories(folder / "sys/class/block");
    fs::create_directory_symlink("../../devices/virtual/block/loop3", folder / "sys/class/block/loop3");
    const auto mounts = with(lines + "120 27 7:0 / /mnt/img rw - ext4 /dev/loop0 rw\n"
                                     "121 27 253:0 / /mnt/vault rw - ext4 /dev/mapper/vault rw\n"
                                     "122 27 7:2 / /mnt/gone rw - ext4 /dev/loop2 rw\n"
                                     "123 27 0:61 / /mnt/pool rw - btrfs /dev/loop3 rw\n"
                                     "124 27 259:1 / /mnt/part rw - ext4 /dev/loop4p1 rw\n");
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].mount);
        const MountedFileSystem& mount = at(mounts, "/mnt/" + std::to_string(i));
        if (rows[i].stackedOn) { EXPECT_EQ(mount.stackedOn, *rows[i].stackedOn); }
        if (rows[i].another) { EXPECT_EQ(mount.onAnotherMachine, *rows[i].another); }
        if (rows[i].markers) { EXPECT_EQ(mount.placedByMarkers, *rows[i].markers); }
    }
    EXPECT_FALSE(at(mounts, "/media/Back").placedByMarkers);
    for (const auto& [point, images] : std::vector<std::pair<fs::path, Folders>>{
             {"/mnt/img", {"/home/me/disk.img"}}, {"/mnt/vault", {"/home/me/My Files/vault.img"}}, {"/mnt/gone", {}},
             {"/mnt/pool", {"/srv/pool.img"}}, {"/mnt/part", {"/srv/partitioned.img"}}, {"/media/Back", {}}}) {
        EXPECT_EQ(at(mounts, point).images, images) << point;
        EXPECT_EQ(at(mounts, point).stackedOn, Folders{}) << point;
    }
    // This machine's addresses in every form.
    for (const char* address : {"[::1]", "::ffff:127.0.0.1", "[::FFFF:127.0.0.2]", "::ffff:7f00:1", "::1%lo", "0:0:0:0:0:0:0:1"})
        EXPECT_TRUE(LinuxVolumeSource::isThisMachine(address)) << address;
    for (const char* address : {"::ffff:192.0.2.9", "box.example.org"})
        EXPECT_FALSE(LinuxVolumeSource::isThisMachine(address)) << address;
}

// A server's name is resolved once a minute, and never waited for on a window's thread.
TEST_F(Fixture, AServersNameIsNeverWaitedForOnAWindowsThread) {
    hosts = {{"far", {"192.0.2.9"}}};
    folder.write("mountinfo", "27 1 8:2 / / rw - ext4 /dev/sda2 rw\n80 27 0:90 / /mnt/far rw - cifs //far/photos rw\n");
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, released = false;
    resolving = [&] {
        std::unique_lock guard(lock);
        entered = true;
        changed.notify_all();
        // A bound only where the read waited, so that the test fails, not hangs.
        changed.wait_for(guard, std::chrono::seconds(10), [&] { return released; });
    };
    const LinuxVolumeSource system = source();
    {
        const NonWaitingThread windows;
        EXPECT_FALSE(at(system.mounts(), "/mnt/far").onAnotherMachine);
    }
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return entered; });
        EXPECT_EQ(resolutions, 0);
        released = true;
        changed.notify_all();
    }
    for (const auto& [later, resolved] : {std::pair{0, 1}, {59, 1}, {2, 2}}) {
        clock.advance(later);
        EXPECT_TRUE(at(system.mounts(), "/mnt/far").onAnotherMachine) << later;
        EXPECT_EQ(resolutions, resolved) << later;
    }
}

TEST_F(Fixture, RcloneMountsAreAnotherMachinesOnlyWhereTheirRemotesAre) {
    hosts = {{"far", {"192.0.2.9"}}};
    const std::string config = "# made by rclone config\n"
                               "[drive]\ntype = drive\nscope = drive\n\n"
                               "[s3]\ntype = s3\nprovider = AWS\n"
                               "[secret]\ntype = crypt\nremote = s3:bucket/x\n"
                               "[nas]\ntype = sftp\nhost = far\n"
                               "[home]\ntype = alias\nremote = /home/me\n"
                               "[both]\ntype = union\nupstreams = /a /b:ro\n"
                               "[part]\ntype = union\nupstreams = /a drive:x\n"
                               "[mixed]\ntype = combine\nupstreams = d=drive: h=home:\n"
                               "[self]\ntype = sftp\nhost = 127.0.0.1\n"
                               "[dav]\ntype = webdav\nurl = http://localhost:8080/dav\n"
                               "[loop]\ntype = crypt\nremote = back:\n"
                               "[back]\ntype = alias\nremote = loop:x\n"
                               "[vault]\ntype = crypt\nremote = /data/v\n"
                               "[pics]\ntype = alias\nremote = drive:photos\n"
                               "[quoted]\ntype = \"local\"\n";
    using Folders = std::vector<fs::path>;
    const VolumeKind here = VolumeKind::internal, share = VolumeKind::network;
    const std::optional<VolumeKind> anyKind;
    const std::optional<std::string> any;
    const struct {
        std::string remote;
        bool another;
        std::optional<Folders> stackedOn = std::nullopt;
        std::optional<VolumeKind> kind = std::nullopt;
        std::optional<std::string> url = std::nullopt, name = std::nullopt;  // name "" for the mount point's
    } rows[]{
        {"drive:photos", true}, {"secret:", true}, {"nas:/srv", true}, {":s3:bucket", true},
        {"home:", false}, {"both:", false}, {"mixed:", false}, {"dav:", false}, {"loop:", false},
        {"ghost:", false}, {"quoted:", false},
        {"/srv/x", false, Folders{"/srv/x"}, here, "", ""},
        {":local:/srv", false, Folders{"/srv"}, here, "", ""},
        {"home:Photos", false, Folders{"/home/me/Photos"}, here, "", ""},
        {"both:2020", false, Folders{"/a/2020", "/b/2020"}, here, "", ""},
        {"drive:photos/2020", true, Folders{}, share, "rclone://drive/photos/2020", "2020"},
        {"pics:2020", true, Folders{}, share, "rclone://drive/photos/2020", "2020"},
        {":memory:", false, Folders{}, here, "", ""},
        {"part:", true, Folders{"/a"}, share, "rclone://part/", ""},
        {"vault:", false, Folders{}, share, "rclone://vault/", ""},
        {"self:srv", false, Folders{}, share, "rclone://self/srv", "srv"},
        {":local:relative", false, Folders{}, share, "rclone://%3Alocal/relative", "relative"},
    };
    std::string table = fixtureTable;
    for (std::size_t i = 0; i < std::size(rows); ++i)
        table += std::to_string(90 + i) + " 27 0:" + std::to_string(90 + i) + " / /mnt/m" + std::to_string(i) +
                 " rw - fuse.rclone " + rows[i].remote + " rw,user_id=1000\n";
    folder.write("mountinfo", table);
    for (const std::optional<std::string>& text :
         {std::optional(config), std::optional<std::string>("# Encrypted rclone configuration File\n\nRCLONE_ENCRYPT_V0:\nA2b+c==\n"),
          std::optional<std::string>()}) {
        rclone = text;
        const auto mounts = source().mounts();
        EXPECT_EQ(rcloneOwners.back(), std::optional<uid_t>(1000));
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE(rows[i].remote);
            const MountedFileSystem& mount = at(mounts, "/mnt/m" + std::to_string(i));
            EXPECT_EQ(mount.onAnotherMachine, text == config && rows[i].another);
            if (text != config) continue;
            if (rows[i].stackedOn) { EXPECT_EQ(mount.stackedOn, *rows[i].stackedOn); }
            if (rows[i].kind) { EXPECT_EQ(mount.identity.kind, *rows[i].kind); }
            if (rows[i].url) { EXPECT_EQ(mount.identity.remountURL ? mount.identity.remountURL->string() : "", *rows[i].url); }
            if (rows[i].name) { EXPECT_EQ(mount.identity.name, rows[i].name->empty() ? "m" + std::to_string(i) : *rows[i].name); }
        }
    }
    const char* set = std::getenv("RCLONE_CONFIG");  // no configuration file at all is an empty one
    const std::optional<std::string> before = set ? std::optional<std::string>(set) : std::nullopt;
    ::setenv("RCLONE_CONFIG", (folder / "none.conf").c_str(), 1);
    EXPECT_EQ(LinuxVolumeSource::rcloneConfig(std::nullopt), std::optional<std::string>(""));
    before ? ::setenv("RCLONE_CONFIG", before->c_str(), 1) : ::unsetenv("RCLONE_CONFIG");
}

std::string described(const VolumeIdentity& v) {
    return std::string(enumName(v.kind)) + " " + v.uuid.value_or("-") + " " + v.name + " " + v.fileSystem +
           (v.isReadOnly ? " ro" : "") + (v.caseSensitive ? " cs" : "") +
           (v.remountURL ? " " + v.remountURL->string() : "");
}

TEST_F(Fixture, EachMountOfTheTableIsKnownByItsDeviceOrShare) {
    const auto mounts = with("47 27 8:17 /Photos/My\\0402024 /home/me/Photos rw - vfat /dev/sdb1 rw\n"
                             "48 27 0:60 /@data /media/data rw - btrfs /dev/sde1 rw,subvol=/@data\n"
                             "49 27 8:17 /old//deleted /mnt/old rw - vfat /dev/sdb1 rw\n"
                             "50 27 0:54 /home /mnt/home rw - nfs4 server:/export/home rw\n"
                             "51 27 0:54 /home/me/Music /home/me/Music rw - nfs4 server:/export/home rw\n");
    for (const auto& [point, root] : std::vector<std::pair<fs::path, std::string>>{
             {"/media/Back", "/"}, {"/home/me/Photos", "/Photos/My 2024"}, {"/media/data", "/@data"},
             {"/mnt/old", ""}, {"/mnt/nfs", "/"}, {"/mnt/home", "/"}, {"/home/me/Music", "/me/Music"}})
        EXPECT_EQ(at(mounts, point).fileSystemRoot, root) << point;
    EXPECT_EQ(at(mounts, "/home/me/Photos").device, makedev(8, 17));
    for (const auto& [point, identity] : std::vector<std::pair<fs::path, std::string>>{
             {"/", "internal 0a1b2c3d-0000-4000-8000-000000000001 system ext4 cs"},
             {"/media/Back", "removable ABCD-1234 Back vfat"},  // no label: the mount point's name
             {"/media/My Disk\ntwo", "removable - My Disk\ntwo exfat"},
             {"/media/Backup", "internal 11111111-2222-4333-8444-555555555555 Backup ext4 cs"},
             {"/mnt/share", "network - Photos Shared cifs ro smb://NAS.local/Photos%20Shared"},
             {"/mnt/nfs", "network - home nfs4 cs nfs://server/export/home"},
             {"/mnt/ssh", "network - data fuse.sshfs cs sftp://me@box/srv/data"}})
        EXPECT_EQ(described(at(mounts, point).identity), identity) << point;
    EXPECT_EQ(at(mounts, "/mnt/ssh").identity.remountURL->host(), "box");
    for (const auto& [point, browsable] : {std::pair{"/proc", false}, {"/sys", false}, {"/sys/fs/cgroup", false},
                                           {"/", true}, {"/mnt/nfs", true}})
        EXPECT_EQ(at(mounts, point).browsable, browsable) << point;
    for (const auto& [fileSystem, source, url] : std::vector<std::array<std::string, 3>>{
             {"fuse.sshfs", "host:", "sftp://host/"}, {"nfs4", "[::1]:/srv/y", "nfs://[::1]/srv/y"},
             {"nfs", "/dev/sda1", ""}, {"cifs", "//", ""}, {"ext4", "weird:thing", ""}}) {
        const auto got = LinuxVolumeSource::remountURL(fileSystem, source);
        EXPECT_EQ(got ? got->string() : "", url) << source;
    }
    EXPECT_EQ(LinuxVolumeSource::remountURL("fuse.sshfs", "me@[fd00::5]:/srv")->host(), "[fd00::5]");
    // A volume without a file system UUID gets a stable one made of its names.
    devices.erase("/dev/sda2");
    const auto first = at(source().mounts(), "/").identity.uuid;
    ASSERT_TRUE(first);
    EXPECT_EQ(first, at(source().mounts(), "/").identity.uuid);
    EXPECT_EQ(*first, LinuxVolumeSource::nameBasedUuid("ext4", "/dev/sda2", "/"));
    EXPECT_NE(*first, LinuxVolumeSource::nameBasedUuid("ext4", "/dev/sda2", "/other"));
    EXPECT_NE(*first, LinuxVolumeSource::nameBasedUuid("xfs", "/dev/sda2", "/"));
    // Another stick at the same place would share it.
    EXPECT_FALSE(at(source().mounts(), "/media/My Disk\ntwo").identity.uuid);
}

TEST(BlockDevicesTest, UdevLinksGiveUuidAndDecodedLabelAndAProbeOfNoFileSystemNothing) {
    test::TemporaryFolder dev;
    dev.write("sdb1", "");
    dev.write("sdc1", "");
    fs::create_directories(dev / "disk/by-uuid");
    fs::create_directories(dev / "disk/by-label");
    fs::create_symlink("../../sdb1", dev / "disk/by-uuid/ABCD-1234");
    fs::create_symlink("../../sdb1", dev / "disk/by-label/My\\x20Stick\\x2fA");
    fs::create_symlink("../../sdc1", dev / "disk/by-uuid/1111-2222");
    fs::create_symlink("../../gone", dev / "disk/by-label/Dangling");
    const auto tags = BlockDevices::linked((dev / "sdb1").string(), dev / "disk");
    EXPECT_EQ(tags.uuid, "ABCD-1234");
    EXPECT_EQ(tags.label, "My Stick/A");
    const auto unlabelled = BlockDevices::linked((dev / "sdc1").string(), dev / "disk");
    EXPECT_EQ(unlabelled.uuid, "1111-2222");
    EXPECT_FALSE(unlabelled.label);
    EXPECT_FALSE(BlockDevices::linked((dev / "missing").string(), dev / "disk").uuid);
    EXPECT_FALSE(BlockDevices::linked((dev / "sdb1").string(), dev / "nowhere").uuid);
    dev.write("blank", std::string(64 * 1024, '\0'));
    const auto blank = BlockDevices::probe((dev / "blank").string());
    EXPECT_FALSE(blank.uuid || blank.label);
    EXPECT_FALSE(BlockDevices::probe("relative/path").uuid);
}

TEST(LinuxMountWatcherTest, AStopEndsTheWait) {
    LinuxMountWatcher watcher;
    EXPECT_TRUE(watcher.isWatching());
    std::stop_source stop;
    std::jthread stopper([&] { stop.request_stop(); });
    // Mounts by tests running beside this one may wake it first.
    while (watcher.wait(stop.get_token())) {
    }
    EXPECT_TRUE(stop.stop_requested());
    EXPECT_FALSE(watcher.wait(stop.get_token()));
}

}  // namespace
