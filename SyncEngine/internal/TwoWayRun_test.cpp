// The pieces of a two-way run: what it reads of each side, the times a side keeps, its transfer's state and the
// baseline it leaves.

#include "SyncEngine/internal/SideStat.h"
#include "SyncEngine/internal/TimeProbe.h"
#include "SyncEngine/internal/TwoWayRun.h"
#include "SyncEngine/internal/TwoWayTransferState.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/ItemVersion.h"
#include "tests/support/MemoryLog.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>
#include <cmath>
#include <fstream>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

using test::MemoryLog;

TEST(SideStat, LooksBelowTheRootWithoutFollowingALinkAndAGoneRootHoldsNothing) {
    test::TemporaryFolder tmp;
    tmp.write("d/f", "12345");
    fs::create_directory_symlink(tmp / "d", tmp / "dl");
    ASSERT_EQ(::mkfifo((tmp / "p").c_str(), 0600), 0);
    SideStat disk(tmp.path());
    const auto kind = [&](std::string_view path) -> std::optional<EntryKind> {
        const std::optional<struct stat> info = disk.stat(path);
        if (!info) return std::nullopt;
        return ItemVersion::kindOf(info->st_mode);
    };
    EXPECT_EQ(kind("d/f"), EntryKind::file);
    EXPECT_EQ(disk.stat("d/f")->st_size, 5);
    EXPECT_EQ(kind("d"), EntryKind::directory);
    EXPECT_EQ(kind("dl"), EntryKind::symlink);  // the link itself
    EXPECT_EQ(kind("p"), EntryKind::other);
    EXPECT_EQ(kind("dl/f"), std::nullopt);  // never through the link
    EXPECT_EQ(kind("d/f/x"), std::nullopt);
    EXPECT_EQ(kind("missing/f"), std::nullopt);
    EXPECT_EQ(kind("d/f"), EntryKind::file);  // after other folders
    // A gone root holds nothing; one that cannot be opened fails each look-up.
    EXPECT_EQ(SideStat(tmp / "gone").stat("x"), std::nullopt);
    SideStat unopenable(tmp / std::string(300, 'x'));  // too long a name to open
    EXPECT_THROW(unopenable.stat("x"), FileError);
    EXPECT_THROW(unopenable.stat("y"), FileError);
}

constexpr std::int64_t year2500 = 16'725'225'600;
constexpr std::int64_t year1900 = -2'208'988'800;

// What this folder's file system makes of the time, on a file of its own.
std::int64_t keptByAFileIn(const fs::path& folder, std::int64_t seconds) {
    const fs::path file = folder / "probe";
    { std::ofstream(file) << "x"; }
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    EXPECT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0);
    fs::remove(file);
    return info.st_mtime;
}

TEST(TimeProbe, TriesOnlyTimesNotKeptEverywhereOnANamelessFileInTheReservedTemporaryFolder) {
    test::TemporaryFolder root;
    {
        TimeProbe probe(root.path());
        EXPECT_EQ(probe.kept(year2500), std::nullopt);  // no run has made the folder yet
        EXPECT_EQ(probe.kept(1'600'000'000), 1'600'000'000);
        EXPECT_TRUE(fs::is_empty(root.path()));
    }
    const fs::path scratch = root / ".KeltoSync" / "Temporary";
    fs::create_directories(scratch);
    const std::int64_t expected2500 = keptByAFileIn(scratch, year2500);
    const std::int64_t expected1900 = keptByAFileIn(scratch, year1900);
    TimeProbe probe(root.path());
    EXPECT_EQ(probe.kept(year2500), expected2500);
    EXPECT_EQ(probe.kept(year1900), expected1900);
    EXPECT_EQ(probe.kept(year2500), expected2500);  // asked again
    EXPECT_TRUE(probe.keepsAs(year2500, expected2500 + 2, 2));
    EXPECT_FALSE(probe.keepsAs(year2500, expected2500 + 3, 2));
    EXPECT_TRUE(fs::is_empty(scratch));
    // A link in the reserved folder's place is never followed.
    test::TemporaryFolder elsewhere;
    fs::create_directories(elsewhere / "Temporary");
    fs::remove_all(root / ".KeltoSync");
    fs::create_directory_symlink(elsewhere.path(), root / ".KeltoSync");
    EXPECT_EQ(TimeProbe(root.path()).kept(year2500), std::nullopt);
    EXPECT_FALSE(TimeProbe::keptEverywhere(315'532'800));  // 1980-01-01: FAT's first day, in its local time
    EXPECT_TRUE(TimeProbe::keptEverywhere(315'532'800 + 86'400));
    EXPECT_TRUE(TimeProbe::keptEverywhere(2'147'483'647 - 86'400));
    EXPECT_FALSE(TimeProbe::keptEverywhere(2'147'483'647));  // the last second of 32-bit times
    EXPECT_FALSE(TimeProbe::keptEverywhere(-1));
}

TEST(TwoWayRun, NewBaselineKeepsOldEntriesBelowUnsettledKeys) {
    const SideListing a{{"d", EntryKind::directory, 4096, 5}, {"d/x", EntryKind::file, 2, 50},
                        {"same", EntryKind::file, 1, 10},       {"window", EntryKind::file, 1, 10},
                        {"kind", EntryKind::file, 1, 10},       {"only-a", EntryKind::file, 1, 10}};
    const SideListing b{{"d", EntryKind::directory, 64, 9}, {"d/x", EntryKind::file, 2, 50},
                        {"same", EntryKind::file, 1, 10},     {"window", EntryKind::file, 1, 12},
                        {"kind", EntryKind::symlink, 1, 10}};
    const Baseline old{{"d/x", {EntryKind::file, 1, 1}}, {"gone", {EntryKind::file, 7, 7}}, {"d/old", {EntryKind::file, 3, 3}}};
    const Baseline settled = TwoWayRun::newBaseline(a, b, old, {}, 1);
    EXPECT_EQ(settled, (Baseline{{"d", {EntryKind::directory, 4096, 5}}, {"d/x", {EntryKind::file, 2, 50}},
                                 {"same", {EntryKind::file, 1, 10}}}));
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, old, {}, 2).size(), 4u);  // "window" agrees within 2 s
    // An unsettled folder keeps the old entries of everything below it,
    // replacing agreeing ones; keys it does not cover are settled as usual.
    const Baseline unsettled = TwoWayRun::newBaseline(a, b, old, {"d", "gone"}, 1);
    EXPECT_EQ(unsettled, (Baseline{{"d", {EntryKind::directory, 4096, 5}}, {"d/old", {EntryKind::file, 3, 3}},
                                   {"d/x", {EntryKind::file, 1, 1}}, {"gone", {EntryKind::file, 7, 7}},
                                   {"same", {EntryKind::file, 1, 10}}}));
    // Agreed files held at `racyFrom` or later are marked racy; an old entry
    // kept keeps its mark, and is marked where the old marks are unknown.
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, old, {}, 1, nullptr, {}, 10).racyKeys(),
              (std::vector<std::string>{"d/x", "same"}));
    Baseline::Builder unknown;
    unknown.add("gone", {EntryKind::file, 7, 7});
    unknown.marksUnknown();
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, std::move(unknown).build(), {"gone"}, 1, nullptr, {}, 50).racyKeys(),
              (std::vector<std::string>{"d/x", "gone"}));
}

TEST(TwoWayRun, NewBaselineTakesTheTimeAsGivenWhereOneSideClampedIt) {
    // Side B's file system keeps no time past 1000; A's keeps every time.
    const TwoWayPlanner::KeptTime clampOnB = [](Side side, std::int64_t t) -> std::optional<std::int64_t> {
        return side == Side::b ? std::min<std::int64_t>(t, 1000) : t;
    };
    SideEntry untimed{"untimed", EntryKind::file, 1, 0};
    untimed.timeKnown = false;
    const SideListing a{{"to-b", EntryKind::file, 1, 2000}, {"to-a", EntryKind::file, 1, 1000},
                        {"other", EntryKind::file, 1, 2000}, untimed};
    const SideListing b{{"to-b", EntryKind::file, 1, 1000}, {"to-a", EntryKind::file, 1, 3000},
                        {"other", EntryKind::file, 1, 990}, untimed};
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, {}, {}, 1, clampOnB),
              (Baseline{{"to-b", {EntryKind::file, 1, 2000}}}));
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, {}, {}, 1), Baseline{});
    // The same with the sides the other way round: A's time is the one given.
    const TwoWayPlanner::KeptTime clampOnA = [&](Side side, std::int64_t t) {
        return clampOnB(side == Side::a ? Side::b : Side::a, t);
    };
    EXPECT_EQ(TwoWayRun::newBaseline(b, a, {}, {}, 1, clampOnA),
              (Baseline{{"to-b", {EntryKind::file, 1, 2000}}}));
}

TEST(TwoWayRun, RenamesRespellTheLeadingComponentsTheyShare) {
    TwoWayRun::Renames renames;
    EXPECT_EQ(renames.apply("docs/x"), "docs/x");
    renames.add("docs/photo.JPG", "Docs/Photo.jpg");
    EXPECT_EQ(renames.apply("docs/photo.JPG"), "Docs/Photo.jpg");
    EXPECT_EQ(renames.apply("docs/other"), "Docs/other");
    EXPECT_EQ(renames.apply("docsx/photo.JPG"), "docsx/photo.JPG");
    EXPECT_EQ(renames.apply("docs"), "Docs");
    EXPECT_EQ(renames.apply("Docs/other"), "Docs/other");
}

int errorNumberOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const FileError& e) {
        return e.errorNumber();
    }
}

TEST(TwoWayTransferState, StartsFromThePlansCopiesAndSkippedFiles) {
    MemoryLog log;
    SyncPlan plan;
    plan.copies = {{"a", 10, Side::b}, {"b", 20, Side::a}};
    plan.skipped = {{"x", FileSkipReason::typeConflict}};
    TwoWayTransferState state(plan, log, nullptr);
    EXPECT_EQ(state.aggregator.bytesTotal, 30);
    EXPECT_EQ(state.aggregator.filesTotal, 2);
    EXPECT_EQ(state.total, 30);
    EXPECT_EQ(state.stats, (RunStats{0, 0, 0, plan.skipped, {}}));
    EXPECT_TRUE(std::isinf(state.lastEmission) && state.lastEmission < 0);
    // Absurd sizes saturate instead of wrapping.
    plan.copies = {{"a", INT64_MAX, Side::b}, {"b", 1, Side::a}};
    EXPECT_EQ(TwoWayTransferState(plan, log, nullptr).total, INT64_MAX);
}

TEST(TwoWayTransferState, LogKeepsTheFirstWriteFailureAndDropsLaterLines) {
    MemoryLog log;
    log.failFrom = 1;
    TwoWayTransferState state(SyncPlan{}, log, nullptr);
    state.writeLogLine("Could not archive or remove: caf\xC3\xA9");
    EXPECT_FALSE(state.logError);
    state.writeLogLine("lost");
    ASSERT_TRUE(state.logError);
    EXPECT_EQ(errorNumberOf(state.logError), ENOSPC);
    log.failFrom = SIZE_MAX;
    state.writeLogLine("dropped");  // nothing more is attempted
    EXPECT_EQ(log.lines, std::vector<std::string>{"Could not archive or remove: caf\xC3\xA9"});
}

TEST(TwoWayTransferState, QuotedPathsInDiagnosticsAreUnescapedBeforeKeying) {
    MemoryLog log;
    TwoWayTransferState state(SyncPlan{}, log, nullptr);
    state.startDirection({"caf\xC3\xA9.txt", "dir/plain", "tab\tname"}, {}, "/src", "/dst");
    // rsync escapes non-ASCII and control bytes in every name it prints; the
    // decomposed spelling keys to the precomposed one.
    state.recordDiagnostic("rsync: [sender] send_files failed to open \"/src/cafe\\#314\\#201.txt\": Permission denied (13)");
    state.recordDiagnostic("rsync: [receiver] mkstemp \"/dst/./dir/plain\" failed");
    state.recordDiagnostic("rsync: link_stat \"tab\\#011name\" failed");
    state.recordDiagnostic("no quotes here");
    state.recordDiagnostic("unterminated \"/src/last");
    EXPECT_EQ(state.reported, (PathKeySet{"caf\xC3\xA9.txt", "dir/plain", "tab\tname", "last"}));
    // With code 0 only the reported keys are unconfirmed; with another code
    // every expected key rsync did not itemise joins them.
    state.recordItem({">f+++++++++", 4, "dir/plain"}, 0);
    PathKeySet unconfirmed = state.endDirection(23);
    EXPECT_EQ(unconfirmed, (PathKeySet{"caf\xC3\xA9.txt", "dir/plain", "tab\tname", "last"}));
    state.startDirection({"a", "b"}, {}, "/dst", "/src");
    state.recordItem({">f+++++++++", 1, "a"}, 0);
    EXPECT_EQ(state.endDirection(23), PathKeySet{"b"});
    state.startDirection({"a", "b"}, {}, "/dst", "/src");
    EXPECT_TRUE(state.endDirection(0).empty());
}

}  // namespace
