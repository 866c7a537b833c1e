#include "Platform/System/LinuxMountWatcher.h"
#include "Platform/System/LinuxVolumeSource.h"
#include "SyncAutomation/DiskAppearance.h"
#include "SyncAutomation/EndpointResolver.h"
#include "SyncAutomation/FileSystemPlaces.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncAutomation/VolumeMonitor.h"
#include "SyncModel/Support/Uuid.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <algorithm>
#include <fstream>
#include <map>
#include <tuple>

namespace kelto {
namespace {

namespace fs = std::filesystem;

// Fresh UUIDs, so that runs side by side never see each other's disks as theirs.
std::string freshUuid() { return Uuid::random().lowerString(); }

// The volume source over a sysfs tree that flags `onDevice`'s device removable, as a USB stick's would be.
struct RemovableSystem {
    test::TemporaryFolder sysfs;
    std::optional<LinuxVolumeSource> system;
    explicit RemovableSystem(const fs::path& onDevice) {
        struct stat info {};
        EXPECT_EQ(::stat(onDevice.c_str(), &info), 0);
        const std::string name = std::to_string(major(info.st_dev)) + ":" + std::to_string(minor(info.st_dev));
        sysfs.write("devices/" + name + "/removable", "1\n");
        fs::create_directories(sysfs / "dev/block");
        fs::create_directory_symlink(sysfs / "devices" / name, sysfs / "dev/block" / name);
        system.emplace(LinuxVolumeSource::Options{"/proc/self/mountinfo", sysfs.path(), {}, {}, {}, nullptr});
    }
    Endpoint endpoint(const fs::path& folder) const { return VolumeInspector::endpoint(folder, *system); }
    EndpointResolution resolve(const Endpoint& endpoint) const {
        return EndpointResolver::resolve(endpoint, VolumeInspector::mountedVolumes(*system),
                                         [&](const fs::path& p) { return VolumeInspector::identity(p, *system); });
    }
};

TEST(RealVolumes, TreesReachEachOtherThroughRealMounts) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    const test::TemporaryFolder tmp;
    std::string whyNot;
    const auto image = test::Ext4Volume::make(whyNot);
    ASSERT_TRUE(image) << whyNot;
    test::TestMounts mounts;  // undone before the image goes
    const auto overlap = [](const fs::path& a, const fs::path& b) {
        const auto volumes = VolumeInspector::mountedVolumes();
        return FileSystemPlaces::overlap(volumes, fs::canonical(a), fs::canonical(b)) &&
               FileSystemPlaces::overlap(volumes, fs::canonical(b), fs::canonical(a));
    };
    for (const char* folder : {"R/data/src/photos", "R/data/dst/inner", "H/me/disk", "backup", "P/A", "B", "O",
                               "ov/work", "M/a/b", "E", "img/mnt", "Y/s/t/u"})
        fs::create_directories(tmp / folder);
    ASSERT_TRUE(mounts.bind(tmp / "R/data", tmp / "R/data/dst/inner"));
    EXPECT_TRUE(overlap(tmp / "R/data/src", tmp / "R/data/dst"));
    ASSERT_TRUE(mounts.tmpfs(tmp / "H/me/disk"));
    EXPECT_FALSE(overlap(tmp / "H/me", tmp / "backup"));
    // A loop-mounted ext4 image whose root is shown again three folders down.
    fs::create_directories(*image / "x");
    ASSERT_TRUE(mounts.bind(image->path(), tmp / "Y/s/t/u"));
    EXPECT_TRUE(overlap(*image / "x", tmp / "Y"));
    EXPECT_FALSE(overlap(*image / "x", tmp / "backup"));
    ASSERT_TRUE(mounts.passThrough(tmp / "P", tmp / "B")) << "bindfs missing";
    EXPECT_TRUE(overlap(tmp / "P/A", tmp / "B"));
    EXPECT_FALSE(overlap(tmp / "backup", tmp / "B"));
    ASSERT_TRUE(mounts.overlay(tmp / "backup", tmp / "P", tmp / "ov/work", tmp / "O"));
    EXPECT_TRUE(overlap(tmp / "P/A", tmp / "O"));  // P is the upper layer
    ASSERT_TRUE(mounts.exfat(tmp / "exfat.img", tmp / "E")) << "exFAT through FUSE cannot be mounted";
    fs::create_directories(tmp / "E/data/sub");
    EXPECT_TRUE(overlap(tmp / "E/data/sub", tmp / "E/Data"));
    fs::create_directories(tmp / "E/other");
    EXPECT_FALSE(overlap(tmp / "E/data", tmp / "E/other"));
    ASSERT_TRUE(mounts.tmpfs(tmp / "M/a/b"));
    ASSERT_TRUE(mounts.tmpfs(tmp / "M/a"));
    fs::create_directories(tmp / "M/a/b/x");
    const auto volumes = VolumeInspector::mountedVolumes();
    const auto place = FileSystemPlaces::place(volumes, tmp / "M/a/b/x");
    ASSERT_TRUE(place);
    EXPECT_EQ(place->mount->root, tmp / "M/a");
    EXPECT_EQ(place->path, (std::vector<std::string>{"/", "b", "x"}));
    // The live table tells what mounts lie in: ramfs (no volume to sync), a loop partition's image, overlay layers.
    for (const char* folder : {"ram", "part", "L/lower", "L/upper", "L/work", "L/at"})
        fs::create_directories(tmp / folder);
    ASSERT_TRUE(mounts.mount({"mount", "-t", "ramfs", "ramfs", (tmp / "ram").native()}, tmp / "ram"));
    const auto withRam = VolumeInspector::mountedVolumes();
    const auto onRam = [&](const MountedVolume& m) { return m.root == tmp / "ram"; };
    EXPECT_TRUE(std::none_of(withRam.begin(), withRam.end(), onRam));
    const fs::path partitioned = tmp / "partitioned.img";
    // One Linux partition from sector 2048 to the end of 32 MiB, in a DOS partition table.
    std::string bootSector(512, '\0');
    const std::size_t entry = 446;  // the first of the table's four entries; numbers little-endian
    bootSector[entry + 4] = '\x83';   // Linux
    bootSector[entry + 9] = '\x08';   // first sector 0x0800 = 2048
    bootSector[entry + 13] = '\xF8';  // 0xF800 = 63488 sectors
    bootSector[510] = '\x55';
    bootSector[511] = '\xAA';  // the table's signature
    std::ofstream(partitioned, std::ios::binary) << bootSector;
    fs::resize_file(partitioned, 32 << 20);
    const std::string device = mounts.loopDevice(partitioned);
    ASSERT_FALSE(device.empty());
    test::runQuietly({"partx", "-a", device});
    ASSERT_EQ(test::runQuietly({"mkfs.ext4", "-q", "-F", device + "p1"}), 0);
    ASSERT_TRUE(mounts.mount({"mount", device + "p1", (tmp / "part").native()}, tmp / "part"));
    ASSERT_TRUE(mounts.mount({"sh", "-c",
                              "cd '" + (tmp / "L").native() +
                                  "' && mount -t overlay overlay -o lowerdir=lower,upperdir=upper,workdir=work at"},
                             tmp / "L/at"));
    std::map<fs::path, MountedVolume> byRoot;
    for (MountedVolume& mount : VolumeInspector::mounts()) byRoot[mount.root] = std::move(mount);
    ASSERT_TRUE(byRoot.contains(tmp / "ram"));
    EXPECT_NE(byRoot[tmp / "ram"].device, 0u);
    EXPECT_EQ(byRoot[tmp / "part"].images, std::vector<fs::path>{partitioned});
    EXPECT_EQ(byRoot[tmp / "L/at"].stackedOn, (std::vector<fs::path>{"upper", "lower"}));
}

// Waits for one event among those of other tests mounting beside this one.
bool sees(VolumeEventStream& stream, const VolumeEvent& wanted) {
    while (const auto event = stream.next(std::chrono::seconds(20)))
        if (*event == wanted) return true;
    return false;
}

TEST(RealVolumes, MonitorSeesAMountAndItsUnmount) {
    const LinuxVolumeSource system;
    VolumeMonitor monitor(system, std::make_unique<LinuxMountWatcher>(), SystemClock::shared());
    const auto stream = monitor.events();
    fs::path mountPoint;
    {
        const std::string uuid = freshUuid();
        std::string whyNot;
        const auto volume = test::Ext4Volume::make(whyNot, "KELTOSEEN", uuid);
        if (!volume) GTEST_SKIP() << "needs a mounted ext4 image: " << whyNot;
        mountPoint = volume->path();
        EXPECT_TRUE(sees(*stream, VolumeEvent::mounted(mountPoint)));
        EXPECT_TRUE(monitor.firstSeen(mountPoint));
        EXPECT_EQ(DiskAppearance::appearanceTime(mountPoint, &monitor), monitor.firstSeen(mountPoint));
        const auto volumes = VolumeInspector::mountedVolumes(system);
        const auto mounted = std::find_if(volumes.begin(), volumes.end(), [&](auto& v) { return v.root == mountPoint; });
        ASSERT_NE(mounted, volumes.end());
        const VolumeIdentity& seen = mounted->identity;
        EXPECT_EQ(std::tuple(seen.uuid, seen.name, seen.fileSystem, seen.caseSensitive, seen.isReadOnly),
                  std::tuple(std::optional(uuid), "KELTOSEEN", "ext4", true, false));
        fs::create_directories(*volume / "Photos/2024");
        struct stat info {};
        ASSERT_EQ(::stat((*volume / "Photos/2024").c_str(), &info), 0);
        EXPECT_EQ(VolumeInspector::endpoint(*volume / "Photos/2024", system),
                  (Endpoint{(*volume / "Photos/2024").native(), std::nullopt, seen, "Photos/2024", info.st_ino}));
        EXPECT_GT(system.availableCapacity(mountPoint).value_or(0), 0u);
        SCOPED_TRACE("ABindMountOfASubFolderListedFirstServesOnlyWhatItShows");
        const RemovableSystem removable(volume->path());
        fs::create_directories(*volume / "Docs");
        fs::create_directories(*volume / "sub/Docs");
        const Endpoint docs = removable.endpoint(*volume / "Docs");
        ASSERT_EQ(docs.volume.kind, VolumeKind::removable);
        const test::TemporaryFolder bind;
        test::TestMounts mounts;  // undone before the volume goes
        ASSERT_TRUE(mounts.bind(*volume / "sub", bind.path()));
        // Now listed after the bind mount; unmounted where it was.
        ASSERT_TRUE(volume->remountElsewhere());
        mountPoint = volume->path();  // where the volume goes away from at the end
        EXPECT_EQ(removable.resolve(docs), EndpointResolution::available(*volume / "Docs"));
        const Endpoint inBind = removable.endpoint(bind / "Docs");
        EXPECT_EQ(inBind.relativePath, "sub/Docs");
        EXPECT_EQ(removable.resolve(inBind), EndpointResolution::available(bind / "Docs"));
    }
    EXPECT_TRUE(sees(*stream, VolumeEvent::unmounted(mountPoint)));
    EXPECT_FALSE(monitor.firstSeen(mountPoint));
}

}  // namespace
}  // namespace kelto
