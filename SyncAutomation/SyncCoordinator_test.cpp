#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/EndpointResolver.h"
#include "SyncAutomation/FileSystemPlaces.h"

#include "SyncAutomation/AutomationFakes_test.h"
#include "SyncAutomation/VolumeInspectorError.h"

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

VolumeIdentity share(const char* url, std::string fileSystem = "ext4", std::string name = "share") {
    VolumeIdentity identity = volumeIdentity(VolumeKind::network, std::nullopt, std::move(name), std::move(fileSystem));
    identity.remountURL = Url::parse(url);
    return identity;
}

struct Resolver : ::testing::Test, test::FakeMachine {
    const fs::path first = tmp / "first", second = tmp / "second";

    Resolver() {
        for (const fs::path& folder : {first, second}) fs::create_directories(folder);
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
    volumes.table.back().mountPoint = second;
    fs::rename(first / "Photos", second / "Photos");
    EXPECT_EQ(resolve(endpoint), R::available(second / "Photos/2024"));
    Endpoint atRoot = endpoint;
    atRoot.relativePath = "";
    atRoot.fileID.reset();
    EXPECT_EQ(resolve(atRoot), R::available(second));
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
    fs::create_directories(tmp / "share");
    volumes.add(tmp / "share", share("smb://NAS/Photos", "cifs", "Photos"));
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
    // Moved away, it keeps its number, so a new folder of the same name surely has another.
    fs::rename(first / "Data", first / "Data moved");
    EXPECT_EQ(resolve(endpoint), R::folderMissing());
    fs::create_directory(first / "Data");
    EXPECT_EQ(resolve(endpoint), R::folderMissing());
    Endpoint withoutNumber = endpoint;
    withoutNumber.fileID.reset();
    EXPECT_EQ(resolve(withoutNumber), R::available(first / "Data"));
    volumes.add(second, volumeIdentity(VolumeKind::removable, "OTHER", "Other"));
    fs::remove(first / "Data");
    fs::create_directory_symlink(second, first / "Data");
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());
    // Plain "fuse" (bindfs) keeps no lasting numbers: the place decides.
    volumes.add(tmp / "fuse", volumeIdentity(VolumeKind::removable, "FUSE", "Fuse", "fuse"));
    fs::create_directories(tmp / "fuse/Data");
    Endpoint numbered = VolumeInspector::endpoint(tmp / "fuse/Data", volumes);
    numbered.fileID = 7;
    EXPECT_EQ(resolve(numbered), R::available(tmp / "fuse/Data"));
}

// vfat keeps no file numbers to tell folders apart.
TEST_F(Resolver, StoredPathsLeadFromTheFileSystemsRootThroughAMountThatShowsThem) {
    const VolumeIdentity stick = volumeIdentity(VolumeKind::removable, "USB", "Stick", "vfat");
    volumes.add(first, stick).fileSystemRoot = "/Photos";
    volumes.add(second, stick);
    // first/Docs is the stick's Photos/Docs.
    for (const fs::path& folder : {first / "Docs", first / "2024", second / "Docs"}) fs::create_directories(folder);
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
    fs::create_directories(tmp / "share");
    volumes.add(tmp / "share", share("nfs://server/export", "nfs4", "export"));
    const auto resolved = coordinator.resolve(addJob(SyncMode::mirror, onExt4, endpointAt(tmp / "share/Photos")).id);
    EXPECT_EQ(std::pair(resolved.rawA.isNetwork, resolved.rawB.isNetwork), std::pair(false, true));
    EXPECT_EQ(std::pair(resolved.traitsA.isNetwork, resolved.traitsB.isNetwork), std::pair(true, true));
}

TEST_F(Coordinator, ADiskMountedElsewhereOrAnInternalFolderCarriesTheIdentityItHasNow) {
    // The disk's mount is then the longer of two that hold its folder.
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
    // Only the volume is replaced.
    EXPECT_EQ(std::tuple(resolved.a, resolved.job.source.volume, resolved.job.source.path, resolved.rawA),
              std::tuple(tmp / "second/Photos", now, photos.path, FileSystemTraits::forVolume(now)));
    VolumeIdentity again = now;
    again.name = "Again";
    volumes.add(tmp / "second", again);
    EXPECT_EQ(coordinator.resolve(id).job.source.volume, now);
    const Endpoint internal = endpointAt(tmp / "Internal");
    const Uuid internalID = addJob(SyncMode::mirror, internal, endpointAt(tmp / "Backup")).id;
    volumes.table[1].identity.name = "Renamed";  // the temporary folder's
    const SyncJob renamed = coordinator.resolve(internalID).job;
    EXPECT_EQ(std::tuple(renamed.source.volume.name, renamed.destination.volume.name),
              std::tuple("Renamed", "Renamed"));
    // Fail once the resolver has checked both folders.
    failLookupsAfter = 2;
    const auto kept = coordinator.resolve(internalID);
    EXPECT_EQ(std::tuple(identityLookups, kept.job.source.volume, kept.job.source.volume.name),
              std::tuple(4, internal.volume, "tmp"));
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
    // On a thread of its own, so that a deadlock fails the test instead of hanging it.
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

TEST(SyncCoordinatorSpace, AFolderWhoseFreeSpaceCannotBeReadIsNamedInTheError) {
    test::TemporaryFolder tmp;
    const auto error = test::thrownBy<FileError>([&] { SyncCoordinator::availableSpace(tmp / "gone", false); });
    ASSERT_TRUE(error);
    EXPECT_EQ(std::pair(error->errorNumber(), error->path()), std::pair(ENOENT, tmp / "gone"));
}

TEST_F(Coordinator, AMountTableThatCannotBeReadRefusesRatherThanPasses) {
    const Uuid id = addJob(SyncMode::mirror, endpointAt(tmp / "A"), endpointAt(tmp / "B")).id;
    tableUnreadable = true;
    const VolumeInspectorError unreadable(VolumeInspectorError::Code::mountTableUnreadable, {});
    EXPECT_EQ(test::thrownBy<VolumeInspectorError>([&] { coordinator.preview(id, {}); })->code(), unreadable.code());
    EXPECT_EQ(coordinator.run(id, RunTrigger::manual, nullptr, nullptr, {}).record.outcome,
              RunOutcome::failed(unreadable.what()));
}

struct Mounts {
    std::vector<MountedVolume> list{{"/", test::volumeIdentity(VolumeKind::internal, "SYS", "system"), "/", 1}};

    Mounts& add(const fs::path& at, std::string shown, std::uint64_t device, std::vector<fs::path> stackedOn = {},
                VolumeIdentity identity = test::volumeIdentity(VolumeKind::internal, "DISK", "disk")) {
        list.push_back({at, std::move(identity), std::move(shown), device, std::move(stackedOn)});
        return *this;
    }
    // Overlap is symmetric; both orders are asked.
    bool overlap(const fs::path& a, const fs::path& b) const {
        const bool one = FileSystemPlaces::overlap(list, a, b), other = FileSystemPlaces::overlap(list, b, a);
        EXPECT_EQ(one, other) << a << " | " << b;
        return one;
    }
};

TEST(FileSystemPlaces, TreesOverlapThroughAnyMountBelowEitherSide) {
    EXPECT_TRUE(Mounts().add("/R/data/dst/inner", "/R/data", 1).overlap("/R/data/src", "/R/data/dst"));
    EXPECT_TRUE(Mounts().add("/R/data/dst/inner", "/R/data/src", 1).overlap("/R/data/src", "/R/data/dst"));
    EXPECT_TRUE(Mounts().add("/q/y/mnt", "/p", 1).overlap("/p/x", "/q/y"));
    // Two trees sharing a sub-tree, neither root inside the other.
    EXPECT_TRUE(Mounts().add("/Y/shared", "/X/inner", 1).overlap("/X", "/Y"));
    EXPECT_TRUE(Mounts().add("/A/img", "/", 9).add("/B/s/t/u", "/", 9).overlap("/A", "/B"));
    EXPECT_TRUE(Mounts().add("/A/img", "/", 9).add("/B/s/t/u", "/", 9).overlap("/A/img/x", "/B/s"));
    // A chain: B's mount shows a folder of the image whose other folder A holds.
    EXPECT_TRUE(Mounts().add("/img", "/", 9).add("/B/m", "/in", 9).overlap("/img/in/deep", "/B"));
    EXPECT_TRUE(Mounts().add("/B", "/A", 1).overlap("/A/sub", "/B"));
    EXPECT_FALSE(Mounts().add("/home/me/disk", "/", 5).overlap("/home/me", "/backup"));
    EXPECT_FALSE(Mounts().add("/B/m", "/C", 1).overlap("/A", "/B"));
    EXPECT_FALSE(Mounts().add("/B/m", "/Ab", 1).overlap("/A", "/B"));
    EXPECT_FALSE(Mounts().add("/A/img", "/", 9).add("/B/m", "/", 8).overlap("/A", "/B"));
    // A folder whose shown folder is unknown, or a device nobody knows, tells nothing.
    EXPECT_FALSE(Mounts().add("/B/m", "", 1).overlap("/A", "/B"));
    EXPECT_FALSE(Mounts().add("/B/m", "/", 0).add("/A/m", "/", 0).overlap("/A", "/B"));
    SCOPED_TRACE("StackedMountsReachTheFoldersTheyAreStackedOn");
    // A FUSE pass-through of P at B.
    EXPECT_TRUE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/P/A", "/B"));
    EXPECT_TRUE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/P", "/B/x"));
    EXPECT_FALSE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/Q", "/B/x"));
    EXPECT_FALSE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/P/A", "/B/x"));  // B/x is P/x
    EXPECT_TRUE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/P/x/y", "/B/x"));
    Mounts overlay = Mounts().add("/L", "/", 3).add("/O", "/", 41, {"/P", "/L/lower"});
    EXPECT_TRUE(overlay.overlap("/P/A", "/O"));
    EXPECT_TRUE(overlay.overlap("/L/lower/x", "/O/x"));
    EXPECT_FALSE(overlay.overlap("/L/other", "/O"));
    EXPECT_TRUE(Mounts().add("/B/f", "/", 40, {"/S"}).add("/S/o", "/", 41, {"/A/up"}).overlap("/A", "/B"));
    Mounts loop = Mounts().add("/P/B", "/", 40, {"/P"});
    EXPECT_TRUE(loop.overlap("/P/A", "/P/B"));
    EXPECT_FALSE(loop.overlap("/P", "/Q"));
    // Mounted over the folder it covers, which a bind can show elsewhere.
    Mounts passThrough;
    passThrough.add("/data/me", "/", 40, {"/data/me"}).add("/backup/m", "/data", 1);
    EXPECT_TRUE(passThrough.overlap("/data/me/docs", "/backup"));
    EXPECT_FALSE(passThrough.overlap("/data/me/docs", "/other"));
    Mounts over = Mounts().add("/x", "/", 41, {"/up", "/x"}).add("/b/m", "/x/sub", 1);
    EXPECT_TRUE(over.overlap("/x/sub/y", "/b"));
    EXPECT_FALSE(over.overlap("/x/other", "/b"));
    SCOPED_TRACE("FoldingFileSystemsCompareWithoutCase");
    Mounts folding = Mounts().add("/E", "/", 7, {}, test::volumeIdentity(VolumeKind::removable, "EX", "E", "fuseblk"));
    folding.list.back().identity.caseSensitive = false;
    folding.add("/V", "/", 8, {}, test::volumeIdentity(VolumeKind::removable, "FAT", "V", "vfat"));
    EXPECT_TRUE(folding.overlap("/E/data/sub", "/E/Data"));
    EXPECT_TRUE(folding.overlap("/E/DATA", "/E/data"));
    EXPECT_TRUE(folding.overlap("/V/Ärger", "/V/ärger/x"));
    EXPECT_TRUE(folding.overlap("/E/ΚΟΣΜΟΣ/x", "/E/κοσμος"));  // final sigma
    EXPECT_FALSE(folding.overlap("/E/data", "/E/date"));
    EXPECT_FALSE(folding.overlap("/x/Data", "/x/data/sub"));  // the system disk keeps case
    EXPECT_EQ(FileSystemPlaces::pathThrough(folding.list[1], {"/", "DATA", "x"}), std::optional<fs::path>("/E/DATA/x"));
    SCOPED_TRACE("NestedExportsOfOneServerOverlap");
    Mounts exports;
    exports.add("/mnt/export", "/", 54, {}, share("nfs://server/export"))
        .add("/mnt/home", "/", 55, {}, share("nfs://SERVER/export/home"))
        .add("/mnt/other", "/", 56, {}, share("nfs://elsewhere/export/home"))
        .add("/mnt/music", "/", 55, {}, share("nfs://server/export/music"))  // numbered as home by the client
        .add("/mnt/again", "/me", 55, {}, share("nfs://server/export/home"));
    for (MountedVolume& mount : exports.list) mount.onAnotherMachine = mount.identity.kind == VolumeKind::network;
    EXPECT_FALSE(exports.overlap("/mnt/home", "/mnt/music"));
    EXPECT_TRUE(exports.overlap("/mnt/home", "/mnt/again/x"));
    EXPECT_TRUE(exports.overlap("/mnt/export/home/me", "/mnt/home"));
    EXPECT_TRUE(exports.overlap("/mnt/export", "/mnt/home/x"));
    EXPECT_FALSE(exports.overlap("/mnt/export/music", "/mnt/home"));
    EXPECT_FALSE(exports.overlap("/mnt/other", "/mnt/export"));
    // The image itself lies in the folder that holds it.
    SCOPED_TRACE("FoldersOfOneImageOverlapOnlyByTheirPlacesInIt");
    Mounts image = Mounts().add("/mnt/whole", "/", 9).add("/mnt/sub", "/sub", 9);
    for (std::size_t i : {1, 2}) image.list[i].images = {"/data/disk.img"};
    EXPECT_FALSE(image.overlap("/mnt/whole/photos", "/mnt/sub"));
    EXPECT_FALSE(image.overlap("/mnt/sub/x", "/mnt/whole/subx"));
    EXPECT_TRUE(image.overlap("/mnt/whole/sub/deep", "/mnt/sub"));
    EXPECT_TRUE(image.overlap("/mnt/whole", "/mnt/sub/x"));
    EXPECT_TRUE(image.overlap("/data", "/mnt/sub/x"));
    EXPECT_FALSE(image.overlap("/srv", "/mnt/sub"));
    image.add("/mnt/inner", "/", 10);
    image.list.back().images = {"/mnt/whole/photos/inner.img"};
    EXPECT_TRUE(image.overlap("/mnt/inner/x", "/mnt/whole/photos"));
    EXPECT_FALSE(image.overlap("/mnt/inner/x", "/mnt/sub"));
    // A btrfs subvolume or bind mount: folders nest though no path shows it.
    SCOPED_TRACE("SyncCoordinatorNesting.FoldersNestInTheirFileSystemWhicheverMountsShowThem");
    Mounts subvolumes = Mounts().add("/m1", "/@data", 7).add("/m2", "/@data/x/y", 7);
    EXPECT_TRUE(subvolumes.overlap("/m1", "/m2/z"));
    EXPECT_TRUE(subvolumes.overlap("/m2", "/m1/x"));
    EXPECT_TRUE(subvolumes.overlap("/m2/z", "/m1/x/y/z"));
    EXPECT_FALSE(subvolumes.overlap("/m1/w", "/m2/z"));
    subvolumes.list[2].fileSystemRoot = "/@database";
    EXPECT_FALSE(subvolumes.overlap("/m1", "/m2"));
    subvolumes.list[2].fileSystemRoot = "/@data/x/y";
    subvolumes.list[2].device = 8;
    EXPECT_FALSE(subvolumes.overlap("/m1", "/m2"));
}

TEST(FileSystemPlaces, TreesReachingWhatCannotBePlacedCannotBeTold) {
    using Verdict = FileSystemPlaces::Verdict;
    const auto compare = [](const Mounts& mounts, const fs::path& a, const fs::path& b,
                            const FileSystemPlaces::Resolve& resolve = nullptr) {
        return FileSystemPlaces::compare(mounts.list, a, b, resolve);
    };
    // An upper layer given relative to where it was mounted from.
    Mounts relative = Mounts().add("/B/o", "/", 41, {"upper", "/L/lower"});
    EXPECT_EQ(compare(relative, "/A", "/B"), (Verdict{Verdict::Case::unplaced, "/B/o"}));
    EXPECT_EQ(compare(relative, "/B/o/x", "/A"), (Verdict{Verdict::Case::unplaced, "/B/o"}));
    EXPECT_TRUE(relative.overlap("/A", "/B"));
    EXPECT_EQ(compare(relative, "/A", "/C").kind, Verdict::Case::apart);
    // Named through a link that may have led elsewhere when mounting, or gone.
    const FileSystemPlaces::Resolve unknown = [](const fs::path& named) -> std::optional<fs::path> {
        if (named.native().starts_with("/via")) return std::nullopt;
        return named;
    };
    Mounts linked = Mounts().add("/B/f", "/", 40, {"/via/link"}).add("/C/o", "/", 41, {"/up", "/via/lower"});
    EXPECT_EQ(compare(linked, "/A", "/B", unknown), (Verdict{Verdict::Case::unplaced, "/B/f"}));
    EXPECT_EQ(compare(linked, "/C/o/x", "/A", unknown), (Verdict{Verdict::Case::unplaced, "/C/o"}));
    EXPECT_EQ(compare(linked, "/A", "/D", unknown).kind, Verdict::Case::apart);
    EXPECT_EQ(compare(linked, "/up/x", "/C", unknown).kind, Verdict::Case::overlapping);
    // /home a link to /var/home: placed where the link leads now.
    const FileSystemPlaces::Resolve throughLink = [](const fs::path& named) {
        return std::optional<fs::path>(named.native().starts_with("/ln/") ? "/real" / named.lexically_relative("/ln")
                                                                          : named);
    };
    Mounts bound = Mounts().add("/B/f", "/", 40, {"/ln/P"});
    EXPECT_EQ(compare(bound, "/real/P/A", "/B", throughLink).kind, Verdict::Case::overlapping);
    EXPECT_EQ(compare(bound, "/other", "/B", throughLink).kind, Verdict::Case::apart);
    EXPECT_EQ(compare(bound, "/real/Q", "/B/x", throughLink).kind, Verdict::Case::apart);
    EXPECT_EQ(FileSystemPlaces::compare({}, "/A", "/B").kind, Verdict::Case::unplaced);
    EXPECT_EQ(compare(Mounts().add("/B", "", 1), "/A", "/B/x").kind, Verdict::Case::unplaced);
    // A mount with a cache of its own, or one below a side, refuses: its markers may be stale.
    SCOPED_TRACE("ASideOnAMountOnlyItsMarkersPlaceIsLookedUpThroughout");
    VolumeIdentity gvfs = test::volumeIdentity(VolumeKind::internal, std::nullopt, "gvfs", "fuse.gvfsd-fuse");
    const VolumeIdentity ssh = share("sftp://backupbox/home/me/P", "fuse.sshfs", "P");
    const VolumeIdentity rclone = test::volumeIdentity(VolumeKind::network, std::nullopt, "r", "fuse.rclone");
    Mounts mounts = Mounts().add("/run/gvfs", "/", 60, {"gvfsd-fuse"}, gvfs).add("/mnt/ssh", "/", 61, {}, ssh);
    mounts.add("/mnt/r", "/", 62, {}, rclone).add("/mnt/fo", "/", 63, {"fuse-overlayfs"});
    mounts.add("/B/in", "/", 64, {"gvfsd-fuse"}, gvfs).add("/C/ssh", "/", 65, {}, ssh);
    for (std::size_t i : {1, 2, 5, 6}) mounts.list[i].placedByMarkers = true;
    const auto lookups = [&](const fs::path& folder) { return FileSystemPlaces::lookups(mounts.list, folder); };
    for (const fs::path side : {"/run/gvfs/phone/DCIM", "/mnt/ssh/x"}) {
        EXPECT_EQ(compare(mounts, side, "/home/me/backup").kind, Verdict::Case::apart) << side;
        EXPECT_EQ(compare(mounts, "/home/me/backup", side).kind, Verdict::Case::apart) << side;
        EXPECT_EQ(lookups(side), std::vector<fs::path>{side});
    }
    EXPECT_EQ(lookups("/home/me/backup"), std::vector<fs::path>{});
    EXPECT_EQ(compare(mounts, "/mnt/r/x", "/home/me").kind, Verdict::Case::unplaced);
    EXPECT_EQ(compare(mounts, "/mnt/fo/x", "/home/me").kind, Verdict::Case::unplaced);
    EXPECT_EQ(compare(mounts, "/A", "/B"), (Verdict{Verdict::Case::unplaced, "/B/in"}));
    EXPECT_EQ(compare(mounts, "/C", "/A"), (Verdict{Verdict::Case::unplaced, "/C/ssh"}));
    mounts.list[2].onAnotherMachine = mounts.list[6].onAnotherMachine = true;
    EXPECT_EQ(compare(mounts, "/C", "/A").kind, Verdict::Case::apart);
    EXPECT_EQ(lookups("/mnt/ssh/x"), std::vector<fs::path>{});
    // A chrooted sftp account's /data may be /srv/chroot/data: an overlap is shown, none ruled out.
    const VolumeIdentity own = share("sftp://127.0.0.1/data", "fuse.sshfs", "data");
    Mounts data = Mounts().add("/mnt/data", "/", 70, {"/data"}, own).add("/B/in", "/", 71, {"/data"}, own);
    for (std::size_t i : {1, 2}) data.list[i].placedByMarkers = true;
    EXPECT_EQ(compare(data, "/data/x", "/mnt/data").kind, Verdict::Case::overlapping);
    EXPECT_EQ(compare(data, "/srv/chroot/data/backup", "/mnt/data").kind, Verdict::Case::apart);
    EXPECT_EQ(FileSystemPlaces::lookups(data.list, "/mnt/data"), std::vector<fs::path>{"/mnt/data"});
    EXPECT_EQ(compare(data, "/srv/chroot/data/backup", "/B"), (Verdict{Verdict::Case::unplaced, "/B/in"}));
}

}  // namespace
}  // namespace kelto
