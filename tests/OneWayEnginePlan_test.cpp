// Plans of mirror and copy jobs from dry runs, and the checks before any.

#include "tests/OneWayEngineFixture.h"

#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/RsyncProcessError.h"
#include "SyncEngine/internal/OverlapMarkers.h"
#include "SyncModel/Support/Unicode.h"

#include <sys/mount.h>
#include <unistd.h>

#include <memory>

using namespace kelto;
using namespace kelto::test;

namespace {

bool isClosingCount(const SyncProgress& p) {
    return p.phase == SyncPhase::scanning && p.scannedItems > 0 && !p.currentPath;
}

}  // namespace

// Skipped names holding wildcards must exclude themselves only: rsync reads
// the exclude file with its pattern rules. Onto a volume that ignores case
// names are matched folding normal forms too: two that differ only in
// normalisation are skipped, as twins.
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

    std::vector<SyncProgress> reports;
    const SyncPlan p = plan(&reports);
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(), isClosingCount), 2);
    EXPECT_EQ(reports.back().scannedItems, 16);  // the first dry run's lines
    EXPECT_EQ(copyPaths(p), (std::vector<std::string>{"a", "big-small", "other.txt", "qzx", "w\\x"}));
    EXPECT_EQ(p.skipped.size(), 10u);  // four too large, Docs/ and docs/ with what they hold, two twins
    EXPECT_EQ(twins(p), 2);
    EXPECT_EQ(p.entryCountA, 13);  // skipped entries still count

    const auto [stats, exit] = run(p);
    EXPECT_EQ(exit.code, 0) << testing::PrintToString(exit.stderrTail);
    EXPECT_EQ(entries(dst), copyPaths(p));
    EXPECT_EQ(stats.skipped, p.skipped);

    // rsync itemises a skipped file as new on every fresh look; the transfer's
    // exclude file hides it, so a mirror left with only skips starts no transfer.
    const SyncPlan again = plan();
    const std::size_t before = script.calls().size();
    EXPECT_EQ(run(again).second, RsyncExit(0, {}));
    EXPECT_EQ(script.calls().size() - before, 1u) << "the fresh dry run only";
}

// The lists of paths to leave out lie in the job's own private folder, and
// what a killed run left there goes.
TEST_F(OneWayEngineTest, TheListsOfPathsToLeaveOutAreTheUsersAlone) {
    put(src / "big", std::string(200, 'b'));
    put(src / "small", "s");
    traits.maxFileSize = 100;
    fs::create_directories(engine.listFolder);
    const fs::path leftover = engine.listFolder / "KeltoSync-excludes-0A1B2C3D-LEFT-BY-A-KILLED-RUN";
    std::ofstream(leftover) << "/private/name";
    const auto excluding = [](const std::vector<std::string>& arguments) {
        return std::any_of(arguments.begin(), arguments.end(),
                           [](const std::string& argument) { return argument.starts_with("--exclude-from="); });
    };
    std::vector<fs::path> lists;
    for (int i = 0; i < 2; ++i)  // the plan's second dry run, then the transfer
        script.expect(excluding)
            .then([&] {
                const fs::path list = script.calls().back().option("--exclude-from").value_or("");
                lists.push_back(list);
                EXPECT_EQ(list.parent_path(), fs::absolute(engine.listFolder));
                EXPECT_TRUE(list.filename().string().starts_with("KeltoSync-excludes-")) << list;
                EXPECT_EQ(fs::status(list).permissions(), fs::perms(0600)) << list;
                EXPECT_EQ(fs::status(engine.listFolder).permissions(), fs::perms(0700));
                EXPECT_FALSE(fs::exists(leftover));
            })
            .passThrough();
    const SyncPlan p = plan();
    EXPECT_EQ(run(p).second.code, 0);
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_NE(lists[0], lists[1]);
    for (const fs::path& list : lists) EXPECT_FALSE(fs::exists(list));
}

// rsync quietly drops an exclude line longer than its buffer, so a skipped
// path whose escaped form is longer would be copied after all.
TEST_F(OneWayEngineTest, ASkipTooLongForTheExcludeFileFailsThePlan) {
    traits.maxFileSize = 1;
    // "/", then ten components of 200 wildcards escaped, with their slashes: 4011 bytes.
    std::string folder;
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
    put(tmp / "file");
    fs::create_directories(tmp / "x/a/b");
    fs::create_directories(tmp / "x/ab");
    fs::create_directory_symlink(tmp / "x/a", tmp / "alias");

    const std::vector<std::tuple<fs::path, fs::path, std::string>> cases{
        {tmp / "missing", dst, "endpointMissing"},        {src, tmp / "file", "endpointMissing"},
        {tmp / "x/a", tmp / "x/ab", "ran rsync"},         {tmp / "x/a", tmp / "x/a/b", "nestedEndpoints"},
        {tmp / "x/a/b", tmp / "x/a/", "nestedEndpoints"}, {tmp / "alias", tmp / "x/a", "nestedEndpoints"}};
    for (const auto& [from, to, code] : cases) EXPECT_EQ(codeOf(from, to), code) << from << " " << to;
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

TEST_F(OneWayEngineTest, DryRunExitsDecideThePlan) {
    // 24: files vanished while scanning, which still plans.
    script.expect(ScriptedRsyncRunner::dryRun())
        .out(">f+++++++++ 3 0 kept\n.d          0 0 ./\n")
        .err("file has vanished: \"/src/gone\"\n")
        .exit(24);
    EXPECT_EQ(copyPaths(plan()), std::vector<std::string>{"kept"});

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

// With time standing still only the first line of a scan is reported.
TEST_F(OneWayEngineTest, ScanReportsAreThrottled) {
    ManualClock clock;
    engine.clock = &clock;
    std::string lines;
    for (int i = 0; i < 300; ++i) lines += RsyncLines::itemized(">f+++++++++", 1, "f" + std::to_string(i));
    script.expect(ScriptedRsyncRunner::dryRun()).out(lines);
    std::vector<SyncProgress> reports;
    plan(&reports);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0], phaseOnly(SyncPhase::scanning));
    EXPECT_EQ(reports[1].currentPath, "f0");
    EXPECT_EQ(reports[1].scannedItems, 1);
    EXPECT_EQ(reports[2], phaseOnly(SyncPhase::scanning, 300));
    EXPECT_EQ(reports[3], phaseOnly(SyncPhase::planning, 300));
}

// Filters that would hide the markers or the reserved folder from a walk
// (a side shown inside the other where the mounts tell nothing) do not.
TEST_F(OneWayEngineTest, NoFilterHidesTheMarkersFromTheWalks) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to bind-mount a folder";
    tmp.write("src/one.txt", "one");
    fs::create_directories(src / ".KeltoSync/Archive");
    fs::create_directories(dst / "inner");
    ASSERT_EQ(::mount(src.c_str(), (dst / "inner").c_str(), nullptr, MS_BIND, nullptr), 0);
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
        &dst, [](const fs::path* d) { ::umount2((*d / "inner").c_str(), MNT_DETACH); });
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

// A user's files merely named like markers are planned, copied and kept;
// another job's marker at a shared side's top is no item of this run.
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
