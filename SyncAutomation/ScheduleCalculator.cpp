#include "SyncAutomation/ScheduleCalculator.h"

#include <date/tz.h>

#include <cmath>

namespace kelto {

namespace {

using namespace std::chrono;
using ::date::local_days;
using ::date::local_info;
using ::date::local_seconds;
using ::date::sys_seconds;

// Some 3,000 years either side of 1970: far beyond any schedule, well inside
// what the calendar arithmetic handles.
constexpr double calendarLimit = 1e11;

// Days searched forward for a wall-clock time: a week and more, for a zone
// that skips a whole day.
constexpr int searchDays = 16;

bool withinCalendar(Date date) {
    const double unix = date.unix();
    return std::isfinite(unix) && std::fabs(unix) <= calendarLimit;
}

double unixOf(sys_seconds instant) { return static_cast<double>(instant.time_since_epoch().count()); }

std::optional<double> intervalSeconds(const Trigger::Every& every) {
    if (Trigger::intervalIssue(every.value, every.unit)) return std::nullopt;
    return static_cast<double>(every.value) * static_cast<double>(IntervalUnits::length(every.unit));
}

bool usable(const TimeOfDay& at) { return at.hour >= 0 && at.hour <= 23 && at.minute >= 0 && at.minute <= 59; }

// The instant a wall-clock reading stands for. A reading shown twice is its
// first showing; one skipped by a change becomes the first reading after the
// gap with the same minute, the hour moving forward.
sys_seconds instantOf(local_seconds local, const ::date::time_zone& zone) {
    const local_info info = zone.get_info(local);
    if (info.result != local_info::nonexistent) return sys_seconds{local.time_since_epoch() - info.first.offset};
    const local_seconds gapEnd{info.second.begin.time_since_epoch() + info.second.offset};
    local_seconds moved = floor<hours>(gapEnd) + (floor<minutes>(local) - floor<hours>(local));
    if (moved < gapEnd) moved += hours{1};
    return sys_seconds{moved.time_since_epoch() - info.second.offset};
}

// The first instant strictly after `base` at which the wall clock shows
// `at` with second 0, on `weekday` when one is given.
std::optional<Date> nextWallTime(Date base, TimeOfDay at, std::optional<::date::weekday> weekday,
                                 const ::date::time_zone& zone) {
    if (!withinCalendar(base)) return std::nullopt;
    const double unix = base.unix();
    const sys_seconds whole{seconds{static_cast<std::int64_t>(std::floor(unix))}};
    const local_days first = floor<::date::days>(zone.to_local(whole));
    for (int i = 0; i < searchDays; ++i) {
        const local_days day = first + ::date::days{i};
        if (weekday && ::date::weekday{day} != *weekday) continue;
        const sys_seconds instant = instantOf(day + hours{at.hour} + minutes{at.minute}, zone);
        if (unixOf(instant) > unix) return Date::fromUnix(unixOf(instant));
    }
    return std::nullopt;
}

// For a daily or weekly trigger, the next showing of its time after `base`;
// nothing for the other cases and for unusable times or weekday sets.
std::optional<Date> nextCalendarFire(const Trigger& trigger, Date base, const ::date::time_zone& zone) {
    if (const auto* daily = trigger.as<Trigger::Daily>()) {
        if (!usable(daily->at)) return std::nullopt;
        return nextWallTime(base, daily->at, std::nullopt, zone);
    }
    if (const auto* weekly = trigger.as<Trigger::Weekly>()) {
        if (!usable(weekly->at)) return std::nullopt;
        std::vector<Date> candidates;
        for (const std::int64_t number : weekly->weekdays) {
            if (number < 1 || number > 7) continue;
            const ::date::weekday weekday{static_cast<unsigned>(number - 1)};  // 0 is Sunday here
            if (const auto next = nextWallTime(base, weekly->at, weekday, zone)) candidates.push_back(*next);
        }
        return ScheduleCalculator::earliest(candidates);
    }
    return std::nullopt;
}

// `now` moved back by whole calendar days, keeping its wall-clock reading; a
// reading skipped by a change moves forward by the gap, as clocks do.
std::optional<Date> daysBefore(Date now, int count, const ::date::time_zone& zone) {
    if (!withinCalendar(now)) return std::nullopt;
    const double unix = now.unix();
    const double whole = std::floor(unix);
    const sys_seconds instant{seconds{static_cast<std::int64_t>(whole)}};
    const local_seconds local = zone.to_local(instant) - ::date::days{count};
    const local_info info = zone.get_info(local);
    const sys_seconds moved{local.time_since_epoch() - info.first.offset};
    return Date::fromUnix(unixOf(moved) + (unix - whole));
}

constexpr int lookBackDays = 8;  // every weekday once, whatever the time of day

}  // namespace

std::optional<Date> ScheduleCalculator::nextFire(const Trigger& trigger, Date after, std::optional<Date> anchor,
                                                 const ::date::time_zone& zone) {
    if (const auto* every = trigger.as<Trigger::Every>()) {
        const std::optional<double> interval = intervalSeconds(*every);
        if (!interval) return std::nullopt;
        const Date base = anchor.value_or(after);
        if (!std::isfinite(base.sinceReference) || !std::isfinite(after.sinceReference)) return std::nullopt;
        const double k = std::max(1.0, std::floor(after.secondsSince(base) / *interval) + 1);
        return base.adding(k * *interval);
    }
    return nextCalendarFire(trigger, after, zone);
}

bool ScheduleCalculator::missedOccurrence(const std::vector<Trigger>& triggers, std::optional<Date> lastStart,
                                          Date now, const ::date::time_zone& zone) {
    if (lastStart && !(*lastStart < now)) return false;
    for (const Trigger& trigger : triggers) {
        if (const auto* every = trigger.as<Trigger::Every>()) {
            const std::optional<double> interval = intervalSeconds(*every);
            if (interval && lastStart && lastStart->adding(*interval) <= now) return true;
            continue;
        }
        if (trigger.kind() == Trigger::Kind::onConnect) continue;
        const std::optional<Date> base = lastStart ? lastStart : daysBefore(now, lookBackDays, zone);
        if (!base) continue;
        const std::optional<Date> candidate = nextCalendarFire(trigger, *base, zone);
        if (candidate && *candidate <= now) return true;
    }
    return false;
}

std::optional<Date> ScheduleCalculator::earliest(const std::vector<Date>& dates) {
    std::optional<Date> smallest;
    for (const Date& date : dates)
        if (!smallest || date < *smallest) smallest = date;
    return smallest;
}

}  // namespace kelto
