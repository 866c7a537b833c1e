// Items no engine copies: a ".KeltoSync" that is no real folder, and pipes, sockets and devices,
// which rsync, given neither --devices nor --specials, passes over.

#include "tests/TwoWayEngineFixture.h"

#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/RsyncProcessError.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <cstring>

namespace kelto::test {
namespace {

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
}

// Lines rsync should never print for the reserved tree are left out of the plan whatever they say.
TEST_F(OneWayEngineTest, DryRunLinesNamingTheReservedTreeAreNeverPlanned) {
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
}

TEST_F(TwoWayEngineTest, ListingLinesNamingTheReservedTreeAreNeverPlanned) {
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

// rsync passes over pipes by itself: one whose path the exclude file could not hold stops nothing.
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
