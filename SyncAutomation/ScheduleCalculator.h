#pragma once

#include "SyncModel/Support/Date.h"
#include "SyncModel/Trigger.h"

#include <optional>
#include <vector>

namespace date {
class time_zone;
}

namespace kelto {

// The date arithmetic of automatic runs. Pure: the caller passes the current
// time and the zone whose wall clock daily and weekly triggers follow (the
// user's zone, read afresh at each use). Interval triggers ignore the
// calendar: a day of an interval is always 86,400 seconds.
//
// A daily or weekly time is usable when the hour is 0 to 23 and the minute
// 0 to 59; weekdays run 1 (Sunday) to 7 (Saturday), others are ignored; an
// interval is usable when Trigger::intervalIssue finds nothing. A trigger
// that is not usable never fires and is never missed.
struct ScheduleCalculator {
    // When the trigger fires next after `after`: for an interval, the first
    // point of the rhythm anchor, anchor + interval, … strictly after `after`
    // (at least one interval past the anchor; without an anchor, `after` plus
    // one interval); for a daily or weekly time, the next instant strictly
    // after `after` that the wall clock shows it. A time skipped by a
    // daylight-saving change moves forward by whole hours to the first
    // reading that exists; a time shown twice counts at its first showing.
    // Nothing for on-connect triggers and unusable ones.
    static std::optional<Date> nextFire(const Trigger& trigger, Date after, std::optional<Date> anchor,
                                        const ::date::time_zone& zone);

    // Whether any trigger had an occurrence after `lastStart` and at or before
    // `now`. Without a last start, intervals are never missed and daily and
    // weekly times look back 8 calendar days; a last start at or after `now`
    // means nothing was missed.
    static bool missedOccurrence(const std::vector<Trigger>& triggers, std::optional<Date> lastStart, Date now,
                                 const ::date::time_zone& zone);

    // The smallest instant; the first of equal ones.
    static std::optional<Date> earliest(const std::vector<Date>& dates);
};

}  // namespace kelto
