// Mirror and copy jobs through the real rsync.

#include "tests/TwoWayEngineFixture.h"

#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/RsyncProcessError.h"
#include "SyncEngine/SpellingAlignment.h"
#include "SyncEngine/TransferScratch.h"
#include "SyncEngine/internal/OverlapMarkers.h"
#include "SyncModel/Support/Unicode.h"

#include <thread>
#include <tuple>

using namespace kelto;
using namespace kelto::test;

// rsync reads the exclude file with its pattern rules, so skipped names holding wildcards must
// exclude only themselves. Where case is ignored, names differing in normalisation are twins.
TEST_F(OneWayEngineTest, SkipsTakeASecondDryRunAndExcludeOnlyThemselves) {
    const std::string big(200, 'b');
    for (const char* name : {"big*", "[ab]", "q?x", "w\\*"}) put(src / name, big);
    for (const char* name : {"big-small", "a", "qzx", "w\\x", "Docs/a.txt", "docs/b.txt", "other.txt", "caf\xC3\xA9",
                             "cafe\xCC\x81"})
        put(src / name, "s");
    const auto twins = [](const SyncPlan& p) {
        return std::ranges::count(p.skipped, FileSkipReason::normalisationTwin, &SkippedFile::reason);
    };
    EXPECT_EQ(twins(plan()), 0);
    traits.maxFileSize = 100;
    traits.caseSensitive = false;
    job.options.archiveEnabled = true;
    // The exclude lists are each run's own, made private and gone once used, whatever a killed run left.
    fs::create_directories(engine.listFolder);
    const fs::path leftover = engine.listFolder / "KeltoSync-excludes-0A1B2C3D-LEFT-BY-A-KILLED-RUN";
    std::ofstream(leftover) << "/private/name";
    const auto excluding = [](const std::vector<std::string>& arguments) {
        return std::ranges::any_of(arguments, [](const std::string& a) { return a.starts_with("--exclude-from="); });
    };
    std::vector<fs::path> lists;
    for (int i = 0; i < 2; ++i)  // the plan's second dry run, then the transfer
        script.expect(excluding)
            .then([&] {
                SCOPED_TRACE("TheListsOfPathsToLeaveOutAreTheUsersAlone");
                const fs::path list = script.calls().back().option("--exclude-from").value_or("");
                lists.push_back(list);
                EXPECT_EQ(list.parent_path(), fs::absolute(engine.listFolder));
                EXPECT_TRUE(list.filename().string().starts_with("KeltoSync-excludes-")) << list;
                EXPECT_EQ(fs::status(list).permissions(), fs::perms(0600)) << list;
                EXPECT_EQ(fs::status(engine.listFolder).permissions(), fs::perms(0700));
                EXPECT_FALSE(fs::exists(leftover));
            })
            .passThrough();
    std::vector<SyncProgress> reports;
    const SyncPlan p = plan(&reports);
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(), [](const SyncProgress& r) {
                  return r.phase == SyncPhase::scanning && r.scannedItems > 0 && !r.currentPath;
              }),
              2);  // each dry run's closing count
    EXPECT_EQ(reports.back().scannedItems, 16);  // the first dry run's lines
    EXPECT_EQ(copyPaths(p), (std::vector<std::string>{"a", "big-small", "other.txt", "qzx", "w\\x"}));
    EXPECT_EQ(p.skipped.size(), 10u);  // four too large, Docs/ and docs/ with what they hold, two twins
    EXPECT_EQ(twins(p), 2);
    EXPECT_EQ(p.entryCountA, 13);  // skipped entries still count
    const auto [stats, exit] = run(p);
    EXPECT_EQ(exit.code, 0) << testing::PrintToString(exit.stderrTail);
    EXPECT_EQ(entries(dst), copyPaths(p));
    EXPECT_EQ(stats.skipped, p.skipped);
    {
        SCOPED_TRACE("TheListsOfPathsToLeaveOutAreTheUsersAlone");
        ASSERT_EQ(lists.size(), 2u);
        EXPECT_NE(lists[0], lists[1]);
        for (const fs::path& list : lists) EXPECT_FALSE(fs::exists(list));
    }

    // rsync itemises a skipped file as new on every fresh look: only skips start no transfer.
    const SyncPlan again = plan();
    const std::size_t before = script.calls().size();
    EXPECT_EQ(run(again).second, RsyncExit(0, {}));
    EXPECT_EQ(script.calls().size() - before, 1u) << "the fresh dry run only";
}

// rsync quietly drops an exclude line longer than its buffer: such a skip would be copied after all.
TEST_F(OneWayEngineTest, ASkipTooLongForTheExcludeFileFailsThePlan) {
    traits.maxFileSize = 1;
    std::string folder;  // 4011 bytes, escaped
    for (int i = 0; i < 10; ++i) folder += std::string(200, '?') + "/";
    const std::string longest = folder + std::string(84, 'a');
    ASSERT_EQ(PreflightSkips::excludeFileContents({{longest, FileSkipReason::tooLargeForFAT}}).size(), 4095u + 1);
    put(src / longest, "big");
    put(src / "small", "s");
    const SyncPlan p = plan();
    EXPECT_EQ(p.skipped, (std::vector<SkippedFile>{{longest, FileSkipReason::tooLargeForFAT}}));
    EXPECT_EQ(copyPaths(p), Lines{"small"});
    EXPECT_EQ(run(p).second.code, 0);
    EXPECT_TRUE(fs::exists(dst / "small") && !fs::exists(dst / longest));
    std::string tooLong = folder;  // one byte more, ending in two-byte characters
    for (int i = 0; i < 42; ++i) tooLong += "\xC3\xA9";
    tooLong += "b";
    put(src / tooLong, "big");
    fs::remove(dst / "small");
    const auto error = thrown<OneWayEngineError>([&] { plan(); });
    ASSERT_EQ(error, OneWayEngineError::skipTooLong(tooLong)) << "planned a skip rsync would not honour";
    const std::string text = error->what();
    EXPECT_LT(text.size(), 300u) << "the path is shortened";
    EXPECT_TRUE(Unicode::isValidUtf8(text)) << text;
    EXPECT_NE(text.find("\"" + std::string(20, '?')), std::string::npos) << text;
    EXPECT_NE(text.find("\xC3\xA9" "b\""), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(dst / "small"));
}

TEST_F(OneWayEngineTest, ChecksComeBeforeAnyRsyncRun) {
    process.executable = tmp / "no-such-rsync";
    auto codeOf = [&](const fs::path& from, const fs::path& to) {
        try {
            engine.plan(job, from, to, traits);
        } catch (const OneWayEngineError& e) {
            return std::string(enumName(e.code()));
        } catch (const RsyncProcessError&) {
            return std::string("ran rsync");
        }
        return std::string("planned");
    };
    // Which folders each check refuses, the shared endpoint check's tests tell.
    fs::create_directories(src / "in");
    EXPECT_EQ(codeOf(tmp / "missing", dst), "endpointMissing");
    EXPECT_EQ(codeOf(src, src / "in"), "nestedEndpoints");
    EXPECT_EQ(codeOf(src, dst), "ran rsync");
    job.destination.volume.isReadOnly = true;
    EXPECT_EQ(codeOf(src, dst), "readOnlyDestination");
    job.mode = SyncMode::twoWay;
    EXPECT_EQ(codeOf(tmp / "missing", dst), "unsupportedMode");
    job.mode = SyncMode::mirror;
    job.destination.volume.isReadOnly = false;
    runID = "2025-03-07_141503-0A1B2C3D";
    EXPECT_EQ(refusal(SyncPlan{}), OneWayEngineError::invalidRunID());
    EXPECT_FALSE(fs::exists(dst / ".KeltoSync"));
}

// Scan reports are throttled by the engine's clock, which never moves here.
TEST_F(OneWayEngineTest, DryRunExitsDecideThePlan) {
    ManualClock clock;
    engine.clock = &clock;
    std::string lines;
    for (int i = 0; i < 300; ++i) lines += RsyncLines::itemized(">f+++++++++", 1, "f" + std::to_string(i));
    lines += ".d          0 0 ./\n";  // scanned, never copied
    // 24: files vanished while scanning, which still plans.
    script.expect(ScriptedRsyncRunner::dryRun()).out(lines).err("file has vanished: \"/src/gone\"\n").exit(24);
    std::vector<SyncProgress> reports;
    EXPECT_EQ(copyPaths(plan(&reports)).size(), 300u);
    SyncProgress first = phaseOnly(SyncPhase::scanning, 1);
    first.currentPath = "f0";
    const std::vector<SyncProgress> expected{phaseOnly(SyncPhase::scanning), first, phaseOnly(SyncPhase::scanning, 301),
                                             phaseOnly(SyncPhase::planning, 301)};
    EXPECT_EQ(reports, expected);
    script.expect(ScriptedRsyncRunner::dryRun())
        .out(">f+++++++++ 3 0 kept\n")
        .err("rsync: [sender] send_files failed to open \"x\": Permission denied (13)\n"
             "rsync error: some files/attrs were not transferred (code 23)\n")
        .exit(23);
    const auto failed = thrown<OneWayEngineError>([&] { plan(); });
    ASSERT_TRUE(failed);
    EXPECT_EQ(std::tuple(failed->code(), failed->exitCode(), failed->stderrTail().size()),
              std::tuple(OneWayEngineError::Code::scanFailed, 23, 2u));
    EXPECT_NE(std::string(failed->what()).find("not transferred (code 23)"), std::string::npos);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(thrown<OneWayEngineError>([&] { engine.plan(job, src, dst, traits, stop.get_token()); }),
              OneWayEngineError::scanFailed(20, {}));
}

// A side shown inside the other where the mounts tell nothing: markers tell, whatever the filters.
TEST_F(OneWayEngineTest, NoFilterHidesTheMarkersFromTheWalks) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to bind-mount a folder";
    tmp.write("src/one.txt", "one");
    fs::create_directories(src / ".KeltoSync/Archive");
    fs::create_directories(dst / "inner");
    ASSERT_TRUE(mounts.bind(src, dst / "inner"));
    for (const std::vector<std::string>& patterns :
         {std::vector<std::string>{".*"}, {"*Marker*"}, {"inner/.K*/"}, {".K*", "*-A", "*-B"}}) {
        job.filters.patterns = patterns;
        SCOPED_TRACE(patterns.front());
        for (int way = 0; way < 2; ++way, std::swap(src, dst)) {
            const auto error = thrown<OneWayEngineError>([&] { plan(); });
            EXPECT_EQ(error ? error->code() : OneWayEngineError::Code::scanFailed, OneWayEngineError::Code::nestedEndpoints);
        }
    }
}

// Another job's marker at a shared side's top is no item of this run.
TEST_F(OneWayEngineTest, AUsersFilesNamedLikeMarkersAreCopied) {
    const std::string prefix(OverlapMarkers::prefix);
    const std::vector<std::string> names{prefix + "notes.txt", "dir/" + prefix + "x-A"};
    for (const std::string& name : names) tmp.write("src/" + name, "mine");
    fs::create_directories(tmp / "other");
    const OverlapMarkers another(src, tmp / "other", {}, test::noMountOverlap());
    for (const SyncMode mode : {SyncMode::copy, SyncMode::mirror}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        fs::remove_all(dst);
        tmp.write("dst/" + prefix + "kept-B", "theirs");
        const SyncPlan p = plan();
        EXPECT_EQ(copyPaths(p), names);
        EXPECT_EQ(p.entryCountA, 2);
        run(p);
        for (const std::string& name : names) EXPECT_TRUE(fs::exists(dst / name)) << name;
        EXPECT_TRUE(fs::exists(src / names.front()));
        EXPECT_EQ(fs::exists(dst / (prefix + "kept-B")), mode == SyncMode::copy);
        EXPECT_EQ(entries(dst).size(), mode == SyncMode::copy ? 4u : 3u);
    }
}

TEST_F(OneWayEngineTest, MirrorRunArchivesWhatItReplacesAndDeletes) {
    job.options.archiveEnabled = true;
    putFiles(src, {{"changed.txt", "new content"}, {"dir/new.txt", "n"}});
    putFiles(dst, {{"changed.txt", "old"}, {"gone.txt", "g"}, {"olddir/x.txt", "x"}});
    std::vector<SyncProgress> reports;
    const auto [stats, exit] = run(plan(), {}, [&](const SyncProgress& p) { reports.push_back(p); });
    expectClean({stats, exit});
    EXPECT_EQ(tree(dst), tree(src));
    EXPECT_EQ(tree(runFolder()), (Files{{"changed.txt", "old"}, {"gone.txt", "g"}, {"olddir", "dir/"}, {"olddir/x.txt", "x"}}));
    // Held first, archived once known to be the version the plan saw.
    EXPECT_EQ(script.calls().back().option("--backup-dir"), heldIn());
    EXPECT_TRUE(fs::is_empty(dst / ".KeltoSync/Holding"));
    EXPECT_EQ(std::tuple(stats.filesArchived, stats.filesCopied, stats.bytesCopied), std::tuple(3, 2, 12));
    EXPECT_TRUE(std::ranges::any_of(log.lines, [](const std::string& l) {
        return l.starts_with(">f+++++++++ 1 ") && l.ends_with(" dir/new.txt");
    }));
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(std::tuple(reports.front().phase, reports.front().bytesDone), std::tuple(SyncPhase::transferring, 0l));
    const SyncProgress& last = reports[reports.size() - 3];
    EXPECT_EQ(std::tuple(last.bytesDone, last.filesDone), std::tuple(12l, 2l));
    EXPECT_EQ(reports[reports.size() - 2], phaseOnly(SyncPhase::archiving));
    EXPECT_EQ(reports.back(), phaseOnly(SyncPhase::finalizing));

    // A run folder stays only where the run archived something.
    const fs::path firstRunFolder = runFolder();
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        put(src / (std::string(enumName(mode)) + ".txt"), "new");
        nextRun(1);
        EXPECT_EQ(run(plan()).second.code, 0);
        EXPECT_FALSE(fs::exists(runFolder()));
    }
    put(src / "changed.txt", "newer content");
    nextRun(2);
    const auto second = run(plan());
    EXPECT_EQ(second.first.filesArchived, 1);
    EXPECT_EQ(contents(runFolder() / "changed.txt"), "new content");
    EXPECT_EQ(contents(firstRunFolder / "changed.txt"), "old");
}

// A plan a moment old is the last look; an older plan, or one a put-back made stale, is looked at
// again, and a copy job has no fresh look to vouch for nothing to do, so it transfers. A plan's age
// counts suspends, which the monotonic clock leaves out.
TEST_F(OneWayEngineTest, ARunWhosePlanHasNothingToDoEndsAfterThePlan) {
    struct SuspendingClock final : Clock {
        double sinceBoot = 1000;
        Date now() const override { return SystemClock::shared().now(); }
        double monotonicSeconds() const override { return 1000; }
        double secondsSinceBoot() const override { return sinceBoot; }
    } clock;
    engine.clock = &clock;
    putFiles(src, {{"a.txt", "same"}, {"taken.txt", "same"}});
    const fs::path interrupted = dst / ".KeltoSync/Holding/2025-03-07_141503-0a1b2c3d";
    const fs::path temporary = dst / TransferScratch::temporaryRelativePath() / "a.txt.Xy12Ab";
    std::vector<SyncProgress> reports;
    const auto runWith = [&](double wait) {
        const std::size_t before = script.calls().size();
        OneWayEngine::Basis basis;
        const SyncPlan p = engine.plan(job, src, dst, traits, {}, nullptr, &basis);
        clock.sinceBoot += wait;
        reports.clear();
        const auto result = engine.run(
            job, p, src, dst, traits, runID, log, {}, [&](const SyncProgress& r) { reports.push_back(r); }, &basis);
        return std::pair{result, script.calls().size() - before};
    };
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        ASSERT_EQ(run(plan()).second.code, 0);  // now in step
        put(interrupted / "taken.txt", "older");
        put(temporary, "half");
        auto [result, children] = runWith(OneWayEngine::currentPlanSeconds);
        EXPECT_EQ(children, 1u);
        RunStats expected;
        expected.errors = {"Kept from an interrupted run in .KeltoSync/Holding/2025-03-07_141503-0a1b2c3d (its place "
                           "is taken): taken.txt",
                           "Delete " + interrupted.native() + " once you no longer need what it holds"};
        EXPECT_EQ(result, std::pair(expected, RsyncExit(24, {})));  // a kept item, named: a warning
        ASSERT_GE(reports.size(), 3u);
        EXPECT_EQ(reports.front().phase, SyncPhase::transferring);
        EXPECT_EQ(reports.back(), phaseOnly(SyncPhase::finalizing));
        EXPECT_FALSE(fs::exists(temporary));
        std::tie(result, children) = runWith(OneWayEngine::currentPlanSeconds + 1);
        EXPECT_EQ(children, 2u) << "the mirror's fresh dry run, the copy's transfer";
        EXPECT_EQ(std::ranges::count(script.calls().back().arguments, "--dry-run"), mode == SyncMode::mirror ? 1 : 0);
        EXPECT_EQ(result.second.code, 24);  // named again while it stays
        put(interrupted / "extra.txt", "held");  // goes back as the run starts, after the plan
        std::tie(result, children) = runWith(0);
        EXPECT_EQ(children, 2u);
        EXPECT_EQ(result.first.errors.front(), "Put back from an interrupted run: extra.txt");
        fs::remove_all(dst / ".KeltoSync/Holding");
        fs::remove(dst / "extra.txt");
    }

    put(src / "new.txt", "new");
    auto [result, children] = runWith(OneWayEngine::currentPlanSeconds);
    EXPECT_EQ(children, 2u);
    EXPECT_EQ(result.second, RsyncExit(0, {}));
    EXPECT_EQ(contents(dst / "new.txt"), "new");
}

// A source emptied, or a deletion unlisted, since planning stops a mirror; a copy, or the archive, goes on.
TEST_F(OneWayEngineTest, DeletionsUnplannedSincePlanningStopAMirror) {
    putBoth("a.txt", "a");
    put(dst / "b.txt", "b");
    SyncPlan p = plan();
    fs::remove(src / "a.txt");
    const auto result = run(p);
    expectExit(result, 25, {"Source is empty — review and run again"});
    EXPECT_EQ(result.first.filesCopied + result.first.filesArchived, 0);
    EXPECT_EQ(entries(dst), (Lines{"a.txt", "b.txt"}));
    EXPECT_FALSE(fs::exists(runFolder()));
    EXPECT_TRUE(log.lines.empty());
    job.mode = SyncMode::copy;
    EXPECT_EQ(run(p).second.code, 0);
    job.mode = SyncMode::mirror;
    fresh();
    put(src / "a.txt", "a");
    put(dst / "old.txt", "o");
    p = plan();
    fs::remove(dst / "old.txt");  // as many deletions as planned: the bound alone would not stop it
    put(dst / "late.txt", "arrived after planning");
    EXPECT_EQ(run(p).second, RsyncExit(25, {std::string(OneWayEngine::deletionsChangedLine)}));
    EXPECT_EQ(entries(dst), Lines{"late.txt"});
    job.options.archiveEnabled = true;
    EXPECT_EQ(run(p).second.code, 0);
    EXPECT_EQ(contents(runFolder() / "late.txt"), "arrived after planning");
}

TEST_F(OneWayEngineTest, TransferEndingWith23Or24CountsWhatRsyncCopied) {
    using Script = ScriptedRsyncRunner;
    put(src / "a.txt", "aaaaa");
    const std::string copiedA = RsyncLines::itemized(">f+++++++++", 5, "a.txt");
    const std::string planned = copiedA + RsyncLines::itemized(">f+++++++++", 7, "b.txt");
    struct Case {
        SyncMode mode;
        std::int32_t code;
        std::string line;
        std::int64_t lastBytesDone;  // a vanished file counts as done
    };
    for (const Case& c : {Case{SyncMode::mirror, 23, "rsync: [sender] send_files failed to open \"b.txt\": "
                                                     "Permission denied (13)", 5},
                          Case{SyncMode::copy, 24, "file has vanished: \"b.txt\"", 12}}) {
        SCOPED_TRACE(c.code);
        job.mode = c.mode;
        log.lines.clear();
        script.expect(Script::dryRun()).out(planned);  // the plan
        if (c.mode == SyncMode::mirror) script.expect(Script::dryRun()).out(planned);  // the run's fresh look
        script.expect(Script::transfer())
            .out(copiedA + RsyncLines::progress(5, 41))
            .then([&] { put(dst / "a.txt", "aaaaa"); })  // what rsync wrote
            .err(c.line + "\n")
            .exit(c.code);
        std::vector<SyncProgress> reports;
        const auto result = run(plan(), {}, [&](const SyncProgress& p) { reports.push_back(p); });
        expectExit(result, c.code, {c.line});
        EXPECT_EQ(std::tuple(result.first.filesCopied, result.first.bytesCopied), std::tuple(1l, 5l));
        ASSERT_GE(reports.size(), 3u);
        EXPECT_EQ(std::tuple(reports[reports.size() - 3].bytesDone, reports[reports.size() - 3].filesDone),
                  std::tuple(c.lastBytesDone, 1l));
        EXPECT_EQ(log.lines.front(), copiedA.substr(0, copiedA.size() - 1));
        EXPECT_EQ(log.lines.back(), c.line);
        const auto transfer = script.calls().back();
        EXPECT_EQ(transfer.option("--max-delete"), c.mode == SyncMode::mirror ? std::optional<std::string>("0")
                                                                               : std::nullopt);
        EXPECT_EQ(transfer.arguments.back(), dst.native() + "/");
    }
}

TEST_F(OneWayEngineTest, CancelledTransferLeavesTheOldFileInPlace) {
    put(src / "big", std::string(128 << 20, 'n'));
    put(dst / "big", "old");
    const SyncPlan p = plan();
    std::stop_source stop;
    std::jthread watcher([&](std::stop_token done) {
        while (!done.stop_requested() && !stop.stop_requested()) {
            std::error_code ignored;
            for (const auto& e : fs::directory_iterator(dst / ".KeltoSync/Temporary", ignored))
                if (e.path().filename().native().starts_with("big.") && e.file_size(ignored) > 0) stop.request_stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const auto [stats, exit] = run(p, stop.get_token());
    watcher.request_stop();
    EXPECT_EQ(exit.code, 20);
    EXPECT_EQ(stats.filesCopied, 0);
    EXPECT_TRUE(contents(dst / "big") == "old") << "the old file was replaced";
    EXPECT_EQ(entries(dst), std::vector<std::string>{"big"});
}

// rsync itemises a folder or link taking a file's place as new; the file still goes, archived, and counts as B's.
TEST_F(OneWayEngineTest, AFolderOrLinkTakingAFilesPlaceArchivesTheFile) {
    job.options.archiveEnabled = true;
    for (SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        fresh(mode == SyncMode::mirror ? 0 : 1);
        put(src / "d/in.txt", "in");
        fs::create_symlink("target", src / "l");
        putFiles(dst, {{"d", "was a file"}, {"l", "was a file too"}});
        const SyncPlan p = plan();
        EXPECT_EQ(copyPaths(p), Lines{"d/in.txt"});
        EXPECT_EQ(std::tuple(p.entryCountA, p.entryCountB), std::tuple(2, 2));  // folders never count; the link does
        EXPECT_EQ(run(p).second, RsyncExit(0, {}));
        EXPECT_EQ(tree(runFolder()), (Files{{"d", "was a file"}, {"l", "was a file too"}}));
        EXPECT_TRUE(fs::is_symlink(dst / "l") && contents(dst / "d/in.txt") == "in");
    }
    // The plan's rename meets two folders where it expected one (a copy job takes no last look).
    SCOPED_TRACE("ARenameThatFailsKeepsTheTransferAwayAndIsNamed");
    job.mode = SyncMode::copy;
    job.options.archiveEnabled = false;
    fresh(2);
    putFiles(dst, {{"photos/x.jpg", "x"}, {"Photos/y.jpg", "y"}});
    putFiles(src, {{"Photos/x.jpg", "x changed"}, {"other.txt", "o"}});
    SyncPlan p = plan();
    p.renames = {{"photos", "Photos"}};
    expectExit(run(p), 23, {std::string(SpellingAlignment::failedLine) + "Photos: File exists"});
    EXPECT_EQ(tree(dst), (Files{{"Photos", "dir/"}, {"Photos/y.jpg", "y"}, {"other.txt", "o"}, {"photos", "dir/"},
                                {"photos/x.jpg", "x"}}));
}

// exFAT through FUSE takes two spellings of a name for one item: B's spelled otherwise than A's
// are renamed to A's spelling before the transfer, never deleted as if they were others.
class OneWaySpellingTest : public OneWayEngineTest {
protected:
    void SetUp() override {
        OneWayEngineTest::SetUp();
        if (!exfatB()) GTEST_SKIP() << "needs root, a loop device and exfat-fuse";
    }
};

// A copy job deletes nothing, yet rsync would keep B's spelling for good. Composed and decomposed
// names exFAT keeps apart are two items, never renamed.
TEST_F(OneWaySpellingTest, AMirrorRenamesWhatOnlyItsSpellingSetsApartAndDeletesNothingElse) {
    const std::string composed = "caf\xC3\xA9.txt", decomposed = "cafe\xCC\x81.txt";
    for (const auto& [mode, archive] :
         {std::pair(SyncMode::mirror, false), std::pair(SyncMode::mirror, true), std::pair(SyncMode::copy, false)}) {
        SCOPED_TRACE(std::string(enumName(mode)) + (archive ? ", archive on" : ", archive off"));
        const bool mirror = mode == SyncMode::mirror;
        job.mode = mode;
        job.options.archiveEnabled = archive;
        fresh(archive ? 1 : 0);
        putFiles(dst, {{"photos/x.jpg", "x"}, {"photos/trip/y.jpg", "y"}, {"photos/trip/Old.jpg", "o"}, {"report.txt", "r"},
                       {decomposed, "d"}});
        putFiles(src, {{"Photos/x.jpg", "x"}, {"Photos/Trip/y.jpg", "y changed"}, {"Report.txt", "r"}, {composed, "c"}});
        const SyncPlan p = plan();
        EXPECT_EQ(p.renames, (std::vector<PlannedRename>{
                                 {"photos", "Photos"}, {"report.txt", "Report.txt"}, {"Photos/trip", "Photos/Trip"}}));
        EXPECT_EQ(p.deletionCount, mirror ? 2 : 0);
        EXPECT_EQ(archivePaths(p), mirror ? (Lines{"Photos/Trip/Old.jpg", "Photos/Trip/y.jpg", decomposed})
                                          : Lines{"Photos/Trip/y.jpg"});
        EXPECT_EQ(copyPaths(p), (Lines{"Photos/Trip/y.jpg", composed}));
        EXPECT_EQ(p.entryCountB, 5);
        const auto [stats, exit] = run(p);
        expectClean({stats, exit});
        Files after{{"Photos", "dir/"}, {"Photos/Trip", "dir/"}, {"Photos/Trip/y.jpg", "y changed"},
                    {"Photos/x.jpg", "x"}, {"Report.txt", "r"}, {composed, "c"}};
        if (!mirror) after.insert({{"Photos/Trip/Old.jpg", "o"}, {decomposed, "d"}});
        EXPECT_EQ(tree(dst), after);
        if (archive) {
            EXPECT_EQ(stats.filesArchived, 3);  // the replaced and the deleted files, not the folder kept
            EXPECT_EQ(contents(runFolder() / "Photos/Trip/Old.jpg"), "o");
        }
        const SyncPlan next = plan();
        EXPECT_TRUE(next.copies.empty() && next.archives.empty() && next.renames.empty() && !next.deletionCount);
        if (!mirror) continue;
        fs::rename(src / "Photos", src / "photos");  // unplanned, the mirror would delete B's folder after all
        EXPECT_EQ(run(next).second.code, OneWayEngine::replanCode);
        EXPECT_EQ(tree(dst), after);
    }
}

TEST_F(OneWaySpellingTest, OnACardMountedInsideBOnlyTheCardsItemsAreRenamed) {
    dst = tmp / "B";
    fs::create_directories(dst / "card");
    ASSERT_TRUE(mounts.exfat(tmp / "card.img", dst / "card"));
    traits = ext4Traits();
    putFiles(dst, {{"card/photos/x.jpg", "x"}, {"Keep.txt", "k"}});
    putFiles(src, {{"card/Photos/x.jpg", "x changed"}, {"keep.txt", "k"}});
    const SyncPlan p = plan();
    EXPECT_EQ(p.renames, (std::vector<PlannedRename>{{"card/photos", "card/Photos"}}));
    EXPECT_EQ(run(p).second, RsyncExit(0, {}));
    EXPECT_EQ(tree(dst), (Files{{"card", "dir/"}, {"card/Photos", "dir/"}, {"card/Photos/x.jpg", "x changed"}, {"keep.txt", "k"}}));
}

// B's item at a name A spells twice is the very item both of A's names reach, not one A lacks.
TEST_F(OneWaySpellingTest, BsItemAtANameASpellsTwiceIsKeptWhateverItsSpelling) {
    const std::string composed = "caf\xC3\xA9", decomposed = "cafe\xCC\x81", upper = "CAF\xC3\x89";
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        fresh(archive ? 1 : 0);
        putFiles(src, {{"Report.txt", "1"}, {"report.txt", "2"}, {"Sub/x", "x"}, {"sub", "s"}, {composed, "c"},
                       {decomposed, "d"}, {"Dir/Note", "n"}, {"Dir/note", "m"}, {"Dir/other", "o"}});
        putFiles(dst, {{"REPORT.TXT", "kept"}, {"SUB/y", "kept"}, {upper, "kept"}, {"dir/NOTE", "kept"}, {"dir/other", "o"}});
        job.options.archiveEnabled = archive;
        const SyncPlan p = plan();
        EXPECT_EQ(std::tuple(p.renames, p.deletionCount, archivePaths(p)),
                  std::tuple(std::vector<PlannedRename>{{"dir", "Dir"}}, 0, Lines{}));
        EXPECT_EQ(run(p).second.code, 0);
        EXPECT_EQ(tree(dst), (Files{{upper, "kept"}, {"Dir", "dir/"}, {"Dir/NOTE", "kept"}, {"Dir/other", "o"},
                                    {"REPORT.TXT", "kept"}, {"SUB", "dir/"}, {"SUB/y", "kept"}}));
    }
}

TEST_F(OneWaySpellingTest, ItemsOfBThatCannotBeToldApartAreLeftAlone) {
    const std::string decomposedUpper = "CAFE\xCC\x81.txt", composedLower = "caf\xC3\xA9.txt",
                      composedA = "Caf\xC3\xA9.txt";
    for (const bool toldApart : {false, true}) {
        SCOPED_TRACE(toldApart ? "told apart" : "alike");
        fresh(toldApart ? 1 : 0);
        putFiles(dst, {{decomposedUpper, toldApart ? "AAAAAA" : "AAAA"}, {composedLower, "BBBB"}, {"other.txt", "old"}});
        put(src / composedA, "new content from A");
        job.options.archiveEnabled = true;
        const SyncPlan p = plan();
        EXPECT_EQ(p.renames, toldApart ? (std::vector<PlannedRename>{{composedLower, composedA}})
                                       : std::vector<PlannedRename>{});
        EXPECT_EQ(p.deletionCount, toldApart ? 2 : 1);
        EXPECT_EQ(archivePaths(p), toldApart ? (std::vector<std::string>{decomposedUpper, composedA, "other.txt"})
                                             : std::vector<std::string>{"other.txt"});
        EXPECT_EQ(run(p).second, RsyncExit(0, {}));
        EXPECT_EQ(tree(dst), (toldApart ? Files{{composedA, "new content from A"}}
                                        : Files{{decomposedUpper, "AAAA"}, {composedLower, "BBBB"}}));
    }
}
