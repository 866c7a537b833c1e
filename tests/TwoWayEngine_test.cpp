// Two-way plans and runs on real folders with the bundled rsync or a script.

#include "SyncModel/Support/FileDescriptor.h"
#include "tests/TwoWayEngineFixture.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

#include <cstring>
#include <latch>

namespace kelto::test {
namespace {

using Files = std::map<std::string, std::string>;
using Script = ScriptedRsyncRunner;

// Makes a folder's entries unremovable even for root, or removable again; false where the disk cannot.
bool setImmutable(const fs::path& folder, bool on) {
    const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int flags = 0;
    const bool done = fd.valid() && ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    return done && ::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0;
}

std::string holdingFolder(const std::string& runID) { return ".KeltoSync/Holding/" + runID; }

bool logged(const MemoryLog& log, const std::string& line) {
    return std::find(log.lines.begin(), log.lines.end(), line) != log.lines.end();
}

// The engine error `action` throws; none when it ends without one.
std::optional<TwoWayEngineError> engineError(const std::function<void()>& action) {
    try {
        action();
    } catch (const TwoWayEngineError& error) {
        return error;
    }
    return std::nullopt;
}

TEST_F(TwoWayEngineTest, FirstRunCopiesBothWaysAndANoChangeRunCopiesNothing) {
    putAt(a / "docs" / "a.txt", "from A", t0);
    putAt(a / "same.txt", "same", t0);
    putAt(b / "same.txt", "same", t0);
    putAt(b / "photos" / "b.jpg", "from B!", t0 + 5);
    fs::create_symlink("docs/a.txt", a / "link");
    std::vector<SyncProgress> reports;
    const auto [syncPlan, twoWay] = plan(&reports);
    EXPECT_EQ(twoWay.copyAtoB, (std::vector<std::string>{"docs", "docs/a.txt", "link"}));
    EXPECT_EQ(twoWay.copyBtoA, (std::vector<std::string>{"photos", "photos/b.jpg"}));
    EXPECT_EQ(reports[1].scannedItems, 1);  // A's first entry reports at once
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end(),
                               [](auto& x, auto& y) { return x.scannedItems < y.scannedItems; }));
    // Without the per-entry reports: A from 0 to its 4 entries, then B from 4 on.
    std::erase_if(reports, [](const SyncProgress& p) { return p.currentPath.has_value(); });
    EXPECT_EQ(reports, (std::vector<SyncProgress>{phaseOnly(SyncPhase::scanning, 0), phaseOnly(SyncPhase::scanning, 4),
                                                  phaseOnly(SyncPhase::scanning, 4), phaseOnly(SyncPhase::scanning, 7),
                                                  phaseOnly(SyncPhase::planning, 7)}));
    reports.clear();
    const auto [stats, exit] = run(twoWay, {}, &reports);
    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_EQ(stats, (RunStats{3, 6 + 7 + 10, 0, {}, {}}));  // two files and the link
    EXPECT_EQ(tree(a), tree(b));
    EXPECT_EQ(tree(b)["link"], "-> docs/a.txt");
    EXPECT_FALSE(fs::exists(archiveOf(a)) || fs::exists(archiveOf(b))) << "nothing archived, no run folder";
    const auto stored = storedBaseline();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 6u);
    EXPECT_EQ(*stored->find("photos/b.jpg"), (BaselineEntry{EntryKind::file, 7, t0 + 5}));
    EXPECT_EQ(BaselineStore(baselineFile, true).sideCounts(), (SideCounts{4, 4}));
    EXPECT_EQ(reports.front().bytesDone, 0);
    EXPECT_EQ(reports.back().fraction, 1.0);
    EXPECT_EQ(std::vector(reports.end() - 3, reports.end() - 1),
              (std::vector{phaseOnly(SyncPhase::archiving), phaseOnly(SyncPhase::finalizing)}));
    // Nothing changed: no transfer, no log line, the (tampered) counts written again.
    BaselineStore(baselineFile, false).save(*stored, uuidA, uuidB, SideCounts{99, 99});
    log.lines.clear();
    const auto [again, againTwoWay] = plan();
    EXPECT_TRUE(again.copies.empty() && againTwoWay.copyAtoB.empty() && againTwoWay.copyBtoA.empty());
    reports.clear();
    EXPECT_EQ(run(againTwoWay, {}, &reports), (std::pair{RunStats{}, RsyncExit(0, {})}));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(reports.size(), 4u);
    EXPECT_EQ(BaselineStore(baselineFile, true).sideCounts(), (SideCounts{4, 4}));
    EXPECT_EQ(storedBaseline(), stored);
}

// Spellings differing only in normalisation take A's; a link to a target that is not UTF-8 is no deletion.
TEST_F(TwoWayEngineTest, ChangesAndDeletionsOnBothSidesCarryOverWithTheLosersArchived) {
    startInStep({"x.txt", "y.txt", "z.txt", "dir/inner.txt", "keep.txt", "edited", "whole seconds", "alike"});
    putAt(a / "x.txt", "new on A", t0 + 100);
    putAt(b / "y.txt", "new on B", t0 + 100);
    fs::remove(b / "z.txt");
    fs::remove_all(a / "dir");
    putAt(b / "new.txt", "brand new", t0 + 50);
    const std::string nfc = "R\xC3\xA9sum\xC3\xA9", nfd = "Re\xCC\x81sume\xCC\x81", target = "bad\xFF\xFEtarget";
    putAt(a / (nfc + ".txt"), "A's newer", t0 + 10);
    putAt(b / (nfd + ".txt"), "B's", t0);
    putAt(a / nfc / "from-a.txt", "a", t0);  // one folder, spelled two ways
    putAt(b / nfd / "from-b.txt", "b", t0);
    ASSERT_EQ(::symlink(target.c_str(), (a / "odd link").c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), (b / "odd link 2").c_str()), 0);
    SCOPED_TRACE("EditsOfOneSizeWithinOneSecondAgreeOnlyWhereTheirContentsDo");
    putAt(a / "edited", "A's edit", t0 + 100, 100'000'000);
    putAt(b / "edited", "B's edit", t0 + 100, 500'000'000);
    putAt(a / "whole seconds", "A's edit", t0 + 100);
    putAt(b / "whole seconds", "B's edit", t0 + 100);
    putAt(a / "alike", "one edit", t0 + 100, 100'000'000);
    putAt(b / "alike", "one edit", t0 + 100, 500'000'000);
    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.conflicts, (std::vector<TwoWayConflict>{{nfc + ".txt", TwoWayConflict::Resolution::aWins},
                                                             {"edited", TwoWayConflict::Resolution::aWins},
                                                             {"whole seconds", TwoWayConflict::Resolution::aWins}}));
    EXPECT_EQ(syncPlan.conflicts, (std::vector<std::string>{nfc + ".txt", "edited", "whole seconds"}));
    EXPECT_EQ(twoWay.archiveOnA, std::vector<std::string>{"z.txt"});
    EXPECT_EQ(twoWay.archiveOnB, std::vector<std::string>{"dir/inner.txt"});
    EXPECT_EQ(twoWay.removeDirsOnB, std::vector<std::string>{"dir"});
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_EQ(tree(a), (Files{{"keep.txt", "old"}, {"new.txt", "brand new"}, {"x.txt", "new on A"}, {"y.txt", "new on B"},
                              {nfc, "dir/"}, {nfc + "/from-a.txt", "a"}, {nfc + "/from-b.txt", "b"},
                              {nfc + ".txt", "A's newer"}, {"odd link", "-> " + target}, {"odd link 2", "-> " + target},
                              {"edited", "A's edit"}, {"whole seconds", "A's edit"}, {"alike", "one edit"}}));
    EXPECT_EQ(tree(b), tree(a));
    // Replaced versions (by rsync) and deleted ones (by the mover), each on its side.
    EXPECT_EQ(tree(archiveOf(a)), (Files{{"y.txt", "old"}, {"z.txt", "old"}}));
    EXPECT_EQ(tree(archiveOf(b)),
              (Files{{"dir", "dir/"}, {"dir/inner.txt", "old"}, {"x.txt", "old"}, {nfc + ".txt", "B's"},
                     {"edited", "B's edit"}, {"whole seconds", "B's edit"}}));
    EXPECT_EQ(stats.filesArchived, 7);
    const auto stored = storedBaseline();
    EXPECT_FALSE(stored->find("z.txt") || stored->find("dir"));
    EXPECT_EQ(*stored->find("y.txt"), (BaselineEntry{EntryKind::file, 8, t0 + 100}));
    EXPECT_EQ(*stored->find("alike"), (BaselineEntry{EntryKind::file, 8, t0 + 100}));
    const auto [again, againTwoWay] = plan();
    EXPECT_TRUE(again.copies.empty() && again.archives.empty() && again.conflicts.empty());
}

// With or without the plan's own listings as the run's basis; B spells one folder otherwise.
class WhatChangedBetweenPlanAndRun : public TwoWayEngineTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WhatChangedBetweenPlanAndRun, IsLeftForTheNextRun) {
    TwoWayEngine::Basis basis;
    TwoWayEngine::Basis* onBasis = GetParam() ? &basis : nullptr;
    job.options.archiveEnabled = false;  // an overwrite or deletion would be for good
    startInStep({"deleted on B", "edited on A"});
    fs::remove(b / "deleted on B");
    putAt(a / "edited on A", "A's edit", t0 + 10);
    const std::string nfc = "R\xC3\xA9sum\xC3\xA9", nfd = "Re\xCC\x81sume\xCC\x81";
    fs::create_directories(b / nfd);
    putAt(a / nfc / "new.txt", "A's", t0 + 10);
    const auto [syncPlan, twoWay] = plan(nullptr, nullptr, onBasis);
    ASSERT_EQ(twoWay.archiveOnA, std::vector<std::string>{"deleted on B"});
    ASSERT_EQ(twoWay.copyAtoB, (std::vector<std::string>{nfc + "/new.txt", "edited on A"}));
    putAt(a / "deleted on B", "edited meanwhile", t0 + 60);
    putAt(b / "edited on A", "B's later edit", t0 + 20);
    putAt(b / nfd / "new.txt", "B's, made meanwhile", t0 + 20);
    const auto [stats, exit] = run(twoWay, {}, nullptr, onBasis);
    EXPECT_EQ(exit, RsyncExit(23, {"Copy candidate changed; deferred: " + nfc + "/new.txt",
                                   "Copy candidate changed; deferred: edited on A",
                                   "Deletion candidate changed; deferred: deleted on B"}));
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_TRUE(logged(log, "Deletion candidate changed; deferred: deleted on B"));
    EXPECT_EQ(contents(a / "deleted on B"), "edited meanwhile");
    EXPECT_EQ(tree(b),
              (Files{{"edited on A", "B's later edit"}, {nfd, "dir/"}, {nfd + "/new.txt", "B's, made meanwhile"}}));
    EXPECT_EQ(*storedBaseline()->find("deleted on B"), (BaselineEntry{EntryKind::file, 3, t0}));  // the old entry stays
    const auto [next, nextTwoWay] = plan();
    EXPECT_EQ(nextTwoWay.copyAtoB, std::vector<std::string>{"deleted on B"});  // the edit goes back to B
    EXPECT_EQ(next.conflicts, (std::vector<std::string>{nfd + "/new.txt", "edited on A"}));  // now B's newer edits win
}

INSTANTIATE_TEST_SUITE_P(TwoWayEngineTest, WhatChangedBetweenPlanAndRun, ::testing::Bool());

TEST_F(TwoWayEngineTest, WhatCannotBeArchivedOrRemovedIsReportedWithItsReason) {
    for (const bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "folder" : "file");
        const std::string path = folder ? "parent/gone" : "parent/file.txt";
        fs::remove_all(a / "parent");
        fs::remove_all(b / "parent");
        for (const fs::path& side : {a, b}) folder ? (void)fs::create_directories(side / path) : putAt(side / path, "x", t0);
        ASSERT_EQ(sync().second.code, 0);
        fs::remove(a / path);
        const auto [syncPlan, twoWay] = plan();
        ASSERT_EQ(folder ? twoWay.removeDirsOnB : twoWay.archiveOnB, std::vector<std::string>{path});
        if (!setImmutable(b / "parent", true)) GTEST_SKIP() << "cannot make a folder unremovable here";
        const auto [stats, exit] = run(twoWay);
        setImmutable(b / "parent", false);
        const std::string failure = "Could not archive or remove: " + path + ": " + std::strerror(EPERM);
        EXPECT_EQ(exit, RsyncExit(23, {failure}));
        EXPECT_TRUE(logged(log, failure));
        EXPECT_TRUE(fs::exists(b / path));
        EXPECT_TRUE(storedBaseline()->find(path));
    }
}

// A save on B during the transfer is put back and the next run carries it; where the run fails before the put
// back, the next run names what it kept.
TEST_F(TwoWayEngineTest, AVersionTheListingNeverSawIsKeptAndTheNextRunCarriesIt) {
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the run fails" : "the run ends");
        resetSides(false);
        startInStep({"notes.txt", "other.txt"});
        putAt(a / "notes.txt", "from A", t0 + 100);
        putAt(a / "other.txt", "from A", t0 + 100);
        const TwoWayPlan p = plan().second;
        ASSERT_EQ(p.copyAtoB, (std::vector<std::string>{"notes.txt", "other.txt"}));
        Script::Step& transfer = script.expect(Script::transfer())
                                     .then([&] { putAt(b / "notes.txt", "1st save", t0 + 200); })
                                     .passThrough();
        const std::string folder = holdingFolder(runID);
        if (fails) {
            transfer.then([&] { putAt(b / "notes.txt", "2nd save", t0 + 300); });  // after rsync wrote its copy
            log.failFrom = 0;
            EXPECT_ANY_THROW(run(p));
            log.failFrom = SIZE_MAX;
            EXPECT_EQ(sync().second.stderrTail,
                      (std::vector<std::string>{
                          "Kept from an interrupted run in " + folder + " (its place is taken): notes.txt",
                          "Delete " + (b / folder).native() + " once you no longer need what it holds"}));
            EXPECT_EQ(contents(b / folder / "notes.txt"), "1st save");
            continue;
        }
        EXPECT_EQ(run(p).second, RsyncExit(23, {"Put back: notes.txt"}));
        EXPECT_EQ(tree(b), (Files{{"notes.txt", "1st save"}, {"other.txt", "from A"}}));
        EXPECT_FALSE(fs::exists(b / folder));
        ASSERT_EQ(sync().second, RsyncExit(0, {}));
        EXPECT_EQ(tree(a), tree(b));
    }
}

// Saves the plan never saw: after their listing (an hour back), in place while the plan waits (only the change
// time tells), or renamed in during the transfer within the listed second, same size.
TEST_F(TwoWayEngineTest, AVersionSavedAfterTheListingsBeganIsKeptArchiveOnOrOff) {
    enum How { afterListing, whilePlanWaits, renamedDuringTransfer };
    for (const How how : {afterListing, whilePlanWaits, renamedDuringTransfer})
        for (const bool archive : {false, true}) {
            SCOPED_TRACE(testing::Message() << "way " << how << (archive ? ", archive on" : ", archive off"));
            resetSides(archive);
            const std::vector<fs::path> saved{b / "report.txt", b / "gone.txt", a / "back.txt"};
            startInStep({"report.txt", "gone.txt", "back.txt"});
            putAt(a / "report.txt", "from A", t0 + 100);
            fs::remove(a / "gone.txt");
            putAt(b / "back.txt", "from B", t0 + 100);
            if (how == afterListing) {
                script.expect(Script::listing(a)).passThrough().then([&] { putAt(a / "back.txt", "mine", t0 - 3600); });
                script.expect(Script::listing(b)).passThrough().then([&] {
                    putAt(b / "report.txt", "mine", t0 - 3600);
                    putAt(b / "gone.txt", "mine", t0 - 3600);
                });
            }
            const TwoWayPlan p = plan().second;
            ASSERT_EQ((std::vector{p.copyAtoB, p.copyBtoA, p.archiveOnB}),
                      (std::vector<std::vector<std::string>>{{"report.txt"}, {"back.txt"}, {"gone.txt"}}));
            runID = ArchiveRunID::make(SystemClock::shared().now());
            if (how == whilePlanWaits)  // each in place, to its size and time ("old" at t0)
                for (const fs::path& file : saved) putAt(file, "mmm", t0);
            if (how == renamedDuringTransfer)
                script.expect(Script::transfer())
                    .then([&] {
                        for (const fs::path& file : saved) {
                            putAt(tmp / "saved", "mmm", t0, 500);
                            fs::rename(tmp / "saved", file);
                        }
                    })
                    .passThrough();
            const auto [stats, exit] = run(p);
            EXPECT_NE(exit.code, 0) << testing::PrintToString(exit.stderrTail);
            for (const fs::path& file : saved) EXPECT_EQ(contents(file), how == afterListing ? "mine" : "mmm") << file;
            EXPECT_FALSE(fs::exists(archiveOf(b) / "report.txt") || fs::exists(archiveOf(b) / "gone.txt") ||
                         fs::exists(archiveOf(a) / "back.txt"));
            if (how == afterListing) {
                EXPECT_EQ(exit.code, 23);
                EXPECT_TRUE(logged(log, "Put back: report.txt") && logged(log, "Put back: back.txt"));
            }
        }
}

TEST_F(TwoWayEngineTest, AKilledRunsHeldItemsSettleAsThatRunWould) {
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        resetSides(archive);
        startInStep({"report.txt", "notes.txt"});
        putAt(a / "report.txt", "from A", t0 + 100);
        putAt(a / "notes.txt", "from A", t0 + 100);
        runID = ArchiveRunID::make(SystemClock::shared().now());
        const std::string killedRun = runID;
        // As a kill leaves B: rsync done, nothing settled.
        const fs::path killed = tmp / "b-killed";
        fs::remove_all(killed);
        script.expect(Script::transfer()).passThrough().then([&] {
            ASSERT_EQ(runQuietly({"cp", "-al", b.native(), killed.native()}), 0);
        });
        ASSERT_EQ(run(plan().second).second.code, 0);
        fs::remove_all(b);
        fs::rename(killed, b);
        const fs::path held = b / holdingFolder(killedRun);
        ASSERT_EQ(contents(held / "report.txt"), "old");
        putAt(held / "notes.txt", "changed while held", t0);  // no version the plan saw
        putAt(b / "notes.txt", "the user's", t0 + 200);       // in its place, no copy of A's
        putAt(a / "next.txt", "for B", t0);                   // so that the next runs act on B
        const auto second = sync();
        const std::string archived = ArchiveDirectories::runFolderRelativePath(job.id, runID);
        const std::vector<std::string> kept{
            "Kept from an interrupted run in " + holdingFolder(killedRun) + " (its place is taken): notes.txt",
            "Delete " + held.native() + " once you no longer need what it holds"};
        const std::string archivedLine =
            "Archived from an interrupted run in " + archived + " (its place is taken): notes.txt";
        EXPECT_EQ(second.second, RsyncExit(24, archive ? std::vector{archivedLine} : kept));
        EXPECT_FALSE(fs::exists(held / "report.txt"));
        EXPECT_EQ(fs::exists(b / ArchiveDirectories::runFolderRelativePath(job.id, killedRun) / "report.txt"),
                  archive);
        EXPECT_EQ(contents((archive ? b / archived : held) / "notes.txt"), "changed while held");
        EXPECT_EQ(contents(b / "report.txt"), "from A");
        putAt(a / "later.txt", "for B", t0);
        EXPECT_EQ(sync().second, archive ? RsyncExit(0, {}) : RsyncExit(24, kept));
        EXPECT_EQ(contents(b / "later.txt"), "for B");
    }
}

// exFAT through FUSE: no no-replace rename, no hard links, hundredths of a second.
TEST_F(TwoWayEngineTest, OnExfatThroughFuseADeletionIsArchived) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    ASSERT_TRUE(testMounts.emplace().exfat(tmp / "b.img", b));
    const FileSystemTraits exfat = traitsOf("exfat");
    const auto syncOnExfatB = [&] {
        runID = ArchiveRunID::make(SystemClock::shared().now());
        BaselineStore store(baselineFile, false);
        const TwoWayPlan p = engine.plan(job, sideA(), sideB(&exfat), store).second;
        return std::pair{p, engine.run(job, p, sideA(), sideB(&exfat), store, runID, log)};
    };
    for (const char* name : {"f1", "edited", "alike"}) putAt(a / name, "old", t0);
    putAt(b / "edited", "old", t0);
    ASSERT_EQ(syncOnExfatB().second.second, RsyncExit(0, {}));
    ASSERT_EQ(contents(b / "f1"), "old");
    fs::remove(a / "f1");
    for (const auto& [side, edit] : {std::pair{a, "A's edit"}, std::pair{b, "B's edit"}}) {
        putAt(side / "edited", edit, t0 + 100, 120'000'000);
        putAt(side / "alike", "one edit", t0 + 100, 120'000'000);
    }
    const auto [p, result] = syncOnExfatB();
    EXPECT_EQ(p.conflicts, (std::vector<TwoWayConflict>{{"edited", TwoWayConflict::Resolution::aWins}}));
    EXPECT_EQ(result.second, RsyncExit(0, {}));
    EXPECT_EQ(result.first.filesArchived, 2);
    EXPECT_EQ(tree(b), (Files{{"alike", "one edit"}, {"edited", "A's edit"}}));
    EXPECT_EQ(tree(archiveOf(b)), (Files{{"edited", "B's edit"}, {"f1", "old"}}));
}

TEST_F(TwoWayEngineTest, ACopyCutShortIsClearedAndNeverTransferred) {
    job.options.archiveEnabled = false;
    const std::string leftover = ".kelto-copy-0f8fad5b-d9cb-469f-a165-70867728950e";
    putAt(a / "sub" / leftover, "half of A's", t0);
    putAt(b / "dir" / leftover / "inner.txt", "half of B's", t0);
    putAt(b / "sub" / leftover, "half of B's", t0);
    putAt(b / holdingFolder("2025-03-07_141503-0a1b2c3d") / "sub/back.txt", "held", t0);
    putAt(b / holdingFolder("2025-03-07_141503-0a1b2c3d") / "sub" / leftover, "", t0);  // the copy's record
    putAt(a / "new.txt", "from A", t0);
    const auto [stats, exit] = sync();
    EXPECT_EQ(exit.code, 0) << testing::PrintToString(stats.errors);
    // What went back waits for the next run's listing.
    EXPECT_EQ(tree(a),
              (Files{{"dir", "dir/"}, {"new.txt", "from A"}, {"sub", "dir/"}, {"sub/" + leftover, "half of A's"}}));
    EXPECT_EQ(tree(b), (Files{{"dir", "dir/"}, {"dir/" + leftover, "dir/"},
                              {"dir/" + leftover + "/inner.txt", "half of B's"}, {"new.txt", "from A"},
                              {"sub", "dir/"}, {"sub/back.txt", "held"}}));
}

TEST_F(TwoWayEngineTest, ReplacingOnAMountBelowBIsRefusedWhereBLacksTheRoom) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    job.options.archiveEnabled = false;
    testMounts.emplace();
    fs::create_directories(tmp / "disk");
    ASSERT_TRUE(testMounts->ext4Image(tmp / "b.img", tmp / "disk"));
    b = tmp / "disk/b";
    fs::create_directories(b / "mnt");
    ASSERT_TRUE(testMounts->tmpfs(b / "mnt"));
    for (const fs::path& side : {a, b}) {
        putAt(side / "mnt/big", "data", t0);
        fs::resize_file(side / "mnt/big", 64 << 20);
    }
    fs::last_write_time(b / "mnt/big", fs::last_write_time(a / "mnt/big"));
    ASSERT_EQ(sync().second.code, 0);
    putAt(a / "mnt/big", "new", t0 + 100);
    const auto error = engineError([&] { sync(); });
    ASSERT_TRUE(error) << "ran";
    EXPECT_EQ(error->code(), TwoWayEngineError::Code::noRoomToHold);
    EXPECT_TRUE(std::string(error->what())
                    .starts_with("Not enough room on the disk of \"" + b.native() +
                                 "\" to hold what this run deletes or replaces on \"" + (b / "mnt").native() +
                                 "\": it needs 67.8 MB, ")) << error->what();
    EXPECT_EQ(fs::file_size(b / "mnt/big"), 64u << 20);
    EXPECT_FALSE(fs::exists(b / holdingFolder(runID)));
}

TEST_F(TwoWayEngineTest, AListingLineThatDoesNotParseFailsTheScan) {
    // A date the calendar does not have.
    const std::string good = RsyncLines::listed(EntryKind::file, 3, 1'577'836'800, "good");
    const std::string unreadable = "-rw-r--r--           3 2023/02/29 07:06:40 old";
    for (const fs::path* side : {&a, &b}) {
        SCOPED_TRACE(side->native());
        // The other side lists for real.
        script.expect(Script::listing(*side)).out(good + unreadable + "\n");
        const auto error = engineError([&] { plan(); });
        ASSERT_TRUE(error) << "planned without the unreadable entry";
        EXPECT_EQ(error->code(), TwoWayEngineError::Code::scanFailed);
        EXPECT_EQ(error->exitCode(), TwoWayEngine::unreadableListingCode);
        EXPECT_EQ(error->stderrTail(), std::vector<std::string>{"Unreadable listing line: " + unreadable});
    }
}

TEST_F(TwoWayEngineTest, CancellingWhileListingFailsWithTheCancellationError) {
    std::stop_source stop;
    std::latch bListing(1);
    script.expect(Script::listing(b)).then([&] { bListing.count_down(); }).waitForStop();
    script.expect(Script::listing(a)).then([&] { bListing.wait(); }).stopAt(stop).waitForStop();
    BaselineStore store(baselineFile, false);
    EXPECT_THROW(engine.plan(job, sideA(), sideB(), store, stop.get_token()), CancellationError);
}

TEST_F(TwoWayEngineTest, AFileTheReceivingVolumeCannotHoldIsSkippedOnce) {
    const FileSystemTraits traitsB = traitsOf("vfat");
    putAt(a / "small", "x", t0);
    putAt(a / "big", "", t0);
    putAt(b / "big-on-b", "", t0);
    fs::resize_file(a / "big", 5'000'000'000);  // sparse; too large for B, not for A
    fs::resize_file(b / "big-on-b", 5'000'000'000);
    const auto [syncPlan, twoWay] = plan(nullptr, &traitsB);
    EXPECT_EQ(twoWay.copyAtoB, std::vector<std::string>{"small"});
    EXPECT_EQ(twoWay.copyBtoA, std::vector<std::string>{"big-on-b"});
    EXPECT_EQ(twoWay.skipped, (std::vector<SkippedFile>{{"big", FileSkipReason::tooLargeForFAT}}));
    EXPECT_EQ(syncPlan.skipped, twoWay.skipped);
}

TEST_F(TwoWayEngineTest, NoFilterHidesTheMarkersFromTheListings) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to bind-mount a folder";
    tmp.write("a/one.txt", "one");
    fs::create_directories(a / ".KeltoSync/Archive");
    fs::create_directories(b / "inner");
    ASSERT_TRUE(testMounts.emplace().bind(a, b / "inner"));
    for (const std::vector<std::string>& patterns : {std::vector<std::string>{".*"}, {"*Marker*"}, {"inner/.K*/"}}) {
        job.filters.patterns = patterns;
        SCOPED_TRACE(patterns.front());
        for (int way = 0; way < 2; ++way) {
            const auto error = engineError([&] { plan(); });
            ASSERT_TRUE(error) << "planned";
            EXPECT_EQ(error->code(), TwoWayEngineError::Code::nestedEndpoints) << error->what();
            std::swap(a, b);
        }
    }
}

class TwoWayExitTest : public TwoWayEngineTest {
protected:
    std::string baselineBefore;
    std::size_t transfersBefore = 0;
    // From empty sides with the archive on: x changed on A, y on B, z deleted on B.
    TwoWayPlan prepare() {
        resetSides(true);
        startInStep({"x", "y", "z"});
        putAt(a / "x", "new x", t0 + 10);
        putAt(b / "y", "new y", t0 + 10);
        fs::remove(b / "z");
        const TwoWayPlan p = plan().second;
        baselineBefore = contents(baselineFile);
        transfersBefore = transferCount();
        return p;
    }
    // Scripted transfers: real first where asked, then `extra`, "rsync error n" and the code.
    void scriptTransfers(const std::vector<std::pair<bool, int>>& steps, const std::string& extra = "") {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            Script::Step& step = script.expect(Script::transfer());
            if (steps[i].first) step.passThrough();
            step.err(extra + "rsync error " + std::to_string(i + 1) + "\n").exit(steps[i].second);
        }
    }
    std::size_t transferCount() const {
        const auto calls = script.calls();
        return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [](const Script::Call& call) {
            return Script::transfer()(call.arguments);
        }));
    }
};

// The worst code stands; a partial direction keeps the old entries of what it did not confirm while the other
// direction and the deletions go on; any other code stops what follows. The tail keeps 50 lines. A stop after
// A to B, or while B to A runs, ends with 20 and keeps the baseline.
TEST_F(TwoWayExitTest, TheWorstCodeStandsAndAFailureStopsWhatFollows) {
    std::string sixty;
    for (int i = 1; i <= 60; ++i) sixty += "line " + std::to_string(i) + "\n";
    const Files inStep{{"x", "new x"}, {"y", "new y"}}, onlyXNewOnA{{"x", "new x"}, {"y", "old"}, {"z", "old"}};
    const std::string stopRow = "AStopAfterAToBEndsWithTwentyAndKeepsTheBaseline/";
    const struct {
        std::string name;
        std::vector<std::pair<bool, int>> steps;  // for a stop: the transfers begun
        int code;
        Files a, b;
    } cases[] = {{"24 then 0", {{true, 24}, {true, 0}}, 24, inStep, inStep},
                 {"23 then 24", {{true, 23}, {true, 24}}, 23, inStep, inStep},
                 {"24 then 23", {{true, 24}, {true, 23}}, 23, inStep, inStep},
                 {"23 unreal then 0", {{false, 23}, {true, 0}}, 23, inStep, {{"x", "old"}, {"y", "new y"}}},
                 {"11", {{false, 11}}, 11, onlyXNewOnA, {{"x", "old"}, {"y", "new y"}}},
                 {stopRow + "between the directions", {{true, 0}}, 20, onlyXNewOnA, inStep},
                 {stopRow + "while B to A runs", {{true, 0}, {false, 0}}, 20, onlyXNewOnA, inStep}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TwoWayPlan twoWay = prepare();
        std::stop_source stop;
        std::string listNamed;
        if (c.code != 20) {
            scriptTransfers(c.steps, sixty);
        } else if (c.steps.size() == 1) {
            script.expect(Script::transferTo(b)).passThrough().stopAt(stop);
        } else {
            script.expect(Script::transferTo(b)).passThrough();
            script.expect(Script::transferTo(a))
                .then([&] {
                    listNamed = script.calls().back().option("--files-from").value_or("");
                    EXPECT_TRUE(fs::exists(listNamed));
                })
                .stopAt(stop)
                .waitForStop();  // still running when the stop comes
        }
        std::vector<SyncProgress> reports;
        const auto [stats, exit] = run(twoWay, stop.get_token(), &reports);
        EXPECT_EQ(transferCount() - transfersBefore, c.steps.size());
        EXPECT_EQ(tree(a), c.a);
        EXPECT_EQ(tree(b), c.b);
        if (c.code == 11 || c.code == 20) {
            EXPECT_EQ(contents(baselineFile), baselineBefore);
        }
        if (c.code == 20) {
            EXPECT_EQ(exit, RsyncExit(20, {}));
            EXPECT_EQ(stats.filesCopied, 1);
            for (const SyncProgress& p : reports) EXPECT_EQ(p.phase, SyncPhase::transferring);
            EXPECT_EQ(listNamed.find("KeltoSync-files-") != std::string::npos, c.steps.size() == 2);
            EXPECT_FALSE(fs::exists(listNamed));
            continue;
        }
        EXPECT_EQ(exit.code, c.code);
        ASSERT_EQ(exit.stderrTail.size(), 50u);
        EXPECT_EQ(exit.stderrTail.front(), "line 12");
        EXPECT_EQ(exit.stderrTail.back(), "rsync error " + std::to_string(c.steps.size()));
        EXPECT_EQ(stats.errors, exit.stderrTail);
        if (c.b.at("x") == "old" && c.code == 23) {
            EXPECT_EQ(stats.filesCopied, 1);  // only what rsync itemised
            EXPECT_EQ(*storedBaseline()->find("x"), (BaselineEntry{EntryKind::file, 3, t0}));
            EXPECT_EQ(storedBaseline()->find("y")->size, 5);
        }
    }
}

TEST_F(TwoWayExitTest, TheListsOfPathsAreTheUsersAloneAndAKilledRunsAreCleared) {
    const TwoWayPlan twoWay = prepare();
    fs::create_directories(engine.listFolder);
    fs::permissions(engine.listFolder, fs::perms(0755));
    const fs::path leftover = engine.listFolder / "KeltoSync-files-0A1B2C3D-LEFT-BY-A-KILLED-RUN";
    std::ofstream(leftover) << "private/name";
    std::ofstream(engine.listFolder / "unrelated") << "kept";
    std::vector<fs::path> lists;
    for (const fs::path& to : {b, a})
        script.expect(Script::transferTo(to))
            .then([&] {
                const fs::path list = script.calls().back().option("--files-from").value_or("");
                lists.push_back(list);
                EXPECT_EQ(list.parent_path(), fs::absolute(engine.listFolder));
                EXPECT_EQ(fs::status(list).permissions(), fs::perms(0600)) << list;
                EXPECT_EQ(fs::status(engine.listFolder).permissions(), fs::perms(0700));
                EXPECT_FALSE(fs::exists(leftover));
            })
            .passThrough();
    EXPECT_EQ(run(twoWay).second.code, 0);
    ASSERT_EQ(lists.size(), 2u);
    for (const fs::path& list : lists) EXPECT_FALSE(fs::exists(list));
    EXPECT_TRUE(fs::exists(engine.listFolder / "unrelated"));
}

}  // namespace
}  // namespace kelto::test
