#include "SyncAutomation/ScheduleCalculator.h"

#include <date/date.h>
#include <date/tz.h>
#include <gtest/gtest.h>

#include <limits>

namespace kelto {
namespace {

using Calc = ScheduleCalculator;

// Expected instants are written in UTC, so no zone arithmetic of the code
// under test is repeated here; comments give the wall-clock reading.
Date utc(int y, unsigned mo, unsigned d, int h, int mi, double s = 0) {
    const ::date::sys_days day = ::date::year{y} / mo / d;
    return Date::fromUnix(static_cast<double>(day.time_since_epoch() / std::chrono::seconds{1}) + h * 3600.0 +
                          mi * 60.0 + s);
}

const ::date::time_zone& berlin() { return *::date::locate_zone("Europe/Berlin"); }
const ::date::time_zone& newYork() { return *::date::locate_zone("America/New_York"); }
const ::date::time_zone& lordHowe() { return *::date::locate_zone("Australia/Lord_Howe"); }

Trigger daily(std::int64_t h, std::int64_t m) { return Trigger::daily({h, m}); }
Trigger weekly(std::set<std::int64_t> days, std::int64_t h, std::int64_t m) {
    return Trigger::weekly(std::move(days), {h, m});
}
Trigger every(std::int64_t n, IntervalUnit unit) { return Trigger::every(n, unit); }

TEST(ScheduleCalculator, IntervalsFollowTheAnchorsRhythmInFixedSecondsAndInstantsOutsideTheCalendarGiveNothing) {
    const Trigger quarter = every(15, IntervalUnit::minutes);
    const Date ten = utc(2026, 6, 10, 10, 0);
    EXPECT_EQ(Calc::nextFire(quarter, ten, ten, berlin()), utc(2026, 6, 10, 10, 15));
    EXPECT_EQ(Calc::nextFire(quarter, utc(2026, 6, 10, 10, 14, 59.75), ten, berlin()), utc(2026, 6, 10, 10, 15));
    EXPECT_EQ(Calc::nextFire(quarter, utc(2026, 6, 10, 10, 15), ten, berlin()), utc(2026, 6, 10, 10, 30));
    EXPECT_EQ(Calc::nextFire(quarter, utc(2026, 6, 10, 11, 7), ten, berlin()), utc(2026, 6, 10, 11, 15));
    // An anchor still to come gives one interval past it; none, one from now.
    EXPECT_EQ(Calc::nextFire(quarter, ten, utc(2026, 6, 10, 12, 0), berlin()), utc(2026, 6, 10, 12, 15));
    EXPECT_EQ(Calc::nextFire(quarter, utc(2026, 6, 10, 10, 3, 0.5), std::nullopt, berlin()),
              utc(2026, 6, 10, 10, 18, 0.5));
    // Two days from 09:00 the day before Berlin's summer time: 10:00 on the
    // wall clock, no correction for the lost hour.
    const Date anchor = utc(2026, 3, 28, 8, 0);
    EXPECT_EQ(Calc::nextFire(every(2, IntervalUnit::days), anchor.adding(3600), anchor, berlin()),
              utc(2026, 3, 30, 8, 0));
    EXPECT_EQ(Calc::nextFire(every(3, IntervalUnit::hours), utc(2026, 3, 28, 20, 0), anchor, berlin()),
              utc(2026, 3, 28, 23, 0));
    EXPECT_EQ(Calc::nextFire(every(365, IntervalUnit::days), anchor, anchor, berlin()), anchor.adding(31'536'000));
    // What the interval rule rejects never fires and is never missed.
    for (const Trigger& t : {every(5, IntervalUnit::minutes), every(0, IntervalUnit::hours),
                             every(-1, IntervalUnit::days), every(8761, IntervalUnit::hours)}) {
        EXPECT_EQ(Calc::nextFire(t, ten, anchor, berlin()), std::nullopt);
        EXPECT_FALSE(Calc::missedOccurrence({t}, anchor, ten, berlin()));
    }
    // Instants outside the calendar give nothing.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Calc::nextFire(daily(9, 0), Date{inf}, std::nullopt, berlin()), std::nullopt);
    EXPECT_EQ(Calc::nextFire(every(1, IntervalUnit::hours), Date{0}, Date{nan}, berlin()), std::nullopt);
    EXPECT_FALSE(Calc::missedOccurrence({daily(9, 0)}, std::nullopt, Date{inf}, berlin()));
    EXPECT_EQ(Calc::earliest({}), std::nullopt);
    EXPECT_EQ(Calc::earliest({Date{5}, Date{-2.5}, Date{3}, Date{-2.5}}), Date{-2.5});
}

TEST(ScheduleCalculator, DailyTimesAreTheNextShowingStrictlyAfterNow) {
    const Trigger eight = daily(8, 0);  // 06:00 UTC in a Berlin summer
    EXPECT_EQ(Calc::nextFire(eight, utc(2026, 6, 10, 5, 59, 59.5), std::nullopt, berlin()), utc(2026, 6, 10, 6, 0));
    EXPECT_EQ(Calc::nextFire(eight, utc(2026, 6, 10, 6, 0), utc(2020, 1, 1, 0, 0), berlin()),
              utc(2026, 6, 11, 6, 0));
    // The day is the zone's: 22:15 UTC is already tomorrow in Berlin.
    EXPECT_EQ(Calc::nextFire(daily(0, 30), utc(2026, 6, 10, 22, 15), std::nullopt, berlin()),
              utc(2026, 6, 10, 22, 30));
    EXPECT_EQ(Calc::nextFire(daily(23, 59), utc(2026, 12, 31, 22, 59), std::nullopt, berlin()),
              utc(2027, 1, 1, 22, 59));
    const Date now = utc(2026, 6, 10, 10, 0);
    for (const Trigger& t : {daily(24, 0), daily(10, 60), daily(-1, 30), daily(5, -1), weekly({4}, 9, 60),
                             weekly({0, 8}, 9, 0), weekly({}, 9, 0), Trigger::onConnect(ConnectAction::run)}) {
        EXPECT_EQ(Calc::nextFire(t, now, std::nullopt, berlin()), std::nullopt);
        EXPECT_FALSE(Calc::missedOccurrence({t}, std::nullopt, now, berlin()));
        EXPECT_FALSE(Calc::missedOccurrence({t}, utc(2026, 1, 1, 0, 0), now, berlin()));
    }
}

TEST(ScheduleCalculator, SkippedTimesMoveForwardAndRepeatedOnesCountOnce) {
    struct Case {
        const ::date::time_zone& zone;
        Trigger trigger;
        Date after;
        Date expected;
    };
    const Case cases[] = {
        // Berlin: 02:00 to 03:00 on 29 March, 03:00 back to 02:00 on 25 October.
        {berlin(), daily(2, 30), utc(2026, 3, 28, 12, 0), utc(2026, 3, 29, 1, 30)},   // 03:30
        {berlin(), daily(2, 0), utc(2026, 3, 28, 12, 0), utc(2026, 3, 29, 1, 0)},     // 03:00
        {berlin(), daily(2, 30), utc(2026, 3, 29, 1, 30), utc(2026, 3, 30, 0, 30)},   // 02:30 again
        {berlin(), daily(2, 30), utc(2026, 10, 24, 12, 0), utc(2026, 10, 25, 0, 30)}, // first 02:30
        {berlin(), daily(2, 30), utc(2026, 10, 25, 0, 30), utc(2026, 10, 26, 1, 30)}, // not the second
        {berlin(), daily(2, 30), utc(2026, 10, 25, 1, 0), utc(2026, 10, 26, 1, 30)},
        // New York: 02:00 to 03:00 on 8 March, 02:00 back to 01:00 on 1 November.
        {newYork(), daily(2, 15), utc(2026, 3, 7, 12, 0), utc(2026, 3, 8, 7, 15)},    // 03:15
        {newYork(), daily(1, 30), utc(2026, 10, 31, 12, 0), utc(2026, 11, 1, 5, 30)}, // first 01:30
        {newYork(), daily(1, 30), utc(2026, 11, 1, 5, 30), utc(2026, 11, 2, 6, 30)},
        // Lord Howe moves half an hour: 02:00 to 02:30 on 4 October, 02:00
        // back to 01:30 on 5 April. The hour moves, the minute stays.
        {lordHowe(), daily(2, 15), utc(2026, 10, 3, 0, 0), utc(2026, 10, 3, 16, 15)}, // 03:15 at +11
        {lordHowe(), daily(2, 0), utc(2026, 10, 3, 0, 0), utc(2026, 10, 3, 16, 0)},   // 03:00
        {lordHowe(), daily(2, 45), utc(2026, 10, 3, 0, 0), utc(2026, 10, 3, 15, 45)}, // exists
        {lordHowe(), daily(1, 45), utc(2026, 4, 4, 0, 0), utc(2026, 4, 4, 14, 45)},   // first, at +11
        {lordHowe(), daily(1, 45), utc(2026, 4, 4, 14, 50), utc(2026, 4, 5, 15, 15)}, // next night
        {lordHowe(), daily(1, 15), utc(2026, 4, 4, 0, 0), utc(2026, 4, 4, 14, 15)},   // not repeated
        // Weekly times alike: Sundays at 02:30 in Berlin.
        {berlin(), weekly({1}, 2, 30), utc(2026, 3, 25, 0, 0), utc(2026, 3, 29, 1, 30)},
        {berlin(), weekly({1}, 2, 30), utc(2026, 10, 25, 0, 30), utc(2026, 11, 1, 1, 30)},
        {lordHowe(), weekly({1}, 2, 15), utc(2026, 9, 30, 0, 0), utc(2026, 10, 3, 16, 15)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone.name() + " after " + std::to_string(c.after.unix()));
        EXPECT_EQ(Calc::nextFire(c.trigger, c.after, std::nullopt, c.zone), c.expected);
    }
}

TEST(ScheduleCalculator, WeeklyTimesTakeTheEarliestListedWeekdayAndAnOccurrenceIsMissedAfterTheLastStartAndByNow) {
    const Date wednesday10 = utc(2026, 6, 10, 8, 0);  // Wednesday 10:00 in Berlin
    auto next = [](const Trigger& t, Date after) { return Calc::nextFire(t, after, std::nullopt, berlin()); };
    EXPECT_EQ(next(weekly({2, 6}, 9, 0), wednesday10), utc(2026, 6, 12, 7, 0));           // Friday
    EXPECT_EQ(next(weekly({2, 3}, 9, 0), wednesday10), utc(2026, 6, 15, 7, 0));           // Monday
    EXPECT_EQ(next(weekly({1}, 9, 0), wednesday10), utc(2026, 6, 14, 7, 0));              // Sunday
    EXPECT_EQ(next(weekly({7}, 9, 0), wednesday10), utc(2026, 6, 13, 7, 0));              // Saturday
    EXPECT_EQ(next(weekly({0, 5, 9, -3}, 9, 0), wednesday10), utc(2026, 6, 11, 7, 0));    // Thursday
    EXPECT_EQ(next(weekly({4}, 9, 0), utc(2026, 6, 10, 6, 59)), utc(2026, 6, 10, 7, 0));  // today
    EXPECT_EQ(next(weekly({4}, 9, 0), utc(2026, 6, 10, 7, 0)), utc(2026, 6, 17, 7, 0));   // a week on
    // Tuesday 23:30 UTC is Wednesday in Berlin.
    EXPECT_EQ(next(weekly({4}, 1, 45), utc(2026, 6, 9, 23, 30)), utc(2026, 6, 9, 23, 45));
    // Missed when an occurrence fell after the last start and by now.
    const Date yesterdayNine = utc(2026, 6, 9, 7, 0);  // Berlin
    EXPECT_TRUE(Calc::missedOccurrence({daily(9, 0)}, yesterdayNine.adding(5), utc(2026, 6, 10, 7, 0), berlin()));
    EXPECT_FALSE(Calc::missedOccurrence({daily(9, 0)}, yesterdayNine.adding(5), utc(2026, 6, 10, 6, 59, 59),
                                        berlin()));
    EXPECT_FALSE(Calc::missedOccurrence({daily(9, 0)}, yesterdayNine, utc(2026, 6, 10, 6, 59, 59), berlin()));
    const std::vector<Trigger> hourly{every(1, IntervalUnit::hours)};
    EXPECT_FALSE(Calc::missedOccurrence(hourly, std::nullopt, utc(2026, 6, 10, 11, 0), berlin()));
    EXPECT_TRUE(Calc::missedOccurrence(hourly, utc(2026, 6, 10, 10, 0), utc(2026, 6, 10, 11, 0), berlin()));
    EXPECT_FALSE(Calc::missedOccurrence(hourly, utc(2026, 6, 10, 10, 0), utc(2026, 6, 10, 10, 59), berlin()));
    const Trigger mondayNine = weekly({2}, 9, 0);
    const Date lastMonday = utc(2026, 6, 8, 8, 0);
    EXPECT_FALSE(Calc::missedOccurrence({mondayNine}, lastMonday, utc(2026, 6, 15, 6, 59), berlin()));
    EXPECT_TRUE(Calc::missedOccurrence({mondayNine}, lastMonday, utc(2026, 6, 15, 7, 0), berlin()));
    // A repeated time is due at its first showing, and only then.
    EXPECT_TRUE(Calc::missedOccurrence({daily(2, 30)}, utc(2026, 10, 24, 12, 0), utc(2026, 10, 25, 0, 30), berlin()));
    EXPECT_FALSE(Calc::missedOccurrence({daily(2, 30)}, utc(2026, 10, 25, 0, 30), utc(2026, 10, 25, 1, 30), berlin()));
    // Any trigger of the list will do; a last start at or after now misses nothing.
    const std::vector<Trigger> all{Trigger::onConnect(ConnectAction::run), daily(24, 0), mondayNine, daily(9, 0)};
    const Date now = utc(2026, 6, 15, 7, 0);
    EXPECT_TRUE(Calc::missedOccurrence(all, lastMonday, now, berlin()));
    EXPECT_FALSE(Calc::missedOccurrence(all, now, now, berlin()));
    EXPECT_FALSE(Calc::missedOccurrence(all, now.adding(0.001), now, berlin()));
    EXPECT_FALSE(Calc::missedOccurrence({}, lastMonday, now, berlin()));
    // Never run, calendar times look back eight days: at every hour of a fortnight, summer time's start included.
    for (int hour = 0; hour < 14 * 24; ++hour) {
        const Date at = utc(2026, 3, 22, 0, 0).adding(hour * 3600.0);
        SCOPED_TRACE(hour);
        EXPECT_TRUE(Calc::missedOccurrence({daily(9, 0)}, std::nullopt, at, berlin()));
        EXPECT_TRUE(Calc::missedOccurrence({weekly({4}, 9, 0)}, std::nullopt, at, berlin()));
        EXPECT_TRUE(Calc::missedOccurrence({weekly({1}, 2, 30)}, std::nullopt, at, berlin()));
        EXPECT_FALSE(Calc::missedOccurrence({every(15, IntervalUnit::minutes)}, std::nullopt, at, berlin()));
    }
}

}  // namespace
}  // namespace kelto
