// The default job with a side where Linux users keep their copies (sshfs,
// gvfs, an exFAT card, a FUSE pass-through, rclone, ext4, btrfs): what a run
// deletes or replaces in B reaches the archive, nothing stays held, and a
// save made in B while a run compares is kept and named.

#include "tests/KeltoRunJobFixture.h"
#include "tests/support/LocalSshd.h"
#include "tests/support/TestVolumes.h"

#include "SyncAutomation/VolumeInspector.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <thread>

namespace kelto::test {
namespace {

// rclone: a remote of a local folder; rcloneMemory: one kept in rclone's
// memory, whose items answer no extended attributes.
enum class Mount { sshfs, desktop, exfat, passThrough, ext4, btrfs, rclone, rcloneMemory };

std::string nameOf(Mount kind) {
    static const char* const names[] = {"sshfs", "gvfs", "exfat", "bindfs", "ext4", "btrfs", "rclone", "rcloneMemory"};
    return names[static_cast<int>(kind)];
}

void PrintTo(Mount kind, std::ostream* out) { *out << nameOf(kind); }

// A folder on one kind of mount, unmounted when the value goes.
class MountedFolder {
public:
    // The mount's folder, or empty with the reason in `whyNot`.
    fs::path make(Mount kind, const fs::path& under, std::string& whyNot) {
        if (::geteuid() != 0) {
            whyNot = "needs root to mount";
            return {};
        }
        const fs::path real = under / "real", at = under / "mnt";
        fs::create_directories(real);
        fs::create_directories(at);
        bool made = false;
        switch (kind) {
            case Mount::sshfs:
                sshd_ = LocalSshd::start(under / "ssh", whyNot);
                if (!sshd_) return {};
                made = mounts_.mount(sshd_->sshfs(real, at), at);
                break;
            case Mount::desktop:
                // The line gvfs leaves in the mount table.
                made = mounts_.mount({"unionfs", "-o", "fsname=gvfsd-fuse,subtype=gvfsd-fuse", real.native() + "=RW",
                                      at.native()},
                                     at);
                break;
            case Mount::exfat: made = mounts_.exfat(under / "card.img", at); break;
            case Mount::passThrough: made = mounts_.passThrough(real, at); break;
            case Mount::ext4: made = mounts_.ext4Image(under / "disk.img", at); break;
            case Mount::rclone:
            case Mount::rcloneMemory:
                // No configuration of the user's; the daemon returns once mounted.
                made = mounts_.mount({"rclone", "mount", kind == Mount::rclone ? ":local:" + real.native() : ":memory:",
                                      at.native(), "--daemon", "--config", "/dev/null"},
                                     at);
                break;
            case Mount::btrfs: {
                const fs::path image = under / "disk.img";
                std::ofstream(image).close();
                fs::resize_file(image, 128 << 20);  // sparse; btrfs's least
                made = runQuietly({"mkfs.btrfs", "-q", "-f", image.native()}) == 0 &&
                       mounts_.mount({"mount", "-o", "loop", image.native(), at.native()}, at);
                break;
            }
        }
        if (!made) {
            whyNot = nameOf(kind) + " could not be mounted";
            return {};
        }
        if (kind != Mount::ext4 && kind != Mount::btrfs) return at;
        fs::create_directories(at / "side");  // a disk's own root holds lost+found
        return at / "side";
    }

private:
    std::unique_ptr<LocalSshd> sshd_;
    TestMounts mounts_;  // undone before the server goes
};

using Archived = std::multimap<std::string, std::string>;

// What B's archive holds, by path below a run's folder, with contents.
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

// Everything left in B's holding folder.
std::vector<std::string> held(const fs::path& b) {
    return fs::exists(b / ".KeltoSync/Holding") ? entries(b / ".KeltoSync/Holding") : std::vector<std::string>{};
}

// A save as an editor makes it: the clock's time, no time set.
void save(const fs::path& file, std::string_view content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

std::int64_t coarseSecond();
void awaitNextSecond();

// A time some years ahead of the clock, as a camera whose clock ran ahead stamps.
std::int64_t yearsAhead() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
               .count() +
           5 * 365 * 86400;
}

// The wall clock's second, which files saved now are stamped with.
std::int64_t wallSecond() { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); }

// A side on a mount, or A on this machine's disk with the mount inside it;
// the other side on this machine's disk.
struct OnASide {
    Mount kind;
    char side;         // 'a' or 'b': the one on the mount; 'i': inside A
    const char* mode;  // the job's
    // The side's volume is given a UUID, as a disk of its own would have.
    bool withUuid = false;
};

void PrintTo(const OnASide& param, std::ostream* out) {
    *out << nameOf(param.kind) << " " << param.side << " " << param.mode << (param.withUuid ? " uuid" : "");
}

Mount kindOf(Mount kind) { return kind; }
Mount kindOf(const OnASide& param) { return param.kind; }
bool insideA(Mount) { return false; }
bool insideA(const OnASide& param) { return param.side == 'i'; }

template <typename Param>
class OnAMount : public KeltoRunJobTest, public ::testing::WithParamInterface<Param> {
protected:
    MountedFolder mounted;
    fs::path mount;

    void SetUp() override {
        KeltoRunJobTest::SetUp();
        std::string whyNot;
        mount = mounted.make(kindOf(this->GetParam()), insideA(this->GetParam()) ? a : tmp / "place", whyNot);
        if (mount.empty()) GTEST_SKIP() << whyNot;
    }

    // Runs the job on a and b, default archive, each side's volume as the application reads it.
    Json sync(const std::vector<std::string>& options) const { return run(options).out; }

    // A run that ends in success and settles all it took: B as A, nothing held.
    void expectSettled(const Json& out) const {
        EXPECT_EQ(out.value("outcome", "") + " " + out.value("message", "") + out.value("reason", ""), "success ");
        EXPECT_EQ(out["record"]["stats"]["errors"], Json::array());
        EXPECT_EQ(tree(b), tree(a));
        EXPECT_EQ(held(b), std::vector<std::string>{});
    }
};

using WhereUsersSyncTest = OnAMount<Mount>;

std::string paramName(const ::testing::TestParamInfo<Mount>& info) { return nameOf(info.param); }

class WhereUsersSyncReplaced : public WhereUsersSyncTest {};
class WhereUsersSyncClockAhead : public WhereUsersSyncTest {};
class WhereUsersSyncQuickRuns : public WhereUsersSyncTest {};
class WhereUsersSyncRacy : public WhereUsersSyncTest {};

// Either side on the mount, or the mount inside A: A's files reach B, and
// in two-way B's reach A; what the second run deletes or replaces in B
// reaches its archive, and the run after has nothing left over.
class WhereUsersSyncEitherSide : public OnAMount<OnASide> {};

TEST_P(WhereUsersSyncEitherSide, FilesCrossAndReplacedOnesReachTheArchive) {
    const OnASide& param = GetParam();
    if (param.side != 'i') (param.side == 'a' ? a : b) = mount;
    std::vector<std::string> options{"--mode", param.mode};
    if (param.withUuid)
        options.insert(options.end(), {param.side == 'a' ? "--volume-a" : "--volume-b",
                                       "5D0C6F0E-2B7A-4C1E-9E55-0A7B3C2D1E4F"});
    const bool twoWay = std::string_view(param.mode) == "twoWay";
    // A's files, in the mount where it lies inside A.
    const std::string f1 = param.side == 'i' ? "mnt/f1.txt" : "f1.txt", f2 = param.side == 'i' ? "mnt/f2.txt" : "f2.txt";
    putAt(a / f1, "one", t0);
    putAt(a / f2, "two", t0);
    expectSettled(sync(options));

    fs::remove(a / f1);
    putAt(a / f2, "two, longer now", t0 + 100);
    if (twoWay) putAt(b / "fromB.txt", "from B", t0);
    expectSettled(sync(options));
    EXPECT_EQ(archived(b), (Archived{{f1, "one"}, {f2, "two"}}));
    expectSettled(sync(options));
    EXPECT_EQ(archived(b).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncEitherSide,
                         ::testing::ValuesIn(std::vector<OnASide>{
                             {Mount::sshfs, 'b', "mirror"},       {Mount::desktop, 'b', "mirror"},
                             {Mount::passThrough, 'b', "mirror"}, {Mount::ext4, 'b', "mirror"},
                             {Mount::btrfs, 'b', "mirror"},       {Mount::rclone, 'b', "mirror"},
                             {Mount::sshfs, 'b', "twoWay"},       {Mount::desktop, 'b', "twoWay"},
                             {Mount::rclone, 'b', "twoWay"},      {Mount::rclone, 'a', "mirror"},
                             {Mount::rclone, 'a', "twoWay"},      {Mount::rclone, 'b', "twoWay", true},
                             {Mount::rcloneMemory, 'a', "mirror", true}, {Mount::rcloneMemory, 'a', "twoWay", true},
                             {Mount::rcloneMemory, 'b', "twoWay", true}, {Mount::rcloneMemory, 'b', "mirror"},
                             {Mount::rcloneMemory, 'i', "mirror"}, {Mount::rcloneMemory, 'i', "twoWay"},
                             {Mount::passThrough, 'a', "twoWay"}}),
                         [](const ::testing::TestParamInfo<OnASide>& info) {
                             const OnASide& p = info.param;
                             return nameOf(p.kind) + "_" + p.side + "_" + p.mode + (p.withUuid ? "_uuid" : "");
                         });

// B's version replaced by A's (a mirror's, or a two-way conflict's loser)
// reaches B's archive, also one saved the moment before the run began,
// early in an even second, where a disk tells its time steps two ways.
TEST_P(WhereUsersSyncReplaced, BsVersionReachesTheArchive) {
    for (const char* mode : {"twoWay", "mirror"}) {
        SCOPED_TRACE(mode);
        a = tmp / "a" / mode;
        b = mount / mode;
        fs::create_directories(b);
        putAt(a / "c.txt", "c", t0);
        putAt(a / "dir/d.txt", "d", t0);
        expectSettled(sync({"--mode", mode}));

        putAt(b / "c.txt", "edited on B", t0 + 100);
        putAt(a / "c.txt", "edited on A, later", t0 + 200);
        awaitNextSecond();
        if (coarseSecond() % 2 != 0) awaitNextSecond();
        save(b / "dir/d.txt", "saved on B just now");
        save(a / "dir/d.txt", "saved on A just now, longer");
        expectSettled(sync({"--mode", mode}));
        EXPECT_EQ(archived(b), (Archived{{"c.txt", "edited on B"}, {"dir/d.txt", "saved on B just now"}}));
    }
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncReplaced,
                         ::testing::Values(Mount::ext4, Mount::desktop, Mount::sshfs, Mount::passThrough, Mount::exfat,
                                           Mount::rclone),
                         paramName);

// A photo stamped years ahead of the clock is an ordinary file: once
// deleted on A, a mirror and a two-way run delete it on B, into the archive.
TEST_P(WhereUsersSyncClockAhead, AFileStampedAheadIsArchivedOnceDeleted) {
    for (const char* mode : {"mirror", "twoWay"}) {
        SCOPED_TRACE(mode);
        a = tmp / "a" / mode;
        b = mount / mode;
        fs::create_directories(b);
        putAt(a / "IMG_0042.jpg", "photo", yearsAhead());
        putAt(a / "IMG_0041.jpg", "older photo", t0);
        expectSettled(sync({"--mode", mode}));

        fs::remove(a / "IMG_0042.jpg");
        expectSettled(sync({"--mode", mode}));
        EXPECT_EQ(archived(b), (Archived{{"IMG_0042.jpg", "photo"}}));
    }
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncClockAhead, ::testing::Values(Mount::exfat, Mount::sshfs), paramName);

// Mirrors right after saves on A at the clock's time each succeed.
TEST_P(WhereUsersSyncQuickRuns, MirrorsRightAfterEditsSettleEverything) {
    b = mount;
    save(a / "f3.txt", "three");
    save(a / "f4.txt", "four");
    expectSettled(sync({"--mode", "mirror"}));

    fs::remove(a / "f3.txt");
    save(a / "f4.txt", "four, rewritten");
    expectSettled(sync({"--mode", "mirror"}));
    EXPECT_EQ(archived(b), (Archived{{"f3.txt", "three"}, {"f4.txt", "four"}}));

    std::string content = "edit";
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("edit " + std::to_string(round));
        content += "+";
        save(a / "f4.txt", content);
        expectSettled(sync({"--mode", "mirror"}));
    }
    EXPECT_EQ(archived(b).size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncQuickRuns, ::testing::Values(Mount::exfat, Mount::passThrough), paramName);

// A large copy a killed run left in B's partial folder is finished, resumed
// or copied whole (rclone without a cache of its own).
class WhereUsersSyncResumes : public WhereUsersSyncTest {};

TEST_P(WhereUsersSyncResumes, ACopyAKilledRunLeftUnfinishedIsFinished) {
    b = mount;
    putAt(a / "small.txt", "small", t0);
    expectSettled(sync({"--mode", "mirror"}));
    std::string large(2 << 20, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 2654435761u) >> 13);
    putAt(a / "large.bin", large, t0);
    fs::create_directories(b / ".KeltoSync/Partial");
    std::ofstream(b / ".KeltoSync/Partial/large.bin", std::ios::binary) << large.substr(0, 300'000);
    const Json out = sync({"--mode", "mirror"});
    EXPECT_EQ(out.value("outcome", "") + " " + out.value("message", ""), "success ");
    EXPECT_TRUE(contents(b / "large.bin") == large);  // not printed: two megabytes
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncResumes,
                         ::testing::Values(Mount::rclone, Mount::desktop, Mount::sshfs, Mount::ext4), paramName);

// Where the card is mounted: as B ('b'), or as a folder "card" inside B
// ('B') or inside A ('A'); and the job's mode. Names reach it from the other side.
struct CardAt {
    char at;
    const char* mode;
};

void PrintTo(const CardAt& param, std::ostream* out) { *out << param.at << " " << param.mode; }

class WhereUsersSyncNames : public KeltoRunJobTest, public ::testing::WithParamInterface<CardAt> {
protected:
    TestMounts mounts;
};

// A job onto a card that keeps names as Windows does. Names it cannot hold
// (Windows' reserved characters, a control character, a trailing dot, bytes
// that are no UTF-8), a folder's included, are left out with their reason,
// run after run, as are two spellings of one name that differ only in
// normalisation; the rest is copied, and the counts are what reached the card.
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
                                           CardAt{'B', "twoWay"}, CardAt{'A', "twoWay"}));

// Edits of one size within the second the baseline recorded list as its
// entry: a conflict resolved, then both sides edited apart and a file on A
// alone, within that second. The next run tells them by their contents: in
// step, A's versions kept (the times are one), B's archived, each conflict
// named in the log; the run after has nothing to do.
TEST_P(WhereUsersSyncRacy, EditsWithinTheRecordedSecondAreToldByTheirContents) {
    b = mount;
    // A little ahead of the clock: recorded within the run's reach however
    // late it begins, and the edits are stamped within it (one time to the
    // nanosecond) without luck.
    const std::int64_t recorded = wallSecond() + 4;
    putAt(a / "both.txt", "A's first", recorded - 100);
    putAt(b / "both.txt", "B's first", recorded);  // the newer version wins
    putAt(a / "one.txt", "one", recorded);
    ASSERT_EQ(sync({"--mode", "twoWay"}).value("outcome", ""), "success");
    if (wallSecond() > recorded + 2) GTEST_SKIP() << "the first run ended too late to record within its reach";

    using Edits = std::vector<std::pair<fs::path, std::string>>;
    for (const auto& [file, content] : Edits{{a / "both.txt", "A's edit!"}, {b / "both.txt", "B's edit!"},
                                             {a / "one.txt", "ONE"}}) {
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
                         ::testing::Values(Mount::ext4, Mount::desktop, Mount::sshfs, Mount::rclone), paramName);

// A version the plan never saw ends where the user finds it: once, and
// only once, in place, in the run's archive folder or held; named among the
// run's errors. Where it is held, the folder it is held in.
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

// B on a mount, the job's archive on or off, and saves made through the
// mount or, behind a cached sshfs, on the server.
struct SaveCase {
    Mount kind;
    bool archive;
    bool onServer = false;
};

void PrintTo(const SaveCase& c, std::ostream* out) {
    *out << nameOf(c.kind) << (c.onServer ? " on the server" : "") << (c.archive ? ", archive on" : ", archive off");
}

std::string saveCaseName(const ::testing::TestParamInfo<SaveCase>& info) {
    return nameOf(info.param.kind) + (info.param.onServer ? "OnTheServer" : "") +
           (info.param.archive ? "_archiveOn" : "_archiveOff");
}

Mount kindOf(const SaveCase& c) { return c.kind; }
bool archiveOf(Mount) { return false; }
bool archiveOf(const SaveCase& c) { return c.archive; }

// The engine with B on a mount, its traits as the volume gives them, real
// rsync under it, and saves a test makes between its rsync runs.
template <typename Param>
class EngineOnAMount : public OneWayEngineTest, public ::testing::WithParamInterface<Param> {
protected:
    MountedFolder mounted;

    void SetUp() override {
        OneWayEngineTest::SetUp();
        std::string whyNot;
        dst = mounted.make(kindOf(this->GetParam()), tmp / "place", whyNot);
        if (dst.empty()) GTEST_SKIP() << whyNot;
        traits = FileSystemTraits::forVolume(VolumeInspector::identity(dst));
        job.options.archiveEnabled = archiveOf(this->GetParam());
    }
};

using WhereUsersSyncSaves = EngineOnAMount<Mount>;

// B's files saved anew, as an editor saves, once the comparison began: at
// the clock's time, with the same size or a new one. The mirror never
// loses them nor takes them for the versions it saw: each ends in place,
// in the run's archive or held, and is named.
TEST_P(WhereUsersSyncSaves, ASaveMadeAfterTheComparisonBeganIsNamedWhereverItEnds) {
    for (const std::string saved : {"new B", "saved anew in B"}) {
        SCOPED_TRACE(saved);
        for (const fs::path& folder : {src, dst})
            for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
        runID = ArchiveRunID::make(SystemClock::shared().now());
        job.options.archiveEnabled = true;
        putAt(src / "x.txt", "from A", t0);
        putAt(dst / "x.txt", "old B", t0);
        putAt(dst / "gone.txt", "old g", t0);
        script.expect(ScriptedRsyncRunner::dryRun()).passThrough().then([&] {
            save(dst / "x.txt", saved);
            save(dst / "gone.txt", saved);
        });
        const auto [stats, exit] = run(plan());
        EXPECT_NE(exit.code, 0);
        for (const char* name : {"x.txt", "gone.txt"}) {
            SCOPED_TRACE(name);
            expectWhereTheUserFindsIt(dst, runFolder(), name, saved, stats);
        }
    }
}

// With the archive off, a file saved in B once every look is over, as the
// transfer starts, is one the plan never saw: rsync, allowed the plan's one
// deletion, deletes it first (last name first), and it goes back in place.
TEST_P(WhereUsersSyncSaves, AFileThePlanNeverSawGoesBackWithTheArchiveOff) {
    job.options.archiveEnabled = false;
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

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncSaves, ::testing::Values(Mount::exfat, Mount::sshfs), paramName);

using WhereUsersSyncLooks = WhereUsersSyncSaves;

// A name the card will not even look up (bytes that are no UTF-8) ends a dry
// run with 23: the plan's look and the run's last look leave it out and look
// again, and the transfer keeps away from it, one found since the plan too.
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

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncLooks, ::testing::Values(Mount::exfat), paramName);

using WhereUsersSyncSaveDuringTransfer = EngineOnAMount<SaveCase>;

// Saves the plan never saw, made in B as the mirror's transfer starts: of
// files the plan replaces (a new size; the same size at a new time) and of
// one it deletes. Each ends where the user finds it, named: back at its
// place, or, where the transfer's copy took that place, in the run's
// archive (archive on) or held, named again at every later run, none a
// plain success, until the user takes it from where the line says.
TEST_P(WhereUsersSyncSaveDuringTransfer, ASaveEndsWhereTheUserFindsIt) {
    const fs::path saveIn = GetParam().onServer ? tmp / "place/real" : dst;
    putAt(src / "x.txt", "from A", t0 + 100);
    putAt(src / "y.txt", "from A y", t0 + 100);
    putAt(dst / "x.txt", "old B", t0);
    putAt(dst / "y.txt", "old B y", t0);
    putAt(dst / "gone.txt", "old g", t0);
    const std::map<std::string, std::string> saves{
        {"gone.txt", "saved anew g"}, {"x.txt", "saved anew in B"}, {"y.txt", "new B y"}};
    script.expect(ScriptedRsyncRunner::transfer())
        .then([&] {
            for (const auto& [name, content] : saves) save(saveIn / name, content);
        })
        .passThrough();

    const auto [stats, exit] = run(plan());
    EXPECT_NE(exit.code, 0);
    std::map<std::string, fs::path> heldIn;
    for (const auto& [name, saved] : saves) {
        SCOPED_TRACE(name);
        const fs::path folder = expectWhereTheUserFindsIt(dst, runFolder(), name, saved, stats);
        if (name == "gone.txt") {
            EXPECT_EQ(contents(dst / name), saved);
        } else if (contents(dst / name) != saved) {
            EXPECT_EQ(contents(dst / name), contents(src / name));
        }
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

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncSaveDuringTransfer,
                         ::testing::ValuesIn([] {
                             std::vector<SaveCase> cases;
                             for (const Mount kind : {Mount::ext4, Mount::desktop, Mount::sshfs, Mount::passThrough,
                                                      Mount::exfat, Mount::rclone})
                                 for (const bool archive : {true, false}) {
                                     cases.push_back({kind, archive});
                                     if (kind == Mount::sshfs) cases.push_back({kind, archive, true});
                                 }
                             return cases;
                         }()),
                         saveCaseName);

class WhereUsersSyncSaveAsRsyncReplaces : public WhereUsersSyncSaveDuringTransfer {};

// rsync replaces a file as it does where the disk has hard links: the file
// gets a second name in the holding folder, then rsync's copy is renamed
// over the first. A save between the two lands in the held file through
// its first name, which leaves what a FUSE disk (and sshfs besides) caches
// of the second as it was: the held file is still no version the plan saw.
TEST_P(WhereUsersSyncSaveAsRsyncReplaces, ASaveBetweenTheBackupAndTheRenameIsNamed) {
    const fs::path saveIn = GetParam().onServer ? tmp / "place/real" : dst;
    putAt(src / "x.txt", "from A", t0 + 100);
    putAt(dst / "x.txt", std::string(4000, 'b'), t0);
    const SyncPlan p = plan();
    script.expect(ScriptedRsyncRunner::transfer())
        .then([&] {
            const fs::path held = dst / *script.calls().back().option("--backup-dir") / "x.txt";
            fs::create_hard_link(dst / "x.txt", held);
            save(saveIn / "x.txt", "saved in B");
            putAt(dst / ".x.txt.copy", "from A", t0 + 100);
            fs::rename(dst / ".x.txt.copy", dst / "x.txt");
        })
        .out(RsyncLines::itemized(">f.st......", 6, "x.txt"));

    const RunStats stats = run(p).first;
    expectWhereTheUserFindsIt(dst, runFolder(), "x.txt", "saved in B", stats);
}

INSTANTIATE_TEST_SUITE_P(, WhereUsersSyncSaveAsRsyncReplaces,
                         ::testing::Values(SaveCase{Mount::sshfs, false}, SaveCase{Mount::sshfs, true},
                                           SaveCase{Mount::sshfs, false, true}, SaveCase{Mount::desktop, false},
                                           SaveCase{Mount::desktop, true}, SaveCase{Mount::passThrough, false},
                                           SaveCase{Mount::ext4, false}),
                         saveCaseName);

// The second the coarse clock shows: what a save on these disks stamps
// (time() in a FUSE driver, the kernel's FAT and exFAT drivers).
std::int64_t coarseSecond() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return t.tv_sec;
}

// Polls until the coarse clock begins a new second.
void awaitNextSecond() {
    const std::int64_t last = coarseSecond();
    while (coarseSecond() == last) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

std::int64_t mtimeOf(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_mtime : -1;
}

// B on a disk whose kernel stamps status changes, with an exFAT card
// mounted below it: the look begins at no step of the card's, so a save on
// the card after the look began, in the second of the version before it
// and of its size, shows no time after the start. The mirror never takes it
// as the version it saw: it is named, wherever it ends.
class WhereUsersSyncMountBelow : public OneWayEngineTest {
protected:
    TestMounts mounts;

    void SetUp() override {
        OneWayEngineTest::SetUp();
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
        fs::create_directories(dst / "card");
        if (!mounts.exfat(tmp / "card.img", dst / "card")) GTEST_SKIP() << "exfat could not be mounted";
        putAt(src / "card/keep.txt", "kept", t0);
        putAt(dst / "card/keep.txt", "kept", t0);
    }
};

TEST_F(WhereUsersSyncMountBelow, ASaveOnTheCardAfterTheLookBeganIsNamed) {
    job.options.archiveEnabled = true;
    putAt(src / "card/x.txt", "from A", t0);
    for (int attempt = 0; attempt < 5; ++attempt) {
        fs::remove_all(dst / ".KeltoSync");
        fs::remove(dst / "card/x.txt");
        runID = ArchiveRunID::make(SystemClock::shared().now());
        awaitNextSecond();
        save(dst / "card/x.txt", "old B");
        const std::int64_t before = mtimeOf(dst / "card/x.txt");
        script.expect(ScriptedRsyncRunner::dryRun()).passThrough().then([&] { save(dst / "card/x.txt", "new B"); });
        const SyncPlan planned = plan();
        if (mtimeOf(dst / "card/x.txt") != before) continue;
        const RunStats stats = run(planned).first;
        expectWhereTheUserFindsIt(dst, runFolder(), "card/x.txt", "new B", stats);
        return;
    }
    GTEST_SKIP() << "no save after the look shared the second of the one before";
}

}  // namespace
}  // namespace kelto::test
