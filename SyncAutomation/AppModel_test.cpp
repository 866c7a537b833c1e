#include "SyncAutomation/AppModel.h"

#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/JobLock.h"
#include "SyncAutomation/JobRunnerError.h"
#include "SyncAutomation/SyncPreviewError.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/JobStoreError.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/FakeSleepInhibitor.h"
#include "tests/support/FakeVolumeEjector.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/SavedJobs.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>

namespace kelto {

// Internal linkage: other tests of this binary may print these their own way.
static void PrintTo(const SyncJob& job, std::ostream* out) {
    *out << "job \"" << job.name << "\" " << job.source.path << " -> " << job.destination.path;
}
static void PrintTo(const AppModelError& error, std::ostream* out) {
    *out << "AppModelError " << static_cast<int>(error.code());
}

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Property = AppModelInterface::Property;
using StatusMap = AppModelInterface::StatusMap;
using test::volumeIdentity;

constexpr auto patience = 20s;  // only a hung test ever waits this long

const std::vector<std::string> baselineSuffixes{".sqlite", ".sqlite-wal", ".sqlite-shm"};

RunRecord record(const Uuid& jobID, RunTrigger trigger, RunOutcome outcome, Date startedAt = Date{}) {
    RunRecord result;
    result.id = Uuid::random();
    result.jobID = jobID;
    result.trigger = trigger;
    result.startedAt = startedAt;
    result.endedAt = startedAt.adding(5);
    result.outcome = std::move(outcome);
    return result;
}

// The error a result holds, when it is of type E.
template <typename E, typename T>
std::optional<E> errorOf(const Result<T>& result) {
    try {
        result.get();
    } catch (const E& error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}

// Runs that block until the test ends them. A stopped run ends cancelled by
// itself unless the test holds stopped runs.
class FakeRuns final : public RunExecuting {
public:
    struct Call {
        Uuid jobID;
        RunTrigger trigger = RunTrigger::manual;
        std::optional<RunResult> result;
    };

    RunResult run(const Uuid& jobID, RunTrigger trigger, const SyncPlan*, const ProgressCallback&,
                  std::stop_token stop) override {
        std::stop_callback wake(stop, [this] {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        const std::size_t index = calls_.size();
        calls_.push_back(Call{jobID, trigger, {}});
        changed_.notify_all();
        changed_.wait(lock, [&] { return calls_[index].result || (!holdStopped_ && stop.stop_requested()); });
        if (calls_[index].result) return *calls_[index].result;
        return RunResult{record(jobID, trigger, RunOutcome::cancelled()), {}};
    }

    bool waitForRuns(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return calls_.size() >= count; });
    }
    std::size_t runCount() {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    Call call(std::size_t index) {
        std::lock_guard lock(mutex_);
        return calls_.at(index);
    }
    void end(std::size_t index, RunOutcome outcome, std::optional<SyncPlan> review = std::nullopt) {
        std::lock_guard lock(mutex_);
        Call& call = calls_.at(index);
        call.result = RunResult{record(call.jobID, call.trigger, std::move(outcome)), std::move(review)};
        changed_.notify_all();
    }
    void holdStoppedRuns(bool hold) {
        std::lock_guard lock(mutex_);
        holdStopped_ = hold;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Call> calls_;
    bool holdStopped_ = false;
};

class FakeScheduler final : public JobScheduling {
public:
    void jobsChanged() override { ++changes; }
    std::optional<Date> pendingFire(const Uuid& jobID) const override {
        const auto found = fires.find(jobID);
        if (found == fires.end()) return std::nullopt;
        return found->second;
    }

    Subscription observePendingFires(std::function<void()> changed) override {
        return notice.observe(std::move(changed));
    }

    int changes = 0;
    std::map<Uuid, Date> fires;
    // Set to tell the observers that the dates changed.
    ObservedValue<int> notice;
};

// Previews here fail before planning, so rsync is never started.
class NoRsync final : public RsyncRunner {
public:
    RsyncExit run(const std::vector<std::string>&, RsyncOutputParser::Mode, std::stop_token, const RawLineHandler&,
                  const EventHandler&) const override {
        ADD_FAILURE() << "rsync was started";
        return RsyncExit(1, {});
    }
    RsyncExit runBetween(int, int, const std::vector<std::string>&, RsyncOutputParser::Mode, std::stop_token,
                         const RawLineHandler&, const EventHandler&) const override {
        ADD_FAILURE() << "rsync was started";
        return RsyncExit(1, {});
    }
};

// The model over the real runner and coordinator, with fake runs and a fake
// scheduler, on stores and folders in a temporary folder.
struct Model : ::testing::Test {
    Model() { volumes.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system")); }
    ~Model() override {
        model.reset();
        runs.holdStoppedRuns(false);
        runner.reset();
    }

    void start(bool withCoordinator = true) {
        model = std::make_unique<AppModel>(AppModel::Services{
            .main = main,
            .store = *store,
            .history = history,
            .runner = *runner,
            .scheduler = scheduler,
            .coordinator = withCoordinator ? &coordinator : nullptr,
            .clock = clock,
            .log =
                [this](const std::string& line) {
                    std::lock_guard lock(logMutex);
                    logLines.push_back(line);
                },
        });
        main.runPending();
    }
    // The lines logged so far that contain `text`.
    std::size_t loggedWith(const std::string& text) {
        std::lock_guard lock(logMutex);
        return static_cast<std::size_t>(std::count_if(logLines.begin(), logLines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        }));
    }

    Endpoint endpointAt(const fs::path& folder) {
        fs::create_directories(folder);
        return VolumeInspector::endpoint(folder, volumes);
    }
    SyncJob makeJob(const std::string& name, SyncMode mode = SyncMode::copy) {
        SyncJob job = SyncJob::newJob(name);
        job.mode = mode;
        job.source = endpointAt(tmp / (name + " A"));
        job.destination = endpointAt(tmp / (name + " B"));
        return job;
    }
    // A removable disk mounted at tmp/<name>.
    fs::path disk(const std::string& name, const std::string& uuid) {
        fs::create_directories(tmp / name);
        volumes.add(tmp / name, volumeIdentity(VolumeKind::removable, uuid, name, "vfat"));
        return tmp / name;
    }

    fs::path stateFile(const Uuid& jobID, const std::string& suffix) const {
        return store->directory() / "state" / (jobID.string() + suffix);
    }
    void writeBaseline(const Uuid& jobID) {
        fs::create_directories(store->directory() / "state");
        for (const std::string& suffix : baselineSuffixes) FileIO::writeAtomically(stateFile(jobID, suffix), "x");
        FileIO::writeAtomically(stateFile(jobID, ".lock"), "");
    }
    std::size_t baselineFilesLeft(const Uuid& jobID) const {
        std::size_t left = 0;
        for (const std::string& suffix : baselineSuffixes)
            if (fs::exists(fs::symlink_status(stateFile(jobID, suffix)))) ++left;
        return left;
    }

    template <typename T, typename Call>
    Result<T> answerOf(Call call) {
        std::optional<Result<T>> answer;
        call([&](Result<T> result) { answer = std::move(result); });
        if (!main.runUntil([&] { return answer.has_value(); }))
            return Result<T>(std::make_exception_ptr(std::logic_error("never answered")));
        return std::move(*answer);
    }
    Result<void> add(const SyncJob& job) {
        return answerOf<void>([&](auto done) { model->addJob(job, done); });
    }
    Result<void> update(const SyncJob& job) {
        return answerOf<void>([&](auto done) { model->updateJob(job, done); });
    }
    Result<void> remove(const Uuid& jobID) {
        return answerOf<void>([&](auto done) { model->deleteJob(jobID, done); });
    }
    Result<SyncPlan> preview(const Uuid& jobID) {
        return answerOf<SyncPlan>([&](auto done) { model->preview(jobID, done); });
    }
    Result<AppModel::Roots> roots(const Uuid& jobID) {
        return answerOf<AppModel::Roots>([&](auto done) { model->archiveRoots(jobID, done); });
    }
    Result<void> prune(const Uuid& jobID) {
        return answerOf<void>([&](auto done) { model->pruneArchives(jobID, done); });
    }

    // Everything posted to the runner so far has been handled, and what it
    // posted back has run.
    void settle() {
        bool done = false;
        runner->performIfIdle(Uuid::random(), [] {}, [&](Result<void>) { done = true; });
        ASSERT_TRUE(main.runUntil([&] { return done; }));
    }
    void runUntilRunning(const Uuid& jobID) {
        ASSERT_TRUE(main.runUntil([&] {
            const auto found = model->statuses().find(jobID);
            return found != model->statuses().end() && found->second.kind() == RunStatus::Kind::running;
        }));
    }

    test::TemporaryFolder tmp;
    test::FakeVolumeSource volumes;
    std::optional<JobStore> store{std::in_place, tmp / "support/jobs.json"};
    RunHistoryStore history{tmp / "support/history", tmp / "logs"};
    ManualClock clock{Date::fromUnix(1'700'000'000)};
    ManualExecutor main{clock};
    FakeRuns runs;
    std::unique_ptr<JobRunner> runner = std::make_unique<JobRunner>(runs, main, clock);
    FakeScheduler scheduler;
    test::FakeSleepInhibitor inhibitor;
    test::FakeVolumeEjector ejector;
    SyncCoordinator coordinator{{
        .jobs = [this] { return store->load(); },
        .rsync = std::make_shared<NoRsync>(),
        .supportDirectory = tmp / "support",
        .logDirectory = tmp / "logs",
        .history = history,
        .volumes = [this] { return VolumeInspector::mountedVolumes(volumes); },
        .isOnBattery = [] { return false; },
        .freeSpace = [](const fs::path&, bool) -> std::int64_t { return 0; },
        .identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, volumes); },
        .sleepInhibitor = inhibitor,
        .ejector = ejector,
        .clock = clock,
    }};
    std::unique_ptr<AppModel> model;
    // Logged on the runner's queue.
    std::mutex logMutex;
    std::vector<std::string> logLines;
};

// Construction

TEST_F(Model, AJobsFileOfAnotherVersionLeavesNoJobsAndIsTheModelsError) {
    fs::create_directories(tmp / "support");
    const std::string newer = R"({"version":2,"jobs":[]})";
    FileIO::writeAtomically(store->fileURL, newer);
    start();

    EXPECT_TRUE(model->jobs().empty());
    EXPECT_TRUE(model->lastRecords().empty());
    EXPECT_EQ(model->errorMessage(), std::string(JobStoreError::unsupportedVersion(2).what()));

    // A change reads the file afresh and meets the same version.
    EXPECT_EQ(errorOf<JobStoreError>(add(makeJob("Photos"))), JobStoreError::unsupportedVersion(2));
    EXPECT_EQ(test::readFile(store->fileURL), newer);
    EXPECT_EQ(scheduler.changes, 0);

    // The runner is followed all the same.
    runner->enqueue(Uuid::random(), RunTrigger::schedule);
    ASSERT_TRUE(main.runUntil([&] { return !model->statuses().empty(); }));
}

TEST_F(Model, AnUnreadableHistoryKeepsTheJobsAndTheRecordsOfTheJobsBeforeIt) {
    const SyncJob first = makeJob("First");
    const SyncJob broken = makeJob("Broken");
    const SyncJob last = makeJob("Last");
    test::saveJobs(*store, {first, broken, last});
    const Date day = clock.now();
    const RunRecord older = record(first.id, RunTrigger::schedule, RunOutcome::success(), day.adding(-7200));
    const RunRecord newer = record(first.id, RunTrigger::manual, RunOutcome::completedWithWarnings(), day);
    history.append(older, 50);
    history.append(newer, 50);
    history.append(record(last.id, RunTrigger::manual, RunOutcome::success(), day), 50);
    FileIO::writeAtomically(history.fileURL(broken.id), "[{\"id\":");
    std::string failure;
    try {
        history.records(broken.id);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    ASSERT_FALSE(failure.empty());
    start();

    EXPECT_EQ(model->jobs(), (std::vector<SyncJob>{first, broken, last}));
    EXPECT_EQ(model->lastRecords(), (AppModel::RecordMap{{first.id, newer}}));
    EXPECT_EQ(model->errorMessage(), failure);
    EXPECT_ANY_THROW(model->history(broken.id));
    EXPECT_EQ(model->history(first.id), (std::vector<RunRecord>{newer, older}));
    EXPECT_TRUE(model->history(Uuid::random()).empty());
}

TEST_F(Model, FireDatesAreObservedAsTheSchedulerTellsOfThem) {
    start();
    int notices = 0;
    const Subscription watching = model->observe(Property::nextFireDates, [&] { ++notices; });
    scheduler.notice.set(1);
    EXPECT_EQ(notices, 1);
}

// Changes of the job list

TEST_F(Model, AddingValidatesThenAppendsAndReadsTheListBack) {
    const SyncJob existing = makeJob("Existing");
    test::saveJobs(*store, {existing});
    start();
    int jobNotices = 0;
    const auto watch = model->observe(Property::jobs, [&] { ++jobNotices; });

    const SyncJob added = makeJob("Added");
    ASSERT_TRUE(add(added).hasValue());
    EXPECT_EQ(store->load(), (std::vector<SyncJob>{existing, added}));
    EXPECT_EQ(model->jobs(), store->load());
    EXPECT_EQ(jobNotices, 1);
    EXPECT_EQ(scheduler.changes, 1);

    // The same UUID again, even while the first add is still on its way.
    EXPECT_EQ(errorOf<AppModelError>(add(added)), AppModelError::jobBusy());
    const SyncJob twice = makeJob("Twice");
    std::vector<Result<void>> answers;
    model->addJob(twice, [&](Result<void> r) { answers.push_back(std::move(r)); });
    model->addJob(twice, [&](Result<void> r) { answers.push_back(std::move(r)); });
    ASSERT_TRUE(main.runUntil([&] { return answers.size() == 2; }));
    EXPECT_TRUE(answers[0].hasValue());
    EXPECT_EQ(errorOf<AppModelError>(answers[1]), AppModelError::jobBusy());
    EXPECT_EQ(store->load(), (std::vector<SyncJob>{existing, added, twice}));

    // Refused before the runner is asked: nothing written, nobody told.
    SyncJob nameless = makeJob("Nameless");
    nameless.name = "  ";
    const auto refused = errorOf<AppModelError>(add(nameless));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), AppModelError::Code::invalidJob);
    EXPECT_EQ(refused->report().errors, std::vector<ValidationIssue>{ValidationIssue::emptyName});
    EXPECT_EQ(store->load().size(), 3u);
    EXPECT_EQ(scheduler.changes, 2);
}

TEST_F(Model, MakingAJobFromTwoFoldersNamesItByThemAndStoresNothing) {
    fs::create_directories(tmp / "Pictures");
    fs::create_directories(tmp / "Backup");
    start();
    const auto made = answerOf<SyncJob>([&](auto done) { model->makeJob(tmp / "Pictures", tmp / "Backup", done); });
    ASSERT_TRUE(made.hasValue());
    EXPECT_EQ(made.get().name, "Pictures \u2192 Backup");
    EXPECT_EQ(made.get().mode, SyncMode::copy);
    EXPECT_TRUE(made.get().isEnabled);
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_TRUE(store->load().empty());

    const auto missing = answerOf<SyncJob>([&](auto done) { model->makeJob(tmp / "Gone", tmp / "Backup", done); });
    EXPECT_TRUE(errorOf<FileError>(missing));
}

TEST_F(Model, ValidationSeesThroughLinks) {
    start();
    SyncJob job = makeJob("Photos");
    fs::create_directory_symlink(tmp / "Photos A", tmp / "Link");
    job.destination.path = (tmp / "Link").string();

    std::optional<ValidationReport> report;
    model->validate(job, [&](ValidationReport r) { report = std::move(r); });
    ASSERT_TRUE(main.runUntil([&] { return report.has_value(); }));
    EXPECT_EQ(report->errors, std::vector<ValidationIssue>{ValidationIssue::samePath});
    EXPECT_EQ(errorOf<AppModelError>(add(job)), AppModelError::invalidJob(*report));
}

TEST_F(Model, UpdatingKeepsThePositionAndDropsTheBaselineOnlyWhenAFolderChanges) {
    const SyncJob twoWay = makeJob("Photos", SyncMode::twoWay);
    const SyncJob other = makeJob("Music", SyncMode::twoWay);
    test::saveJobs(*store, {twoWay, other});
    writeBaseline(twoWay.id);
    writeBaseline(other.id);
    start();

    SyncJob renamed = twoWay;
    renamed.name = "Pictures";
    ASSERT_TRUE(update(renamed).hasValue());
    EXPECT_EQ(baselineFilesLeft(twoWay.id), 3u);
    EXPECT_EQ(model->jobs(), (std::vector<SyncJob>{renamed, other}));

    SyncJob moved = renamed;
    moved.destination = endpointAt(tmp / "Elsewhere");
    ASSERT_TRUE(update(moved).hasValue());
    EXPECT_EQ(baselineFilesLeft(twoWay.id), 0u);
    EXPECT_EQ(baselineFilesLeft(other.id), 3u);
    EXPECT_EQ(store->load(), (std::vector<SyncJob>{moved, other}));
    EXPECT_EQ(model->jobs(), store->load());
    EXPECT_EQ(scheduler.changes, 2);

    // A copy job has no baseline: a new source is no error.
    SyncJob copy = other;
    copy.mode = SyncMode::copy;
    copy.source = endpointAt(tmp / "New source");
    ASSERT_TRUE(update(copy).hasValue());

    EXPECT_EQ(errorOf<AppModelError>(update(makeJob("Unknown"))), AppModelError::jobNotFound());
    SyncJob invalid = moved;
    invalid.source.path.clear();
    EXPECT_EQ(errorOf<AppModelError>(update(invalid))->code(), AppModelError::Code::invalidJob);
    EXPECT_EQ(store->load(), (std::vector<SyncJob>{moved, copy}));
}

TEST_F(Model, DeletingRemovesTheJobItsBaselineAndItsLastRecord) {
    const SyncJob kept = makeJob("Kept");
    const SyncJob gone = makeJob("Gone", SyncMode::twoWay);
    test::saveJobs(*store, {kept, gone});
    writeBaseline(gone.id);
    fs::create_directories(coordinator.listFolder(gone.id));
    FileIO::writeAtomically(coordinator.listFolder(gone.id) / "KeltoSync-files-LEFT", "a killed run's");
    history.append(record(gone.id, RunTrigger::manual, RunOutcome::success()), 50);
    start();
    ASSERT_TRUE(model->lastRecords().contains(gone.id));

    ASSERT_TRUE(remove(gone.id).hasValue());
    EXPECT_EQ(model->jobs(), std::vector<SyncJob>{kept});
    EXPECT_EQ(store->load(), std::vector<SyncJob>{kept});
    EXPECT_FALSE(model->lastRecords().contains(gone.id));
    EXPECT_EQ(baselineFilesLeft(gone.id), 0u);
    // Its run lock goes too: the deletion held it, so no run was under way.
    EXPECT_FALSE(fs::exists(fs::symlink_status(stateFile(gone.id, ".lock"))));
    EXPECT_FALSE(fs::exists(coordinator.listFolder(gone.id)));
    EXPECT_EQ(scheduler.changes, 1);

    // An id not in the file is no error.
    ASSERT_TRUE(remove(Uuid::random()).hasValue());
    EXPECT_EQ(store->load(), std::vector<SyncJob>{kept});
}

// A walk killed part-way leaves its marker at a side's top until the job's
// next run: a folder the job no longer names (the job deleted, or moved to
// another folder) is cleared of it at once, its time kept. A live walk's
// marker, held by its lock, stays.
TEST_F(Model, DeletingOrMovingAJobClearsTheMarkersKilledWalksLeftInItsFolders) {
    const auto marker = [](const fs::path& folder, char side) {
        const fs::path at = folder / (".KeltoSync-Marker-" + Uuid::random().string() + "-" + side);
        fs::create_directories(folder);
        std::ofstream{at};
        return at;
    };
    const auto modified = [](const fs::path& folder) {
        struct stat info {};
        ::stat(folder.c_str(), &info);
        return std::pair{info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
    };
    const SyncJob gone = makeJob("Gone");
    SyncJob moved = makeJob("Moved");
    test::saveJobs(*store, {gone, moved});
    const fs::path a = gone.source.path, b = gone.destination.path;
    const fs::path leftAtA = marker(a, 'A'), leftInB = marker(b / ".KeltoSync", 'B'), live = marker(b, 'B');
    const FileDescriptor held(::open(live.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(held.get(), LOCK_EX | LOCK_NB), 0);
    const timespec old[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    ::utimensat(AT_FDCWD, a.c_str(), old, 0);
    const fs::path leftAtMoved = marker(moved.destination.path, 'B');
    start();

    ASSERT_TRUE(remove(gone.id).hasValue());
    EXPECT_FALSE(fs::exists(leftAtA));
    EXPECT_FALSE(fs::exists(leftInB));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_EQ(modified(a), std::pair(std::int64_t{1'600'000'000}, std::int64_t{0}));

    moved.destination = endpointAt(tmp / "Elsewhere");
    ASSERT_TRUE(update(moved).hasValue());
    EXPECT_FALSE(fs::exists(leftAtMoved));
}

TEST_F(Model, AQueuedOrRunningJobIsNeitherChangedNorDeleted) {
    const SyncJob running = makeJob("Running", SyncMode::twoWay);
    const SyncJob queued = makeJob("Queued", SyncMode::twoWay);
    test::saveJobs(*store, {running, queued});
    writeBaseline(running.id);
    writeBaseline(queued.id);
    start();
    model->runNow(running.id);
    model->runNow(queued.id);
    runUntilRunning(running.id);
    ASSERT_TRUE(main.runUntil([&] { return model->statuses().contains(queued.id); }));

    for (const SyncJob& job : {running, queued}) {
        SyncJob moved = job;
        moved.source = endpointAt(tmp / ("Moved " + job.name));
        EXPECT_EQ(errorOf<AppModelError>(update(moved)), AppModelError::jobBusy());
        EXPECT_EQ(errorOf<AppModelError>(remove(job.id)), AppModelError::jobBusy());
        EXPECT_EQ(baselineFilesLeft(job.id), 3u);
    }
    EXPECT_EQ(store->load(), (std::vector<SyncJob>{running, queued}));
    EXPECT_EQ(scheduler.changes, 0);
}

// That run read the list before the change: a baseline removed under it
// would come back, written for the folders it had.
TEST_F(Model, AJobRunningInAnotherProcessIsNeitherChangedNorDeleted) {
    const SyncJob job = makeJob("Photos", SyncMode::twoWay);
    test::saveJobs(*store, {job});
    writeBaseline(job.id);
    start();
    std::optional<JobLock> elsewhere = JobLock::tryTake(coordinator.lockFile(job.id));
    ASSERT_TRUE(elsewhere);

    SyncJob moved = job;
    moved.source = endpointAt(tmp / "Moved");
    EXPECT_EQ(errorOf<AppModelError>(update(moved)), AppModelError::jobBusy());
    EXPECT_EQ(errorOf<AppModelError>(remove(job.id)), AppModelError::jobBusy());
    EXPECT_EQ(baselineFilesLeft(job.id), 3u);
    EXPECT_TRUE(fs::exists(coordinator.lockFile(job.id)));
    EXPECT_EQ(store->load(), std::vector<SyncJob>{job});
    EXPECT_EQ(scheduler.changes, 0);

    elsewhere.reset();
    ASSERT_TRUE(update(moved).hasValue());
    EXPECT_EQ(baselineFilesLeft(job.id), 0u);
}

TEST_F(Model, AFailedSaveKeepsTheBaselineOfTheFoldersStillInTheFile) {
    // A name so long that the temporary file written beside it cannot be
    // made: the file reads, but no save succeeds.
    const fs::path folder = tmp / "support";
    const fs::path unsavable = folder / std::string(240, 'j');
    const SyncJob twoWay = makeJob("Photos", SyncMode::twoWay);
    test::saveJobs(*store, {twoWay});
    fs::rename(store->fileURL, unsavable);
    store.emplace(unsavable);
    writeBaseline(twoWay.id);
    start();
    ASSERT_EQ(model->jobs(), std::vector<SyncJob>{twoWay});

    SyncJob moved = twoWay;
    moved.destination = endpointAt(tmp / "Elsewhere");
    const auto updateFailure = errorOf<FileError>(update(moved));
    ASSERT_TRUE(updateFailure);
    EXPECT_EQ(updateFailure->errorNumber(), ENAMETOOLONG);
    const auto deleteFailure = errorOf<FileError>(remove(twoWay.id));
    ASSERT_TRUE(deleteFailure);
    EXPECT_EQ(deleteFailure->errorNumber(), ENAMETOOLONG);

    EXPECT_EQ(baselineFilesLeft(twoWay.id), 3u);
    EXPECT_EQ(store->load(), std::vector<SyncJob>{twoWay});
    EXPECT_EQ(model->jobs(), std::vector<SyncJob>{twoWay});
    EXPECT_EQ(scheduler.changes, 0);
}

// The change stands once the file says so: the baseline file that stays is
// logged, not reported as a failed change.
TEST_F(Model, ABaselineThatCannotBeRemovedAfterTheSaveIsReportedAndNoLongerUsed) {
    const SyncJob twoWay = makeJob("Photos", SyncMode::twoWay);
    test::saveJobs(*store, {twoWay});
    writeBaseline(twoWay.id);
    // A folder where the log of the baseline should be cannot be unlinked.
    fs::remove(stateFile(twoWay.id, ".sqlite-wal"));
    fs::create_directories(stateFile(twoWay.id, ".sqlite-wal") / "inside");
    start();

    SyncJob moved = twoWay;
    moved.source = endpointAt(tmp / "Elsewhere");
    ASSERT_TRUE(update(moved).hasValue());
    EXPECT_EQ(loggedWith(stateFile(twoWay.id, ".sqlite-wal.replaced").string()), 1u);
    // Whatever stayed behind, the new folders are never planned against it.
    EXPECT_EQ(baselineFilesLeft(twoWay.id), 0u);
    EXPECT_EQ(store->load(), std::vector<SyncJob>{moved});
    EXPECT_EQ(model->jobs(), std::vector<SyncJob>{moved});
    EXPECT_EQ(scheduler.changes, 1);
}

// The job is gone once the jobs file says so: what its deletion cannot
// remove afterwards stays behind and is logged.
TEST_F(Model, ADeletionStandsWhenWhatItLeavesBehindCannotBeRemoved) {
    const SyncJob kept = makeJob("Kept");
    const SyncJob gone = makeJob("Gone", SyncMode::twoWay);
    test::saveJobs(*store, {gone, kept});
    writeBaseline(gone.id);
    fs::remove(stateFile(gone.id, ".sqlite-shm"));
    fs::create_directories(stateFile(gone.id, ".sqlite-shm") / "inside");
    // A lock file that is a mount point cannot be unlinked (busy).
    const fs::path lock = stateFile(gone.id, ".lock");
    FileIO::writeAtomically(tmp / "mounted", "");
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
        ::geteuid() == 0 && ::mount((tmp / "mounted").c_str(), lock.c_str(), nullptr, MS_BIND, nullptr) == 0 ? &lock
                                                                                                              : nullptr,
        [](const fs::path* p) { ::umount2(p->c_str(), MNT_DETACH); });
    ASSERT_TRUE(unmount || ::geteuid() != 0);
    history.append(record(gone.id, RunTrigger::manual, RunOutcome::success()), 50);
    start();

    ASSERT_TRUE(remove(gone.id).hasValue());
    EXPECT_EQ(store->load(), std::vector<SyncJob>{kept});
    EXPECT_EQ(model->jobs(), std::vector<SyncJob>{kept});
    EXPECT_FALSE(model->lastRecords().contains(gone.id));
    EXPECT_EQ(scheduler.changes, 1);
    EXPECT_EQ(baselineFilesLeft(gone.id), 0u);
    EXPECT_EQ(loggedWith(stateFile(gone.id, ".sqlite-shm.replaced").string()), 1u);
    if (unmount) {
        EXPECT_EQ(loggedWith(lock.string()), 1u);
    }
}

// Runs

TEST_F(Model, AFinishedRunIsRecordedThenNoticedAsAManualSkipThenCalledBack) {
    const SyncJob job = makeJob("Photos");
    test::saveJobs(*store, {job});
    start();
    std::vector<std::string> events;
    const auto records = model->observe(Property::lastRecords, [&] { events.push_back("lastRecords"); });
    const auto skips = model->observe(Property::manualSkip, [&] { events.push_back("manualSkip"); });
    model->setOnRunFinished([&](const RunRecord& finished) {
        events.push_back("finished " + std::string(enumName(finished.trigger)));
        EXPECT_EQ(model->lastRecords().at(job.id), finished);
    });

    model->runNow(job.id);
    ASSERT_TRUE(runs.waitForRuns(1));
    runs.end(0, RunOutcome::skipped(SkipReason::deviceNotConnected));
    ASSERT_TRUE(main.runUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"lastRecords", "manualSkip", "finished manual"}));
    ASSERT_TRUE(model->manualSkip());
    EXPECT_EQ(model->manualSkip()->outcome, RunOutcome::skipped(SkipReason::deviceNotConnected));

    // A skipped scheduled run is recorded but is no manual skip.
    const RunRecord shown = *model->manualSkip();
    events.clear();
    runner->enqueue(job.id, RunTrigger::schedule);
    ASSERT_TRUE(runs.waitForRuns(2));
    runs.end(1, RunOutcome::skipped(SkipReason::folderMissing));
    ASSERT_TRUE(main.runUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (std::vector<std::string>{"lastRecords", "finished schedule"}));
    EXPECT_EQ(model->manualSkip(), shown);
    EXPECT_EQ(model->lastRecords().at(job.id).trigger, RunTrigger::schedule);
}

TEST_F(Model, RecordsOfJobsNotInTheListAreDropped) {
    const SyncJob job = makeJob("Photos");
    test::saveJobs(*store, {job});
    start();
    int calls = 0;
    int recordNotices = 0;
    model->setOnRunFinished([&](const RunRecord&) { ++calls; });
    const auto watch = model->observe(Property::lastRecords, [&] { ++recordNotices; });
    std::vector<RunRecord> published;
    const auto after = runner->observeCompletions(main, [&](const RunRecord& r) { published.push_back(r); });

    const Uuid stranger = Uuid::random();
    runner->enqueue(stranger, RunTrigger::schedule);
    ASSERT_TRUE(runs.waitForRuns(1));
    runs.end(0, RunOutcome::skipped(SkipReason::deviceNotConnected));
    ASSERT_TRUE(main.runUntil([&] { return published.size() == 1; }));  // the model had it first

    EXPECT_EQ(calls, 0);
    EXPECT_EQ(recordNotices, 0);
    EXPECT_TRUE(model->lastRecords().empty());
    EXPECT_FALSE(model->manualSkip());
}

TEST_F(Model, RunAllQueuesTheEnabledJobsInListOrder) {
    const SyncJob first = makeJob("First");
    SyncJob disabled = makeJob("Disabled");
    disabled.isEnabled = false;
    const SyncJob third = makeJob("Third");
    test::saveJobs(*store, {first, disabled, third});
    start();

    model->runNow(Uuid::random());  // not listed: nothing
    model->runAll();
    ASSERT_TRUE(main.runUntil([&] { return model->statuses().size() == 2; }));
    EXPECT_EQ(model->statuses().at(third.id), RunStatus::queued());
    ASSERT_TRUE(runs.waitForRuns(1));
    EXPECT_EQ(runs.call(0).jobID, first.id);
    runs.end(0, RunOutcome::success());
    ASSERT_TRUE(runs.waitForRuns(2));
    EXPECT_EQ(runs.call(1).jobID, third.id);
    EXPECT_EQ(runs.call(1).trigger, RunTrigger::manual);
    model->runNow(third.id);  // running already: refused without a word
    runs.end(1, RunOutcome::success());
    ASSERT_TRUE(main.runUntil([&] { return model->lastRecords().size() == 2; }));
    settle();
    EXPECT_EQ(runs.runCount(), 2u);

    // Run now does not ask whether the job is enabled.
    model->runNow(disabled.id);
    ASSERT_TRUE(runs.waitForRuns(3));
    EXPECT_EQ(runs.call(2).jobID, disabled.id);
}

TEST_F(Model, ShutdownWaitsUntilNoJobIsRunning) {
    const SyncJob active = makeJob("Active");
    const SyncJob waiting = makeJob("Waiting");
    test::saveJobs(*store, {active, waiting});
    start();
    runs.holdStoppedRuns(true);
    model->runNow(active.id);
    model->runNow(waiting.id);
    runUntilRunning(active.id);
    ASSERT_TRUE(runs.waitForRuns(1));

    bool done = false;
    model->shutdown([&] { done = true; });
    settle();
    main.runPending();
    EXPECT_FALSE(done);
    EXPECT_EQ(model->statuses(), (StatusMap{{active.id, RunStatus::running(SyncProgress{})}}));

    // Parked for review while stopping: no longer running, so that is enough.
    SyncPlan plan;
    plan.deletionCount = 3;
    runs.end(0, RunOutcome::needsReview("Review"), plan);
    ASSERT_TRUE(main.runUntil([&] { return done; }));
    EXPECT_EQ(model->statuses(), (StatusMap{{active.id, RunStatus::awaitingConfirmation(plan)}}));
    EXPECT_EQ(runs.runCount(), 1u);

    bool again = false;
    model->shutdown([&] { again = true; });
    ASSERT_TRUE(main.runUntil([&] { return again; }));
    model->runNow(waiting.id);
    settle();
    EXPECT_EQ(runs.runCount(), 1u);
}

// Previews, archives and queries

TEST_F(Model, PreviewsAndPruningRefuseUnknownAndBusyJobsAndPassTheCoordinatorsErrorsOn) {
    SyncJob unplugged = makeJob("Photos");
    unplugged.destination = endpointAt(disk("Stick", "USB-1") / "Backup");
    const SyncJob busy = makeJob("Busy");
    test::saveJobs(*store, {unplugged, busy});
    std::erase_if(volumes.table, [&](const MountedFileSystem& m) { return m.mountPoint == tmp / "Stick"; });
    start();

    EXPECT_EQ(errorOf<AppModelError>(preview(Uuid::random())), AppModelError::jobNotFound());
    EXPECT_EQ(errorOf<SyncPreviewError>(preview(unplugged.id)),
              SyncPreviewError::unavailable(SkipReason::deviceNotConnected));

    model->runNow(busy.id);
    runUntilRunning(busy.id);
    EXPECT_EQ(errorOf<AppModelError>(preview(busy.id)), AppModelError::jobBusy());
    // Pruning hands the runner's refusal on as it is.
    EXPECT_EQ(errorOf<JobRunnerError>(prune(busy.id)), JobRunnerError(JobRunnerError::Code::jobBusy));

    // Gone from the file: the coordinator's own error.
    const Uuid gone = Uuid::random();
    EXPECT_EQ(errorOf<SyncPreviewError>(roots(gone)), SyncPreviewError::jobNotFound());
    EXPECT_EQ(errorOf<SyncPreviewError>(prune(gone)), SyncPreviewError::jobNotFound());
    EXPECT_EQ(roots(unplugged.id).get(), std::vector<fs::path>{});
}

TEST_F(Model, WithoutACoordinatorPreviewsRootsAndPruningFindNoJob) {
    const SyncJob job = makeJob("Photos");
    test::saveJobs(*store, {job});
    start(false);
    EXPECT_EQ(errorOf<AppModelError>(preview(job.id)), AppModelError::jobNotFound());
    EXPECT_EQ(errorOf<AppModelError>(roots(job.id)), AppModelError::jobNotFound());
    EXPECT_EQ(errorOf<AppModelError>(prune(job.id)), AppModelError::jobNotFound());
}

TEST_F(Model, PruningRemovesEveryArchivedRunOnBothSidesOfATwoWayJob) {
    SyncJob job = makeJob("Photos", SyncMode::twoWay);
    job.options.archiveRetentionDays = 365;  // not what pruning goes by
    test::saveJobs(*store, {job});
    const Date now = clock.now();
    for (const fs::path& side : {tmp / "Photos A", tmp / "Photos B"}) {
        const fs::path archive = side / ".KeltoSync/Archive" / job.id.string();
        fs::create_directories(archive / ArchiveRunID::make(now.adding(-60)) / "old.jpg");
        fs::create_directories(archive / ArchiveRunID::make(now.adding(-86400 * 3)));
        fs::create_directories(archive / "Not a run");
        fs::create_directories(archive / ArchiveRunID::make(now.adding(3600)));
    }
    start();

    EXPECT_EQ(roots(job.id).get(), (std::vector<fs::path>{tmp / "Photos A", tmp / "Photos B"}));
    ASSERT_TRUE(prune(job.id).hasValue());
    for (const fs::path& side : {tmp / "Photos A", tmp / "Photos B"}) {
        const auto left = test::namesIn(side / ".KeltoSync/Archive" / job.id.string());
        ASSERT_EQ(left.size(), 2u) << side;
        EXPECT_TRUE(left.contains("Not a run"));
        EXPECT_EQ(std::count_if(left.begin(), left.end(),
                                [&](const std::string& name) {
                                    return ArchiveRunID::date(name) > std::optional<Date>(now);
                                }),
                  1);
    }
}

TEST_F(Model, PruningLeavesTheArchivesOfAJobRunningInAnotherProcess) {
    const SyncJob job = makeJob("Photos");
    test::saveJobs(*store, {job});
    const fs::path run = tmp / "Photos B/.KeltoSync/Archive" / job.id.string() / ArchiveRunID::make(clock.now());
    fs::create_directories(run / "replaced.jpg");
    start();

    // That run is moving replaced files into its archive folder right now.
    std::optional<JobLock> elsewhere = JobLock::tryTake(coordinator.lockFile(job.id));
    ASSERT_TRUE(elsewhere);
    clock.advance(60);
    EXPECT_EQ(errorOf<JobRunnerError>(prune(job.id)), JobRunnerError(JobRunnerError::Code::jobBusy));
    EXPECT_TRUE(fs::exists(run / "replaced.jpg"));

    elsewhere.reset();
    ASSERT_TRUE(prune(job.id).hasValue());
    EXPECT_FALSE(fs::exists(run));
}

// Observation

TEST_F(Model, ObserversHearOnlyOfChangesButAlwaysOfTheCallbackAndOfSingleRecords) {
    const SyncJob job = makeJob("Photos");
    test::saveJobs(*store, {job});
    start();
    std::map<Property, int> notices;
    std::vector<Subscription> watches;
    for (Property property : {Property::jobs, Property::statuses, Property::lastRecords, Property::errorMessage,
                              Property::onRunFinished, Property::manualSkip, Property::requestedJobID})
        watches.push_back(model->observe(property, [&notices, property] { ++notices[property]; }));

    model->setErrorMessage("Could not read");
    model->setErrorMessage("Could not read");
    model->setRequestedJobID(job.id);
    model->setRequestedJobID(job.id);
    model->setManualSkip(std::nullopt);
    model->setOnRunFinished({});
    model->setOnRunFinished({});
    EXPECT_EQ(notices, (std::map<Property, int>{
                           {Property::errorMessage, 1}, {Property::requestedJobID, 1}, {Property::onRunFinished, 2}}));

    // The same job saved again is read back equal: the file is, the list is not, news.
    notices.clear();
    ASSERT_TRUE(update(job).hasValue());
    EXPECT_EQ(scheduler.changes, 1);
    // Deleting an unlisted job removes a key that is not there: still news.
    ASSERT_TRUE(remove(Uuid::random()).hasValue());
    EXPECT_EQ(notices, (std::map<Property, int>{{Property::lastRecords, 1}}));

    // The runner republishes an unchanged map when an idle job is cancelled.
    notices.clear();
    model->cancel(Uuid::random());
    settle();
    EXPECT_TRUE(notices.empty());

    model->runNow(job.id);
    runUntilRunning(job.id);
    EXPECT_GE(notices[Property::statuses], 1);

    // An observer that lets go hears nothing more.
    watches.clear();
    notices.clear();
    model->setErrorMessage(std::nullopt);
    EXPECT_TRUE(notices.empty());
}

TEST_F(Model, AnswersOnTheirWayWhenTheModelGoesAreDropped) {
    const SyncJob job = makeJob("Photos");
    test::saveJobs(*store, {job});
    start();
    int answers = 0;
    model->validate(job, [&](ValidationReport) { ++answers; });
    model->archiveRoots(job.id, [&](Result<AppModel::Roots>) { ++answers; });
    model->deleteJob(job.id, [&](Result<void>) { ++answers; });
    model->preview(Uuid::random(), [&](Result<SyncPlan>) { ++answers; });
    model.reset();
    settle();
    main.runPending();
    EXPECT_EQ(answers, 0);
}

}  // namespace
}  // namespace kelto
