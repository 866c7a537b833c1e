// Mirror and copy runs onto exFAT through FUSE, which takes two spellings of
// a name for one item: B's items spelled otherwise than A's are renamed to
// A's spelling before the transfer, never deleted as if they were others.

#include "SyncEngine/SafetyGuard.h"
#include "SyncEngine/SpellingAlignment.h"
#include "tests/OneWayEngineFixture.h"
#include "tests/support/TestVolumes.h"

using namespace kelto;
using namespace kelto::test;

namespace {

class OneWaySpellingTest : public OneWayEngineTest {
protected:
    TestMounts mounts;

    void SetUp() override {
        OneWayEngineTest::SetUp();
        fs::create_directories(tmp / "E");
        if (!mounts.exfat(tmp / "exfat.img", tmp / "E")) GTEST_SKIP() << "needs root, a loop device and exfat-fuse";
        dst = tmp / "E" / "dst";
        fs::create_directories(dst);
        VolumeIdentity exfat;
        exfat.fileSystem = "exfat";
        traits = FileSystemTraits::forVolume(exfat);
    }

    // What A held before its items were renamed, in B as the last run left it.
    void renamedOnA() {
        put(dst / "photos/x.jpg", "x");
        put(dst / "photos/trip/y.jpg", "y");
        put(dst / "photos/trip/Old.jpg", "o");
        put(dst / "report.txt", "r");
        put(src / "Photos/x.jpg", "x");
        put(src / "Photos/Trip/y.jpg", "y changed");
        put(src / "Report.txt", "r");
    }

    static std::vector<std::string> afterRenames() {
        return {"Photos/", "Photos/Trip/", "Photos/Trip/y.jpg", "Photos/x.jpg", "Report.txt"};
    }
};

TEST_F(OneWaySpellingTest, AMirrorRenamesWhatOnlyItsSpellingSetsApartAndDeletesNothingElse) {
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        fs::remove_all(dst);
        fs::remove_all(src);
        renamedOnA();
        job.options.archiveEnabled = archive;
        runID = ArchiveRunID::make(SystemClock::shared().now().adding(archive ? 1 : 0));

        const SyncPlan p = plan();
        // The review shows a rename, not the folder's deletion: only B's file
        // that A no longer has goes, once, as the renamed folder spells it.
        EXPECT_EQ(p.renames, (std::vector<PlannedRename>{{"photos", "Photos"},
                                                         {"report.txt", "Report.txt"},
                                                         {"Photos/trip", "Photos/Trip"}}));
        EXPECT_EQ(p.deletionCount, 1);
        EXPECT_EQ(archivePaths(p), (std::vector<std::string>{"Photos/Trip/Old.jpg", "Photos/Trip/y.jpg"}));
        EXPECT_EQ(copyPaths(p), std::vector<std::string>{"Photos/Trip/y.jpg"});
        EXPECT_EQ(p.entryCountB, 4);

        const auto [stats, exit] = run(p);
        EXPECT_EQ(exit, RsyncExit(0, {}));
        EXPECT_TRUE(stats.errors.empty());
        EXPECT_EQ(entries(dst), afterRenames());
        EXPECT_EQ(contents(dst / "Photos/Trip/y.jpg"), "y changed");
        if (archive) {
            EXPECT_EQ(stats.filesArchived, 2);  // the replaced and the deleted file, not the folder kept
            EXPECT_EQ(contents(runFolder() / "Photos/Trip/Old.jpg"), "o");
        }

        const SyncPlan next = plan();
        EXPECT_TRUE(next.copies.empty() && next.archives.empty() && next.renames.empty());
        EXPECT_EQ(next.deletionCount, 0);
    }
}

// A folder renamed on A alone is no deletion for the guard to weigh.
TEST_F(OneWaySpellingTest, ARenamedFolderDoesNotTripTheGuard) {
    for (int i = 0; i < 30; ++i) {
        put(dst / "photos" / (std::to_string(i) + ".jpg"));
        put(src / "Photos" / (std::to_string(i) + ".jpg"));
    }
    const SyncPlan p = plan();
    EXPECT_EQ(p.deletionCount, 0);
    EXPECT_TRUE(p.archives.empty());
    EXPECT_EQ(p.entryCountB, 30);
    EXPECT_EQ(SafetyGuard::evaluate(p, job.mode, job.options, std::nullopt, {}).kind, GuardVerdict::Case::proceed);
}

// A copy job deletes nothing, yet rsync would keep B's spelling for good.
TEST_F(OneWaySpellingTest, ACopyJobSpellsBsItemsAsASpellsThem) {
    job.mode = SyncMode::copy;
    renamedOnA();
    const SyncPlan p = plan();
    EXPECT_EQ(p.renames.size(), 3u);
    EXPECT_EQ(p.entryCountB, 4);
    EXPECT_EQ(run(p).second, RsyncExit(0, {}));
    auto expected = afterRenames();
    expected.insert(expected.begin() + 2, "Photos/Trip/Old.jpg");
    EXPECT_EQ(entries(dst), expected);
}

// A rename that cannot be made keeps the transfer away from both spellings,
// and is named. Here the plan's rename meets two folders where it expected
// one (a copy job takes no last look that could find them first).
TEST_F(OneWayEngineTest, ARenameThatFailsKeepsTheTransferAwayAndIsNamed) {
    job.mode = SyncMode::copy;
    put(dst / "photos/x.jpg", "x");
    put(dst / "Photos/y.jpg", "y");
    put(src / "Photos/x.jpg", "x changed");
    put(src / "other.txt", "o");
    SyncPlan p = plan();
    p.renames = {{"photos", "Photos"}};

    const auto [stats, exit] = run(p);
    const std::string line = std::string(SpellingAlignment::failedLine) + "Photos: File exists";
    EXPECT_EQ(exit, RsyncExit(23, {line}));
    EXPECT_EQ(stats.errors, std::vector<std::string>{line});
    EXPECT_EQ(entries(dst), (std::vector<std::string>{"Photos/", "Photos/y.jpg", "other.txt", "photos/", "photos/x.jpg"}));
    EXPECT_EQ(contents(dst / "photos/x.jpg"), "x");
}

// A mirror whose fresh look finds a rename its plan did not list would
// delete the folder after the transfer: it asks for a new plan instead.
TEST_F(OneWaySpellingTest, ARenameMadeAfterPlanningAsksForANewPlan) {
    put(dst / "photos/x.jpg", "x");
    put(src / "photos/x.jpg", "x");
    const SyncPlan p = plan();
    fs::rename(src / "photos", src / "Photos");
    EXPECT_EQ(run(p).second.code, OneWayEngine::replanCode);
    EXPECT_EQ(entries(dst), (std::vector<std::string>{"photos/", "photos/x.jpg"}));
}

// exFAT keeps composed and decomposed names apart: they are two items, and
// the mirror replaces one with the other as with any other name.
TEST_F(OneWaySpellingTest, NamesTheVolumeKeepsApartAreNotRenamed) {
    const std::string composed = "caf\xC3\xA9.txt", decomposed = "cafe\xCC\x81.txt";
    put(dst / decomposed, "d");
    put(dst / "Notes.txt", "n");
    put(src / composed, "c");
    put(src / "NOTES.txt", "n");
    const SyncPlan p = plan();
    EXPECT_EQ(p.renames, (std::vector<PlannedRename>{{"Notes.txt", "NOTES.txt"}}));
    EXPECT_EQ(archivePaths(p), std::vector<std::string>{decomposed});
    EXPECT_EQ(run(p).second, RsyncExit(0, {}));
    EXPECT_EQ(entries(dst), (std::vector<std::string>{"NOTES.txt", composed}));
}

// A card mounted inside B, B itself on a disk that tells spellings apart:
// on the card, B's items spelled otherwise than A's are renamed; beside it,
// they are other items.
TEST_F(OneWaySpellingTest, OnACardMountedInsideBOnlyTheCardsItemsAreRenamed) {
    dst = tmp / "B";
    fs::create_directories(dst / "card");
    ASSERT_TRUE(mounts.exfat(tmp / "card.img", dst / "card"));
    VolumeIdentity ext4;
    ext4.fileSystem = "ext4";
    ext4.caseSensitive = true;
    traits = FileSystemTraits::forVolume(ext4);
    put(dst / "card/photos/x.jpg", "x");
    put(dst / "Keep.txt", "k");
    put(src / "card/Photos/x.jpg", "x changed");
    put(src / "keep.txt", "k");
    const SyncPlan p = plan();
    EXPECT_EQ(p.renames, (std::vector<PlannedRename>{{"card/photos", "card/Photos"}}));
    EXPECT_EQ(run(p).second, RsyncExit(0, {}));
    EXPECT_EQ(entries(dst), (std::vector<std::string>{"card/", "card/Photos/", "card/Photos/x.jpg", "keep.txt"}));
    EXPECT_EQ(contents(dst / "card/Photos/x.jpg"), "x changed");
}

}  // namespace

// What the run keeps away from because A spells it twice is kept on B under
// any spelling B has of it: B's item there is the very item both of A's
// names reach, not one A lacks.
TEST_F(OneWaySpellingTest, BsItemAtANameASpellsTwiceIsKeptWhateverItsSpelling) {
    const std::string composed = "caf\xC3\xA9", decomposed = "cafe\xCC\x81", upper = "CAF\xC3\x89";
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        fs::remove_all(dst);
        fs::remove_all(src);
        put(src / "Report.txt", "1");
        put(src / "report.txt", "2");
        put(src / "Sub/x", "x");
        put(src / "sub", "s");
        put(src / composed, "c");
        put(src / decomposed, "d");
        put(src / "Dir/Note", "n");
        put(src / "Dir/note", "m");
        put(src / "Dir/other", "o");
        put(dst / "REPORT.TXT", "kept");
        put(dst / "SUB/y", "kept");
        put(dst / upper, "kept");
        put(dst / "dir/NOTE", "kept");
        put(dst / "dir/other", "o");
        job.options.archiveEnabled = archive;
        runID = ArchiveRunID::make(SystemClock::shared().now().adding(archive ? 1 : 0));

        const SyncPlan p = plan();
        EXPECT_EQ(p.renames, (std::vector<PlannedRename>{{"dir", "Dir"}}));
        EXPECT_EQ(p.deletionCount, 0);
        EXPECT_TRUE(archivePaths(p).empty());
        const auto [stats, exit] = run(p);
        EXPECT_EQ(exit.code, 0);
        EXPECT_EQ(entries(dst), (std::vector<std::string>{upper, "Dir/", "Dir/NOTE", "Dir/other", "REPORT.TXT", "SUB/",
                                                          "SUB/y"}));
        for (const fs::path& kept : {dst / "REPORT.TXT", dst / "SUB/y", dst / upper, dst / "Dir/NOTE"})
            EXPECT_EQ(contents(kept), "kept") << kept;
    }
}

// Two items of B whose names fold alike, one composed otherwise: exFAT
// numbers each name afresh, so where they look the same (size and times)
// nothing tells which A's spelling reaches, and all three spellings are
// left alone. Told apart (here by size), B's composed item is A's and is
// renamed; the other stays a deletion the plan shows.
TEST_F(OneWaySpellingTest, ItemsOfBThatCannotBeToldApartAreLeftAlone) {
    const std::string decomposedUpper = "CAFE\xCC\x81.txt", composedLower = "caf\xC3\xA9.txt",
                      composedA = "Caf\xC3\xA9.txt";
    for (const bool toldApart : {false, true}) {
        SCOPED_TRACE(toldApart ? "told apart" : "alike");
        fs::remove_all(dst);
        put(dst / decomposedUpper, toldApart ? "AAAAAA" : "AAAA");
        put(dst / composedLower, "BBBB");
        put(dst / "other.txt", "old");
        put(src / composedA, "new content from A");
        job.options.archiveEnabled = true;
        nextRun(toldApart ? 1 : 0);
        if (!toldApart) {
            EXPECT_EQ(SpellingAlignment::reachesSameItem(composedA, decomposedUpper, dst), std::nullopt);
            EXPECT_EQ(SpellingAlignment::reachesSameItem(composedA, composedLower, dst), std::nullopt);
        }

        const SyncPlan p = plan();
        EXPECT_EQ(p.renames, toldApart ? (std::vector<PlannedRename>{{composedLower, composedA}})
                                       : std::vector<PlannedRename>{});
        EXPECT_EQ(p.deletionCount, toldApart ? 2 : 1);
        EXPECT_EQ(archivePaths(p), toldApart ? (std::vector<std::string>{decomposedUpper, composedA, "other.txt"})
                                             : std::vector<std::string>{"other.txt"});
        EXPECT_EQ(run(p).second, RsyncExit(0, {}));
        EXPECT_EQ(entries(dst), toldApart ? std::vector<std::string>{composedA}
                                          : (std::vector<std::string>{decomposedUpper, composedLower}));
        EXPECT_EQ(contents(dst / (toldApart ? composedA : composedLower)), toldApart ? "new content from A" : "BBBB");
    }
}
