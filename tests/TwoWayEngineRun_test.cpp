// Two-way runs on real folders with the bundled rsync: copies both ways,
// deletions carried over, conflicts, changes between plan and run, spelling.

#include "tests/TwoWayEngineFixture.h"

#include <sys/ioctl.h>
#include <linux/fs.h>

namespace kelto::test {
namespace {

constexpr std::int64_t t0 = 1'600'000'000;

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(TwoWayEngineTest, FirstRunCopiesBothWaysAndANoChangeRunCopiesNothing) {
    putAt(a / "docs" / "a.txt", "from A", t0);
    putAt(a / "same.txt", "same", t0);
    putAt(b / "same.txt", "same", t0);
    putAt(b / "photos" / "b.jpg", "from B!", t0 + 5);
    fs::create_symlink("docs/a.txt", a / "link");

    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.copyAtoB, (std::vector<std::string>{"docs", "docs/a.txt", "link"}));
    EXPECT_EQ(twoWay.copyBtoA, (std::vector<std::string>{"photos", "photos/b.jpg"}));
    EXPECT_TRUE(syncPlan.archives.empty());
    std::vector<SyncProgress> reports;
    const auto [stats, exit] = run(twoWay, {}, &reports);

    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_EQ(stats.filesCopied, 3);  // two files and the link
    EXPECT_EQ(stats.bytesCopied, 6 + 7 + 10);
    EXPECT_EQ(stats.filesArchived, 0);
    EXPECT_EQ(tree(a), tree(b));
    EXPECT_EQ(tree(b)["link"], "-> docs/a.txt");
    const auto stored = storedBaseline();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 6u);
    EXPECT_EQ(*stored->find("photos/b.jpg"), (BaselineEntry{EntryKind::file, 7, t0 + 5}));
    EXPECT_EQ(BaselineStore(baselineFile, true).sideCounts(), (SideCounts{4, 4}));
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports.front().phase, SyncPhase::transferring);
    EXPECT_EQ(reports.front().bytesDone, 0);
    EXPECT_EQ(reports.back().fraction, 1.0);
    EXPECT_EQ(reports[reports.size() - 3], phaseOnly(SyncPhase::archiving));
    EXPECT_EQ(reports[reports.size() - 2], phaseOnly(SyncPhase::finalizing));

    // Nothing changed: no rsync transfer, no log line, and the baseline is
    // written again (the counts tampered with below come back).
    BaselineStore(baselineFile, false).save(*stored, uuidA, uuidB, SideCounts{99, 99});
    log.lines.clear();
    const auto [again, againTwoWay] = plan();
    EXPECT_TRUE(again.copies.empty() && againTwoWay.copyAtoB.empty() && againTwoWay.copyBtoA.empty());
    reports.clear();
    const auto [quiet, quietExit] = run(againTwoWay, {}, &reports);
    EXPECT_EQ(quietExit, RsyncExit(0, {}));
    EXPECT_EQ(quiet, RunStats{});
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(reports.size(), 4u);
    EXPECT_EQ(BaselineStore(baselineFile, true).sideCounts(), (SideCounts{4, 4}));
    EXPECT_EQ(storedBaseline(), stored);
}

TEST_F(TwoWayEngineTest, ChangesAndDeletionsOnBothSidesCarryOverWithTheLosersArchived) {
    for (const char* name : {"x.txt", "y.txt", "z.txt", "dir/inner.txt", "keep.txt"}) {
        putAt(a / name, "old", t0);
        putAt(b / name, "old", t0);
    }
    fs::create_directories(a / "empty");
    fs::create_directories(b / "empty");
    ASSERT_EQ(sync().second.code, 0);

    putAt(a / "x.txt", "new on A", t0 + 100);  // changed on A
    putAt(b / "y.txt", "new on B", t0 + 100);  // changed on B
    fs::remove(b / "z.txt");                   // deleted on B
    fs::remove_all(a / "dir");                 // deleted on A, folder and all
    fs::remove(b / "empty");
    putAt(b / "new.txt", "brand new", t0 + 50);

    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.copyAtoB, std::vector<std::string>{"x.txt"});
    EXPECT_EQ(twoWay.copyBtoA, (std::vector<std::string>{"new.txt", "y.txt"}));
    EXPECT_EQ(twoWay.archiveOnA, std::vector<std::string>{"z.txt"});
    EXPECT_EQ(twoWay.archiveOnB, std::vector<std::string>{"dir/inner.txt"});
    EXPECT_EQ(twoWay.removeDirsOnA, std::vector<std::string>{"empty"});
    EXPECT_EQ(twoWay.removeDirsOnB, std::vector<std::string>{"dir"});
    const auto [stats, exit] = run(twoWay);

    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_EQ(tree(a), tree(b));
    EXPECT_EQ(tree(a), (std::map<std::string, std::string>{
                           {"keep.txt", "old"}, {"new.txt", "brand new"}, {"x.txt", "new on A"}, {"y.txt", "new on B"}}));
    // Replaced versions (by rsync) and deleted ones (by the mover), each on its side.
    EXPECT_EQ(tree(archiveOf(a)), (std::map<std::string, std::string>{{"y.txt", "old"}, {"z.txt", "old"}}));
    EXPECT_EQ(tree(archiveOf(b)),
              (std::map<std::string, std::string>{{"dir", "dir/"}, {"dir/inner.txt", "old"}, {"x.txt", "old"}}));
    EXPECT_EQ(stats.filesArchived, 4);
    const auto stored = storedBaseline();
    EXPECT_FALSE(stored->find("z.txt") || stored->find("dir") || stored->find("empty"));
    EXPECT_EQ(*stored->find("y.txt"), (BaselineEntry{EntryKind::file, 8, t0 + 100}));
}

TEST_F(TwoWayEngineTest, WithTheArchiveOffLosersAndDeletionsAreGoneAndNothingIsArchived) {
    job.options.archiveEnabled = false;
    putAt(a / "x.txt", "old", t0);
    putAt(b / "x.txt", "old", t0);
    putAt(a / "z.txt", "old", t0);
    putAt(b / "z.txt", "old", t0);
    ASSERT_EQ(sync().second.code, 0);
    putAt(a / "x.txt", "new", t0 + 10);
    fs::remove(b / "z.txt");

    const auto [stats, exit] = sync();
    EXPECT_EQ(exit.code, 0);
    EXPECT_EQ(tree(a), (std::map<std::string, std::string>{{"x.txt", "new"}}));
    EXPECT_EQ(tree(b), tree(a));
    EXPECT_EQ(stats.filesArchived, 0);
    EXPECT_TRUE(fs::is_empty(archiveOf(a)) && fs::is_empty(archiveOf(b)));
}

TEST_F(TwoWayEngineTest, ConflictsGoToTheNewerSideAndToAOnEqualTimes) {
    for (const char* name : {"a-newer", "b-newer", "same-time"}) {
        putAt(a / name, "base", t0);
        putAt(b / name, "base", t0);
    }
    ASSERT_EQ(sync().second.code, 0);
    putAt(a / "a-newer", "A's edit", t0 + 200);
    putAt(b / "a-newer", "B's edit", t0 + 100);
    putAt(a / "b-newer", "A's edit", t0 + 100);
    putAt(b / "b-newer", "B's edit", t0 + 200);
    putAt(a / "same-time", "A's longer edit", t0 + 300);
    putAt(b / "same-time", "B's edit", t0 + 300);

    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.conflicts, (std::vector<TwoWayConflict>{{"a-newer", TwoWayConflict::Resolution::aWins},
                                                             {"b-newer", TwoWayConflict::Resolution::bWins},
                                                             {"same-time", TwoWayConflict::Resolution::aWins}}));
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit.code, 0);
    EXPECT_EQ(tree(a), (std::map<std::string, std::string>{
                           {"a-newer", "A's edit"}, {"b-newer", "B's edit"}, {"same-time", "A's longer edit"}}));
    EXPECT_EQ(tree(b), tree(a));
    EXPECT_EQ(tree(archiveOf(a)), (std::map<std::string, std::string>{{"b-newer", "A's edit"}}));
    EXPECT_EQ(tree(archiveOf(b)), (std::map<std::string, std::string>{{"a-newer", "B's edit"}, {"same-time", "B's edit"}}));
    EXPECT_EQ(stats.filesArchived, 3);
}

TEST_F(TwoWayEngineTest, ADeletionCandidateChangedAfterPlanningIsDeferredAndPlannedAgain) {
    putAt(a / "f", "old", t0);
    putAt(b / "f", "old", t0);
    ASSERT_EQ(sync().second.code, 0);
    fs::remove(b / "f");
    const auto [syncPlan, twoWay] = plan();
    ASSERT_EQ(twoWay.archiveOnA, std::vector<std::string>{"f"});

    putAt(a / "f", "edited meanwhile", t0 + 60);
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(23, {"Deletion candidate changed; deferred: f"}));
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_TRUE(hasLine(log.lines, "Deletion candidate changed; deferred: f"));
    EXPECT_EQ(contents(a / "f"), "edited meanwhile");
    EXPECT_FALSE(fs::exists(archiveOf(a) / "f"));
    EXPECT_EQ(*storedBaseline()->find("f"), (BaselineEntry{EntryKind::file, 3, t0}));  // the old entry stays

    EXPECT_EQ(plan().second.copyAtoB, std::vector<std::string>{"f"});  // the edit is copied back next time
}

TEST_F(TwoWayEngineTest, ADestinationChangedAfterPlanningIsNotOverwritten) {
    job.options.archiveEnabled = false;  // an overwrite would lose B's edit for good
    putAt(a / "f", "old", t0);
    putAt(b / "f", "old", t0);
    ASSERT_EQ(sync().second.code, 0);
    putAt(a / "f", "A's edit", t0 + 10);
    const auto [syncPlan, twoWay] = plan();
    ASSERT_EQ(twoWay.copyAtoB, std::vector<std::string>{"f"});

    putAt(b / "f", "B's later edit", t0 + 20);
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(23, {"Copy candidate changed; deferred: f"}));
    EXPECT_EQ(contents(b / "f"), "B's later edit");
    EXPECT_EQ(plan().first.conflicts, std::vector<std::string>{"f"});  // now a conflict that B wins
}

TEST_F(TwoWayEngineTest, SpellingsThatDifferOnlyInNormalisationMeetAndTakeTheSourceSpelling) {
    const std::string nfc = "R\xC3\xA9sum\xC3\xA9", nfd = "Re\xCC\x81sume\xCC\x81";
    putAt(a / (nfc + ".txt"), "A's newer", t0 + 10);
    putAt(b / (nfd + ".txt"), "B's", t0);
    putAt(a / nfc / "from-a.txt", "a", t0);  // one folder, spelled two ways
    putAt(b / nfd / "from-b.txt", "b", t0);

    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(syncPlan.conflicts, std::vector<std::string>{nfc + ".txt"});
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(0, {}));
    // One item each, under A's spelling on both sides: B's were renamed
    // before rsync wrote over or into them.
    EXPECT_EQ(namesIn(b), (std::set<std::string>{".KeltoSync", nfc, nfc + ".txt"}));
    EXPECT_EQ(namesIn(a), namesIn(b));
    EXPECT_EQ(tree(a), tree(b));
    EXPECT_EQ(contents(b / (nfc + ".txt")), "A's newer");
    EXPECT_EQ(namesIn(b / nfc), (std::set<std::string>{"from-a.txt", "from-b.txt"}));
    EXPECT_EQ(tree(archiveOf(b)), (std::map<std::string, std::string>{{nfc + ".txt", "B's"}}));

    const auto stored = storedBaseline();
    for (const std::string& key : {nfc, nfc + ".txt", nfc + "/from-a.txt", nfc + "/from-b.txt"})
        EXPECT_TRUE(stored->find(key)) << key;
    const auto [again, againTwoWay] = plan();
    EXPECT_TRUE(again.copies.empty() && again.archives.empty() && againTwoWay.removeDirsOnA.empty());
}

TEST_F(TwoWayEngineTest, ALinkWhoseTargetIsNotUtf8IsCopiedAndNeverTakenForADeletion) {
    putAt(a / "keep", "k", t0);
    putAt(b / "keep", "k", t0);
    ASSERT_EQ(sync().second.code, 0);
    const std::string target = "bad\xFF\xFEtarget";
    ASSERT_EQ(::symlink(target.c_str(), (a / "odd link").c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), (b / "keep2").c_str()), 0);

    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.copyAtoB, std::vector<std::string>{"odd link"});
    EXPECT_EQ(twoWay.copyBtoA, std::vector<std::string>{"keep2"});
    EXPECT_TRUE(twoWay.archiveOnA.empty() && twoWay.archiveOnB.empty());
    EXPECT_EQ(run(twoWay).second.code, 0);
    EXPECT_EQ(fs::read_symlink(b / "odd link").native(), target);
    EXPECT_EQ(tree(a), tree(b));
}

// Makes a folder's entries unremovable even for root; false when the file
// system or the process cannot.
bool makeImmutable(const fs::path& folder, bool on) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

TEST_F(TwoWayEngineTest, AFolderThatCannotBeRemovedMakesThePartialOutcome) {
    fs::create_directories(a / "parent" / "gone");
    fs::create_directories(b / "parent" / "gone");
    ASSERT_EQ(sync().second.code, 0);
    fs::remove(a / "parent" / "gone");
    const auto [syncPlan, twoWay] = plan();
    ASSERT_EQ(twoWay.removeDirsOnB, std::vector<std::string>{"parent/gone"});

    bool locked = makeImmutable(b / "parent", true);
    if (!locked && ::geteuid() != 0) locked = ::chmod((b / "parent").c_str(), 0555) == 0;
    if (!locked) GTEST_SKIP() << "cannot make a folder unremovable here";
    const auto [stats, exit] = run(twoWay);
    makeImmutable(b / "parent", false);
    ::chmod((b / "parent").c_str(), 0755);

    EXPECT_EQ(exit, RsyncExit(23, {"Could not archive or remove: parent/gone"}));
    EXPECT_TRUE(hasLine(log.lines, "Could not archive or remove: parent/gone"));
    EXPECT_TRUE(fs::exists(b / "parent" / "gone"));
    EXPECT_TRUE(storedBaseline()->find("parent/gone"));  // so the next run tries again
}

}  // namespace
}  // namespace kelto::test
