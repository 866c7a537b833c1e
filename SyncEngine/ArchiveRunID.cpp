#include "SyncEngine/ArchiveRunID.h"

#include "SyncModel/Support/Uuid.h"

#include <date/tz.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kelto {

namespace {

using namespace std::chrono;

constexpr std::size_t stampLength = 17;  // yyyy-MM-dd_HHmmss

std::string formatLocal(::date::local_seconds local) {
    const auto day = ::date::floor<::date::days>(local);
    const ::date::year_month_day ymd{day};
    const ::date::hh_mm_ss<seconds> time{local - day};
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u_%02d%02d%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buffer;
}

std::string stamp(::date::sys_seconds instant, const ::date::time_zone& zone) {
    return formatLocal(zone.to_local(instant));
}

bool digitsAt(std::string_view text, std::size_t from, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::string ArchiveRunID::make(Date at) { return make(at, currentZone()); }

std::string ArchiveRunID::make(Date at, const ::date::time_zone& zone) {
    const ::date::sys_seconds instant{seconds{static_cast<std::int64_t>(std::floor(at.unix()))}};
    return stamp(instant, zone) + "-" + Uuid::random().lowerString().substr(0, 8);
}

std::optional<Date> ArchiveRunID::date(std::string_view text) { return date(text, currentZone()); }

std::optional<Date> ArchiveRunID::date(std::string_view text, const ::date::time_zone& zone) {
    if (text.size() != length || text[stampLength] != '-') return std::nullopt;
    for (std::size_t i = stampLength + 1; i < length; ++i)
        if (!isLowerHex(text[i])) return std::nullopt;

    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digitsAt(text, 0, 4, year) || text[4] != '-' || !digitsAt(text, 5, 2, month) || text[7] != '-' ||
        !digitsAt(text, 8, 2, day) || text[10] != '_' || !digitsAt(text, 11, 2, hour) ||
        !digitsAt(text, 13, 2, minute) || !digitsAt(text, 15, 2, second))
        return std::nullopt;
    const ::date::year_month_day ymd{::date::year{year}, ::date::month{static_cast<unsigned>(month)},
                                     ::date::day{static_cast<unsigned>(day)}};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;

    const ::date::local_seconds local =
        ::date::local_days{ymd} + hours{hour} + minutes{minute} + seconds{second};
    const ::date::local_info info = zone.get_info(local);
    if (info.result == ::date::local_info::nonexistent) return std::nullopt;
    // A time that occurs twice reads as its first occurrence.
    const ::date::sys_seconds instant{local.time_since_epoch() - info.first.offset};
    if (stamp(instant, zone) != text.substr(0, stampLength)) return std::nullopt;
    return Date::fromUnix(static_cast<double>(instant.time_since_epoch().count()));
}

const ::date::time_zone& ArchiveRunID::currentZone() {
    // The date library reads only /etc/localtime; the process's TZ comes first
    // on Linux, as for every other program of the session.
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        std::string name = tz;
        if (name.front() == ':') name.erase(0, 1);
        for (const char* prefix : {"/usr/share/zoneinfo/", "/usr/lib/zoneinfo/"})
            if (name.rfind(prefix, 0) == 0) name.erase(0, std::char_traits<char>::length(prefix));
        try {
            return *::date::locate_zone(name);
        } catch (const std::exception&) {
            // A POSIX rule such as "CET-1CEST" is no zone name; use the system's.
        }
    }
    try {
        return *::date::current_zone();
    } catch (const std::exception&) {
        return *::date::locate_zone("UTC");
    }
}

}  // namespace kelto
