// Two-way plans and the pieces of a run: side look-ups, kept times, the transfer's state, the new baseline.

#include "SyncEngine/TwoWayPlanner.h"

#include "SyncEngine/PathKey.h"
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
#include <fstream>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // plans are written by the fields they fill

using namespace kelto;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using R = TwoWayConflict::Resolution;

namespace {

SideEntry file(std::string path, std::int64_t size = 1, std::int64_t mtime = 100) {
    return {std::move(path), EntryKind::file, size, mtime};
}
SideEntry dir(std::string path, std::int64_t mtime = 100) { return {std::move(path), EntryKind::directory, 0, mtime}; }
SideEntry link(std::string path) { return {std::move(path), EntryKind::symlink, 4, 100}; }

Baseline baselineOf(const std::vector<SideEntry>& entries) {
    Baseline::Builder builder;
    for (const auto& e : entries) builder.add(PathKey::of(e.actualPath), {e.kind, e.size, e.mtime});
    return std::move(builder).build();
}

const std::string nfdE = "e\xCC\x81", nfcE = "\xC3\xA9";  // e + combining acute, precomposed é

TEST(PathKey, KeyIsTheComposedFormAndPathOrAncestorMatchesWholeComponentsOnly) {
    const std::string decomposed = "cafe\xCC\x81/x", composed = "caf\xC3\xA9/x";
    std::string storage;
    EXPECT_EQ(PathKey::of(decomposed), composed);
    EXPECT_EQ(PathKey::of(decomposed, storage), composed);
    EXPECT_EQ(PathKey::of(composed, storage), composed);
    const std::string ascii = "plain/path-that-is-longer-than-eight-bytes";
    EXPECT_EQ(PathKey::of(ascii, storage).data(), ascii.data());  // no copy
    // A decomposed letter anywhere is seen: in a whole word or in the tail.
    EXPECT_EQ(PathKey::of(ascii + "e\xCC\x81", storage), ascii + "\xC3\xA9");
    EXPECT_EQ(PathKey::of(ascii + "e\xCC\x81/and-a-long-tail", storage), ascii + "\xC3\xA9/and-a-long-tail");
    for (const char* key : {"a", "a/b", "a/b/c"}) EXPECT_TRUE(PathKey::isPathOrAncestor("a/b/c", PathKeySet{key}));
    EXPECT_FALSE(PathKey::isPathOrAncestor("a/b/c", PathKeySet{"a/bc", "b", "a/b/c/d"}));
    EXPECT_FALSE(PathKey::isPathOrAncestor("", PathKeySet{"a"}));
}

TEST(SideListing, LaterSpellingOfAKeyWinsKeepingTheOthersAsTwinsAndOrderedLookUpsFindEveryKey) {
    SideListing::Builder builder;
    builder.add(file("m" + nfcE, 1));
    builder.add(file("b", 2));
    builder.add(file("m" + nfdE, 3));  // same key, listed later
    EXPECT_EQ(builder.size(), 3u);
    const SideListing listing = std::move(builder).build();
    ASSERT_EQ(listing.size(), 2u);
    EXPECT_EQ(listing.find("m" + nfcE)->entry(), file("m" + nfdE, 3));
    EXPECT_FALSE(listing.find("m" + nfdE));
    std::size_t hint = 0;
    EXPECT_EQ(listing.findFrom("a", hint), std::nullopt);
    EXPECT_EQ(listing.findFrom("b", hint)->size, 2);
    EXPECT_EQ(listing.findFrom("m" + nfcE, hint)->size, 3);
    EXPECT_EQ(listing.findFrom("b", hint)->size, 2);  // out of order still works
    const SideListing twins{file("m" + nfcE, 1), file("b"), file("m" + nfdE, 3), file("m" + nfcE, 4), file("b")};
    EXPECT_EQ(twins.find("m" + nfcE)->entry(), file("m" + nfcE, 4));
    EXPECT_EQ(twins.spellingTwins(), Strings{"m" + nfdE});  // neither "b" again nor the kept spelling
    EXPECT_TRUE(SideListing({file("a"), file("b")}).spellingTwins().empty());
    EXPECT_EQ(SideListing({dir("d"), link("l"), file("f"), {"o", EntryKind::other, 0, 0}}).fileCount(), 3);
}

TEST(TwoWayPlanner, SmallPlansAreWhatTheChangeRulesMake) {
    using Entries = std::vector<SideEntry>;
    const Entries folders{dir("a"), dir("a/b"), dir("a/b/c"), dir("x"), dir("x/y"), dir("a-b")};
    const std::string aPath = "caf" + nfdE + "/m" + nfdE, bPath = "caf" + nfcE + "/m" + nfcE;
    const struct {
        const char* name;
        Entries a, b;
        std::optional<Entries> base;
        std::int64_t window;
        TwoWayPlan expected;
    } rows[]{
        {"one-sided copied, equal left", {file("new"), file("same", 5, 100), file("size", 5, 100)},
         {file("same", 5, 101), file("size", 6, 100)}, std::nullopt, 1,
         {.copyAtoB = {"new", "size"}, .conflicts = {{"size", R::aWins}}}},
        {"only an unchanged entry's deletion carries", {file("kept", 5, 100), file("edited", 6, 100), file("only-baseline-gone", 1, 1)},
         {}, Entries{file("kept", 5, 100), file("edited", 5, 100), file("gone-both", 1, 1)}, 0,
         {.copyAtoB = {"edited", "only-baseline-gone"}, .archiveOnA = {"kept"}, .deletionEntriesA = SideListing{file("kept", 5, 100)}}},
        {"folders removed deeper first", {}, folders, folders, 0,
         {.removeDirsOnB = {"a/b/c", "a/b", "x/y", "a", "a-b", "x"}, .deletionEntriesB = SideListing(folders)}},
        {"file against link", {file("p", 4, 100)}, {link("p")}, Entries{file("p", 4, 100)}, 0, {.copyBtoA = {"p"}}},
        {"within the baseline's window", {file("f", 1, 101)}, {file("f", 1, 99)}, Entries{file("f", 1, 100)}, 1, {}},
        {"normalised order", {file(nfdE), file("f"), file("z")}, {}, std::nullopt, 0, {.copyAtoB = {"f", "z", nfdE}}},
        {"two spellings, one key, A's copied", {dir("caf" + nfdE), file(aPath, 5, 200)}, {dir("caf" + nfcE), file(bPath, 4, 100)},
         Entries{file(bPath, 4, 100)}, 0, {.copyAtoB = {aPath}}},
        {"two spellings, one key, B wins", {dir("caf" + nfdE), file(aPath, 5, 200)}, {dir("caf" + nfcE), file(bPath, 3, 300)},
         Entries{file(bPath, 4, 100)}, 0, {.copyBtoA = {bPath}, .conflicts = {{bPath, R::bWins}}}},
        {"the reserved tree is never planned", {file(".KeltoSync"), file(".KeltoSync-notes"), file(".KeltoSync/Partial/x")},
         {dir(".KeltoSync"), dir(".KeltoSync/Archive"), file(".KeltoSync/Archive/old")},
         Entries{file(".KeltoSync/Partial/x"), file(".KeltoSync/Archive/old")}, 0, {.copyAtoB = {".KeltoSync-notes"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto base = row.base ? std::optional(baselineOf(*row.base)) : std::nullopt;
        EXPECT_EQ(TwoWayPlanner::plan(SideListing(row.a), SideListing(row.b), base, row.window), row.expected);
    }
}

TEST(TwoWayPlanner, TypeClashIsReportedAndEverythingBeneathItDropped) {
    // "x-y" and "x.z" sort between "x" and "x/…" and must not hide the clash from the later descendants.
    const SideListing a{dir("x"), file("x/in"), dir("x/sub"), file("x/sub/deep"), file("x-y", 2), dir("x-y/q"),
                        link("l")};
    const SideListing b{file("x"), file("x-y", 3), dir("l"), file("l/under"), file("x.z")};
    const auto base = baselineOf({file("x/in"), file("x-y", 1)});
    const auto plan = TwoWayPlanner::plan(a, b, base, 0);
    const std::vector<TwoWayConflict> conflicts{{"l", R::skippedTypeClash}, {"x", R::skippedTypeClash},
                                                {"x-y", R::aWins}};
    EXPECT_EQ(plan, (TwoWayPlan{.copyAtoB = {"x-y", "x-y/q"}, .copyBtoA = {"x.z"}, .conflicts = conflicts}));
    const SyncPlan view = TwoWayPlanner::makeSyncPlan(plan, a, b);
    EXPECT_EQ(view.skipped, (std::vector<SkippedFile>{{"l", FileSkipReason::typeConflict},
                                                       {"x", FileSkipReason::typeConflict}}));
    EXPECT_EQ(view.conflicts, (Strings{"l", "x", "x-y"}));
}

TEST(TwoWayPlanner, BothChangedBWinsOnlyWhenNewerByMoreThanTheWindow) {
    const auto base = baselineOf({file("f", 1, 0)});
    auto winner = [&](std::int64_t aTime, std::int64_t bTime, std::int64_t window) {
        const auto plan = TwoWayPlanner::plan(SideListing{file("f", 2, aTime)}, SideListing{file("f", 3, bTime)}, base,
                                              window);
        return plan.conflicts.at(0).resolution;
    };
    EXPECT_EQ(winner(100, 102, 2), R::aWins);   // exactly the window
    EXPECT_EQ(winner(100, 103, 2), R::bWins);
    EXPECT_EQ(winner(100, 100, 0), R::aWins);   // equal times
    EXPECT_EQ(winner(100, 101, -5), R::bWins);  // a negative window is 0
    EXPECT_EQ(winner(100, 50, 0), R::aWins);
    // Extreme times neither overflow nor flip the result.
    EXPECT_EQ(winner(INT64_MIN, INT64_MAX, 1), R::bWins);
    EXPECT_EQ(winner(INT64_MAX, INT64_MIN, 1), R::aWins);
}

TEST(TwoWayPlanner, FilesChangedOnBothSidesThatListAlikeAgreeOnlyWhereTheirContentsDo) {
    const SideListing a{file("alike", 2, 200), file("differ", 2, 200), file("made on both", 2, 200),
                        file("on A", 2, 200), file("unchanged")};
    const SideListing b{file("alike", 2, 200), file("differ", 2, 200), file("made on both", 2, 200), file("on A"),
                        file("unchanged")};
    const auto base = baselineOf({file("alike"), file("differ"), file("on A"), file("unchanged")});
    Strings asked;
    const auto sameContents = [&asked](std::string_view onA, std::string_view onB) {
        asked.emplace_back(onB);
        return onA == "alike";
    };
    const auto plan = TwoWayPlanner::plan(a, b, base, 0, nullptr, sameContents);
    EXPECT_EQ(asked, (Strings{"alike", "differ", "made on both"}));
    EXPECT_EQ(plan.conflicts, (std::vector<TwoWayConflict>{{"differ", R::aWins}, {"made on both", R::aWins}}));
    EXPECT_EQ(plan.copyAtoB, (Strings{"differ", "made on both", "on A"}));
    asked.clear();
    TwoWayPlanner::plan(a, b, std::nullopt, 0, nullptr, sameContents);
    EXPECT_TRUE(asked.empty());
}

TEST(TwoWayPlanner, ARacyEntryIsNotTrustedAsUnchanged) {
    const SideListing a{file("ahead", 2, 500), file("ahead-gone", 2, 500), file("diff", 2), file("gone-b", 2),
                        file("on-a", 3, 50), file("on-b", 2), file("plain", 2), file("same", 2)};
    const SideListing b{file("ahead", 2, 500), file("diff", 2), file("gone-a", 2), file("on-a", 2),
                        file("on-b", 3), file("plain", 2), file("same", 2)};
    Strings asked;
    const auto sameContents = [&asked](std::string_view onA, std::string_view) {
        asked.emplace_back(onA);
        return onA != "diff";
    };
    for (const bool known : {true, false}) {
        SCOPED_TRACE(known ? "marked" : "marks unknown");
        Baseline::Builder builder;
        for (const char* name : {"diff", "gone-a", "gone-b", "on-a", "on-b", "plain", "same"})
            builder.add(name, {EntryKind::file, 2, 100}, known && std::string_view(name) != "plain");
        for (const char* name : {"ahead", "ahead-gone"}) builder.add(name, {EntryKind::file, 2, 500}, known);
        if (!known) builder.marksUnknown();
        asked.clear();
        const auto plan = TwoWayPlanner::plan(a, b, std::move(builder).build(), 0, nullptr, sameContents, 300);
        EXPECT_EQ(asked, (known ? Strings{"diff", "same"} : Strings{"diff", "plain", "same"}));
        EXPECT_EQ((std::tie(plan.copyAtoB, plan.copyBtoA, plan.archiveOnA, plan.archiveOnB, plan.conflicts)),
                  (known ? std::tuple(Strings{"diff", "gone-b", "on-a"}, Strings{"gone-a", "on-b"},
                                     Strings{"ahead-gone"}, Strings{},
                                     std::vector<TwoWayConflict>{{"diff", R::aWins}, {"on-a", R::aWins},
                                                                 {"on-b", R::bWins}})
                        : std::tuple(Strings{"diff", "on-a"}, Strings{"on-b"}, Strings{"ahead-gone", "gone-b"},
                                     Strings{"gone-a"}, std::vector<TwoWayConflict>{{"diff", R::aWins}})));
    }
}

TEST(TwoWayPlanner, SyncPlanShowsFileCopiesWithTheVersionsTheyReplace) {
    const SideListing a{dir("new-folder"), file("new-folder/f", 10), file("over", 20, 300), file("gone", 1)};
    const SideListing b{file("over", 21, 100), file("del-b", 7), dir("d")};
    const auto base = baselineOf({file("over", 21, 100), file("del-b", 7), dir("d"), file("gone", 1), dir("x")});
    TwoWayPlan plan = TwoWayPlanner::plan(a, b, base, 0);
    plan.skipped = {{"big", FileSkipReason::tooLargeForFAT}};
    const SyncPlan view = TwoWayPlanner::makeSyncPlan(plan, a, b);
    EXPECT_EQ(view.copies, (std::vector<PlannedCopy>{{"new-folder/f", 10, Side::b}, {"over", 20, Side::b}}));
    EXPECT_EQ(view.archives, (std::vector<PlannedArchive>{{"over", Side::b}, {"gone", Side::a}, {"del-b", Side::b}}));
    EXPECT_EQ(view.skipped, (std::vector<SkippedFile>{{"big", FileSkipReason::tooLargeForFAT}}));
    EXPECT_EQ(std::tuple(view.entryCountA, view.entryCountB, view.deletionCount), std::tuple(3, 2, 0));
}

SkippedFile twin(std::string path) { return {std::move(path), FileSkipReason::normalisationTwin}; }
SkippedFile outOfRange(std::string path) { return {std::move(path), FileSkipReason::timeOutOfRange}; }

TEST(TwoWayPlanner, NamesSpelledTwiceOnOneSideAreSkippedWithAllBeneathThem) {
    const SideListing a{file("m" + nfcE, 1), file("m" + nfdE, 2),         dir("d" + nfcE),
                        dir("d" + nfdE),     file("d" + nfcE + "/x", 5),  file("d" + nfdE + "/y", 6),
                        file("plain", 1, 200)};
    const SideListing b{file("m" + nfcE, 7, 300), file("d" + nfcE + "/gone-on-a"), file("plain")};
    const auto base = baselineOf({file("m" + nfcE), dir("d" + nfcE), file("d" + nfcE + "/gone-on-a"), file("plain")});
    const TwoWayPlan plan = TwoWayPlanner::plan(a, b, base, 0);
    EXPECT_EQ(plan, (TwoWayPlan{.copyAtoB = {"plain"},
                                .skipped = {twin("d" + nfdE), twin("d" + nfcE), twin("d" + nfcE + "/gone-on-a"),
                                            twin("d" + nfcE + "/x"), twin("d" + nfdE + "/y"), twin("m" + nfdE),
                                            twin("m" + nfcE)}}));
    EXPECT_EQ(TwoWayPlanner::plan(b, a, base, 0).skipped.size(), plan.skipped.size());
}

TEST(TwoWayPlanner, AFileWhoseTimeTheListingCouldNotShowIsSkippedOnBothSides) {
    const auto untimed = [](SideEntry e) {
        e.mtime = 0;
        e.timeKnown = false;
        return e;
    };
    const SideListing a{untimed(file("new")), untimed(file("deleted-on-b")), untimed(file("both")), file("on-b")};
    const SideListing b{untimed(file("both")), untimed(file("on-b", 2)), untimed(file("only-on-b")),
                        file("other", 1, 5)};
    const auto base = baselineOf({file("deleted-on-b"), file("both"), file("on-b"), file("deleted-on-a")});
    EXPECT_EQ(TwoWayPlanner::plan(a, b, base, 0),
              (TwoWayPlan{.copyBtoA = {"other"},
                          .skipped = {outOfRange("both"), outOfRange("deleted-on-b"), outOfRange("new"),
                                      outOfRange("on-b"), outOfRange("only-on-b")}}));
    // A folder's time matters only where its removal is judged.
    const SideListing folders{untimed(dir("kept")), untimed(dir("removed")), dir("x")};
    const TwoWayPlan withFolders = TwoWayPlanner::plan(folders, SideListing{dir("kept"), untimed(file("x"))},
                                                       baselineOf({dir("kept"), dir("removed")}), 0);
    EXPECT_EQ(withFolders, (TwoWayPlan{.conflicts = {{"x", R::skippedTypeClash}}, .skipped = {outOfRange("removed")}}));
}

// B's file system clamps every time to at most 1000, as ext4 does past 2446.
std::optional<std::int64_t> clampOnB(Side side, std::int64_t t) {
    return side == Side::b ? std::min<std::int64_t>(t, 1000) : t;
}

TEST(TwoWayPlanner, ATimeTheOtherSideClampedStandsForTheTimeItWasGiven) {
    const auto plan = [](const SideListing& a, const SideListing& b, std::optional<Baseline> base) {
        return TwoWayPlanner::plan(a, b, base, 1, clampOnB);
    };
    const auto f = [](std::int64_t size, std::int64_t mtime) { return SideListing{file("f", size, mtime)}; };
    EXPECT_EQ(plan(f(1, 2000), f(1, 1000), std::nullopt), TwoWayPlan{});
    const auto base = baselineOf({file("f", 1, 2000)});
    EXPECT_EQ(plan(f(1, 2000), f(1, 1000), base), TwoWayPlan{});
    EXPECT_EQ(TwoWayPlanner::plan(f(1, 2000), f(1, 1000), base, 1).copyBtoA, Strings{"f"});
    EXPECT_EQ(plan(f(1, 2000), f(1, 998), std::nullopt).conflicts.size(), 1u);
    EXPECT_EQ(plan(f(1, 2000), f(2, 500), base), (TwoWayPlan{.copyBtoA = {"f"}}));
    EXPECT_EQ(plan(f(2, 3000), f(1, 1000), base), (TwoWayPlan{.copyAtoB = {"f"}}));
    EXPECT_EQ(plan(SideListing{}, f(1, 1000), base).archiveOnB, Strings{"f"});
    EXPECT_EQ(plan(f(1, 2000), SideListing{}, base).archiveOnA, Strings{"f"});
    // A's file system keeps its times.
    EXPECT_EQ(plan(f(1, 1000), f(1, 1000), base), TwoWayPlan{});
    EXPECT_EQ(plan(f(1, 1000), SideListing{}, base).copyAtoB, Strings{"f"});
}

using test::MemoryLog;

TEST(SideStat, LooksBelowTheRootWithoutFollowingALinkAndAGoneRootHoldsNothing) {
    test::TemporaryFolder tmp;
    tmp.write("d/f", "12345");
    fs::create_directory_symlink(tmp / "d", tmp / "dl");
    ASSERT_EQ(::mkfifo((tmp / "p").c_str(), 0600), 0);
    SideStat disk(tmp.path());
    EXPECT_EQ(disk.stat("d/f")->st_size, 5);
    // The link itself, never what lies through it; "d/f" again after other folders.
    std::vector<std::optional<EntryKind>> kinds;
    for (const char* path : {"d/f", "d", "dl", "p", "dl/f", "d/f/x", "missing/f", "d/f"}) {
        const std::optional<struct stat> info = disk.stat(path);
        kinds.push_back(info ? std::optional(ItemVersion::kindOf(info->st_mode)) : std::nullopt);
    }
    EXPECT_EQ(kinds, (std::vector<std::optional<EntryKind>>{EntryKind::file, EntryKind::directory, EntryKind::symlink,
                                                            EntryKind::other, std::nullopt, std::nullopt, std::nullopt,
                                                            EntryKind::file}));
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
    test::TemporaryFolder elsewhere;
    fs::create_directories(elsewhere / "Temporary");
    fs::remove_all(root / ".KeltoSync");
    fs::create_directory_symlink(elsewhere.path(), root / ".KeltoSync");
    EXPECT_EQ(TimeProbe(root.path()).kept(year2500), std::nullopt);
    // From a day after FAT's first day (1980-01-01, in its local time) to a day before 32-bit times end.
    for (const auto& [seconds, kept] : {std::pair{315'532'800LL, false}, {315'532'800LL + 86'400, true},
                                        {2'147'483'647LL - 86'400, true}, {2'147'483'647LL, false}, {-1LL, false}})
        EXPECT_EQ(TimeProbe::keptEverywhere(seconds), kept) << seconds;
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
    // An unsettled folder keeps the old entries of everything below it, even of agreeing ones.
    const Baseline unsettled = TwoWayRun::newBaseline(a, b, old, {"d", "gone"}, 1);
    EXPECT_EQ(unsettled, (Baseline{{"d", {EntryKind::directory, 4096, 5}}, {"d/old", {EntryKind::file, 3, 3}},
                                   {"d/x", {EntryKind::file, 1, 1}}, {"gone", {EntryKind::file, 7, 7}},
                                   {"same", {EntryKind::file, 1, 10}}}));
    // Files agreed at `racyFrom` or later are racy; an old entry kept keeps its mark, or is racy if unknown.
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, old, {}, 1, nullptr, {}, 10).racyKeys(),
              (std::vector<std::string>{"d/x", "same"}));
    Baseline::Builder unknown;
    unknown.add("gone", {EntryKind::file, 7, 7});
    unknown.marksUnknown();
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, std::move(unknown).build(), {"gone"}, 1, nullptr, {}, 50).racyKeys(),
              (std::vector<std::string>{"d/x", "gone"}));
}

TEST(TwoWayRun, NewBaselineTakesTheTimeAsGivenWhereOneSideClampedIt) {
    SideEntry untimed{"untimed", EntryKind::file, 1, 0};
    untimed.timeKnown = false;
    const SideListing a{{"to-b", EntryKind::file, 1, 2000}, {"to-a", EntryKind::file, 1, 1000},
                        {"other", EntryKind::file, 1, 2000}, untimed};
    const SideListing b{{"to-b", EntryKind::file, 1, 1000}, {"to-a", EntryKind::file, 1, 3000},
                        {"other", EntryKind::file, 1, 990}, untimed};
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, {}, {}, 1, clampOnB),
              (Baseline{{"to-b", {EntryKind::file, 1, 2000}}}));
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, {}, {}, 1), Baseline{});
    const TwoWayPlanner::KeptTime clampOnA = [&](Side side, std::int64_t t) {
        return clampOnB(side == Side::a ? Side::b : Side::a, t);
    };
    EXPECT_EQ(TwoWayRun::newBaseline(b, a, {}, {}, 1, clampOnA),
              (Baseline{{"to-b", {EntryKind::file, 1, 2000}}}));
}

TEST(TwoWayTransferState, StartsFromThePlansCopies) {
    MemoryLog log;
    SyncPlan plan;
    plan.copies = {{"a", 10, Side::b}, {"b", 20, Side::a}};
    TwoWayTransferState state(plan, log, nullptr);
    EXPECT_EQ(std::tuple(state.aggregator.bytesTotal, state.aggregator.filesTotal, state.total), std::tuple(30, 2, 30));
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
    try {
        std::rethrow_exception(state.logError);
    } catch (const FileError& e) {
        EXPECT_EQ(e.errorNumber(), ENOSPC);
    }
    log.failFrom = SIZE_MAX;
    state.writeLogLine("dropped");  // nothing more is attempted
    EXPECT_EQ(log.lines, std::vector<std::string>{"Could not archive or remove: caf\xC3\xA9"});
}

TEST(TwoWayTransferState, QuotedPathsInDiagnosticsAreUnescapedBeforeKeying) {
    MemoryLog log;
    TwoWayTransferState state(SyncPlan{}, log, nullptr);
    state.startDirection({"caf\xC3\xA9.txt", "dir/plain", "tab\tname"}, {}, "/src", "/dst");
    // rsync escapes non-ASCII and control bytes; the decomposed spelling keys to the precomposed one.
    state.recordDiagnostic("rsync: [sender] send_files failed to open \"/src/cafe\\#314\\#201.txt\": Permission denied (13)");
    state.recordDiagnostic("rsync: [receiver] mkstemp \"/dst/./dir/plain\" failed");
    state.recordDiagnostic("rsync: link_stat \"tab\\#011name\" failed");
    state.recordDiagnostic("no quotes here");
    state.recordDiagnostic("unterminated \"/src/last");
    EXPECT_EQ(state.reported, (PathKeySet{"caf\xC3\xA9.txt", "dir/plain", "tab\tname", "last"}));
    // With another code than 0, every expected key rsync did not itemise is unconfirmed too.
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
