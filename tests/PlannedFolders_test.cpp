// A run writes only into the folders its plan was made on: a side leading
// elsewhere stops the run, naming it, and the other folder keeps its own.

#include "tests/TwoWayEngineFixture.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelto::test {
namespace {

// The ways a side's path comes to lead elsewhere after planning.
enum class Swap { parentLinked, renamedInto, mountedOver, parentRenamedInto };

const char* nameOf(Swap swap) {
    switch (swap) {
    case Swap::parentLinked: return "a folder above it replaced by a link to another folder";
    case Swap::renamedInto: return "another folder renamed into its place";
    case Swap::mountedOver: return "a tmpfs mounted over it";
    case Swap::parentRenamedInto: return "the folder above it renamed away, another renamed into its place";
    }
    return "?";
}

bool canMount(const fs::path& scratch) {
    if (::geteuid() != 0) return false;
    fs::create_directories(scratch);
    if (::mount("kelto-test", scratch.c_str(), "tmpfs", 0, "size=1m") != 0) return false;
    ::umount2(scratch.c_str(), MNT_DETACH);
    return true;
}

// Makes `side` lead to another folder holding an unreviewed report.txt (and,
// renamed into the parent's place, a reserved folder, as another job's);
// undoes a mount when it goes. moved(): where the side's folder lies then.
class Swapper {
public:
    explicit Swapper(const fs::path& scratch, std::string report = "nobody reviewed this")
        : scratch_(scratch), report_(std::move(report)) {}
    ~Swapper() {
        for (const fs::path& at : mounted_) ::umount2(at.c_str(), MNT_DETACH);
    }

    void swap(Swap how, const fs::path& side) {
        const fs::path other = scratch_ / ("other" + std::to_string(++count_)), old = scratch_ / ("old" + std::to_string(count_));
        const bool parent = how != Swap::renamedInto;  // the folder above the side goes
        if (how != Swap::mountedOver) {
            put(other / (parent ? side.filename() : "") / "report.txt", report_);
            fs::rename(parent ? side.parent_path() : side, old);
            moved_ = parent ? old / side.filename() : old;
        }
        switch (how) {
        case Swap::parentLinked: fs::create_directory_symlink(other, side.parent_path()); break;
        case Swap::parentRenamedInto:
            fs::create_directories(other / side.filename() / ".KeltoSync");
            fs::rename(other, side.parent_path());
            break;
        case Swap::renamedInto: fs::rename(other, side); break;
        case Swap::mountedOver:
            ASSERT_EQ(::mount("kelto-test", side.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
            mounted_.push_back(side);
            put(side / "report.txt", report_);
            break;
        }
    }

    const fs::path& moved() const { return moved_; }

private:
    fs::path scratch_;
    fs::path moved_;
    std::string report_;
    int count_ = 0;
    std::vector<fs::path> mounted_;
};

std::vector<Swap> swapsHere(const fs::path& scratch) {
    std::vector<Swap> swaps{Swap::parentLinked, Swap::renamedInto};
    if (canMount(scratch)) swaps.push_back(Swap::mountedOver);
    return swaps;
}

class PlannedFoldersOneWay : public OneWayEngineTest {
protected:
    void SetUp() override {
        src = tmp / "sides/pa/src";
        dst = tmp / "sides/pb/dst";
        OneWayEngineTest::SetUp();
        job.options.archiveEnabled = false;
    }

    // A mirror would copy new.txt and delete only-b.txt.
    void startOff() {
        fs::remove_all(tmp / "sides");
        put(src / "new.txt", "new");
        put(dst / "only-b.txt", "b");
    }
};

// Before the run, or during a mirror's last look (which takes a while): the
// side swapped is seen before any transfer, and neither folder is written.
TEST_F(PlannedFoldersOneWay, ARunStopsBeforeRsyncWhenASideIsNoLongerThePlannedFolder) {
    for (const Swap how : swapsHere(tmp / "probe"))
        for (const Side side : {Side::a, Side::b})
            for (const auto& [mode, duringLook] :
                 {std::pair(SyncMode::mirror, false), std::pair(SyncMode::copy, false), std::pair(SyncMode::mirror, true)}) {
                SCOPED_TRACE(std::string(nameOf(how)) + ", side " + std::string(enumName(side)) + ", " +
                             std::string(enumName(mode)) + (duringLook ? ", during the last look" : ""));
                job.mode = mode;
                startOff();
                const SyncPlan p = plan();
                ASSERT_EQ(p.copies.size(), 1u);
                const fs::path& swapped = side == Side::a ? src : dst;
                Swapper swapper(tmp / "scratch" / std::to_string(script.calls().size()));
                if (duringLook)
                    script.expect(ScriptedRsyncRunner::dryRun()).passThrough().then([&] { swapper.swap(how, swapped); });
                else
                    swapper.swap(how, swapped);
                const std::size_t before = script.calls().size();
                const auto error = refusal(p);
                EXPECT_EQ(error, OneWayEngineError::folderReplaced(swapped, side));
                EXPECT_NE(std::string(error ? error->what() : "").find(side == Side::a ? "source" : "destination"),
                          std::string::npos);
                EXPECT_EQ(script.calls().size() - before, duringLook ? 1u : 0u) << "rsync started";
                EXPECT_EQ(tree(swapped), (Files{{"report.txt", "nobody reviewed this"}}));
                EXPECT_FALSE(fs::exists(swapped / ".KeltoSync"));
                EXPECT_TRUE(side == Side::b || tree(dst) == (Files{{"only-b.txt", "b"}}));
            }
}

// B's parent swapped for another job's folder during the transfer: rsync and
// all after it act on the folder held, the other gets nothing, the run fails.
TEST_F(PlannedFoldersOneWay, WhatFollowsTheTransferActsOnTheFolderHeld) {
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        startOff();
        putFiles(src, {{"x.txt", "new x"}, {"busy.txt", "first"}});
        put(dst / "x.txt", "old");
        const SyncPlan p = plan();
        Swapper swapper(tmp / "scratch" / std::to_string(script.calls().size()));
        script.expect(ScriptedRsyncRunner::transfer()).passThrough().then([&] {
            put(src / "busy.txt", "rewritten while copied");
            swapper.swap(Swap::parentRenamedInto, dst);
        });
        EXPECT_EQ(refusal(p), OneWayEngineError::folderReplaced(dst, Side::b));
        const fs::path& held = swapper.moved();
        EXPECT_EQ(contents(held / "x.txt"), "new x");
        EXPECT_EQ(fs::exists(held / "only-b.txt"), mode == SyncMode::copy);
        const fs::path holding = held / ".KeltoSync/Holding";
        EXPECT_TRUE(!fs::exists(holding) || fs::is_empty(holding));
        EXPECT_LT(fs::last_write_time(held / "busy.txt"), fs::last_write_time(src / "busy.txt"))
            << "the copy is not marked to be copied again";
        EXPECT_EQ(entries(dst), Lines{"report.txt"});
        EXPECT_TRUE(fs::is_empty(dst / ".KeltoSync"));
    }
}

class PlannedFoldersTwoWay : public TwoWayEngineTest {
protected:
    void SetUp() override {
        a = tmp / "sides/pa/a";
        b = tmp / "sides/pb/b";
        TwoWayEngineTest::SetUp();
        job.options.archiveEnabled = false;
    }
};

TEST_F(PlannedFoldersTwoWay, ARunStopsBeforeRsyncWhenASideIsNoLongerThePlannedFolder) {
    for (const Swap how : swapsHere(tmp / "probe"))
        for (const Side side : {Side::a, Side::b}) {
            SCOPED_TRACE(std::string(nameOf(how)) + ", side " + std::string(enumName(side)));
            fs::remove_all(tmp / "sides");
            fs::create_directories(b);
            putAt(a / "new.txt", "new", t0);
            const TwoWayPlan p = plan().second;
            const fs::path& swapped = side == Side::a ? a : b;
            Swapper swapper(tmp / "scratch" / std::to_string(script.calls().size()));
            swapper.swap(how, swapped);
            const std::size_t before = script.calls().size();
            EXPECT_EQ(thrown<TwoWayEngineError>([&] { run(p); }), TwoWayEngineError::folderReplaced(swapped, side));
            EXPECT_EQ(script.calls().size(), before) << "rsync started";
            EXPECT_EQ(entries(swapped), Lines{"report.txt"});
        }
}

// B's parent swapped for another job's folder during the transfer from A to B:
// the version of B's file the copy replaced is settled in the folder held, the
// copy of a source changed meanwhile marked there, and the run stops before its
// next step: the deletions carried over from A are not made in the other folder.
TEST_F(PlannedFoldersTwoWay, WhatFollowsTheTransferActsOnTheFolderHeld) {
    startInStep({"x.txt", "report.txt"});
    fs::remove(a / "report.txt");
    putAt(a / "x.txt", "new x", t0 + 10);
    putAt(a / "busy.txt", "first", t0);
    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    const TwoWayPlan p = plan().second;
    ASSERT_EQ(p.archiveOnB, std::vector<std::string>{"report.txt"});
    // What the other folder holds looks like the file the plan judged.
    Swapper swapper(tmp / "scratch", "old");
    script.expect(ScriptedRsyncRunner::transfer()).passThrough().then([&] {
        putAt(a / "busy.txt", "rewritten while copied", t0);
        swapper.swap(Swap::parentRenamedInto, b);
    });
    EXPECT_EQ(thrown<TwoWayEngineError>([&] { run(p); }), TwoWayEngineError::folderReplaced(b, Side::b));
    const fs::path& held = swapper.moved();
    EXPECT_EQ(contents(held / "x.txt"), "new x");
    const fs::path holding = held / ".KeltoSync/Holding";
    EXPECT_TRUE(!fs::exists(holding) || fs::is_empty(holding));
    EXPECT_LT(fs::last_write_time(held / "busy.txt"), fs::last_write_time(a / "busy.txt"))
        << "the copy is not marked to be copied again";
    EXPECT_EQ(tree(b), (Files{{"report.txt", "old"}}));
    EXPECT_TRUE(fs::is_empty(b / ".KeltoSync"));
}

}  // namespace
}  // namespace kelto::test
