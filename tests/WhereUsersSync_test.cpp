#include "tests/KeltoRunJobFixture.h"
#include "tests/support/TestVolumes.h"

#include "SyncAutomation/VolumeInspector.h"
#include "SyncModel/Support/Unicode.h"

#include <set>
#include <thread>

namespace kelto::test {
namespace {

using Mount = MountKind;

struct Place {
    Mount kind;
    char side = 'b';              // the side on the mount; 'i': the mount inside A
    const char* mode = "mirror";  // the job's
    bool withUuid = false;        // the side's volume has a UUID, as a disk of its own would
    bool archive = false;         // the engine's job's archive
    bool onServer = false;        // saves made on the sshfs server, behind its cache
    bool atTheLook = false;       // saves made once the plan's look ended, not as the transfer starts
};

std::string placeName(const ::testing::TestParamInfo<Place>& info) {
    const Place& p = info.param;
    return nameOf(p.kind) + (p.onServer ? "OnTheServer" : "") + (p.side != 'b' ? std::string("_") + p.side : "") +
           (std::string_view(p.mode) != "mirror" ? std::string("_") + p.mode : "") + (p.withUuid ? "_uuid" : "") +
           (p.archive ? "_archiveOn" : "") + (p.atTheLook ? "_atTheLook" : "");
}

void PrintTo(const Place& p, std::ostream* out) { *out << placeName({p, 0}); }

using Archived = std::multiset<std::pair<std::string, std::string>>;

// B's archive by path below a run's folder.
Archived archived(const fs::path& b) {
    Archived out;
    const fs::path root = b / ".KeltoSync/Archive";
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         ++it) {
        if (!it->is_regular_file()) continue;
        const fs::path relative = it->path().lexically_relative(root);  // job/run/path
        fs::path below;
        for (auto piece = std::next(relative.begin(), 2); piece != relative.end(); ++piece) below /= *piece;
        out.emplace(below.native(), contents(it->path()));
    }
    return out;
}

std::vector<std::string> held(const fs::path& b) {
    return fs::exists(b / ".KeltoSync/Holding") ? entries(b / ".KeltoSync/Holding") : std::vector<std::string>{};
}

// As an editor saves: the clock's time.
void save(const fs::path& file, std::string_view content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

std::int64_t wallSecond() { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); }

// What a save on these disks stamps: time() in a FUSE driver, the kernel's FAT and exFAT drivers.
std::int64_t coarseSecond() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return t.tv_sec;
}

void awaitNextSecond() {
    for (const std::int64_t last = coarseSecond(); coarseSecond() == last;)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// A version the plan never saw is once in place, archived or held, and named; returns where it is held.
fs::path expectWhereTheUserFindsIt(const fs::path& dst, const fs::path& runFolder, const std::string& path,
                                   const std::string& saved, const RunStats& stats) {
    fs::path heldIn;
    for (const std::string& item : held(dst))
        if (fs::path(item).filename() == fs::path(path).filename() &&
            contents(dst / ".KeltoSync/Holding" / item) == saved)
            heldIn = dst / ".KeltoSync/Holding" / *fs::path(item).begin();
    const bool inPlace = contents(dst / path) == saved, archived = contents(runFolder / path) == saved;
    EXPECT_EQ(inPlace + archived + !heldIn.empty(), 1) << inPlace << archived << heldIn;
    EXPECT_TRUE(std::any_of(stats.errors.begin(), stats.errors.end(),
                            [&](const std::string& line) { return line.ends_with(": " + path); }))
        << testing::PrintToString(stats.errors);
    return heldIn;
}

class OnAMount : public KeltoRunJobTest, public ::testing::WithParamInterface<Place> {
protected:
    MountedFolder mounted;
    fs::path mount;

    void SetUp() override {
        KeltoRunJobTest::SetUp();
        std::string whyNot;
        mount = mounted.make(GetParam().kind, GetParam().side == 'i' ? a : tmp / "place", whyNot);
        if (mount.empty()) GTEST_SKIP() << whyNot;
    }

    Json sync(const std::vector<std::string>& options) const { return run(options).out; }

    void expectSettled(const Json& out) const {
        EXPECT_EQ(out.value("outcome", "") + " " + out.value("message", "") + out.value("reason", ""), "success ");
        EXPECT_EQ(out["record"]["stats"]["errors"], Json::array());
        EXPECT_EQ(tree(b), tree(a));
        EXPECT_EQ(held(b), std::vector<std::string>{});
    }
};

using WhereUsersSyncEitherSide = OnAMount;
using WhereUsersSyncRacy = OnAMount;

TEST_P(WhereUsersSyncEitherSide, FilesCrossAndReplacedOnesReachTheArchive) {
    const Place& param = GetParam();
    if (param.side != 'i') (param.side == 'a' ? a : b) = mount;
    std::vector<std::string> options{"--mode", param.mode};
    if (param.withUuid)
        options.insert(options.end(), {param.side == 'a' ? "--volume-a" : "--volume-b",
                                       "5D0C6F0E-2B7A-4C1E-9E55-0A7B3C2D1E4F"});
    const std::string in = param.side == 'i' ? "mnt/" : "", f1 = in + "f1.txt", f2 = in + "f2.txt";
    putAt(a / f1, "one", t0);
    putAt(a / f2, "two", t0);
    expectSettled(sync(options));
    fs::remove(a / f1);
    putAt(a / f2, "two, longer now", t0 + 100);
    if (std::string_view(param.mode) == "twoWay") putAt(b / "fromB.txt", "from B", t0);
    expectSettled(sync(options));
    EXPECT_EQ(archived(b), (Archived{{f1, "one"}, {f2, "two"}}));
    expectSettled(sync(options));
    std::string content = "edit";
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("edit " + std::to_string(round));
        save(a / f2, content += "+");
        expectSettled(sync(options));
    }
    // What a killed run left in B's partial folder is finished (rclone, with no cache, copies it whole).
    std::string large(2 << 20, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 2654435761u) >> 13);
    putAt(a / in / "large.bin", large, t0);
    fs::create_directories(b / ".KeltoSync/Partial");
    std::ofstream(b / ".KeltoSync/Partial/large.bin", std::ios::binary) << large.substr(0, 300'000);
    expectSettled(sync(options));
    EXPECT_TRUE(contents(b / in / "large.bin") == large);  // not printed: two megabytes
    // Replaced in B, also just saved early in an even second, or deleted on A though stamped years ahead.
    putAt(a / in / "c.txt", "c", t0);
    putAt(a / in / "dir/d.txt", "d", t0);
    putAt(a / in / "IMG_0042.jpg", "photo", wallSecond() + 5 * 365 * 86400);
    expectSettled(sync(options));
    putAt(b / in / "c.txt", "edited on B", t0 + 100);
    putAt(a / in / "c.txt", "edited on A, later", t0 + 200);
    fs::remove(a / in / "IMG_0042.jpg");
    awaitNextSecond();
    if (coarseSecond() % 2 != 0) awaitNextSecond();
    save(b / in / "dir/d.txt", "saved on B just now");
    save(a / in / "dir/d.txt", "saved on A just now, longer");
    expectSettled(sync(options));
    EXPECT_EQ(archived(b), (Archived{{f1, "one"}, {f2, "two"}, {f2, "two, longer now"}, {f2, "edit+"}, {f2, "edit++"},
                                    {in + "IMG_0042.jpg", "photo"}, {in + "c.txt", "edited on B"},
                                    {in + "dir/d.txt", "saved on B just now"}}));
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncEitherSide,
                         ::testing::ValuesIn(std::vector<Place>{
                             {Mount::sshfs},         {Mount::desktop},          {Mount::passThrough},
                             {Mount::ext4},          {Mount::btrfs},            {Mount::rclone}, {Mount::exfat},
                             {Mount::sshfs, 'b', "twoWay"},  {Mount::desktop, 'b', "twoWay"},
                             {Mount::ext4, 'b', "twoWay"},   {Mount::exfat, 'b', "twoWay"}, {Mount::passThrough, 'b', "twoWay"},
                             {Mount::rclone, 'b', "twoWay"}, {Mount::rclone, 'a'}, {Mount::rclone, 'a', "twoWay"},
                             {Mount::rclone, 'b', "twoWay", true},       {Mount::rcloneMemory, 'a', "mirror", true},
                             {Mount::rcloneMemory, 'a', "twoWay", true}, {Mount::rcloneMemory, 'b', "twoWay", true},
                             {Mount::rcloneMemory},  {Mount::rcloneMemory, 'i'}, {Mount::rcloneMemory, 'i', "twoWay"},
                             {Mount::passThrough, 'a', "twoWay"}}),
                         placeName);

// An exFAT card as B ('b') or as "card" inside B ('B') or A ('A').
struct CardAt {
    char at;
    const char* mode;
};

std::string cardName(const ::testing::TestParamInfo<CardAt>& info) {
    return std::string(info.param.at == 'b' ? "B" : info.param.at == 'B' ? "InB" : "InA") + "_" + info.param.mode;
}

void PrintTo(const CardAt& card, std::ostream* out) { *out << cardName({card, 0}); }

class WhereUsersSyncNames : public KeltoRunJobTest, public ::testing::WithParamInterface<CardAt> {
protected:
    TestMounts mounts;
};

TEST_P(WhereUsersSyncNames, NamesTheCardCannotHoldAreSkippedAndTheRestCopied) {
    const auto [at, mode] = GetParam();
    const std::string in = at == 'b' ? "" : "card/";
    const fs::path card = (at == 'A' ? a : b) / in, from = (at == 'A' ? b : a) / in;
    fs::create_directories(card);
    if (::geteuid() != 0 || !mounts.exfat(tmp / "card.img", card)) GTEST_SKIP() << "exfat could not be mounted";
    const std::map<std::string, std::string> reasons{
        {"Meeting: notes.txt", "nameNotAllowed"}, {"what?.txt", "nameNotAllowed"},    {"tab\tname", "nameNotAllowed"},
        {"trail.", "nameNotAllowed"},             {"bad\xE9.txt", "nameNotAllowed"}, {"Q: A/inside.txt", "nameNotAllowed"},
        {"caf\xC3\xA9", "normalisationTwin"},     {"cafe\xCC\x81", "normalisationTwin"}};
    const std::map<std::string, std::string> copied{{"notes.txt", "notes"}, {"sub", "dir/"}, {"sub/ok.txt", "ok"}};
    Pairs skips{{in + (std::string(mode) == "mirror" ? "Q: A/" : "Q: A"), "nameNotAllowed"}};  // as each mode lists it
    for (const auto& [path, reason] : reasons) {
        putAt(from / path, "not for the card", t0);
        skips.emplace(in + Unicode::decodeLossy(path), reason);
    }
    for (const auto& [path, content] : copied)
        if (content != "dir/") putAt(from / path, content, t0);
    for (const std::int64_t files : {2, 0}) {
        const Json out = run({"--mode", mode}).out;
        EXPECT_EQ(out.value("outcome", ""), "completedWithWarnings") << out;
        const Json& stats = out["record"]["stats"];
        EXPECT_EQ(stats["errors"], Json::array());
        Pairs skipped;
        for (const Json& file : stats["skipped"]) skipped.emplace(file["path"], file["reason"]);
        EXPECT_EQ(skipped, skips);
        EXPECT_EQ(tree(card), copied);
        EXPECT_EQ(stats["filesCopied"], files);
        EXPECT_EQ(stats["bytesCopied"], files ? 7 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncNames,
                         ::testing::Values(CardAt{'b', "mirror"}, CardAt{'b', "twoWay"}, CardAt{'B', "mirror"},
                                           CardAt{'B', "twoWay"}, CardAt{'A', "twoWay"}),
                         cardName);

TEST_P(WhereUsersSyncRacy, EditsWithinTheRecordedSecondAreToldByTheirContents) {
    b = mount;
    const std::int64_t recorded = wallSecond() + 4;
    putAt(a / "both.txt", "A's first", recorded - 100);
    putAt(b / "both.txt", "B's first", recorded);  // the newer version wins
    putAt(a / "one.txt", "one", recorded);
    ASSERT_EQ(sync({"--mode", "twoWay"}).value("outcome", ""), "success");
    if (wallSecond() > recorded + 2) GTEST_SKIP() << "the first run ended too late to record within its reach";
    for (const auto& [file, content] : std::vector<std::pair<fs::path, std::string>>{
             {a / "both.txt", "A's edit!"}, {b / "both.txt", "B's edit!"}, {a / "one.txt", "ONE"}}) {
        putAt(file, content, recorded);
        const timespec within[2] = {{recorded, 500'000'000}, {recorded, 500'000'000}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), within, AT_SYMLINK_NOFOLLOW), 0);
    }
    while (wallSecond() <= recorded) std::this_thread::sleep_for(std::chrono::milliseconds(20));  // as edits made then
    const Json second = sync({"--mode", "twoWay"});
    expectSettled(second);
    EXPECT_EQ(tree(a), (std::map<std::string, std::string>{{"both.txt", "A's edit!"}, {"one.txt", "ONE"}}));
    EXPECT_EQ(archived(b), (Archived{{"both.txt", "B's edit!"}, {"one.txt", "one"}}));
    for (const char* name : {"both.txt", "one.txt"})
        EXPECT_NE(contents(second.value("log", "")).find(std::string("Conflict, A's version kept: ") + name),
                  std::string::npos);
    const Json third = sync({"--mode", "twoWay"});
    expectSettled(third);
    EXPECT_EQ(third["record"]["stats"]["filesCopied"], 0);
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncRacy,
                         ::testing::Values(Place{Mount::ext4}, Place{Mount::desktop}, Place{Mount::sshfs},
                                           Place{Mount::rclone}),
                         placeName);

class EngineOnAMount : public OneWayEngineTest, public ::testing::WithParamInterface<Place> {
protected:
    MountedFolder mounted;

    void SetUp() override {
        OneWayEngineTest::SetUp();
        std::string whyNot;
        dst = mounted.make(GetParam().kind, tmp / "place", whyNot);
        if (dst.empty()) GTEST_SKIP() << whyNot;
        traits = FileSystemTraits::forVolume(VolumeInspector::identity(dst));
        job.options.archiveEnabled = GetParam().archive;
    }
    fs::path saveIn() const { return GetParam().onServer ? tmp / "place/real" : dst; }
};

using WhereUsersSyncSaves = EngineOnAMount;
using WhereUsersSyncLooks = EngineOnAMount;
using WhereUsersSyncSaveDuringTransfer = EngineOnAMount;
using WhereUsersSyncSaveAsRsyncReplaces = EngineOnAMount;

// rsync, allowed the plan's one deletion, deletes the later save first (last name first).
TEST_P(WhereUsersSyncSaves, AFileThePlanNeverSawGoesBackWithTheArchiveOff) {
    putAt(src / "x.txt", "from A", t0);
    putAt(dst / "planned.txt", "planned", t0);
    const SyncPlan planned = plan();
    script.expect(ScriptedRsyncRunner::transfer()).then([&] { save(dst / "z-late.txt", "late"); }).passThrough();
    const RunStats stats = run(planned).first;
    EXPECT_NE(std::find(stats.errors.begin(), stats.errors.end(), "Put back: z-late.txt"), stats.errors.end())
        << testing::PrintToString(stats.errors);
    EXPECT_EQ(contents(dst / "z-late.txt"), "late");
    EXPECT_EQ(held(dst), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncSaves, ::testing::Values(Place{Mount::exfat}, Place{Mount::sshfs}), placeName);

// A name the card will not even look up (no UTF-8) ends a dry run with 23.
TEST_P(WhereUsersSyncLooks, ANameTheCardWillNotLookUpIsLeftOutOfEveryLook) {
    job.mode = SyncMode::mirror;
    putAt(src / "bad\xE9.txt", "Latin-1", t0);
    putAt(src / "ok.txt", "ok", t0);
    const SyncPlan p = plan();
    EXPECT_EQ(p.skipped, (std::vector<SkippedFile>{{"bad\xE9.txt", FileSkipReason::nameNotAllowed}}));
    putAt(src / "since\xE8.txt", "Latin-1 too", t0);
    EXPECT_EQ(run(p).second, RsyncExit(0, {}));
    EXPECT_EQ(entries(dst), std::vector<std::string>{"ok.txt"});
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncLooks, ::testing::Values(Place{Mount::exfat}), placeName);

TEST_P(WhereUsersSyncSaveDuringTransfer, ASaveEndsWhereTheUserFindsIt) {
    putAt(src / "x.txt", "from A", t0 + 100);
    putAt(src / "y.txt", "from A y", t0 + 100);
    putAt(dst / "x.txt", "old B", t0);
    putAt(dst / "y.txt", "old B y", t0);
    putAt(dst / "gone.txt", "old g", t0);
    const std::map<std::string, std::string> saves{
        {"gone.txt", "saved anew g"}, {"x.txt", "saved anew in B"}, {"y.txt", "new B y"}};
    const auto saveAll = [&] {
        for (const auto& [name, content] : saves) save(saveIn() / name, content);
    };
    if (GetParam().atTheLook)
        script.expect(ScriptedRsyncRunner::dryRun()).passThrough().then(saveAll);
    else
        script.expect(ScriptedRsyncRunner::transfer()).then(saveAll).passThrough();
    const auto [stats, exit] = run(plan());
    EXPECT_NE(exit.code, 0);
    std::map<std::string, fs::path> heldIn;
    for (const auto& [name, saved] : saves) {
        SCOPED_TRACE(name);
        const fs::path folder = expectWhereTheUserFindsIt(dst, runFolder(), name, saved, stats);
        EXPECT_EQ(contents(dst / name), name == "gone.txt" || contents(dst / name) == saved ? saved : contents(src / name));
        EXPECT_TRUE(folder.empty() || !GetParam().archive) << "held with the archive on";
        if (!folder.empty()) heldIn[name] = folder;
    }
    for (int later = 1; later <= 2 && !heldIn.empty(); ++later) {
        runID = ArchiveRunID::make(SystemClock::shared().now().adding(later));
        const auto [next, nextExit] = run(plan());
        EXPECT_NE(nextExit.code, 0);
        for (const auto& [name, folder] : heldIn) {
            EXPECT_EQ(contents(folder / name), saves.at(name));
            const std::string deleteLine = "Delete " + folder.native() + " once you no longer need what it holds";
            EXPECT_TRUE(std::any_of(next.errors.begin(), next.errors.end(),
                                    [&](const std::string& line) { return line.ends_with(": " + name); }));
            EXPECT_NE(std::find(next.errors.begin(), next.errors.end(), deleteLine), next.errors.end())
                << testing::PrintToString(next.errors);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncSaveDuringTransfer, ::testing::ValuesIn([] {
                             std::vector<Place> cases{{.kind = Mount::sshfs, .onServer = true},
                                                      {.kind = Mount::sshfs, .archive = true, .onServer = true},
                                                      {.kind = Mount::exfat, .archive = true, .atTheLook = true},
                                                      {.kind = Mount::sshfs, .archive = true, .atTheLook = true}};
                             for (const Mount kind : {Mount::ext4, Mount::desktop, Mount::sshfs, Mount::passThrough,
                                                      Mount::exfat, Mount::rclone})
                                 for (const bool archive : {true, false})
                                     cases.push_back({.kind = kind, .archive = archive});
                             return cases;
                         }()),
                         placeName);

// A save between rsync's backup link and its rename lands in the held file; FUSE caches the other name's.
TEST_P(WhereUsersSyncSaveAsRsyncReplaces, ASaveBetweenTheBackupAndTheRenameIsNamed) {
    putAt(src / "x.txt", "from A", t0 + 100);
    putAt(dst / "x.txt", std::string(4000, 'b'), t0);
    const SyncPlan p = plan();
    script.expect(ScriptedRsyncRunner::transfer())
        .then([&] {
            fs::create_hard_link(dst / "x.txt", dst / *script.calls().back().option("--backup-dir") / "x.txt");
            save(saveIn() / "x.txt", "saved in B");
            putAt(dst / ".x.txt.copy", "from A", t0 + 100);
            fs::rename(dst / ".x.txt.copy", dst / "x.txt");
        })
        .out(RsyncLines::itemized(">f.st......", 6, "x.txt"));
    expectWhereTheUserFindsIt(dst, runFolder(), "x.txt", "saved in B", run(p).first);
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncSaveAsRsyncReplaces,
                         ::testing::Values(Place{Mount::sshfs}, Place{.kind = Mount::sshfs, .archive = true},
                                           Place{.kind = Mount::sshfs, .onServer = true}, Place{Mount::desktop},
                                           Place{.kind = Mount::desktop, .archive = true}, Place{Mount::passThrough},
                                           Place{Mount::ext4}),
                         placeName);

// A save on a card inside B after the look began, in the second and size of the one before.
using WhereUsersSyncMountBelow = OneWayEngineTest;

TEST_F(WhereUsersSyncMountBelow, ASaveOnTheCardAfterTheLookBeganIsNamed) {
    TestMounts mounts;
    fs::create_directories(dst / "card");
    if (::geteuid() != 0 || !mounts.exfat(tmp / "card.img", dst / "card")) GTEST_SKIP() << "exfat could not be mounted";
    putAt(src / "card/keep.txt", "kept", t0);
    putAt(dst / "card/keep.txt", "kept", t0);
    putAt(src / "card/x.txt", "from A", t0);
    job.options.archiveEnabled = true;
    const auto mtime = [&] { return fs::last_write_time(dst / "card/x.txt"); };
    for (int attempt = 0; attempt < 5; ++attempt) {
        fs::remove_all(dst / ".KeltoSync");
        fs::remove(dst / "card/x.txt");
        runID = ArchiveRunID::make(SystemClock::shared().now());
        awaitNextSecond();
        save(dst / "card/x.txt", "old B");
        const auto before = mtime();
        script.expect(ScriptedRsyncRunner::dryRun()).passThrough().then([&] { save(dst / "card/x.txt", "new B"); });
        const SyncPlan planned = plan();
        if (std::chrono::floor<std::chrono::seconds>(mtime()) != std::chrono::floor<std::chrono::seconds>(before))
            continue;
        expectWhereTheUserFindsIt(dst, runFolder(), "card/x.txt", "new B", run(planned).first);
        return;
    }
    GTEST_SKIP() << "no save after the look shared the second of the one before";
}

}  // namespace
}  // namespace kelto::test
