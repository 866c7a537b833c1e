#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/EndpointResolver.h"
#include "SyncAutomation/FileSystemPlaces.h"

#include "SyncAutomation/AutomationFakes_test.h"
#include "SyncAutomation/VolumeInspectorError.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace kelto {
namespace {

namespace fs = std::filesystem;
using test::volumeIdentity;

using R = EndpointResolution;

const auto previewErrorOf = [](auto call) { return test::thrownBy<SyncPreviewError>(call); };

// Endpoints resolved against a mount table the test writes.
struct Resolver : ::testing::Test, test::FakeMachine {
    const fs::path first = tmp / "first", second = tmp / "second";

    Resolver() {
        fs::create_directories(first);
        fs::create_directories(second);
    }
    EndpointResolution resolve(const Endpoint& endpoint) {
        return EndpointResolver::resolve(endpoint, VolumeInspector::mountedVolumes(volumes),
                                         [this](const fs::path& p) { return VolumeInspector::identity(p, volumes); });
    }
};

TEST_F(Resolver, RemovableEndpointFollowsItsVolumeToANewMountPointTheFirstListed) {
    volumes.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    fs::create_directories(first / "Photos/2024");
    const Endpoint endpoint = VolumeInspector::endpoint(first / "Photos/2024", volumes);
    EXPECT_EQ(resolve(endpoint), R::available(first / "Photos/2024"));
    // Unmounted and mounted at another place, with the same folder there.
    volumes.table.back().mountPoint = second;
    fs::rename(first / "Photos", second / "Photos");
    EXPECT_EQ(resolve(endpoint), R::available(second / "Photos/2024"));
    Endpoint atRoot = endpoint;
    atRoot.relativePath = "";
    atRoot.fileID.reset();
    EXPECT_EQ(resolve(atRoot), R::available(second));
    // Of two volumes with the same UUID the first listed.
    volumes.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    EXPECT_EQ(resolve(atRoot), R::available(second));
    std::swap(volumes.table[1].mountPoint, volumes.table[2].mountPoint);
    EXPECT_EQ(resolve(atRoot), R::available(first));
}

TEST_F(Resolver, AMissingVolumeOrOneOfTheSameNameWithAnotherUuidOrHostIsNotTheEndpoints) {
    volumes.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    const Endpoint endpoint = VolumeInspector::endpoint(first, volumes);
    volumes.table.pop_back();
    EXPECT_EQ(resolve(endpoint), R::deviceNotConnected());
    volumes.add(second, volumeIdentity(VolumeKind::removable, "OTHER", "Stick"));
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());
    volumes.table.back().identity.uuid.reset();
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());  // absent against present differs
    volumes.table.back().identity.name = "Else";
    EXPECT_EQ(resolve(endpoint), R::deviceNotConnected());
    EXPECT_EQ(EndpointResolver::resolve(endpoint, {}, [](const fs::path&) { return VolumeIdentity{}; }),
              R::deviceNotConnected());
    // A network share matches by its host, whatever its case.
    VolumeIdentity share = volumeIdentity(VolumeKind::network, std::nullopt, "Photos", "cifs");
    share.remountURL = Url::parse("smb://NAS/Photos");
    fs::create_directories(tmp / "share");
    volumes.add(tmp / "share", share);
    const Endpoint onShare = VolumeInspector::endpoint(tmp / "share", volumes);
    volumes.table.back().identity.remountURL = Url::parse("smb://nas/Photos");
    EXPECT_EQ(resolve(onShare), R::available(tmp / "share"));
    volumes.table.back().identity.name = "Photos-1";
    EXPECT_EQ(resolve(onShare), R::deviceNotConnected());
}

TEST_F(Resolver, FolderAbsentOrReplacedIsMissingAndOneOnAnotherVolumeAMismatch) {
    volumes.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    fs::create_directory(first / "Data");
    const Endpoint endpoint = VolumeInspector::endpoint(first / "Data", volumes);
    // Moved away, it keeps its number, so the folder made next under the same name surely has another.
    fs::rename(first / "Data", first / "Data moved");
    EXPECT_EQ(resolve(endpoint), R::folderMissing());
    fs::create_directory(first / "Data");
    EXPECT_EQ(resolve(endpoint), R::folderMissing());
    Endpoint withoutNumber = endpoint;
    withoutNumber.fileID.reset();
    EXPECT_EQ(resolve(withoutNumber), R::available(first / "Data"));
    // The relative path leading onto another volume.
    volumes.add(second, volumeIdentity(VolumeKind::removable, "OTHER", "Other"));
    fs::remove(first / "Data");
    fs::create_directory_symlink(second, first / "Data");
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());
    // A number stored where the disk keeps none that last (as it was for
    // bindfs, which shows as plain "fuse") tells nothing: the place decides.
    volumes.add(tmp / "fuse", volumeIdentity(VolumeKind::removable, "FUSE", "Fuse", "fuse"));
    fs::create_directories(tmp / "fuse/Data");
    Endpoint numbered = VolumeInspector::endpoint(tmp / "fuse/Data", volumes);
    numbered.fileID = 7;
    EXPECT_EQ(resolve(numbered), R::available(tmp / "fuse/Data"));
}

// A sub-folder of the stick bind-mounted at `first`, listed before the
// whole stick at `second`; vfat keeps no file numbers to tell folders apart.
TEST_F(Resolver, StoredPathsLeadFromTheFileSystemsRootThroughAMountThatShowsThem) {
    const VolumeIdentity stick = volumeIdentity(VolumeKind::removable, "USB", "Stick", "vfat");
    volumes.add(first, stick).fileSystemRoot = "/Photos";
    volumes.add(second, stick);
    fs::create_directories(first / "Docs");  // the stick's Photos/Docs
    fs::create_directories(first / "2024");
    fs::create_directories(second / "Docs");
    const Endpoint docs = VolumeInspector::endpoint(second / "Docs", volumes);
    EXPECT_EQ(docs.relativePath, "Docs");
    EXPECT_EQ(resolve(docs), R::available(second / "Docs"));
    const Endpoint photos = VolumeInspector::endpoint(first / "2024", volumes);
    EXPECT_EQ(photos.relativePath, "Photos/2024");
    EXPECT_EQ(resolve(photos), R::available(first / "2024"));
    volumes.table.pop_back();  // the whole stick gone: nothing shows its Docs
    EXPECT_EQ(resolve(docs), R::folderMissing());
    EXPECT_EQ(resolve(photos), R::available(first / "2024"));
}

// Subvolumes share the file system's UUID, and each numbers its items anew.
TEST_F(Resolver, BtrfsSubvolumesSharingOneUuidAreToldApartByTheirPath) {
    const VolumeIdentity pool = volumeIdentity(VolumeKind::removable, "POOL", "Pool", "btrfs");
    volumes.add(first, pool).fileSystemRoot = "/@a";
    volumes.add(second, pool).fileSystemRoot = "/@b";
    fs::create_directories(first / "x");
    fs::create_directories(second / "x");
    Endpoint inB = VolumeInspector::endpoint(second / "x", volumes);
    EXPECT_EQ(inB.relativePath, "@b/x");
    inB.fileID.reset();
    EXPECT_EQ(resolve(inB), R::available(second / "x"));
    volumes.table.back().fileSystemRoot = "/@b/y";  // shows only another part of @b
    EXPECT_EQ(resolve(inB), R::folderMissing());
}

TEST_F(Resolver, InternalEndpointsUseTheirPathAndIgnoreTheVolumeList) {
    volumes.add(first, volumeIdentity(VolumeKind::internal, "NAMED", "first"));
    fs::create_directory(first / "Work");
    const Endpoint endpoint = VolumeInspector::endpoint(first / "Work", volumes);
    EXPECT_EQ(EndpointResolver::resolve(endpoint, {},
                                        [this](const fs::path& p) { return VolumeInspector::identity(p, volumes); }),
              R::available(first / "Work"));
    volumes.table.back().identity.uuid = "CHANGED";
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());
    EXPECT_EQ(EndpointResolver::resolve(endpoint, {}, [](const fs::path&) -> VolumeIdentity { throw 1; }),
              R::identityMismatch());
    fs::remove(first / "Work");
    EXPECT_EQ(resolve(endpoint), R::folderMissing());
}

// A coordinator on a mount table the test writes, over real temporary folders.
struct Coordinator : ::testing::Test, test::FakeMachine {
    std::vector<SyncJob> jobs;
    SyncCoordinator coordinator{services([this] { return jobs; }, SystemClock::shared())};

    const SyncJob& addJob(SyncMode mode, Endpoint from, Endpoint to) {
        SyncJob job = SyncJob::newJob("Job");
        job.mode = mode;
        job.source = std::move(from);
        job.destination = std::move(to);
        return jobs.emplace_back(std::move(job));
    }
};

// An id not in the list is not found anywhere; when both sides are
// unavailable the source's reason is given, and a preview starts nothing.
// The roots that hold archives are the sides mounted, a one-way job's source never.
TEST_F(Coordinator, UnknownOrUnavailableJobsAreRefusedWithTheSourcesReason) {
    const auto notFound = SyncPreviewError::jobNotFound();
    const Uuid missing = Uuid::random();
    EXPECT_EQ(previewErrorOf([&] { coordinator.resolve(missing); }), notFound);  // an empty or unreadable list
    const Endpoint onDisk = endpointAt(disk("Stick", "USB") / "Photos");
    const Endpoint internal = endpointAt(tmp / "Backup");
    const Uuid diskFirst = addJob(SyncMode::mirror, onDisk, internal).id;
    const Uuid internalFirst = addJob(SyncMode::mirror, internal, onDisk).id;
    const Uuid twoWay = addJob(SyncMode::twoWay, internal, onDisk).id;
    const Uuid twoWayBack = addJob(SyncMode::twoWay, onDisk, internal).id;
    EXPECT_EQ(previewErrorOf([&] { coordinator.resolve(missing); }), notFound);
    EXPECT_EQ(previewErrorOf([&] { coordinator.preview(missing, {}); }), notFound);
    EXPECT_EQ(previewErrorOf([&] { coordinator.availableRoots(missing); }), notFound);
    EXPECT_EQ(coordinator.availableRoots(diskFirst), std::vector<fs::path>{tmp / "Backup"});
    EXPECT_EQ(coordinator.availableRoots(twoWayBack), (std::vector<fs::path>{tmp / "Stick/Photos", tmp / "Backup"}));
    unplug(tmp / "Stick");
    EXPECT_EQ(previewErrorOf([&] { coordinator.preview(internalFirst, {}); }),
              SyncPreviewError::unavailable(SkipReason::deviceNotConnected));
    EXPECT_FALSE(fs::exists(tmp / "support/state"));
    EXPECT_EQ(coordinator.availableRoots(diskFirst), std::vector<fs::path>{tmp / "Backup"});
    EXPECT_EQ(coordinator.availableRoots(twoWay), std::vector<fs::path>{tmp / "Backup"});
    fs::remove(tmp / "Backup");
    EXPECT_EQ(previewErrorOf([&] { coordinator.resolve(diskFirst); }),
              SyncPreviewError::unavailable(SkipReason::deviceNotConnected));
    EXPECT_EQ(previewErrorOf([&] { coordinator.resolve(internalFirst); }),
              SyncPreviewError::unavailable(SkipReason::folderMissing));
    EXPECT_EQ(coordinator.availableRoots(twoWay), std::vector<fs::path>{});
}

// FAT keeps times to two seconds, ext4 exactly: a two-way job compares with
// the coarser window, a one-way job each side with its own.
TEST_F(Coordinator, TraitsTakeTheCoarserTimesOfATwoWayJobAndANetworkSideForBoth) {
    const Endpoint onFat = endpointAt(disk("Stick", "USB", "vfat") / "Photos");
    const Endpoint onExt4 = endpointAt(tmp / "Backup");
    const Uuid twoWay = addJob(SyncMode::twoWay, onFat, onExt4).id;
    const Uuid mirror = addJob(SyncMode::mirror, onFat, onExt4).id;
    const auto both = coordinator.resolve(twoWay), own = coordinator.resolve(mirror);
    EXPECT_EQ(std::pair(both.rawA.modifyWindow, both.rawB.modifyWindow), std::pair(1L, 0L));
    EXPECT_EQ(std::pair(both.traitsA.modifyWindow, both.traitsB.modifyWindow), std::pair(1L, 1L));
    EXPECT_EQ(both.traitsB.fileSystem, "ext4");  // otherwise its own
    EXPECT_EQ(std::pair(own.traitsA.modifyWindow, own.traitsB.modifyWindow), std::pair(1L, 0L));
    // A network side makes both derived traits network, not the local raw ones.
    fs::create_directories(tmp / "share");
    VolumeIdentity share = volumeIdentity(VolumeKind::network, std::nullopt, "export", "nfs4");
    share.remountURL = Url::parse("nfs://server/export");
    volumes.add(tmp / "share", share);
    const auto resolved = coordinator.resolve(addJob(SyncMode::mirror, onExt4, endpointAt(tmp / "share/Photos")).id);
    EXPECT_EQ(std::pair(resolved.rawA.isNetwork, resolved.rawB.isNetwork), std::pair(false, true));
    EXPECT_EQ(std::pair(resolved.traitsA.isNetwork, resolved.traitsB.isNetwork), std::pair(true, true));
}

TEST_F(Coordinator, ADiskMountedElsewhereOrAnInternalFolderCarriesTheIdentityItHasNow) {
    // The temporary folder is a volume of its own, so the disk's mount is the longer of two that hold its folder.
    volumes.add(tmp.path(), volumeIdentity(VolumeKind::internal, "TMP", "tmp"));
    const Endpoint photos = endpointAt(disk("first", "USB") / "Photos");
    const Uuid id = addJob(SyncMode::copy, photos, endpointAt(tmp / "Backup")).id;
    VolumeIdentity now = photos.volume;
    now.name = "Renamed";
    now.isReadOnly = true;
    unplug(tmp / "first");
    fs::create_directories(tmp / "second");
    fs::rename(tmp / "first/Photos", tmp / "second/Photos");
    volumes.add(tmp / "second", now);
    const auto resolved = coordinator.resolve(id);
    EXPECT_EQ(resolved.a, tmp / "second/Photos");
    EXPECT_EQ(resolved.job.source.volume, now);
    EXPECT_EQ(resolved.job.source.path, photos.path);  // only the volume is replaced
    EXPECT_EQ(resolved.rawA, FileSystemTraits::forVolume(now));
    // Two mounts at the same place: the first one listed.
    VolumeIdentity again = now;
    again.name = "Again";
    volumes.add(tmp / "second", again);
    EXPECT_EQ(coordinator.resolve(id).job.source.volume, now);
    // An internal endpoint takes the identity looked up now, or keeps its own where the lookup fails.
    const Endpoint internal = endpointAt(tmp / "Internal");
    const Uuid internalID = addJob(SyncMode::mirror, internal, endpointAt(tmp / "Backup")).id;
    volumes.table[1].identity.name = "Renamed";  // the temporary folder's
    EXPECT_EQ(coordinator.resolve(internalID).job.source.volume.name, "Renamed");
    EXPECT_EQ(coordinator.resolve(internalID).job.destination.volume.name, "Renamed");
    // The lookups fail once the resolver has checked both folders with them.
    failLookupsAfter = 2;
    const auto kept = coordinator.resolve(internalID);
    EXPECT_EQ(identityLookups, 4);
    EXPECT_EQ(kept.job.source.volume, internal.volume);
    EXPECT_EQ(kept.job.source.volume.name, "tmp");
}

TEST_F(Coordinator, ACancellationMayComeBackIntoTheControlAndTheTable) {
    const auto control = std::make_shared<RunControl>();
    const Uuid token = Uuid::random();
    control->setCancellation([&] {
        control->cancel();
        coordinator.active().remove(token);
        coordinator.volumeWillUnmount("/media/me/Disk");
    });
    control->setRoots({"/home/me/Photos", "/media/me/Disk/Backup"});
    coordinator.active().insert(token, control);
    // Run on a thread of its own, so that a deadlock fails the test instead of hanging it.
    const auto done = std::make_shared<std::promise<void>>();
    std::future<void> notified = done->get_future();
    std::thread([this, done] {
        coordinator.volumeWillUnmount("/media/me/Disk");
        done->set_value();
    }).detach();
    ASSERT_EQ(notified.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(coordinator.active().controls().empty());
    EXPECT_EQ(control->finish(), RunOutcome::interrupted());
}

TEST_F(Coordinator, UnmountsCancelsAndRegistrationsFromManyThreads) {
    constexpr int runs = 8;
    std::vector<std::shared_ptr<RunControl>> controls;
    std::vector<std::atomic<int>> calls(runs);
    for (int i = 0; i < runs; ++i) {
        controls.push_back(std::make_shared<RunControl>());
        controls[i]->setCancellation([&calls, i] { ++calls[i]; });
        controls[i]->setRoots({"/home/me/" + std::to_string(i), "/media/Disk" + std::to_string(i) + "/Backup"});
        coordinator.active().insert(Uuid::random(), controls[i]);
    }
    std::vector<std::thread> threads;
    threads.emplace_back([&] {  // every disk goes, among unrelated ones whose names begin like theirs
        for (int round = 0; round < 50; ++round)
            for (int i = 0; i < runs; ++i)
                coordinator.volumeWillUnmount("/media/Disk" + (round == 25 ? std::to_string(i) : ""));
    });
    threads.emplace_back([&] {  // the runner cancels the first half
        for (int round = 0; round < 50; ++round)
            for (int i = 0; i < runs / 2; ++i)
                if (const auto cancellation = controls[i]->cancel()) cancellation();
    });
    threads.emplace_back([&] {  // runs come and go meanwhile
        for (int round = 0; round < 200; ++round) {
            const Uuid token = Uuid::random();
            auto passing = std::make_shared<RunControl>();
            passing->setRoots({"/media/Disk0/Other"});
            coordinator.active().insert(token, passing);
            coordinator.active().remove(token);
        }
    });
    threads.emplace_back([&] {  // the second half ends while all this goes on
        for (int i = runs / 2; i < runs; ++i) controls[i]->finish();
    });
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < runs / 2; ++i) {
        EXPECT_EQ(calls[i], 51) << i;  // each cancel and the one unmount of its disk
        EXPECT_EQ(controls[i]->finish(), RunOutcome::interrupted()) << i;
    }
    for (int i = runs / 2; i < runs; ++i) {  // finished: no more calls
        const int before = calls[i];
        coordinator.volumeWillUnmount("/media/Disk" + std::to_string(i));
        EXPECT_FALSE(controls[i]->cancel());
        EXPECT_EQ(std::pair(calls[i].load(), calls[i] <= 1), std::pair(before, true)) << i;
    }
}

// Two mounts of one file system show its folders /@data and /@data/x/y (a
// btrfs subvolume, a bind mount): their folders nest though no path shows it.
TEST(SyncCoordinatorNesting, FoldersNestInTheirFileSystemWhicheverMountsShowThem) {
    const test::TemporaryFolder tmp;
    fs::create_directories(tmp / "m1/x/y/z");
    fs::create_directories(tmp / "m1/w");
    fs::create_directories(tmp / "m2/z");
    fs::create_directory_symlink(tmp / "m2", tmp / "link");
    std::vector<MountedVolume> mounted{{tmp / "m1", {}, "/@data", 7}, {tmp / "m2", {}, "/@data/x/y", 7}};
    const auto nested = [&](const fs::path& a, const fs::path& b) {
        return FileSystemPlaces::overlap(mounted, fs::canonical(a), fs::canonical(b));
    };
    EXPECT_TRUE(nested(tmp / "m1", tmp / "m2/z"));
    EXPECT_TRUE(nested(tmp / "link", tmp / "m1/x"));
    EXPECT_TRUE(nested(tmp / "m2/z", tmp / "m1/x/y/z"));
    EXPECT_FALSE(nested(tmp / "m1/w", tmp / "m2/z"));
    mounted[1].fileSystemRoot = "/@database";
    EXPECT_FALSE(nested(tmp / "m1", tmp / "m2"));
    mounted[1].fileSystemRoot = "/@data/x/y";
    mounted[1].device = 8;
    EXPECT_FALSE(nested(tmp / "m1", tmp / "m2"));
}

TEST(SyncCoordinatorSpace, FreeSpaceOfAFolderOrAFileErrorNamingIt) {
    test::TemporaryFolder tmp;
    EXPECT_GT(SyncCoordinator::availableSpace(tmp.path(), false), 0);
    EXPECT_GT(SyncCoordinator::availableSpace(tmp.path(), true), 0);
    const auto error = test::thrownBy<FileError>([&] { SyncCoordinator::availableSpace(tmp / "gone", false); });
    ASSERT_TRUE(error);
    EXPECT_EQ(std::pair(error->errorNumber(), error->path()), std::pair(ENOENT, tmp / "gone"));
}

// Without the mount table nothing tells whether the folders' trees reach
// each other: previews and runs refuse, saying so, and no rsync starts.
TEST_F(Coordinator, AMountTableThatCannotBeReadRefusesRatherThanPasses) {
    const Uuid id = addJob(SyncMode::mirror, endpointAt(tmp / "A"), endpointAt(tmp / "B")).id;
    tableUnreadable = true;
    const VolumeInspectorError unreadable(VolumeInspectorError::Code::mountTableUnreadable, {});
    EXPECT_EQ(test::thrownBy<VolumeInspectorError>([&] { coordinator.preview(id, {}); })->code(), unreadable.code());
    EXPECT_EQ(coordinator.run(id, RunTrigger::manual, nullptr, nullptr, {}).record.outcome,
              RunOutcome::failed(unreadable.what()));
}

}  // namespace
}  // namespace kelto
