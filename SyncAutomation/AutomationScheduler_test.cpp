#include "SyncAutomation/AutomationScheduler.h"

#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/Async/ObserverList.h"
#include "SyncAutomation/AutomationFakes_test.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/FakeSystemEvents.h"
#include "tests/support/FakeVolumeEvents.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/TemporaryFolder.h"

#include <date/date.h>
#include <date/tz.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <ostream>

namespace kelto {

namespace {

namespace fs = std::filesystem;
using test::volumeIdentity;

constexpr double minute = 60;
constexpr double hour = 3600;

// Instants are written in UTC; comments give Berlin's wall clock (UTC+2 in June). 10 June 2026 is a Wednesday.
Date utc(int y, unsigned mo, unsigned d, int h, int mi) {
    const ::date::sys_days day = ::date::year{y} / mo / d;
    return Date::fromUnix(static_cast<double>(day.time_since_epoch() / std::chrono::seconds{1}) + h * hour +
                          mi * minute);
}

const Date start = utc(2026, 6, 10, 6, 0);  // 08:00

struct Request {
    Uuid jobID;
    RunTrigger trigger = RunTrigger::manual;
    friend bool operator==(const Request&, const Request&) = default;
    friend void PrintTo(const Request& r, std::ostream* out) {
        *out << r.jobID.string() << " " << enumName(r.trigger);
    }
};

// Takes every request; the test publishes finished runs.
class FakeRunner final : public RunRequesting {
public:
    std::vector<Request> requests;
    void enqueue(const Uuid& jobID, RunTrigger trigger, std::function<void(bool)> done) override {
        requests.push_back({jobID, trigger});
        if (done) done(true);
    }
    Subscription observeCompletions(Executor& executor, RecordCallback callback) override {
        return completions_.add(executor, std::move(callback));
    }
    void finish(const Uuid& jobID, Date startedAt) {
        completions_.publish(test::record(jobID, RunTrigger::schedule, RunOutcome::success(), startedAt));
    }
    std::size_t observerCount() const { return completions_.size(); }

private:
    ObserverList<RunRecord> completions_;
};

// Delayed work of another kind: `late` runs even when its handle is dropped, as a timer whose cancellation came too
// late would; otherwise it runs where it is kept, so that cancelling it while it runs destroys it under its own feet,
// as deleting a timer object from its own timeout would.
class OddTimers final : public MainExecutor {
public:
    OddTimers(ManualExecutor& inner, bool late) : inner_(inner), late_(late) {}
    void post(Work work) override { inner_.post(std::move(work)); }
    DelayedWork postAfter(double seconds, Work work) override {
        if (late_) {
            kept_.push_back(inner_.postAfter(seconds, std::move(work)));
            return DelayedWork([] {});
        }
        auto slot = std::make_shared<Work>(std::move(work));
        kept_.push_back(inner_.postAfter(seconds, [slot] {
            if (*slot) (*slot)();
        }));
        return DelayedWork([slot] { *slot = nullptr; });
    }
    bool isCurrent() const override { return inner_.isCurrent(); }

private:
    ManualExecutor& inner_;
    bool late_;
    std::vector<DelayedWork> kept_;
};

// Everything runs on the test's thread: the main executor and the workers
// are manual, and the workers read the mount table the test keeps.
struct SchedulerTest : ::testing::Test {
    test::TemporaryFolder folder;
    const fs::path root = fs::canonical(folder.path());
    const fs::path support = root / "support";
    ManualClock clock{start};
    ManualExecutor main{clock};
    ManualExecutor workers{clock};
    FakeRunner runner;
    test::FakeSystemEvents systemEvents;
    test::FakeVolumeEvents volumeEvents;
    const ::date::time_zone* zone = ::date::locate_zone("Europe/Berlin");

    std::vector<SyncJob> jobs;
    std::map<Uuid, Date> lastRuns;
    std::map<Uuid, Date> lastSuccesses;
    std::vector<Uuid> asked;
    std::vector<Uuid> withdrawn;
    std::size_t jobReads = 0;

    std::vector<MountedVolume> mounted;
    std::map<fs::path, Date> appearances;

    const VolumeIdentity home = volumeIdentity(VolumeKind::internal, "HOME", "home");
    const VolumeIdentity stick = volumeIdentity(VolumeKind::removable, "STICK", "Stick", "vfat");
    const VolumeIdentity disk = volumeIdentity(VolumeKind::removable, "DISK", "Disk");

    std::unique_ptr<AutomationScheduler> scheduler;  // last: goes before what it uses

    SchedulerTest() {
        for (const char* folder : {"home/Pictures", "home/Copies", "media/Stick/Photos", "media/Disk/Backup"})
            fs::create_directories(root / folder);
        mounted.push_back({root / "home", home});
    }

    AutomationScheduler::Services services() {
        AutomationScheduler::Services s;
        s.jobs = [this] { return ++jobReads, jobs; };
        s.lastRunStart = [this](const Uuid& id) { return find(lastRuns, id); };
        s.lastSuccessEnd = [this](const Uuid& id) { return find(lastSuccesses, id); };
        s.onAsk = [this](const SyncJob& job) { asked.push_back(job.id); };
        s.withdrawAsk = [this](const Uuid& id) { withdrawn.push_back(id); };
        s.zone = [this]() -> const ::date::time_zone& { return *zone; };
        s.volumes = [this] { return mounted; };
        s.appearanceTime = [this](const fs::path& volume) { return find(appearances, volume); };
        s.identityAt = [this](const fs::path& path) {  // the last mount listed that holds the path
            for (auto v = mounted.rbegin(); v != mounted.rend(); ++v)
                if (path.native().starts_with(v->root.native())) return v->identity;
            throw FileError(ENOENT, "statfs", path);
        };
        s.supportDirectory = support;
        return s;
    }
    template <typename Map, typename Key>
    static std::optional<Date> find(const Map& map, const Key& id) {
        const auto found = map.find(id);
        return found == map.end() ? std::nullopt : std::optional(found->second);
    }

    void make(MainExecutor* executor = nullptr) {
        scheduler = std::make_unique<AutomationScheduler>(runner, systemEvents, volumeEvents,
                                                          executor ? *executor : main, workers, clock, services(),
                                                          AutomationScheduler::defaultSettleDelay);
    }
    void startScheduler(MainExecutor* executor = nullptr) {
        make(executor);
        scheduler->start();
        flush();
    }

    // Runs the main executor and the workers until neither has work.
    void flush() {
        while (main.runPending() + workers.runPending() > 0) {
        }
    }
    // Moves both clocks on, running each timer at its time and what it hands to the workers before the next.
    void advance(double seconds) {
        const double target = clock.monotonicSeconds() + seconds;
        flush();
        while (const auto due = main.nextDue()) {
            if (*due > target) break;
            main.advance(*due - clock.monotonicSeconds());
            flush();
        }
        main.advance(target - clock.monotonicSeconds());
        flush();
    }
    // The wall clock jumps as over a sleep; the monotonic one stands still.
    void jumpWallClock(double seconds) { clock.set(clock.now().adding(seconds)); }
    // The wall clock jumps by `seconds`, then the system tells of `event`.
    void jumpAndTell(double seconds, SystemEvent event) {
        jumpWallClock(seconds);
        systemEvents.send(event);
        flush();
    }

    SyncJob& add(std::vector<Trigger> triggers) {
        SyncJob job = SyncJob::newJob("job");
        job.source = endpoint(root / "home" / "Pictures", home, "Pictures");
        job.destination = endpoint(root / "media" / "Stick" / "Photos", stick, "Photos");
        job.triggers = std::move(triggers);
        return jobs.emplace_back(std::move(job));
    }
    static Endpoint endpoint(const fs::path& path, const VolumeIdentity& volume, std::string relative) {
        return {.path = path.native(), .bookmark = {}, .volume = volume, .relativePath = std::move(relative),
                .fileID = {}};
    }
    // The job was saved: the model then tells the scheduler.
    void changed(const SyncJob& job) {
        for (SyncJob& listed : jobs)
            if (listed.id == job.id) listed = job;
        scheduler->jobsChanged();
        flush();
    }

    void mount(const fs::path& at, const VolumeIdentity& identity) {
        mounted.push_back({at, identity});
        volumeEvents.send(VolumeEvent::mounted(at));
    }
    void unmount(const fs::path& at) {
        std::erase_if(mounted, [&](const MountedVolume& v) { return v.root == at; });
        volumeEvents.send(VolumeEvent::unmounted(at));
    }
};

Trigger daily(std::int64_t h, std::int64_t m) { return Trigger::daily({h, m}); }
Trigger hourly(std::int64_t n = 1) { return Trigger::every(n, IntervalUnit::hours); }
const Trigger onConnect = Trigger::onConnect(ConnectAction::run);
const Trigger onConnectAsk = Trigger::onConnect(ConnectAction::ask);
using Requests = std::vector<Request>;

// ----- timers and due runs -----

// Before start nothing is computed or followed, and job changes are ignored; start works once.
TEST_F(SchedulerTest, NoTimerBeforeStartNorWithoutAUsableTimedTriggerOnAnEnabledJob) {
    const Uuid connectOnly = add({onConnect}).id;
    const Uuid badTimes = add({daily(24, 0), daily(10, 60), Trigger::every(10, IntervalUnit::minutes)}).id;
    SyncJob& disabled = add({hourly()});
    disabled.isEnabled = false;
    const Uuid disabledID = disabled.id;
    make();
    scheduler->jobsChanged();
    flush();
    EXPECT_EQ(jobReads, 0u);
    for (std::size_t expected : {0u, 1u}) {
        EXPECT_EQ(systemEvents.observerCount() + volumeEvents.observerCount() + runner.observerCount(), 3 * expected);
        scheduler->start();
        flush();
    }
    for (const Uuid& id : {connectOnly, badTimes, disabledID}) EXPECT_EQ(scheduler->pendingFire(id), std::nullopt);
    EXPECT_EQ(main.delayedCount(), 0u);
    // A timer that existed goes when its job is disabled.
    SyncJob job = jobs[1];
    job.triggers.push_back(hourly());
    changed(job);
    EXPECT_EQ(scheduler->pendingFire(job.id), start.adding(hour));
    EXPECT_EQ(main.delayedCount(), 1u);
    job.isEnabled = false;
    changed(job);
    EXPECT_EQ(scheduler->pendingFire(job.id), std::nullopt);
    EXPECT_EQ(main.delayedCount(), 0u);
    advance(2 * hour);
    EXPECT_TRUE(runner.requests.empty());
    scheduler.reset();
    EXPECT_EQ(systemEvents.observerCount() + volumeEvents.observerCount() + runner.observerCount(), 0u);
}

// Anchors that cannot be written still serve the session. Observers hear of each new fire date and of nothing else.
TEST_F(SchedulerTest, AnIntervalRunsOneIntervalAfterTheFirstComputationThenFromEachRunsStart) {
    std::ofstream(support) << "a file where the folder belongs";
    const Uuid id = add({hourly()}).id;
    make();
    int notices = 0;
    const Subscription watching = scheduler->observePendingFires([&] { ++notices; });
    scheduler->start();
    flush();
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(scheduler->pendingFire(id), start.adding(hour));
    advance(hour - 1);
    EXPECT_TRUE(runner.requests.empty());
    jumpAndTell(0, SystemEvent::clockChanged);
    EXPECT_EQ(notices, 1);
    advance(1);
    EXPECT_EQ(runner.requests, (Requests{{id, RunTrigger::schedule}}));
    EXPECT_EQ(scheduler->pendingFire(id), start.adding(2 * hour));
    EXPECT_EQ(notices, 2);
    // The run started late; the next counts from its start, known before the recomputation it causes.
    advance(10 * minute);
    runner.finish(id, start.adding(hour + 10 * minute));
    flush();
    EXPECT_EQ(scheduler->pendingFire(id), start.adding(2 * hour + 10 * minute));
    EXPECT_EQ(notices, 3);
    advance(hour);
    EXPECT_EQ(runner.requests.size(), 2u);
}

// Timers whose cancellation comes too late, or that are destroyed as they run: the hour the first computation set
// passes without a computation, and a connect task that ends its own handle still runs.
TEST_F(SchedulerTest, OnlyTheNewestComputationsTimerActsAndAConnectTaskThatEndsItsOwnHandleStillRuns) {
    for (const int timers : {0, 1, 2}) {  // the manual executor's, late ones, ones destroyed as they run
        SCOPED_TRACE(timers);
        OddTimers odd(main, timers == 1);
        jobs.clear();
        runner.requests.clear();
        SyncJob job = add({hourly()});
        const Uuid connects = add({onConnect}).id;
        startScheduler(timers ? &odd : nullptr);
        mount(root / "media" / "Stick", stick);
        advance(30 * minute);
        EXPECT_EQ(runner.requests, (Requests{{connects, RunTrigger::connect}}));
        job.triggers = {hourly(2)};
        changed(job);
        EXPECT_EQ(scheduler->pendingFire(job.id), clock.now().adding(90 * minute));
        const std::size_t reads = jobReads;
        advance(45 * minute);
        EXPECT_EQ(jobReads, reads);
        advance(45 * minute);
        EXPECT_EQ(runner.requests.back(), (Request{job.id, RunTrigger::schedule}));
        EXPECT_EQ(runner.requests.size(), 2u);
        unmount(root / "media" / "Stick");
        scheduler.reset();
    }
}

// A due date is dropped where the triggers changed (saved, the scheduler not yet told) or a run started since.
TEST_F(SchedulerTest, DueRunsAreRequestedInDateOrderAfterTheWallClockJumpsUnlessTheTriggersChangedOrARunStartedSince) {
    // Run a minute before start, so nothing counts as missed at start.
    const Uuid nine = add({daily(9, 0)}).id, ten = add({daily(10, 0)}).id;
    SyncJob edited = add({daily(8, 30)});
    const Uuid ranManually = add({daily(8, 30)}).id, ranByRunner = add({daily(8, 30)}).id;
    const Uuid untouched = add({daily(8, 30)}).id;
    for (const SyncJob& job : jobs) lastRuns[job.id] = start.adding(-minute);
    startScheduler();
    EXPECT_EQ(scheduler->pendingFire(untouched), utc(2026, 6, 10, 6, 30));
    EXPECT_EQ(main.nextDue(), clock.monotonicSeconds() + 30 * minute);
    jobs[2].triggers = {daily(8, 45)};
    jumpWallClock(40 * minute);  // 08:40
    lastRuns[ranManually] = utc(2026, 6, 10, 6, 35);
    runner.finish(ranByRunner, utc(2026, 6, 10, 6, 30));  // at the due date itself
    flush();
    EXPECT_EQ(runner.requests, (Requests{{untouched, RunTrigger::schedule}}));
    EXPECT_EQ(scheduler->pendingFire(edited.id), utc(2026, 6, 10, 6, 45));
    EXPECT_EQ(scheduler->pendingFire(ranManually), utc(2026, 6, 11, 6, 30));
    jumpAndTell(hour + 5 * minute, SystemEvent::clockChanged);  // 09:45
    EXPECT_EQ(runner.requests, (Requests{{untouched, RunTrigger::schedule}, {edited.id, RunTrigger::schedule},
                                         {nine, RunTrigger::schedule}}));
    // The dates move on; the timer follows the wall clock's new reading.
    EXPECT_EQ(scheduler->pendingFire(nine), utc(2026, 6, 11, 7, 0));
    EXPECT_EQ(scheduler->pendingFire(ten), utc(2026, 6, 10, 8, 0));
    EXPECT_EQ(main.nextDue(), clock.monotonicSeconds() + 15 * minute);
}

// Clock and zone changes recompute without a catch-up pass; after a wake missed runs are caught up instead of run on
// schedule, and the recomputation after it finds nothing due.
TEST_F(SchedulerTest, ClockAndZoneChangesRecomputeAndOnlyAWakeCatchesUp) {
    const Uuid id = add({daily(9, 0)}).id;
    lastRuns[id] = start.adding(-minute);
    startScheduler();
    EXPECT_EQ(scheduler->pendingFire(id), utc(2026, 6, 10, 7, 0));
    zone = ::date::locate_zone("America/New_York");  // 09:00 there is 13:00 UTC
    jumpAndTell(0, SystemEvent::timeZoneChanged);
    EXPECT_EQ(scheduler->pendingFire(id), utc(2026, 6, 10, 13, 0));
    // Set back: the date stays, only the timer moves.
    jumpAndTell(-2 * hour, SystemEvent::clockChanged);
    EXPECT_EQ(scheduler->pendingFire(id), utc(2026, 6, 10, 13, 0));
    EXPECT_EQ(main.nextDue(), clock.monotonicSeconds() + 9 * hour);
    EXPECT_TRUE(runner.requests.empty());
    jumpAndTell(12 * hour, SystemEvent::wokeFromSleep);  // slept through 13:00 UTC
    EXPECT_EQ(runner.requests, (Requests{{id, RunTrigger::catchUp}}));
    EXPECT_EQ(scheduler->pendingFire(id), utc(2026, 6, 11, 13, 0));
}

// ----- anchors kept across restarts -----

// A damaged anchors file is no harm, and the anchors of deleted jobs go.
TEST_F(SchedulerTest, AnIntervalIsHonouredWhenTheApplicationRestartsMoreOftenThanIt) {
    fs::create_directories(support);
    std::ofstream(support / IntervalAnchorStore::fileName) << "{\"anchors\":[{\"jobID\":";
    const Uuid id = add({hourly()}).id, deleted = add({hourly()}).id;
    for (int session = 0; session < 3; ++session) {  // 40 minutes each, no run recorded
        startScheduler();
        EXPECT_EQ(scheduler->pendingFire(id), start.adding(session < 2 ? hour : 2 * hour));
        if (session == 0) {
            EXPECT_EQ(IntervalAnchorStore(support).load(), (std::map<Uuid, Date>{{id, start}, {deleted, start}}));
            jobs.pop_back();
            advance(10 * minute);
            scheduler->jobsChanged();
            flush();
            EXPECT_EQ(IntervalAnchorStore(support).load(), (std::map<Uuid, Date>{{id, start}}));
        }
        advance(40 * minute);
        scheduler.reset();
        flush();
    }
    EXPECT_EQ(runner.requests, (Requests{{id, RunTrigger::schedule}, {id, RunTrigger::schedule}}));
}

// A machine without a real-time clock boots a month behind; then the time service sets it right.
TEST_F(SchedulerTest, AClockThatStartsBehindRewritesNoAnchorAndRunsNothingWhenSetRight) {
    const Uuid hourlyJob = add({hourly()}).id, daily = add({Trigger::every(1, IntervalUnit::days)}).id;
    const Uuid ran = add({hourly(2)}).id;
    lastRuns[ran] = start.adding(-30 * minute);
    const std::map<Uuid, Date> stored{{hourlyJob, start.adding(-10 * minute)}, {daily, start.adding(-2 * hour)}};
    IntervalAnchorStore(support).save(stored);
    jumpWallClock(-30 * 24 * hour);
    startScheduler();
    EXPECT_EQ(scheduler->pendingFire(hourlyJob), start.adding(-30 * 24 * hour + hour));
    advance(2 * hour);
    EXPECT_EQ(runner.requests.size(), 2u);  // counted from the clock as it stood
    runner.requests.clear();
    jumpAndTell(30 * 24 * hour - 2 * hour + 20 * minute, SystemEvent::clockChanged);  // set right: start + 20 minutes
    EXPECT_TRUE(runner.requests.empty());
    EXPECT_EQ(scheduler->pendingFire(hourlyJob), start.adding(50 * minute));
    EXPECT_EQ(scheduler->pendingFire(daily), start.adding(22 * hour));
    EXPECT_EQ(scheduler->pendingFire(ran), start.adding(90 * minute));
    for (const Uuid& id : {hourlyJob, daily}) EXPECT_EQ(IntervalAnchorStore(support).load().at(id), stored.at(id));
    advance(30 * minute);
    EXPECT_EQ(runner.requests, (Requests{{hourlyJob, RunTrigger::schedule}}));
}

// ----- catch-up and on-connect runs -----

struct ConnectTest : SchedulerTest {
    const fs::path stickRoot = root / "media" / "Stick";
    const fs::path diskRoot = root / "media" / "Disk";
};

TEST_F(ConnectTest, AMountStartsARunAfterTheSettleDelayRestartedByARemountAndCancelledByAnUnmount) {
    const Uuid id = add({onConnect}).id;
    startScheduler();
    mount(stickRoot, stick);
    flush();
    EXPECT_EQ(main.delayedCount(), 1u);
    advance(6);
    volumeEvents.send(VolumeEvent::mounted(stickRoot));
    advance(9.9);
    EXPECT_TRUE(runner.requests.empty());
    advance(0.1);
    EXPECT_EQ(runner.requests, (Requests{{id, RunTrigger::connect}}));
    EXPECT_EQ(main.delayedCount(), 0u);
    // Another volume going leaves the task alone; the job's own drive ends it.
    volumeEvents.send(VolumeEvent::mounted(stickRoot));
    advance(5);
    mount(diskRoot, disk);
    unmount(diskRoot);
    flush();
    EXPECT_EQ(main.delayedCount(), 1u);
    unmount(stickRoot);
    flush();
    EXPECT_EQ(main.delayedCount(), 0u);
    mounted.push_back({stickRoot, stick});  // back without a mount event
    advance(20);
    EXPECT_EQ(runner.requests.size(), 1u);
}

// Only a mount of one of a job's sides, with both sides available, qualifies: the stick without the disk completes the
// jobs from home, the disk then the one from it. An ask job prompts instead of running, and the ask is taken back once
// its drive goes; other volumes, and jobs that run without asking, take nothing back.
TEST_F(ConnectTest, AMountOfAJobsSideWithBothSidesAvailableRunsOrAsksAndAnAskIsWithdrawnWhenItsDriveGoes) {
    const Uuid homeToStick = add({onConnect}).id, asks = add({onConnectAsk}).id;
    SyncJob& diskToStick = add({onConnect});
    diskToStick.source = endpoint(diskRoot / "Backup", disk, "Backup");
    const Uuid diskToStickID = diskToStick.id;
    add({onConnect}).isEnabled = false;
    add({});  // no on-connect trigger
    startScheduler();
    for (const auto& [at, volume, tasks] : {std::tuple{stickRoot, stick, 2u}, std::tuple{diskRoot, disk, 1u}}) {
        mount(at, volume);
        flush();
        EXPECT_EQ(main.delayedCount(), tasks);
        advance(10);
    }
    EXPECT_EQ(runner.requests, (Requests{{homeToStick, RunTrigger::connect}, {diskToStickID, RunTrigger::connect}}));
    EXPECT_EQ(asked, std::vector<Uuid>{asks});
    unmount(diskRoot);
    flush();
    EXPECT_TRUE(withdrawn.empty());
    unmount(stickRoot);
    flush();
    EXPECT_EQ(withdrawn, std::vector<Uuid>{asks});
}

// Saved during the delay, before the model tells the scheduler: the job as it is then decides. A change the model tells
// of cancels every waiting task, as does an edit while its mount was being checked.
TEST_F(ConnectTest, AfterTheDelayTheJobAsItIsNowDecides) {
    const Uuid toAsk = add({onConnect}).id;
    add({onConnect});
    add({onConnect});
    startScheduler();
    mount(stickRoot, stick);
    flush();
    EXPECT_EQ(main.delayedCount(), 3u);
    jobs[0].triggers = {onConnectAsk};
    jobs[1].isEnabled = false;
    jobs[2].triggers = {daily(20, 0)};
    advance(10);
    EXPECT_EQ(asked, std::vector<Uuid>{toAsk});
    EXPECT_TRUE(runner.requests.empty());
    jobs = {};
    add({onConnect});
    add({onConnectAsk});
    SyncJob other = add({});
    unmount(stickRoot);
    mount(stickRoot, stick);
    flush();
    EXPECT_EQ(main.delayedCount(), 2u);
    other.name = "renamed";
    changed(other);
    EXPECT_EQ(main.delayedCount(), 0u);
    advance(20);
    EXPECT_TRUE(runner.requests.empty());
    EXPECT_EQ(asked.size(), 1u);
    jobs.resize(1);
    unmount(stickRoot);
    flush();
    mount(stickRoot, stick);
    main.runPending();     // the event asks for the volumes
    workers.runPending();  // which come back
    main.runPending();     // and the job's check goes out
    jobs[0].name = "renamed again";
    flush();
    EXPECT_EQ(main.delayedCount(), 0u);
}

TEST_F(ConnectTest, TheFirstPassCatchesUpJobsWhoseRemovableDriveAppearedSinceTheirLastSuccess) {
    mounted.push_back({stickRoot, stick});
    appearances[stickRoot] = start.adding(-hour);
    const Uuid appeared = add({onConnect}).id, asks = add({onConnectAsk}).id, notSince = add({onConnect}).id;
    const Uuid neverSucceeded = add({onConnect}).id, missed = add({onConnectAsk, daily(7, 0)}).id;
    SyncJob& internal = add({onConnect});
    internal.destination = endpoint(root / "home" / "Copies", home, "Copies");
    const Uuid internalID = internal.id;
    for (const Uuid& id : {appeared, asks, internalID}) lastSuccesses[id] = start.adding(-2 * hour);
    lastSuccesses[notSince] = start.adding(-30 * minute);
    startScheduler();
    EXPECT_EQ(runner.requests, (Requests{{appeared, RunTrigger::catchUp},
                                         {neverSucceeded, RunTrigger::catchUp},
                                         {missed, RunTrigger::catchUp}}));
    EXPECT_EQ(asked, std::vector<Uuid>{asks});
    // The internal job still runs when its volume mounts.
    volumeEvents.send(VolumeEvent::mounted(root / "home"));
    advance(10);
    const Requests& all = runner.requests;
    EXPECT_NE(std::find(all.begin(), all.end(), Request{internalID, RunTrigger::connect}), all.end());
}

}  // namespace
}  // namespace kelto
