#include "SyncAutomation/FileSystemPlaces.h"

#include "tests/support/FakeVolumeSource.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

namespace fs = std::filesystem;

// The system disk (device 1) at / and what a test mounts on it.
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

// A side's tree reaches the other through a mount below it, whatever the mount shows and however deep it sits.
TEST(FileSystemPlaces, TreesOverlapThroughAnyMountBelowEitherSide) {
    // The common parent of both sides bound inside the destination.
    EXPECT_TRUE(Mounts().add("/R/data/dst/inner", "/R/data", 1).overlap("/R/data/src", "/R/data/dst"));
    // The source itself bound inside the destination.
    EXPECT_TRUE(Mounts().add("/R/data/dst/inner", "/R/data/src", 1).overlap("/R/data/src", "/R/data/dst"));
    // A's parent bound inside B: B's tree holds A.
    EXPECT_TRUE(Mounts().add("/q/y/mnt", "/p", 1).overlap("/p/x", "/q/y"));
    // Two trees sharing a sub-tree, neither root inside the other.
    EXPECT_TRUE(Mounts().add("/Y/shared", "/X/inner", 1).overlap("/X", "/Y"));
    // A loop image mounted in A and its root bound three folders down in B.
    EXPECT_TRUE(Mounts().add("/A/img", "/", 9).add("/B/s/t/u", "/", 9).overlap("/A", "/B"));
    EXPECT_TRUE(Mounts().add("/A/img", "/", 9).add("/B/s/t/u", "/", 9).overlap("/A/img/x", "/B/s"));
    // A chain: B's mount shows a folder of the image whose other folder A holds.
    EXPECT_TRUE(Mounts().add("/img", "/", 9).add("/B/m", "/in", 9).overlap("/img/in/deep", "/B"));
    // A mount at the side itself.
    EXPECT_TRUE(Mounts().add("/B", "/A", 1).overlap("/A/sub", "/B"));
    // Neither tree reaches the other: a disk mounted inside the mirrored
    // home, a bind of a third folder, sibling names, another device.
    EXPECT_FALSE(Mounts().add("/home/me/disk", "/", 5).overlap("/home/me", "/backup"));
    EXPECT_FALSE(Mounts().add("/B/m", "/C", 1).overlap("/A", "/B"));
    EXPECT_FALSE(Mounts().add("/B/m", "/Ab", 1).overlap("/A", "/B"));
    EXPECT_FALSE(Mounts().add("/A/img", "/", 9).add("/B/m", "/", 8).overlap("/A", "/B"));
    // A folder whose shown folder is unknown, or a device nobody knows, tells nothing.
    EXPECT_FALSE(Mounts().add("/B/m", "", 1).overlap("/A", "/B"));
    EXPECT_FALSE(Mounts().add("/B/m", "/", 0).add("/A/m", "/", 0).overlap("/A", "/B"));
}

TEST(FileSystemPlaces, StackedMountsReachTheFoldersTheyAreStackedOn) {
    // A FUSE pass-through of P at B: mirroring P/A into B reaches P itself.
    EXPECT_TRUE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/P/A", "/B"));
    EXPECT_TRUE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/P", "/B/x"));
    EXPECT_FALSE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/Q", "/B/x"));
    EXPECT_FALSE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/P/A", "/B/x"));  // B/x is P/x
    EXPECT_TRUE(Mounts().add("/B", "/", 40, {"/P"}).overlap("/P/x/y", "/B/x"));
    // An overlay with P as its upper layer, and a lower layer on another disk.
    Mounts overlay;
    overlay.add("/L", "/", 3).add("/O", "/", 41, {"/P", "/L/lower"});
    EXPECT_TRUE(overlay.overlap("/P/A", "/O"));
    EXPECT_TRUE(overlay.overlap("/L/lower/x", "/O/x"));
    EXPECT_FALSE(overlay.overlap("/L/other", "/O"));
    // Stacked below a side, several steps: B holds a pass-through of S, and
    // S holds an overlay whose upper layer lies in A.
    EXPECT_TRUE(Mounts().add("/B/f", "/", 40, {"/S"}).add("/S/o", "/", 41, {"/A/up"}).overlap("/A", "/B"));
    // A pass-through of its own parent leads back into itself.
    Mounts loop;
    loop.add("/P/B", "/", 40, {"/P"});
    EXPECT_TRUE(loop.overlap("/P/A", "/P/B"));
    EXPECT_FALSE(loop.overlap("/P", "/Q"));
    // A pass-through of a folder at that folder, an overlay over its own lower
    // layer: its files lie in the folder it covers, which a bind can show elsewhere.
    Mounts passThrough;
    passThrough.add("/data/me", "/", 40, {"/data/me"}).add("/backup/m", "/data", 1);
    EXPECT_TRUE(passThrough.overlap("/data/me/docs", "/backup"));
    EXPECT_FALSE(passThrough.overlap("/data/me/docs", "/other"));
    Mounts over;
    over.add("/x", "/", 41, {"/up", "/x"}).add("/b/m", "/x/sub", 1);
    EXPECT_TRUE(over.overlap("/x/sub/y", "/b"));
    EXPECT_FALSE(over.overlap("/x/other", "/b"));
}

TEST(FileSystemPlaces, FoldingFileSystemsCompareWithoutCase) {
    Mounts mounts;
    mounts.add("/E", "/", 7, {}, test::volumeIdentity(VolumeKind::removable, "EX", "E", "fuseblk"));
    mounts.list.back().identity.caseSensitive = false;
    mounts.add("/V", "/", 8, {}, test::volumeIdentity(VolumeKind::removable, "FAT", "V", "vfat"));
    EXPECT_TRUE(mounts.overlap("/E/data/sub", "/E/Data"));
    EXPECT_TRUE(mounts.overlap("/E/DATA", "/E/data"));
    EXPECT_TRUE(mounts.overlap("/V/Ärger", "/V/ärger/x"));
    EXPECT_TRUE(mounts.overlap("/E/ΚΟΣΜΟΣ/x", "/E/κοσμος"));  // final sigma
    EXPECT_FALSE(mounts.overlap("/E/data", "/E/date"));
    EXPECT_FALSE(mounts.overlap("/x/Data", "/x/data/sub"));  // the system disk keeps case
    // A mount that shows the folder in another spelling still serves it.
    const auto through = FileSystemPlaces::pathThrough(mounts.list[1], {"/", "DATA", "x"});
    ASSERT_TRUE(through);
    EXPECT_EQ(*through, fs::path("/E/DATA/x"));
}

// Exports of one server nest as the server's folders do, whatever the client numbers them; others of it are apart.
TEST(FileSystemPlaces, NestedExportsOfOneServerOverlap) {
    const auto share = [](const char* url) {
        VolumeIdentity identity = test::volumeIdentity(VolumeKind::network, std::nullopt, "share");
        identity.remountURL = Url::parse(url);
        return identity;
    };
    Mounts mounts;
    mounts.add("/mnt/export", "/", 54, {}, share("nfs://server/export"))
        .add("/mnt/home", "/", 55, {}, share("nfs://SERVER/export/home"))
        .add("/mnt/other", "/", 56, {}, share("nfs://elsewhere/export/home"))
        .add("/mnt/music", "/", 55, {}, share("nfs://server/export/music"))  // numbered as home by the client
        .add("/mnt/again", "/me", 55, {}, share("nfs://server/export/home"));
    for (MountedVolume& mount : mounts.list) mount.onAnotherMachine = mount.identity.kind == VolumeKind::network;
    EXPECT_FALSE(mounts.overlap("/mnt/home", "/mnt/music"));
    EXPECT_TRUE(mounts.overlap("/mnt/home", "/mnt/again/x"));
    EXPECT_TRUE(mounts.overlap("/mnt/export/home/me", "/mnt/home"));
    EXPECT_TRUE(mounts.overlap("/mnt/export", "/mnt/home/x"));
    EXPECT_FALSE(mounts.overlap("/mnt/export/music", "/mnt/home"));
    EXPECT_FALSE(mounts.overlap("/mnt/other", "/mnt/export"));
}

// An image mounted whole and one of its sub-folders on its own; the image itself lies in the folder that holds it.
TEST(FileSystemPlaces, FoldersOfOneImageOverlapOnlyByTheirPlacesInIt) {
    Mounts image;
    image.add("/mnt/whole", "/", 9).add("/mnt/sub", "/sub", 9);
    for (std::size_t i : {1, 2}) image.list[i].images = {"/data/disk.img"};
    EXPECT_FALSE(image.overlap("/mnt/whole/photos", "/mnt/sub"));
    EXPECT_FALSE(image.overlap("/mnt/sub/x", "/mnt/whole/subx"));
    EXPECT_TRUE(image.overlap("/mnt/whole/sub/deep", "/mnt/sub"));
    EXPECT_TRUE(image.overlap("/mnt/whole", "/mnt/sub/x"));
    EXPECT_TRUE(image.overlap("/data", "/mnt/sub/x"));
    EXPECT_FALSE(image.overlap("/srv", "/mnt/sub"));
    // An image kept inside another image's file system.
    image.add("/mnt/inner", "/", 10);
    image.list.back().images = {"/mnt/whole/photos/inner.img"};
    EXPECT_TRUE(image.overlap("/mnt/inner/x", "/mnt/whole/photos"));
    EXPECT_FALSE(image.overlap("/mnt/inner/x", "/mnt/sub"));
}

TEST(FileSystemPlaces, TreesReachingWhatCannotBePlacedCannotBeTold) {
    using Verdict = FileSystemPlaces::Verdict;
    const auto compare = [](const Mounts& mounts, const fs::path& a, const fs::path& b,
                            const FileSystemPlaces::Resolve& resolve = nullptr) {
        return FileSystemPlaces::compare(mounts.list, a, b, resolve);
    };
    // An overlay whose upper layer was given relative to where it was mounted from, below a side or over it.
    Mounts relative;
    relative.add("/B/o", "/", 41, {"upper", "/L/lower"});
    EXPECT_EQ(compare(relative, "/A", "/B"), (Verdict{Verdict::Case::unplaced, "/B/o"}));
    EXPECT_EQ(compare(relative, "/B/o/x", "/A"), (Verdict{Verdict::Case::unplaced, "/B/o"}));
    EXPECT_TRUE(relative.overlap("/A", "/B"));
    EXPECT_EQ(compare(relative, "/A", "/C").kind, Verdict::Case::apart);
    // Layers and sources the resolver cannot place: named through a link
    // (which may have led elsewhere when mounting), or gone.
    const FileSystemPlaces::Resolve unknown = [](const fs::path& named) -> std::optional<fs::path> {
        if (named.native().starts_with("/via")) return std::nullopt;
        return named;
    };
    Mounts linked;
    linked.add("/B/f", "/", 40, {"/via/link"}).add("/C/o", "/", 41, {"/up", "/via/lower"});
    EXPECT_EQ(compare(linked, "/A", "/B", unknown), (Verdict{Verdict::Case::unplaced, "/B/f"}));
    EXPECT_EQ(compare(linked, "/C/o/x", "/A", unknown), (Verdict{Verdict::Case::unplaced, "/C/o"}));
    EXPECT_EQ(compare(linked, "/A", "/D", unknown).kind, Verdict::Case::apart);
    // An overlap shown is told as one.
    EXPECT_EQ(compare(linked, "/up/x", "/C", unknown).kind, Verdict::Case::overlapping);
    // A folder named through a link (/home a link to /var/home) is placed
    // where the link leads now, for an overlap and for none.
    const FileSystemPlaces::Resolve throughLink = [](const fs::path& named) {
        return std::optional<fs::path>(named.native().starts_with("/ln/") ? "/real" / named.lexically_relative("/ln")
                                                                          : named);
    };
    Mounts bound;
    bound.add("/B/f", "/", 40, {"/ln/P"});
    EXPECT_EQ(compare(bound, "/real/P/A", "/B", throughLink).kind, Verdict::Case::overlapping);
    EXPECT_EQ(compare(bound, "/other", "/B", throughLink).kind, Verdict::Case::apart);
    EXPECT_EQ(compare(bound, "/real/Q", "/B/x", throughLink).kind, Verdict::Case::apart);
    // No table (it could not be read), or a side on a mount showing a folder since deleted.
    EXPECT_EQ(FileSystemPlaces::compare({}, "/A", "/B").kind, Verdict::Case::unplaced);
    EXPECT_EQ(compare(Mounts().add("/B", "", 1), "/A", "/B/x").kind, Verdict::Case::unplaced);
}

// A side on a mount the table cannot place (a desktop FUSE mount, a share not shown to be of another machine) is left
// to its markers, looked up at each of its folders; a mount with a cache of its own, or one below a side, refuses; a
// share of another machine is apart from every local folder.
TEST(FileSystemPlaces, ASideOnAMountOnlyItsMarkersPlaceIsLookedUpThroughout) {
    using Verdict = FileSystemPlaces::Verdict;
    VolumeIdentity gvfs = test::volumeIdentity(VolumeKind::internal, std::nullopt, "gvfs", "fuse.gvfsd-fuse");
    VolumeIdentity ssh = test::volumeIdentity(VolumeKind::network, std::nullopt, "P", "fuse.sshfs");
    ssh.remountURL = Url::parse("sftp://backupbox/home/me/P");
    const VolumeIdentity rclone = test::volumeIdentity(VolumeKind::network, std::nullopt, "r", "fuse.rclone");
    Mounts mounts;
    mounts.add("/run/gvfs", "/", 60, {"gvfsd-fuse"}, gvfs).add("/mnt/ssh", "/", 61, {}, ssh);
    mounts.add("/mnt/r", "/", 62, {}, rclone).add("/mnt/fo", "/", 63, {"fuse-overlayfs"});
    mounts.add("/B/in", "/", 64, {"gvfsd-fuse"}, gvfs).add("/C/ssh", "/", 65, {}, ssh);
    for (std::size_t i : {1, 2, 5, 6}) mounts.list[i].placedByMarkers = true;
    const auto compare = [&](const fs::path& a, const fs::path& b) {
        return FileSystemPlaces::compare(mounts.list, a, b);
    };
    const auto lookups = [&](const fs::path& folder) { return FileSystemPlaces::lookups(mounts.list, folder); };
    for (const fs::path side : {"/run/gvfs/phone/DCIM", "/mnt/ssh/x"}) {
        EXPECT_EQ(compare(side, "/home/me/backup").kind, Verdict::Case::apart) << side;
        EXPECT_EQ(compare("/home/me/backup", side).kind, Verdict::Case::apart) << side;
        EXPECT_EQ(lookups(side), std::vector<fs::path>{side});
    }
    EXPECT_EQ(lookups("/home/me/backup"), std::vector<fs::path>{});
    EXPECT_EQ(compare("/mnt/r/x", "/home/me").kind, Verdict::Case::unplaced);
    EXPECT_EQ(compare("/mnt/fo/x", "/home/me").kind, Verdict::Case::unplaced);
    EXPECT_EQ(compare("/A", "/B"), (Verdict{Verdict::Case::unplaced, "/B/in"}));
    EXPECT_EQ(compare("/C", "/A"), (Verdict{Verdict::Case::unplaced, "/C/ssh"}));
    mounts.list[2].onAnotherMachine = mounts.list[6].onAnotherMachine = true;
    EXPECT_EQ(compare("/C", "/A").kind, Verdict::Case::apart);
    EXPECT_EQ(lookups("/mnt/ssh/x"), std::vector<fs::path>{});
    // A share of this machine stacked on the folder it shows: its server may name folders from elsewhere
    // (a chrooted sftp account whose /data is /srv/chroot/data): an overlap through that folder is
    // shown, none is ruled out.
    VolumeIdentity own = test::volumeIdentity(VolumeKind::network, std::nullopt, "data", "fuse.sshfs");
    own.remountURL = Url::parse("sftp://127.0.0.1/data");
    Mounts data;
    data.add("/mnt/data", "/", 70, {"/data"}, own).add("/B/in", "/", 71, {"/data"}, own);
    for (std::size_t i : {1, 2}) data.list[i].placedByMarkers = true;
    EXPECT_EQ(FileSystemPlaces::compare(data.list, "/data/x", "/mnt/data").kind, Verdict::Case::overlapping);
    EXPECT_EQ(FileSystemPlaces::compare(data.list, "/srv/chroot/data/backup", "/mnt/data").kind, Verdict::Case::apart);
    EXPECT_EQ(FileSystemPlaces::lookups(data.list, "/mnt/data"), std::vector<fs::path>{"/mnt/data"});
    EXPECT_EQ(FileSystemPlaces::compare(data.list, "/srv/chroot/data/backup", "/B"),
              (Verdict{Verdict::Case::unplaced, "/B/in"}));
}

}  // namespace
}  // namespace kelto
