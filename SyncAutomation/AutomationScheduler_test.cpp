#include "SyncAutomation/AutomationScheduler.h"
#include "SyncAutomation/ScheduleCalculator.h"

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
#include <limits>
#include <ostream>

namespace kelto {

namespace {

namespace fs = std::filesystem;
using test::volumeIdentity;

constexpr double minute = 60;
constexpr double hour = 3600;

// Instants are written in UTC, repeating no zone arithmetic; comments give the wall clock, Berlin's unless said.
// 10 June 2026 is a Wednesday.
Date utc(int y, unsigned mo, unsigned d, int h, int mi, double s = 0) {
    const ::date::sys_days day = ::date::year{y} / mo / d;
    return Date::fromUnix(static_cast<double>(day.time_since_epoch() / std::chrono::seconds{1}) + h * hour +
                          mi * minute + s);
}

const ::date::time_zone& berlin() { return *::date::locate_zone("Europe/Berlin"); }
const ::date::time_zone& newYork() { return *::date::locate_zone("America/New_York"); }
const ::date::time_zone& lordHowe() { return *::date::locate_zone("Australia/Lord_Howe"); }

Trigger daily(std::int64_t h, std::int64_t m) { return Trigger::daily({h, m}); }
Trigger weekly(std::set<std::int64_t> days, std::int64_t h, std::int64_t m) {
    return Trigger::weekly(std::move(days), {h, m});
}
Trigger every(std::int64_t n, IntervalUnit unit) { return Trigger::every(n, unit); }
Trigger hourly(std::int64_t n = 1) { return every(n, IntervalUnit::hours); }

using Calc = ScheduleCalculator;

// In Berlin.
std::optional<Date> next(const Trigger& t, Date after, std::optional<Date> anchor = std::nullopt) {
    return Calc::nextFire(t, after, anchor, berlin());
}
bool missed(const std::vector<Trigger>& triggers, std::optional<Date> last, Date now) {
    return Calc::missedOccurrence(triggers, last, now, berlin());
}

TEST(ScheduleCalculator, IntervalsKeepTheAnchorsRhythmDailyTimesComeNextAfterNowAndWhatTheRulesRejectNeverFires) {
    const Trigger quarter = every(15, IntervalUnit::minutes);
    const Date ten = utc(2026, 6, 10, 10, 0);
    EXPECT_EQ(next(quarter, ten, ten), utc(2026, 6, 10, 10, 15));
    EXPECT_EQ(next(quarter, utc(2026, 6, 10, 10, 14, 59.75), ten), utc(2026, 6, 10, 10, 15));
    EXPECT_EQ(next(quarter, utc(2026, 6, 10, 10, 15), ten), utc(2026, 6, 10, 10, 30));
    EXPECT_EQ(next(quarter, utc(2026, 6, 10, 11, 7), ten), utc(2026, 6, 10, 11, 15));
    // An anchor still to come gives one interval past it; none, one from now.
    EXPECT_EQ(next(quarter, ten, utc(2026, 6, 10, 12, 0)), utc(2026, 6, 10, 12, 15));
    EXPECT_EQ(next(quarter, utc(2026, 6, 10, 10, 3, 0.5)), utc(2026, 6, 10, 10, 18, 0.5));
    // Two days from 09:00 the day before Berlin's summer time: 10:00, no correction for the lost hour.
    const Date anchor = utc(2026, 3, 28, 8, 0);
    EXPECT_EQ(next(every(2, IntervalUnit::days), anchor.adding(3600), anchor), utc(2026, 3, 30, 8, 0));
    EXPECT_EQ(next(every(3, IntervalUnit::hours), utc(2026, 3, 28, 20, 0), anchor), utc(2026, 3, 28, 23, 0));
    EXPECT_EQ(next(every(365, IntervalUnit::days), anchor, anchor), anchor.adding(31'536'000));
    // Instants outside the calendar give nothing.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(next(daily(9, 0), Date{inf}), std::nullopt);
    EXPECT_EQ(next(every(1, IntervalUnit::hours), Date{0}, Date{nan}), std::nullopt);
    EXPECT_FALSE(missed({daily(9, 0)}, std::nullopt, Date{inf}));
    EXPECT_EQ(Calc::earliest({}), std::nullopt);
    EXPECT_EQ(Calc::earliest({Date{5}, Date{-2.5}, Date{3}, Date{-2.5}}), Date{-2.5});
    // Daily times: the next showing strictly after now.
    const Trigger eight = daily(8, 0);  // 06:00 UTC in a Berlin summer
    EXPECT_EQ(next(eight, utc(2026, 6, 10, 5, 59, 59.5)), utc(2026, 6, 10, 6, 0));
    EXPECT_EQ(next(eight, utc(2026, 6, 10, 6, 0), utc(2020, 1, 1, 0, 0)), utc(2026, 6, 11, 6, 0));
    // The day is the zone's: 22:15 UTC is already tomorrow in Berlin.
    EXPECT_EQ(next(daily(0, 30), utc(2026, 6, 10, 22, 15)), utc(2026, 6, 10, 22, 30));
    EXPECT_EQ(next(daily(23, 59), utc(2026, 12, 31, 22, 59)), utc(2027, 1, 1, 22, 59));
    // What the rules reject never fires and is never missed.
    for (const Trigger& t : {daily(24, 0), daily(10, 60), daily(-1, 30), daily(5, -1), weekly({4}, 9, 60),
                             weekly({0, 8}, 9, 0), weekly({}, 9, 0), Trigger::onConnect(ConnectAction::run),
                             every(5, IntervalUnit::minutes), every(0, IntervalUnit::hours),
                             every(-1, IntervalUnit::days), every(8761, IntervalUnit::hours)}) {
        EXPECT_EQ(next(t, ten, ten.adding(-hour)), std::nullopt);
        EXPECT_FALSE(missed({t}, std::nullopt, ten));
        EXPECT_FALSE(missed({t}, utc(2026, 1, 1, 0, 0), ten));
    }
    // Skipped times move forward and repeated ones count once.
    // The zone, the trigger, the instant after which the next fire is expected.
    const std::vector<std::tuple<const ::date::time_zone*, Trigger, Date, Date>> cases{
        // Berlin: 02:00 to 03:00 on 29 March, 03:00 back to 02:00 on 25 October.
        {&berlin(), daily(2, 30), utc(2026, 3, 28, 12, 0), utc(2026, 3, 29, 1, 30)},   // 03:30
        {&berlin(), daily(2, 0), utc(2026, 3, 28, 12, 0), utc(2026, 3, 29, 1, 0)},     // 03:00
        {&berlin(), daily(2, 30), utc(2026, 3, 29, 1, 30), utc(2026, 3, 30, 0, 30)},   // 02:30 again
        {&berlin(), daily(2, 30), utc(2026, 10, 24, 12, 0), utc(2026, 10, 25, 0, 30)}, // first 02:30
        {&berlin(), daily(2, 30), utc(2026, 10, 25, 0, 30), utc(2026, 10, 26, 1, 30)}, // not the second
        {&berlin(), daily(2, 30), utc(2026, 10, 25, 1, 0), utc(2026, 10, 26, 1, 30)},
        // New York: 02:00 to 03:00 on 8 March, 02:00 back to 01:00 on 1 November.
        {&newYork(), daily(2, 15), utc(2026, 3, 7, 12, 0), utc(2026, 3, 8, 7, 15)},    // 03:15
        {&newYork(), daily(1, 30), utc(2026, 10, 31, 12, 0), utc(2026, 11, 1, 5, 30)}, // first 01:30
        {&newYork(), daily(1, 30), utc(2026, 11, 1, 5, 30), utc(2026, 11, 2, 6, 30)},
        // Lord Howe moves half an hour: 02:00 to 02:30 on 4 October, 02:00 back to 01:30 on 5 April.
        {&lordHowe(), daily(2, 15), utc(2026, 10, 3, 0, 0), utc(2026, 10, 3, 16, 15)}, // 03:15 at +11
        {&lordHowe(), daily(2, 0), utc(2026, 10, 3, 0, 0), utc(2026, 10, 3, 16, 0)},   // 03:00
        {&lordHowe(), daily(2, 45), utc(2026, 10, 3, 0, 0), utc(2026, 10, 3, 15, 45)}, // exists
        {&lordHowe(), daily(1, 45), utc(2026, 4, 4, 0, 0), utc(2026, 4, 4, 14, 45)},   // first, at +11
        {&lordHowe(), daily(1, 45), utc(2026, 4, 4, 14, 50), utc(2026, 4, 5, 15, 15)}, // next night
        {&lordHowe(), daily(1, 15), utc(2026, 4, 4, 0, 0), utc(2026, 4, 4, 14, 15)},   // not repeated
        // Weekly times alike: Sundays at 02:30 in Berlin.
        {&berlin(), weekly({1}, 2, 30), utc(2026, 3, 25, 0, 0), utc(2026, 3, 29, 1, 30)},
        {&berlin(), weekly({1}, 2, 30), utc(2026, 10, 25, 0, 30), utc(2026, 11, 1, 1, 30)},
        {&lordHowe(), weekly({1}, 2, 15), utc(2026, 9, 30, 0, 0), utc(2026, 10, 3, 16, 15)},
    };
    for (const auto& [zone, trigger, after, expected] : cases) {
        SCOPED_TRACE(zone->name() + " after " + std::to_string(after.unix()));
        EXPECT_EQ(Calc::nextFire(trigger, after, std::nullopt, *zone), expected);
    }
}

TEST(ScheduleCalculator, WeeklyTimesTakeTheEarliestListedWeekdayAndAnOccurrenceIsMissedAfterTheLastStartAndByNow) {
    const Date wednesday10 = utc(2026, 6, 10, 8, 0);  // Wednesday 10:00 in Berlin
    // Listed weekdays, Sunday 1 to Saturday 7 and others ignored, and the day of June they give.
    for (const auto& [days, day] : std::vector<std::pair<std::set<std::int64_t>, unsigned>>{
             {{2, 6}, 12}, {{2, 3}, 15}, {{1}, 14}, {{7}, 13}, {{0, 5, 9, -3}, 11}})
        EXPECT_EQ(next(weekly(days, 9, 0), wednesday10), utc(2026, 6, day, 7, 0)) << day;
    EXPECT_EQ(next(weekly({4}, 9, 0), utc(2026, 6, 10, 6, 59)), utc(2026, 6, 10, 7, 0));  // today
    EXPECT_EQ(next(weekly({4}, 9, 0), utc(2026, 6, 10, 7, 0)), utc(2026, 6, 17, 7, 0));   // a week on
    // Tuesday 23:30 UTC is Wednesday in Berlin.
    EXPECT_EQ(next(weekly({4}, 1, 45), utc(2026, 6, 9, 23, 30)), utc(2026, 6, 9, 23, 45));
    // Missed when an occurrence fell after the last start and by now.
    const Date yesterdayNine = utc(2026, 6, 9, 7, 0);  // Berlin
    EXPECT_TRUE(missed({daily(9, 0)}, yesterdayNine.adding(5), utc(2026, 6, 10, 7, 0)));
    EXPECT_FALSE(missed({daily(9, 0)}, yesterdayNine.adding(5), utc(2026, 6, 10, 6, 59, 59)));
    EXPECT_FALSE(missed({daily(9, 0)}, yesterdayNine, utc(2026, 6, 10, 6, 59, 59)));
    const std::vector<Trigger> hourly{every(1, IntervalUnit::hours)};
    EXPECT_FALSE(missed(hourly, std::nullopt, utc(2026, 6, 10, 11, 0)));
    EXPECT_TRUE(missed(hourly, utc(2026, 6, 10, 10, 0), utc(2026, 6, 10, 11, 0)));
    EXPECT_FALSE(missed(hourly, utc(2026, 6, 10, 10, 0), utc(2026, 6, 10, 10, 59)));
    const Trigger mondayNine = weekly({2}, 9, 0);
    const Date lastMonday = utc(2026, 6, 8, 8, 0);
    EXPECT_FALSE(missed({mondayNine}, lastMonday, utc(2026, 6, 15, 6, 59)));
    EXPECT_TRUE(missed({mondayNine}, lastMonday, utc(2026, 6, 15, 7, 0)));
    // A repeated time is due at its first showing, and only then.
    EXPECT_TRUE(missed({daily(2, 30)}, utc(2026, 10, 24, 12, 0), utc(2026, 10, 25, 0, 30)));
    EXPECT_FALSE(missed({daily(2, 30)}, utc(2026, 10, 25, 0, 30), utc(2026, 10, 25, 1, 30)));
    // Any trigger of the list will do; a last start at or after now misses nothing.
    const std::vector<Trigger> all{Trigger::onConnect(ConnectAction::run), daily(24, 0), mondayNine, daily(9, 0)};
    const Date now = utc(2026, 6, 15, 7, 0);
    EXPECT_TRUE(missed(all, lastMonday, now));
    EXPECT_FALSE(missed(all, now, now));
    EXPECT_FALSE(missed(all, now.adding(0.001), now));
    EXPECT_FALSE(missed({}, lastMonday, now));
    // Never run, calendar times look back eight days: at every hour of a fortnight, summer time's start included.
    for (int hour = 0; hour < 14 * 24; ++hour) {
        const Date at = utc(2026, 3, 22, 0, 0).adding(hour * 3600.0);
        SCOPED_TRACE(hour);
        EXPECT_TRUE(missed({daily(9, 0)}, std::nullopt, at));
        EXPECT_TRUE(missed({weekly({4}, 9, 0)}, std::nullopt, at));
        EXPECT_TRUE(missed({weekly({1}, 2, 30)}, std::nullopt, at));
        EXPECT_FALSE(missed({every(15, IntervalUnit::minutes)}, std::nullopt, at));
    }
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

// Timers whose cancellation comes too `late`, or else that cancelling destroys as they run.
struct OddTimers final : MainExecutor {
    OddTimers(ManualExecutor& inner, bool late) : inner(inner), late(late) {}
    void post(Work work) override { inner.post(std::move(work)); }
    DelayedWork postAfter(double seconds, Work work) override {
        if (late) {
            kept.push_back(inner.postAfter(seconds, std::move(work)));
            return DelayedWork([] {});
        }
        auto slot = std::make_shared<Work>(std::move(work));
        kept.push_back(inner.postAfter(seconds, [slot] {
            if (*slot) (*slot)();
        }));
        return DelayedWork([slot] { *slot = nullptr; });
    }
    bool isCurrent() const override { return inner.isCurrent(); }
    ManualExecutor& inner;
    bool late;
    std::vector<DelayedWork> kept;
};

// Everything runs on the test's thread; the workers read the mount table the test keeps. The test is the runner: it
// takes every request and publishes finished runs.
struct SchedulerTest : ::testing::Test, RunRequesting {
    test::TemporaryFolder folder;
    const fs::path root = fs::canonical(folder.path());
    const fs::path support = root / "support";
    const fs::path stickRoot = root / "media" / "Stick", diskRoot = root / "media" / "Disk";
    ManualClock clock{start};
    ManualExecutor main{clock};
    ManualExecutor workers{clock};
    std::vector<Request> requests;
    ObserverList<RunRecord> completions;
    test::FakeSystemEvents systemEvents;
    test::FakeVolumeEvents volumeEvents;
    const ::date::time_zone* zone = &berlin();
    std::vector<SyncJob> jobs;
    std::map<Uuid, Date> lastRuns, lastSuccesses;
    std::vector<Uuid> asked, withdrawn;
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

    void enqueue(const Uuid& jobID, RunTrigger trigger, std::function<void(bool)> done) override {
        requests.push_back({jobID, trigger});
        if (done) done(true);
    }
    Subscription observeCompletions(Executor& executor, RecordCallback callback) override {
        return completions.add(executor, std::move(callback));
    }
    void finish(const Uuid& jobID, Date startedAt) {
        completions.publish(test::record(jobID, RunTrigger::schedule, RunOutcome::success(), startedAt));
        flush();
    }

    void make(MainExecutor* executor = nullptr) {
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
        MainExecutor& onMain = executor ? *executor : main;
        scheduler = std::make_unique<AutomationScheduler>(*this, systemEvents, volumeEvents, onMain, workers, clock, s,
                                                          AutomationScheduler::defaultSettleDelay);
    }
    template <typename Map, typename Key>
    static std::optional<Date> find(const Map& map, const Key& id) {
        const auto found = map.find(id);
        return found == map.end() ? std::nullopt : std::optional(found->second);
    }

    void startScheduler(MainExecutor* executor = nullptr) {
        make(executor);
        scheduler->start();
        flush();
    }

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
    // As over a sleep: the monotonic clock stands still.
    void jumpWallClock(double seconds) { clock.set(clock.now().adding(seconds)); }
    void jumpAndTell(double seconds, SystemEvent event) {
        jumpWallClock(seconds);
        systemEvents.send(event);
        flush();
    }

    SyncJob& add(std::vector<Trigger> triggers) {
        SyncJob job = SyncJob::newJob("job");
        job.source = endpoint(root / "home" / "Pictures", home, "Pictures");
        job.destination = endpoint(stickRoot / "Photos", stick, "Photos");
        job.triggers = std::move(triggers);
        return jobs.emplace_back(std::move(job));
    }
    static Endpoint endpoint(const fs::path& path, const VolumeIdentity& volume, std::string relative) {
        return {.path = path.native(), .bookmark = {}, .volume = volume, .relativePath = std::move(relative),
                .fileID = {}};
    }
    void changed(const SyncJob& job) {
        for (SyncJob& listed : jobs)
            if (listed.id == job.id) listed = job;
        scheduler->jobsChanged();
        flush();
    }

    void mount(const fs::path& at, const VolumeIdentity& identity, bool settle = true) {
        mounted.push_back({at, identity});
        volumeEvents.send(VolumeEvent::mounted(at));
        if (settle) flush();
    }
    void unmount(const fs::path& at) {
        std::erase_if(mounted, [&](const MountedVolume& v) { return v.root == at; });
        volumeEvents.send(VolumeEvent::unmounted(at));
        flush();
    }
};

const Trigger onConnect = Trigger::onConnect(ConnectAction::run);
const Trigger onConnectAsk = Trigger::onConnect(ConnectAction::ask);
using Requests = std::vector<Request>;

TEST_F(SchedulerTest, NoTimerBeforeStartNorWithoutAUsableTimedTriggerOnAnEnabledJob) {
    const Uuid connectOnly = add({onConnect}).id;
    const Uuid badTimes = add({daily(24, 0), daily(10, 60), every(10, IntervalUnit::minutes)}).id;
    const Uuid disabledID = add({hourly()}).id;
    jobs.back().isEnabled = false;
    make();
    changed(jobs[0]);
    EXPECT_EQ(jobReads, 0u);
    for (std::size_t expected : {0u, 1u}) {
        EXPECT_EQ(systemEvents.observerCount() + volumeEvents.observerCount() + completions.size(), 3 * expected);
        scheduler->start();
        flush();
    }
    for (const Uuid& id : {connectOnly, badTimes, disabledID}) EXPECT_EQ(scheduler->pendingFire(id), std::nullopt);
    EXPECT_EQ(main.delayedCount(), 0u);
    SyncJob job = jobs[1];
    job.triggers.push_back(hourly());
    changed(job);
    EXPECT_EQ(scheduler->pendingFire(job.id), start.adding(hour));
    EXPECT_EQ(main.delayedCount(), 1u);
    job.isEnabled = false;
    changed(job);
    EXPECT_EQ(scheduler->pendingFire(job.id), std::nullopt);
    EXPECT_EQ(main.delayedCount(), 0u);
    scheduler.reset();
    EXPECT_EQ(systemEvents.observerCount() + volumeEvents.observerCount() + completions.size(), 0u);
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
    EXPECT_TRUE(requests.empty());
    jumpAndTell(0, SystemEvent::clockChanged);
    EXPECT_EQ(notices, 1);
    advance(1);
    EXPECT_EQ(requests, (Requests{{id, RunTrigger::schedule}}));
    EXPECT_EQ(scheduler->pendingFire(id), start.adding(2 * hour));
    EXPECT_EQ(notices, 2);
    // The run started late; the next counts from its start, known before the recomputation it causes.
    advance(10 * minute);
    finish(id, start.adding(hour + 10 * minute));
    EXPECT_EQ(scheduler->pendingFire(id), start.adding(2 * hour + 10 * minute));
    EXPECT_EQ(notices, 3);
    advance(hour);
    EXPECT_EQ(requests.size(), 2u);
}

TEST_F(SchedulerTest, OnlyTheNewestComputationsTimerActsAndAConnectTaskThatEndsItsOwnHandleStillRuns) {
    for (const int timers : {0, 1, 2}) {  // the manual executor's, late ones, ones destroyed as they run
        SCOPED_TRACE(timers);
        OddTimers odd(main, timers == 1);
        jobs.clear();
        requests.clear();
        SyncJob job = add({hourly()});
        const Uuid connects = add({onConnect}).id;
        startScheduler(timers ? &odd : nullptr);
        mount(stickRoot, stick);
        advance(30 * minute);
        EXPECT_EQ(requests, (Requests{{connects, RunTrigger::connect}}));
        job.triggers = {hourly(2)};
        changed(job);
        EXPECT_EQ(scheduler->pendingFire(job.id), clock.now().adding(90 * minute));
        const std::size_t reads = jobReads;
        advance(45 * minute);
        EXPECT_EQ(jobReads, reads);
        advance(45 * minute);
        EXPECT_EQ(requests, (Requests{{connects, RunTrigger::connect}, {job.id, RunTrigger::schedule}}));
        unmount(stickRoot);
        scheduler.reset();
    }
}

// A due date is dropped where the triggers changed (saved, the scheduler not yet told) or a run started since.
TEST_F(SchedulerTest, DueRunsAreRequestedInDateOrderAfterTheWallClockJumpsUnlessTheTriggersChangedOrARunStartedSince) {
    // Run a minute before start, so nothing counts as missed at start.
    const Uuid nine = add({daily(9, 0)}).id, ten = add({daily(10, 0)}).id;
    const Uuid edited = add({daily(8, 30)}).id, ranManually = add({daily(8, 30)}).id;
    const Uuid ranByRunner = add({daily(8, 30)}).id, untouched = add({daily(8, 30)}).id;
    for (const SyncJob& job : jobs) lastRuns[job.id] = start.adding(-minute);
    startScheduler();
    EXPECT_EQ(scheduler->pendingFire(untouched), utc(2026, 6, 10, 6, 30));
    EXPECT_EQ(main.nextDue(), clock.monotonicSeconds() + 30 * minute);
    jobs[2].triggers = {daily(8, 45)};
    jumpWallClock(40 * minute);  // 08:40
    lastRuns[ranManually] = utc(2026, 6, 10, 6, 35);
    finish(ranByRunner, utc(2026, 6, 10, 6, 30));  // at the due date itself
    EXPECT_EQ(requests, (Requests{{untouched, RunTrigger::schedule}}));
    EXPECT_EQ(scheduler->pendingFire(edited), utc(2026, 6, 10, 6, 45));
    EXPECT_EQ(scheduler->pendingFire(ranManually), utc(2026, 6, 11, 6, 30));
    jumpAndTell(hour + 5 * minute, SystemEvent::clockChanged);  // 09:45
    EXPECT_EQ(requests, (Requests{{untouched, RunTrigger::schedule}, {edited, RunTrigger::schedule},
                                  {nine, RunTrigger::schedule}}));
    // The dates move on; the timer follows the wall clock's new reading.
    EXPECT_EQ(scheduler->pendingFire(nine), utc(2026, 6, 11, 7, 0));
    EXPECT_EQ(scheduler->pendingFire(ten), utc(2026, 6, 10, 8, 0));
    EXPECT_EQ(main.nextDue(), clock.monotonicSeconds() + 15 * minute);
}

TEST_F(SchedulerTest, ClockAndZoneChangesRecomputeAndOnlyAWakeCatchesUp) {
    const Uuid id = add({daily(9, 0)}).id;
    lastRuns[id] = start.adding(-minute);
    startScheduler();
    EXPECT_EQ(scheduler->pendingFire(id), utc(2026, 6, 10, 7, 0));
    zone = &newYork();  // 09:00 there is 13:00 UTC
    jumpAndTell(0, SystemEvent::timeZoneChanged);
    EXPECT_EQ(scheduler->pendingFire(id), utc(2026, 6, 10, 13, 0));
    // Set back: the date stays, only the timer moves.
    jumpAndTell(-2 * hour, SystemEvent::clockChanged);
    EXPECT_EQ(scheduler->pendingFire(id), utc(2026, 6, 10, 13, 0));
    EXPECT_EQ(main.nextDue(), clock.monotonicSeconds() + 9 * hour);
    EXPECT_TRUE(requests.empty());
    jumpAndTell(12 * hour, SystemEvent::wokeFromSleep);  // slept through 13:00 UTC
    EXPECT_EQ(requests, (Requests{{id, RunTrigger::catchUp}}));
    EXPECT_EQ(scheduler->pendingFire(id), utc(2026, 6, 11, 13, 0));
}

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
    EXPECT_EQ(requests, (Requests{{id, RunTrigger::schedule}, {id, RunTrigger::schedule}}));
}

// A machine without a real-time clock boots a month behind; then the time service sets it right.
TEST_F(SchedulerTest, AClockThatStartsBehindRewritesNoAnchorAndRunsNothingWhenSetRight) {
    const Uuid hourlyJob = add({hourly()}).id, daily = add({every(1, IntervalUnit::days)}).id;
    const Uuid ran = add({hourly(2)}).id;
    lastRuns[ran] = start.adding(-30 * minute);
    const std::map<Uuid, Date> stored{{hourlyJob, start.adding(-10 * minute)}, {daily, start.adding(-2 * hour)}};
    IntervalAnchorStore(support).save(stored);
    jumpWallClock(-30 * 24 * hour);
    startScheduler();
    EXPECT_EQ(scheduler->pendingFire(hourlyJob), start.adding(-30 * 24 * hour + hour));
    advance(2 * hour);
    EXPECT_EQ(requests.size(), 2u);  // counted from the clock as it stood
    requests.clear();
    jumpAndTell(30 * 24 * hour - 2 * hour + 20 * minute, SystemEvent::clockChanged);  // set right: start + 20 minutes
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(scheduler->pendingFire(hourlyJob), start.adding(50 * minute));
    EXPECT_EQ(scheduler->pendingFire(daily), start.adding(22 * hour));
    EXPECT_EQ(scheduler->pendingFire(ran), start.adding(90 * minute));
    for (const Uuid& id : {hourlyJob, daily}) EXPECT_EQ(IntervalAnchorStore(support).load().at(id), stored.at(id));
    advance(30 * minute);
    EXPECT_EQ(requests, (Requests{{hourlyJob, RunTrigger::schedule}}));
}

// The stick without the disk completes the jobs from home, the disk then the one from it. A run starts after the settle
// delay, which a remount restarts and an unmount of one of the job's sides cancels.
TEST_F(SchedulerTest, AMountOfAJobsSideWithBothSidesAvailableRunsOrAsksAndAnAskIsWithdrawnWhenItsDriveGoes) {
    const Uuid homeToStick = add({onConnect}).id, asks = add({onConnectAsk}).id;
    const Uuid diskToStick = add({onConnect}).id;
    jobs.back().source = endpoint(diskRoot / "Backup", disk, "Backup");
    add({onConnect}).isEnabled = false;
    add({});  // no on-connect trigger
    startScheduler();
    mount(stickRoot, stick);
    EXPECT_EQ(main.delayedCount(), 2u);
    advance(6);
    volumeEvents.send(VolumeEvent::mounted(stickRoot));
    advance(9.9);
    EXPECT_TRUE(requests.empty() && asked.empty());
    advance(0.1);
    EXPECT_EQ(requests, (Requests{{homeToStick, RunTrigger::connect}}));
    EXPECT_EQ(asked, std::vector<Uuid>{asks});
    EXPECT_EQ(main.delayedCount(), 0u);
    mount(diskRoot, disk);
    EXPECT_EQ(main.delayedCount(), 1u);
    advance(10);
    EXPECT_EQ(requests, (Requests{{homeToStick, RunTrigger::connect}, {diskToStick, RunTrigger::connect}}));
    volumeEvents.send(VolumeEvent::mounted(stickRoot));
    advance(5);
    EXPECT_EQ(main.delayedCount(), 3u);
    unmount(diskRoot);
    EXPECT_EQ(main.delayedCount(), 2u);
    EXPECT_TRUE(withdrawn.empty());
    unmount(stickRoot);
    EXPECT_EQ(main.delayedCount(), 0u);
    EXPECT_EQ(withdrawn, std::vector<Uuid>{asks});
}

// Saved during the delay, before the model tells: the job as it is then decides. A change told of cancels every task.
TEST_F(SchedulerTest, AfterTheDelayTheJobAsItIsNowDecides) {
    const Uuid toAsk = add({onConnect}).id;
    add({onConnect});
    add({onConnect});
    startScheduler();
    mount(stickRoot, stick);
    EXPECT_EQ(main.delayedCount(), 3u);
    jobs[0].triggers = {onConnectAsk};
    jobs[1].isEnabled = false;
    jobs[2].triggers = {daily(20, 0)};
    advance(10);
    EXPECT_EQ(asked, std::vector<Uuid>{toAsk});
    EXPECT_TRUE(requests.empty());
    jobs = {};
    add({onConnect});
    add({onConnectAsk});
    SyncJob other = add({});
    unmount(stickRoot);
    mount(stickRoot, stick);
    EXPECT_EQ(main.delayedCount(), 2u);
    other.name = "renamed";
    changed(other);
    EXPECT_EQ(main.delayedCount(), 0u);
    jobs.resize(1);
    unmount(stickRoot);
    mount(stickRoot, stick, false);
    main.runPending();     // the event asks for the volumes
    workers.runPending();  // which come back
    main.runPending();     // and the job's check goes out
    jobs[0].name = "renamed again";
    flush();
    EXPECT_EQ(main.delayedCount(), 0u);
}

TEST_F(SchedulerTest, TheFirstPassCatchesUpJobsWhoseRemovableDriveAppearedSinceTheirLastSuccess) {
    mounted.push_back({stickRoot, stick});
    appearances[stickRoot] = start.adding(-hour);
    const Uuid appeared = add({onConnect}).id, asks = add({onConnectAsk}).id, notSince = add({onConnect}).id;
    const Uuid neverSucceeded = add({onConnect}).id, missed = add({onConnectAsk, daily(7, 0)}).id;
    const Uuid internalID = add({onConnect}).id;
    jobs.back().destination = endpoint(root / "home" / "Copies", home, "Copies");
    for (const Uuid& id : {appeared, asks, internalID}) lastSuccesses[id] = start.adding(-2 * hour);
    lastSuccesses[notSince] = start.adding(-30 * minute);
    startScheduler();
    EXPECT_EQ(requests, (Requests{{appeared, RunTrigger::catchUp}, {neverSucceeded, RunTrigger::catchUp},
                                  {missed, RunTrigger::catchUp}}));
    EXPECT_EQ(asked, std::vector<Uuid>{asks});
    volumeEvents.send(VolumeEvent::mounted(root / "home"));
    advance(10);
    EXPECT_NE(std::ranges::find(requests, Request{internalID, RunTrigger::connect}), requests.end());
}

}  // namespace
}  // namespace kelto
