#include "SyncModel/JobStore.h"
#include "SyncModel/RunHistoryStore.h"
#include "SyncModel/Support/FileIO.h"

#include "tests/support/SavedJobs.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <sys/resource.h>
#include <thread>

using namespace kelto;

namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

std::string contents(const fs::path& file) { return FileIO::readIfExists(file).value_or("<absent>"); }

void put(const fs::path& file, const std::string& bytes = "log") { std::ofstream(file, std::ios::binary) << bytes; }

// Runs `work` with files limited to `bytes`, as on a full disk: the error number of the FileError it threw, else 0.
int errorPastSizeLimit(rlim_t bytes, const std::function<void()>& work) {
    rlimit saved{};
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    int error = 0;
    try {
        work();
    } catch (const FileError& e) {
        error = e.errorNumber();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    return error;
}

TEST(FileIOTest, WriteAtomicallyReplacesLeavingNoTemporaryFilesOrKeepsTheOldFileWhole) {
    test::TemporaryFolder folder;
    const fs::path file = folder / "jobs.json";
    for (const std::string& bytes : {std::string("first"), std::string("\0\xff\r\n second", 10),
                                     std::string(300'000, 'x')}) {  // the last more than one read buffer
        FileIO::writeAtomically(file, bytes);
        EXPECT_EQ(FileIO::readIfExists(file), bytes);
    }
    EXPECT_EQ(test::namesIn(folder.path()), Names{"jobs.json"});
    EXPECT_EQ(FileIO::readIfExists(folder / "no" / "such" / "folder.json"), std::nullopt);
    EXPECT_THROW(FileIO::readIfExists(folder.path()), FileError);
    EXPECT_THROW(FileIO::readIfExists(file / "child"), FileError);  // ENOTDIR is not "missing"
    folder.write("plain", "data");
    EXPECT_THROW(FileIO::writeAtomically(folder / "plain" / "jobs.json", "new"), FileError);
    EXPECT_EQ(FileIO::readIfExists(folder / "plain"), "data");
    fs::create_directories(folder / "history.json" / "inner");
    EXPECT_THROW(FileIO::writeAtomically(folder / "history.json", "new"), FileError);
    EXPECT_TRUE(fs::is_directory(folder / "history.json" / "inner"));
    FileIO::writeAtomically(file, "old content");
    EXPECT_EQ(errorPastSizeLimit(4096, [&] { FileIO::writeAtomically(file, std::string(100'000, 'n')); }), EFBIG);
    EXPECT_EQ(FileIO::readIfExists(file), "old content");
    EXPECT_EQ(test::namesIn(folder.path()), (Names{"history.json", "jobs.json", "plain"}));
}

SyncJob job(const std::string& name) {
    SyncJob j = SyncJob::newJob(name);
    j.source.path = "/src/" + name;
    j.destination.path = "/dst/" + name;
    j.triggers = {Trigger::every(1, IntervalUnit::hours)};
    return j;
}

// Every write reads the list under the lock: the store offers no write of a list read before it.
template <typename Store>
concept WritesAListReadElsewhere = requires(const Store& store) { store.save(std::vector<SyncJob>{}); };
static_assert(!WritesAListReadElsewhere<JobStore>);

TEST(JobStore, AMissingFileReadsAsEmptyASaveKeepsOrderAndDamagedFilesAreRefusedAndNeverRewritten) {
    test::TemporaryFolder temp;
    const JobStore store(temp / "a" / "b" / "jobs.json");
    EXPECT_TRUE(store.load().empty());
    EXPECT_FALSE(fs::exists(temp / "a"));
    test::saveJobs(store, {});
    EXPECT_EQ(contents(store.fileURL), R"({"version":1,"jobs":[]})");
    const std::vector<SyncJob> jobs{job("zeta"), job("alpha"), job("mu")};
    test::saveJobs(store, jobs);
    EXPECT_EQ(store.load(), jobs);
    // Empty or damaged files are refused and never rewritten.
    fs::remove(store.fileURL);
    fs::create_directory(store.fileURL);
    EXPECT_THROW(store.load(), FileError);  // a read failure other than absence
    fs::remove(store.fileURL);
    for (const std::string bytes : {"", "not json", "[]", R"({"jobs":[]})", R"({"version":"1","jobs":[]})",
                                    R"({"version":1.5,"jobs":[]})", R"({"version":1})",
                                    R"({"version":1,"jobs":[{"id":"nope"}]})"}) {
        SCOPED_TRACE(bytes);
        put(store.fileURL, bytes);
        EXPECT_THROW(store.load(), DecodingError);
        EXPECT_EQ(contents(store.fileURL), bytes);
    }
    // Another version is refused before any job is decoded.
    for (const std::string bytes : {R"({"version":2,"jobs":[{"not":"a job"}]})", R"({"version":0})"}) {
        put(store.fileURL, bytes);
        EXPECT_THROW(store.load(), JobStoreError);
    }
}

class RunHistoryStoreTest : public ::testing::Test {
protected:
    test::TemporaryFolder temp;
    fs::path logs = temp / "logs";
    RunHistoryStore store{temp / "support" / "history", logs};
    Uuid jobID = Uuid::random();
    void SetUp() override { fs::create_directory(logs); }
    // A record starting at `start`; a log name makes a log file in the log folder.
    RunRecord record(double start, std::optional<std::string> logName = std::nullopt) {
        RunRecord r;
        r.id = Uuid::random();
        r.jobID = jobID;
        r.startedAt = Date{start};
        r.endedAt = Date{start + 1};
        r.outcome = RunOutcome::success();
        if (logName) {
            r.logPath = (logs / *logName).string();
            put(*r.logPath);
        }
        return r;
    }
    RunRecord recordNaming(double start, std::string logPath) {
        RunRecord r = record(start);
        r.logPath = std::move(logPath);
        return r;
    }
    std::vector<double> starts(const std::vector<RunRecord>& records) {
        std::vector<double> out;
        for (const RunRecord& r : records) out.push_back(r.startedAt.sinceReference);
        return out;
    }
    std::vector<double> starts() { return starts(store.records(jobID)); }
};
TEST_F(RunHistoryStoreTest, ReadingWithoutAFileCreatesNothingTheFirstAppendCreatesItAndAnyOrderIsRewrittenNewestFirst) {
    EXPECT_TRUE(store.records(jobID).empty());
    EXPECT_FALSE(fs::exists(temp / "support"));
    const RunRecord first = record(10, "a.log");
    store.append(first, 50);
    const fs::path file = temp / "support" / "history" / (jobID.string() + ".json");
    EXPECT_EQ(store.fileURL(jobID), file);
    EXPECT_EQ(JsonText::decode<std::vector<RunRecord>>(contents(file)), std::vector{first});
    const std::vector<RunRecord> stored{record(10), record(30), record(20)};
    FileIO::writeAtomically(store.fileURL(jobID), JsonText::encode(stored));
    EXPECT_EQ(starts(), (std::vector<double>{30, 20, 10}));
    store.append(record(25), 50);
    EXPECT_EQ(starts(JsonText::decode<std::vector<RunRecord>>(contents(store.fileURL(jobID)))),
              (std::vector<double>{30, 25, 20, 10}));
}

TEST_F(RunHistoryStoreTest, KeepsTheNewestAndRemovesLogsNoKeptRecordNames) {
    store.append(record(1, "shared.log"), 50);
    store.append(record(2, "shared.log"), 50);
    store.append(record(3, "gone.log"), 50);
    for (int i = 50; i > 3; --i) store.append(record(i, std::to_string(i) + ".log"), 50);  // oldest last
    fs::remove(logs / "gone.log");
    store.append(record(51, "51.log"), 50);  // drops 1; 2 still names the shared log
    EXPECT_TRUE(fs::exists(logs / "shared.log"));
    store.append(record(52, "52.log"), 50);  // drops 2
    EXPECT_FALSE(fs::exists(logs / "shared.log"));
    EXPECT_NO_THROW(store.append(record(53, "53.log"), 50));  // drops 3, whose log is already gone
    const std::vector<double> kept = starts();
    ASSERT_EQ(kept.size(), 50u);
    EXPECT_EQ(kept.front(), 53);
    EXPECT_EQ(kept.back(), 4);
    EXPECT_TRUE(std::is_sorted(kept.rbegin(), kept.rend()));
    EXPECT_TRUE(fs::exists(logs / "4.log"));
}

TEST_F(RunHistoryStoreTest, EqualStartTimesKeepTheirOrderALimitOfZeroKeepsNothingAndADamagedHistoryIsLeftAlone) {
    const RunRecord old = record(10, "old.log");
    store.append(old, 40);
    std::vector<RunRecord> expected;
    for (int i = 0; i < 39; ++i) {
        expected.push_back(record(i % 2 ? 20 : 30));
        store.append(expected.back(), 40);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const RunRecord& a, const RunRecord& b) { return a.startedAt > b.startedAt; });
    expected.push_back(old);
    // Full: a tie with the oldest goes after it and is itself dropped.
    const RunRecord late = record(10, "late.log");
    store.append(late, 40);
    EXPECT_EQ(store.records(jobID), expected);
    EXPECT_FALSE(fs::exists(*late.logPath));
    EXPECT_TRUE(fs::exists(*old.logPath));
    for (std::int64_t limit : {0, -5}) {
        const RunRecord stored = record(1, "stored.log"), added = record(2, "added.log");
        store.append(stored, 50);
        store.append(added, limit);
        EXPECT_EQ(contents(store.fileURL(jobID)), "[]");
        EXPECT_FALSE(fs::exists(*stored.logPath));
        EXPECT_FALSE(fs::exists(*added.logPath));
    }
    fs::create_directories(store.directory);
    for (const std::string bytes : {"", "{not json", R"({"records":[]})", R"([{"id":1}])"}) {
        SCOPED_TRACE(bytes);
        put(store.fileURL(jobID), bytes);
        const RunRecord added = record(5, "added.log");
        EXPECT_THROW(store.append(added, 0), DecodingError);
        EXPECT_THROW(store.records(jobID), DecodingError);
        EXPECT_EQ(contents(store.fileURL(jobID)), bytes);
        EXPECT_TRUE(fs::exists(*added.logPath));
    }
}

TEST_F(RunHistoryStoreTest, LogRemovalStaysInItsFolderOrThrowsAfterTheWriteAndConcurrentAppendsLoseNothing) {
    const fs::path home = temp / "home";
    fs::create_directories(home / "Documents");
    put(home / "Documents" / "thesis.txt");
    put(home / "outside.log");
    fs::create_directories(logs / "subfolder");
    put(logs / "subfolder" / "inner.log");
    fs::create_directory_symlink(home, logs / "linked");
    fs::create_symlink(home / "outside.log", logs / "link.log");
    for (const std::string& path :
         {home.string(), (logs / "subfolder").string(), (home / "outside.log").string(),
          (logs / ".." / "home" / "outside.log").string(), (logs / "linked" / "outside.log").string(),
          (logs / "linked" / "Documents").string(), std::string("outside.log"), (logs / "link.log").string(),
          (logs / "subfolder" / "inner.log").string()})
        store.append(recordNaming(1, path), 100);
    EXPECT_NO_THROW(store.append(record(2), 0));
    EXPECT_TRUE(fs::exists(home / "Documents" / "thesis.txt"));
    EXPECT_TRUE(fs::exists(home / "outside.log"));
    EXPECT_TRUE(fs::is_directory(logs / "subfolder"));
    EXPECT_TRUE(fs::is_symlink(logs / "linked"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(logs / "link.log")));  // the link itself went
    EXPECT_FALSE(fs::exists(logs / "subfolder" / "inner.log"));
    fs::create_symlink("loop", logs / "loop");  // resolving it fails with ELOOP
    store.append(recordNaming(1, (logs / "loop" / "x.log").string()), 50);
    EXPECT_THROW(store.append(record(2), 0), FileError);
    EXPECT_EQ(contents(store.fileURL(jobID)), "[]");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 20; ++i) {
                store.append(record(t * 100 + i), 1000);
                store.records(jobID);
            }
        });
    for (std::thread& thread : threads) thread.join();
    std::set<Uuid> ids;
    for (const RunRecord& r : store.records(jobID)) ids.insert(r.id);
    EXPECT_EQ(ids.size(), 160u);
}

}  // namespace
