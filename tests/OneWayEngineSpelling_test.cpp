// Mirror and copy runs onto exFAT through FUSE, which takes two spellings of
// a name for one item: B's items spelled otherwise than A's are renamed to
// A's spelling before the transfer, never deleted as if they were others.

#include "SyncEngine/SpellingAlignment.h"
#include "tests/TwoWayEngineFixture.h"

using namespace kelto;
using namespace kelto::test;

namespace {

class OneWaySpellingTest : public OneWayEngineTest {
protected:
    void SetUp() override {
        OneWayEngineTest::SetUp();
        if (!exfatB()) GTEST_SKIP() << "needs root, a loop device and exfat-fuse";
    }

};

// The review shows a rename, not the folder's deletion: only B's file that A
// no longer has goes, once, as the renamed folder spells it. A copy job
// deletes nothing, yet rsync would keep B's spelling for good. Composed and
// decomposed names exFAT keeps apart are two items, never renamed.
TEST_F(OneWaySpellingTest, AMirrorRenamesWhatOnlyItsSpellingSetsApartAndDeletesNothingElse) {
    const std::string composed = "caf\xC3\xA9.txt", decomposed = "cafe\xCC\x81.txt";
    for (const auto& [mode, archive] :
         {std::pair(SyncMode::mirror, false), std::pair(SyncMode::mirror, true), std::pair(SyncMode::copy, false)}) {
        SCOPED_TRACE(std::string(enumName(mode)) + (archive ? ", archive on" : ", archive off"));
        const bool mirror = mode == SyncMode::mirror;
        job.mode = mode;
        job.options.archiveEnabled = archive;
        fresh(archive ? 1 : 0);
        putFiles(dst, {{"photos/x.jpg", "x"}, {"photos/trip/y.jpg", "y"}, {"photos/trip/Old.jpg", "o"}, {"report.txt", "r"},
                       {decomposed, "d"}});
        putFiles(src, {{"Photos/x.jpg", "x"}, {"Photos/Trip/y.jpg", "y changed"}, {"Report.txt", "r"}, {composed, "c"}});

        const SyncPlan p = plan();
        EXPECT_EQ(p.renames, (std::vector<PlannedRename>{
                                 {"photos", "Photos"}, {"report.txt", "Report.txt"}, {"Photos/trip", "Photos/Trip"}}));
        EXPECT_EQ(p.deletionCount, mirror ? 2 : 0);
        EXPECT_EQ(archivePaths(p), mirror ? (Lines{"Photos/Trip/Old.jpg", "Photos/Trip/y.jpg", decomposed})
                                          : Lines{"Photos/Trip/y.jpg"});
        EXPECT_EQ(copyPaths(p), (Lines{"Photos/Trip/y.jpg", composed}));
        EXPECT_EQ(p.entryCountB, 5);

        const auto [stats, exit] = run(p);
        expectClean({stats, exit});
        Files after{{"Photos", "dir/"}, {"Photos/Trip", "dir/"}, {"Photos/Trip/y.jpg", "y changed"},
                    {"Photos/x.jpg", "x"}, {"Report.txt", "r"}, {composed, "c"}};
        if (!mirror) after.insert({{"Photos/Trip/Old.jpg", "o"}, {decomposed, "d"}});
        EXPECT_EQ(tree(dst), after);
        if (archive) {
            EXPECT_EQ(stats.filesArchived, 3);  // the replaced and the deleted files, not the folder kept
            EXPECT_EQ(contents(runFolder() / "Photos/Trip/Old.jpg"), "o");
        }
        const SyncPlan next = plan();
        EXPECT_TRUE(next.copies.empty() && next.archives.empty() && next.renames.empty() && !next.deletionCount);
    }
}

// A rename that cannot be made keeps the transfer away from both spellings,
// and is named. Here the plan's rename meets two folders where it expected
// one (a copy job takes no last look that could find them first).
TEST_F(OneWayEngineTest, ARenameThatFailsKeepsTheTransferAwayAndIsNamed) {
    job.mode = SyncMode::copy;
    putFiles(dst, {{"photos/x.jpg", "x"}, {"Photos/y.jpg", "y"}});
    putFiles(src, {{"Photos/x.jpg", "x changed"}, {"other.txt", "o"}});
    SyncPlan p = plan();
    p.renames = {{"photos", "Photos"}};

    expectExit(run(p), 23, {std::string(SpellingAlignment::failedLine) + "Photos: File exists"});
    EXPECT_EQ(tree(dst), (Files{{"Photos", "dir/"}, {"Photos/y.jpg", "y"}, {"other.txt", "o"}, {"photos", "dir/"},
                                {"photos/x.jpg", "x"}}));
}

// A mirror whose fresh look finds a rename its plan did not list would
// delete the folder after the transfer: it asks for a new plan instead.
TEST_F(OneWaySpellingTest, ARenameMadeAfterPlanningAsksForANewPlan) {
    putBoth("photos/x.jpg", "x");
    const SyncPlan p = plan();
    fs::rename(src / "photos", src / "Photos");
    EXPECT_EQ(run(p).second.code, OneWayEngine::replanCode);
    EXPECT_EQ(entries(dst), (Lines{"photos/", "photos/x.jpg"}));
}

// A card mounted inside B, B itself on a disk that tells spellings apart:
// on the card, B's items spelled otherwise than A's are renamed; beside it,
// they are other items.
TEST_F(OneWaySpellingTest, OnACardMountedInsideBOnlyTheCardsItemsAreRenamed) {
    dst = tmp / "B";
    fs::create_directories(dst / "card");
    ASSERT_TRUE(mounts.exfat(tmp / "card.img", dst / "card"));
    traits = ext4Traits();
    putFiles(dst, {{"card/photos/x.jpg", "x"}, {"Keep.txt", "k"}});
    putFiles(src, {{"card/Photos/x.jpg", "x changed"}, {"keep.txt", "k"}});
    const SyncPlan p = plan();
    EXPECT_EQ(p.renames, (std::vector<PlannedRename>{{"card/photos", "card/Photos"}}));
    EXPECT_EQ(run(p).second, RsyncExit(0, {}));
    EXPECT_EQ(tree(dst), (Files{{"card", "dir/"}, {"card/Photos", "dir/"}, {"card/Photos/x.jpg", "x changed"}, {"keep.txt", "k"}}));
}

}  // namespace

// What A spells twice is kept on B under any spelling B has of it: B's item
// there is the very item both of A's names reach, not one A lacks.
TEST_F(OneWaySpellingTest, BsItemAtANameASpellsTwiceIsKeptWhateverItsSpelling) {
    const std::string composed = "caf\xC3\xA9", decomposed = "cafe\xCC\x81", upper = "CAF\xC3\x89";
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        fresh(archive ? 1 : 0);
        putFiles(src, {{"Report.txt", "1"}, {"report.txt", "2"}, {"Sub/x", "x"}, {"sub", "s"}, {composed, "c"},
                       {decomposed, "d"}, {"Dir/Note", "n"}, {"Dir/note", "m"}, {"Dir/other", "o"}});
        putFiles(dst, {{"REPORT.TXT", "kept"}, {"SUB/y", "kept"}, {upper, "kept"}, {"dir/NOTE", "kept"}, {"dir/other", "o"}});
        job.options.archiveEnabled = archive;

        const SyncPlan p = plan();
        EXPECT_EQ(p.renames, (std::vector<PlannedRename>{{"dir", "Dir"}}));
        EXPECT_EQ(p.deletionCount, 0);
        EXPECT_TRUE(archivePaths(p).empty());
        EXPECT_EQ(run(p).second.code, 0);
        EXPECT_EQ(tree(dst), (Files{{upper, "kept"}, {"Dir", "dir/"}, {"Dir/NOTE", "kept"}, {"Dir/other", "o"},
                                    {"REPORT.TXT", "kept"}, {"SUB", "dir/"}, {"SUB/y", "kept"}}));
    }
}

// Two items of B whose names fold alike, one composed otherwise: looking the
// same, nothing tells which A's spelling reaches, and all are left alone. Told
// apart (here by size), B's composed item is A's and is renamed.
TEST_F(OneWaySpellingTest, ItemsOfBThatCannotBeToldApartAreLeftAlone) {
    const std::string decomposedUpper = "CAFE\xCC\x81.txt", composedLower = "caf\xC3\xA9.txt",
                      composedA = "Caf\xC3\xA9.txt";
    for (const bool toldApart : {false, true}) {
        SCOPED_TRACE(toldApart ? "told apart" : "alike");
        fresh(toldApart ? 1 : 0);
        putFiles(dst, {{decomposedUpper, toldApart ? "AAAAAA" : "AAAA"}, {composedLower, "BBBB"}, {"other.txt", "old"}});
        put(src / composedA, "new content from A");
        job.options.archiveEnabled = true;
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
