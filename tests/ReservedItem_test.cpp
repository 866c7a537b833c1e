// A ".KeltoSync" at a folder's root that is no real folder: both engines
// refuse before any rsync runs. Lines naming the reserved tree are never planned.

#include "tests/TwoWayEngineFixture.h"

#include "SyncEngine/RsyncProcessError.h"

namespace kelto::test {
namespace {

// A file, or a link to a real folder elsewhere (whose contents rsync would
// otherwise put in the archive's place).
void makeReservedItem(const fs::path& root, bool link, const fs::path& elsewhere) {
    if (!link) return put(root / ".KeltoSync", "not a folder");
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, root / ".KeltoSync");
}

// An archived file of an earlier run, and what the archive holds then.
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

// Lines rsync should never print for the reserved tree are left out of the
// plan whatever they say: no copy, archive, deletion or count.
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

// Listing lines of the reserved tree are never taken in: nothing there is
// copied, deleted or counted.
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

}  // namespace
}  // namespace kelto::test
