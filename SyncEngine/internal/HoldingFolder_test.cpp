// The holding folder, and whether an item is still as a plan saw it.

#include "SyncEngine/internal/HoldingFolder.h"
#include "SyncEngine/internal/HoldingRecords.h"

#include "SyncEngine/UnchangedCheck.h"
#include "SyncEngine/internal/ContentCheck.h"
#include "SyncEngine/internal/CopySourceCheck.h"
#include "SyncModel/Support/Base64.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <algorithm>
#include <cerrno>
#include <map>
#include <tuple>
#include <utility>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // plans are written by the fields they fill

using namespace kelto;
namespace fs = std::filesystem;

namespace {

const std::string runID = "2025-03-07_141503-0a1b2c3d";

std::vector<std::string> tree(const fs::path& root) {
    std::vector<std::string> out;
    if (!fs::exists(root)) return out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        out.push_back(fs::relative(it->path(), root).native() + (it->is_directory() && !it->is_symlink() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

struct stat statOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::lstat(file.c_str(), &info), 0) << file;
    return info;
}

ItemVersion versionOf(const fs::path& item) {
    return ItemVersion::of(statOf(item), true);
}

// Kept items whose place is taken, or whose folder is no folder now.
const std::string taken = " " + std::to_string(EEXIST), notDir = " " + std::to_string(ENOTDIR);
using Paths = std::vector<std::string>;

Paths keptPaths(const HoldingFolder::Settlement& s) {
    Paths out;
    for (const HoldingFolder::Kept& k : s.kept) out.push_back(k.path + " " + std::to_string(k.reason.errorNumber()));
    return out;
}

// Each settlement as its folder, what went back and what was kept.
using Summary = std::tuple<std::string, Paths, Paths>;
std::vector<Summary> summary(const std::vector<HoldingFolder::Settlement>& settled) {
    std::vector<Summary> out;
    for (const HoldingFolder::Settlement& s : settled) out.emplace_back(s.folder, s.putBack, keptPaths(s));
    return out;
}

class HoldingFolderTest : public ::testing::Test {
protected:
    test::TemporaryFolder folder;
    fs::path root() const { return folder.path(); }
    fs::path held(const std::string& id = runID) const { return folder / HoldingFolder::relativePath(id); }
    void hold(const std::string& path, const std::string& content, const std::string& id = runID) const {
        folder.write(HoldingFolder::relativePath(id) + "/" + path, content);
    }
    void seenAsHeld(HoldingFolder::Planned& planned, const std::vector<std::string>& paths) const {
        for (const std::string& path : paths) planned.seen.emplace(path, versionOf(held() / path));
    }
};

constexpr std::int64_t t0 = 1'600'000'000;

void setTime(const fs::path& file, std::int64_t seconds, long nanoseconds = 0) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << file;
}

// A change of the change time alone; repeated until a coarse clock has moved.
void touchChangeTimeOnly(const fs::path& file) {
    const struct stat before = statOf(file);
    struct stat now {};
    do {
        ASSERT_EQ(::chmod(file.c_str(), before.st_mode & 07777), 0);
        now = statOf(file);
    } while (now.st_ctim.tv_sec == before.st_ctim.tv_sec && now.st_ctim.tv_nsec == before.st_ctim.tv_nsec);
}

class CopySourceCheckTest : public ::testing::Test {
protected:
    test::TemporaryFolder source, destination;
    void put(const std::string& path, const std::string& content, std::int64_t mtime = t0) {
        source.write(path, content);
        setTime(source / path, mtime);
    }
};

}  // namespace

TEST_F(HoldingFolderTest, SettleDiscardsOnlyWhatThePlanListed) {
    HoldingFolder::prepare(root(), runID);
    EXPECT_TRUE(fs::is_directory(held()));
    for (const char* path : {"deleted.txt", "dir/deleted.txt", "replaced.txt", "unplanned.txt", "taken.txt"})
        hold(path, "old");
    hold("notreplaced.txt", "old n");
    hold("gone/deep/unplanned.txt", "deep");
    fs::create_symlink("target", held() / "link");
    folder.write("replaced.txt", "new r");
    folder.write("taken.txt", "someone else's");
    test::TemporaryFolder elsewhere;
    hold("linked/a.txt", "a");
    hold("filed/b.txt", "b");
    fs::create_directory_symlink(elsewhere.path(), folder / "linked");
    folder.write("filed", "a file now");
    HoldingFolder::Planned planned{.deleted = {"deleted.txt", "dir/deleted.txt", "dir"},
                                   .replaced = {"replaced.txt", "notreplaced.txt"}};
    seenAsHeld(planned, {"deleted.txt", "dir/deleted.txt", "replaced.txt", "notreplaced.txt"});
    const HoldingFolder::Settlement s = HoldingFolder::settle(root(), runID, planned);
    EXPECT_EQ(s.folder, ".KeltoSync/Holding/" + runID);
    EXPECT_EQ(s.putBack, (Paths{"gone/deep/unplanned.txt", "link", "notreplaced.txt", "unplanned.txt"}));
    EXPECT_EQ(keptPaths(s), (Paths{"filed/b.txt" + notDir, "linked/a.txt" + notDir, "taken.txt" + taken}));
    for (const auto& [path, content] : {std::pair{"notreplaced.txt", "old n"}, {"gone/deep/unplanned.txt", "deep"},
                                        {"replaced.txt", "new r"}, {"taken.txt", "someone else's"}})
        EXPECT_EQ(test::readFile(folder / path), content) << path;
    EXPECT_EQ(fs::read_symlink(folder / "link"), "target");
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_EQ(tree(held()), (Paths{"filed/", "filed/b.txt", "linked/", "linked/a.txt", "taken.txt"}));
    EXPECT_FALSE(fs::exists(folder / "deleted.txt") || fs::exists(folder / "dir"));
    for (const char* item : {"taken.txt", "filed", "linked"}) fs::remove_all(held() / item);
    EXPECT_FALSE(HoldingFolder::settle(root(), runID, planned).hasItems());
    EXPECT_FALSE(fs::exists(held()));
    EXPECT_TRUE(fs::is_directory(folder / ".KeltoSync/Holding"));
    fs::remove_all(folder / ".KeltoSync");
    fs::create_directory(folder / ".KeltoSync");
    fs::create_directory_symlink(elsewhere.path(), folder / ".KeltoSync/Holding");
    EXPECT_THROW(HoldingFolder::prepare(root(), runID), FileError);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    // A destination out of reach is tried again, never left to the user.
    const HoldingFolder::Settlement unreachable = HoldingFolder::settle(folder / "unplugged", runID, {});
    ASSERT_EQ(unreachable.kept.size(), 1u);
    EXPECT_TRUE(!unreachable.kept[0].placeTaken && unreachable.hasRetries() && !unreachable.onlyPlaceTaken);
}

TEST_F(HoldingFolderTest, RecoverPutsBackEveryRunsLeftoversWhereFree) {
    const std::string other = "2025-03-08_090000-00ff00ff", cut = "2025-03-06_090000-0c0c0c0c";
    hold("free.txt", "f");
    hold("taken.txt", "old");
    hold("sub/free.txt", "sf", other);
    folder.write("taken.txt", "current");
    folder.write(".KeltoSync/Holding/stray-file", "not a run's folder");
    fs::create_directory(held("2025-03-09_090000-0000aaaa"));
    {  // a copy cut short of what still stands, named once, so cleared without a word
        SCOPED_TRACE("RecoveryClearsACopyCutShortOfWhatStillStands");
        folder.write("big", "the whole file");
        hold("big", "the whole", cut);
        HoldingFolder::record(root(), cut, {.deleted = {"big"}, .seen = {{"big", versionOf(root() / "big")}}});
        HoldingFolder::markReported(root(), cut,
                                    {.kept = {{"big", FileError(EEXIST, "Could not put back", root() / "big"), true}}});
    }
    EXPECT_EQ(summary(HoldingFolder::recover(root())),
              (std::vector<Summary>{{HoldingFolder::relativePath(runID), {"free.txt"}, {"taken.txt" + taken}},
                                    {HoldingFolder::relativePath(other), {"sub/free.txt"}, {}}}));
    for (const auto& [path, content] : {std::pair{"free.txt", "f"}, {"sub/free.txt", "sf"}, {"taken.txt", "current"},
                                        {"big", "the whole file"}})
        EXPECT_EQ(test::readFile(folder / path), content) << path;
    EXPECT_EQ(tree(folder / ".KeltoSync/Holding"),
              (Paths{runID + "/", runID + "/.KeltoSync", runID + "/taken.txt", "stray-file"}));
    EXPECT_TRUE(HoldingFolder::recover(test::TemporaryFolder().path()).empty());
}

// The later of two runs' holds wins, its ID read in summer or winter time.
TEST_F(HoldingFolderTest, RecoverPutsBackTheNewestOfItemsHeldForOnePath) {
    const struct {
        std::string name, earlier, later;
        bool marked;
    } rows[] = {{"killed runs", "2025-03-07_090000-11111111", "2025-03-07_100000-00000000", false},
                {"finished runs", "2025-03-07_090000-11111111", "2025-03-07_100000-00000000", true},
                {"RecoverPutsBackTheLaterHoldAcrossAFallBack", "2025-10-26_025000-11111111",
                 "2025-10-26_021000-00000000", false}};
    // When an item was made, or nothing where it cannot be read.
    const auto stamp = [](const fs::path& item) -> std::optional<std::pair<std::int64_t, std::uint32_t>> {
        struct statx info {};
        if (::statx(AT_FDCWD, item.c_str(), 0, STATX_BTIME | STATX_CTIME, &info) != 0) return std::nullopt;
        const statx_timestamp t = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_ctime;
        return std::pair(t.tv_sec, t.tv_nsec);
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(folder / ".KeltoSync");
        fs::remove_all(folder / "dir");
        hold("dir/f.txt", "first", row.earlier);
        hold("dir/g.txt", "only held once", row.earlier);
        const auto made = stamp(held(row.earlier));
        ASSERT_TRUE(made) << held(row.earlier);
        std::optional<std::pair<std::int64_t, std::uint32_t>> probe;
        do {  // the file system's clock moves on before the later run holds (its ticks are coarse)
            fs::remove(folder / "probe");
            fs::create_directory(folder / "probe");
            probe = stamp(folder / "probe");
            ASSERT_TRUE(probe) << folder / "probe";
        } while (!(*made < *probe));
        hold("dir/f.txt", "second", row.later);
        if (row.marked)
            for (const std::string& id : {row.earlier, row.later}) HoldingFolder::markReported(root(), id, {});
        EXPECT_EQ(summary(HoldingFolder::recover(root())),
                  (std::vector<Summary>{
                      {HoldingFolder::relativePath(row.earlier), {"dir/g.txt"}, {"dir/f.txt" + taken}},
                      {HoldingFolder::relativePath(row.later), {"dir/f.txt"}, {}}}));
        EXPECT_EQ(test::readFile(folder / "dir/f.txt") + test::readFile(folder / "dir/g.txt"), "secondonly held once");
        EXPECT_EQ(test::readFile(held(row.earlier) / "dir/f.txt"), "first");
        EXPECT_FALSE(fs::exists(held(row.later)));
    }
}

// Settled by the run, or recovered after a kill, by the source where the plan found it.
TEST_F(HoldingFolderTest, OnlyACopyOfOneItemTradesPlacesWithAnUnseenHeldVersion) {
    for (const bool recovered : {false, true}) {
        SCOPED_TRACE(recovered ? "RecoveryComparesWithTheSourceWhereItLies" : "settled");
        for (const auto& entry : fs::directory_iterator(root())) fs::remove_all(entry.path());
        test::TemporaryFolder source;
        for (test::TemporaryFolder* side : {&source, &folder}) {
            side->write("f.txt", "new");
            side->write("p/sub/s.txt", "s");
            fs::create_symlink("aaaa", *side / "copied");
        }
        folder.write("p/sub/mine.txt", "written into the copy meanwhile");
        fs::create_symlink("aaaa", source / "mine");
        fs::create_symlink("bbbb", folder / "mine");
        for (const char* path : {"f.txt", "p"})
            fs::last_write_time(folder / path, fs::last_write_time(source / path));
        HoldingFolder::prepare(root(), runID);
        for (const char* path : {"f.txt", "copied", "mine"}) hold(path, "edited during the run");
        hold("p", "a file the folder replaced, edited during the run");
        const int sourceFolder = ::open(source.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(sourceFolder, 0);
        HoldingFolder::Planned planned{.replaced = {"f.txt", "p", "copied", "mine"}, .source = source.path()};
        std::vector<Summary> settled;
        if (recovered) {
            planned.source = "/proc/self/fd/" + std::to_string(sourceFolder);
            HoldingFolder::record(root(), runID, planned);
            // The run is gone; its descriptor's number now names another folder.
            const int destination = ::open(root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ASSERT_GE(destination, 0);
            ASSERT_EQ(::dup3(destination, sourceFolder, O_CLOEXEC), sourceFolder);
            ::close(destination);
            settled = summary(HoldingFolder::recover(root()));
        } else {
            settled = summary({HoldingFolder::settle(root(), runID, planned)});
        }
        ::close(sourceFolder);
        const Summary expected{HoldingFolder::relativePath(runID), {"copied", "f.txt"}, {"mine" + taken, "p" + taken}};
        EXPECT_EQ(settled, std::vector<Summary>{expected});
        for (const char* path : {"f.txt", "copied"}) EXPECT_EQ(test::readFile(folder / path), "edited during the run");
        EXPECT_EQ(test::readFile(folder / "p/sub/mine.txt"), "written into the copy meanwhile");
        EXPECT_EQ(fs::read_symlink(folder / "mine"), "bbbb");
        EXPECT_EQ(test::readFile(held() / "p"), "a file the folder replaced, edited during the run");
    }
}

TEST_F(HoldingFolderTest, RecoveryRestoresWhatCrossingDroppedAsSettlingWould) {
    const std::string later = "2025-03-08_090000-00ff00ff";
    folder.write("mnt/g", "linked");
    HoldingFolder::prepare(root(), runID);
    hold("mnt/f", "linked");  // as rsync's copy across left them: one name, no attributes
    hold("mnt/solo", "solo");
    const struct stat other = statOf(folder / "mnt/g");
    const struct stat f = statOf(held() / "mnt/f");
    const struct stat solo = statOf(held() / "mnt/solo");
    const std::string value("2\0x", 3);
    HoldingFolder::Planned planned;
    planned.crossed["mnt/f"] = {other.st_dev, other.st_ino, S_IFREG, f.st_size, f.st_mtim, {}, {"mnt/g"}};
    planned.crossed["mnt/solo"] = {solo.st_dev, solo.st_ino, S_IFREG, solo.st_size, solo.st_mtim, {{"user.b", value}}, {}};
    HoldingFolder::record(root(), runID, planned);
    SCOPED_TRACE("APlanInTheEarlierFormIsNoPlanAndAMarksTemporaryStaysOutOfR");  // a later run's, alongside
    hold("f", "held", later);
    hold("..KeltoSync.tmp-0a1b2c3d-4e5", "{\"interr", later);
    const struct stat item = statOf(held(later) / "f");
    std::string old;
    for (const std::string& field : {std::string(), std::string("0"), std::string(), std::string(), std::string("d"),
                                     std::string("f"), std::string("1"), std::string("0"), std::to_string(item.st_size),
                                     std::to_string(item.st_mtim.tv_sec), std::to_string(item.st_mtim.tv_nsec),
                                     std::to_string(item.st_dev), std::to_string(item.st_ino)})
        old.append(field).push_back('\0');
    folder.write(".KeltoSync/Holding/" + later + ".plan", old);
    EXPECT_EQ(summary(HoldingFolder::recover(root())),
              (std::vector<Summary>{{HoldingFolder::relativePath(runID), {"mnt/f", "mnt/solo"}, {}},
                                    {HoldingFolder::relativePath(later), {"f"}, {}}}));
    EXPECT_TRUE(fs::equivalent(folder / "mnt/f", folder / "mnt/g"));
    char read[8] = {};
    EXPECT_EQ(::getxattr((folder / "mnt/solo").c_str(), "user.b", read, sizeof read), 3);
    EXPECT_EQ(std::string(read, 3), value);
    EXPECT_EQ(test::readFile(folder / "f"), "held");
    EXPECT_FALSE(fs::exists(folder / "..KeltoSync.tmp-0a1b2c3d-4e5"));
    EXPECT_FALSE(fs::exists(held()) || fs::exists(held(later)));
}

TEST_F(HoldingFolderTest, ArchivedItemsKeepTheirFoldersPermissions) {
    const auto holdPrivate = [&](const std::string& id) {
        HoldingFolder::prepare(root(), id);
        hold("private/deep/f.txt", "old", id);
        fs::permissions(held(id) / "private", fs::perms::owner_all);
    };
    const std::string killedRun = "2025-03-07_141400-0a1b2c3d";
    holdPrivate(killedRun);
    HoldingFolder::Planned planned{.deleted = {"private/deep/f.txt", "private/deep", "private"},
                                   .seen = {{"private/deep/f.txt", versionOf(held(killedRun) / "private/deep/f.txt")}},
                                   .archiveTo = "archive/killed"};
    HoldingFolder::record(root(), killedRun, planned);
    ASSERT_TRUE(HoldingFolder::recover(root()).empty());
    holdPrivate(runID);
    planned.seen = {{"private/deep/f.txt", versionOf(held() / "private/deep/f.txt")}};
    planned.archiveTo = "archive/run";
    EXPECT_FALSE(HoldingFolder::settle(root(), runID, planned).hasItems());
    for (const char* archive : {"archive/killed", "archive/run"}) {
        EXPECT_EQ(test::readFile(folder / archive / "private/deep/f.txt"), "old") << archive;
        EXPECT_EQ(fs::status(folder / archive / "private").permissions(), fs::perms::owner_all) << archive;
    }
}

TEST_F(HoldingFolderTest, AKilledRunsConflictsAreNamedOnceWhicheverOfItsEntriesComesFirst) {
    const Paths runs = {"2025-03-07_141503-0a1b2c01", "2025-03-07_141503-0a1b2c02"};
    for (const std::string& run : runs) {
        const std::string path = run + ".txt";
        folder.write(path, "loser");
        const HoldingFolder::Planned planned{
            .replaced = {path}, .seen = {{path, versionOf(root() / path)}}, .conflicts = {path}};
        HoldingFolder::prepare(root(), run);
        HoldingFolder::record(root(), run, planned);
        folder.write(path, "the winner");  // the run's copy took its place
    }
    // The second run's folder made again after its plan: it comes first.
    fs::remove(held(runs[1]));
    HoldingFolder::prepare(root(), runs[1]);
    std::map<std::string, int> named;
    for (const HoldingFolder::Settlement& settled : HoldingFolder::recover(root()))
        for (const std::string& path : settled.conflicts) ++named[path];
    EXPECT_EQ(named, (std::map<std::string, int>{{runs[0] + ".txt", 1}, {runs[1] + ".txt", 1}}));
}

TEST(HoldingRecordsTest, NamesThatAreNotUtf8ReadBackAsTheyWere) {
    const std::string latin1 = "caf\xe9/r\xe9sum\xe9";
    HoldingFolder::Planned planned;
    planned.source = "/src/" + latin1;
    planned.modifyWindow = 2;
    planned.archiveTo = "archive/" + latin1;
    planned.deleted = {latin1, "gone"};
    planned.replaced = {"new/\xc3\xa9"};
    planned.seen[latin1] = ItemVersion{EntryKind::file, 5, 7, 9, 1, 2, 3, 4};
    planned.folders["caf\xe9"] = FolderIdentity(1, 0, "/mnt/" + latin1);
    planned.crossed[latin1] = {1, 2, S_IFREG, 5, {7, 9}, {{"user.a", std::string("2\0\xff", 3)}}, {"other"}};
    planned.copies = {latin1};
    planned.conflicts = {latin1};
    const std::string bytes = JsonText::encode(planned);
    EXPECT_NE(bytes.find(R"({"path":{"base64":")" + Base64::encode(latin1) + "\"}"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("\"new/\xc3\xa9\""), std::string::npos) << bytes;
    const std::optional<HoldingFolder::Planned> read = HoldingRecords::decodePlan(bytes);
    ASSERT_TRUE(read);
    const auto fields = [&](const HoldingFolder::Planned& p) {
        const HoldingFolder::Crossed& c = p.crossed.at(latin1);
        return std::tie(p.source, p.modifyWindow, p.archiveTo, p.deleted, p.replaced, p.seen, p.folders, p.copies,
                        p.conflicts, c.device, c.fileNumber, c.kind, c.size, c.mtime.tv_sec, c.mtime.tv_nsec,
                        c.attributes, c.otherNames);
    };
    ASSERT_EQ(read->crossed.size(), 1u);
    EXPECT_EQ(fields(*read), fields(planned));
    EXPECT_FALSE(HoldingRecords::decodePlan(bytes.substr(0, bytes.size() - 1)));
    const HoldingRecords::Mark mark{true, {latin1, "taken"}};
    const std::string markBytes = JsonText::encode(mark);
    const std::optional<HoldingRecords::Mark> marked = HoldingRecords::decodeMark(markBytes);
    ASSERT_TRUE(marked);
    EXPECT_EQ(std::tie(marked->interrupted, marked->placeTaken), std::tie(mark.interrupted, mark.placeTaken));
    EXPECT_FALSE(HoldingRecords::decodeMark(markBytes.substr(0, markBytes.size() - 3)));
    EXPECT_FALSE(HoldingRecords::decodeMark(std::string("a\0b\0", 4)));
}

// Read below each root, following no link; what cannot be read is different.
TEST(ContentCheck, OneTimeToTheNanosecondTellsNothingOnlyBytesAndLinkTargetsDo) {
    test::TemporaryFolder tmp;
    for (const char* path : {"a/d/f", "b/d/f", "b/real/f", "a/same", "b/same"}) tmp.write(path, "same bytes");
    tmp.write("a/g", "A's bytes");
    tmp.write("b/g", "B's bytes");
    for (const char* file : {"a/g", "b/g", "a/same"}) setTime(tmp / file, t0, 123'456'789);
    setTime(tmp / "b/same", t0);
    for (const char* link : {"a/l", "a/m", "b/m"}) fs::create_symlink("target-1", tmp / link);
    fs::create_symlink("target-2", tmp / "b/l");
    fs::create_directory_symlink(tmp / "b/real", tmp / "b/linked");
    ASSERT_EQ(::mkfifo((tmp / "b/p").c_str(), 0600), 0);
    ContentCheck check(tmp / "a", tmp / "b");
    const std::vector<std::tuple<const char*, const char*, bool>> pairs{
        {"d/f", "d/f", true},       {"same", "same", true}, {"m", "m", true},   {"g", "g", false},
        {"l", "l", false},          {"m", "same", false},   {"d/f", "l", false}, {"d/f", "p", false},
        {"d/f", "linked/f", false}, {"d/f", "missing", false}};
    for (const auto& [inA, inB, same] : pairs) EXPECT_EQ(check.same(inA, inB), same) << inA << " against " << inB;
    EXPECT_FALSE(ContentCheck(tmp / "gone", tmp / "b").same("d/f", "d/f"));
    SCOPED_TRACE("UnchangedCheck.ComparesKindTimeAndSizeWithoutFollowingLinks");
    const fs::path& root = tmp.path();
    tmp.write("f", "12345");
    setTime(root / "f", 1000);
    tmp.write("d/g", "1");
    fs::create_symlink("f", root / "l");
    setTime(root / "l", 3000);
    fs::create_directory_symlink(root / "d", root / "dl");
    setTime(root / "d" / "g", 5);
    setTime(root / "d", 2000);
    const SideEntry file{"f", EntryKind::file, 5, 1000};
    const std::vector<std::pair<SideEntry, bool>> cases{
        {file, true}, {{"d", EntryKind::directory, 1, 2000}, true},  // a folder's size is ignored
        {{"l", EntryKind::symlink, 1, 3000}, true}, {{"d/g", EntryKind::file, 1, 5}, true},
        {{"f", EntryKind::file, 5, 1001}, false}, {{"f", EntryKind::file, 6, 1000}, false},
        {{"l", EntryKind::file, 5, 1000}, false},  // the link, not its target
        {{"missing", EntryKind::file, 5, 1000}, false}, {{"../f", EntryKind::file, 5, 1000}, false},
        {{"dl/g", EntryKind::file, 1, 5}, false}};
    for (const auto& [entry, unchanged] : cases)
        EXPECT_EQ(UnchangedCheck::isUnchanged(entry, root), unchanged) << entry.actualPath;
    fs::remove(root / "f");
    fs::create_directories(root / "f");
    setTime(root / "f", 1000);
    EXPECT_FALSE(UnchangedCheck::isUnchanged(file, root));
}

TEST_F(CopySourceCheckTest, NamesTheCopiedSourcesWhoseSizeTimesOrChangeTimeMoved) {
    for (const char* name : {"same", "grown", "retimed", "touched", "gone", "dir/nested", "not copied"})
        put(name, "12345");
    fs::create_symlink("same", source / "link");
    CopySourceCheck check(source.path(), {"same", "grown", "retimed", "touched", "gone", "dir/nested", "link",
                                          "not copied", "late", "missing"});
    put("grown", "123456");
    setTime(source / "retimed", t0, 1);  // a nanosecond is enough
    touchChangeTimeOnly(source / "touched");
    fs::remove(source / "gone");
    put("dir/nested", "54321");  // same size, same time: the change time tells
    touchChangeTimeOnly(source / "dir/nested");
    fs::remove(source / "link");
    fs::create_symlink("grown", source / "link");  // links are not watched
    put("not copied", "changed");
    put("late", "made after the first look");
    EXPECT_EQ(check.changed({"dir/nested", "same", "late", "link", "touched", "gone", "retimed", "grown", "grown",
                             "missing"}),
              (std::vector<std::string>{"dir/nested", "touched", "gone", "retimed", "grown"}));
    EXPECT_TRUE(CopySourceCheck(source.path(), {"same"}).changed({"same"}).empty());
    SCOPED_TRACE("AStaleMarkPutsTheCopyBeyondTheWindowBeforeBothLooksAndTouchesNothingElse");
    for (const char* name : {"older", "newer", "replaced", "calm"}) put(name, "12345", t0 + 100);
    for (const char* name : {"older", "newer", "calm"}) {
        destination.write(name, "copy");
        setTime(destination / name, t0 + 100);
    }
    fs::create_symlink("elsewhere", destination / "replaced");  // not the copy rsync made
    const timespec linkTime = statOf(destination / "replaced").st_mtim;
    CopySourceCheck stale(source.path(), {"older", "newer", "replaced", "calm"});
    setTime(source / "older", t0 + 50);
    setTime(source / "newer", t0 + 200);
    setTime(source / "replaced", t0 + 200);
    ASSERT_EQ(stale.changed({"older", "newer", "replaced", "calm"}),
              (std::vector<std::string>{"older", "newer", "replaced"}));
    for (const char* name : {"older", "newer", "replaced", "calm", "never there"})
        stale.markStale(destination.path(), name, 1);
    EXPECT_EQ(statOf(destination / "older").st_mtim.tv_sec, t0 + 50 - 3);
    EXPECT_EQ(statOf(destination / "newer").st_mtim.tv_sec, t0 + 100 - 3);
    EXPECT_EQ(statOf(destination / "newer").st_mtim.tv_nsec, 0);
    EXPECT_EQ(test::readFile(destination / "newer"), "copy");  // the bytes stay
    const timespec replaced = statOf(destination / "replaced").st_mtim;
    EXPECT_EQ(std::pair(replaced.tv_sec, replaced.tv_nsec), std::pair(linkTime.tv_sec, linkTime.tv_nsec));
    EXPECT_EQ(statOf(destination / "calm").st_mtim.tv_sec, t0 + 100);
    // Never through a link on the way.
    put("dir/f", "12345");
    fs::create_directory(destination / "real");
    destination.write("real/f", "copy");
    setTime(destination / "real/f", t0);
    fs::create_directory_symlink(destination / "real", destination / "dir");
    CopySourceCheck below(source.path(), {"dir/f"});
    put("dir/f", "changed");
    ASSERT_EQ(below.changed({"dir/f"}), std::vector<std::string>{"dir/f"});
    EXPECT_NO_THROW(below.markStale(destination.path(), "dir/f", 0));
    EXPECT_EQ(statOf(destination / "real/f").st_mtim.tv_sec, t0);
}
