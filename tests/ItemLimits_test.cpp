// What the engines cannot carry as it is. Times a file system or rsync's listing cannot hold, and
// sources rewritten while copied: rsync gives the copy the size and times it listed before reading,
// so it can look current. A ".KeltoSync" that is no real folder, and pipes, sockets and devices,
// which rsync, given neither --devices nor --specials, passes over.

#include "tests/TwoWayEngineFixture.h"

#include "SyncEngine/PreflightSkips.h"

#include <gmock/gmock.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <cstring>
#include <system_error>

namespace kelto::test {
namespace {

using Script = ScriptedRsyncRunner;

struct stat statOf(const fs::path& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) throw std::system_error(errno, std::generic_category(), file.native());
    return info;
}

// Only the change time tells, so the write is repeated until a coarse clock moved it.
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

// A torn copy makes the run partial even where rsync said 24; rsync's own failure keeps its code.
// A source gone by the end keeps its copy, named; one rewritten is marked and copied again.
TEST_F(OneWayEngineTest, ASourceGoneByTheEndOfTheRunIsNamedAsGone) {
    const struct {
        std::string name;
        SyncMode mode;
        std::int32_t rsyncCode, code;
    } rows[] = {{"mirror", SyncMode::mirror, 0, 23}, {"copy", SyncMode::copy, 0, 23},
                {"rsync said 24", SyncMode::mirror, 24, 23}, {"rsync failed", SyncMode::mirror, 11, 11},
                {"exFAT", SyncMode::copy, 0, 23}};  // last: B stays on exFAT from here on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.name == "exFAT" && ::geteuid() != 0) continue;  // mounting an exFAT image needs root
        job.mode = row.mode;
        job.options.archiveEnabled = true;
        fresh();
        ASSERT_TRUE(row.name != "exFAT" || exfatB()) << "exfat-fuse missing or failed";
        putFiles(src, {{"racy.txt", "first version"}, {"calm.txt", "calm"}, {"gone.txt", "copied, then deleted"}});
        putBoth("same.txt", "same");
        const struct stat racy = statOf(src / "racy.txt");
        const SyncPlan p = plan();
        ASSERT_EQ(copyPaths(p), (Lines{"calm.txt", "gone.txt", "racy.txt"}));
        auto& transfer = script.expect(Script::transfer()).passThrough().then([&] {
            rewriteKeepingSizeAndTime(src / "racy.txt", "other version", racy);
            fs::remove(src / "gone.txt");
            putAt(src / "same.txt", "edited", t0 + 10);  // not copied by this run: not its concern
        });
        const std::string gone = "Source gone by the end of the run; its copy is kept: gone.txt";
        Lines lines{gone, changedLine("racy.txt")};  // by path
        if (row.rsyncCode) {
            transfer.err("rsync said something\n").exit(row.rsyncCode);
            lines.insert(lines.begin(), "rsync said something");
        }
        const auto result = run(p);
        expectExit(result, row.code, lines);
        EXPECT_EQ(result.first.filesCopied, 3);
        EXPECT_TRUE(contains(log.lines, changedLine("racy.txt")) && contains(log.lines, gone));
        EXPECT_EQ(contents(dst / "racy.txt") + contents(dst / "gone.txt"), "first versioncopied, then deleted");
        EXPECT_LT(statOf(dst / "racy.txt").st_mtime, t0 - traits.modifyWindow);  // kept, as rsync wrote it
        nextRun(1);
        const SyncPlan next = plan();
        EXPECT_EQ(copyPaths(next), (Lines{"racy.txt", "same.txt"}));
        const auto again = run(next);
        expectClean(again);
        EXPECT_EQ(again.first.filesCopied, 2);
        Files after{{"calm.txt", "calm"}, {"racy.txt", "other version"}, {"same.txt", "edited"}};
        if (row.mode == SyncMode::copy) after.insert({"gone.txt", "copied, then deleted"});
        EXPECT_EQ(tree(dst), after);
        EXPECT_EQ(contents(runFolder() / "racy.txt"), "first version");
        EXPECT_TRUE(copyPaths(plan()).empty());
    }
}

// The source put back to what both sides last agreed on while copied is the user's latest word.
TEST_F(TwoWayEngineTest, SourcesRewrittenWhileCopiedLoseTheirEntriesAndAreCopiedAgain) {
    startInStep({"x", "y", "z", "calm"});
    for (const fs::path& file : {a / "x", b / "y", a / "z"}) putAt(file, file.filename().native() + " v1", t0 + 10);
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
    EXPECT_TRUE(contains(log.lines, changedLine("x")) && contains(log.lines, changedLine("y")));
    EXPECT_EQ(contents(b / "x") + contents(a / "y"), "x v1y v1");
    const auto stored = storedBaseline();
    ASSERT_TRUE(stored);
    EXPECT_TRUE(!stored->find("x") && !stored->find("y"));  // both sides count as changed next time
    EXPECT_EQ(*stored->find("calm"), (BaselineEntry{EntryKind::file, 4, t0 + 10}));
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

constexpr std::int64_t year2500 = 16'725'225'600, year1900 = -2'208'988'800, year10000 = 253'402'300'800;

std::size_t archivedFiles(const fs::path& root) {
    const fs::path archive = root / ".KeltoSync" / "Archive";
    if (!fs::exists(archive)) return 0;
    std::size_t n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(archive)) n += entry.is_regular_file();
    return n;
}

SkippedFile outOfRange(std::string path) { return {std::move(path), FileSkipReason::timeOutOfRange}; }

// A tmpfs side `from` that keeps every time and an ext4 side `to` that clamps.
template <class Engine>
class Clamping : public Engine {
protected:
    std::unique_ptr<TmpfsFolder> tmpfs;
    std::unique_ptr<Ext4Volume> ext4;
    void clampBetween(fs::path& from, fs::path& to) {
        Engine::SetUp();
        std::string whyNot;
        tmpfs = TmpfsFolder::make(whyNot);
        if (tmpfs) ext4 = Ext4Volume::make(whyNot);
        if (!ext4) GTEST_SKIP() << whyNot;
        fs::create_directories(from = *tmpfs / from.filename());
        fs::create_directories(to = *ext4 / to.filename());
    }
};

class OneWayClampTest : public Clamping<OneWayEngineTest> {
protected:
    void SetUp() override {
        clampBetween(src, dst);
        job.options.archiveEnabled = true;
    }
    std::pair<RunStats, RsyncExit> runAgain(const SyncPlan& p) {
        runID = ArchiveRunID::make(SystemClock::shared().now());
        return run(p);
    }
};

TEST_F(OneWayClampTest, ATimeTheDestinationClampsIsCopiedOnceThenSkipped) {
    putAt(src / "y2500", "future", year2500);
    putAt(src / "y1900", "past", year1900);
    putAt(src / "plain", "plain", t0);
    const auto [first, firstExit] = runAgain(plan());
    ASSERT_EQ(std::tuple(firstExit.code, first.filesCopied), std::tuple(0, 3l));
    ASSERT_TRUE(statOf(dst / "y2500").st_mtime != year2500 && statOf(dst / "y1900").st_mtime != year1900)
        << "ext4 kept the times";
    for (int again = 0; again < 2; ++again) {
        const SyncPlan p = plan();
        EXPECT_TRUE(p.copies.empty() && p.archives.empty()) << ::testing::PrintToString(copyPaths(p));
        EXPECT_EQ(p.skipped, (std::vector<SkippedFile>{outOfRange("y1900"), outOfRange("y2500")}));
        const auto [stats, exit] = runAgain(p);
        EXPECT_EQ(std::tuple(exit.code, stats.filesCopied), std::tuple(0, 0l));
        EXPECT_EQ(stats.skipped, p.skipped);
    }
    EXPECT_EQ(archivedFiles(dst), 0u);
    putAt(src / "y2500", "future, longer", year2500);
    const SyncPlan changed = plan();
    EXPECT_EQ(copyPaths(changed), Lines{"y2500"});
    EXPECT_EQ(changed.skipped, std::vector<SkippedFile>{outOfRange("y1900")});
    EXPECT_EQ(runAgain(changed).second.code, 0);
    EXPECT_EQ(contents(dst / "y2500"), "future, longer");
    EXPECT_EQ(archivedFiles(dst), 1u);
}

class TwoWayClampTest : public Clamping<TwoWayEngineTest> {
protected:
    void SetUp() override { clampBetween(a, b); }
};

TEST_F(TwoWayClampTest, AFileFromTheYear10000IsSkippedAndNeverTakenForAbsent) {
    startInStep({"kept", "deleted on B", "other"});
    putAt(a / "kept", "changed on A", year10000);
    putAt(a / "deleted on B", "old", year10000);
    fs::remove(b / "deleted on B");
    putAt(a / "new", "new", year10000 + 86'400 * 400);
    putAt(b / "other", "changed on B", t0 + 10);
    const auto [syncPlan, twoWay] = plan();
    const std::vector<SkippedFile> skipped{outOfRange("deleted on B"), outOfRange("kept"), outOfRange("new")};
    EXPECT_EQ(twoWay.skipped, skipped);
    EXPECT_EQ(syncPlan.skipped, skipped);
    EXPECT_TRUE(twoWay.copyAtoB.empty() && twoWay.archiveOnA.empty() && twoWay.conflicts.empty());
    EXPECT_EQ(twoWay.copyBtoA, Lines{"other"});  // the rest of the job goes on
    const auto before = storedBaseline();
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit.code, 0) << ::testing::PrintToString(exit.stderrTail);
    EXPECT_EQ(stats.skipped, skipped);
    EXPECT_EQ(tree(a), (Files{{"deleted on B", "old"}, {"kept", "changed on A"}, {"new", "new"}, {"other", "changed on B"}}));
    EXPECT_EQ(tree(b), (Files{{"kept", "old"}, {"other", "changed on B"}}));
    // Old baseline entries stay, so nothing reads as deleted later.
    const auto after = storedBaseline();
    ASSERT_TRUE(before && after);
    for (const char* name : {"kept", "deleted on B"}) EXPECT_EQ(*after->find(name), *before->find(name)) << name;
}

TEST_F(TwoWayClampTest, AStaleMarkTheFileSystemCannotKeepIsReported) {
    putAt(a / "y1900", "past", year1900);
    const TwoWayPlan twoWay = plan().second;
    ASSERT_EQ(twoWay.copyAtoB, Lines{"y1900"});
    script.expect(ScriptedRsyncRunner::transferTo(b)).passThrough().then([&] { putAt(a / "y1900", "PAST", year1900); });
    const RsyncExit exit = run(twoWay).second;
    EXPECT_EQ(exit.code, 23);
    EXPECT_THAT(exit.stderrTail, ::testing::Contains(::testing::StartsWith("Could not mark the copy to be copied again: y1900: ")));
}

TEST_F(TwoWayClampTest, ATimeOneSideClampsIsInStepAfterOneCopy) {
    putAt(a / "y2500", "future", year2500);
    putAt(a / "y1900", "past", year1900);
    putAt(a / "plain", "plain", t0);
    const auto [first, firstExit] = sync();
    ASSERT_EQ(std::tuple(firstExit.code, first.filesCopied), std::tuple(0, 3l));
    ASSERT_NE(statOf(b / "y2500").st_mtime, year2500) << "ext4 kept the time: nothing to test";
    for (int again = 0; again < 2; ++again) {
        const auto [syncPlan, twoWay] = plan();
        EXPECT_TRUE(twoWay.copyAtoB.empty() && twoWay.copyBtoA.empty() && twoWay.conflicts.empty());
        EXPECT_TRUE(syncPlan.archives.empty() && syncPlan.skipped.empty());
        EXPECT_EQ(sync().second.code, 0);
    }
    EXPECT_EQ(archivedFiles(a) + archivedFiles(b), 0u);
    putAt(b / "y2500", "edited on B", t0 + 50);
    putAt(a / "y1900", "edited on A", year1900 - 100);
    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(std::tuple(twoWay.copyBtoA, twoWay.copyAtoB), std::tuple(Lines{"y2500"}, Lines{"y1900"}));
    EXPECT_TRUE(twoWay.conflicts.empty());
    EXPECT_EQ(sync().second.code, 0);
    EXPECT_EQ(contents(a / "y2500") + contents(b / "y1900"), "edited on Bedited on A");
    fs::remove(b / "y1900");
    EXPECT_EQ(plan().second.archiveOnA, Lines{"y1900"});
}

// A file, or a link to a folder elsewhere (whose contents rsync would put in the archive's place).
void makeReservedItem(const fs::path& root, bool link, const fs::path& elsewhere) {
    if (!link) return put(root / ".KeltoSync", "not a folder");
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, root / ".KeltoSync");
}

fs::path populateArchive(const fs::path& root, const Uuid& jobID) {
    const fs::path archived = ArchiveDirectories::jobArchiveURL(root, jobID) / "2026-01-01_000000-0000ABCD" / "old.txt";
    put(archived, "precious");
    return archived;
}

template <class Error>
void expectRefusal(const std::optional<Error>& error, const fs::path& reserved) {
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, Error::reservedNotFolder(reserved));
    const std::string text = error->what();
    EXPECT_NE(text.find("\"" + reserved.native() + "\" is not a folder"), std::string::npos) << text;
    EXPECT_NE(text.find("remove it"), std::string::npos) << text;
}

TEST_F(OneWayEngineTest, AReservedNameThatIsNoFolderStopsTheJobBeforeRsyncRuns) {
    process.executable = tmp / "no-such-rsync";  // any rsync run fails the test
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy})
        for (const bool archiving : {false, true})
            for (const bool link : {false, true})
                for (const fs::path* side : {&src, &dst}) {
                    SCOPED_TRACE(std::string(enumName(mode)) + (archiving ? " archive " : " ") + (link ? "link" : "file") +
                                 " on " + side->filename().native());
                    fresh();
                    put(src / "a.txt", "a");
                    job.mode = mode;
                    job.options.archiveEnabled = archiving;
                    makeReservedItem(*side, link, tmp / "elsewhere");
                    const std::optional<fs::path> archived =
                        side == &src ? std::optional(populateArchive(dst, job.id)) : std::nullopt;
                    const fs::path reserved = *side / ".KeltoSync";
                    expectRefusal(thrown<OneWayEngineError>([&] { plan(); }), reserved);
                    EXPECT_EQ(refusal(SyncPlan{}), OneWayEngineError::reservedNotFolder(reserved));
                    EXPECT_TRUE(!archived || contents(*archived) == "precious");
                    EXPECT_TRUE(fs::is_symlink(reserved) || fs::is_regular_file(reserved));
                    EXPECT_FALSE(fs::exists(dst / "a.txt"));
                    EXPECT_TRUE(!fs::exists(tmp / "elsewhere") || fs::is_empty(tmp / "elsewhere"));
                }
    EXPECT_TRUE(script.calls().empty());
    SCOPED_TRACE("DryRunLinesNamingTheReservedTreeAreNeverPlanned");
    fresh();
    const std::string lines = RsyncLines::itemized("*deleting  ", 0, ".KeltoSync/Archive/J/R/old.txt") +
                              RsyncLines::itemized("*deleting  ", 0, ".KeltoSync/Archive/") +
                              RsyncLines::itemized("*deleting  ", 0, ".KeltoSync/") +
                              RsyncLines::itemized(">f+++++++++", 5, ".KeltoSync") +
                              RsyncLines::itemized(">f.st......", 5, ".KeltoSync/Partial/x") +
                              RsyncLines::itemized(">f+++++++++", 1, ".KeltoSyncs") +
                              RsyncLines::itemized("*deleting  ", 0, "gone.txt");
    put(dst / ".KeltoSync/Partial/x", "x");
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        script.expect(ScriptedRsyncRunner::dryRun()).out(lines);
        const SyncPlan p = plan();
        const bool mirror = mode == SyncMode::mirror;
        EXPECT_EQ(copyPaths(p), Lines{".KeltoSyncs"});
        EXPECT_EQ(archivePaths(p), mirror ? Lines{"gone.txt"} : Lines{});
        EXPECT_EQ(std::tuple(p.deletionCount, p.entryCountA, p.entryCountB), std::tuple(mirror ? 1 : 0, 1, 1));
    }
}

TEST_F(TwoWayEngineTest, AReservedNameThatIsNoFolderStopsTheJobBeforeRsyncRuns) {
    process.executable = tmp / "no-such-rsync";
    for (const bool link : {false, true}) {
        for (const fs::path* side : {&a, &b}) {
            SCOPED_TRACE(std::string(link ? "link" : "file") + " on " + side->filename().native());
            resetSides(true);
            putAt(a / "a.txt", "a", t0);
            makeReservedItem(*side, link, tmp / "elsewhere");
            const fs::path archived = populateArchive(*side == a ? b : a, job.id);
            const fs::path reserved = *side / ".KeltoSync";
            expectRefusal(thrown<TwoWayEngineError>([&] { plan(); }), reserved);
            TwoWayPlan copying;
            copying.copyAtoB = {"a.txt"};
            EXPECT_EQ(thrown<TwoWayEngineError>([&] { run(copying); }), TwoWayEngineError::reservedNotFolder(reserved));
            EXPECT_EQ(contents(archived), "precious");
            EXPECT_FALSE(fs::exists(b / "a.txt"));
            EXPECT_TRUE(!fs::exists(tmp / "elsewhere") || fs::is_empty(tmp / "elsewhere"));
        }
    }
    EXPECT_TRUE(script.calls().empty());
    SCOPED_TRACE("ListingLinesNamingTheReservedTreeAreNeverPlanned");
    resetSides(true);
    script.expect(ScriptedRsyncRunner::listing(a))
        .out(RsyncLines::listed(EntryKind::file, 1, t0, "a.txt") + RsyncLines::listed(EntryKind::file, 3, t0, ".KeltoSync"));
    script.expect(ScriptedRsyncRunner::listing(b))
        .out(RsyncLines::listed(EntryKind::directory, 0, t0, ".KeltoSync") +
             RsyncLines::listed(EntryKind::directory, 0, t0, ".KeltoSync/Archive") +
             RsyncLines::listed(EntryKind::file, 8, t0, ".KeltoSync/Archive/old.txt"));
    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.copyAtoB, Lines{"a.txt"});
    EXPECT_TRUE(twoWay.copyBtoA.empty() && twoWay.conflicts.empty());
    EXPECT_EQ(std::tuple(syncPlan.entryCountA, syncPlan.entryCountB), std::tuple(1, 0));
}

// A pipe, a socket and, for root, devices and a name that rsync escapes.
std::vector<SkippedFile> putSpecials(const fs::path& root) {
    fs::create_directories(root / "sub");
    std::vector<std::string> paths{"pipe", "sub/socket"};
    EXPECT_EQ(::mkfifo((root / "pipe").c_str(), 0644), 0);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (root / "sub/socket").native();
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << socketPath;
    ::close(s);
    if (::geteuid() == 0) {
        EXPECT_EQ(::mknod((root / "char").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
        EXPECT_EQ(::mknod((root / "sub/block").c_str(), S_IFBLK | 0644, makedev(7, 250)), 0);
        EXPECT_EQ(::mkfifo((root / "caf\xC3\xA9 \"q\"").c_str(), 0644), 0);
        paths.insert(paths.end(), {"char", "sub/block", "caf\xC3\xA9 \"q\""});
    }
    std::sort(paths.begin(), paths.end());
    std::vector<SkippedFile> skipped;
    for (const std::string& path : paths) skipped.push_back({path, FileSkipReason::specialFile});
    return skipped;
}

TEST_F(OneWayEngineTest, ASpecialFileTooLongToExcludeStopsNothing) {
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        fresh();
        std::vector<SkippedFile> specials = putSpecials(src);
        fs::path deep;
        Lines made{"file.txt", "sub/"};
        for (char level = 'a'; level < 'm'; ++level)
            made.push_back((deep /= std::string(1, level) + std::string(199, '*')).native() + "/");
        fs::create_directories(src / deep);
        ASSERT_EQ(::mkfifo((src / deep / "pipe").c_str(), 0644), 0);
        specials.push_back({(deep / "pipe").native(), FileSkipReason::specialFile});
        put(src / "file.txt", "copied");
        const SyncPlan p = plan();
        std::vector<SkippedFile> skipped = p.skipped;
        std::ranges::sort(skipped, {}, &SkippedFile::path);
        std::ranges::sort(specials, {}, &SkippedFile::path);
        EXPECT_EQ(skipped, specials);
        EXPECT_FALSE(PreflightSkips::canExclude((deep / "pipe").native()));
        EXPECT_EQ(copyPaths(p), std::vector<std::string>{"file.txt"});
        const auto [stats, exit] = run(p);
        EXPECT_EQ(exit, RsyncExit(0, {}));
        EXPECT_EQ(stats.skipped, p.skipped);
        EXPECT_EQ(entries(dst), sorted(made));
        EXPECT_EQ(contents(dst / "file.txt"), "copied");
    }
}

TEST_F(TwoWayEngineTest, SpecialFilesAreNamedAmongTheSkipped) {
    const std::vector<SkippedFile> specials = putSpecials(a);
    putAt(a / "file.txt", "copied", t0);
    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.skipped, specials);
    EXPECT_EQ(syncPlan.skipped, specials);
    EXPECT_EQ(twoWay.copyAtoB, (std::vector<std::string>{"file.txt", "sub"}));
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_EQ(stats.skipped, specials);
    const auto again = plan().second;
    EXPECT_EQ(again.skipped, specials);
    EXPECT_TRUE(again.copyAtoB.empty() && again.copyBtoA.empty());
    EXPECT_TRUE(fs::is_empty(b / "sub"));
}

}  // namespace
}  // namespace kelto::test
