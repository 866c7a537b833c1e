#include "SyncModel/Trigger.h"

namespace kelto {

namespace IntervalUnits {
std::int64_t length(IntervalUnit unit) {
    switch (unit) {
        case IntervalUnit::minutes: return 60;
        case IntervalUnit::hours: return 3600;
        case IntervalUnit::days: return 86400;
    }
    return 0;
}

std::int64_t minimumCount(IntervalUnit unit) { return unit == IntervalUnit::minutes ? 15 : 1; }
}  // namespace IntervalUnits

std::optional<ValidationIssue> Trigger::intervalIssue(std::int64_t value, IntervalUnit unit) {
    if (value < IntervalUnits::minimumCount(unit)) return ValidationIssue::intervalBelowMinimum;
    // In floating point, so a huge count cannot overflow.
    const double seconds = static_cast<double>(value) * static_cast<double>(IntervalUnits::length(unit));
    if (seconds > 31'536'000.0) return ValidationIssue::intervalTooLong;
    return std::nullopt;
}

Json JsonCodec<TimeOfDay>::encode(const TimeOfDay& value) {
    Json out = Json::object();
    out["hour"] = value.hour;
    out["minute"] = value.minute;
    return out;
}

TimeOfDay JsonCodec<TimeOfDay>::decode(const JsonIn& in) {
    return TimeOfDay{in["hour"].int64(), in["minute"].int64()};
}

Json JsonCodec<Trigger>::encode(const Trigger& trigger) {
    Json out = Json::object();
    out["type"] = encodeEnum(trigger.kind());
    std::visit(
        [&](const auto& c) {
            using Case = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<Case, Trigger::OnConnect>) {
                out["action"] = encodeEnum(c.action);
            } else if constexpr (std::is_same_v<Case, Trigger::Every>) {
                out["value"] = c.value;
                out["unit"] = encodeEnum(c.unit);
            } else if constexpr (std::is_same_v<Case, Trigger::Daily>) {
                out["at"] = JsonCodec<TimeOfDay>::encode(c.at);
            } else {
                Json days = Json::array();
                for (std::int64_t day : c.weekdays) days.push_back(day);  // std::set: ascending
                out["weekdays"] = std::move(days);
                out["at"] = JsonCodec<TimeOfDay>::encode(c.at);
            }
        },
        trigger.value);
    return out;
}

Trigger JsonCodec<Trigger>::decode(const JsonIn& in) {
    switch (in["type"].enumeration<Trigger::Kind>()) {
        case Trigger::Kind::onConnect:
            return Trigger::onConnect(in["action"].enumeration<ConnectAction>());
        case Trigger::Kind::every:
            if (in.contains("value") || in.contains("unit"))
                return Trigger::every(in["value"].int64(), in["unit"].enumeration<IntervalUnit>());
            // Older files stored a bare minute count.
            return Trigger::every(in["minutes"].int64(), IntervalUnit::minutes);
        case Trigger::Kind::daily:
            return Trigger::daily(in["at"].as<TimeOfDay>());
        case Trigger::Kind::weekly: {
            std::set<std::int64_t> days;
            for (const JsonIn& day : in["weekdays"].array()) days.insert(day.int64());
            return Trigger::weekly(std::move(days), in["at"].as<TimeOfDay>());
        }
    }
    in.fail(DecodingError::Kind::dataCorrupted, "Unknown trigger type.");
}

}  // namespace kelto
