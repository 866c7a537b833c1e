#include "SyncAutomation/VolumeMonitor.h"

#include "Platform/System/LinuxVolumeSource.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/DiskAppearance.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncAutomation/VolumeMonitorEvents.h"
#include "SyncEngine/FileSystemTraits.h"
#include "SyncModel/Support/Clock.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/PathComponents.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <condition_variable>
#include <mutex>

namespace kelto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::volumeIdentity;

// Lets the test say when the table changed.
class SignalledWatcher final : public MountWatcher {
public:
    struct Signal {
        std::mutex mutex;
        std::condition_variable_any changed;
        int pending = 0;
    };
    explicit SignalledWatcher(std::shared_ptr<Signal> signal) : signal_(std::move(signal)) {}
    bool wait(std::stop_token stop) override {
        std::unique_lock lock(signal_->mutex);
        if (!signal_->changed.wait(lock, stop, [this] { return signal_->pending > 0; })) return false;
        --signal_->pending;
        return true;
    }

private:
    std::shared_ptr<Signal> signal_;
};

// The fake table read under the lock the test changes it under.
class LockedSource final : public VolumeSource {
public:
    LockedSource(const VolumeSource& inner, std::mutex& mutex) : inner_(inner), mutex_(mutex) {}
    std::vector<MountedFileSystem> mounts() const override {
        const std::lock_guard lock(mutex_);
        return inner_.mounts();
    }
    std::optional<std::uint64_t> availableCapacity(const std::filesystem::path& path) const override {
        return inner_.availableCapacity(path);
    }

private:
    const VolumeSource& inner_;
    std::mutex& mutex_;
};

struct Monitor : ::testing::Test {
    test::FakeVolumeSource source;
    std::shared_ptr<SignalledWatcher::Signal> signal = std::make_shared<SignalledWatcher::Signal>();
    LockedSource locked{source, signal->mutex};
    ManualClock clock{Date{1000}};

    Monitor() { source.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system")); }

    // Changes the table while the watch thread waits, then lets it look.
    template <typename Change>
    void change(Change&& apply) {
        {
            const std::lock_guard lock(signal->mutex);
            apply();
            ++signal->pending;
        }
        signal->changed.notify_all();
    }

    std::unique_ptr<VolumeMonitor> start() {
        return std::make_unique<VolumeMonitor>(locked, std::make_unique<SignalledWatcher>(signal), clock);
    }
};

// Another disk at the same mount point goes and comes; pushed events reach an observer until it lets go.
TEST_F(Monitor, EveryStreamSeesAMountAndItsUnmount) {
    const auto monitor = start();
    VolumeMonitorEvents events(*monitor);
    ManualClock manualClock;
    ManualExecutor main(manualClock);
    std::vector<VolumeEvent> seen;
    Subscription subscription = events.observe(main, [&](const VolumeEvent& event) { seen.push_back(event); });
    std::vector<std::shared_ptr<VolumeEventStream>> streams{monitor->events(), monitor->events(), monitor->events()};
    change([&] { source.add("/media/Stick", volumeIdentity(VolumeKind::removable, "USB", "Stick")); });
    for (const auto& stream : streams) EXPECT_EQ(stream->next(10s), VolumeEvent::mounted("/media/Stick"));
    EXPECT_EQ(monitor->firstSeen("/media/Stick"), Date{1000});
    EXPECT_FALSE(monitor->firstSeen("/"));  // there before the monitor
    streams.pop_back();  // one subscriber goes away
    change([&] { source.table.pop_back(); });
    std::stop_source stop;
    stop.request_stop();
    for (const auto& stream : streams) {
        EXPECT_EQ(stream->next(10s), VolumeEvent::unmounted("/media/Stick"));
        EXPECT_FALSE(stream->next(0ms));  // once only
        EXPECT_FALSE(stream->next(stop.get_token()));  // a stop ends the wait for more
    }
    EXPECT_FALSE(monitor->firstSeen("/media/Stick"));
    change([&] { source.add("/media/Stick", volumeIdentity(VolumeKind::removable, "USB", "Stick")); });
    EXPECT_EQ(streams[0]->next(10s), VolumeEvent::mounted("/media/Stick"));
    change([&] {
        source.table.back().identity.isReadOnly = true;  // remounted read-only: the same disk
        source.add("/proc", volumeIdentity(VolumeKind::internal, "PROC", "proc", "proc"), false);
    });
    change([&] {
        source.table.pop_back();
        source.table.back().identity.uuid = "OTHER";
    });
    EXPECT_EQ(streams[0]->next(10s), VolumeEvent::unmounted("/media/Stick"));
    EXPECT_EQ(streams[0]->next(10s), VolumeEvent::mounted("/media/Stick"));
    EXPECT_FALSE(streams[0]->next(0ms));
    ASSERT_TRUE(main.runUntil([&] { return seen.size() >= 5; }));
    const VolumeEvent in = VolumeEvent::mounted("/media/Stick"), out = VolumeEvent::unmounted("/media/Stick");
    EXPECT_EQ(seen, (std::vector<VolumeEvent>{in, out, in, out, in}));
    // Ending it joins the pulling thread: nothing is posted afterwards.
    subscription.reset();
    change([&] { source.add("/media/Disk", volumeIdentity(VolumeKind::removable, "DISK", "Disk")); });
    EXPECT_EQ(streams[0]->next(10s), VolumeEvent::mounted("/media/Disk"));
    EXPECT_EQ(main.runPending(), 0u);
    EXPECT_EQ(seen.size(), 5u);
}

// Now is 5000; the monotonic clock reads 300 and the time since boot `sinceBoot`, which differs after a sleep.
class FixedClock final : public Clock {
public:
    explicit FixedClock(double sinceBoot) : sinceBoot_(sinceBoot) {}
    Date now() const override { return Date{5000}; }
    double monotonicSeconds() const override { return 300; }
    double secondsSinceBoot() const override { return sinceBoot_; }

private:
    double sinceBoot_;
};

TEST(DiskAppearanceTest, UdevInitialisationTimeIsTurnedIntoWallTimeAndNothingForWhatCannotBeRead) {
    test::TemporaryFolder udev;
    const FixedClock clock(300);
    udev.write("b8:17", "S:disk/by-uuid/ABCD\nI:120500000\nE:ID_BUS=usb\n");
    EXPECT_EQ(DiskAppearance::udevInitialisationTime(makedev(8, 17), udev.path(), clock), Date{5000 - 179.5});
    EXPECT_EQ(DiskAppearance::udevInitialisationTime(makedev(8, 17), udev.path(), FixedClock(1300)),
              Date{5000 - 1179.5})
        << "a wake must not make the disk look newly connected";
    udev.write("b8:18", "S:disk/by-label/X\n");
    udev.write("b8:19", "I:notanumber\n");
    udev.write("b8:20", "I:900000000\n");  // after now: a record from before a reboot
    for (unsigned minor : {18u, 19u, 20u, 21u})
        EXPECT_FALSE(DiskAppearance::udevInitialisationTime(makedev(8, minor), udev.path(), clock)) << minor;
    EXPECT_FALSE(DiskAppearance::udevInitialisationTime(makedev(0, 17), udev.path(), clock));
    EXPECT_FALSE(DiskAppearance::appearanceTime(udev / "missing", nullptr, udev.path(), clock));
    EXPECT_FALSE(DiskAppearance::appearanceTime(udev.path(), nullptr, udev / "missing", clock));
}

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
    const test::FakeVolumeSource empty;
    try {
        VolumeInspector::identity("/x", empty);
        FAIL() << "no mount holds /x";
    } catch (const FileError& error) {
        EXPECT_EQ(error.errorNumber(), ENOENT);
    }
    // What is no folder, or on no browsable volume, gives no endpoint.
    SCOPED_TRACE("EndpointRecordsTheRelativePathOfTheTargetAndTheInode");
    source.add(folder.path(), volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    fs::create_directories(folder / "Photos/2024");
    fs::create_directory_symlink(folder / "Photos", folder / "link");
    EXPECT_EQ(VolumeInspector::endpoint(folder / "link/./2024", source),
              (Endpoint{(folder / "Photos/2024").native(), std::nullopt, source.table.back().identity, "Photos/2024",
                        inode(folder / "Photos/2024")}));
    EXPECT_EQ(VolumeInspector::endpoint(folder.path(), source).relativePath, "");
    source.table.back().identity.fileSystem = "vfat";
    EXPECT_FALSE(VolumeInspector::endpoint(folder / "Photos", source).fileID);
    EXPECT_FALSE(VolumeInspector::fileNumber(folder / "Photos", "fuse.sshfs"));  // numbered afresh at each mount
    folder.write("file.txt");
    EXPECT_THROW(VolumeInspector::endpoint(folder / "file.txt", source), VolumeInspectorError);
    EXPECT_THROW(VolumeInspector::endpoint(folder / "missing", source), FileError);
    EXPECT_THROW(VolumeInspector::endpoint("/proc", source), VolumeInspectorError);  // pseudo file system
    EXPECT_THROW(VolumeInspector::endpoint(folder.path(), empty), VolumeInspectorError);
    // The file number stored for a side and the case folding its traits assume are the table's for its type.
    SCOPED_TRACE("AVolumeKeepsWhatTheTableSaysOfItsType");
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
