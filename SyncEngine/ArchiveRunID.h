#pragma once

#include "SyncModel/Support/Date.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace date {
class time_zone;
}

namespace kelto {

// A run identifier: the local date and time "yyyy-MM-dd_HHmmss", "-", and the
// first eight lower-case hex digits of a fresh UUID; 26 ASCII bytes. It names
// the run's archive folder and its log file.
//
// Every function takes the time zone to read local time in; without one it
// uses the system's zone as it is at the moment of the call.
struct ArchiveRunID {
    static constexpr std::size_t length = 26;

    static std::string make(Date at);
    static std::string make(Date at, const ::date::time_zone& zone);

    // The instant a well-formed identifier stands for, in whole seconds.
    // Refuses local times the calendar does not have (30 February, a time
    // skipped by a daylight-saving change) and any spelling that does not
    // survive formatting again.
    static std::optional<Date> date(std::string_view text);
    static std::optional<Date> date(std::string_view text, const ::date::time_zone& zone);

    // TZ when it names a known zone, else the system's zone, else UTC. Throws
    // only when no time-zone data is installed at all.
    static const ::date::time_zone& currentZone();

    // The zone given, or the current one when none is.
    static const ::date::time_zone& zoneOrCurrent(const ::date::time_zone* zone) {
        return zone ? *zone : currentZone();
    }
};

}  // namespace kelto
