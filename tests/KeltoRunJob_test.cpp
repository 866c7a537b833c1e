#include "tests/KeltoRunJobFixture.h"
#include "tests/support/LocalSshd.h"

#include "SyncAutomation/VolumeInspector.h"
#include "SyncModel/JobStore.h"
#include "SyncModel/Support/FileDescriptor.h"

#include <poll.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <numeric>
#include <sstream>

namespace kelto::test {
namespace {

TEST_F(KeltoRunJobTest, TwoWayPlanListsCopiesArchivesAndConflictsWithTheirSides) {
    const Files old{{"same", "old"}, {"conflict", "old"}, {"gone", "old"}};
    lay(a, old);
    lay(b, old);
    ASSERT_EQ(run({"--mode", "twoWay"}).out.at("outcome"), "success");
    putAt(a / "onlyA", "new on A", t0 + 10);
    putAt(a / "odd\xff name", "a name that is not UTF-8", t0 + 10);
    putAt(b / "onlyB", "new on B", t0 + 10);
    putAt(a / "conflict", "A's edit", t0 + 20);
    putAt(b / "conflict", "B's later edit", t0 + 30);
    fs::remove(b / "gone");
    const Json out = plan({"--mode", "twoWay"});
    EXPECT_EQ(listed(out, "copies", "to"),
              (Pairs{{"onlyA", "b"}, {"odd\xEF\xBF\xBD name", "b"}, {"onlyB", "a"}, {"conflict", "a"}}));
    // B's later edit wins: A's version is archived on A.
    EXPECT_EQ(listed(out, "archives", "on"), (Pairs{{"gone", "a"}, {"conflict", "a"}}));
    EXPECT_EQ(std::tuple(out["planLists"]["conflicts"], out["planLists"]["skipped"], out["plan"]["conflicts"]),
              std::tuple(Json{"conflict"}, Json::array(), Json(1)));
    EXPECT_FALSE(out.contains("outcome") || out.contains("record")) << "a preview runs nothing";
}

// FAT keeps its size limit and folds names whatever the command line says of case.
TEST_F(KeltoRunJobTest, FileSystemAndCaseSensitivityAreSetPerSideIndependently) {
    lay(a, {{"Notes", "one"}, {"NOTES", "two"}, {"new", "new"}, {"huge", ""}});
    fs::resize_file(a / "huge", 5LL << 30);  // sparse
    lay(b, {{"Extra", "x"}, {"EXTRA", "y"}});
    const Files before = tree(b);
    const Pairs toA{{"Extra", "caseCollision"}, {"EXTRA", "caseCollision"}};
    const Pairs toB{{"Notes", "caseCollision"}, {"NOTES", "caseCollision"}};
    Pairs toFat = toB;
    toFat.emplace("huge", "tooLargeForFAT");
    for (const auto& [options, skipped] : std::vector<std::pair<Options, Pairs>>{
             {{}, {}},
             {{"--fs-type", "vfat"}, toFat},
             {{"--fs-type-b", "ext4", "--case-sensitive-b", "no"}, toB},
             {{"--fs-type-b", "vfat", "--case-sensitive-b", "yes"}, toFat},
             {{"--fs-type-a", "vfat", "--case-sensitive-a", "no"}, {}},  // a source's traits do not matter
             {{"--mode", "twoWay", "--case-sensitive-a", "no"}, toA},
             {{"--mode", "twoWay", "--fs-type-a", "exfat"}, toA},
             {{"--mode", "twoWay", "--case-sensitive-b", "no", "--fs-type-b", "vfat"}, toFat},
         }) {
        const Json out = plan(options);
        SCOPED_TRACE(out.dump());
        EXPECT_EQ(listed(out, "skipped", "reason"), skipped);
        const bool twoWay = !options.empty() && options[1] == "twoWay";
        Pairs copies, archives;
        for (const char* name : {"Notes", "NOTES", "new", "huge", "Extra", "EXTRA"}) {
            const bool onB = std::string_view(name).starts_with('E');
            if (onB && !twoWay)
                archives.emplace(name, "b");
            else if (!skipped.contains({name, "caseCollision"}) && !skipped.contains({name, "tooLargeForFAT"}))
                copies.emplace(name, onB ? "a" : "b");
        }
        EXPECT_EQ(listed(out, "copies", "to"), copies);
        EXPECT_EQ(listed(out, "archives", "on"), archives);
    }
    EXPECT_EQ(tree(b), before) << "previews change nothing";
    EXPECT_FALSE(fs::exists(tmp / "logs"));
    EXPECT_TRUE(std::none_of(fs::recursive_directory_iterator(tmp / "support"), {},
                             [](const auto& entry) { return entry.path().extension() == ".sqlite"; }))
        << "a job that never ran keeps no baseline";
}

TEST_F(KeltoRunJobTest, AFailedScanReportsItsExitCodeAndErrorTail) {
    putAt(a / "file", "x", t0);
    for (const auto& [mode, code, outcome] : {std::tuple{"mirror", 23, Json{{"outcome", "completedWithErrors"}}},
                                              std::tuple{"twoWay", 12, Json{{"outcome", "failed"},
                                                                            {"message", "rsync error: gave up (code 12)"}}}}) {
        const std::string tail = "rsync error: gave up (code " + std::to_string(code) + ")";
        const fs::path rsync = tmp.script("fake-rsync", "echo 'rsync: first complaint' >&2\n"
                                                     "echo '" + tail + "' >&2\nexit " + std::to_string(code));
        const auto [status, out] = run({"--mode", mode, "--rsync", rsync, "--plan-only"});
        SCOPED_TRACE(out.dump());
        const Json& error = out["error"];
        EXPECT_EQ(std::tuple(status, error["code"], error["exit"]["code"], error["exit"]["stderrTail"]),
                  std::tuple(2, Json("scanFailed"), Json(code), Json{"rsync: first complaint", tail}));
        const auto [runStatus, ran] = run({"--mode", mode, "--rsync", rsync});
        SCOPED_TRACE(ran.dump());
        EXPECT_EQ(runStatus, 1);
        for (const auto& [key, value] : outcome.items()) EXPECT_EQ(ran[key], value) << key;
        EXPECT_EQ(ran["record"]["stats"]["errors"],
                  Json{"scanFailed(code: " + std::to_string(code) + ", stderr: [\"rsync: first complaint\", \"" + tail +
                       "\"])"});
    }
}

// Damaged counts read as none let a run with A emptied delete every file on B.
TEST_F(KeltoRunJobTest, TheGuardGetsPreviousCountsOnlyForTheBaselinesVolumes) {
    const Options recorded{"--mode", "twoWay", "--volume-a", "VOLUME-A", "--volume-b", "VOLUME-B"}, none{"--mode", "twoWay"};
    const Files both{{"one", "1"}, {"two", "2"}};
    lay(a, both);
    ASSERT_EQ(run(recorded).out.at("outcome"), "success");
    const auto damageCounts = [&](const fs::path& baseline) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(baseline.c_str(), &db), SQLITE_OK);
        const int damaged = sqlite3_exec(db, "UPDATE meta SET value = '2x' WHERE key = 'countA'", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ASSERT_EQ(damaged, SQLITE_OK);
    };
    fs::path baseline;
    for (const auto& [options, damaged, emptied] : std::vector<std::tuple<Options, bool, bool>>{
             {recorded, false, true},
             {{"--mode", "twoWay", "--volume-a", "OTHER-A", "--volume-b", "VOLUME-B"}, false, false},
             {none, false, false},
             {none, true, false}}) {
        if (damaged) damageCounts(baseline);
        for (const auto& [name, content] : both) fs::remove(a / name);
        const auto [status, out] = run(options);
        SCOPED_TRACE(out.dump());
        baseline = tmp / "support/state" / (out.value("job", "") + ".sqlite");
        const bool stopped = damaged || emptied;
        EXPECT_EQ(status, stopped ? 1 : 0);
        EXPECT_EQ(out.value("outcome", ""), stopped ? "failed" : "success");
        if (emptied) {
            EXPECT_EQ(out.value("message", ""), "A previously populated side is empty \u2014 is the right disk connected?");
        } else if (damaged) {
            EXPECT_TRUE(out.value("message", "").starts_with("The baseline file " + baseline.string() + " cannot be used"));
        } else {
            EXPECT_EQ(out.at("record").at("stats").value("filesCopied", -1), 2);  // B's files are new to A
        }
        EXPECT_EQ(std::pair(tree(a), tree(b)), std::pair(stopped ? Files{} : both, both));
    }
}

TEST_F(KeltoRunJobTest, ASideReplacedByAnOlderCopyOfItsFolderIsRefused) {
    putAt(a / "kept", "kept", t0);
    ASSERT_EQ(run({"--mode", "twoWay"}).out.at("outcome"), "success");
    const std::vector<SyncJob> stored = JobStore(tmp / "support/jobs.json").load();
    ASSERT_EQ(stored.size(), 1u);
    for (const auto& [side, folder] : {std::pair{stored[0].source, a}, std::pair{stored[0].destination, b}}) {
        const Endpoint chosen = VolumeInspector::endpoint(folder);
        EXPECT_TRUE(side.path == chosen.path && side.relativePath == chosen.relativePath && side.fileID == chosen.fileID);
        EXPECT_TRUE(side.fileID);
    }
    fs::copy(a, tmp / "old copy", fs::copy_options::recursive);
    putAt(a / "added", "added", t0 + 10);
    ASSERT_EQ(run({"--mode", "twoWay"}).out.at("outcome"), "success");
    ASSERT_TRUE(fs::exists(b / "added"));
    fs::rename(a, tmp / "a moved");
    fs::rename(tmp / "old copy", a);
    const auto [status, out] = run({"--mode", "twoWay"});
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(out.value("outcome", "") + " " + out.value("reason", ""), "skipped folderMissing") << out;
    EXPECT_EQ(contents(b / "added"), "added");
    EXPECT_EQ(JobStore(tmp / "support/jobs.json").load(), stored);
}

// The processes that wait for the lock on `file` (in /proc/locks, "->" marks a waiter).
std::set<pid_t> waitingFor(const fs::path& file) {
    struct stat held {};
    if (::stat(file.c_str(), &held) != 0) return {};
    const std::string inode = ":" + std::to_string(held.st_ino);
    std::set<pid_t> waiting;
    std::istringstream table(contents("/proc/locks"));
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string number, arrow, kind, mode, access, pid, where;
        if (fields >> number >> arrow >> kind >> mode >> access >> pid >> where && arrow == "->" &&
            where.ends_with(inode))
            waiting.insert(std::stoi(pid));
    }
    return waiting;
}

// The test holds the jobs file's lock until both drivers wait for it.
TEST_F(KeltoRunJobTest, TwoDriversAddingOneJobAtOnceAgreeOnItsId) {
    putAt(a / "file", "x", t0);
    const JobStore store(tmp / "support/jobs.json");
    std::vector<pid_t> drivers;
    store.modify([&](std::vector<SyncJob>&) {
        for (const char* out : {"first.json", "second.json"}) drivers.push_back(start({"--plan-only"}, tmp / out));
        std::vector<FileDescriptor> ends;
        std::vector<pollfd> watch;
        for (const pid_t driver : drivers) {
            ends.emplace_back(static_cast<int>(::syscall(SYS_pidfd_open, driver, 0)));
            watch.push_back({ends.back().get(), POLLIN, 0});
        }
        for (int turns = 0; waitingFor(store.lockFile()) != std::set<pid_t>(drivers.begin(), drivers.end());) {
            ASSERT_EQ(::poll(watch.data(), watch.size(), 20), 0) << "a driver ended without waiting for the lock";
            ASSERT_LT(++turns, 3000) << "the drivers never waited for the lock";
        }
    });
    for (const pid_t driver : drivers) ::waitpid(driver, nullptr, 0);
    const Json first = Json::parse(contents(tmp / "first.json")), second = Json::parse(contents(tmp / "second.json"));
    EXPECT_EQ(first.value("job", ""), second.value("job", "")) << first << second;
    const std::vector<SyncJob> jobs = store.load();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].id.string(), first.value("job", ""));
}

// `%` in each word replaced by `folder`.
std::vector<std::string> expand(std::vector<std::string> command, const fs::path& folder) {
    for (std::string& word : command)
        for (std::size_t at; (at = word.find('%')) != std::string::npos;) word.replace(at, 1, folder.native());
    return command;
}

TEST_F(KeltoRunJobTest, SidesWhoseTreesReachEachOtherThroughMountsAreRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    TestMounts mounts;  // undone before the temporary folder goes
    std::vector<Refused> layouts;
    lay(tmp / "R/data", {{"src/photos/1.jpg", "1"}, {"src/photos/2.jpg", "2"}, {"src/photos/3.jpg", "3"}, {"dst/inner", "dir/"}});
    ASSERT_TRUE(mounts.bind(tmp / "R/data", tmp / "R/data/dst/inner"));
    layouts.push_back({tmp / "R/data/src", tmp / "R/data/dst"});
    // w/real/inner shown again at w/other: neither path leads into the other.
    lay(tmp / "w", {{"real/d/f1.txt", "x"}, {"real/inner", "dir/"}, {"other", "dir/"}});
    ASSERT_TRUE(mounts.bind(tmp / "w/real/inner", tmp / "w/other"));
    layouts.push_back({tmp / "w/real", tmp / "w/other"});
    lay(tmp.path(), {{"P/A/a.txt", "a"}, {"P/taxes.pdf", "taxes"}, {"PB", "dir/"}, {"E", "dir/"}});
    ASSERT_TRUE(mounts.passThrough(tmp / "P", tmp / "PB")) << "bindfs missing";
    layouts.push_back({tmp / "P/A", tmp / "PB"});
    ASSERT_TRUE(mounts.exfat(tmp / "exfat.img", tmp / "E")) << "exFAT through FUSE cannot be mounted";
    lay(tmp / "E/data", {{"sub/s.txt", "s"}, {"other.doc", "o"}});
    layouts.push_back({tmp / "E/data/sub", tmp / "E/Data"});

    const auto layout = [&](const std::string& name, const std::vector<std::string>& command) {
        const fs::path x = tmp / name;
        lay(x, {{"B/inner", "dir/"}, {"other", "dir/"}, {"low", "dir/"}, {"work", "dir/"}, {"A/one.txt", "one"}, {"A/sub/two.txt", "two"}});
        EXPECT_TRUE(mounts.mount(expand(command, x), x / "B/inner")) << name;
        layouts.push_back({x / "A", x / "B", x / "B/inner", false, true});
    };
    layout("mergerfs", {"mergerfs", "%/A:%/other", "%/B/inner"});
    layout("mergerfs-named", {"mergerfs", "-o", "fsname=photos", "%/A", "%/B/inner"});
    layout("unionfs", {"unionfs", "%/A=RW:%/other=RO", "%/B/inner"});
    layout("relative", {"sh", "-c", "cd % && mount -t overlay overlay -o lowerdir=low,upperdir=A,workdir=work B/inner"});
    fs::create_directories(tmp / "elsewhere/A");
    fs::create_directory_symlink(tmp / "linked", tmp / "link");
    const std::string link = (tmp / "link").native();
    layout("linked", {"mount", "-t", "overlay", "overlay", "-o",
                      "lowerdir=" + link + "/low,upperdir=" + link + "/A,workdir=" + link + "/work", "%/B/inner"});
    fs::remove(tmp / "link");
    fs::create_directory_symlink(tmp / "elsewhere", tmp / "link");

    for (const auto& [name, command] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"pool-mergerfs", {"mergerfs", "-o", "fsname=pool,category.create=ff", "%/own:%/B/sub", "%/A"}},
             {"pool-unionfs", {"unionfs", "-o", "fsname=pool", "%/own=RW:%/B/sub=RW", "%/A"}},
             {"pool-overlay", {"sh", "-c", "cd % && mount -t overlay overlay -o lowerdir=B/sub,upperdir=own,workdir=work A"}}}) {
        const fs::path x = tmp / name;
        lay(x, {{"B/sub/photo.jpg", "photo"}, {"B/top.txt", "top"}, {"own", "dir/"}, {"work", "dir/"}, {"A", "dir/"}});
        ASSERT_TRUE(mounts.mount(expand(command, x), x / "A")) << name;
        layouts.push_back({x / "A", x / "B", x / "A"});
    }
    for (const Refused& refused : layouts) refusedBothWays(refused, everyRun);
    EXPECT_FALSE(fs::exists(tmp / "w/real/inner/.KeltoSync"));

    SCOPED_TRACE("TreesOnlyAllMountsTellApartOrTogetherAreJudgedByThem");
    layouts.clear();
    Files entries{{"RA/a.txt", "a"}, {"A/a.txt", "a"}, {"LR/real/up/A/a.txt", "a"}, {"L/real/up/A/a.txt", "a"},
                  {"I/A/note.txt", "note"}, {"S/data/me/doc.txt", "doc"}, {"V/x/sub/f.txt", "f"}};
    for (const char* folder : {"RA/r", "RB/in", "RO/lower", "RO/upper", "RO/work", "ROB/o", "LR/real/low",
                               "LR/real/work", "LR/decoy/up", "LRB/o", "partA", "partB/disk", "W", "WS", "images",
                               "L/real/low", "L/real/work", "L/O", "I/B/disk", "S/B/m", "Vu/up", "Vu/work", "VB/m",
                               "N/A", "N/B"})
        entries.emplace(folder, "dir/");
    lay(tmp.path(), entries);
    ASSERT_TRUE(mounts.mount({"mount", "-t", "ramfs", "ramfs", (tmp / "RA/r").native()}, tmp / "RA/r"));
    ASSERT_TRUE(mounts.bind(tmp / "RA/r", tmp / "RB/in"));
    putAt(tmp / "RA/r/kept.txt", "kept", t0);
    layouts.push_back({tmp / "RA", tmp / "RB"});

    const std::string overlay = "mount -t overlay overlay -o lowerdir=lower,upperdir=upper,workdir=work";
    ASSERT_TRUE(mounts.mount(expand({"sh", "-c", "cd '%/RO' && " + overlay + " '%/ROB/o'"}, tmp.path()),
                             tmp / "ROB/o"));
    layouts.push_back({tmp / "A", tmp / "ROB", tmp / "ROB/o", true});

    fs::create_directory_symlink(tmp / "LR/real", tmp / "LR/link");
    ASSERT_TRUE(mounts.overlay(tmp / "LR/link/low", tmp / "LR/link/up", tmp / "LR/link/work", tmp / "LRB/o"));
    fs::remove(tmp / "LR/link");
    fs::create_directory_symlink(tmp / "LR/decoy", tmp / "LR/link");
    layouts.push_back({tmp / "LR/real/up/A", tmp / "LRB"});

    // One partition from 1 MiB to the end of a 32 MiB image.
    const fs::path image = tmp / "partA/partitioned.img";
    std::string sector(512, '\0');
    sector.replace(446, 16, std::string("\0\0\0\0\x83\0\0\0\0\x08\0\0\0\xF8\0\0", 16));
    sector.replace(510, 2, "\x55\xAA");
    putAt(image, sector, t0);
    fs::resize_file(image, 32 << 20);
    const std::string device = mounts.loopDevice(image);
    ASSERT_FALSE(device.empty());
    runQuietly({"partx", "-a", device});  // where the kernel did not scan it itself
    ASSERT_EQ(runQuietly({"mkfs.ext4", "-q", "-F", device + "p1"}), 0);
    // Read-only: mounted to write, the kernel changes the image for seconds after, as if the run had.
    ASSERT_TRUE(mounts.mount({"mount", "-o", "ro", device + "p1", (tmp / "partB/disk").native()}, tmp / "partB/disk"));
    putAt(tmp / "partA/note.txt", "note", t0);
    layouts.push_back({tmp / "partA", tmp / "partB"});

    fs::create_directory_symlink(tmp / "L/real", tmp / "L/link");
    ASSERT_TRUE(mounts.overlay(tmp / "L/link/low", tmp / "L/link/up", tmp / "L/link/work", tmp / "L/O"));
    layouts.push_back({tmp / "L/real/up/A", tmp / "L/O"});
    ASSERT_TRUE(mounts.ext4Image(tmp / "I/A/disk.img", tmp / "I/B/disk", true));
    layouts.push_back({tmp / "I/A", tmp / "I/B"});
    ASSERT_TRUE(mounts.passThrough(tmp / "S/data/me", tmp / "S/data/me")) << "bindfs missing";
    ASSERT_TRUE(mounts.bind(tmp / "S/data", tmp / "S/B/m"));
    layouts.push_back({tmp / "S/data/me", tmp / "S/B"});
    ASSERT_TRUE(mounts.overlay(tmp / "V/x", tmp / "Vu/up", tmp / "Vu/work", tmp / "V/x"));
    ASSERT_TRUE(mounts.bind(tmp / "V", tmp / "VB/m"));
    layouts.push_back({tmp / "V/x/sub", tmp / "VB"});

    for (const Refused& refused : layouts) refusedBothWays(refused, {{"--mode", "mirror", "--archive", "off"}});

    ASSERT_TRUE(mounts.ext4Image(tmp / "images/w.img", tmp / "W"));
    putAt(tmp / "W/photos/p.jpg", "p", t0);
    fs::create_directories(tmp / "W/sub");
    ASSERT_TRUE(mounts.bind(tmp / "W/sub", tmp / "WS"));
    ASSERT_TRUE(mounts.ext4Image(tmp / "images/a.img", tmp / "N/A"));
    ASSERT_TRUE(mounts.ext4Image(tmp / "images/b.img", tmp / "N/B"));
    putAt(tmp / "N/A/x.txt", "x", t0);
    for (const auto& [sideA, sideB] : {std::pair{tmp / "W/photos", tmp / "WS"}, std::pair{tmp / "N/A", tmp / "N/B"}})
        succeedsBetween(sideA, sideB, {"--mode", "mirror", "--archive", "off"});
}

// A desktop FUSE mount names no folder: only the markers place it.
TEST_F(KeltoRunJobTest, SidesOnDesktopFuseMountsRunUnlessTheirTreesReachEachOther) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    TestMounts mounts;  // undone before the temporary folder goes
    lay(tmp.path(), {{"phone/DCIM/1.jpg", "one"}, {"local/doc.txt", "doc"}, {"phone/share", "dir/"}, {"gvfs", "dir/"}});
    ASSERT_TRUE(mounts.desktop(tmp / "phone", tmp / "gvfs")) << "unionfs could not be mounted";
    for (const std::string archive : {"off", "on"}) {
        SCOPED_TRACE(archive);
        // Written through the mount: behind it, its cache would show the old size a while.
        putAt(tmp / "gvfs/DCIM/1.jpg", "one " + archive, t0 + 1);
        putAt(tmp / "local/doc.txt", "doc " + archive, t0 + 2);
        putAt(tmp / "gvfs/share/extra.txt", "only there", t0);
        succeedsBetween(tmp / "gvfs/DCIM", tmp / "backup", {"--mode", "copy", "--archive", archive});
        EXPECT_EQ(tree(b), tree(tmp / "phone/DCIM"));
        succeedsBetween(tmp / "local", tmp / "gvfs/share", {"--mode", "mirror", "--archive", archive});
        EXPECT_EQ(tree(tmp / "phone/share"), tree(a));
        EXPECT_TRUE(nothingHeldIn(tmp / "phone/share"));
    }

    fs::create_directory_symlink(tmp / "var/home", tmp / "home");  // /home a link to /var/home
    lay(tmp.path(), {{"var/home/me/up/u.txt", "u"}, {"var/home/me/low", "dir/"}, {"var/home/me/work", "dir/"}, {"ov", "dir/"}});
    ASSERT_TRUE(mounts.overlay(tmp / "home/me/low", tmp / "home/me/up", tmp / "home/me/work", tmp / "ov"));
    succeedsBetween(tmp / "ov", tmp / "backup2", {"--mode", "copy", "--archive", "off"});
    EXPECT_EQ(tree(b), tree(tmp / "var/home/me/up"));

    lay(tmp.path(), {{"P/x/B/b.txt", "b"}, {"P/taxes.pdf", "taxes"}, {"view", "dir/"}});
    ASSERT_TRUE(mounts.desktop(tmp / "P", tmp / "view"));
    refusedBothWays({tmp / "view", tmp / "P/x/B"}, mirrorAndTwoWay);
}

// A chrooted sftp account shows /srv/.../data as /data.
TEST_F(KeltoRunJobTest, AShareOfThisMachineNamingItsFoldersFromElsewhereIsNotTakenForWhatItNames) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    // sshd shuts sessions only in a folder only root may change, along its whole path.
    std::string shut = "/run/kelto-chroot-XXXXXX";
    ASSERT_NE(::mkdtemp(shut.data()), nullptr);
    const std::unique_ptr<void, std::function<void(void*)>> removed(shut.data(), [&](void*) { fs::remove_all(shut); });
    std::string noSsh;
    const std::unique_ptr<LocalSshd> sshd = LocalSshd::start(tmp / "ssh", noSsh, shut);
    if (!sshd) GTEST_SKIP() << noSsh;
    TestMounts mounts;  // undone before the server goes
    lay(fs::path(shut) / "data", {{"backup/keep.txt", "keep"}, {"other.txt", "other"}});
    fs::create_directories(tmp / "mnt");
    ASSERT_TRUE(mounts.mount(sshd->sshfs("/data", tmp / "mnt"), tmp / "mnt"));
    std::vector<Options> runs = mirrorAndTwoWay;
    for (Options& options : runs)
        options.insert(options.end(), {"--volume-a", "6F1D2C3B-4A59-4E8F-9D7C-1B2A3C4D5E6F", "--volume-b",
                                       "0A1B2C3D-4E5F-4061-8728-394A5B6C7D8E"});
    refusedBothWays({fs::path(shut) / "data/backup", tmp / "mnt"}, runs);
}

TEST_F(KeltoRunJobTest, SharesNotShownToBeAnotherMachinesAreNeverApart) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    std::ofstream(tmp / "rclone.conf") << "[both]\ntype = union\nupstreams = " << (tmp / "rclone/P").native() << " "
                                       << (tmp / "elsewhere").native() << "\n[self]\ntype = sftp\nhost = 127.0.0.1\n"
                                       << "[gdrive]\ntype = drive\n\n[vault]\ntype = crypt\nremote = gdrive:vault\n";
    ::setenv("RCLONE_CONFIG", (tmp / "rclone.conf").c_str(), 1);
    const std::unique_ptr<void, std::function<void(void*)>> unset(&tmp, [](void*) { ::unsetenv("RCLONE_CONFIG"); });
    std::string noSsh;
    const std::unique_ptr<LocalSshd> sshd = LocalSshd::start(tmp / "ssh", noSsh);
    TestMounts mounts;  // undone before the server and the temporary folder go
    std::ofstream(tmp / "alias") << "Host backupbox\n    HostName 127.0.0.1\n";
    std::vector<Refused> layouts;
    // The share at x/B/inner shows x/<shown>; A is x/P/deep/A.
    const auto layout = [&](const std::string& name, std::vector<std::string> command, bool nested, bool named) {
        const fs::path x = tmp / name;
        lay(x, {{"P/deep/A/one.txt", "one"}, {"P/taxes.pdf", "taxes"}, {"B/inner", "dir/"}});
        EXPECT_TRUE(mounts.mount(expand(command, x), x / "B/inner")) << name;
        const std::optional<fs::path> mount = named ? std::optional(x / "B/inner") : std::nullopt;
        layouts.push_back({x / "P/deep/A", x / "B", mount, !nested, name == "sshfsOfA"});
    };
    if (sshd) {
        layout("sshfs", sshd->sshfs(tmp / "sshfs/P", tmp / "sshfs/B/inner"), true, false);
        layout("sshfsOfA", sshd->sshfs(tmp / "sshfsOfA/P/deep/A", tmp / "sshfsOfA/B/inner"), true, true);
        std::vector<std::string> aliased = sshd->sshfs(tmp / "aliased/P", tmp / "aliased/B/inner");
        for (std::string& word : aliased)
            if (word.starts_with("root@127.0.0.1:")) word.replace(5, 9, "backupbox");
        aliased.insert(aliased.begin() + 1, {"-F", (tmp / "alias").native()});
        layout("aliased", aliased, false, true);
    }
    layout("rclone", {"unionfs", "-o", "fsname=both:,subtype=rclone", "%/P=RW", "%/B/inner"}, true, false);
    layout("rcloneSelf", {"unionfs", "-o", "fsname=self:%/P,subtype=rclone", "%/P=RW", "%/B/inner"}, false, true);
    for (const Refused& refused : layouts) refusedBothWays(refused, everyRun);

    const fs::path local = tmp / "local";
    const auto mirrors = [&](const fs::path& from, const fs::path& to) {
        succeedsBetween(from, to, {"--mode", "mirror", "--archive", "off"});
        EXPECT_EQ(contents(b / "doc.txt"), "doc");
    };
    if (sshd) {
        lay(tmp.path(), {{"shared/from/doc.txt", "doc"}, {"shared/to", "dir/"}, {"share", "dir/"}});
        ASSERT_TRUE(mounts.mount(sshd->sshfs(tmp / "shared", tmp / "share"), tmp / "share"));
        mirrors(tmp / "share/from", local);
        mirrors(local, tmp / "share/to");
    }
    putAt(tmp / "cloudy/doc.txt", "doc", t0);
    for (const std::string remote : {"gdrive", "vault"}) {
        putAt(tmp / "cloud" / remote / "p.jpg", "p", t0);
        fs::create_directories(tmp / "cloudy" / remote);
        ASSERT_TRUE(mounts.mount({"unionfs", "-o", "fsname=" + remote + ":photos,subtype=rclone",
                                  (tmp / "cloud" / remote).native() + "=RW", (tmp / "cloudy" / remote).native()},
                                 tmp / "cloudy" / remote));
    }
    mirrors(tmp / "cloudy", tmp / "b");
    if (!sshd) GTEST_SKIP() << "sshfs through localhost not tried: " << noSsh;
}

// rsync runs: the plan's dry run and the transfer; a confirmed mirror's fresh look makes three.
TEST_F(KeltoRunJobTest, MarkersLeaveNoTraceAndASideThatCannotHoldOneIsNamed) {
    const auto rsyncRuns = [](const Json& out, std::size_t runs) {
        const Json& timing = out.at("timing");
        const auto passes = timing.at("rsyncPassSeconds").get<std::vector<double>>();
        EXPECT_EQ(std::pair(passes.size(), timing.at("rsyncRuns").get<std::size_t>()), std::pair(runs, runs)) << out;
        EXPECT_TRUE(std::ranges::all_of(passes, [](double seconds) { return seconds > 0; })) << out;
        EXPECT_NEAR(std::accumulate(passes.begin(), passes.end(), 0.0), timing.at("rsyncSeconds").get<double>(), 1e-9);
    };
    lay(a, {{"one.txt", "one"}, {"sub/two.txt", "two"}});
    fs::last_write_time(a, fs::last_write_time(a) - std::chrono::hours(1));
    const auto topTime = fs::last_write_time(a);
    for (const char* mode : {"mirror", "copy", "twoWay"}) {
        SCOPED_TRACE(mode);
        b = tmp / (std::string("b-") + mode);  // a job of its own
        fs::create_directories(b);
        const Json preview = plan({"--mode", mode});
        EXPECT_EQ(std::pair(preview.at("plan").value("entryCountA", -1), preview.at("plan").value("entryCountB", -1)),
                  std::pair(2, 0));
        EXPECT_EQ(listed(preview, "copies", "to"), (Pairs{{"one.txt", "b"}, {"sub/two.txt", "b"}})) << preview;
        const Json first = run({"--mode", mode}).out;
        EXPECT_EQ(first.value("outcome", ""), "success") << first;
        EXPECT_EQ(first.at("record").at("stats").value("filesCopied", -1), 2) << first;
        EXPECT_EQ(tree(b), tree(a));
        EXPECT_EQ(std::tuple(markersIn(a) + markersIn(b), fs::exists(a / ".KeltoSync"), fs::last_write_time(a)),
                  std::tuple(0L, false, topTime));
        EXPECT_EQ(contents(first.value("log", "")).find("Marker"), std::string::npos);
        if (std::string(mode) == "twoWay") continue;
        rsyncRuns(first, 2);
        rsyncRuns(succeeds({"--mode", mode}), 1);
    }
    b = tmp / "b-mirror";
    putAt(a / "three.txt", "three", t0);
    rsyncRuns(succeeds({"--mode", "mirror", "--confirm"}), 3);
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a side read-only";
    TestMounts mounts;
    ASSERT_TRUE(mounts.bind(a, a));
    ASSERT_EQ(::mount(nullptr, a.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const Json out = succeedsBetween(a, tmp / "b-readOnlySource", {"--mode", "copy"});
    EXPECT_NE(contents(out.value("log", "")).find("No marker could be placed in " + a.native() + " (Read-only file system)"),
              std::string::npos);
}

// The rsync run `at` around which side B changes: after it, or just `before` it (the transfer).
struct Midway {
    std::string how;
    const char* mode;
    int at;
    bool before = false, confirmed = false;
};

// Replaced as the transfer starts, after every check, B is not where rsync writes.
TEST_F(KeltoRunJobTest, ASideChangedOncePlannedStopsTheRunBeforeRsyncWritesThere) {
    b = tmp / "pb/b";
    const fs::path pb = tmp / "pb", planned = tmp / "pb-old/b";
    std::vector<Midway> rows;
    for (const std::string how : {"bound", "mounted over", "linked"}) {
        const int look = how == "bound" ? 3 : 2, listing = how == "bound" ? 1 : 2;
        rows.insert(rows.end(), {{how, "mirror", 1}, {how, "mirror", look, false, true}, {how, "copy", 1},
                                 {how, "twoWay", listing}, {how, "twoWay", 3}});
    }
    for (const std::string how : {"linked", "mounted over", "stopped part-way"})
        rows.insert(rows.end(), {{how, "mirror", 2, true}, {how, "copy", 2, true}, {how, "twoWay", 3, true}});
    for (const auto& [how, mode, at, before, confirmed] : rows) {
        if ((how == "bound" || how == "mounted over") && ::geteuid() != 0) continue;
        SCOPED_TRACE(how + ", " + mode + (before ? " before" : " after") + " rsync run " + std::to_string(at));
        for (const char* gone : {"a", "pb", "pb-old", "other", "support"}) fs::remove_all(tmp / gone);
        const bool partial = how == "stopped part-way";
        lay(a, partial ? Files{{"big.bin", std::string(std::size_t{8} << 20, 'x')}}
                       : Files{{"sub/keep.txt", "keep"}, {"top.txt", "top"}});
        if (partial)
            fs::create_directories(b);
        else
            putAt(b / "fromB.txt", "b", t0);
        const Files source = tree(a);
        // Another job's folder, ready for transfers where rsync is about to start.
        const fs::path other = how == "mounted over" ? b : tmp / "other/b";
        const std::string reserved = "mkdir -p '" + other.native() + "/.KeltoSync" + (partial ? "" : "/Temporary") + "' && ";
        const std::string ready = (before ? reserved : "") + "echo unreviewed > '" + other.native() + "/report.txt'";
        const std::string moveAway = "mkdir -p '" + other.native() + "' && " + ready + " && mv '" + pb.native() + "' '" +
                                     pb.native() + "-old' && ";
        const std::string action =
            how == "bound"          ? "mount --bind '" + (a / "sub").native() + "' '" + b.native() + "'"
            : how == "mounted over" ? "mount -t tmpfs tmpfs '" + b.native() + "' && " + ready
            : partial ? moveAway + "mv '" + other.parent_path().native() + "' '" + pb.native() + "' || exit 99; trap '' XFSZ; ulimit -f 2048"
                      : moveAway + "ln -s '" + other.parent_path().native() + "' '" + pb.native() + "'";
        const std::string tag = how.substr(0, 3) + mode + (before ? "-" : "+") + std::to_string(at);
        const fs::path rsync = rsyncActingAt(tag, at, before && !partial ? action + " || exit 99" : action, !before);
        const std::unique_ptr<void, std::function<void(void*)>> unmount(&b, [at = b](void*) {  // however the row ends
            ::umount2(at.c_str(), MNT_DETACH);
        });
        Options options{"--mode", mode, "--archive", "off", "--rsync", rsync.native()};
        if (confirmed) options.emplace_back("--confirm");
        const Json out = run(options).out;
        ASSERT_TRUE(fs::exists(tmp / (tag + ".done"))) << out;
        if (partial) {
            EXPECT_TRUE(fs::is_empty(b / ".KeltoSync")) << out;
            EXPECT_TRUE(fs::exists(planned / ".KeltoSync/Partial/big.bin")) << out;
        } else {
            const std::string replaced = std::string(mode) == "twoWay"
                                             ? TwoWayEngineError::folderReplaced(b, Side::b).what()
                                             : OneWayEngineError::folderReplaced(b, Side::b).what();
            EXPECT_EQ(out.value("message", ""), how == "bound" ? nested(mode) : replaced) << out;
        }
        EXPECT_EQ(tree(a), source);
        if (how == "bound") continue;
        EXPECT_EQ(out.value("outcome", ""), "failed") << out;
        if (how != "mounted over" || !before) {
            EXPECT_EQ(tree(b), (Files{{"report.txt", "unreviewed\n"}})) << out;
        }
        EXPECT_TRUE(before || !fs::exists(b / ".KeltoSync"));
        if (!before || how != "linked") continue;
        EXPECT_EQ(contents(planned / "top.txt"), "top") << out;
        // The mirror's deletion is settled in the folder written, not left held there.
        EXPECT_TRUE(std::string(mode) == "twoWay" || fs::exists(planned / "fromB.txt") == (std::string(mode) == "copy"));
        EXPECT_TRUE(nothingHeldIn(planned)) << out;
    }
}

enum class Swap { parentLinked, renamedInto, mountedOver, parentRenamedInto };

const char* nameOf(Swap swap) {
    return std::array{"a folder above it replaced by a link", "another folder renamed into its place",
                      "a tmpfs mounted over it", "the folder above it renamed away"}[static_cast<int>(swap)];
}

// Makes `side` lead to another folder holding an unreviewed report.txt; `moved`: where it went.
struct Swapper {
    fs::path scratch;
    std::string report = "nobody reviewed this";
    fs::path moved{};
    int count = 0;
    TestMounts mounts{};

    void swap(Swap how, const fs::path& side) {
        const fs::path other = scratch / ("other" + std::to_string(++count));
        const fs::path old = scratch / ("old" + std::to_string(count));
        const bool parent = how != Swap::renamedInto;  // the folder above the side goes
        if (how != Swap::mountedOver) {
            put(other / (parent ? side.filename() : "") / "report.txt", report);
            fs::rename(parent ? side.parent_path() : side, old);
            moved = parent ? old / side.filename() : old;
        }
        switch (how) {
        case Swap::parentLinked: fs::create_directory_symlink(other, side.parent_path()); break;
        case Swap::parentRenamedInto:
            fs::create_directories(other / side.filename() / ".KeltoSync");
            fs::rename(other, side.parent_path());
            break;
        case Swap::renamedInto: fs::rename(other, side); break;
        case Swap::mountedOver:
            ASSERT_TRUE(mounts.tmpfs(side));
            put(side / "report.txt", report);
            break;
        }
    }
};

std::vector<Swap> swapsHere(const fs::path& scratch) {
    std::vector<Swap> swaps{Swap::parentLinked, Swap::renamedInto};
    fs::create_directories(scratch);
    if (TestMounts().tmpfs(scratch)) swaps.push_back(Swap::mountedOver);
    return swaps;
}

// The transfer's work stands in `held`, the folder written, and is not marked to be copied again from `source`.
void expectSettledIn(const fs::path& held, const fs::path& source) {
    EXPECT_EQ(contents(held / "x.txt"), "new x");
    EXPECT_TRUE(nothingHeldIn(held));
    EXPECT_LT(fs::last_write_time(held / "busy.txt"), fs::last_write_time(source / "busy.txt"));
}

class PlannedFoldersOneWay : public OneWayEngineTest {
protected:
    void SetUp() override {
        src = tmp / "sides/pa/src";
        dst = tmp / "sides/pb/dst";
        OneWayEngineTest::SetUp();
        job.options.archiveEnabled = false;
    }

    void startOff() {
        fs::remove_all(tmp / "sides");
        put(src / "new.txt", "new");
        put(dst / "only-b.txt", "b");
    }
};

TEST_F(PlannedFoldersOneWay, ARunStopsBeforeRsyncWhenASideIsNoLongerThePlannedFolder) {
    for (const Swap how : swapsHere(tmp / "probe"))
        for (const Side side : {Side::a, Side::b})
            for (const auto& [mode, duringLook] :
                 {std::pair(SyncMode::mirror, false), std::pair(SyncMode::copy, false), std::pair(SyncMode::mirror, true)}) {
                SCOPED_TRACE(std::string(nameOf(how)) + ", side " + std::string(enumName(side)) + ", " +
                             std::string(enumName(mode)) + (duringLook ? ", during the last look" : ""));
                job.mode = mode;
                startOff();
                const SyncPlan p = plan();
                ASSERT_EQ(p.copies.size(), 1u);
                const fs::path& swapped = side == Side::a ? src : dst;
                Swapper swapper{tmp / "scratch" / std::to_string(script.calls().size())};
                if (duringLook)
                    script.expect(ScriptedRsyncRunner::dryRun()).passThrough().then([&] { swapper.swap(how, swapped); });
                else
                    swapper.swap(how, swapped);
                const std::size_t before = script.calls().size();
                EXPECT_EQ(refusal(p), OneWayEngineError::folderReplaced(swapped, side));
                EXPECT_EQ(script.calls().size() - before, duringLook ? 1u : 0u) << "rsync started";
                EXPECT_EQ(tree(swapped), (Files{{"report.txt", "nobody reviewed this"}}));
                EXPECT_FALSE(fs::exists(swapped / ".KeltoSync"));
                EXPECT_TRUE(side == Side::b || tree(dst) == (Files{{"only-b.txt", "b"}}));
            }
    SCOPED_TRACE("WhatFollowsTheTransferActsOnTheFolderHeld");
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        startOff();
        putFiles(src, {{"x.txt", "new x"}, {"busy.txt", "first"}});
        put(dst / "x.txt", "old");
        const SyncPlan p = plan();
        Swapper swapper{tmp / "scratch" / std::to_string(script.calls().size())};
        script.expect(ScriptedRsyncRunner::transfer()).passThrough().then([&] {
            put(src / "busy.txt", "rewritten while copied");
            swapper.swap(Swap::parentRenamedInto, dst);
        });
        EXPECT_EQ(refusal(p), OneWayEngineError::folderReplaced(dst, Side::b));
        expectSettledIn(swapper.moved, src);
        EXPECT_EQ(fs::exists(swapper.moved / "only-b.txt"), mode == SyncMode::copy);
        EXPECT_EQ(entries(dst), Lines{"report.txt"});
        EXPECT_TRUE(fs::is_empty(dst / ".KeltoSync"));
    }
}

class PlannedFoldersTwoWay : public TwoWayEngineTest {
protected:
    void SetUp() override {
        a = tmp / "sides/pa/a";
        b = tmp / "sides/pb/b";
        TwoWayEngineTest::SetUp();
        job.options.archiveEnabled = false;
    }
};

TEST_F(PlannedFoldersTwoWay, ARunStopsBeforeRsyncWhenASideIsNoLongerThePlannedFolder) {
    for (const Swap how : swapsHere(tmp / "probe"))
        for (const Side side : {Side::a, Side::b}) {
            SCOPED_TRACE(std::string(nameOf(how)) + ", side " + std::string(enumName(side)));
            fs::remove_all(tmp / "sides");
            fs::create_directories(b);
            putAt(a / "new.txt", "new", t0);
            const TwoWayPlan p = plan().second;
            const fs::path& swapped = side == Side::a ? a : b;
            Swapper swapper{tmp / "scratch" / std::to_string(script.calls().size())};
            swapper.swap(how, swapped);
            const std::size_t before = script.calls().size();
            EXPECT_EQ(thrown<TwoWayEngineError>([&] { run(p); }), TwoWayEngineError::folderReplaced(swapped, side));
            EXPECT_EQ(script.calls().size(), before) << "rsync started";
            EXPECT_EQ(entries(swapped), Lines{"report.txt"});
        }
}

// The deletions carried over from A are not made in the folder swapped in.
TEST_F(PlannedFoldersTwoWay, WhatFollowsTheTransferActsOnTheFolderHeld) {
    startInStep({"x.txt", "report.txt"});
    fs::remove(a / "report.txt");
    putAt(a / "x.txt", "new x", t0 + 10);
    putAt(a / "busy.txt", "first", t0);
    runID = ArchiveRunID::make(SystemClock::shared().now().adding(1));
    const TwoWayPlan p = plan().second;
    ASSERT_EQ(p.archiveOnB, std::vector<std::string>{"report.txt"});
    // What the other folder holds looks like the file the plan judged.
    Swapper swapper{tmp / "scratch", "old"};
    script.expect(ScriptedRsyncRunner::transfer()).passThrough().then([&] {
        putAt(a / "busy.txt", "rewritten while copied", t0);
        swapper.swap(Swap::parentRenamedInto, b);
    });
    EXPECT_EQ(thrown<TwoWayEngineError>([&] { run(p); }), TwoWayEngineError::folderReplaced(b, Side::b));
    expectSettledIn(swapper.moved, a);
    EXPECT_EQ(tree(b), (Files{{"report.txt", "old"}}));
    EXPECT_TRUE(fs::is_empty(b / ".KeltoSync"));
}

}  // namespace
}  // namespace kelto::test
