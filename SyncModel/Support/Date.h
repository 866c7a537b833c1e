#pragma once

#include <chrono>
#include <compare>

namespace kelto {

// An instant, as seconds (with fraction) since 2001-01-01T00:00:00Z: the form
// persisted files use, kept as the same double so it round-trips exactly.
struct Date {
    double sinceReference = 0;

    // Seconds between 1970-01-01 and 2001-01-01.
    static constexpr double referenceOffset = 978307200.0;

    static Date fromUnix(double secondsSince1970) { return Date{secondsSince1970 - referenceOffset}; }
    static Date fromSystemTime(std::chrono::system_clock::time_point t) {
        return fromUnix(std::chrono::duration<double>(t.time_since_epoch()).count());
    }
    double unix() const { return sinceReference + referenceOffset; }
    std::chrono::system_clock::time_point systemTime() const {
        return std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(unix())));
    }

    Date adding(double seconds) const { return Date{sinceReference + seconds}; }
    double secondsSince(Date other) const { return sinceReference - other.sinceReference; }

    friend auto operator<=>(const Date&, const Date&) = default;
};

}  // namespace kelto
