// A source file rewritten while rsync copies it: rsync gives the copy the
// size and times it listed before reading, so the copy can look current.

#include "tests/TwoWayEngineFixture.h"

#include <system_error>

namespace kelto::test {
namespace {

using Script = ScriptedRsyncRunner;

struct stat statOf(const fs::path& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) throw std::system_error(errno, std::generic_category(), file.native());
    return info;
}

// Other bytes of the same length, the modification time put back: only the
// change time tells, so the write is repeated until a coarse clock moved it.
void rewriteKeepingSizeAndTime(const fs::path& file, std::string_view content, const struct stat& before) {
    ASSERT_EQ(static_cast<std::size_t>(before.st_size), content.size());
    struct stat now {};
    do {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        now = statOf(file);
    } while (now.st_ctim.tv_sec == before.st_ctim.tv_sec && now.st_ctim.tv_nsec == before.st_ctim.tv_nsec);
}

std::string changedLine(const std::string& path) {
    return "Source changed while copying; copied again next run: " + path;
}

bool logged(const MemoryLog& log, const std::string& line) {
    return std::find(log.lines.begin(), log.lines.end(), line) != log.lines.end();
}

// Reported and copied again by the next run; a vanished file alone would read
// as a warning, so with a torn copy the run is partial; rsync's own failure keeps its code.
TEST_F(OneWayEngineTest, SourceRewrittenWhileCopiedIsReportedAndCopiedAgain) {
    const struct {
        SyncMode mode;
        std::int32_t rsyncCode, code;
    } cases[] = {{SyncMode::mirror, 0, 23}, {SyncMode::copy, 0, 23}, {SyncMode::mirror, 24, 23}, {SyncMode::mirror, 11, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << enumName(c.mode) << " " << c.rsyncCode);
        job.mode = c.mode;
        job.options.archiveEnabled = true;
        fresh();
        putFiles(src, {{"racy.txt", "first version"}, {"calm.txt", "calm"}});
        putBoth("same.txt", "same");
        const struct stat racy = statOf(src / "racy.txt");

        const SyncPlan p = plan();
        ASSERT_EQ(copyPaths(p), (Lines{"calm.txt", "racy.txt"}));
        auto& transfer = script.expect(Script::transfer()).passThrough().then([&] {
            rewriteKeepingSizeAndTime(src / "racy.txt", "other version", racy);
            putAt(src / "same.txt", "edited", t0 + 10);  // not copied by this run: not its concern
        });
        Lines lines{changedLine("racy.txt")};
        if (c.rsyncCode) {
            transfer.err("rsync said something\n").exit(c.rsyncCode);
            lines.insert(lines.begin(), "rsync said something");
        }
        const auto result = run(p);
        expectExit(result, c.code, lines);
        EXPECT_EQ(result.first.filesCopied, 2);
        EXPECT_TRUE(logged(log, changedLine("racy.txt")));
        EXPECT_EQ(contents(dst / "racy.txt"), "first version");  // kept, as rsync wrote it

        // The next run copies it again, the kept copy archived, and ends in plain success.
        nextRun(1);
        const SyncPlan next = plan();
        EXPECT_EQ(copyPaths(next), (Lines{"racy.txt", "same.txt"}));
        const auto again = run(next);
        expectClean(again);
        EXPECT_EQ(again.first.filesCopied, 2);
        EXPECT_EQ(tree(dst), (Files{{"calm.txt", "calm"}, {"racy.txt", "other version"}, {"same.txt", "edited"}}));
        EXPECT_EQ(contents(runFolder() / "racy.txt"), "first version");
        EXPECT_TRUE(copyPaths(plan()).empty());
    }
}

// A source deleted once rsync had copied it: nothing will copy it again, so
// the run says it is gone and that its copy stays. A stale mark takes on
// exFAT too.
TEST_F(OneWayEngineTest, ASourceGoneByTheEndOfTheRunIsNamedAsGone) {
    job.mode = SyncMode::copy;
    for (const bool exfat : {false, true}) {
        SCOPED_TRACE(exfat ? "exFAT" : "ext4");
        if (exfat && ::geteuid() != 0) continue;  // mounting an exFAT image needs root
        fresh();
        ASSERT_TRUE(!exfat || exfatB()) << "exfat-fuse missing or failed";
        putAt(src / "changed.txt", "first", t0);
        putAt(src / "gone.txt", "copied, then deleted", t0);
        const SyncPlan p = plan();
        ASSERT_EQ(copyPaths(p), (Lines{"changed.txt", "gone.txt"}));
        script.expect(Script::transfer()).passThrough().then([&] {
            putAt(src / "changed.txt", "FIRST", t0);  // same size and time: the change time tells
            fs::remove(src / "gone.txt");
        });
        const std::string gone = "Source gone by the end of the run; its copy is kept: gone.txt";
        expectExit(run(p), 23, {changedLine("changed.txt"), gone});
        EXPECT_TRUE(logged(log, gone));
        EXPECT_EQ(contents(dst / "gone.txt"), "copied, then deleted");
        EXPECT_LT(statOf(dst / "changed.txt").st_mtime, t0 - traits.modifyWindow);
        EXPECT_EQ(contents(dst / "changed.txt"), "first");
    }
}

// The source put back to what both sides last agreed on while rsync copied
// the newer version is the user's latest word: the stale copy must not win.
TEST_F(TwoWayEngineTest, SourcesRewrittenWhileCopiedLoseTheirEntriesAndAreCopiedAgain) {
    startInStep({"x", "y", "z", "calm"});
    putAt(a / "x", "x v1", t0 + 10);
    putAt(b / "y", "y v1", t0 + 10);
    putAt(a / "z", "z v1", t0 + 10);
    putAt(a / "calm", "calm", t0 + 10);
    const TwoWayPlan twoWay = plan().second;
    ASSERT_EQ(twoWay.copyAtoB, (std::vector<std::string>{"calm", "x", "z"}));
    ASSERT_EQ(twoWay.copyBtoA, std::vector<std::string>{"y"});
    const struct stat x = statOf(a / "x"), y = statOf(b / "y");
    script.expect(Script::transferTo(b)).passThrough().then([&] {
        rewriteKeepingSizeAndTime(a / "x", "x v2", x);
        putAt(a / "z", "old", t0);
    });
    script.expect(Script::transferTo(a)).passThrough().then([&] { rewriteKeepingSizeAndTime(b / "y", "y v2", y); });

    const auto result = run(twoWay);
    expectExit(result, 23, {changedLine("x"), changedLine("z"), changedLine("y")});
    EXPECT_EQ(result.first.filesCopied, 4);
    EXPECT_TRUE(logged(log, changedLine("x")) && logged(log, changedLine("y")));
    EXPECT_EQ(contents(b / "x") + contents(a / "y"), "x v1y v1");
    const auto stored = storedBaseline();
    ASSERT_TRUE(stored);
    EXPECT_TRUE(!stored->find("x") && !stored->find("y"));  // both sides count as changed next time
    EXPECT_EQ(*stored->find("calm"), (BaselineEntry{EntryKind::file, 4, t0 + 10}));

    // The next run carries each rewritten source over the copy it made, and
    // ends in plain success with both sides equal.
    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    const TwoWayPlan next = plan().second;
    EXPECT_EQ(next.copyAtoB, (std::vector<std::string>{"x", "z"}));
    EXPECT_EQ(next.copyBtoA, std::vector<std::string>{"y"});
    log.lines.clear();
    EXPECT_EQ(run(next).second, RsyncExit(0, {}));
    EXPECT_EQ(tree(a), (Files{{"calm", "calm"}, {"x", "x v2"}, {"y", "y v2"}, {"z", "old"}}));
    EXPECT_EQ(tree(b), tree(a));
    EXPECT_EQ(tree(archiveOf(b)), (Files{{"x", "x v1"}, {"z", "z v1"}}));
    EXPECT_EQ(tree(archiveOf(a)), (Files{{"y", "y v1"}}));
    for (const char* name : {"x", "y"}) EXPECT_EQ(*storedBaseline()->find(name), (BaselineEntry{EntryKind::file, 4, t0 + 10}));
    const TwoWayPlan settled = plan().second;
    EXPECT_TRUE(settled.copyAtoB.empty() && settled.copyBtoA.empty());
}

}  // namespace
}  // namespace kelto::test
