#include "SyncModel/JobStore.h"

#include "SyncModel/Support/FileIO.h"
#include "tests/support/SavedJobs.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <csignal>
#include <fstream>
#include <sys/resource.h>

using namespace kelto;

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) { return FileIO::readIfExists(file).value_or("<absent>"); }

void put(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

SyncJob job(const std::string& name) {
    SyncJob j = SyncJob::newJob(name);
    j.source.path = "/src/" + name;
    j.destination.path = "/dst/" + name;
    j.triggers = {Trigger::every(1, IntervalUnit::hours)};
    return j;
}

// Every write reads the list under the lock: the store offers no write of a
// list read before it.
template <typename Store>
concept WritesAListReadElsewhere = requires(const Store& store) { store.save(std::vector<SyncJob>{}); };
static_assert(!WritesAListReadElsewhere<JobStore>);

TEST(JobStore, AMissingFileReadsAsEmptyAndASaveCreatesTheFolderAndKeepsOrder) {
    test::TemporaryFolder temp;
    const JobStore store(temp / "a" / "b" / "jobs.json");
    EXPECT_TRUE(store.load().empty());
    EXPECT_FALSE(fs::exists(temp / "a"));
    test::saveJobs(store, {});
    EXPECT_EQ(contents(store.fileURL), R"({"version":1,"jobs":[]})");
    EXPECT_TRUE(store.load().empty());
    const std::vector<SyncJob> jobs{job("zeta"), job("alpha"), job("mu")};
    test::saveJobs(store, jobs);
    EXPECT_EQ(store.load(), jobs);
}

TEST(JobStore, EmptyDamagedOrOtherVersionFilesAreRefusedAndNeverRewritten) {
    test::TemporaryFolder temp;
    const JobStore store(temp / "jobs.json");
    for (const std::string bytes : {"", "not json", "[]", R"({"jobs":[]})", R"({"version":"1","jobs":[]})",
                                    R"({"version":1.5,"jobs":[]})", R"({"version":1})",
                                    R"({"version":1,"jobs":[{"id":"nope"}]})"}) {
        SCOPED_TRACE(bytes);
        put(store.fileURL, bytes);
        EXPECT_THROW(store.load(), DecodingError);
        EXPECT_EQ(contents(store.fileURL), bytes);
    }
    // Another version is refused before any job is decoded.
    put(store.fileURL, R"({"version":2,"jobs":[{"not":"a job"}]})");
    try {
        store.load();
        ADD_FAILURE() << "expected JobStoreError";
    } catch (const JobStoreError& error) {
        EXPECT_EQ(error, JobStoreError::unsupportedVersion(2));
    }
    put(store.fileURL, R"({"version":0})");
    EXPECT_THROW(store.load(), JobStoreError);
}

TEST(JobStore, ReadFailuresOtherThanAbsencePropagate) {
    test::TemporaryFolder temp;
    const JobStore store(temp / "jobs.json");
    fs::create_directory(store.fileURL);
    EXPECT_THROW(store.load(), FileError);
    // A file where the folder should be: nothing is written.
    put(temp / "blocker", "x");
    const JobStore blocked(temp / "blocker" / "jobs.json");
    EXPECT_THROW(test::saveJobs(blocked, {job("a")}), FileError);
    EXPECT_EQ(contents(temp / "blocker"), "x");
}

TEST(JobStore, FailedSaveLeavesTheOldFileWhole) {
    test::TemporaryFolder temp;
    const JobStore store(temp / "jobs.json");
    test::saveJobs(store, {job("old")});
    const std::string before = contents(store.fileURL);
    std::vector<SyncJob> many;
    for (int i = 0; i < 50; ++i) many.push_back(job("new" + std::to_string(i)));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = before.size() + 16;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    EXPECT_THROW(test::saveJobs(store, many), FileError);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(contents(store.fileURL), before);
    // Beside the jobs file only its lock file stays.
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 2)
        << "the temporary file was left behind";
    EXPECT_EQ(store.load().size(), 1u);
}

}  // namespace
