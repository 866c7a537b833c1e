#pragma once

#include "SyncModel/Support/Json.h"
#include "SyncModel/ValidationReport.h"

#include <cstdint>
#include <optional>
#include <set>
#include <variant>

namespace kelto {

enum class ConnectAction { run, ask };
template <>
struct EnumNames<ConnectAction> {
    static constexpr std::array<std::string_view, 2> names{"run", "ask"};
};

enum class IntervalUnit { minutes, hours, days };
template <>
struct EnumNames<IntervalUnit> {
    static constexpr std::array<std::string_view, 3> names{"minutes", "hours", "days"};
};

namespace IntervalUnits {
inline constexpr std::array<IntervalUnit, 3> allCases{IntervalUnit::minutes, IntervalUnit::hours, IntervalUnit::days};
// Seconds in one unit.
std::int64_t length(IntervalUnit unit);
// Smallest count the interval rule accepts.
std::int64_t minimumCount(IntervalUnit unit);
}  // namespace IntervalUnits

// A wall-clock time; ranges are not checked here.
struct TimeOfDay {
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

// When a job runs by itself.
struct Trigger {
    enum class Kind { onConnect, every, daily, weekly };

    struct OnConnect {
        ConnectAction action;
        friend bool operator==(const OnConnect&, const OnConnect&) = default;
    };
    struct Every {
        std::int64_t value;
        IntervalUnit unit;
        friend bool operator==(const Every&, const Every&) = default;
    };
    struct Daily {
        TimeOfDay at;
        friend bool operator==(const Daily&, const Daily&) = default;
    };
    struct Weekly {
        std::set<std::int64_t> weekdays;  // 1 is Sunday … 7 is Saturday
        TimeOfDay at;
        friend bool operator==(const Weekly&, const Weekly&) = default;
    };

    std::variant<OnConnect, Every, Daily, Weekly> value;

    static Trigger onConnect(ConnectAction action) { return Trigger{OnConnect{action}}; }
    static Trigger every(std::int64_t count, IntervalUnit unit) { return Trigger{Every{count, unit}}; }
    static Trigger daily(TimeOfDay at) { return Trigger{Daily{at}}; }
    static Trigger weekly(std::set<std::int64_t> weekdays, TimeOfDay at) {
        return Trigger{Weekly{std::move(weekdays), at}};
    }

    Kind kind() const { return static_cast<Kind>(value.index()); }
    template <class Case>
    const Case* as() const {
        return std::get_if<Case>(&value);
    }

    // The one interval rule: at least 15 minutes, 1 hour or 1 day, at most
    // 31,536,000 seconds.
    static std::optional<ValidationIssue> intervalIssue(std::int64_t value, IntervalUnit unit);

    friend bool operator==(const Trigger&, const Trigger&) = default;
};

template <>
struct EnumNames<Trigger::Kind> {
    static constexpr std::array<std::string_view, 4> names{"onConnect", "every", "daily", "weekly"};
};

template <>
struct JsonCodec<TimeOfDay> {
    static Json encode(const TimeOfDay& value);
    static TimeOfDay decode(const JsonIn& in);
};

template <>
struct JsonCodec<Trigger> {
    static Json encode(const Trigger& value);
    static Trigger decode(const JsonIn& in);
};

}  // namespace kelto
