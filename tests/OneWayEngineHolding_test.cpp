// A run whose archive is off holds what rsync deletes or replaces in a
// holding folder and deletes only what its plan listed: a source that
// vanishes or changes between the last look and the transfer deletes
// nothing else.

#include "SyncEngine/SafetyGuard.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "tests/OneWayEngineFixture.h"
#include "tests/support/TestVolumes.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <cstring>
#include <fstream>
#include <atomic>
#include <functional>
#include <thread>
#include <tuple>

using namespace kelto;
using namespace kelto::test;

namespace {

using Script = ScriptedRsyncRunner;

bool contains(const std::vector<std::string>& lines, std::string_view line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class OneWayEngineHoldingTest : public OneWayEngineTest {
protected:
    fs::path holdingRoot() const { return dst / ".KeltoSync/Holding"; }
    fs::path holding() const { return holdingRoot() / runID; }

    // In step on both sides: sdir/s1.txt to sdir/s3.txt. Planned:
    // zkeep/changed.txt replaced, d1.txt, d2.txt and ddir/d3.txt deleted
    // (with ddir). rsync deletes folders first, last name first, so with
    // nothing at the source its first four deletions are unplanned.
    SyncPlan planWithDeletions() {
        for (const char* name : {"sdir/s1.txt", "sdir/s2.txt", "sdir/s3.txt"}) {
            put(src / name, std::string("same ") + name);
            put(dst / name, std::string("same ") + name);
        }
        put(src / "zkeep/changed.txt", "new content");
        put(dst / "zkeep/changed.txt", "old");
        put(dst / "d1.txt", "d1");
        put(dst / "d2.txt", "d2");
        put(dst / "ddir/d3.txt", "d3");
        const SyncPlan p = plan();
        EXPECT_EQ(archivePaths(p), (std::vector<std::string>{"d1.txt", "d2.txt", "ddir/d3.txt", "zkeep/changed.txt"}));
        EXPECT_EQ(p.deletionCount, 4);
        return p;
    }

    // The source leads to another folder by the transfer: the run stops
    // before rsync starts, naming the source, and B is as planned from.
    void expectStoppedBeforeTheTransfer(const SyncPlan& p) {
        const std::vector<std::string> before = entries(dst);
        try {
            run(p);
            ADD_FAILURE() << "ran";
        } catch (const OneWayEngineError& error) {
            EXPECT_EQ(error, OneWayEngineError::folderReplaced(src, Side::a));
        }
        EXPECT_EQ(entries(dst), before);
        for (const char* name : {"sdir/s1.txt", "sdir/s2.txt", "sdir/s3.txt"})
            EXPECT_EQ(contents(dst / name), std::string("same ") + name) << name;
        EXPECT_EQ(contents(dst / "zkeep/changed.txt"), "old");
        EXPECT_FALSE(fs::exists(holding()));
        for (const ScriptedRsyncRunner::Call& call : script.calls())
            EXPECT_FALSE(Script::transfer()(call.arguments)) << "rsync transferred";
    }

    // B on a 16 MiB ext4 disk with a tmpfs at B/mnt, which the run is told
    // of as the mount table would tell it, holding a file A lacks: `mib`
    // MiB long, all a hole but its first bytes.
    // `kind`: "ext4" for a 16 MiB ext4 disk there instead.
    bool smallBWithMountBelow(TestMounts& mounts, std::uintmax_t mib, std::string_view kind = "tmpfs") {
        fs::create_directories(tmp / "disk");
        if (!mounts.ext4Image(tmp / "b.img", tmp / "disk")) return false;
        dst = tmp / "disk/dst";
        fs::create_directories(dst / "mnt");
        if (kind == "ext4" ? !mounts.ext4Image(tmp / "below.img", dst / "mnt") : !mounts.tmpfs(dst / "mnt"))
            return false;
        if (fs::exists(dst / "mnt/lost+found")) fs::create_directories(src / "mnt/lost+found");
        const auto below = [this](const fs::path&) {
            return std::vector<TreeOverlap::Lookup>{{fs::canonical(dst / "mnt"), false}};
        };
        engine.treesOverlap = TreeOverlap([](const fs::path&, const fs::path&) { return false; }, nullptr, below);
        fs::create_directories(src / "mnt");
        put(src / "keep", "keep");
        put(dst / "keep", "keep");
        std::ofstream(dst / "mnt/big") << "data";
        fs::resize_file(dst / "mnt/big", mib << 20);
        return true;
    }

    // Nothing the plan kept was lost; what the plan deleted may be gone.
    void expectOnlyPlannedDeletions() {
        for (const char* name : {"sdir/s1.txt", "sdir/s2.txt", "sdir/s3.txt"})
            EXPECT_EQ(contents(dst / name), std::string("same ") + name) << name;
        EXPECT_EQ(contents(dst / "zkeep/changed.txt"), "old") << "deleted, not replaced: it goes back";
        for (const std::string& path : entries(dst))
            EXPECT_TRUE(path.starts_with("d") || path.starts_with("sdir") || path.starts_with("zkeep")) << path;
    }
};

// What keeps a held item from going back into dst/dir, for a while: the
// folder made immutable (EPERM), mounted over itself (EXDEV), or the whole
// destination mounted read-only (EROFS, where no mark can be written
// either). Root only; apply() is false where it cannot be had.
struct Block {
    std::string name;
    std::function<bool(const fs::path& dst)> apply;
    std::function<void(const fs::path& dst)> lift;
    bool markWritten = true;
    // Made before the run, where the block needs it: the run holds B from
    // its start, so only what reaches the folder it holds blocks it.
    std::function<bool(const fs::path& dst)> ready = nullptr;
};

bool mountOver(const fs::path& at, bool readOnly) {
    if (::mount(at.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    if (readOnly && ::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        ::umount2(at.c_str(), MNT_DETACH);
        return false;
    }
    return true;
}

std::vector<Block> blocks() {
    return {
        {"immutable", [](const fs::path& dst) { return runQuietly({"chattr", "+i", (dst / "dir").native()}) == 0; },
         [](const fs::path& dst) { runQuietly({"chattr", "-i", (dst / "dir").native()}); }},
        {"another mount", [](const fs::path& dst) { return mountOver(dst / "dir", false); },
         [](const fs::path& dst) { ::umount2((dst / "dir").c_str(), MNT_DETACH); }},
        {"read-only",
         [](const fs::path& dst) {
             return ::mount(nullptr, dst.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
         },
         [](const fs::path& dst) { ::umount2(dst.c_str(), MNT_DETACH); }, false,
         [](const fs::path& dst) { return mountOver(dst, false); }},
    };
}

// Lifts a block however the test ends.
struct Lifted {
    const Block& block;
    const fs::path& dst;
    bool applied = false;
    bool readied = false;
    void lift() {
        if (applied || readied) block.lift(dst);
        applied = readied = false;
    }
    ~Lifted() { lift(); }
};

// The source's folder swapped for an empty one, as an unmount leaves it.
void emptySource(const fs::path& src) {
    fs::rename(src, src.parent_path() / "src-away");
    fs::create_directory(src);
}

}  // namespace

TEST_F(OneWayEngineHoldingTest, SourceEmptiedBeforeTheTransferDeletesNothingUnplanned) {
    const SyncPlan p = planWithDeletions();
    // The run's fresh dry run sees the source as planned; then it is gone.
    script.expect(Script::dryRun()).passThrough().then([&] { emptySource(src); });
    expectStoppedBeforeTheTransfer(p);
}

// Another disk at the source's place: nothing of B is overwritten with its
// files.
TEST_F(OneWayEngineHoldingTest, SourceSwappedBeforeTheTransferOverwritesNothing) {
    const SyncPlan p = planWithDeletions();
    script.expect(Script::dryRun()).passThrough().then([&] {
        emptySource(src);
        put(src / "sdir/s1.txt", "from another disk");
        put(src / "other.txt", "from another disk");
    });
    expectStoppedBeforeTheTransfer(p);
}

// The same race on a real mount: a tmpfs laid over the source between the
// fresh dry run and the transfer.
TEST_F(OneWayEngineHoldingTest, SourceMountedOverBeforeTheTransferDeletesNothingUnplanned) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs over the source";
    {
        const fs::path probe = tmp / "probe";
        fs::create_directory(probe);
        if (::mount("kelto-test", probe.c_str(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        ::umount2(probe.c_str(), MNT_DETACH);
    }
    const SyncPlan p = planWithDeletions();
    bool mounted = false;
    script.expect(Script::dryRun()).passThrough().then([&] {
        mounted = ::mount("kelto-test", src.c_str(), "tmpfs", 0, "size=1m") == 0;
    });
    struct Unmount {
        const fs::path& at;
        bool& mounted;
        ~Unmount() {
            if (mounted) ::umount2(at.c_str(), MNT_DETACH);
        }
    } unmount{src, mounted};

    expectStoppedBeforeTheTransfer(p);
    ASSERT_TRUE(mounted) << std::strerror(errno);
    ASSERT_TRUE(fs::is_empty(src));
}

// Nothing raced: every planned deletion and replacement happens, of files,
// links and folders, and the holding folder is gone afterwards.
TEST_F(OneWayEngineHoldingTest, OrdinaryMirrorWithoutArchiveDeletesExactlyThePlan) {
    put(src / "changed.txt", "new content");
    put(dst / "changed.txt", "old");
    put(dst / "gone.txt", "g");
    put(dst / "olddir/sub/x.txt", "x");
    fs::create_directories(dst / "emptydir");
    fs::create_symlink("t1", dst / "link");
    fs::create_symlink("t2", src / "link");
    fs::create_symlink("t", dst / "gonelink");
    put(dst / "filetodir", "was a file");
    put(src / "filetodir/in.txt", "in");
    put(dst / "dirtofile/z.txt", "z");
    put(src / "dirtofile", "now a file");
    put(src / "same.txt", "s");
    put(dst / "same.txt", "s");

    const SyncPlan p = plan();
    const auto [stats, exit] = run(p);
    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_TRUE(stats.errors.empty()) << testing::PrintToString(stats.errors);
    EXPECT_EQ(entries(dst), entries(src));
    EXPECT_EQ(fs::read_symlink(dst / "link"), "t2");
    EXPECT_EQ(stats.filesArchived, 0);
    EXPECT_TRUE(fs::is_directory(holdingRoot()));
    EXPECT_TRUE(fs::is_empty(holdingRoot()));
    EXPECT_FALSE(fs::exists(runFolder()));
    EXPECT_EQ(script.calls().back().option("--backup-dir"), ".KeltoSync/Holding/" + runID);
}

// rsync holds what lies on another mount inside the destination by copying
// it across; the run settles it all the same.
TEST_F(OneWayEngineHoldingTest, MountInsideTheDestinationSettlesLikeTheRest) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs inside the destination";
    const fs::path inner = dst / "mnt";
    fs::create_directory(inner);
    if (::mount("kelto-test", inner.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{inner};
    put(src / "mnt/changed.txt", "new content");
    put(dst / "mnt/changed.txt", "old");
    put(dst / "mnt/gone.txt", "g");

    const auto [stats, exit] = run(plan());
    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_TRUE(stats.errors.empty()) << testing::PrintToString(stats.errors);
    EXPECT_EQ(entries(dst), (std::vector<std::string>{"mnt/", "mnt/changed.txt"}));
    EXPECT_EQ(contents(dst / "mnt/changed.txt"), "new content");
    EXPECT_FALSE(fs::exists(holding()));
}

// The copy rsync holds across the mount keeps the fraction of its time: a
// file there saved anew since the plan (a rename, the same size, within the
// same second) is no version the plan saw, and goes back.
TEST_F(OneWayEngineHoldingTest, AFileOnAMountInsideTheDestinationSavedAnewGoesBack) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs inside the destination";
    const fs::path inner = dst / "mnt";
    fs::create_directory(inner);
    if (::mount("kelto-test", inner.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{inner};
    const auto putWithin = [](const fs::path& file, std::string_view content, long nanoseconds) {
        put(file, content);
        const timespec times[2] = {{1'600'000'000, nanoseconds}, {1'600'000'000, nanoseconds}};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    };
    put(src / "keep.txt", "keep");
    put(dst / "keep.txt", "keep");
    fs::create_directory(src / "mnt");
    putWithin(dst / "mnt/gone.txt", "old", 100);
    const SyncPlan p = plan();
    ASSERT_EQ(p.archives, (std::vector<PlannedArchive>{{"mnt/gone.txt", Side::b}}));
    script.expect(Script::transfer())
        .then([&] {
            putWithin(inner / "saved", "new", 200);
            fs::rename(inner / "saved", inner / "gone.txt");
        })
        .passThrough();

    const auto [stats, exit] = run(p);
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    EXPECT_EQ(stats.errors,
              (std::vector<std::string>{"Put back: mnt/gone.txt", std::string(OneWayEngine::heldBackLine)}));
    EXPECT_EQ(contents(dst / "mnt/gone.txt"), "new");
}

// A stopped transfer settles what rsync took before it stopped, and keeps
// its code: the run was cancelled. A runner that fails settles too.
TEST_F(OneWayEngineHoldingTest, StoppedOrFailedTransferStillSettles) {
    put(src / "s.txt", "s");
    put(dst / "s.txt", "s");
    put(dst / "d.txt", "d");
    const SyncPlan p = plan();
    // What rsync does with --backup-dir: the item moves into the holding folder.
    const auto takes = [&](const std::string& name) {
        return [this, name] { fs::rename(dst / name, holding() / name); };
    };
    script.expect(Script::transfer()).then(takes("d.txt")).then(takes("s.txt")).exit(20);

    const auto [stats, exit] = run(p);
    EXPECT_EQ(exit.code, 20);
    EXPECT_EQ(exit.stderrTail, (std::vector<std::string>{"Put back: s.txt", std::string(OneWayEngine::heldBackLine)}));
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_EQ(entries(dst), std::vector<std::string>{"s.txt"});
    EXPECT_FALSE(fs::exists(holding()));

    // d.txt made anew is not the version the plan saw: it goes back.
    put(dst / "d.txt", "d, made anew");
    script.expect(Script::transfer()).then(takes("d.txt")).then(takes("s.txt")).then([] {
        throw std::runtime_error("rsync went away");
    });
    EXPECT_THROW(run(p), std::runtime_error);
    EXPECT_EQ(entries(dst), (std::vector<std::string>{"d.txt", "s.txt"}));
    EXPECT_FALSE(fs::exists(holding()));
}

// Held-back items ask for a new plan, which outranks a source that changed
// while copied (23): the user must review either way, and 25 says why.
TEST_F(OneWayEngineHoldingTest, HeldBackItemsOutrankASourceChangedWhileCopied) {
    put(src / "s.txt", "s");
    put(dst / "s.txt", "s");
    put(src / "n.txt", "new");
    const SyncPlan p = plan();
    script.expect(Script::transfer())
        .then([this] { fs::rename(dst / "s.txt", holding() / "s.txt"); })  // taken unplanned
        .then([this] { put(src / "n.txt", "rewritten meanwhile"); })
        .out(">f+++++++++ 3 3 n.txt\n");

    const auto [stats, exit] = run(p);
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    EXPECT_TRUE(contains(exit.stderrTail, std::string(OneWayEngine::heldBackLine)));
    EXPECT_TRUE(contains(exit.stderrTail, "Source changed while copying; copied again next run: n.txt"))
        << testing::PrintToString(exit.stderrTail);
    EXPECT_EQ(contents(dst / "s.txt"), "s");
}

// A run killed before it settled leaves its holding folder behind. The next
// run puts back what has a free place, keeps the rest there, and names each.
TEST_F(OneWayEngineHoldingTest, NextRunPutsBackWhatAKilledRunHeld) {
    put(src / "taken.txt", "current");
    put(dst / "taken.txt", "current");
    const std::string killedRun = "2025-03-07_141503-0a1b2c3d";
    const fs::path stale = holdingRoot() / killedRun;
    put(stale / "free.txt", "held");
    put(stale / "sub/deep.txt", "held deep");
    put(stale / "taken.txt", "older");

    // Planned before the put-back: the mirror would now delete what came
    // back, which its plan never listed, so it stops for a new plan.
    const SyncPlan first = plan();
    const auto [stats, exit] = run(first);
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    const std::string keptLine =
        "Kept from an interrupted run in .KeltoSync/Holding/" + killedRun + " (its place is taken): taken.txt";
    ASSERT_EQ(stats.errors,
              (std::vector<std::string>{"Put back from an interrupted run: free.txt",
                                        "Put back from an interrupted run: sub/deep.txt", keptLine,
                                        "Delete " + stale.native() + " once you no longer need what it holds",
                                        std::string(OneWayEngine::deletionsChangedLine)}));
    EXPECT_EQ(log.lines, std::vector<std::string>(stats.errors.begin(), stats.errors.end() - 1));
    EXPECT_EQ(contents(dst / "free.txt"), "held");
    EXPECT_EQ(contents(dst / "sub/deep.txt"), "held deep");
    EXPECT_EQ(entries(stale), std::vector<std::string>{"taken.txt"});

    // Planned again, the mirror deletes them; the kept item is never
    // deleted, and is named again with its folder: a warning (24), no
    // plain success.
    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    log.lines.clear();
    const auto second = run(plan());
    EXPECT_EQ(second.second.code, 24);
    EXPECT_EQ(second.first.errors,
              (std::vector<std::string>{keptLine, "Delete " + stale.native() + " once you no longer need what it holds"}));
    EXPECT_EQ(entries(dst), std::vector<std::string>{"taken.txt"});
    EXPECT_EQ(contents(stale / "taken.txt"), "older");
    EXPECT_FALSE(fs::exists(holding()));
}

// A source file changed between planning and the run: its replacement was
// never reviewed, so B's version stays. A guard that reviews any replacement
// stops the run for a new plan; one that lets it through leaves the file to
// the next run, whose plan lists it.
TEST_F(OneWayEngineHoldingTest, SourceChangedAfterPlanningIsNotReplacedUnreviewed) {
    put(src / "f.txt", "same");
    put(dst / "f.txt", "same");
    const SyncPlan p = plan();
    ASSERT_TRUE(p.archives.empty());
    put(src / "f.txt", "changed since");

    auto [stats, exit] = run(p);  // the fixture's guard reviews every replacement
    EXPECT_EQ(exit, RsyncExit(25, {std::string(OneWayEngine::replacementsChangedLine)}));
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_EQ(contents(dst / "f.txt"), "same");

    job.options = JobOptions::standard();
    job.options.archiveEnabled = false;
    std::tie(stats, exit) = run(p);
    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_TRUE(stats.errors.empty()) << testing::PrintToString(stats.errors);
    EXPECT_EQ(contents(dst / "f.txt"), "same");
    EXPECT_TRUE(contains(log.lines, std::string(OneWayEngine::leftForNextRunLine) + "f.txt"));
    EXPECT_TRUE(fs::is_empty(holdingRoot()));

    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    const auto next = run(plan());
    EXPECT_EQ(next.second, RsyncExit(0, {}));
    EXPECT_TRUE(next.first.errors.empty()) << testing::PrintToString(next.first.errors);
    EXPECT_EQ(contents(dst / "f.txt"), "changed since");
}

// Changed again after the fresh dry run, the file's old version on B was
// replaced unlisted: without the archive it is kept, named with where it
// lies, and later runs leave it there, naming it again each time, none a
// plain success, until the user takes it.
TEST_F(OneWayEngineHoldingTest, WhatARunKeptIsNamedAtEveryRunWithItsFolder) {
    put(src / "f.txt", "same");
    put(dst / "f.txt", "same");
    put(src / "n.txt", "new");  // something for the transfer to do
    const SyncPlan p = plan();
    script.expect(Script::dryRun()).passThrough().then([&] { put(src / "f.txt", "rewritten"); });

    const auto [stats, exit] = run(p);
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    const std::string folder = ".KeltoSync/Holding/" + runID;
    const std::string deleteLine = "Delete " + (dst / folder).native() + " once you no longer need what it holds";
    EXPECT_EQ(stats.errors, (std::vector<std::string>{"Kept in " + folder + " (its place is taken): f.txt", deleteLine,
                                                      std::string(OneWayEngine::heldBackLine)}));
    EXPECT_EQ(contents(dst / "f.txt"), "rewritten");

    const fs::path kept = holding();
    const std::vector<std::string> again{"Kept from an earlier run in " + folder + " (its place is taken): f.txt",
                                         deleteLine};
    for (int later = 1; later <= 2; ++later) {
        runID = ArchiveRunID::make(SystemClock::shared().now().adding(later));
        const auto next = run(plan());
        EXPECT_EQ(next.second.code, 24);
        EXPECT_EQ(next.first.errors, again);
        EXPECT_EQ(contents(kept / "f.txt"), "same");
    }
    // Taken where the line says it lies: the next run is a plain success.
    fs::remove_all(dst / folder);
    runID = ArchiveRunID::make(SystemClock::shared().now().adding(3));
    EXPECT_EQ(run(plan()).second, RsyncExit(0, {}));
}

// A run that fails once rsync held what it took (its log cannot be
// written, or the source is no longer the folder planned on) names nothing
// it kept: the next run names each such item as an interrupted run's,
// never as one an earlier run named already.
TEST_F(OneWayEngineHoldingTest, WhatAFailedRunKeptIsNamedByTheNextRun) {
    for (const bool logFails : {true, false}) {
        SCOPED_TRACE(logFails ? "the log fails" : "the source is replaced");
        fs::remove_all(src);
        fs::remove_all(dst);
        runID = ArchiveRunID::make(SystemClock::shared().now());
        put(src / "f.txt", "same");
        put(dst / "f.txt", "same");
        put(src / "n.txt", "new");
        const SyncPlan p = plan();
        const fs::path away = tmp / "src-away";
        script.expect(Script::dryRun()).passThrough().then([&] { put(src / "f.txt", "rewritten"); });
        if (!logFails)
            script.expect(Script::transfer()).passThrough().then([&] {
                fs::rename(src, away);
                fs::create_directory(src);
            });
        log.failFrom = logFails ? 0 : SIZE_MAX;
        EXPECT_ANY_THROW(run(p));
        log.failFrom = SIZE_MAX;
        if (!logFails) {
            fs::remove_all(src);
            fs::rename(away, src);
        }

        const std::string folder = ".KeltoSync/Holding/" + runID;
        runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
        const auto [next, nextExit] = run(plan());
        EXPECT_EQ(next.errors, (std::vector<std::string>{
                                   "Kept from an interrupted run in " + folder + " (its place is taken): f.txt",
                                   "Delete " + (dst / folder).native() + " once you no longer need what it holds"}));
        EXPECT_EQ(nextExit.code, 24);
    }
}

// Only an item whose place is taken can never go back. One held back for any
// other reason is named with that reason, not marked, and put back by the
// next run once it can; the user is never told to delete its folder.
TEST_F(OneWayEngineHoldingTest, AHeldItemThatCouldNotGoBackIsPutBackByTheNextRun) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to block a folder";
    for (const Block& block : blocks()) {
        SCOPED_TRACE(block.name);
        fs::remove_all(src);
        fs::remove_all(dst);
        put(src / "dir/f1", "f1");
        put(dst / "dir/f1", "f1");
        put(src / "new.txt", "something to copy");
        runID = ArchiveRunID::make(SystemClock::shared().now());
        const std::string folder = ".KeltoSync/Holding/" + runID;
        const fs::path held = holding();
        Lifted blocked{block, dst};
        if (block.ready) {
            blocked.readied = block.ready(dst);
            ASSERT_TRUE(blocked.readied) << std::strerror(errno);
        }
        // rsync takes dir/f1, which the plan never listed; then it cannot go back.
        script.expect(Script::transfer()).then([&] {
            fs::create_directories(held / "dir");
            fs::rename(dst / "dir/f1", held / "dir/f1");
            blocked.applied = block.apply(dst);
        });
        const auto [stats, exit] = run(plan());
        if (!blocked.applied) {
            ADD_FAILURE() << "could not block: " << std::strerror(errno);
            continue;
        }
        EXPECT_EQ(exit.code, OneWayEngine::replanCode);
        if (block.name == "another mount") {
            // No rename crosses a mount; the item is copied back at once.
            EXPECT_EQ(stats.errors,
                      (std::vector<std::string>{"Put back: dir/f1", std::string(OneWayEngine::heldBackLine)}));
            EXPECT_EQ(contents(dst / "dir/f1"), "f1");
            EXPECT_FALSE(fs::exists(held));
            continue;
        }
        ASSERT_EQ(stats.errors.size(), 3u) << testing::PrintToString(stats.errors);
        EXPECT_TRUE(stats.errors[0].starts_with("Kept in " + folder + " (")) << stats.errors[0];
        EXPECT_TRUE(stats.errors[0].ends_with("): dir/f1")) << stats.errors[0];
        // The reason names the folder where the user finds it.
        EXPECT_NE(stats.errors[0].find(" \"" + dst.native() + "/.KeltoSync/"), std::string::npos) << stats.errors[0];
        EXPECT_EQ(stats.errors[1], OneWayEngine::triedAgainLine);
        EXPECT_EQ(stats.errors[2], OneWayEngine::heldBackLine);
        EXPECT_EQ(contents(held / "dir/f1"), "f1");

        blocked.lift();
        runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
        const auto [next, nextExit] = run(plan());
        const std::string from = block.markWritten ? "earlier" : "interrupted";
        EXPECT_EQ(next.errors, std::vector<std::string>{"Put back from an " + from + " run: dir/f1"});
        EXPECT_EQ(nextExit, RsyncExit(0, {}));
        EXPECT_EQ(contents(dst / "dir/f1"), "f1");
        EXPECT_FALSE(fs::exists(held));
    }
}

// A folder holding both kinds: the item whose place is taken is left where
// it is and named at every run; the other is tried at every run, each
// saying so and none a plain success, until it goes back or its place is
// taken too. Only then may the user delete the folder; until the user does,
// every run names what it holds, a warning.
TEST_F(OneWayEngineHoldingTest, AFolderWithBothKindsIsLeftToTheUserOnlyOnceNothingElseWaits) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to block a folder";
    // The held item's own folder made immutable: nothing leaves it, while
    // rsync still writes to the destination.
    const fs::path heldDir = holding() / "dir";
    const Block block{"held immutable",
                      [&](const fs::path&) { return runQuietly({"chattr", "+i", heldDir.native()}) == 0; },
                      [&](const fs::path&) { runQuietly({"chattr", "-i", heldDir.native()}); }};
    put(src / "dir/f1", "f1");
    put(dst / "dir/f1", "f1");
    put(src / "t.txt", "t");
    put(dst / "t.txt", "t");
    put(src / "new.txt", "something to copy");
    const std::string folder = ".KeltoSync/Holding/" + runID;
    const fs::path held = holding();
    Lifted blocked{block, dst};
    script.expect(Script::transfer()).then([&] {
        fs::create_directories(held / "dir");
        fs::rename(dst / "dir/f1", held / "dir/f1");
        fs::rename(dst / "t.txt", held / "t.txt");
        put(dst / "t.txt", "someone else's");
        blocked.applied = block.apply(dst);
    });
    const auto [stats, exit] = run(plan());
    ASSERT_TRUE(blocked.applied);
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    ASSERT_EQ(stats.errors.size(), 4u) << testing::PrintToString(stats.errors);
    EXPECT_TRUE(stats.errors[0].ends_with("): dir/f1")) << stats.errors[0];
    EXPECT_EQ(stats.errors[1], "Kept in " + folder + " (its place is taken): t.txt");
    EXPECT_EQ(stats.errors[2], OneWayEngine::triedAgainLine);

    // Still blocked: named again, with the run no plain success although
    // rsync copied the source's dir/f1 meanwhile.
    const std::string keptT = "Kept from an earlier run in " + folder + " (its place is taken): t.txt";
    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    const auto [still, stillExit] = run(plan());
    ASSERT_EQ(still.errors.size(), 3u) << testing::PrintToString(still.errors);
    EXPECT_TRUE(still.errors[0].starts_with("Kept from an earlier run in " + folder + " (")) << still.errors[0];
    EXPECT_TRUE(still.errors[0].ends_with("): dir/f1")) << still.errors[0];
    EXPECT_EQ(still.errors[1], keptT);
    EXPECT_EQ(still.errors[2], OneWayEngine::triedAgainLine);
    EXPECT_EQ(stillExit.code, 23);

    // Its place is taken now: the folder is the user's, named at every run.
    blocked.lift();
    for (int later = 2; later <= 3; ++later) {
        runID = ArchiveRunID::make(SystemClock::shared().now().adding(later));
        const auto [taken, takenExit] = run(plan());
        EXPECT_EQ(taken.errors, (std::vector<std::string>{
                                    "Kept from an earlier run in " + folder + " (its place is taken): dir/f1", keptT,
                                    "Delete " + (dst / folder).native() + " once you no longer need what it holds"}));
        EXPECT_EQ(takenExit.code, 24);
    }
    EXPECT_EQ(entries(held), (std::vector<std::string>{"dir/", "dir/f1", "t.txt"}));
}

// What a source rewritten since planning would have rsync replace never goes
// unreviewed without the archive: a few files are left for the next run, as
// many as the guard reviews stop the run for a new plan, and so does a
// deletion; with the archive on, it is archived and counted. A plan a moment
// old is the last look: what the transfer replaces beyond it is kept.
TEST_F(OneWayEngineHoldingTest, ChangesAfterPlanningStayWithinWhatThePlanListed) {
    const auto name = [](int i) { return "f" + std::to_string(i) + ".txt"; };
    const struct {
        bool archive;
        int rewritten;
        bool deleted;
        RsyncExit exit;
    } cases[] = {{false, 100, false, RsyncExit(25, {std::string(OneWayEngine::replacementsChangedLine)})},
                 {false, 10, false, RsyncExit(0, {})},
                 {false, 10, true, RsyncExit(25, {std::string(OneWayEngine::deletionsChangedLine)})},
                 {true, 100, false, RsyncExit(0, {})}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.archive << " " << c.rewritten << " " << c.deleted);
        job.options = JobOptions::standard();  // review from 50 files and 20 %
        job.options.archiveEnabled = c.archive;
        fs::remove_all(src);
        fs::remove_all(dst);
        log.lines.clear();
        runID = ArchiveRunID::make(SystemClock::shared().now());
        for (int i = 0; i < 100; ++i) {
            put(src / name(i), "same");
            put(dst / name(i), "same");
        }
        put(src / "listed.txt", "new version");
        put(dst / "listed.txt", "old");
        const SyncPlan p = plan();
        script.expect(Script::dryRun())
            .then([&] {
                for (int i = 0; i < c.rewritten; ++i) put(src / name(i), "rewritten");
                if (c.deleted) fs::remove(src / name(99));
            })
            .passThrough();

        const auto [stats, exit] = run(p);
        EXPECT_EQ(exit, c.exit);
        EXPECT_FALSE(fs::exists(holding()));
        const bool copied = exit.code == 0;
        EXPECT_EQ(contents(dst / "listed.txt"), copied ? "new version" : "old");
        EXPECT_EQ(contents(dst / name(0)), c.archive ? "rewritten" : "same");
        if (c.archive) {
            EXPECT_EQ(stats.filesArchived, 101);
            EXPECT_EQ(contents(runFolder() / name(0)), "same");
        } else if (copied) {
            EXPECT_EQ(log.lines.front(), std::string(OneWayEngine::leftForNextRunLine) + name(0));
            EXPECT_EQ(stats.errors, std::vector<std::string>{});
        } else if (c.rewritten == 100) {
            EXPECT_EQ(SafetyGuard::evaluate(plan(), job.mode, job.options, std::nullopt, {}),
                      GuardVerdict::needsConfirmation("101 files on side B will be archived or deleted."));
        }
    }

    job.options.archiveEnabled = false;
    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    put(src / "listed.txt", "newer version");
    OneWayEngine::Basis basis;
    const SyncPlan p = engine.plan(job, src, dst, traits, {}, nullptr, &basis);
    put(src / name(1), "rewritten again");
    const auto [stats, exit] = engine.run(job, p, src, dst, traits, runID, log, {}, nullptr, &basis);
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_EQ(entries(holding()), std::vector<std::string>{name(1)});
    EXPECT_EQ(contents(holding() / name(1)), "rewritten");
    EXPECT_EQ(contents(dst / "listed.txt"), "newer version");
}

// A copy job makes no later look: what its transfer replaces beyond the plan
// stays in the holding folder, named, and the run asks for a new plan.
TEST_F(OneWayEngineHoldingTest, ACopyJobKeepsWhatItReplacedUnplanned) {
    job.mode = SyncMode::copy;
    put(src / "f.txt", "same");
    put(dst / "f.txt", "same");
    put(src / "listed.txt", "new version");
    put(dst / "listed.txt", "old");
    put(dst / "only-b.txt", "b");
    const SyncPlan p = plan();
    put(src / "f.txt", "rewritten");

    const auto [stats, exit] = run(p);
    const std::string folder = ".KeltoSync/Holding/" + runID;
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    EXPECT_EQ(stats.errors, (std::vector<std::string>{
                                "Kept in " + folder + " (its place is taken): f.txt",
                                "Delete " + (dst / folder).native() + " once you no longer need what it holds",
                                std::string(OneWayEngine::heldBackLine)}));
    EXPECT_EQ(entries(holding()), std::vector<std::string>{"f.txt"});
    EXPECT_EQ(contents(holding() / "f.txt"), "same");
    EXPECT_EQ(contents(dst / "listed.txt"), "new version");
    EXPECT_EQ(contents(dst / "only-b.txt"), "b");
}

// A plan is a moment old by the time that passes, suspends included, which
// the monotonic clock leaves out: after a suspend the run looks again.
TEST_F(OneWayEngineHoldingTest, APlanMadeBeforeASuspendIsLookedAtAgain) {
    struct SuspendingClock final : Clock {
        double sinceBoot = 1000;
        Date now() const override { return SystemClock::shared().now(); }
        double monotonicSeconds() const override { return 1000; }
        double secondsSinceBoot() const override { return sinceBoot; }
    } clock;
    engine.clock = &clock;
    job.options.archiveEnabled = false;
    put(src / "kept.txt", "same");
    put(dst / "kept.txt", "same");
    put(src / "listed.txt", "new version");
    put(dst / "listed.txt", "old");
    OneWayEngine::Basis basis;
    const SyncPlan p = engine.plan(job, src, dst, traits, {}, nullptr, &basis);
    clock.sinceBoot += 3600;
    fs::remove(src / "kept.txt");

    const auto [stats, exit] = engine.run(job, p, src, dst, traits, runID, log, {}, nullptr, &basis);
    EXPECT_EQ(exit, RsyncExit(OneWayEngine::replanCode, {std::string(OneWayEngine::deletionsChangedLine)}));
    EXPECT_EQ(contents(dst / "listed.txt"), "old");
    EXPECT_EQ(contents(dst / "kept.txt"), "same");
}

// A version of B's file that the plan never saw, saved while the transfer
// runs (here just before rsync reaches it), is never what the run drops:
// saved as editors save, with the old size and time, only its file number
// tells. A replacement goes back in place of the transfer's copy, a listed
// deletion goes back, and the next run plans both again; where the place is
// taken by yet another version, the held one stays, named.
TEST_F(OneWayEngineHoldingTest, AVersionThePlanNeverSawIsKept) {
    const auto saveAnew = [](const fs::path& file, std::string_view content) {
        put(file.parent_path() / ".saving", content);
        fs::rename(file.parent_path() / ".saving", file);
    };
    for (SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        const bool mirror = mode == SyncMode::mirror;
        job.mode = mode;
        fs::remove_all(src);
        fs::remove_all(dst);
        runID = ArchiveRunID::make(SystemClock::shared().now());
        put(src / "notes.txt", "from A");
        put(dst / "notes.txt", "old B");
        put(dst / "gone.txt", "old g");
        put(src / "taken.txt", "from A");
        put(dst / "taken.txt", "old t");
        const SyncPlan p = plan();
        script.expect(Script::transfer())
            .then([&] {
                saveAnew(dst / "notes.txt", "new B");
                saveAnew(dst / "gone.txt", "new g");
                saveAnew(dst / "taken.txt", "1st t");
            })
            .passThrough()
            .then([&] { put(dst / "taken.txt", "2nd t"); });  // after rsync wrote its copy

        const auto [stats, exit] = run(p);
        const std::string folder = ".KeltoSync/Holding/" + runID;
        std::vector<std::string> errors{"Put back: notes.txt", "Kept in " + folder + " (its place is taken): taken.txt",
                                        "Delete " + (dst / folder).native() + " once you no longer need what it holds",
                                        std::string(OneWayEngine::heldBackLine)};
        if (mirror) errors.insert(errors.begin(), "Put back: gone.txt");
        EXPECT_EQ(stats.errors, errors);
        EXPECT_EQ(exit.code, OneWayEngine::replanCode);
        EXPECT_EQ(contents(dst / "notes.txt"), "new B");
        EXPECT_EQ(contents(dst / "gone.txt"), "new g");
        EXPECT_EQ(contents(dst / "taken.txt"), "2nd t");
        EXPECT_EQ(entries(holding()), std::vector<std::string>{"taken.txt"});
        EXPECT_EQ(contents(holding() / "taken.txt"), "1st t");

        runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
        std::vector<std::string> planned{"notes.txt", "taken.txt"};
        if (mirror) planned.insert(planned.begin(), "gone.txt");
        EXPECT_EQ(archivePaths(plan()), planned);
    }
}

// A version of B's item counts as the one the plan saw only where it stood
// before the first dry run began. Saved in place just after that dry run,
// at the same size and with its old time put back, only its status-change
// time tells it: it is kept and named, mirror or copy, archive on or off,
// never replaced, deleted or archived in silence.
TEST_F(OneWayEngineHoldingTest, ASaveMadeAfterTheComparisonBeganIsKept) {
    const auto saveInPlace = [](const fs::path& file, std::string_view content) {
        struct stat before {};
        ASSERT_EQ(::lstat(file.c_str(), &before), 0);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    };
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy})
        for (const bool archive : {false, true}) {
            SCOPED_TRACE(std::string(enumName(mode)) + (archive ? ", archive on" : ", archive off"));
            const bool mirror = mode == SyncMode::mirror;
            job.mode = mode;
            job.options.archiveEnabled = archive;
            fs::remove_all(src);
            fs::remove_all(dst);
            runID = ArchiveRunID::make(SystemClock::shared().now());
            put(src / "x.txt", "from A");
            put(dst / "x.txt", "old B");
            put(dst / "gone.txt", "old g");
            script.expect(Script::dryRun()).passThrough().then([&] {
                saveInPlace(dst / "x.txt", "new B");
                saveInPlace(dst / "gone.txt", "new g");
            });
            const SyncPlan p = plan();

            const auto [stats, exit] = run(p);
            EXPECT_NE(exit.code, 0);
            EXPECT_TRUE(contains(stats.errors, "Put back: x.txt")) << testing::PrintToString(stats.errors);
            EXPECT_EQ(contains(stats.errors, "Put back: gone.txt"), mirror);
            EXPECT_EQ(contents(dst / "x.txt"), "new B");
            EXPECT_EQ(contents(dst / "gone.txt"), "new g");
            EXPECT_FALSE(fs::exists(dst / ArchiveDirectories::runFolderRelativePath(job.id, runID)));
        }
}

// The same save made once the plan is made, while it waits for the run (a
// review): the run looks at what the plan takes once more before the
// transfer, and keeps what changed since, its time put back or not.
TEST_F(OneWayEngineHoldingTest, ASaveMadeWhileThePlanWaitsIsKept) {
    const auto saveInPlace = [](const fs::path& file, std::string_view content) {
        struct stat before {};
        ASSERT_EQ(::lstat(file.c_str(), &before), 0);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    };
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy})
        for (const bool archive : {false, true}) {
            SCOPED_TRACE(std::string(enumName(mode)) + (archive ? ", archive on" : ", archive off"));
            const bool mirror = mode == SyncMode::mirror;
            job.mode = mode;
            job.options.archiveEnabled = archive;
            fs::remove_all(src);
            fs::remove_all(dst);
            runID = ArchiveRunID::make(SystemClock::shared().now());
            put(src / "x.txt", "from A");
            put(dst / "x.txt", "old B");
            put(dst / "gone.txt", "old g");
            const SyncPlan p = plan();
            saveInPlace(dst / "x.txt", "new B");
            saveInPlace(dst / "gone.txt", "new g");

            const auto [stats, exit] = run(p);
            EXPECT_NE(exit.code, 0);
            EXPECT_TRUE(contains(stats.errors, "Put back: x.txt")) << testing::PrintToString(stats.errors);
            EXPECT_EQ(contains(stats.errors, "Put back: gone.txt"), mirror);
            EXPECT_EQ(contents(dst / "x.txt"), "new B");
            EXPECT_EQ(contents(dst / "gone.txt"), "new g");
            EXPECT_FALSE(fs::exists(dst / ArchiveDirectories::runFolderRelativePath(job.id, runID)));
        }
}

// A run killed during its transfer leaves what it held, and the plan it
// held it by. The next run settles it as that run would have: the versions
// the plan replaced or deleted go, into the archive where it is on, and
// nothing is named.
TEST_F(OneWayEngineHoldingTest, AKilledRunsHeldItemsSettleAsThatRunWould) {
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        job.options.archiveEnabled = archive;
        fs::remove_all(src);
        fs::remove_all(dst);
        runID = ArchiveRunID::make(SystemClock::shared().now());
        const std::string killedRun = runID;
        put(src / "x.txt", "from A");
        put(dst / "x.txt", "old B");
        put(dst / "gone.txt", "old g");
        // As a kill leaves B: rsync done, nothing settled.
        const fs::path killed = dst.parent_path() / "dst-killed";
        fs::remove_all(killed);
        script.expect(Script::transfer()).passThrough().then([&] {
            ASSERT_EQ(runQuietly({"cp", "-al", dst.native(), killed.native()}), 0);
        });
        ASSERT_EQ(run(plan()).second.code, 0);
        fs::remove_all(dst);
        fs::rename(killed, dst);
        ASSERT_EQ(contents(holdingRoot() / killedRun / "gone.txt"), "old g");

        runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
        const auto [stats, exit] = run(plan());
        EXPECT_EQ(exit, RsyncExit(0, {}));
        EXPECT_TRUE(stats.errors.empty()) << testing::PrintToString(stats.errors);
        EXPECT_EQ(entries(dst), std::vector<std::string>{"x.txt"});
        EXPECT_EQ(contents(dst / "x.txt"), "from A");
        EXPECT_FALSE(fs::exists(holdingRoot() / killedRun));
        const fs::path archived = dst / ArchiveDirectories::runFolderRelativePath(job.id, killedRun);
        EXPECT_EQ(fs::exists(archived / "x.txt") && fs::exists(archived / "gone.txt"), archive);
    }
}

// rsync holds what it takes from a mount below B by copying it across into
// the holding folder, where no rename takes it back; on exFAT through FUSE
// neither the no-replace rename nor links work. Held items go back all the
// same: copied back without replacing anything, or to a name found free.
// What the file system at its place cannot hold at all (a link on exFAT) is
// named as kept for good, in the disk's own words, at every run while it
// stays, and never said to be tried again.
TEST_F(OneWayEngineHoldingTest, HeldItemsGoBackWhereNoRenameCan) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    const struct {
        std::string name;
        bool exfat;
        bool below;  // mounted at dst/mnt, else dst itself
    } cases[] = {{"tmpfs below B", false, true}, {"exFAT below B", true, true}, {"B on exFAT", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(src);
        fs::remove_all(dst);
        fs::create_directories(c.below ? dst / "mnt" : dst);
        TestMounts mounts;
        const fs::path at = c.below ? dst / "mnt" : dst;
        ASSERT_TRUE(c.exfat ? mounts.exfat(tmp / (c.name + ".img"), at) : mounts.tmpfs(at));
        VolumeIdentity volume;
        volume.fileSystem = "exfat";
        traits = c.exfat ? FileSystemTraits::forVolume(volume) : ext4Traits();
        runID = ArchiveRunID::make(SystemClock::shared().now());
        for (const char* name : {"mnt/f", "mnt/sub/g"}) {
            put(src / name, name);
            put(dst / name, name);
        }
        put(src / "new.txt", "something to copy");
        const fs::path held = holding();
        // Taken as rsync takes what it holds: moved, or copied across and removed.
        const auto hold = [&](const std::string& path) {
            fs::create_directories((held / path).parent_path());
            std::error_code error;
            fs::rename(dst / path, held / path, error);
            if (!error) return;
            fs::copy_file(dst / path, held / path);
            const timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
            ::utimensat(AT_FDCWD, (held / path).c_str(), times, 0);
            fs::remove(dst / path);
        };
        script.expect(Script::transfer()).passThrough().then([&] {
            hold("mnt/f");
            hold("mnt/sub/g");
            if (c.below) fs::create_symlink("target", held / "mnt/link");
        });

        const auto [stats, exit] = run(plan());
        EXPECT_EQ(exit.code, OneWayEngine::replanCode);
        ASSERT_GE(stats.errors.size(), 3u) << testing::PrintToString(stats.errors);
        const std::vector<std::string> back(stats.errors.begin(), stats.errors.begin() + (c.exfat ? 2 : 3));
        std::vector<std::string> expected{"Put back: mnt/f", "Put back: mnt/sub/g"};
        if (!c.exfat) expected.insert(expected.begin() + 1, "Put back: mnt/link");
        EXPECT_EQ(back, expected);
        EXPECT_EQ(stats.errors.back(), OneWayEngine::heldBackLine);
        for (const char* name : {"mnt/f", "mnt/sub/g"}) {
            EXPECT_EQ(contents(dst / name), name);
            EXPECT_EQ(fs::last_write_time(dst / name).time_since_epoch(),
                      fs::last_write_time(src / name).time_since_epoch());
        }
        if (c.exfat && c.below) {
            const std::string folder = ".KeltoSync/Holding/" + runID;
            ASSERT_EQ(stats.errors.size(), 5u) << testing::PrintToString(stats.errors);
            EXPECT_TRUE(stats.errors[2].starts_with("Kept in " + folder + " (")) << stats.errors[2];
            EXPECT_TRUE(stats.errors[2].ends_with("; it can never go back): mnt/link")) << stats.errors[2];
            EXPECT_EQ(stats.errors[3], "Delete " + (dst / folder).native() + " once you no longer need what it holds");
        } else {
            EXPECT_EQ(stats.errors.size(), expected.size() + 1);
            EXPECT_FALSE(fs::exists(held));
        }

        // The next run names it again, a warning, and fails for nothing else.
        runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
        const auto [next, nextExit] = run(plan());
        if (c.exfat && c.below) {
            ASSERT_EQ(next.errors.size(), 2u) << testing::PrintToString(next.errors);
            EXPECT_TRUE(next.errors[0].ends_with("; it can never go back): mnt/link")) << next.errors[0];
            EXPECT_EQ(nextExit.code, 24);
        } else {
            EXPECT_TRUE(next.errors.empty()) << testing::PrintToString(next.errors);
            EXPECT_EQ(nextExit, RsyncExit(0, {}));
        }
    }
}

// Nor can exFAT hold a pipe or a name with a colon, however often it is
// asked: such items are named as kept for good, and nothing half made
// is left among the user's files.
TEST_F(OneWayEngineHoldingTest, WhatExfatCannotHoldIsKeptForGoodAndLeavesNothingBehind) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    fs::create_directories(dst / "mnt");
    TestMounts mounts;
    ASSERT_TRUE(mounts.exfat(tmp / "exfat.img", dst / "mnt"));
    put(src / "mnt/keep", "k");
    put(dst / "mnt/keep", "k");
    put(src / "new.txt", "something to copy");
    const fs::path held = holding();
    script.expect(Script::transfer()).passThrough().then([&] {
        put(held / "mnt/a:b", "colon");
        ASSERT_EQ(::mkfifo((held / "mnt/pipe").c_str(), 0644), 0);
    });

    const auto [stats, exit] = run(plan());
    const std::string folder = ".KeltoSync/Holding/" + runID;
    ASSERT_EQ(stats.errors.size(), 4u) << testing::PrintToString(stats.errors);
    EXPECT_TRUE(stats.errors[0].ends_with("; it can never go back): mnt/a:b")) << stats.errors[0];
    EXPECT_TRUE(stats.errors[1].ends_with("; it can never go back): mnt/pipe")) << stats.errors[1];
    EXPECT_EQ(stats.errors[2], "Delete " + (dst / folder).native() + " once you no longer need what it holds");
    EXPECT_EQ(entries(dst / "mnt"), std::vector<std::string>{"keep"});
}

// exFAT through FUSE numbers an item afresh once the kernel forgot it (here:
// a remount): a planned deletion there still goes, its number unasked.
TEST_F(OneWayEngineHoldingTest, APlannedDeletionGoesWhereFileNumbersAreHandedOutAfresh) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    TestMounts mounts;
    ASSERT_TRUE(mounts.exfat(tmp / "exfat.img", dst));
    VolumeIdentity volume;
    volume.fileSystem = "exfat";
    traits = FileSystemTraits::forVolume(volume);
    put(dst / "gone.txt", "g");
    for (const char* name : {"k1", "k2", "k3"}) {
        put(src / name, name);
        put(dst / name, name);
    }
    const SyncPlan p = plan();
    ASSERT_EQ(archivePaths(p), std::vector<std::string>{"gone.txt"});
    const auto number = [&] {
        struct stat item {};
        ::lstat((dst / "gone.txt").c_str(), &item);
        return item.st_ino;
    };
    const ino_t before = number();
    // Mounted again, the other items looked up first: they take the numbers first handed out.
    std::string device;
    {
        std::ifstream mounts("/proc/self/mounts");
        for (std::string source, at, rest; mounts >> source >> at && std::getline(mounts, rest);)
            if (at == dst.native()) device = source;
    }
    ASSERT_FALSE(device.empty());
    ASSERT_EQ(runQuietly({"umount", dst.native()}), 0);
    ASSERT_EQ(runQuietly({"mount.exfat-fuse", device, dst.native()}), 0);
    for (const char* name : {"k1", "k2", "k3"}) EXPECT_TRUE(fs::exists(dst / name));
    ASSERT_NE(number(), before);

    const auto [stats, exit] = run(p);
    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_TRUE(stats.errors.empty()) << testing::PrintToString(stats.errors);
    EXPECT_FALSE(fs::exists(dst / "gone.txt"));
}

// A copy back across file systems that a killed run cut short stands under
// its own name among the user's items: the next run clears it as it puts
// the held item back, and no walk or transfer takes such a name, a file's
// or a folder's, from either side.
TEST_F(OneWayEngineHoldingTest, ACopyCutShortIsClearedAndNeverTransferred) {
    const std::string leftover = ".kelto-copy-0f8fad5b-d9cb-469f-a165-70867728950e";
    const std::string folderLeftover = ".kelto-copy-7c9e6679-7425-40de-944b-e07fc1f90ae7";
    put(src / "keep.txt", "keep");
    put(dst / "keep.txt", "keep");
    put(src / "sub" / leftover, "half of A's");
    put(src / folderLeftover / "inner.txt", "half");
    put(dst / "sub" / leftover, "half of B's");
    put(dst / "sub" / folderLeftover / "inner.txt", "half");
    put(holdingRoot() / "2025-03-07_141503-0a1b2c3d" / "sub/back.txt", "held");
    // The copies' records, beside the item each was a copy of.
    for (const std::string& name : {leftover, folderLeftover})
        put(holdingRoot() / "2025-03-07_141503-0a1b2c3d" / "sub" / name, "");

    const auto [stats, exit] = run(plan());
    EXPECT_EQ(stats.errors.front(), "Put back from an interrupted run: sub/back.txt");
    EXPECT_EQ(contents(dst / "sub/back.txt"), "held");
    EXPECT_EQ(entries(dst / "sub"), std::vector<std::string>{"back.txt"});
    EXPECT_FALSE(fs::exists(dst / folderLeftover));
    for (const ScriptedRsyncRunner::Call& call : script.calls())
        EXPECT_NE(std::find(call.arguments.begin(), call.arguments.end(),
                            R"(--filter=- .kelto-copy-????????-????-????-????-????????????)"),
                  call.arguments.end());
}

// rsync holds a folder's items in folders it makes with the folder's own
// permissions; a folder the put-back makes again takes them from there, so
// a private folder does not come back open to all.
TEST_F(OneWayEngineHoldingTest, FoldersMadeAgainToPutItemsBackKeepTheirPermissions) {
    put(src / "keep.txt", "keep");
    put(dst / "keep.txt", "keep");
    const fs::path held = holdingRoot() / "2025-03-07_141503-0a1b2c3d";
    put(held / "private/inner/secret.txt", "mine");
    put(held / "open/notes.txt", "notes");
    ASSERT_EQ(::chmod((held / "private").c_str(), 0700), 0);
    ASSERT_EQ(::chmod((held / "private/inner").c_str(), 0750), 0);
    ASSERT_EQ(::chmod((held / "open").c_str(), 0775), 0);

    const auto [stats, exit] = run(plan());
    EXPECT_EQ(contents(dst / "private/inner/secret.txt"), "mine");
    const auto mode = [](const fs::path& folder) {
        struct stat info {};
        return ::lstat(folder.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    };
    EXPECT_EQ(mode(dst / "private"), 0700u);
    EXPECT_EQ(mode(dst / "private/inner"), 0750u);
    EXPECT_EQ(mode(dst / "open"), 0775u);
}

// An item of the user's that is named like such a copy, where no copy was
// recorded, is the user's: a settling in its folder leaves it.
TEST_F(OneWayEngineHoldingTest, AnItemNamedLikeACopyThatNoCopyLeftStays) {
    const std::string own = ".kelto-copy-0f8fad5b-d9cb-469f-a165-70867728950e";
    put(src / "keep.txt", "keep");
    put(dst / "keep.txt", "keep");
    put(dst / own, "mine");
    put(dst / "sub" / own / "inner.txt", "mine too");
    for (const char* path : {"back.txt", "sub/back.txt"})
        put(holdingRoot() / "2025-03-07_141503-0a1b2c3d" / path, "held");

    const auto [stats, exit] = run(plan());
    EXPECT_EQ(contents(dst / "sub/back.txt"), "held");
    EXPECT_EQ(contents(dst / own), "mine");
    EXPECT_EQ(contents(dst / "sub" / own / "inner.txt"), "mine too");
}

// rsync holds what lies on a mount below B by copying it into B's holding
// folder, which drops a file's extended attributes (without -X) and its
// other names. What goes back (here: deletions the plan never listed, as
// the source lost the files and the planned ones went meanwhile) has both
// again: the run looked at them before the transfer. A name that stayed,
// or went back first, takes the others.
TEST_F(OneWayEngineHoldingTest, HeldItemsFromAMountBelowBComeBackWithAttributesAndLinks) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    job.options.archiveEnabled = false;
    traits.preservesXattrs = false;
    fs::create_directories(dst / "mnt");
    TestMounts mounts;
    ASSERT_TRUE(mounts.tmpfs(dst / "mnt"));
    const auto below = [&](const fs::path&) {
        return std::vector<TreeOverlap::Lookup>{{fs::canonical(dst / "mnt"), false}};
    };
    engine.treesOverlap = TreeOverlap([](const fs::path&, const fs::path&) { return false; }, nullptr, below);
    const std::vector<const char*> lost{"mnt/f", "mnt/g", "mnt/solo", "mnt/h1", "mnt/h2"};
    const timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    for (const char* name : {"mnt/f", "mnt/solo", "mnt/h1"}) {
        put(dst / name, name);
        ASSERT_EQ(::utimensat(AT_FDCWD, (dst / name).c_str(), times, 0), 0);
    }
    fs::create_hard_link(dst / "mnt/f", dst / "mnt/g");
    fs::create_hard_link(dst / "mnt/f", dst / "mnt/stays");
    fs::create_hard_link(dst / "mnt/h1", dst / "mnt/h2");
    ASSERT_EQ(::setxattr((dst / "mnt/f").c_str(), "user.a", "1", 1, 0), 0);
    ASSERT_EQ(::setxattr((dst / "mnt/solo").c_str(), "user.b", "2", 1, 0), 0);
    fs::create_directories(src / "mnt");
    for (const char* name : {"mnt/f", "mnt/g", "mnt/stays", "mnt/solo", "mnt/h1", "mnt/h2"}) {
        fs::copy_file(dst / name, src / name);
        fs::last_write_time(src / name, fs::last_write_time(dst / name));
    }
    for (int i = 0; i < 5; ++i) put(dst / ("d" + std::to_string(i)), "planned");
    put(src / "new.txt", "something to copy");
    const SyncPlan p = plan();
    ASSERT_EQ(p.deletionCount, 5);
    script.expect(Script::transfer())
        .then([&] {
            for (int i = 0; i < 5; ++i) fs::remove(dst / ("d" + std::to_string(i)));
            for (const char* name : lost) fs::remove(src / name);
        })
        .passThrough();

    const auto [stats, exit] = run(p);
    for (const char* name : lost)
        EXPECT_TRUE(contains(stats.errors, std::string("Put back: ") + name)) << testing::PrintToString(stats.errors);
    const auto attribute = [](const fs::path& item, const char* name) {
        char value[4] = {};
        return ::getxattr(item.c_str(), name, value, sizeof value) < 0 ? std::string("none") : std::string(value);
    };
    for (const char* name : {"mnt/f", "mnt/g"}) {
        EXPECT_EQ(attribute(dst / name, "user.a"), "1") << name;
        EXPECT_TRUE(fs::equivalent(dst / name, dst / "mnt/stays")) << name;
    }
    EXPECT_EQ(attribute(dst / "mnt/solo", "user.b"), "2");
    EXPECT_TRUE(fs::equivalent(dst / "mnt/h1", dst / "mnt/h2"));
    EXPECT_FALSE(fs::exists(holding()));
}

namespace {

// Runs `hook` when another process first opens `file`, before that open
// returns: rsync's sender opening a source once its generator has gone past
// the folders sorted before it.
class OpenGate {
public:
    OpenGate(const fs::path& file, std::function<void()> hook)
        : events_(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC)),
          stop_(::eventfd(0, EFD_CLOEXEC)) {
        if (::fanotify_mark(events_.get(), FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, file.c_str()) != 0) return;
        thread_ = std::thread([this, hook = std::move(hook)] {
            for (pollfd ready[2] = {{events_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
                 ::poll(ready, 2, -1) > 0 && !ready[1].revents;) {
                alignas(fanotify_event_metadata) char buffer[4096];
                ssize_t n = ::read(events_.get(), buffer, sizeof buffer);
                for (auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer); FAN_EVENT_OK(event, n);
                     event = FAN_EVENT_NEXT(event, n)) {
                    if (!fired && event->pid != ::getpid()) {
                        try {
                            hook();
                        } catch (const std::exception& error) {
                            ADD_FAILURE() << error.what();
                        }
                        fired = true;
                    }
                    const fanotify_response allow{event->fd, FAN_ALLOW};
                    EXPECT_EQ(::write(events_.get(), &allow, sizeof allow), static_cast<ssize_t>(sizeof allow));
                    ::close(event->fd);
                }
            }
        });
    }
    ~OpenGate() {
        if (!thread_.joinable()) return;
        ::eventfd_write(stop_.get(), 1);
        thread_.join();
    }
    bool armed() const { return thread_.joinable(); }
    std::atomic<bool> fired = false;

private:
    FileDescriptor events_, stop_;
    std::thread thread_;
};

// A folder of B swapped for a link during the transfer: rsync's deletions,
// made at its end by path, reach through the link.
struct Swap {
    std::string name;
    // The link leads to an unrelated folder holding copies of the items, on
    // a disk that keeps no file numbers (a FUSE pass-through, B on it too)
    // where only size and times tell a version; else to the moved folder.
    bool unrelated;
    bool deleted;  // the source has no such folder: the mirror deletes it whole
};

void PrintTo(const Swap& swap, std::ostream* out) { *out << swap.name; }

class OneWayEngineFolderSwapTest : public OneWayEngineHoldingTest, public ::testing::WithParamInterface<Swap> {};

}  // namespace

// A held item goes only while each folder on its way is the one the plan
// saw: rsync may have taken it from wherever that folder now leads.
TEST_P(OneWayEngineFolderSwapTest, WhatIsHeldThroughASwappedFolderIsKeptAndNamed) {
    if (::geteuid() != 0) GTEST_SKIP() << "fanotify and mounts need root";
    const Swap& swap = GetParam();
    TestMounts mounts;
    fs::path beside = tmp.path();  // where the folder is moved to, on B's disk
    if (swap.unrelated) {
        fs::create_directories(tmp / "disk");
        fs::create_directories(beside = tmp / "fuse");
        ASSERT_TRUE(mounts.passThrough(tmp / "disk", beside));
        fs::create_directories(dst = beside / "dst");
    }
    const fs::path moved = beside / "moved", linked = swap.unrelated ? beside / "unrelated" : moved;
    job.options.archiveEnabled = false;
    std::vector<std::string> bonly{"bonly1", "bonly2", "bonly3", "bonly4", "bonly5"};
    for (const char* name : {"sub/keep", "other/keep"}) {
        if (!swap.deleted || name != std::string_view("sub/keep")) put(src / name, name);
        put(dst / name, name);
    }
    if (swap.deleted) bonly.push_back("keep");
    for (const std::string& name : bonly) put(dst / "sub" / name, name);
    put(dst / "other/gone", "planned");
    put(src / "zz/new", "sorted after sub");
    if (swap.unrelated) {
        for (const std::string& name : bonly) put(linked / name, name);  // copies, times and all
        put(linked / "own", "own");
    }

    OpenGate gate(src / "zz/new", [&] {
        fs::rename(dst / "sub", moved);
        fs::create_directory_symlink(linked, dst / "sub");
    });
    ASSERT_TRUE(gate.armed());
    const auto [stats, exit] = run(plan());
    ASSERT_TRUE(gate.fired);

    EXPECT_FALSE(fs::exists(dst / "other/gone")) << "a deletion through unchanged folders still goes";
    const fs::path held = holding() / "sub";
    for (const std::string& name : bonly) {
        // Each version once: where the user moved it or where the link led, or held.
        EXPECT_EQ(contents(moved / name) + (swap.unrelated ? "" : contents(held / name)), name);
        if (swap.unrelated) {
            EXPECT_EQ(contents(linked / name) + contents(held / name), name) << "the unrelated folder's";
        }
        EXPECT_TRUE(std::any_of(stats.errors.begin(), stats.errors.end(),
                                [&](const std::string& line) { return line.ends_with(": sub/" + name); }))
            << name << " unnamed: " << testing::PrintToString(stats.errors);
    }
    EXPECT_TRUE(!swap.unrelated || contents(linked / "own") == "own");
}

INSTANTIATE_TEST_SUITE_P(Links, OneWayEngineFolderSwapTest,
                         ::testing::Values(Swap{"ToTheMovedFolder", false, false},
                                           Swap{"ToAnUnrelatedCopy", true, false},
                                           Swap{"OfAFolderTheMirrorDeletes", false, true}),
                         [](const ::testing::TestParamInfo<Swap>& info) { return info.param.name; });

// rsync holds what it deletes on a mount below B by copying it into B's
// disk whole, holes filled in: where that lacks the room, the run is
// refused before rsync writes anything, naming the room needed and free.
TEST_F(OneWayEngineHoldingTest, HoldingFromAMountBelowBIsRefusedWhereBLacksTheRoom) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    job.options.archiveEnabled = false;
    TestMounts mounts;
    ASSERT_TRUE(smallBWithMountBelow(mounts, 64));
    try {
        run(plan());
        ADD_FAILURE() << "ran";
    } catch (const OneWayEngineError& error) {
        EXPECT_EQ(error.code(), OneWayEngineError::Code::noRoomToHold);
        EXPECT_TRUE(std::string(error.what())
                        .starts_with("Not enough room on the disk of \"" + dst.native() +
                                     "\" to hold what this run deletes or replaces on \"" + (dst / "mnt").native() +
                                     "\": it needs 67.8 MB, ")) << error.what();
    }
    EXPECT_EQ(fs::file_size(dst / "mnt/big"), 64u << 20);
    EXPECT_FALSE(fs::exists(holding()));
    for (const ScriptedRsyncRunner::Call& call : script.calls())
        EXPECT_FALSE(Script::transfer()(call.arguments)) << "rsync transferred";
}

// Where B fills up after that check, rsync's copy is cut short and the item
// stays where it was: the cut copy holds nothing it lacks, and is cleared
// rather than kept for good, a folder more at each run. With the room back,
// the next run deletes the item.
TEST_F(OneWayEngineHoldingTest, ACopyIntoBCutShortForWantOfRoomIsCleared) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    job.options.archiveEnabled = false;
    TestMounts mounts;
    ASSERT_TRUE(smallBWithMountBelow(mounts, 4));
    const fs::path filler = tmp / "disk/filler";
    script.expect(Script::transfer())
        .then([&] {
            struct statvfs disk {};
            ASSERT_EQ(::statvfs(dst.c_str(), &disk), 0);
            const FileDescriptor file(::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            const auto free = static_cast<off_t>(disk.f_bavail * disk.f_frsize);
            ASSERT_EQ(::posix_fallocate(file.get(), 0, free - (1 << 20)), 0);
        })
        .passThrough();

    const auto [stats, exit] = run(plan());
    EXPECT_EQ(exit.code, 23) << testing::PrintToString(stats.errors);
    EXPECT_EQ(fs::file_size(dst / "mnt/big"), 4u << 20);
    EXPECT_FALSE(fs::exists(holding()));

    fs::remove(filler);
    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    const auto [next, nextExit] = run(plan());
    EXPECT_EQ(nextExit, RsyncExit(0, {})) << testing::PrintToString(next.errors);
    EXPECT_FALSE(fs::exists(dst / "mnt/big"));
}

// An item on a disk mounted below B, of each kind, that grows past the room
// on B's disk once the run has looked at it: rsync's copy into the holding
// folder is cut short and the item stays where it was, grown. The cut copy
// holds nothing the item lacks: it is cleared, archive on or off, and B's
// disk has its room back. The next run, seeing the size, is refused for
// want of room rather than filling B's disk again.
struct GrownBelow {
    const char* below;
    bool archive;
};

void PrintTo(const GrownBelow& c, std::ostream* out) { *out << c.below << (c.archive ? ", archive on" : ", archive off"); }

class OneWayEngineGrownBelowTest : public OneWayEngineHoldingTest, public ::testing::WithParamInterface<GrownBelow> {};

TEST_P(OneWayEngineGrownBelowTest, ACutCopyOfAnItemGrownSinceTheLookIsCleared) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    job.options.archiveEnabled = GetParam().archive;
    TestMounts mounts;
    ASSERT_TRUE(smallBWithMountBelow(mounts, 1, GetParam().below));
    const auto freeOnB = [&] {
        struct statvfs disk {};
        return ::statvfs(dst.c_str(), &disk) == 0 ? static_cast<std::int64_t>(disk.f_bavail * disk.f_frsize) : -1;
    };
    const std::int64_t before = freeOnB();
    script.expect(Script::transfer()).then([&] { fs::resize_file(dst / "mnt/big", 40u << 20); }).passThrough();

    const auto [stats, exit] = run(plan());
    EXPECT_NE(exit.code, 0);
    EXPECT_EQ(fs::file_size(dst / "mnt/big"), 40u << 20);
    EXPECT_FALSE(fs::exists(holding())) << testing::PrintToString(stats.errors);
    EXPECT_GT(freeOnB(), before - (1 << 20));

    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    try {
        run(plan());
        ADD_FAILURE() << "ran";
    } catch (const OneWayEngineError& error) {
        EXPECT_EQ(error.code(), OneWayEngineError::Code::noRoomToHold) << error.what();
    }
    EXPECT_EQ(fs::file_size(dst / "mnt/big"), 40u << 20);
    EXPECT_GT(freeOnB(), before - (1 << 20));
}

INSTANTIATE_TEST_SUITE_P(, OneWayEngineGrownBelowTest,
                         ::testing::Values(GrownBelow{"tmpfs", true}, GrownBelow{"tmpfs", false},
                                           GrownBelow{"ext4", true}, GrownBelow{"ext4", false}),
                         [](const ::testing::TestParamInfo<GrownBelow>& info) {
                             return std::string(info.param.below) + (info.param.archive ? "_archiveOn" : "_archiveOff");
                         });

// A put-back across file systems copies the held item to its place, then
// removes it from the holding folder: a run killed between the two leaves
// the item whole at its place and still held. The next run finds its own
// copy standing there, the very version it holds: nothing stays held, and
// nothing is named as kept for the user to sort out.
TEST_F(OneWayEngineHoldingTest, AHeldItemAKilledPutBackCopiedWholeIsNotKeptForGood) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    fs::create_directories(dst / "mnt");
    TestMounts mounts;
    ASSERT_TRUE(mounts.tmpfs(dst / "mnt"));
    put(src / "keep.txt", "keep");
    put(dst / "keep.txt", "keep");
    const fs::path killed = holdingRoot() / "2025-03-07_141503-0a1b2c3d";
    const timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    for (const fs::path& file : {killed / "mnt/f", dst / "mnt/f"}) {
        put(file, "a version the killed run never saw");
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    put(src / "mnt/f", "a version the killed run never saw");
    ASSERT_EQ(::utimensat(AT_FDCWD, (src / "mnt/f").c_str(), times, 0), 0);

    const auto [stats, exit] = run(plan());
    for (const std::string& line : stats.errors) EXPECT_FALSE(line.starts_with("Kept")) << line;
    EXPECT_EQ(contents(dst / "mnt/f"), "a version the killed run never saw");
    EXPECT_FALSE(fs::exists(killed)) << "the item stays held beside its own copy";
}
