// Without the archive a run holds what rsync deletes or replaces, and deletes only what its plan listed.

#include "SyncEngine/SafetyGuard.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "tests/TwoWayEngineFixture.h"

#include <gmock/gmock.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using namespace kelto;
using namespace kelto::test;

namespace {

using Script = ScriptedRsyncRunner;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string killedRun = "2025-03-07_141503-0a1b2c3d";

class OneWayEngineHoldingTest : public OneWayEngineTest {
protected:
    fs::path holdingRoot() const { return dst / ".KeltoSync/Holding"; }
    fs::path holding() const { return holdingRoot() / runID; }
    std::string kept(const std::string& path, const std::string& from = "") const {
        return "Kept " + from + "in " + heldIn() + " (its place is taken): " + path;
    }

    bool tmpfsBelowB() {
        fs::create_directories(dst / "mnt");
        return mounts.tmpfs(dst / "mnt");
    }
    void treesOverlapOnlyBelow(const fs::path& mount) {
        const auto below = [mount](const fs::path&) {
            return std::vector<TreeOverlap::Lookup>{{fs::canonical(mount), false}};
        };
        engine.treesOverlap = TreeOverlap([](const fs::path&, const fs::path&) { return false; }, nullptr, below);
    }

    // B on a 16 MiB ext4 disk, a `kind` mount at B/mnt holding a sparse `mib` MiB file A lacks.
    bool smallBWithMountBelow(TestMounts& m, const fs::path& base, std::uintmax_t mib, std::string_view kind) {
        src = base / "src";
        fs::create_directories(base / "disk");
        if (!m.ext4Image(base / "b.img", base / "disk")) return false;
        dst = base / "disk/dst";
        fs::create_directories(dst / "mnt");
        if (kind == "ext4" ? !m.ext4Image(base / "below.img", dst / "mnt") : !m.tmpfs(dst / "mnt")) return false;
        if (fs::exists(dst / "mnt/lost+found")) fs::create_directories(src / "mnt/lost+found");
        treesOverlapOnlyBelow(dst / "mnt");
        fs::create_directories(src / "mnt");
        putBoth("keep", "keep");
        std::ofstream(dst / "mnt/big") << "data";
        fs::resize_file(dst / "mnt/big", mib << 20);
        return true;
    }
    std::int64_t freeOnB() const {
        struct statvfs disk {};
        return ::statvfs(dst.c_str(), &disk) == 0 ? static_cast<std::int64_t>(disk.f_bavail * disk.f_frsize) : -1;
    }
};

#define NEEDS_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root"

// What keeps a held item from going back into dst/dir for a while: EPERM, EXDEV, EROFS (no mark either).
struct Block {
    std::string name;
    std::function<bool(const fs::path& dst)> apply;
    std::function<void(const fs::path& dst)> lift;
    bool markWritten = true;
    // Made before the run: the run holds B from its start.
    std::function<bool(const fs::path& dst)> ready = nullptr;
    bool onHeld = false;  // the holding folder's, not B's, so the item cannot leave it
};

bool mountOver(const fs::path& at) { return ::mount(at.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0; }

std::vector<Block> blocks() {
    const auto unmount = [](const fs::path& at) { ::umount2(at.c_str(), MNT_DETACH); };
    return {
        {"immutable", [](const fs::path& dst) { return runQuietly({"chattr", "+i", (dst / "dir").native()}) == 0; },
         [](const fs::path& dst) { runQuietly({"chattr", "-i", (dst / "dir").native()}); }},
        {"another mount", [](const fs::path& dst) { return mountOver(dst / "dir"); },
         [=](const fs::path& dst) { unmount(dst / "dir"); }},
        {"read-only",
         [](const fs::path& dst) {
             return ::mount(nullptr, dst.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
         },
         unmount, false, mountOver},
        {"held immutable", [](const fs::path& at) { return runQuietly({"chattr", "+i", (at / "dir").native()}) == 0; },
         [](const fs::path& at) { runQuietly({"chattr", "-i", (at / "dir").native()}); }, true, nullptr, true},
    };
}

struct Lifted {
    const Block& block;
    const fs::path& dst;
    bool applied = false, readied = false;
    void lift() {
        if (applied || readied) block.lift(dst);
        applied = readied = false;
    }
    ~Lifted() { lift(); }
};

}  // namespace

TEST_F(OneWayEngineHoldingTest, OrdinaryMirrorWithoutArchiveDeletesExactlyThePlan) {
    putFiles(src, {{"changed.txt", "new content"}, {"filetodir/in.txt", "in"}, {"dirtofile", "now a file"}, {"same.txt", "s"}});
    putFiles(dst, {{"changed.txt", "old"}, {"gone.txt", "g"}, {"olddir/sub/x.txt", "x"}, {"filetodir", "was a file"},
                   {"dirtofile/z.txt", "z"}, {"same.txt", "s"}});
    fs::create_directories(dst / "emptydir");
    fs::create_symlink("t1", dst / "link");
    fs::create_symlink("t2", src / "link");
    fs::create_symlink("t", dst / "gonelink");
    if (::geteuid() == 0) {  // rsync holds what lies on the mount by copying it across
        ASSERT_TRUE(tmpfsBelowB());
        putFiles(src, {{"mnt/changed.txt", "new content"}});
        putFiles(dst, {{"mnt/changed.txt", "old"}, {"mnt/gone.txt", "g"}});
    }
    const auto result = run(plan());
    expectClean(result);
    EXPECT_EQ(tree(dst), tree(src));
    EXPECT_EQ(result.first.filesArchived, 0);
    EXPECT_TRUE(fs::is_directory(holdingRoot()) && fs::is_empty(holdingRoot()));
    EXPECT_FALSE(fs::exists(runFolder()));
    EXPECT_TRUE(fs::is_directory(runFolder().parent_path()));
    EXPECT_EQ(script.calls().back().option("--backup-dir"), heldIn());
}

// Held-back items ask for a new plan (25), which outranks a source changed while copied.
TEST_F(OneWayEngineHoldingTest, StoppedOrFailedTransferStillSettles) {
    putBoth("s.txt", "s");
    put(dst / "d.txt", "d");
    put(src / "n.txt", "new");
    const SyncPlan p = plan();
    const auto takes = [&](const std::string& name) {  // as rsync does with --backup-dir
        return [this, name] { fs::rename(dst / name, holding() / name); };
    };
    script.expect(Script::transfer()).then(takes("d.txt")).then(takes("s.txt")).exit(20);
    expectExit(run(p), 20, {"Put back: s.txt", std::string(OneWayEngine::heldBackLine)});
    EXPECT_EQ(entries(dst), Lines{"s.txt"});
    EXPECT_FALSE(fs::exists(holding()));
    put(dst / "d.txt", "d, made anew");
    script.expect(Script::transfer()).then(takes("d.txt")).then(takes("s.txt")).then([] {
        throw std::runtime_error("rsync went away");
    });
    EXPECT_THROW(run(p), std::runtime_error);
    EXPECT_EQ(entries(dst), (Lines{"d.txt", "s.txt"}));
    EXPECT_FALSE(fs::exists(holding()));
    script.expect(Script::transfer())
        .then(takes("s.txt"))
        .then([this] { put(src / "n.txt", "rewritten meanwhile"); })
        .out(">f+++++++++ 3 3 n.txt\n");
    const RsyncExit exit = run(p).second;
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    EXPECT_THAT(exit.stderrTail, ::testing::IsSupersetOf(Lines{std::string(OneWayEngine::heldBackLine),
                                                          "Source changed while copying; copied again next run: n.txt"}));
    EXPECT_EQ(contents(dst / "s.txt"), "s");
}

TEST_F(OneWayEngineHoldingTest, WhatAFailedRunKeptIsNamedByTheNextRun) {
    for (const std::string how : {"ends", "log fails", "source replaced"}) {
        SCOPED_TRACE(how);
        fresh();
        putBoth("f.txt", "same");
        put(src / "n.txt", "new");
        const SyncPlan p = plan();
        script.expect(Script::dryRun()).passThrough().then([&] { put(src / "f.txt", "rewritten"); });
        if (how == "source replaced")
            script.expect(Script::transfer()).passThrough().then([&] {
                fs::rename(src, tmp / "src-away");
                fs::create_directory(src);
            });
        const std::string folder = heldIn();
        if (how == "ends") {
            expectNamed(run(p), OneWayEngine::replanCode,
                        {kept("f.txt"), deleteLine(folder), std::string(OneWayEngine::heldBackLine)});
            EXPECT_EQ(contents(dst / "f.txt"), "rewritten");
        } else {
            log.failFrom = how == "log fails" ? 0 : SIZE_MAX;
            EXPECT_ANY_THROW(run(p));
            log.failFrom = SIZE_MAX;
            EXPECT_EQ(contents(dst / "n.txt"), "new");  // the transfer went on to its end
            if (how == "source replaced") {
                fs::remove_all(src);
                fs::rename(tmp / "src-away", src);
            }
        }
        const std::string from = how == "ends" ? "an earlier" : "an interrupted";
        for (int later = 1; later <= (how == "ends" ? 2 : 1); ++later) {
            nextRun(later);
            expectNamed(run(plan()), 24,
                        {"Kept from " + from + " run in " + folder + " (its place is taken): f.txt", deleteLine(folder)});
            EXPECT_EQ(contents(dst / folder / "f.txt"), "same");
        }
        if (how != "ends") continue;
        fs::remove_all(dst / folder);  // taken where the line says: a plain success
        nextRun(3);
        EXPECT_EQ(run(plan()).second, RsyncExit(0, {}));
    }
}

// Once the item tried at every run (23) has its place taken too, the folder is the user's (24).
TEST_F(OneWayEngineHoldingTest, AHeldItemThatCouldNotGoBackIsPutBackByTheNextRun) {
    NEEDS_ROOT();
    for (const Block& block : blocks()) {
        SCOPED_TRACE(block.onHeld ? "AFolderWithBothKindsIsLeftToTheUserOnlyOnceNothingElseWaits" : block.name);
        fresh();
        putBoth("dir/f1", "f1");
        put(src / "new.txt", "something to copy");
        if (block.onHeld) putBoth("t.txt", "t");
        const std::string folder = heldIn(), keptT = kept("t.txt", "from an earlier run ");
        const fs::path held = holding();
        const fs::path& at = block.onHeld ? held : dst;
        Lifted blocked{block, at};
        blocked.readied = block.ready && block.ready(at);
        ASSERT_TRUE(blocked.readied || !block.ready) << std::strerror(errno);
        script.expect(Script::transfer()).then([&] {  // rsync takes dir/f1, unlisted
            fs::create_directories(held / "dir");
            fs::rename(dst / "dir/f1", held / "dir/f1");
            if (block.onHeld) {  // and t.txt, whose place someone takes
                fs::rename(dst / "t.txt", held / "t.txt");
                put(dst / "t.txt", "someone else's");
            }
            blocked.applied = block.apply(at);
        });
        const auto [stats, exit] = run(plan());
        ASSERT_TRUE(blocked.applied) << std::strerror(errno);
        EXPECT_EQ(exit.code, OneWayEngine::replanCode);
        if (block.name == "another mount") {  // no rename crosses a mount: copied back at once
            EXPECT_THAT(stats.errors, ElementsAre("Put back: dir/f1", OneWayEngine::heldBackLine));
            EXPECT_EQ(contents(dst / "dir/f1"), "f1");
            EXPECT_FALSE(fs::exists(held));
            continue;
        }
        const auto keptF1 = AllOf(StartsWith("Kept in " + folder + " ("), EndsWith("): dir/f1"),
                                  HasSubstr(" \"" + dst.native() + "/.KeltoSync/"));
        if (block.onHeld) {
            EXPECT_THAT(stats.errors, ElementsAre(keptF1, kept("t.txt"), OneWayEngine::triedAgainLine,
                                                  OneWayEngine::heldBackLine));
            nextRun(1);
            const auto [still, stillExit] = run(plan());
            EXPECT_THAT(still.errors, ElementsAre(AllOf(StartsWith("Kept from an earlier run in " + folder + " ("),
                                                        EndsWith("): dir/f1")),
                                                  keptT, OneWayEngine::triedAgainLine));
            EXPECT_EQ(stillExit.code, 23);
            blocked.lift();
            for (int later = 2; later <= 3; ++later) {
                nextRun(later);
                expectNamed(run(plan()), 24, {"Kept from an earlier run in " + folder + " (its place is taken): dir/f1",
                                              keptT, deleteLine(folder)});
            }
            EXPECT_EQ(entries(held), (Lines{"dir/", "dir/f1", "t.txt"}));
            continue;
        }
        EXPECT_THAT(stats.errors, ElementsAre(keptF1, OneWayEngine::triedAgainLine, OneWayEngine::heldBackLine));
        EXPECT_EQ(contents(held / "dir/f1"), "f1");
        blocked.lift();
        nextRun(1);
        const auto next = run(plan());
        EXPECT_EQ(next.second, RsyncExit(0, {}));
        EXPECT_EQ(next.first.errors, Lines{"Put back from an " + std::string(block.markWritten ? "earlier" : "interrupted") + " run: dir/f1"});
        EXPECT_TRUE(contents(dst / "dir/f1") == "f1" && !fs::exists(held));
    }
}

// As many rewritten sources as the guard reviews (any, by default), or a deletion, stop the run.
TEST_F(OneWayEngineHoldingTest, ChangesAfterPlanningStayWithinWhatThePlanListed) {
    const auto name = [](int i) { return "f" + std::to_string(i) + ".txt"; };
    const struct {
        bool standard, archive;
        int rewritten;
        bool deleted;
        RsyncExit exit;
    } cases[] = {{false, false, 1, false, RsyncExit(25, {std::string(OneWayEngine::replacementsChangedLine)})},
                 {true, false, 100, false, RsyncExit(25, {std::string(OneWayEngine::replacementsChangedLine)})},
                 {true, false, 10, false, RsyncExit(0, {})},
                 {true, false, 10, true, RsyncExit(25, {std::string(OneWayEngine::deletionsChangedLine)})},
                 {true, true, 100, false, RsyncExit(0, {})}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.standard << c.archive << " " << c.rewritten << " " << c.deleted);
        job.options = c.standard ? JobOptions::standard() : JobOptions{};  // review from 50 files and 20 %
        job.options.archiveEnabled = c.archive;
        fresh();
        for (int i = 0; i < 100; ++i) putBoth(name(i), "same");
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
        EXPECT_EQ(stats.errors, exit.stderrTail);
        EXPECT_FALSE(fs::exists(holding()));
        const bool copied = exit.code == 0;
        EXPECT_EQ(contents(dst / "listed.txt"), copied ? "new version" : "old");
        EXPECT_EQ(contents(dst / name(0)), c.archive ? "rewritten" : "same");
        if (c.archive) {
            EXPECT_EQ(stats.filesArchived, 101);
            EXPECT_EQ(contents(runFolder() / name(0)), "same");
        } else if (copied) {
            EXPECT_EQ(log.lines.front(), std::string(OneWayEngine::leftForNextRunLine) + name(0));
            nextRun(1);  // left for this run, not taken as in step
            expectClean(run(plan()));
            EXPECT_EQ(contents(dst / name(0)), "rewritten");
        } else if (c.rewritten == 100) {
            EXPECT_EQ(SafetyGuard::evaluate(plan(), job.mode, job.options, std::nullopt, {}),
                      GuardVerdict::needsConfirmation("101 files on side B will be archived or deleted."));
        }
    }
}

// B's version counts as the plan's only where it stood before the first dry run began: saved in
// place later only the status change tells; saved anew during the transfer only its file number.
TEST_F(OneWayEngineHoldingTest, ASaveMadeAfterTheComparisonBeganIsKept) {
    const auto saves = [this] {  // in place, times kept
        for (const auto& [name, content] : Files{{"x.txt", "new B"}, {"gone.txt", "new g"}}) {
            struct stat before {};
            ASSERT_EQ(::lstat((dst / name).c_str(), &before), 0);
            std::ofstream(dst / name, std::ios::binary | std::ios::trunc) << content;
            const timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(::utimensat(AT_FDCWD, (dst / name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        }
    };
    for (const std::string when : {"after the dry run", "while the plan waits", "during the transfer"})
        for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy})
            for (const bool archive : {false, true}) {
                const bool transfer = when == "during the transfer", mirror = mode == SyncMode::mirror;
                if (transfer && archive) continue;
                SCOPED_TRACE(when + ", " + std::string(enumName(mode)) + (archive ? ", archive on" : ", archive off"));
                job.mode = mode;
                job.options.archiveEnabled = archive;
                fresh();
                putFiles(src, {{"x.txt", "from A"}});
                putFiles(dst, {{"x.txt", "old B"}, {"gone.txt", "old g"}});
                if (when == "after the dry run") script.expect(Script::dryRun()).passThrough().then(saves);
                if (transfer) {
                    putFiles(src, {{"taken.txt", "from A"}});
                    putFiles(dst, {{"taken.txt", "old t"}});
                    script.expect(Script::transfer())
                        .then([&] {  // each saved anew: a new file renamed over the old
                            for (const auto& [name, content] :
                                 Files{{"x.txt", "new B"}, {"gone.txt", "new g"}, {"taken.txt", "1st t"}}) {
                                put(dst / ".saving", content);
                                fs::rename(dst / ".saving", dst / name);
                            }
                        })
                        .passThrough()
                        .then([&] { put(dst / "taken.txt", "2nd t"); });  // after rsync wrote its copy
                }
                const SyncPlan p = plan();
                if (when == "while the plan waits") saves();
                const auto [stats, exit] = run(p);
                EXPECT_NE(exit.code, 0);
                EXPECT_TRUE(contains(stats.errors, "Put back: x.txt")) << testing::PrintToString(stats.errors);
                EXPECT_EQ(contains(stats.errors, "Put back: gone.txt"), mirror);
                Files after{{"gone.txt", "new g"}, {"x.txt", "new B"}};
                if (!transfer) {
                    EXPECT_EQ(tree(dst), after);
                    EXPECT_FALSE(fs::exists(runFolder()));
                    continue;
                }
                Lines errors{"Put back: x.txt", kept("taken.txt"), deleteLine(heldIn()),
                             std::string(OneWayEngine::heldBackLine)};
                if (mirror) errors.insert(errors.begin(), "Put back: gone.txt");
                EXPECT_EQ(stats.errors, errors);
                EXPECT_EQ(exit.code, OneWayEngine::replanCode);
                after["taken.txt"] = "2nd t";
                EXPECT_EQ(tree(dst), after);
                EXPECT_EQ(tree(holding()), (Files{{"taken.txt", "1st t"}}));
                nextRun(1);
                EXPECT_EQ(archivePaths(plan()),
                          (mirror ? Lines{"gone.txt", "taken.txt", "x.txt"} : Lines{"taken.txt", "x.txt"}));
            }
}

TEST_F(OneWayEngineHoldingTest, AKilledRunsHeldItemsSettleAsThatRunWould) {
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        job.options.archiveEnabled = archive;
        fresh();
        const std::string killed = runID;
        putFiles(src, {{"x.txt", "from A"}});
        putFiles(dst, {{"x.txt", "old B"}, {"gone.txt", "old g"}});
        const fs::path copy = tmp / "dst-killed";  // B as a kill leaves it: rsync done, nothing settled
        fs::remove_all(copy);
        script.expect(Script::transfer()).passThrough().then([&] {
            ASSERT_EQ(runQuietly({"cp", "-al", dst.native(), copy.native()}), 0);
        });
        ASSERT_EQ(run(plan()).second.code, 0);
        fs::remove_all(dst);
        fs::rename(copy, dst);
        ASSERT_EQ(contents(holdingRoot() / killed / "gone.txt"), "old g");
        nextRun(1);
        expectClean(run(plan()));
        EXPECT_EQ(tree(dst), (Files{{"x.txt", "from A"}}));
        EXPECT_FALSE(fs::exists(holdingRoot() / killed));
        const fs::path archived = dst / ArchiveDirectories::runFolderRelativePath(job.id, killed);
        EXPECT_EQ(fs::exists(archived / "x.txt") && fs::exists(archived / "gone.txt"), archive);
    }
}

// exFAT through FUSE has no no-replace rename and no links.
TEST_F(OneWayEngineHoldingTest, HeldItemsGoBackWhereNoRenameCan) {
    NEEDS_ROOT();
    const struct {
        std::string name;
        bool exfat;
        bool below;  // mounted at dst/mnt, else dst itself
    } cases[] = {{"tmpfs below B", false, true}, {"exFAT below B", true, true}, {"B on exFAT", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        TestMounts rowMounts;
        const fs::path at = c.below ? dst / "mnt" : dst;
        fs::create_directories(at);
        ASSERT_TRUE(c.exfat ? rowMounts.exfat(tmp / (c.name + ".img"), at) : rowMounts.tmpfs(at));
        traits = c.exfat ? traitsOf("exfat") : ext4Traits();
        for (const char* name : {"mnt/f", "mnt/sub/g"}) putBoth(name, name);
        put(src / "new.txt", "something to copy");
        const fs::path held = holding();
        const auto hold = [&](const std::string& path) {  // moved, or copied across and removed
            fs::create_directories((held / path).parent_path());
            std::error_code error;
            fs::rename(dst / path, held / path, error);
            if (!error) return;
            put(held / path, path);
            fs::remove(dst / path);
        };
        const bool odd = c.exfat && c.below;
        script.expect(Script::transfer()).passThrough().then([&] {
            hold("mnt/f");
            hold("mnt/sub/g");
            if (c.below) fs::create_symlink("target", held / "mnt/link");
            if (odd) {
                put(held / "mnt/a:b", "colon");
                ASSERT_EQ(::mkfifo((held / "mnt/pipe").c_str(), 0644), 0);
            }
        });
        const auto [stats, exit] = run(plan());
        EXPECT_EQ(exit.code, OneWayEngine::replanCode);
        const auto forGood = [&](const std::string& path) {
            return AllOf(StartsWith("Kept in " + heldIn() + " ("), EndsWith("; it can never go back): " + path));
        };
        if (odd) {
            EXPECT_THAT(stats.errors, ElementsAre("Put back: mnt/f", "Put back: mnt/sub/g", forGood("mnt/a:b"),
                                                  forGood("mnt/link"), forGood("mnt/pipe"), deleteLine(heldIn()),
                                                  OneWayEngine::heldBackLine));
        } else {
            Lines back{"Put back: mnt/f", "Put back: mnt/sub/g", std::string(OneWayEngine::heldBackLine)};
            if (!c.exfat) back.insert(back.begin() + 1, "Put back: mnt/link");
            EXPECT_EQ(stats.errors, back);
        }
        for (const char* name : {"mnt/f", "mnt/sub/g"}) {
            EXPECT_EQ(contents(dst / name), name);
            EXPECT_EQ(fs::last_write_time(dst / name), fs::last_write_time(src / name));
        }
        EXPECT_EQ(fs::exists(held), odd);
        EXPECT_TRUE(!odd || entries(dst / "mnt") == (Lines{"f", "sub/", "sub/g"}));
        nextRun(1);
        const auto [next, nextExit] = run(plan());
        EXPECT_EQ(nextExit.code, odd ? 24 : 0);
        ASSERT_EQ(next.errors.size(), odd ? 4u : 0u);
        EXPECT_TRUE(!odd || next.errors[1].ends_with("; it can never go back): mnt/link")) << next.errors[1];
    }
}

TEST_F(OneWayEngineHoldingTest, NextRunPutsBackWhatAKilledRunHeld) {
    const std::string leftover = ".kelto-copy-0f8fad5b-d9cb-469f-a165-70867728950e";
    const std::string folderLeftover = ".kelto-copy-7c9e6679-7425-40de-944b-e07fc1f90ae7";
    const std::string own = ".kelto-copy-11111111-2222-4333-8444-555555555555";
    const fs::path stale = holdingRoot() / killedRun;
    putBoth("taken.txt", "current");
    putFiles(dst, {{own, "mine"}, {"sub/" + own + "/inner.txt", "mine too"}, {"sub/" + leftover, "half of B's"},
                   {"sub/" + folderLeftover + "/inner.txt", "half"}});
    putFiles(src, {{"sub/" + leftover, "half of A's"}, {folderLeftover + "/inner.txt", "half"}});
    putFiles(stale, {{"free.txt", "held"}, {"sub/deep.txt", "held deep"}, {"taken.txt", "older"},
                     {"private/inner/secret.txt", "mine"}, {"open/notes.txt", "notes"},
                     {"sub/" + leftover, ""}, {"sub/" + folderLeftover, ""}});  // the last two: the copies' records
    const std::vector<std::pair<std::string, mode_t>> modes{{"private", 0700}, {"private/inner", 0750}, {"open", 0775}};
    for (const auto& [folder, mode] : modes) ASSERT_EQ(::chmod((stale / folder).c_str(), mode), 0);
    const bool across = ::geteuid() == 0;  // a put-back across file systems killed after its copy
    if (across) {
        ASSERT_TRUE(tmpfsBelowB());
        for (const fs::path& file : {stale / "mnt/f", dst / "mnt/f", src / "mnt/f"}) put(file, "copied whole");
    }
    const auto [stats, exit] = run(plan());
    EXPECT_EQ(exit.code, OneWayEngine::replanCode);
    const std::string keptLine =
        "Kept from an interrupted run in .KeltoSync/Holding/" + killedRun + " (its place is taken): taken.txt";
    const std::string deleteStale = "Delete " + stale.native() + " once you no longer need what it holds";
    Lines back;
    for (const char* path : {"free.txt", "mnt/f", "open/notes.txt", "private/inner/secret.txt", "sub/deep.txt"})
        if (across || path != std::string_view("mnt/f")) back.push_back(std::string("Put back from an interrupted run: ") + path);
    back.insert(back.end(), {keptLine, deleteStale, std::string(OneWayEngine::deletionsChangedLine)});
    ASSERT_EQ(stats.errors, back);
    EXPECT_EQ(log.lines, Lines(stats.errors.begin(), stats.errors.end() - 1));
    EXPECT_EQ(contents(dst / "free.txt") + contents(dst / "sub/deep.txt") + contents(dst / "private/inner/secret.txt"),
              "heldheld deepmine");
    for (const auto& [folder, mode] : modes)
        EXPECT_EQ(fs::symlink_status(dst / folder).permissions(), static_cast<fs::perms>(mode)) << folder;
    EXPECT_EQ(entries(dst / "sub"), (Lines{own + "/", own + "/inner.txt", "deep.txt"}));
    EXPECT_EQ(contents(dst / own) + contents(dst / "sub" / own / "inner.txt"), "minemine too");
    EXPECT_FALSE(fs::exists(dst / folderLeftover));
    EXPECT_EQ(tree(stale), (Files{{"taken.txt", "older"}}));
    EXPECT_TRUE(!across || contents(dst / "mnt/f") == "copied whole");
    nextRun(1);
    expectNamed(run(plan()), 24, {keptLine, deleteStale});
    EXPECT_EQ(contents(dst / "taken.txt"), "current");
    EXPECT_EQ(tree(stale), (Files{{"taken.txt", "older"}}));
    EXPECT_FALSE(fs::exists(holding()));
    for (const ScriptedRsyncRunner::Call& call : script.calls())
        EXPECT_TRUE(contains(call.arguments, R"(--filter=- .kelto-copy-????????-????-????-????-????????????)"));
}

// rsync's copy across into the holding folder drops extended attributes and other names, but
// keeps the fraction of a second that tells a save made since the plan.
TEST_F(OneWayEngineHoldingTest, HeldItemsFromAMountBelowBComeBackWithAttributesAndLinks) {
    NEEDS_ROOT();
    traits.preservesXattrs = false;
    ASSERT_TRUE(tmpfsBelowB());
    treesOverlapOnlyBelow(dst / "mnt");
    const std::vector<const char*> lost{"mnt/f", "mnt/g", "mnt/solo", "mnt/h1", "mnt/h2"};
    for (const char* name : {"mnt/f", "mnt/solo", "mnt/h1"}) put(dst / name, name);
    fs::create_hard_link(dst / "mnt/f", dst / "mnt/g");
    fs::create_hard_link(dst / "mnt/f", dst / "mnt/stays");
    fs::create_hard_link(dst / "mnt/h1", dst / "mnt/h2");
    ASSERT_EQ(::setxattr((dst / "mnt/f").c_str(), "user.a", "1", 1, 0), 0);
    ASSERT_EQ(::setxattr((dst / "mnt/solo").c_str(), "user.b", "2", 1, 0), 0);
    fs::create_directories(src / "mnt");
    for (const char* name : {"mnt/f", "mnt/g", "mnt/stays", "mnt/solo", "mnt/h1", "mnt/h2"})
        put(src / name, contents(dst / name));
    for (int i = 0; i < 5; ++i) put(dst / ("d" + std::to_string(i)), "planned");
    put(src / "new.txt", "something to copy");
    putAt(dst / "mnt/gone.txt", "old", t0, 100);
    const SyncPlan p = plan();
    ASSERT_EQ(p.deletionCount, 6);
    script.expect(Script::transfer())  // the planned ones go meanwhile; the source loses the rest
        .then([&] {
            for (int i = 0; i < 5; ++i) fs::remove(dst / ("d" + std::to_string(i)));
            for (const char* name : lost) fs::remove(src / name);
            putAt(dst / "mnt/saved", "new", t0, 200);
            fs::rename(dst / "mnt/saved", dst / "mnt/gone.txt");
        })
        .passThrough();
    const auto [stats, exit] = run(p);
    for (const char* name : lost) EXPECT_THAT(stats.errors, ::testing::Contains(std::string("Put back: ") + name));
    EXPECT_THAT(stats.errors, ::testing::Contains("Put back: mnt/gone.txt"));
    EXPECT_EQ(contents(dst / "mnt/gone.txt"), "new");
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

// Runs `hook` when another process first opens `file`, before that open returns.
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

}  // namespace

// rsync's deletions, made at its end by path, reach through a folder swapped for a link meanwhile.
TEST_F(OneWayEngineHoldingTest, WhatIsHeldThroughASwappedFolderIsKeptAndNamed) {
    NEEDS_ROOT();
    const struct {
        std::string name;
        bool unrelated;  // to copies on a disk keeping no file numbers, else to the moved folder
        bool deleted;  // the source has no such folder: the mirror deletes it whole
    } swaps[] = {{"ToTheMovedFolder", false, false}, {"ToAnUnrelatedCopy", true, false}, {"OfAFolderTheMirrorDeletes", false, true}};
    for (const auto& swap : swaps) {
        SCOPED_TRACE(swap.name);
        TestMounts rowMounts;
        fs::path beside = tmp / swap.name;  // where the folder is moved to, on B's disk
        src = beside / "src";
        dst = beside / "dst";
        if (swap.unrelated) {
            fs::create_directories(beside / "disk");
            fs::create_directories(beside = beside / "fuse");
            ASSERT_TRUE(rowMounts.passThrough(beside.parent_path() / "disk", beside));
            dst = beside / "dst";
        }
        const fs::path moved = beside / "moved", linked = swap.unrelated ? beside / "unrelated" : moved;
        Lines bonly{"bonly1", "bonly2", "bonly3", "bonly4", "bonly5"};
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
            EXPECT_EQ(contents(moved / name) + (swap.unrelated ? "" : contents(held / name)), name);
            EXPECT_TRUE(!swap.unrelated || contents(linked / name) + contents(held / name) == name) << name;
            EXPECT_THAT(stats.errors, ::testing::Contains(EndsWith(": sub/" + name))) << name << " unnamed";
        }
        EXPECT_TRUE(!swap.unrelated || contents(linked / "own") == "own");
    }
}

// rsync holds what it deletes on a mount below B by copying it whole into B's disk.
TEST_F(OneWayEngineHoldingTest, HoldingFromAMountBelowBIsRefusedWhereBLacksTheRoom) {
    NEEDS_ROOT();
    const struct {
        std::string below;
        bool archive;
        bool grows;  // else the disk fills
    } cases[] = {{"tmpfs", true, true}, {"tmpfs", false, true}, {"ext4", true, true}, {"ext4", false, true},
                 {"tmpfs", false, false}};
    for (const auto& c : cases) {
        const std::string name = c.below + (c.archive ? "_archiveOn" : "_archiveOff") + (c.grows ? "" : "_diskFilled");
        SCOPED_TRACE(name);
        job.options.archiveEnabled = c.archive;
        nextRun(0);
        TestMounts rowMounts;
        ASSERT_TRUE(smallBWithMountBelow(rowMounts, tmp / name, c.grows ? 1 : 4, c.below));
        const std::int64_t before = freeOnB();
        const fs::path filler = dst.parent_path() / "filler";
        script.expect(Script::transfer())
            .then([&] {
                if (c.grows) {
                    fs::resize_file(dst / "mnt/big", 40u << 20);
                } else {
                    const FileDescriptor file(::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
                    ASSERT_EQ(::posix_fallocate(file.get(), 0, freeOnB() - (1 << 20)), 0);
                }
            })
            .passThrough();
        const auto [stats, exit] = run(plan());
        EXPECT_EQ(exit.code, c.grows ? exit.code : 23) << testing::PrintToString(stats.errors);
        EXPECT_NE(exit.code, 0);
        const std::uintmax_t size = (c.grows ? 40u : 4u) << 20;
        EXPECT_EQ(fs::file_size(dst / "mnt/big"), size);
        EXPECT_FALSE(fs::exists(holding())) << testing::PrintToString(stats.errors);
        fs::remove(filler);
        EXPECT_GT(freeOnB(), before - (1 << 20));
        nextRun(1);
        if (!c.grows) {
            EXPECT_EQ(run(plan()).second, RsyncExit(0, {}));
            EXPECT_FALSE(fs::exists(dst / "mnt/big"));
            continue;
        }
        const auto error = refusal(plan());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), OneWayEngineError::Code::noRoomToHold);
        EXPECT_THAT(error->what(), StartsWith("Not enough room on the disk of \"" + dst.native() +
                                              "\" to hold what this run deletes or replaces on \"" +
                                              (dst / "mnt").native() + "\": it needs 42.4 MB, "));
        EXPECT_FALSE(Script::transfer()(script.calls().back().arguments)) << "refused before rsync writes";
        EXPECT_FALSE(fs::exists(holding()));
        EXPECT_EQ(fs::file_size(dst / "mnt/big"), size);
        EXPECT_GT(freeOnB(), before - (1 << 20));
    }
}
