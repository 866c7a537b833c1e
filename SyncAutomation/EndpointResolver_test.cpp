#include "SyncAutomation/EndpointResolver.h"

#include "SyncAutomation/VolumeInspector.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

namespace fs = std::filesystem;
using test::volumeIdentity;
using R = EndpointResolution;

struct Resolver : ::testing::Test {
    test::TemporaryFolder folder;
    test::FakeVolumeSource source;
    const fs::path first = folder / "first";
    const fs::path second = folder / "second";

    Resolver() {
        fs::create_directories(first);
        fs::create_directories(second);
        source.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system"));
    }

    EndpointResolution resolve(const Endpoint& endpoint) {
        return EndpointResolver::resolve(endpoint, VolumeInspector::mountedVolumes(source),
                                         [this](const fs::path& p) { return VolumeInspector::identity(p, source); });
    }
};

TEST_F(Resolver, RemovableEndpointFollowsItsVolumeToANewMountPointTheFirstListed) {
    source.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    fs::create_directories(first / "Photos/2024");
    const Endpoint endpoint = VolumeInspector::endpoint(first / "Photos/2024", source);
    EXPECT_EQ(resolve(endpoint), R::available(first / "Photos/2024"));
    // Unmounted and mounted at another place, with the same folder there.
    source.table.back().mountPoint = second;
    fs::rename(first / "Photos", second / "Photos");
    EXPECT_EQ(resolve(endpoint), R::available(second / "Photos/2024"));
    Endpoint atRoot = endpoint;
    atRoot.relativePath = "";
    atRoot.fileID.reset();
    EXPECT_EQ(resolve(atRoot), R::available(second));
    // Of two volumes with the same UUID the first listed.
    source.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    EXPECT_EQ(resolve(atRoot), R::available(second));
    std::swap(source.table[1].mountPoint, source.table[2].mountPoint);
    EXPECT_EQ(resolve(atRoot), R::available(first));
}

TEST_F(Resolver, MissingVolumeOrSameNameWithAnotherUuid) {
    source.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    const Endpoint endpoint = VolumeInspector::endpoint(first, source);
    source.table.pop_back();
    EXPECT_EQ(resolve(endpoint), R::deviceNotConnected());
    source.add(second, volumeIdentity(VolumeKind::removable, "OTHER", "Stick"));
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());
    source.table.back().identity.uuid.reset();
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());  // absent against present differs
    source.table.back().identity.name = "Else";
    EXPECT_EQ(resolve(endpoint), R::deviceNotConnected());
    EXPECT_EQ(EndpointResolver::resolve(endpoint, {}, [](const fs::path&) { return VolumeIdentity{}; }),
              R::deviceNotConnected());
}

TEST_F(Resolver, FolderAbsentOrReplacedIsMissingAndOneOnAnotherVolumeAMismatch) {
    source.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick"));
    fs::create_directory(first / "Data");
    const Endpoint endpoint = VolumeInspector::endpoint(first / "Data", source);
    // Moved away, it keeps its number, so the folder made next under the same name surely has another.
    fs::rename(first / "Data", first / "Data moved");
    EXPECT_EQ(resolve(endpoint), R::folderMissing());
    fs::create_directory(first / "Data");
    EXPECT_EQ(resolve(endpoint), R::folderMissing());
    Endpoint withoutNumber = endpoint;
    withoutNumber.fileID.reset();
    EXPECT_EQ(resolve(withoutNumber), R::available(first / "Data"));
    // The relative path leading onto another volume.
    source.add(second, volumeIdentity(VolumeKind::removable, "OTHER", "Other"));
    fs::remove(first / "Data");
    fs::create_directory_symlink(second, first / "Data");
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());
}

// A number stored where the disk keeps none that last (as it was for
// bindfs, which shows as plain "fuse") tells nothing: the place decides.
TEST_F(Resolver, ANumberStoredWhereTheDiskKeepsNoneIsNotCompared) {
    source.add(first, volumeIdentity(VolumeKind::removable, "USB", "Stick", "fuse"));
    fs::create_directory(first / "Data");
    Endpoint endpoint = VolumeInspector::endpoint(first / "Data", source);
    endpoint.fileID = 7;
    EXPECT_EQ(resolve(endpoint), R::available(first / "Data"));
}

// A sub-folder of the stick bind-mounted at `first`, listed before the
// whole stick at `second`; vfat keeps no file numbers to tell folders apart.
TEST_F(Resolver, StoredPathsLeadFromTheFileSystemsRootThroughAMountThatShowsThem) {
    const VolumeIdentity stick = volumeIdentity(VolumeKind::removable, "USB", "Stick", "vfat");
    source.add(first, stick).fileSystemRoot = "/Photos";
    source.add(second, stick);
    fs::create_directories(first / "Docs");  // the stick's Photos/Docs
    fs::create_directories(first / "2024");
    fs::create_directories(second / "Docs");
    const Endpoint docs = VolumeInspector::endpoint(second / "Docs", source);
    EXPECT_EQ(docs.relativePath, "Docs");
    EXPECT_EQ(resolve(docs), R::available(second / "Docs"));
    const Endpoint photos = VolumeInspector::endpoint(first / "2024", source);
    EXPECT_EQ(photos.relativePath, "Photos/2024");
    EXPECT_EQ(resolve(photos), R::available(first / "2024"));
    source.table.pop_back();  // the whole stick gone: nothing shows its Docs
    EXPECT_EQ(resolve(docs), R::folderMissing());
    EXPECT_EQ(resolve(photos), R::available(first / "2024"));
}

// Subvolumes share the file system's UUID, and each numbers its items anew.
TEST_F(Resolver, BtrfsSubvolumesSharingOneUuidAreToldApartByTheirPath) {
    const VolumeIdentity pool = volumeIdentity(VolumeKind::removable, "POOL", "Pool", "btrfs");
    source.add(first, pool).fileSystemRoot = "/@a";
    source.add(second, pool).fileSystemRoot = "/@b";
    fs::create_directories(first / "x");
    fs::create_directories(second / "x");
    Endpoint inB = VolumeInspector::endpoint(second / "x", source);
    EXPECT_EQ(inB.relativePath, "@b/x");
    inB.fileID.reset();
    EXPECT_EQ(resolve(inB), R::available(second / "x"));
    source.table.back().fileSystemRoot = "/@b/y";  // shows only another part of @b
    EXPECT_EQ(resolve(inB), R::folderMissing());
}

TEST_F(Resolver, InternalEndpointsUseTheirPathAndIgnoreTheVolumeList) {
    source.add(first, volumeIdentity(VolumeKind::internal, "NAMED", "first"));
    fs::create_directory(first / "Work");
    const Endpoint endpoint = VolumeInspector::endpoint(first / "Work", source);
    EXPECT_EQ(EndpointResolver::resolve(endpoint, {},
                                        [this](const fs::path& p) { return VolumeInspector::identity(p, source); }),
              R::available(first / "Work"));
    source.table.back().identity.uuid = "CHANGED";
    EXPECT_EQ(resolve(endpoint), R::identityMismatch());
    EXPECT_EQ(EndpointResolver::resolve(endpoint, {}, [](const fs::path&) -> VolumeIdentity { throw 1; }),
              R::identityMismatch());
    fs::remove(first / "Work");
    EXPECT_EQ(resolve(endpoint), R::folderMissing());
}

TEST_F(Resolver, NetworkShareMatchesByHostIgnoringCase) {
    VolumeIdentity share = volumeIdentity(VolumeKind::network, std::nullopt, "Photos", "cifs");
    share.remountURL = Url::parse("smb://NAS/Photos");
    source.add(first, share);
    const Endpoint endpoint = VolumeInspector::endpoint(first, source);
    source.table.back().identity.remountURL = Url::parse("smb://nas/Photos");
    EXPECT_EQ(resolve(endpoint), R::available(first));
    source.table.back().identity.name = "Photos-1";
    EXPECT_EQ(resolve(endpoint), R::deviceNotConnected());
}

}  // namespace
}  // namespace kelto
