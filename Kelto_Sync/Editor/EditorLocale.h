#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

#include <cstdint>
#include <optional>
#include <set>

namespace kelto {

// The editor's locale rules. Jobs number weekdays 1 = Sunday … 7 = Saturday;
// Qt counts from Monday, so every name goes through here.
struct EditorLocale {
    // NarrowFormat "S", ShortFormat "Sun", LongFormat "Sunday"; empty outside 1…7.
    static QString weekdayName(std::int64_t day, QLocale::FormatType format, const QLocale& locale);
    // Short names in number order (not selection order), days outside 1…7 left out.
    static QString dayList(const std::set<std::int64_t>& days, const QLocale& locale);
    // The time of a trigger; the current time when hour and minute form none.
    static QTime time(std::int64_t hour, std::int64_t minute);
    // "6:30 PM" in en_US.
    static QString shortTime(std::int64_t hour, std::int64_t minute, const QLocale& locale);
    // The pattern of a time field: hour and minute, "h:mm AP" in en_US.
    static QString timeFormat(const QLocale& locale);
    // A whole number as the locale writes it ("1,000", "1.000"); none when
    // the text is not one or leaves 64 bits.
    static std::optional<std::int64_t> parseInteger(const QString& text, const QLocale& locale);
    static QString integer(std::int64_t value, const QLocale& locale);
};

}  // namespace kelto
